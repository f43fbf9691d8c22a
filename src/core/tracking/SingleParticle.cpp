#include "core/tracking/SingleParticle.h"

#include "core/Format.h"

#include <algorithm>
#include <cmath>

namespace kestrune {

SymplecticRun symplecticRun(const State& state, Messages& messages, const TrackingRequest& request,
                            double lengthMm, const RfCavity& rf)
{
    const PhasePoint& s = request.start;
    const PhaseVector start{
        s.x / 1000,     s.xp / 1000, s.y / 1000, s.yp / 1000, request.offMomentum ? request.delta : 0,
        lengthMm / 1000};
    const LossLimits limits = lossLimits(request);
    return SymplecticRun(buildSymplecticLattice(state, messages, rf), start, request.turns,
                         Aperture{limits.x / 1000, limits.y / 1000});
}

PhasePoint transversePoint(const PhaseVector& p)
{
    return {p.x * 1000, p.px * 1000, p.y * 1000, p.py * 1000};
}

void finishSymplecticTracking(State& state, Messages& messages, const SymplecticRun& run)
{
    if (run.lost())
        messages.error(lostParticleText(state.line, run.turn(), run.lostElement()));
    const PhasePoint p = transversePoint(run.particle());
    // a particle that left every number behind leaves the start values as they were
    if (!std::isfinite(p.x) || !std::isfinite(p.xp) || !std::isfinite(p.y) || !std::isfinite(p.yp))
        return;
    state.run.x0 = p.x;
    state.run.xp0 = p.xp;
    state.run.y0 = p.y;
    state.run.yp0 = p.yp;
}

TrackedTunes linearTunes(const std::vector<PhasePoint>& points)
{
    const std::size_t n = std::min(points.size(), static_cast<std::size_t>(kTuneTurns));
    std::vector<double> x(n), xp(n), y(n), yp(n);
    for (std::size_t t = 0; t < n; ++t) {
        x[t] = points[t].x;
        xp[t] = points[t].xp;
        y[t] = points[t].y;
        yp[t] = points[t].yp;
    }
    return {fractionalTune(x, xp), fractionalTune(y, yp), std::nan("")};
}

std::string tunesText(const TrackedTunes& tunes, bool longitudinal)
{
    std::string text = "tunes: Q_x = " + fmtOrNa("%7.5f", tunes.x) + "   Q_y = " + fmtOrNa("%7.5f", tunes.y);
    if (longitudinal)
        text += "   Q_s = " + fmtOrNa("%8.6f", tunes.synchrotron);
    return text;
}

} // namespace kestrune
