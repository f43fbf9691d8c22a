#pragma once

#include "core/Messages.h"
#include "core/State.h"
#include "core/lifetime/Lifetime.h"
#include "core/lifetime/LifetimeUpdate.h"

#include <optional>
#include <string>
#include <vector>

namespace kestrune {

/// The refusals of the Touschek lifetime from the local momentum acceptance.
constexpr const char* kNoLocalAcceptance =
    "there is no local momentum acceptance: compute it in the aperture window first!";
constexpr const char* kStaleLocalAcceptance =
    "the local momentum acceptance was computed for another lattice, "
    "energy or rf system: compute it again in the aperture window!";
constexpr const char* kNoLocalTouschek =
    "no Touschek lifetime from the local momentum acceptance: the acceptance is 0 somewhere!";

/// The places of one period for the Touschek rate, one per point of state.localAcceptance, each
/// standing for the ring up to the next point: the periodic lattice functions at the element start,
/// sigma_x^2 = eps_x beta_x + (eta sigma_E)^2, sigma_y^2 = coupling eps_x beta_y; for a ring whose planes
/// couple the sizes of both modes (eps_1, eps_2 of ringParams) with their dispersions. The caller makes
/// sure that the acceptance belongs to the state (trackingFingerprint). Nothing, after a message, without
/// a local acceptance or a periodic solution.
std::optional<std::vector<TouschekSegment>> localTouschekRing(const State& state, double emittanceX,
                                                              double coupling, Messages& messages);

/// The Touschek update with the local acceptance.
struct LocalTouschekUpdate
{
    TouschekUpdate single;          // the update of the boxes: one acceptance all round
    std::optional<double> lifetime; // s, from the local acceptance
    std::string label;              // lTouschek
};

/// runTouschekUpdate for the bunch of the boxes, then the lifetime from the local acceptance, which
/// becomes the Touschek lifetime of state.lifetimes. Nothing, after a message, when either is refused.
std::optional<LocalTouschekUpdate> runLocalTouschekUpdate(State& state, LifetimeBoxes& boxes,
                                                          Messages& messages);

} // namespace kestrune
