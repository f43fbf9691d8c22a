#pragma once

#include "core/State.h"
#include "core/tracking/PhaseVector.h"

#include <optional>
#include <string>
#include <vector>

namespace kestrune {

/// The closed orbit of the ring at a fixed momentum deviation (4D, rf off): the fixed point of the
/// symplectic tracker's turn on (x, px, y, py), found by Newton's method with the turn's Jacobian from
/// central differences.
struct ClosedOrbit
{
    bool found = false;
    std::string refusal; // "no closed orbit: ..." with the reason
    int iterations = 0;
    std::vector<PhaseVector>
        orbit; // at the entrance of the ring (index 0) and after each element of the cell
    // the one-turn Jacobian on (x, px, y, py) at the last iterate (within the tolerance of the orbit),
    // coupled where the ring couples the planes
    double jacobian[4][4] = {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}};
};

/// Newton's iteration stops when a step moves the coordinates by less than this (m, and rad).
constexpr double kClosedOrbitTolerance = 1e-12;

/// The closed orbit in all six coordinates with the rf on (the cell's cavities, or the rf window's cavity
/// at the start of the ring): the fixed point of the whole turn, its momentum deviation and path length
/// (PhaseVector delta, l) found with the transverse orbit. Its jacobian is the transverse part of the
/// one-turn Jacobian. Refused as closedOrbit, and "no closed orbit: the ring has no rf cavity" for a ring
/// without one.
ClosedOrbit closedOrbit6D(const State& state);

/// The closed orbit of the cell state.line (each superperiod the same) at delta, coupled rings included,
/// with the errors of its elements (their misalignments and field errors, as the tracker takes them).
/// Refused for an element the tracker cannot take (trackingRefusal after "no closed orbit: "), for a
/// particle lost or a turn that does not converge in 50 steps: "no closed orbit: lost at element N",
/// "no closed orbit: not converged".
ClosedOrbit closedOrbit(const State& state, double delta = 0);

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

/// An orbit correction by the kickers of the line: the kicks that minimise the readings of the monitors
/// in the least-squares sense, from the pseudo-inverse of the tracked orbit response with its singular
/// values below cut times the largest (or beyond the first count) left out, iterated.
struct OrbitCorrection
{
    bool done = false;
    std::string refusal;
    std::vector<double> singularValues;                                  // of the response, largest first
    int used = 0;                                                        // singular values used
    double rmsBeforeX = 0, rmsBeforeY = 0, rmsAfterX = 0, rmsAfterY = 0; // m, at the monitors
    int iterations = 0;
};

/// Corrects the closed orbit of state's ring with its kickers: count singular values (0: all those above
/// 1e-12 of the largest), iterations passes. The kicks are written into the kickers only when every pass
/// succeeded and every kick stays inside its range; otherwise nothing changes and refusal says why.
OrbitCorrection correctOrbit(State& state, int count = 0, int iterations = 3);

} // namespace kestrune
