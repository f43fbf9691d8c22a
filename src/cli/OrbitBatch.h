#pragma once

#include "cli/Report.h"
#include "core/Messages.h"
#include "core/State.h"
#include "core/orbit/ClosedOrbit.h"
#include "core/orbit/OrbitCorrection.h"

#include <optional>

namespace kestrune {

/// The report's "orbit" section: kicked false for a line without kicks or dipole components (its closed
/// orbit is the design orbit); otherwise the closed orbit of the ring at the momentum of the design:
/// found, iterations, at the start x_m, px, y_m, py, at the monitors monitors (their number), rms_x_m,
/// rms_y_m, max_x_m, max_y_m, and message with the reason when none was found.
Json orbitSection(const State& state);

/// --correct-orbit: corrects the closed orbit with every kicker of the line, count singular values (0 for
/// all), three passes; the kicks go into state. Refusals through messages.
std::optional<OrbitCorrection> runOrbitCorrection(State& state, Messages& messages, int count);

/// The report's "orbit_correction" section: singular_values, used, iterations, rms_before_x_m,
/// rms_before_y_m, rms_after_x_m, rms_after_y_m; null when the correction was refused.
Json orbitCorrectionSection(const std::optional<OrbitCorrection>& correction);

} // namespace kestrune
