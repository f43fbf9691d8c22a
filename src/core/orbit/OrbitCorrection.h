#pragma once

#include "core/State.h"

#include <string>
#include <vector>

namespace kestrune {

/// An orbit correction by the kickers of the line: the kicks that minimise the readings of the monitors
/// in the least-squares sense, from the pseudo-inverse of the tracked orbit response with its singular
/// values below cut times the largest (or beyond the first count) left out, iterated.
struct OrbitCorrection
{
    bool done = false;
    std::string refusal;
    std::vector<double> singularValues;                                  // of the response, largest first
    int used = 0;                                                        // singular values used
    double rmsBeforeX = 0, rmsBeforeY = 0, rmsAfterX = 0, rmsAfterY = 0; // m, at the monitors
    int iterations = 0;
};

/// Corrects the closed orbit of state's ring with its kickers: count singular values (0: all those above
/// 1e-12 of the largest), iterations passes. The kicks are written into the kickers only when every pass
/// succeeded and every kick stays inside its range; otherwise nothing changes and refusal says why.
OrbitCorrection correctOrbit(State& state, int count = 0, int iterations = 3);

} // namespace kestrune
