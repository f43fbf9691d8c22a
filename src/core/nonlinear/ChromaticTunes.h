#pragma once

#include "core/Messages.h"
#include "core/State.h"

#include <array>
#include <optional>
#include <string>
#include <vector>

namespace kestrune {

/// The momentum deviations of a chromatic scan: points values evenly spaced over -range .. range.
struct ChromaticScan
{
    double range = 0.005; // largest |delta|
    int points = 11;      // at least 5 (4 coefficients and one degree of freedom), at most kMostScanPoints
};
constexpr int kMostScanPoints = 201;

/// The tunes of the periodic solution of the symplectic tracker's ring at each momentum deviation, and
/// the least-squares cubic through them, Q(delta) = q[0] + q[1] delta + q[2] delta^2 + q[3] delta^3.
struct ChromaticTunes
{
    std::vector<double> delta;
    std::vector<double> tuneX, tuneY; // whole ring tunes (integer part from the linear optics)
    std::array<double, 4> qx{}, qy{};
    double residual = 0; // largest |fit - tune| over the points of both planes
};

/// The scan of state.line's ring (rf off): at every delta the closed orbit by Newton's method on the
/// tracker's map of one cell, the tunes from the two 2 x 2 blocks of the map's Jacobian (central
/// differences) around it; for a ring that couples the planes the eigentunes of the Jacobian, mode 1
/// (mostly x) in tuneX and mode 2 in tuneY. Nothing, with the reason in refusal when it is given, for an
/// empty line, a line the optics refuse, a cell without a stable periodic solution, a scan out of range,
/// or a delta without a closed orbit or with unstable or inseparable motion.
std::optional<ChromaticTunes> chromaticTunes(const State& state, const ChromaticScan& scan,
                                             std::string* refusal = nullptr);

} // namespace kestrune
