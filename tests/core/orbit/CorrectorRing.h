#pragma once

#include "core/Constants.h"
#include "core/Kinematics.h"
#include "core/State.h"

#include <string>

namespace kestrune::test {

// A fresh element at the end of the line, named E and its index.
inline LatticeElement& appendNumbered(State& state, int elementCode, double length)
{
    LatticeElement& e = state.line.at(++state.line.count);
    e = LatticeElement{};
    e.name = "E" + std::to_string(state.line.count);
    e.code = elementCode;
    e.length = length;
    return e;
}

// Ten FODO cells with a bend in each half, a monitor after every quadrupole and a kicker of both planes
// before it (of kickerLength, m); dipole errors as thin multipoles' knl[0] and ksl[0] in three cells.
inline State correctorRing(bool errors, double kickerLength = 0.1)
{
    State state;
    startParticle(state);
    state.ringClosed = true;
    const auto add = [&](int elementCode, double length) -> LatticeElement& {
        return appendNumbered(state, elementCode, length);
    };
    constexpr int kCells = 10;
    const double h = kTwoPi / (2 * kCells) / 2.0;
    for (int c = 0; c < kCells; ++c) {
        add(code::kKicker, kickerLength);
        add(code::kQuadrupole, 0.3).k = 1.1;
        add(code::kMonitor, 0);
        add(code::kDrift, 0.4);
        add(code::kSectorBend, 2.0).curvature = h;
        add(code::kDrift, 0.4);
        add(code::kKicker, kickerLength);
        add(code::kQuadrupole, 0.3).k = -1.0;
        add(code::kMonitor, 0);
        add(code::kDrift, 0.4);
        add(code::kSectorBend, 2.0).curvature = h;
        LatticeElement& error = add(code::kThinMultipole, 0);
        if (errors && c % 3 == 1) {
            error.knl = {2e-4 * (c - 4)};
            error.ksl = {-1.5e-4};
        }
        add(code::kDrift, 0.4);
    }
    state.line.chainPositions();
    return state;
}

} // namespace kestrune::test
