#pragma once

#include "core/State.h"
#include "core/tracking/PhaseVector.h"

#include <optional>
#include <string>
#include <vector>

namespace kestrune {

/// What a response and a correction are of: the closed orbit of a ring (4D, rf off, the cell repeated
/// superPeriods times), or the trajectory of a transport line, one pass from the start values
/// (state.run.x0, xp0, y0, yp0: mm and mrad) at the design momentum.
enum class OrbitKind { Closed, Trajectory };

/// The orbit of kind at the design momentum, at the entrance (index 0) and after each element of the
/// cell; nothing, with refusal set, where the closed orbit is not found, the particle is lost or the
/// tracker cannot take an element.
std::optional<std::vector<PhaseVector>> trackedOrbit(const State& state, OrbitKind kind,
                                                     std::string& refusal);

/// The orbit response of the monitors (codes 81..83, in line order) to the kickers (codes 70..72): one
/// column per kicker plane, rows the horizontal readings of every monitor then the vertical ones.
struct OrbitResponse
{
    std::vector<int> monitors;               // element indices
    std::vector<int> kickers;                // element indices, one column per plane the kicker has
    std::vector<bool> horizontalKick;        // per column
    std::vector<std::vector<double>> matrix; // [row][column], m/rad
};

/// The momentum of a ring's response: held at the design's, or the one a fixed rf frequency sets (the
/// revolution time kept: a horizontal kick where the dispersion is lengthens the orbit).
enum class ResponseMomentum { Fixed, FixedFrequency };

/// The response from orbits tracked with each kick moved by +-1e-6 rad (central differences); at a fixed
/// rf frequency each orbit is the closed orbit at the momentum deviation whose turn has no lag.
/// Coupled rings included.
std::optional<OrbitResponse> trackedOrbitResponse(const State& state, std::string& refusal,
                                                  OrbitKind kind = OrbitKind::Closed,
                                                  ResponseMomentum momentum = ResponseMomentum::Fixed);

/// The response in closed form from the uncoupled optics of the design (kicks, dipole components and
/// errors left out), at the centres of monitors and kickers. A ring's:
///   R_mk = sqrt(beta_m beta_k) cos(|mu_m - mu_k| - pi Q) / (2 sin pi Q) - eta_m eta_k / (eta_c C)
/// for horizontal kicks into horizontal readings (the second term only at a fixed rf frequency,
/// eta_c = alpha_c - 1/gamma^2), the first alone vertically, 0 for the other pairs; a transport line's:
///   R_mk = sqrt(beta_m beta_k) sin(mu_m - mu_k) for a monitor behind the kicker, 0 before it.
/// Refused for a line of coupling elements (naming the first), without a stable periodic solution (a
/// ring), or a ring of more than one superperiod.
std::optional<OrbitResponse> closedFormOrbitResponse(const State& state, ResponseMomentum momentum,
                                                     std::string& refusal,
                                                     OrbitKind kind = OrbitKind::Closed);

} // namespace kestrune
