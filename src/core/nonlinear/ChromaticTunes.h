#pragma once

#include "core/Messages.h"
#include "core/State.h"
#include "core/nonlinear/TrackedCell.h"

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
    double residual = 0;                      // largest |fit - tune| over the points of both planes
    std::vector<std::array<double, 4>> orbit; // m, rad: the closed orbit (x, px, y, py) at each delta
};

/// The scan of state.line's ring (rf off): at every delta the closed orbit by Newton's method on the
/// tracker's map of one cell, the tunes from the two 2 x 2 blocks of the map's Jacobian (central
/// differences) around it; for a ring that couples the planes the eigentunes of the Jacobian, mode 1
/// (mostly x) in tuneX and mode 2 in tuneY. Nothing, with the reason in refusal when it is given, for an
/// empty line, a line the optics refuse, a cell without a stable periodic solution, a scan out of range,
/// or a delta without a closed orbit or with unstable or inseparable motion.
std::optional<ChromaticTunes> chromaticTunes(const State& state, const ChromaticScan& scan,
                                             std::string* refusal = nullptr);

/// The same scan of a cell made already. With start, a scan of the same momenta (a nearby design's),
/// Newton's method starts at every delta from its closed orbit and the momenta go round the cell
/// together; where that finds no orbit, the scan goes outwards from delta = 0 as without it.
std::optional<ChromaticTunes> chromaticTunes(const TrackedCell& cell, const ChromaticScan& scan,
                                             const ChromaticTunes* start, std::string* refusal = nullptr);

} // namespace kestrune
