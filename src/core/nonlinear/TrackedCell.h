#pragma once

#include "core/State.h"
#include "core/tracking/SymplecticLattice.h"

#include <optional>
#include <string>

namespace kestrune {

/// One cell of the ring for the nonlinear scans that track it: the symplectic cell (rf off, one
/// superperiod) and the state after the ring pass of its periodic solution.
struct TrackedCell
{
    SymplecticLattice lattice;
    State pass;           // with the periodic start values in pass.run (a cell whose planes are independent)
    int cells = 1;        // the superperiods of the ring
    bool coupled = false; // the cell couples the planes: its tunes are the eigentunes of its modes
    bool errors = false;  // its elements have errors: the turn about the closed orbit may couple too
    bool kicked = false;  // its correctors kick: the closed orbit is off the design axis (errors is set too)
    double cellTune1 = 0, cellTune2 = 0; // the cell's phase advances of the linear optics, units of 2 pi
};

/// The cell of state.line; nothing, with the reason in refusal, for an empty line, a line the
/// optics refuse (the coupled optics for a line that couples the planes) or a cell without a stable
/// periodic solution. A line the optics refuse only for its correctors' kicks (an orbit bump, a
/// crossing angle) is taken as a machine with errors: its turn about the closed orbit, with the
/// periodic solution of the line without the kicks in pass.run.
std::optional<TrackedCell> trackedCell(const State& state, std::string& refusal);

/// Takes what the linear optics do not see, the sextupole strengths k2, the octupole strengths k3 and the
/// elements' own apertures, from line (the cell's line with nothing else changed) into cell. False, with
/// nothing changed, for a cell with element errors, whose maps are split around the errors' kicks: such a
/// cell is made again.
bool takeNonlinearStrengths(TrackedCell& cell, const BeamLine& line);

} // namespace kestrune
