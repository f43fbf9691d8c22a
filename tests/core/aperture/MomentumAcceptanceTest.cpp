// The local momentum acceptance: the rf bucket and the dispersive aperture limit of a linear ring,
// threads and parts, the refusal without rf.
#include "core/aperture/MomentumAcceptance.h"

#include "ApertureRings.h"
#include "core/tracking/ParticleTracker.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace kestrune {
namespace {

// Where a particle on the reference orbit is kicked to delta, its betatron invariant about the
// dispersion orbit is 2J = H delta^2 (H the curly H there); its excursion at s reaches
// (|eta(s)| + sqrt(H beta(s))) |delta|, so that it stays inside the aperture a for
// delta < min over s of a / (|eta| + sqrt(H beta)).
double dispersiveLimit(const std::vector<OpticsRow>& rows, int element, double a)
{
    const LatticeFunctions& f = rows[static_cast<std::size_t>(element) - 1].lf;
    const double h = f.gammaX * f.eta * f.eta + 2 * f.alphaX * f.eta * f.etaP + f.betaX * f.etaP * f.etaP;
    double limit = 1;
    for (const OpticsRow& r : rows)
        limit = std::min(limit, a / (std::fabs(r.lf.eta) + std::sqrt(h * r.lf.betaX)));
    return limit;
}

// Without sextupoles: the rf acceptance (a large aperture and a low voltage) or the dispersive limit (a
// small aperture), whichever is smaller. What the closed forms leave out grows with delta: the second-
// order dispersion and momentum compaction (1 % at a few 1e-4 here) and, away from the cavity, the
// path length a particle collects before it reaches it (2 % of the bucket in the arc).
TEST(MomentumAcceptance, WithoutSextupolesIsTheRfOrTheDispersiveLimit)
{
    struct Case
    {
        double aperture; // m
        double voltage;  // V
        double resolution;
    };
    for (const Case c : {Case{0.0005, 0, 1e-6}, Case{0.03, 3e5, 1e-5}}) {
        const State state = test::dbaState(0, c.voltage);
        const ApertureRing ring = test::dbaRing(0, c.voltage);
        const std::vector<OpticsRow> rows = test::opticsRows(state);
        MomentumAcceptanceSettings settings;
        settings.turns = 256;
        settings.every = 3;
        settings.resolution = c.resolution;
        settings.aperture = {c.aperture, 0.015};
        const MomentumAcceptance ma = momentumAcceptance(ring, settings);
        ASSERT_EQ(ma.elements.size(), 10u);
        for (std::size_t k = 0; k < ma.elements.size(); ++k) {
            const double expected =
                std::min(ring.rfAcceptance, dispersiveLimit(rows, ma.elements[k], c.aperture));
            EXPECT_NEAR(ma.deltaPlus[k], expected, 0.03 * expected) << ma.elements[k];
            EXPECT_NEAR(-ma.deltaMinus[k], expected, 0.03 * expected) << ma.elements[k];
            EXPECT_LE(ma.deltaPlus[k], ring.rfAcceptance);
        }
    }
}

// The DBA ring's sextupoles, scaled up until its chromatic tune shift takes particles across resonances
// within the bucket: at the ring's start, on an even grid of deviations up to the rf acceptance, the first
// loss has survivors above it, a stable island. The acceptance is the lower edge of the first loss, not
// the island (the grid is the search's first round, so its first loss is the search's too).
TEST(MomentumAcceptance, IsTheLowerEdgeAndNotAStableIslandAbove)
{
    MomentumAcceptanceSettings settings;
    settings.turns = 512;
    settings.every = 100; // the ring's start alone
    constexpr int kGrid = 32;
    bool island = false;
    for (double scale : {2.0, 2.5, 3.0}) {
        const ApertureRing ring = test::dbaRing(scale);
        std::vector<PhaseVector> start;
        for (int k = 1; k <= kGrid; ++k)
            start.push_back({0, 0, 0, 0, ring.rfAcceptance * k / kGrid, 0});
        TrackingOptions options;
        options.turns = settings.turns;
        options.aperture = settings.aperture;
        const TrackingOutcome out = trackParticles(ring.lattice, start, options);
        int first = 0; // index of the first loss
        while (first < kGrid && !out.particles[static_cast<std::size_t>(first)].lost)
            ++first;
        int above = 0;
        for (int k = first; k < kGrid; ++k)
            above += out.particles[static_cast<std::size_t>(k)].lost ? 0 : 1;
        if (above == 0)
            continue;
        island = true;
        const double plus = momentumAcceptance(ring, settings).deltaPlus[0];
        EXPECT_LT(plus, start[static_cast<std::size_t>(first)].delta) << scale;
        EXPECT_GE(plus, first > 0 ? start[static_cast<std::size_t>(first) - 1].delta : 0.0) << scale;
        break;
    }
    EXPECT_TRUE(island) << "no ring of the scan has an island";
}

TEST(MomentumAcceptance, ResultsDoNotDependOnThreadsOrParts)
{
    const ApertureRing ring = test::dbaRing(1);
    MomentumAcceptanceSettings settings;
    settings.turns = 128;
    settings.every = 4;
    settings.aperture = {0.01, 0.005};
    ScanControl control;
    control.threads = 1;
    const MomentumAcceptance one = momentumAcceptance(ring, settings, control);
    MomentumAcceptance merged = one;
    control.threads = 2;
    for (int k = 1; k <= 2; ++k) {
        settings.part = {k, 2};
        const MomentumAcceptance part = momentumAcceptance(ring, settings, control);
        for (std::size_t i = 0; i < one.s.size(); ++i) {
            if (!settings.part.holds(static_cast<int>(i)))
                continue;
            merged.deltaPlus[i] = part.deltaPlus[i];
            merged.deltaMinus[i] = part.deltaMinus[i];
        }
    }
    const std::size_t bytes = one.s.size() * sizeof(double);
    EXPECT_EQ(std::memcmp(merged.deltaPlus.data(), one.deltaPlus.data(), bytes), 0);
    EXPECT_EQ(std::memcmp(merged.deltaMinus.data(), one.deltaMinus.data(), bytes), 0);
}

// The whole ring rolled by pi/2 is the same machine seen from a turned frame: its rf bucket, from the
// coupled optics' slip factor, and its acceptance are the unrolled ring's.
TEST(MomentumAcceptance, ARingRolledByAQuarterTurnHasTheSameAcceptance)
{
    State state = test::dbaState(1, 3e5);
    State rolled = state;
    for (int i = 1; i <= rolled.line.count; ++i)
        rolled.line.at(i).tilt = kPi / 2;
    test::FakeMessages messages;
    const std::optional<ApertureRing> plain = apertureRing(state, messages);
    const std::optional<ApertureRing> turned = apertureRing(rolled, messages);
    ASSERT_TRUE(plain && turned) << (messages.errors.empty() ? "" : messages.errors[0]);
    ASSERT_TRUE(turned->coupled);
    EXPECT_NEAR(turned->rfAcceptance, plain->rfAcceptance, 1e-9 * plain->rfAcceptance);
    MomentumAcceptanceSettings settings;
    settings.turns = 256;
    settings.every = 6;
    settings.resolution = 1e-5;
    settings.aperture = {0.03, 0.03};
    ASSERT_TRUE(checkAcceptanceRing(*turned, messages));
    const MomentumAcceptance a = momentumAcceptance(*plain, settings);
    const MomentumAcceptance b = momentumAcceptance(*turned, settings);
    ASSERT_EQ(a.elements.size(), b.elements.size());
    for (std::size_t k = 0; k < a.elements.size(); ++k) {
        EXPECT_NEAR(b.deltaPlus[k], a.deltaPlus[k], 2 * settings.resolution) << a.elements[k];
        EXPECT_NEAR(b.deltaMinus[k], a.deltaMinus[k], 2 * settings.resolution) << a.elements[k];
    }
}

TEST(MomentumAcceptance, RefusedWithoutTheRingOrItsRf)
{
    test::FakeMessages messages;
    State open = test::dbaState();
    open.ringClosed = false;
    EXPECT_FALSE(apertureRing(open, messages));
    State noRf = test::dbaState();
    noRf.rf.voltage = 0;
    ASSERT_TRUE(apertureRing(noRf, messages));
    EXPECT_FALSE(checkAcceptanceRing(*apertureRing(noRf, messages), messages));
    EXPECT_EQ(messages.errors, (std::vector<std::string>{kApertureNeedsRing, kAcceptanceNeedsRf}));
    EXPECT_EQ(acceptancePoints(10, 4), (std::vector<int>{1, 5, 9}));
}

} // namespace
} // namespace kestrune
