#pragma once

#include "core/Kinematics.h"
#include "core/State.h"
#include "core/io/LatticeFile.h"
#include "core/tracking/LinearMapTracking.h"
#include "support/FakeMessages.h"

#include <cmath>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace kestrune::test {

inline LatticeElement& append(State& state, int elementCode, double length)
{
    ++state.line.count;
    LatticeElement& e = state.line.at(state.line.count);
    e = LatticeElement{};
    e.code = elementCode;
    e.length = length;
    state.line.chainPositions();
    return e;
}

/// The example double-bend achromat: 12 cells, SF and SD in the arcs, no dispersion in the straights.
inline State dbaRing()
{
    State state;
    startParticle(state);
    FakeMessages messages;
    EXPECT_TRUE(readLatticeFile(state, messages, std::string(KESTRUNE_EXAMPLES) + "/dba-cell.lat"));
    return state;
}

/// Sets every sextupole of the cell to strength m (code 31, 32 and the special ones alike).
inline void setSextupoles(State& state, double m)
{
    for (int i = 1; i <= state.line.count; ++i)
        if (familyOf(state.line.at(i).code) == static_cast<int>(Family::Sextupole))
            state.line.at(i).m = m;
}

/// A FODO ring of 16 cells with every kind of bend the optics knows: a rectangular magnet with its
/// fringe-field gap, a wedge magnet with unequal faces and a gradient, and a sector magnet with a
/// gradient; SF and SD sextupoles beside the quadrupoles. Tunes 3.379 and 4.373.
inline State mixedBendRing()
{
    State state;
    startParticle(state);
    const double theta = kTwoPi / 16 / 3;
    append(state, code::kQuadrupole, 0.3).k = 1.1;
    append(state, code::kDrift, 0.3);
    append(state, code::kSextupoleF, 0.2);
    append(state, code::kDrift, 0.3);
    LatticeElement& rect = append(state, code::kRectangularBend, 1.2);
    rect.curvature = theta / 1.2;
    rect.ain = theta / 2;
    rect.aout = theta / 2;
    rect.gap = 0.05;
    append(state, code::kDrift, 0.3);
    LatticeElement& wedge = append(state, code::kWedgeBend, 1.2);
    wedge.curvature = theta / 1.2;
    wedge.ain = 0.08;
    wedge.aout = 0.02;
    wedge.gap = 0.04;
    wedge.k = -0.15;
    append(state, code::kDrift, 0.3);
    append(state, code::kQuadrupole, 0.3).k = -1.1;
    append(state, code::kDrift, 0.3);
    append(state, code::kSextupoleD, 0.2);
    append(state, code::kDrift, 0.3);
    LatticeElement& sector = append(state, code::kSectorBend, 1.2);
    sector.curvature = theta / 1.2;
    sector.k = 0.1;
    append(state, code::kDrift, 0.6);
    state.line.superPeriods = 16;
    state.ringClosed = true;
    return state;
}

/// Fractional tune (0..0.5) of a turn-by-turn series from the three-term recurrence of a linear
/// oscillation about a fixed orbit, x[n+1] + x[n-1] = 2 cos(mu) x[n] + c, fitted by least squares.
inline double fittedTune(const std::vector<double>& x)
{
    double sxx = 0, sx = 0, sxy = 0, sy = 0;
    const double n = static_cast<double>(x.size() - 2);
    for (std::size_t i = 1; i + 1 < x.size(); ++i) {
        const double y = x[i + 1] + x[i - 1];
        sxx += x[i] * x[i];
        sx += x[i];
        sxy += x[i] * y;
        sy += y;
    }
    const double slope = (n * sxy - sx * sy) / (n * sxx - sx * sx);
    return std::acos(slope / 2) / kTwoPi;
}

/// The fractional part of a tune folded into 0..0.5, as a fitted tune shows it.
inline double foldedTune(double tune)
{
    const double f = tune - std::floor(tune);
    return f <= 0.5 ? f : 1 - f;
}

inline std::vector<double> column(const std::vector<PhasePoint>& points, double PhasePoint::*member)
{
    std::vector<double> values;
    for (const PhasePoint& p : points)
        values.push_back(p.*member);
    return values;
}

} // namespace kestrune::test
