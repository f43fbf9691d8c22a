#pragma once

#include "core/State.h"
#include "core/aperture/DynamicAperture.h"
#include "core/aperture/MomentumAcceptance.h"

#include <string>
#include <vector>

namespace kestrune {

/// The dynamic-aperture list: the scan's settings, the area and one line per ray (angle in degrees,
/// radius, x and y in mm and in sigmas of the beam), "n/a" for what is not available.
std::vector<std::string> dynamicApertureLines(const DynamicAperture& da,
                                              const DynamicApertureSettings& settings);

/// The momentum-acceptance list: the scan's settings, the rf acceptance and one line per point (element,
/// name, s, delta+ and delta- in %).
std::vector<std::string> momentumAcceptanceLines(const BeamLine& line, const MomentumAcceptance& ma,
                                                 const MomentumAcceptanceSettings& settings);

} // namespace kestrune
