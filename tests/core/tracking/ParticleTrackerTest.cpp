// Many particles at once: losses, threads, cancel, progress, runs in pieces.
#include "TrackingRings.h"

#include <cstring>

namespace kestrune {
namespace {

// The double-bend ring with its sextupoles and rf: particles up to large amplitudes, some of them lost.
struct Ring
{
    State state = test::validationRing("double-bend-sextupoles");
    SymplecticLattice lattice;
    Ring()
    {
        test::computeRf(state);
        lattice = test::latticeOf(state, rfCavity(state));
    }
};

std::vector<PhaseVector> fan(int n)
{
    std::vector<PhaseVector> start;
    for (int i = 0; i < n; ++i)
        start.push_back({2e-4 * i, 0, 1e-4 * (i % 7), 0, 1e-4 * (i % 11 - 5), 0});
    return start;
}

bool same(const ParticleFate& a, const ParticleFate& b)
{
    return a.lost == b.lost && a.turn == b.turn && a.element == b.element &&
           std::memcmp(&a.final, &b.final, sizeof(PhaseVector)) == 0;
}

TEST(ParticleTracker, ResultsDoNotDependOnTheThreads)
{
    const Ring ring;
    const std::vector<PhaseVector> start = fan(150); // three blocks, the last one partly filled
    TrackingOptions options;
    options.turns = 40;
    options.aperture = {0.02, 0.01};
    options.threads = 1;
    const TrackingOutcome one = trackParticles(ring.lattice, start, options);
    int lost = 0;
    for (const ParticleFate& f : one.particles)
        lost += f.lost;
    ASSERT_GT(lost, 10);
    ASSERT_LT(lost, 140);
    for (int threads : {2, 3}) {
        options.threads = threads;
        const TrackingOutcome many = trackParticles(ring.lattice, start, options);
        for (std::size_t i = 0; i < start.size(); ++i)
            EXPECT_TRUE(same(one.particles[i], many.particles[i])) << i << " with " << threads << " threads";
    }
    // a particle alone has the numbers it has among the others
    for (std::size_t i : {0, 77, 149}) {
        const TrackingOutcome alone = trackParticles(ring.lattice, {start[i]}, options);
        EXPECT_TRUE(same(alone.particles[0], one.particles[i])) << i;
    }
}

TEST(ParticleTracker, LossIsReportedAtTheElementAndTurn)
{
    const Ring ring;
    TrackingOptions options;
    options.turns = 5;
    options.aperture = {0.01, 0.01};
    const int n = static_cast<int>(ring.lattice.cell.size());
    // beyond the aperture from the start: lost after the first element passed, in turn 1
    for (int startElement : {1, 4, 2 * n + 3}) {
        options.startElement = startElement;
        const ParticleFate f = trackParticles(ring.lattice, {{0.011, 0, 0, 0, 0, 0}}, options).particles[0];
        EXPECT_TRUE(f.lost);
        EXPECT_EQ(f.turn, 1);
        EXPECT_EQ(f.element, startElement);
    }
    // a slope that carries the particle beyond the vertical aperture within the first drift of 2 m
    options.startElement = 1;
    const ParticleFate f = trackParticles(ring.lattice, {{0, 0, 0, 0.006, 0, 0}}, options).particles[0];
    EXPECT_EQ(f.element, 1);
    EXPECT_NEAR(f.final.y, 0.012, 1e-9);
    // a survivor has all turns and no element
    const ParticleFate kept = trackParticles(ring.lattice, {{1e-4, 0, 0, 0, 0, 0}}, options).particles[0];
    EXPECT_FALSE(kept.lost);
    EXPECT_EQ(kept.turn, 5);
    EXPECT_EQ(kept.element, 0);
}

TEST(ParticleTracker, CancelStopsAndProgressEndsAtOne)
{
    const Ring ring;
    std::atomic<bool> cancel{true};
    std::vector<double> reported;
    TrackingOptions options;
    options.turns = 1000;
    options.cancel = &cancel;
    options.progress = [&reported](double f) { reported.push_back(f); };
    const TrackingOutcome outcome = trackParticles(ring.lattice, fan(3), options);
    EXPECT_TRUE(outcome.cancelled);
    EXPECT_EQ(outcome.particles[1].turn, 0);
    ASSERT_FALSE(reported.empty());
    EXPECT_EQ(reported.back(), 1.0);
    cancel = false;
    options.turns = 3;
    options.threads = 2;
    EXPECT_FALSE(trackParticles(ring.lattice, fan(3), options).cancelled);
}

TEST(ParticleTracker, RunInPiecesIsTheRunInOne)
{
    const Ring ring;
    const PhaseVector start{3e-3, 1e-4, 1e-3, 0, 2e-3, 1e-3};
    SymplecticRun whole(ring.lattice, start, 30, Aperture{});
    SymplecticRun pieces(ring.lattice, start, 30, Aperture{});
    std::vector<PhaseVector> a, b;
    whole.advance(100, a);
    for (int i = 0; i < 7; ++i)
        pieces.advance(5, b);
    ASSERT_EQ(a.size(), 30u);
    ASSERT_EQ(b.size(), 30u);
    EXPECT_EQ(std::memcmp(a.data(), b.data(), a.size() * sizeof(PhaseVector)), 0);
    EXPECT_TRUE(pieces.finished());
    // and the multi-particle tracker ends where the run does
    TrackingOptions options;
    options.turns = 30;
    const ParticleFate f = trackParticles(ring.lattice, {start}, options).particles[0];
    EXPECT_EQ(std::memcmp(&f.final, &a.back(), sizeof(PhaseVector)), 0);
}

} // namespace
} // namespace kestrune
