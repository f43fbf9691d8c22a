#pragma once

#include "cli/Report.h"
#include "core/State.h"

#include <optional>
#include <string>

namespace kestrune {

/// The report's "coupling" section: coupled false for a line whose planes are independent; for a line
/// that couples them, the eigentunes tune_1, tune_2, the coupling coefficient c_minus_abs, c_minus_re,
/// c_minus_im, the closest tune approach delta_q_min with the two families of its knob, and at the line's
/// start edwards_teng {beta_x_m, alpha_x, beta_y_m, alpha_y, r11, r12, r21, r22} and mais_ripken
/// {beta_11_m, beta_12_m, beta_21_m, beta_22_m}, and the mode emittances emittance_1_m, emittance_2_m,
/// emittance_3_m of a closed ring (the ring's geometry as the ring window gives it, the rf system of the
/// line's cavities or the typed voltage); null for what cannot be computed, the reason in message.
Json couplingSection(const State& state);

/// The report's "periodic" section of a cell whose planes couple (coupledPassApplies): the planes' own
/// beta_x_m, alpha_x, beta_y_m, alpha_y, tune_x, tune_y null, eta_x_m, eta_px and eta_y_m, eta_py the
/// periodic coupled dispersion, the eigentunes tune_1, tune_2 of the ring, at the cell start the
/// Edwards-Teng beta_1_m, alpha_1, beta_2_m, alpha_2 and r11, r12, r21, r22, the coupling coefficient
/// c_minus_abs and in message why not; stable false and the numbers null where the coupled optics refuse.
Json coupledPeriodicSection(const State& state);

/// The report's "chromaticity" section of a ring whose planes couple: the modes' natural_1, natural_2
/// and, with the sextupoles the lattice holds (after a correction: the strengths it found), corrected_1,
/// corrected_2 as the ring's integrals give them; the planes' keys null except wanted_x, wanted_y (as
/// typed, or null) and mf_per_m3, md_per_m3 (null without a correction). null without mode chromaticities.
Json coupledChromaticitySection(const State& state, const Json& wantedX, const Json& wantedY, const Json& mF,
                                const Json& mD, Messages& messages);

/// The ring of the mode emittances: state with the geometry the ring window gives it as it comes up (the
/// state's superperiods and rf frequency) and the rf system of the line's cavities, or the typed
/// voltage; nothing, with the reason in refusal, for a ring that is not closed or refuses those.
std::optional<State> modeEmittanceRing(const State& state, std::string& refusal);

} // namespace kestrune
