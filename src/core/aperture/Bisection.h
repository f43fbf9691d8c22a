#pragma once

#include "core/tracking/ParticleTracker.h"

#include <cmath>
#include <functional>
#include <utility>
#include <vector>

namespace kestrune {

/// The search of one scan item for the largest value that survives, between 0 (taken to survive) and
/// an upper end: the end itself first, then a point of [lo, hi] until it is narrower than the
/// resolution. lo is the result.
struct Bisection
{
    int item = 0;
    double lo = 0;
    double hi = 0;
    bool first = true;
    bool done = false;

    // A survivor costs all the turns, a particle beyond the aperture is mostly lost within a few: trials
    // high in the interval halve the survivors of a plain bisection for a quarter more trials.
    static constexpr double kSplit = 0.85;

    double trial() const { return first ? hi : lo + kSplit * (hi - lo); }
    void take(bool survived, double resolution)
    {
        const double tried = trial();
        if (first && survived) {
            lo = hi;
            done = true;
        } else if (survived) {
            lo = tried;
        } else {
            hi = tried;
        }
        first = false;
        done = done || hi - lo <= resolution;
    }
};

/// The trials a search from the upper end to the resolution takes on average: each narrows the
/// interval by the entropy of the split, in bits, when the result is anywhere in it.
inline int plannedTrials(double upper, double resolution)
{
    const double q = Bisection::kSplit;
    const double bits = -(q * std::log2(q) + (1 - q) * std::log2(1 - q));
    return 1 + (upper > resolution ? static_cast<int>(std::ceil(std::log2(upper / resolution) / bits)) : 0);
}

/// Particles tracked together on the calling thread, from the ring position startElement.
inline TrackingOutcome trackTogether(const SymplecticLattice& lattice, const std::vector<PhaseVector>& start,
                                     int turns, const Aperture& aperture, int startElement,
                                     const std::atomic<bool>* cancel, std::function<void(double)> progress)
{
    TrackingOptions options;
    options.turns = turns;
    options.aperture = aperture;
    options.startElement = startElement;
    options.threads = 1;
    options.cancel = cancel;
    options.progress = std::move(progress);
    return trackParticles(lattice, start, options);
}

} // namespace kestrune
