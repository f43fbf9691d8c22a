#include "core/lifetime/LocalTouschek.h"

#include "core/Format.h"
#include "core/coupling/CoupledOptics.h"
#include "core/coupling/CoupledPass.h"
#include "core/optics/BetaFunctions.h"

#include <cmath>

namespace kestrune {

namespace {

// The places of a ring whose planes couple, its modes' emittances eps_1, eps_2 in ringParams: the sizes
// sigma_x^2 = eps_1 beta_11 + eps_2 beta_12 + (eta_x sigma_E)^2, sigma_y^2 = eps_1 beta_21 + eps_2 beta_22
// + (eta_y sigma_E)^2 of the Mais-Ripken functions at the element starts, and as divergence the spread of
// px at a given x of the betatron distribution, Sigma_pp - Sigma_xp^2 / Sigma_xx (eps / beta of one
// uncoupled plane).
std::optional<std::vector<TouschekSegment>> coupledTouschekRing(const State& state, Messages& messages)
{
    const CoupledRing optics = coupledRing(state);
    if (!optics.computed) {
        messages.error(optics.refusal);
        return std::nullopt;
    }
    const LocalAcceptance& a = state.localAcceptance;
    const double e1 = state.ringParams.emittanceX, e2 = state.ringParams.emittanceY;
    const double sigmaE = std::isfinite(state.ringParams.energySpread) ? state.ringParams.energySpread : 0.0;
    const double period = state.line.length;
    std::vector<TouschekSegment> ring;
    for (std::size_t j = 0; j < a.s.size(); ++j) {
        const int e = a.elements[j];
        if (e < 1 || e > state.line.count || static_cast<std::size_t>(e) > optics.functions.size()) {
            messages.error(kStaleLocalAcceptance);
            return std::nullopt;
        }
        const CoupledFunctions& f = optics.functions[static_cast<std::size_t>(e) - 1];
        const MaisRipken& mr = f.mr;
        const double xx = e1 * mr.beta11 + e2 * mr.beta12;
        const double xp = -(e1 * mr.alpha11 + e2 * mr.alpha12);
        const double pp = e1 * mr.gamma11 + e2 * mr.gamma12;
        TouschekSegment place;
        place.length = (j + 1 < a.s.size() ? a.s[j + 1] : period) - a.s[j];
        place.sigmaX = std::sqrt(xx + f.eta[0] * sigmaE * f.eta[0] * sigmaE);
        place.sigmaY = std::sqrt(e1 * mr.beta21 + e2 * mr.beta22 + f.eta[2] * sigmaE * f.eta[2] * sigmaE);
        place.divergenceX = std::sqrt(pp - xp * xp / xx);
        place.deltaPlus = a.deltaPlus[j];
        place.deltaMinus = a.deltaMinus[j];
        ring.push_back(place);
    }
    return ring;
}

} // namespace

std::optional<std::vector<TouschekSegment>> localTouschekRing(const State& state, double emittanceX,
                                                              double coupling, Messages& messages)
{
    const LocalAcceptance& a = state.localAcceptance;
    if (a.empty()) {
        messages.error(kNoLocalAcceptance);
        return std::nullopt;
    }
    if (coupledPassApplies(state.line))
        return coupledTouschekRing(state, messages);
    State pass = state;
    QuietMessages quiet;
    if (!periodicSolution(pass, quiet) || !pass.run.periodicStable) {
        messages.error("the cell has no stable periodic solution!");
        return std::nullopt;
    }
    pass.run.showBetaFunctions = true;
    pass.run.showBeamSize = false;
    pass.run.showTrajectory = false;
    RowCollector rows;
    linePass(pass, quiet, nullptr, &rows);
    // the row with index i - 1 holds the functions at the start of element i
    std::vector<const LatticeFunctions*> atStart(static_cast<std::size_t>(state.line.count) + 1, nullptr);
    for (const OpticsRow& row : rows.rows)
        if (row.index >= 0 && row.index < state.line.count &&
            !atStart[static_cast<std::size_t>(row.index) + 1])
            atStart[static_cast<std::size_t>(row.index) + 1] = &row.lf;
    const double sigmaE = state.ringParams.energySpread;
    const double period = state.line.length;
    std::vector<TouschekSegment> ring;
    for (std::size_t j = 0; j < a.s.size(); ++j) {
        const int e = a.elements[j];
        const LatticeFunctions* lf =
            e >= 1 && e <= state.line.count ? atStart[static_cast<std::size_t>(e)] : nullptr;
        if (!lf) {
            messages.error(kStaleLocalAcceptance);
            return std::nullopt;
        }
        TouschekSegment place;
        place.length = (j + 1 < a.s.size() ? a.s[j + 1] : period) - a.s[j];
        const double dispersive = std::isfinite(sigmaE) ? lf->eta * sigmaE : 0.0;
        place.sigmaX = std::sqrt(emittanceX * lf->betaX + dispersive * dispersive);
        place.sigmaY = std::sqrt(coupling * emittanceX * lf->betaY);
        place.divergenceX = std::sqrt(emittanceX / lf->betaX);
        place.deltaPlus = a.deltaPlus[j];
        place.deltaMinus = a.deltaMinus[j];
        ring.push_back(place);
    }
    return ring;
}

std::optional<LocalTouschekUpdate> runLocalTouschekUpdate(State& state, LifetimeBoxes& boxes,
                                                          Messages& messages)
{
    const LocalAcceptance& a = state.localAcceptance;
    if (a.empty() || a.lattice != trackingFingerprint(state)) {
        messages.error(a.empty() ? kNoLocalAcceptance : kStaleLocalAcceptance);
        return std::nullopt;
    }
    std::optional<TouschekUpdate> single = runTouschekUpdate(state, boxes, messages);
    if (!single)
        return std::nullopt;
    const TouschekInput& in = single->input;
    const std::optional<std::vector<TouschekSegment>> ring =
        localTouschekRing(state, in.emittanceX, in.coupling, messages);
    if (!ring)
        return std::nullopt;
    LocalTouschekUpdate update;
    update.single = *single;
    update.lifetime =
        localTouschekLifetime(*ring, {single->lifetime.particles, in.bunchLengthMm / 1000, in.gamma});
    state.lifetimes.touschek = update.lifetime.value_or(0.0);
    state.lifetimes.touschekUnavailable = !update.lifetime;
    if (!update.lifetime) {
        messages.error(kNoLocalTouschek);
        update.label = "Touschek lifetime not available from the local acceptance";
        return update;
    }
    update.label = "Touschek lifetime = " + fmt("%8.3f", *update.lifetime / 3600) + " hr (local acceptance";
    update.label += single->lifetime.lifetime
                        ? "; " + fmt("%.3f", *single->lifetime.lifetime / 3600) + " hr with " +
                              fmt("%.3f", in.energyAcceptance * 100) + " %)"
                        : ")";
    return update;
}

} // namespace kestrune
