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

/// The ring of the mode emittances: state with the geometry the ring window gives it as it comes up (the
/// state's superperiods and rf frequency) and the rf system of the line's cavities, or the typed
/// voltage; nothing, with the reason in refusal, for a ring that is not closed or refuses those.
std::optional<State> modeEmittanceRing(const State& state, std::string& refusal);

} // namespace kestrune
