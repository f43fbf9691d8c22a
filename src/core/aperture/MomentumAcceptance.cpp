#include "core/aperture/MomentumAcceptance.h"

#include "core/aperture/Bisection.h"
#include "core/aperture/DynamicAperture.h"

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
    if (!(ring.lattice.rf.on || ring.lattice.cavityElements) || !(ring.rfAcceptance > 0) ||
        !std::isfinite(ring.rfAcceptance)) {
        messages.error(kAcceptanceNeedsRf);
        return false;
    }
    return true;
}

namespace {

// The search from the stable side outwards: the first round tries kCoarseSteps deviations evenly up to
// the rf acceptance, every later round splits the bracket between the largest deviation below which all
// tried survived and the first lost one into up to kBracketParts parts, until it is narrower than the
// resolution. A deviation above a lost one never counts, however long it survives: a particle that
// lives in a stable island beyond the chromatic resonance its neighbours below die on is no acceptance
// a bunch can use, since the Touschek-scattered particles fill every deviation up to theirs. The trials
// of a round are tracked together, both signs in one block of the vector kernels.
constexpr int kCoarseSteps = 32;
constexpr int kBracketParts = 16;

struct OutwardSearch
{
    double lo = 0; // every deviation tried up to it survived
    double hi = 0; // the smallest lost deviation above lo; the rf acceptance, untried, at first
    bool started = false;
    bool done = false;
    std::vector<double> trials; // of the round, ascending

    void plan(double resolution)
    {
        trials.clear();
        const int parts =
            started ? static_cast<int>(std::min<double>(kBracketParts, std::ceil((hi - lo) / resolution)))
                    : kCoarseSteps;
        for (int k = 1; k < parts; ++k)
            trials.push_back(lo + (hi - lo) * k / parts);
        if (!started)
            trials.push_back(hi);
    }
    // survived[k] for trials[k]
    void take(const std::vector<bool>& survived, double resolution)
    {
        started = true;
        std::size_t k = 0;
        while (k < trials.size() && survived[k])
            lo = trials[k++];
        if (k < trials.size())
            hi = trials[k];
        done = !(hi - lo > resolution);
    }
};

// Rounds of a search from 0 to upper at the resolution, for the progress bar.
long long plannedOutwardTrials(double upper, double resolution)
{
    long long trials = kCoarseSteps;
    for (double width = upper / kCoarseSteps; width > resolution && width > 0; width /= kBracketParts)
        trials += kBracketParts - 1;
    return trials;
}

} // namespace

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
    const long long planned = 2LL * n * plannedOutwardTrials(ring.rfAcceptance, settings.resolution);
    std::atomic<long long> trialsDone{0};
    std::unique_ptr<std::atomic<double>[]> running(new std::atomic<double>[static_cast<std::size_t>(n)]);
    for (int t = 0; t < n; ++t)
        running[static_cast<std::size_t>(t)] = 0;
    std::atomic<bool> stopped{false};

    const auto searchPoint = [&](int task) {
        const auto k = static_cast<std::size_t>(points[static_cast<std::size_t>(task)]);
        // +delta and -delta, each from 0 to the rf acceptance
        OutwardSearch side[2];
        for (OutwardSearch& b : side)
            b.hi = ring.rfAcceptance;
        std::atomic<double>& now = running[static_cast<std::size_t>(task)];
        // the particles start on the closed orbit of the point (4D, rf off), which errors and kicks move
        // off the axis, with the deviation added; a point without one holds no particle at all
        const PhaseVector orbit = closedOrbit(ring.lattice, 0, ma.elements[k]);
        if (!std::isfinite(orbit.x) || !std::isfinite(orbit.y)) {
            ma.deltaPlus[k] = 0;
            ma.deltaMinus[k] = 0;
            trialsDone += 2 * plannedOutwardTrials(ring.rfAcceptance, settings.resolution);
            return;
        }
        std::vector<PhaseVector> start;
        std::vector<bool> survived;
        while (!side[0].done || !side[1].done) {
            start.clear();
            for (int j = 0; j < 2; ++j) {
                if (side[j].done)
                    continue;
                side[j].plan(settings.resolution);
                for (double d : side[j].trials)
                    start.push_back({orbit.x, orbit.px, orbit.y, orbit.py, j == 0 ? d : -d, 0});
            }
            const double size = static_cast<double>(start.size());
            const TrackingOutcome out =
                trackTogether(ring.lattice, start, settings.turns, settings.aperture, ma.elements[k],
                              control.cancel, [&now, size](double f) { now = f * size; });
            now = 0;
            if (out.cancelled) {
                stopped = true;
                return;
            }
            std::size_t at = 0;
            for (OutwardSearch& b : side) {
                if (b.done)
                    continue;
                survived.clear();
                for (std::size_t t = 0; t < b.trials.size(); ++t)
                    survived.push_back(!out.particles[at++].lost);
                b.take(survived, settings.resolution);
            }
            trialsDone += static_cast<long long>(start.size());
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
