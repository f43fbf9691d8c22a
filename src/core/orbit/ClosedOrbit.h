#pragma once

#include "core/State.h"
#include "core/tracking/PhaseVector.h"

#include <optional>
#include <string>
#include <vector>

namespace kestrune {

/// The closed orbit of the ring at a fixed momentum deviation (4D, rf off): the fixed point of the
/// symplectic tracker's turn on (x, px, y, py), found by Newton's method with the turn's Jacobian from
/// central differences.
struct ClosedOrbit
{
    bool found = false;
    std::string refusal; // "no closed orbit: ..." with the reason
    int iterations = 0;
    std::vector<PhaseVector>
        orbit; // at the entrance of the ring (index 0) and after each element of the cell
    // the one-turn Jacobian on (x, px, y, py) at the last iterate (within the tolerance of the orbit),
    // coupled where the ring couples the planes
    double jacobian[4][4] = {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}};
};

/// Newton's iteration stops when a step moves the coordinates by less than this (m, and rad).
constexpr double kClosedOrbitTolerance = 1e-12;

/// The closed orbit in all six coordinates with the rf on (the cell's cavities, or the rf window's cavity
/// at the start of the ring): the fixed point of the whole turn, its momentum deviation and path length
/// (PhaseVector delta, l) found with the transverse orbit. Its jacobian is the transverse part of the
/// one-turn Jacobian. Refused as closedOrbit, and "no closed orbit: the ring has no rf cavity" for a ring
/// without one.
ClosedOrbit closedOrbit6D(const State& state);

/// The closed orbit of the cell state.line (each superperiod the same) at delta, coupled rings included,
/// with the errors of its elements (their misalignments and field errors, as the tracker takes them).
/// Refused for an element the tracker cannot take (trackingRefusal after "no closed orbit: "), for a
/// particle lost or a turn that does not converge in 50 steps: "no closed orbit: lost at element N",
/// "no closed orbit: not converged".
ClosedOrbit closedOrbit(const State& state, double delta = 0);

/// True when an element of line kicks: a corrector's kick or a multipole's dipole component, which move
/// the closed orbit off the design axis.
bool lineKicks(const BeamLine& line);

/// True when an element of line has errors (misalignments, field errors).
bool lineHasErrors(const BeamLine& line);

/// The rms and the largest |x| and |y| of a closed orbit at the centres of the monitors (codes 81..83), at
/// the ends of every element when the line has none.
struct OrbitSpread
{
    double xRms = 0, yRms = 0, xMax = 0, yMax = 0; // m
};
OrbitSpread orbitSpread(const BeamLine& line, const ClosedOrbit& orbit);

} // namespace kestrune
