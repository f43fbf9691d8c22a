#pragma once

#include "cli/BatchSettings.h"
#include "core/Messages.h"
#include "core/State.h"

#include <optional>
#include <string>

namespace kestrune {

/// The lists the command-line tool prints.
enum class BatchList { Magnets, Lattice, Beta, Periodic, Matrix, Beam, Ring, Vacuum, Rf };

/// The list named on the command line ("magnets", "lattice", "beta", "periodic", "matrix", "beam",
/// "ring", "vacuum", "rf").
std::optional<BatchList> batchListNamed(const std::string& name);

/// Appends one list to state.listing as the window's command does; false when its computation failed.
/// beta: the lattice functions from the start values in the state; periodic: "look for periodic
/// solution" (its start row, then the pass it triggers); matrix: the total matrix of one pass over the
/// line through the periodic-solution slicing, leaving the start values as they are; ring: the ring
/// window's parameter list with the boxes of inputs; vacuum: the pump list of the vacuum calculation
/// with the vacuum boxes of inputs; rf: the rf parameters and power budget of the ring with the typed
/// rf choices of inputs.
bool appendBatchList(State& state, Messages& messages, BatchList list, const BatchInputs& inputs);

/// --periodic: the periodic solution of the cell becomes the start values of every later output;
/// "--periodic: the cell has no periodic solution" and false when the dispersion cannot be solved or a
/// plane is unstable (the state keeps its start values then).
bool startFromPeriodicSolution(State& state, Messages& messages);

/// The lattice functions of every sample of the beta pass from the state's start values, as CSV with
/// a header line, 12 significant digits.
std::string twissCsv(const State& state, Messages& messages);

} // namespace kestrune
