#pragma once

#include "cli/BatchSettings.h"
#include "cli/Report.h"
#include "core/Messages.h"
#include "core/State.h"

#include <optional>
#include <string>
#include <vector>

namespace kestrune {

/// The --set names of the vacuum and lifetime windows' boxes, one per box.
std::vector<SettingName> vacuumLifetimeSettingNames();

/// "--list vacuum": the vacuum calculation with the vacuum boxes of inputs, then the pump list; false
/// when the calculation refused (no pumps, a box it refuses).
bool vacuumPumpList(State& state, const BatchInputs& inputs, Messages& messages);

/// "--profile": the pressure profile of one period as CSV, a header line "s_m,pressure_torr" and one
/// line per step (s along the chamber wall, 12 significant digits); nothing when refused.
std::optional<std::string> pressureProfileCsv(const State& state, const BatchInputs& inputs,
                                              Messages& messages);

/// The report's "vacuum" section: the inputs, average_pressure_torr, pump_pressures_torr, the pumps, a
/// summary of the profile and the warnings; null when the calculation refused.
Json vacuumSection(const State& state, const BatchInputs& inputs, Messages& messages);

/// The lifetime window's state and boxes as the report's lifetime section takes them before its updates:
/// the ring, rf and vacuum computed, the activation (what it says goes into defaults), the Touschek menu
/// and the boxes typed with --set.
State preparedLifetime(const State& state, const BatchInputs& inputs, LifetimeBoxes& boxes,
                       std::vector<std::string>& defaults);

/// The report's "lifetime" section: the four lifetimes, the quantum lifetime per plane and the combined
/// one (null where an update refused or a value is not available) with the inputs each used, taken as the
/// lifetime window takes them: activation from the ring (as the ring window computes it), the vacuum
/// calculation (a line with pumps) and the rf parameters (a closed ring, as the rf section computes
/// them), the Touschek menu, then the boxes typed with --set; the Touschek update of a closed ring
/// brings the equilibrium and the rf parameters up to date as the window's does. What the activation says
/// about results not computed (and the defaults taken for them) goes into the section's "defaults", not to
/// messages. touschek_local_acceptance_s is null here; addLocalTouschek fills it.
Json lifetimeSection(const State& state, const BatchInputs& inputs, Messages& messages);

} // namespace kestrune
