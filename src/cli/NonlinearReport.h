#pragma once

#include "cli/Report.h"
#include "core/State.h"

namespace kestrune {

/// The report's "nonlinear" section: driving_terms, the first-order driving terms of the ring's
/// sextupoles, quadrupoles and bend gradients ({"h21000": {"re", "im", "abs"}, ...}, Bengtsson's
/// convention), and chromatic_fit, the cubic fit of the tracker's tunes over -delta_range .. delta_range
/// (qx_coefficients, qy_coefficients [Q0, Q1, Q2, Q3], delta_range, fit_residual); either null when it
/// cannot be computed, the first reason in message.
Json nonlinearSection(const State& state);

} // namespace kestrune
