#include "core/lifetime/LocalTouschek.h"

#include "core/Format.h"
#include "core/optics/BetaFunctions.h"

#include <cmath>

namespace kestrune {

std::optional<std::vector<TouschekSegment>> localTouschekRing(const State& state, double emittanceX,
                                                              double coupling, Messages& messages)
{
    const LocalAcceptance& a = state.localAcceptance;
    if (a.empty()) {
        messages.error(kNoLocalAcceptance);
        return std::nullopt;
    }
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
