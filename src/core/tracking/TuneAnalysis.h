#pragma once

#include "core/tracking/PhaseVector.h"

#include <vector>

namespace kestrune {

/// Fewest turns a tune is taken from.
constexpr int kFewestTuneTurns = 16;

/// The fractional tune (0 <= Q < 1) of the oscillation of a coordinate q and its conjugate momentum p
/// given turn by turn: the frequency of the largest line of the windowed spectrum of the normalised
/// complex signal, refined between the lines of the FFT. NaN for fewer than kFewestTuneTurns turns or no
/// oscillation.
double fractionalTune(const std::vector<double>& q, const std::vector<double>& p);

/// The tunes of a particle tracked turn by turn (NaN where not available).
struct TrackedTunes
{
    double x = 0;           // fractional horizontal tune
    double y = 0;           // fractional vertical tune
    double synchrotron = 0; // synchrotron tune, 0 < Qs <= 0.5; NaN without longitudinal motion
};

/// The tunes of the points of a run (one per turn): x from (x, px), y from (y, py), the synchrotron
/// tune from (delta, l) when longitudinal is set.
TrackedTunes trackedTunes(const std::vector<PhaseVector>& turns, bool longitudinal);

} // namespace kestrune
