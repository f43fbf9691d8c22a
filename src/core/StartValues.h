#pragma once

#include "core/State.h"

namespace kestrune {

/// The design's reset (the beam-dynamics window's reset, also used before a file is read into a fresh
/// design): the particle back to the electron with the rounded rest energy 511000 eV (its energies kept),
/// DrawScale 1, DrawBaseline -60, an empty line with one superperiod, the ring not closed, samples at
/// element ends, no periodic solution.
void resetDesign(State& state);

/// The program's start values, the same for the windows and the batch tool: the electron of cp = 1 GeV,
/// the design's reset, 1 % emittance coupling, a beam current of 100 mA and an rf system of 1 MV and
/// 100 kW.
void setStartValues(State& state);

} // namespace kestrune
