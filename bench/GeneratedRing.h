#pragma once

#include "core/Kinematics.h"
#include "core/Messages.h"
#include "core/State.h"
#include "core/ring/RingGeometry.h"

namespace kestrune::benchsupport {

/// Messages of the benchmarks: nothing shown, every question answered Yes.
class YesMessages : public kestrune::QuietMessages
{
public:
    YesMessages() : kestrune::QuietMessages(true) {}
};

/// The generated ring of the benchmarks: 28 identical cells of 31 elements, 868 elements in all.
constexpr int kRingCells = 28;
constexpr int kCellElements = 31;

inline LatticeElement& appendElement(State& state, int elementCode, double length, double k = 0)
{
    ++state.line.count;
    LatticeElement& e = state.line.at(state.line.count);
    e = LatticeElement{};
    e.code = elementCode;
    e.length = length;
    e.k = k;
    return e;
}

/// Appends one cell: three 1.2 m gradient bends between quadrupoles, sextupoles, drifts and pumps,
/// bending 360/ringCells degrees; tunes of the 28-cell ring about 11.5 and 6.2.
inline void appendGeneratedCell(State& state, int ringCells = kRingCells)
{
    // gradients: bends 1/m^2, the three quadrupole families
    constexpr double kBendK = -0.05, kQ1 = 1.2, kQ2 = -1.8, kQ3 = 1.0;
    const double bendLength = 1.2;
    const double h = kTwoPi / ringCells / 3 / bendLength;
    const auto add = [&state](int elementCode, double length, double k = 0) -> LatticeElement& {
        return appendElement(state, elementCode, length, k);
    };
    const auto bend = [&] { add(code::kSectorBend, bendLength, kBendK).curvature = h; };
    const auto pump = [&] { add(code::kPump, 0).pumpSpeed = 100; };
    add(code::kDrift, 2.0);
    add(code::kQuadrupole, 0.25, kQ1);
    add(code::kDrift, 0.2);
    add(code::kQuadrupole, 0.25, kQ2);
    add(code::kDrift, 0.3);
    pump();
    bend();
    add(code::kDrift, 0.2);
    add(code::kSextupoleD, 0.15).m = -20;
    add(code::kDrift, 0.15);
    add(code::kQuadrupole, 0.3, kQ3);
    add(code::kDrift, 0.15);
    add(code::kSextupoleF, 0.15).m = 25;
    add(code::kDrift, 0.2);
    bend();
    pump();
    add(code::kDrift, 0.2);
    add(code::kSextupoleF, 0.15).m = 25;
    add(code::kDrift, 0.15);
    add(code::kQuadrupole, 0.3, kQ3);
    add(code::kDrift, 0.15);
    add(code::kSextupoleD, 0.15).m = -20;
    add(code::kDrift, 0.2);
    bend();
    pump();
    add(code::kDrift, 0.3);
    add(code::kQuadrupole, 0.25, kQ2);
    add(code::kDrift, 0.2);
    add(code::kQuadrupole, 0.25, kQ1);
    add(code::kDrift, 1.0);
    add(code::kDrift, 1.0);
}

/// Appends one cell of the strong ring: the generated cell with three 1 m gradient bends of k = -0.8 /m^2
/// (0.9 rad of phase each), quadrupoles of 3 to 3.5 /m^2 and sextupoles of 80 /m^3, without pumps: 27
/// elements; tunes of the ring (28 cells) about 23.16 and 9.37.
inline void appendStrongCell(State& state)
{
    constexpr double kBendK = -0.8, kQ1 = 3.0, kQ2 = -0.5, kQ3 = 3.5, kM = 80;
    const double bendLength = 1.0;
    const double h = kTwoPi / kRingCells / 3 / bendLength;
    const auto add = [&state](int elementCode, double length, double k = 0) -> LatticeElement& {
        return appendElement(state, elementCode, length, k);
    };
    const auto bend = [&] { add(code::kSectorBend, bendLength, kBendK).curvature = h; };
    const auto sextupoles = [&](double first) {
        add(code::kDrift, 0.2);
        add(first > 0 ? code::kSextupoleF : code::kSextupoleD, 0.15).m = first;
        add(code::kDrift, 0.15);
        add(code::kQuadrupole, 0.3, kQ3);
        add(code::kDrift, 0.15);
        add(first > 0 ? code::kSextupoleD : code::kSextupoleF, 0.15).m = -first;
        add(code::kDrift, 0.2);
    };
    add(code::kDrift, 2.0);
    add(code::kQuadrupole, 0.25, kQ1);
    add(code::kDrift, 0.2);
    add(code::kQuadrupole, 0.25, kQ2);
    add(code::kDrift, 0.3);
    bend();
    sextupoles(-kM);
    bend();
    sextupoles(kM);
    bend();
    add(code::kDrift, 0.3);
    add(code::kQuadrupole, 0.25, kQ2);
    add(code::kDrift, 0.2);
    add(code::kQuadrupole, 0.25, kQ1);
    add(code::kDrift, 2.0);
}

/// The strong ring: a 3 GeV electron, one strong cell and 28 superperiods (756 elements per turn).
inline void makeStrongRing(State& state)
{
    startParticle(state);
    updateKinematics(state.beam, EnergyKind::Momentum, 3e9);
    state.beam.referenceMomentum = 3e9;
    appendStrongCell(state);
    state.line.chainPositions();
    state.line.superPeriods = kRingCells;
}

/// A 3 GeV electron and cells copies of the cell written out in the table as one period, cells
/// superperiods of it making the ring (cells = 1: the cell and 28 superperiods; cells = 28: the full ring
/// of 868 elements as one period).
inline void makeGeneratedRing(State& state, int cells)
{
    startParticle(state);
    updateKinematics(state.beam, EnergyKind::Momentum, 3e9);
    state.beam.referenceMomentum = 3e9;
    for (int c = 0; c < cells; ++c)
        appendGeneratedCell(state);
    state.line.chainPositions();
    state.line.superPeriods = kRingCells / cells;
    state.run.stepAtElementEnds = true;
    state.ringParams.circumference = lSup(state.line) * state.line.superPeriods;
    state.ringParams.coupling = 0.01;
}

/// Cells of the large generated ring: 3226 cells of 31 elements, 100 006 elements in one period.
constexpr int kLargeRingCells = 3226;

/// A 3 GeV electron and a ring of cells generated cells in one period, bending 360 degrees together.
inline void makeRingOfCells(State& state, int cells)
{
    startParticle(state);
    updateKinematics(state.beam, EnergyKind::Momentum, 3e9);
    state.beam.referenceMomentum = 3e9;
    for (int c = 0; c < cells; ++c)
        appendGeneratedCell(state, cells);
    state.line.chainPositions();
    state.line.superPeriods = 1;
    state.run.stepAtElementEnds = true;
    state.ringParams.circumference = lSup(state.line);
    state.ringParams.coupling = 0.01;
}

/// The large generated ring: kLargeRingCells cells.
inline void makeLargeRing(State& state)
{
    makeRingOfCells(state, kLargeRingCells);
}

} // namespace kestrune::benchsupport
