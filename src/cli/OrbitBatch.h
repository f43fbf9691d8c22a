#pragma once

#include "cli/Report.h"
#include "core/Messages.h"
#include "core/State.h"
#include "core/orbit/ClosedOrbit.h"
#include "core/orbit/OrbitCorrection.h"

#include <cstdint>
#include <optional>
#include <string>

namespace kestrune {

/// The report's "orbit" section: kicked false for a line without kicks or dipole components (its closed
/// orbit is the design orbit); otherwise the closed orbit of the ring at the momentum of the design:
/// found, iterations, at the start x_m, px, y_m, py, at the monitors monitors (their number), rms_x_m,
/// rms_y_m, max_x_m, max_y_m, and message with the reason when none was found.
Json orbitSection(const State& state);

/// What --correct-orbit asks for: method "svd", "micado" or a number N (N singular values, SVD, as
/// --singular-values N), --singular-values (-1: not given), --kickers (-1: not given), --corrector-limit
/// (rad, 0: none), --monitors-off (names and name patterns, comma-separated), --monitor-noise (m).
struct OrbitCorrectionRequest
{
    std::string method;
    int singularValues = -1;
    int kickers = -1;
    double limit = 0;
    std::string monitorsOff;
    double noise = 0;
};

/// The settings of the core for request on line: the monitors off are the names of the list and the
/// monitors of the line an entry with a pattern character (^ $ . [ * \) matches (NamePattern), the
/// noise drawn with noiseSeed. Nothing, with the reason in refusal, for options that do not fit and a
/// pattern that is none or matches no monitor.
std::optional<OrbitCorrectionSettings> orbitCorrectionSettings(const OrbitCorrectionRequest& request,
                                                               const BeamLine& line, std::uint64_t noiseSeed,
                                                               std::string& refusal);

/// The report's "closed_orbit" section, null for a line without errors, kicks or dipole components:
/// found, rf_on (the orbit of the whole turn with the cavities on, where the ring has any), and with an
/// orbit at_start [x, px, y, py, delta, l], x_rms_m, y_rms_m, x_max_m, y_max_m at the centres of the
/// monitors (at the element ends without monitors), tune_x, tune_y, beta_beat_x_rms, beta_beat_y_rms,
/// dispersion_y_rms_m of the optics about the orbit (orbitOptics), null with the reason in message when
/// those cannot be had.
Json closedOrbitSection(const State& state);

/// --correct-orbit: corrects the closed orbit with the kickers of the line as request says, three
/// passes, the read noise drawn with noiseSeed; the kicks go into state. Refusals through messages.
std::optional<OrbitCorrection> runOrbitCorrection(State& state, Messages& messages,
                                                  const OrbitCorrectionRequest& request,
                                                  std::uint64_t noiseSeed = 1);

/// The report's "orbit_correction" section: method, singular_values, used, iterations, monitors,
/// rms_before_x_m, rms_before_y_m, rms_after_x_m, rms_after_y_m, max_before_x_m, max_before_y_m,
/// max_after_x_m, max_after_y_m, kickers_used and capped (name, element, plane), kick_rms_rad,
/// kick_max_rad; null when the correction was refused.
Json orbitCorrectionSection(const std::optional<OrbitCorrection>& correction);

/// The closed_orbit section's "corrected" object of a correction that was done: x_rms_m, y_rms_m,
/// x_max_m, y_max_m at the monitors it read after its last pass, kick_rms_rad, kick_max_rad.
Json correctedOrbit(const OrbitCorrection& correction);

} // namespace kestrune
