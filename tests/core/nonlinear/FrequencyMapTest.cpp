// The frequency map: the linear tunes at small amplitude, lost points, threads and parts.
#include "core/nonlinear/FrequencyMap.h"

#include "core/aperture/ApertureRings.h"

#include <cmath>

namespace kestrune {
namespace {

double fractional(double q)
{
    return q - std::floor(q);
}

// Amplitudes of 1 um see the periodic solution's tunes (the detuning of the sextupoles is 1e-9 there):
// the tune analysis of 512 turns against the optics' ring pass, another model and another code path.
TEST(FrequencyMap, SmallAmplitudesHaveTheRingsTunesAndNoDiffusion)
{
    State state = test::dbaState();
    test::FakeMessages messages;
    ASSERT_TRUE(betaFunctions(state, messages, nullptr));
    const std::optional<ApertureRing> ring = apertureRing(state, messages);
    ASSERT_TRUE(ring.has_value());
    for (const FrequencyMapPlane plane : {FrequencyMapPlane::XY, FrequencyMapPlane::XDelta}) {
        FrequencyMapSettings settings;
        settings.plane = plane;
        settings.nx = 2;
        settings.ny = plane == FrequencyMapPlane::XY ? 2 : 1; // one row: delta = 0
        settings.xMax = 2e-6;
        settings.yMax = 2e-6;
        const FrequencyMap map = frequencyMap(*ring, settings);
        for (const FrequencyMapPoint& p : map.points) {
            ASSERT_TRUE(p.computed && !p.lost && p.tunesFound);
            EXPECT_NEAR(p.qx1, fractional(state.lf.tuneX), 1e-6);
            EXPECT_NEAR(p.qy2, fractional(state.lf.tuneY), 1e-6);
            EXPECT_LT(p.diffusion, -10) << p.x << " " << p.y << " " << p.qx1 - p.qx2 << " " << p.qy1 - p.qy2;
        }
    }
}

bool samePoints(const FrequencyMap& a, const FrequencyMap& b)
{
    if (a.points.size() != b.points.size())
        return false;
    for (std::size_t k = 0; k < a.points.size(); ++k) {
        const FrequencyMapPoint &p = a.points[k], &q = b.points[k];
        if (p.computed != q.computed || p.lost != q.lost || p.lostTurn != q.lostTurn || p.qx1 != q.qx1 ||
            p.qy1 != q.qy1 || p.qx2 != q.qx2 || p.qy2 != q.qy2 || p.diffusion != q.diffusion)
            return false;
    }
    return true;
}

// Points out to the physical aperture: the outer ones are lost and have no tunes; the map is the same
// on one and two threads and joined from three interleaved parts, and a part leaves the others' points
// alone.
TEST(FrequencyMap, LostPointsThreadsAndParts)
{
    const ApertureRing ring = test::dbaRing();
    FrequencyMapSettings settings;
    settings.nx = 5;
    settings.ny = 3;
    settings.xMax = 0.03;
    settings.yMax = 0.012;
    settings.turns = 64;
    ScanControl one;
    one.threads = 1;
    const FrequencyMap whole = frequencyMap(ring, settings, one);
    int lost = 0;
    for (const FrequencyMapPoint& p : whole.points) {
        EXPECT_TRUE(p.computed);
        lost += p.lost ? 1 : 0;
        if (p.lost) {
            EXPECT_FALSE(p.tunesFound);
        }
    }
    EXPECT_GT(lost, 0);
    EXPECT_LT(lost, static_cast<int>(whole.points.size()));
    ScanControl two;
    two.threads = 2;
    EXPECT_TRUE(samePoints(whole, frequencyMap(ring, settings, two)));
    FrequencyMap joined;
    for (int k = 1; k <= 3; ++k) {
        settings.part = {k, 3};
        const FrequencyMap part = frequencyMap(ring, settings, two);
        joined.points.resize(part.points.size());
        for (std::size_t i = 0; i < part.points.size(); ++i) {
            EXPECT_EQ(part.points[i].computed, settings.part.holds(static_cast<int>(i)));
            if (part.points[i].computed)
                joined.points[i] = part.points[i];
        }
    }
    EXPECT_TRUE(samePoints(whole, joined));
}

// A tune change across the wrap of the fractional tunes is the short way round.
TEST(FrequencyMap, DiffusionIndexTakesTheShortWayRound)
{
    EXPECT_NEAR(diffusionIndex(0.001 - 0.999, 0, 512, false), std::log10(0.002), 1e-12);
    EXPECT_EQ(diffusionIndex(0, 0, 512, false), kLeastDiffusion); // never -inf
}

} // namespace
} // namespace kestrune
