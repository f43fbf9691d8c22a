#pragma once

#include "core/Kinematics.h"
#include "core/State.h"

namespace kestrune::test {

/// Appends an element of the given code and length to the line; positions follow.
inline LatticeElement& appendElement(State& state, int elementCode, double length, double curvature = 0,
                                     double k = 0)
{
    ++state.line.count;
    LatticeElement& e = state.line.at(state.line.count);
    e = LatticeElement{};
    e.code = elementCode;
    e.length = length;
    e.curvature = curvature;
    e.k = k;
    state.line.chainPositions(state.line.count);
    return e;
}

/// A FODO cell from the middle of QF: QF/2, drift, bend, drift, QD, drift, bend, drift, QF/2, with two
/// bends of length 2 m sharing 360/cells degrees (sector bends of gradient k, or rectangular ones with
/// faces of half their angle). Quadrupole strength +-1.2 1/m^2.
inline void fodoCell(State& state, int cells, int bendCode = code::kSectorBend, double bendK = 0)
{
    const double bendLength = 2.0;
    const double h = kTwoPi / (2 * cells) / bendLength;
    const auto bend = [&] {
        LatticeElement& b = appendElement(state, bendCode, bendLength, h, bendK);
        if (bendCode != code::kSectorBend) {
            b.ain = b.aout = h * bendLength / 2;
            b.gap = 0.03;
        }
    };
    appendElement(state, code::kQuadrupole, 0.2, 0, 1.2);
    appendElement(state, code::kDrift, 0.3);
    bend();
    appendElement(state, code::kDrift, 0.3);
    appendElement(state, code::kQuadrupole, 0.4, 0, -1.2);
    appendElement(state, code::kDrift, 0.3);
    bend();
    appendElement(state, code::kDrift, 0.3);
    appendElement(state, code::kQuadrupole, 0.2, 0, 1.2);
    state.line.superPeriods = cells;
    state.ringParams.circumference = cells * state.line.length;
}

/// An electron of the given total momentum (eV), reference momentum the same.
inline void electronAt(State& state, double momentum)
{
    startParticle(state);
    updateKinematics(state.beam, EnergyKind::Momentum, momentum);
    state.beam.referenceMomentum = momentum;
}

} // namespace kestrune::test
