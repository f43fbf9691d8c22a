#pragma once

#include "cli/BatchSettings.h"
#include "cli/Report.h"
#include "core/Messages.h"
#include "core/State.h"

namespace kestrune {

/// The ring as the ring window computes it when it comes up on the state: its geometry with the state's
/// superperiods and rf frequency (its questions go to messages), the ring pass, and the beam parameters
/// from the boxes as the window fills them (momentum and current from the state, the coupling of
/// inputs). False, with nothing computed after it, when the geometry refuses or the cell has no
/// periodic solution.
bool computeRing(State& state, Messages& messages, const BatchInputs& inputs);

/// --list ring: computeRing, then the ring parameter list (what "optics > update" followed by
/// "lists > parameter list" leaves in the list window); false when computeRing failed.
bool ringParameterBatchList(State& state, Messages& messages, const BatchInputs& inputs);

/// The report's "ring", "radiation_integrals" and "equilibrium" sections, computed from asSet as the
/// ring window computes them, added to report; none when the cell has no periodic solution, each null
/// when the ring cannot be computed.
void addRingSections(Json& report, const State& asSet, const BatchInputs& inputs, Messages& messages);

} // namespace kestrune
