#pragma once

#include "core/Messages.h"
#include "core/State.h"
#include "core/optics/RingPass.h"
#include "core/optics/Samples.h"

#include <cstdint>

namespace kestrune {

/// True, after lineOpticsRefusal's text through messages, when the optics cannot compute the line (a kick,
/// a coupling field): every pass checks it once before it changes anything.
bool opticsRefused(const BeamLine& line, Messages& messages);

/// With recompute, R <- the matrix of element i for a slice of sliceLength (m); then carries the running
/// values of the active mode (lattice functions and dispersion, or the trajectory) through R.
void propagateFunctions(State& state, Messages& messages, bool recompute, int i, double sliceLength);
/// One pole face of element i with angle psi (rad): the running values and M go through the edge matrix.
void edgeStep(State& state, Messages& messages, int i, double psi);
/// edgeStep of a magnet of curvature (1/m) and full gap (m).
void edgeStep(State& state, double curvature, double psi, double gap);
/// What the ring passes read of element e cut into slices.
ElementOptics elementOptics(const LatticeElement& e, int slices);
/// Total matrix of one period into state.matrix.m, then the periodic beta, alpha, gamma, eta, eta' into
/// the start values of state.run; true when the dispersion could be solved. A line the optics refuse
/// (opticsRefused) changes nothing and gives false.
bool periodicSolution(State& state, Messages& messages);
/// The running lattice functions at the start of a pass: the start values of run, phases 0.
void startFunctions(const RunSettings& run, LatticeFunctions& lf);
/// The beam-line pass: restores the design momentum, sets the running values from the start values,
/// hands plot points and list rows (index 0 start row, then one per element) to the sinks (either may be
/// nullptr). A line the optics refuse (opticsRefused) changes nothing and hands nothing over.
void linePass(State& state, Messages& messages, PlotSink* plot, ListSink* list);
/// linePass of a line the uncoupled optics take, without looking at its elements for a refusal first.
void acceptedLinePass(State& state, Messages& messages, PlotSink* plot, ListSink* list);
/// Ring pass of the ring window (its step settings are put into state.run by the window before): runs
/// periodicSolution and, when it succeeds, sets the running values from the start values; returns its
/// result.
bool ringStart(State& state, Messages& messages, ListSink* list);
/// ringStart, refused set when the optics refused the line (nothing changed then).
bool ringStart(State& state, Messages& messages, ListSink* list, bool& refused);
/// Ring pass through element i, with a list row after every slice when list != nullptr.
void ringTrace(State& state, Messages& messages, int i, ListSink* list);
/// periodicSolution, ringStart, ringTrace of every element, ring tunes into state.lf.tuneX/Y
/// (superPeriods * phi), handed to the list when list != nullptr. On failure "define desired
/// solution: ..." and false.
bool betaFunctions(State& state, Messages& messages, ListSink* list);

/// ringStart without a list (refused and started as there), then the ring pass over the period from the
/// periodic solution, every element as ringTrace takes it, with the lattice functions at each element's
/// entrance: kept in state.ringPass and taken from there while the line, its slicing and the start values
/// are those it was made for. nullptr when the pass cannot be kept (no solution, a line that changes the
/// particle's energy); the state is left as ringStart leaves it. With stamp, the latticeStamp of the design
/// now, a pass of that stamp gives the total matrix without a sweep over the line.
const RingPass* keptRingPass(State& state, Messages& messages, bool& refused, bool& started,
                             const std::uint64_t* stamp = nullptr);
/// The running values at the end of the kept pass (lattice functions, phases, s) into state.lf, the
/// matrices the pass leaves into state.matrix: the state as betaFunctions' pass leaves it.
void finishRingPass(State& state, const RingPass& pass);
/// True when state keeps a ring pass of the design of this latticeStamp with the step settings of state.run,
/// one that the uncoupled optics took.
bool ringPassOf(const State& state, std::uint64_t stamp);
/// beta, alpha, gamma of both planes and eta along a drift of length (m), the products of the ring pass;
/// the phases are left as they are.
void driftFunctions(double length, LatticeFunctions& lf);

/// Steps of element i in the beam-line pass (the einzel lens 1, the electrostatic accelerator one per
/// gap; 0 for an accelerator without a gap, which the pass takes as one drift over its length);
/// run.maxSteps <= 0 becomes 20 first. May report too many electrodes.
int lineSteps(State& state, Messages& messages, int i);
/// Slices of element i in the periodic-solution and ring passes: 1 at element ends, else
/// trunc(L / (1 + maxStep)) + 1, at most cap; a thin multipole is one slice whatever its length.
int periodicSteps(const RunSettings& run, const LatticeElement& e, int cap = kMaxElementSlices);

} // namespace kestrune
