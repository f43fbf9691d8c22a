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
    State pass;    // with the periodic start values in pass.run
    int cells = 1; // the superperiods of the ring
};

/// The cell of state.line; nothing, with the reason in refusal, for an empty line, a line the
/// uncoupled optics refuse or a cell without a stable periodic solution.
std::optional<TrackedCell> trackedCell(const State& state, std::string& refusal);

} // namespace kestrune
