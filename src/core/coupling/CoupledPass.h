#pragma once

#include "core/Messages.h"
#include "core/State.h"
#include "core/optics/Samples.h"

namespace kestrune {

/// True when the line couples the planes and the coupled optics take it: its passes then go through
/// the coupled maps.
bool coupledPassApplies(const BeamLine& line);

/// periodicSolution for any line. For a coupled cell the periodic coupled solution becomes the start
/// values: the Edwards-Teng beta and alpha of modes 1 and 2 in the places of the planes' own, the
/// coupling matrix R and the four dispersions; the refusal of the coupled optics otherwise ("the
/// transverse modes are not separable: ..."), with nothing changed. An uncoupled cell takes
/// periodicSolution and has no start coupling.
bool opticsPeriodicSolution(State& state, Messages& messages);

/// linePass for any line. A coupled line is passed through the coupled maps from the start values
/// (modes 1 and 2 from beta, alpha of the planes and the start coupling R), sampled at the end of every
/// element: the plot and the list receive in the places of the planes' functions those of the modes,
/// Edwards-Teng's (beta, alpha, phase of modes 1 and 2, as MAD-X's TWISS gives them) or, with
/// run.coupledMaisRipken, Mais-Ripken's beta_11, alpha_11 and beta_22, alpha_22; the dispersion is that
/// of x. The beam sizes are those of both modes, sqrt(eps_1 beta_11 + eps_2 beta_12) and
/// sqrt(eps_1 beta_21 + eps_2 beta_22), and the trajectory goes through the coupled maps. A line the
/// modes of which cannot be told apart at an element gets the refusal with the element named.
void opticsLinePass(State& state, Messages& messages, PlotSink* plot, ListSink* list);

/// The title line of a coupled pass ("coupled optics: Edwards-Teng functions of modes 1 and 2"), empty
/// for an uncoupled line.
std::string coupledPassTitle(const State& state);

} // namespace kestrune
