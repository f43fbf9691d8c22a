#include "core/aperture/MomentumAcceptance.h"

#include "core/aperture/Bisection.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>

namespace kestrune {

std::vector<int> acceptancePoints(int cellElements, int every)
{
    std::vector<int> points;
    for (int i = 1; i <= cellElements; i += std::max(every, 1))
        points.push_back(i);
    return points;
}

bool checkAcceptanceRing(const ApertureRing& ring, Messages& messages)
{
    if (!ring.lattice.rf.on || !(ring.rfAcceptance > 0) || !std::isfinite(ring.rfAcceptance)) {
        messages.error(kAcceptanceNeedsRf);
        return false;
    }
    return true;
}

MomentumAcceptance momentumAcceptance(const ApertureRing& ring, const MomentumAcceptanceSettings& settings,
                                      const ScanControl& control)
{
    MomentumAcceptance ma;
    ma.rfAcceptance = ring.rfAcceptance;
    ma.elements = acceptancePoints(ring.cellElements(), settings.every);
    const double missing = std::numeric_limits<double>::quiet_NaN();
    for (int i : ma.elements)
        ma.s.push_back(ring.elementStart[static_cast<std::size_t>(i) - 1]);
    ma.deltaPlus.assign(ma.elements.size(), missing);
    ma.deltaMinus.assign(ma.elements.size(), missing);

    std::vector<int> points;
    for (int k = 0; k < static_cast<int>(ma.elements.size()); ++k)
        if (settings.part.holds(k))
            points.push_back(k);
    const int n = static_cast<int>(points.size());
    const long long planned = 2LL * n * plannedTrials(ring.rfAcceptance, settings.resolution);
    std::atomic<long long> trialsDone{0};
    std::unique_ptr<std::atomic<double>[]> running(new std::atomic<double>[static_cast<std::size_t>(n)]);
    for (int t = 0; t < n; ++t)
        running[static_cast<std::size_t>(t)] = 0;
    std::atomic<bool> stopped{false};

    const auto searchPoint = [&](int task) {
        const auto k = static_cast<std::size_t>(points[static_cast<std::size_t>(task)]);
        // +delta and -delta, each from 0 to the rf acceptance
        Bisection side[2];
        for (Bisection& b : side)
            b.hi = ring.rfAcceptance;
        std::atomic<double>& now = running[static_cast<std::size_t>(task)];
        std::vector<PhaseVector> start;
        std::vector<Bisection*> asked;
        while (!side[0].done || !side[1].done) {
            start.clear();
            asked.clear();
            for (int j = 0; j < 2; ++j) {
                if (side[j].done)
                    continue;
                start.push_back({0, 0, 0, 0, j == 0 ? side[j].trial() : -side[j].trial(), 0});
                asked.push_back(&side[j]);
            }
            const double size = static_cast<double>(asked.size());
            const TrackingOutcome out =
                trackTogether(ring.lattice, start, settings.turns, settings.aperture, ma.elements[k],
                              control.cancel, [&now, size](double f) { now = f * size; });
            now = 0;
            if (out.cancelled) {
                stopped = true;
                return;
            }
            for (std::size_t j = 0; j < asked.size(); ++j)
                asked[j]->take(!out.particles[j].lost, settings.resolution);
            trialsDone += static_cast<long long>(asked.size());
        }
        ma.deltaPlus[k] = side[0].lo;
        ma.deltaMinus[k] = 0.0 - side[1].lo; // 0, not -0, for a point without acceptance
    };
    const auto report = [&] {
        if (!control.progress)
            return;
        double done = static_cast<double>(trialsDone.load());
        for (int t = 0; t < n; ++t)
            done += running[static_cast<std::size_t>(t)].load();
        control.progress(planned > 0 ? std::min(1.0, done / static_cast<double>(planned)) : 1.0);
    };
    runTasks(n, control.threads, searchPoint, report);
    ma.cancelled = stopped;
    if (control.progress)
        control.progress(1);
    return ma;
}

} // namespace kestrune
