#pragma once

#include "cli/BatchSettings.h"
#include "cli/StderrMessages.h"
#include "core/State.h"

#include <nlohmann/json.hpp>
#include <string>

namespace kestrune {

/// The report's JSON value; keys keep the order in which they were added.
using Json = nlohmann::ordered_json;

/// A number for the report: the double itself, or null when it is not finite (NaN is not JSON).
Json reportNumber(double value);

/// The report's key of a kind of the editor's element list: its name in snake_case ("rf_cavity").
std::string kindKey(int kind);

/// The report's "particle" section: name, momentum_ev, total_energy_ev, kinetic_energy_ev,
/// rest_energy_ev, gamma, beta, charge.
Json particleSection(const BeamParameters& beam);

/// The report's "line" section: element_count, length_m, the lattice functions at the end of the
/// beam-line pass started from the state's start values, and the 6 x 6 total matrix of one pass.
Json lineSection(const State& state, Messages& messages);

/// The report's "periodic" section: the periodic solution at the cell start and the ring tunes of the
/// ring pass; null when the dispersion has no periodic solution. An unstable cell gives stable false
/// with its betatron values and tunes null. A cell whose planes couple has coupledPeriodicSection's.
Json periodicSection(const State& state, Messages& messages);

/// The whole report. outputs is the state the lists start from (the periodic solution with --periodic);
/// asSet is the state as read and changed by --set, from which the periodic section computes its own
/// periodic solution, the ring sections their ring, with the ring window's boxes of inputs, and the rf
/// section its rf parameters with the typed rf choices of inputs. messages collects what the
/// computations showed; inputs also hold the typed boxes of the vacuum and lifetime sections.
Json buildReport(const std::string& latticeFile, const State& outputs, const State& asSet,
                 const BatchInputs& inputs, StderrMessages& messages);

} // namespace kestrune
