// Tunes from turn-by-turn data of known oscillations.
#include "core/tracking/TuneAnalysis.h"

#include "core/Constants.h"

#include <cmath>
#include <gtest/gtest.h>

namespace kestrune {
namespace {

struct Series
{
    std::vector<double> q, p;
};

// A linear oscillation of tune Q with Courant-Snyder beta, alpha about an offset, plus a weaker second line.
Series oscillation(double tune, int turns, double beta, double alpha, double offset = 0, double second = 0)
{
    Series s;
    for (int n = 0; n < turns; ++n) {
        const double phi = kTwoPi * tune * n + 0.3;
        s.q.push_back(offset + std::sqrt(beta) * std::cos(phi) + second * std::cos(3.7 * n));
        s.p.push_back(-(std::sin(phi) + alpha * std::cos(phi)) / std::sqrt(beta));
    }
    return s;
}

TEST(TuneAnalysis, FindsTheTuneOfAnOscillation)
{
    struct Case
    {
        double tune, beta, alpha, offset, second;
        int turns;
    };
    const Case cases[] = {
        {0.263396, 6, 0, 0, 0, 1024}, {0.631757, 3.2, -1.5, 1e-3, 0, 500}, {0.4987, 20, 2, 0, 0, 2048},
        {0.0123, 1, 0, 5, 0, 1024},   {0.97, 12, 0.4, 0, 0.2, 1000},       {0.181944, 2, 0, 0, 0.3, 64},
    };
    for (const Case& c : cases) {
        const Series s = oscillation(c.tune, c.turns, c.beta, c.alpha, c.offset, c.second);
        // a weaker line elsewhere leaks through the window's side lobes: less at more turns
        const double tolerance = c.second != 0 ? 1e-6 : 1e-8;
        EXPECT_NEAR(fractionalTune(s.q, s.p), c.tune, tolerance) << c.tune;
    }
}

TEST(TuneAnalysis, NeedsTurnsAndMotion)
{
    const Series few = oscillation(0.3, kFewestTuneTurns - 1, 1, 0);
    EXPECT_TRUE(std::isnan(fractionalTune(few.q, few.p)));
    const std::vector<double> still(100, 1e-3);
    EXPECT_TRUE(std::isnan(fractionalTune(still, still)));
    // without a conjugate momentum the real signal gives the tune below one half
    const Series s = oscillation(0.7, 512, 1, 0);
    EXPECT_NEAR(fractionalTune(s.q, std::vector<double>(512, 0.0)), 0.3, 1e-9);
}

TEST(TuneAnalysis, SynchrotronMotionIsTakenOutOfTheBetatronTune)
{
    // x = betatron + eta delta(t), delta oscillating at Qs
    std::vector<PhaseVector> turns;
    for (int n = 0; n < 1000; ++n) {
        const double delta = 3e-3 * std::cos(kTwoPi * 0.021 * n);
        const double l = 0.4 * std::sin(kTwoPi * 0.021 * n);
        const double phi = kTwoPi * 0.2634 * n;
        turns.push_back({1e-4 * std::cos(phi) + 1.3 * delta, -1e-4 / 6 * std::sin(phi),
                         1e-5 * std::cos(2 * phi), 0, delta, l});
    }
    const TrackedTunes t = trackedTunes(turns, true);
    EXPECT_NEAR(t.x, 0.2634, 1e-9);
    EXPECT_NEAR(t.synchrotron, 0.021, 1e-9);
    EXPECT_TRUE(std::isnan(trackedTunes(turns, false).synchrotron));
}

} // namespace
} // namespace kestrune
