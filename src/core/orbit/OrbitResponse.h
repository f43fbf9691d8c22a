#pragma once

#include "core/State.h"

#include <optional>
#include <string>
#include <vector>

namespace kestrune {

/// The orbit response of the monitors (codes 81..83, in line order) to the kickers (codes 70..72): one
/// column per kicker plane, rows the horizontal readings of every monitor then the vertical ones.
struct OrbitResponse
{
    std::vector<int> monitors;               // element indices
    std::vector<int> kickers;                // element indices, one column per plane the kicker has
    std::vector<bool> horizontalKick;        // per column
    std::vector<std::vector<double>> matrix; // [row][column], m/rad
};

/// The response from closed orbits tracked with each kick moved by +-1e-6 rad (central differences).
std::optional<OrbitResponse> trackedOrbitResponse(const State& state, std::string& refusal);

/// The response in closed form from the uncoupled optics, for a ring whose rf frequency is kept (the
/// orbit lengthens and the momentum changes with a horizontal kick):
///   R_mk = sqrt(beta_m beta_k) cos(|mu_m - mu_k| - pi Q) / (2 sin pi Q) - eta_m eta_k / (alpha_c C)
/// for horizontal kicks into horizontal readings, the same without the dispersion term vertically, 0 for
/// the other pairs. With fixedLength false the dispersion term is left out (momentum held fixed).
std::optional<OrbitResponse> closedFormOrbitResponse(const State& state, bool fixedFrequency,
                                                     std::string& refusal);

} // namespace kestrune
