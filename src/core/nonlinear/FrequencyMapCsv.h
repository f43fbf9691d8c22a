#pragma once

#include "core/nonlinear/FrequencyMap.h"

#include <string>

namespace kestrune {

/// The points of a frequency map as CSV, one line per point (x fastest) under the header
/// "x_mm,y_mm,lost,lost_turn,qx1,qy1,qx2,qy2,diffusion" ("delta" for y in the x-delta plane, as a
/// fraction): numbers to 17 digits, lost as 1 or 0, empty fields for what a point does not have (the
/// loss of a point not computed, the tunes of a lost one). The batch tool's --fm-csv writes the same.
std::string frequencyMapCsv(const FrequencyMap& map, FrequencyMapPlane plane);

} // namespace kestrune
