#include "core/tracking/LinearMapTracking.h"

#include "core/chromaticity/Chromaticity.h"
#include "core/chromaticity/TestRings.h"
#include "core/optics/BetaFunctions.h"
#include "core/optics/TransferMatrix.h"

#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <vector>

namespace kestrune {
namespace {

using test::FakeMessages;

TrackingRequest request(double x, int turns)
{
    TrackingRequest r;
    r.start.x = x;
    r.turns = turns;
    return r;
}

bool sameRecords(const BeamLine& a, const BeamLine& b, int count)
{
    for (int i = 1; i <= count; ++i) {
        const LatticeElement& p = a.at(i);
        const LatticeElement& q = b.at(i);
        if (p.code != q.code || p.length != q.length || p.curvature != q.curvature || p.k != q.k ||
            p.m != q.m || p.ain != q.ain || p.aout != q.aout || p.gap != q.gap)
            return false;
    }
    return true;
}

TEST(LinearMapTracking, ParticleAt600MillimetresIsLostInTheFirstTurnAfterTheFirstElement)
{
    State state = test::dbaRing();
    FakeMessages messages;
    const auto result = trackParticle(state, messages, request(600, 10));
    ASSERT_TRUE(result);
    EXPECT_TRUE(result->lost);
    EXPECT_EQ(result->turn, 1);
    EXPECT_EQ(result->lostElement, 1);
    EXPECT_TRUE(result->points.empty());
    ASSERT_EQ(messages.errors.size(), 1u);
    EXPECT_EQ(messages.errors[0], "particle was lost during turn # 1 after element 1 (LS)");
}

TEST(LinearMapTracking, OneTurnWithoutLossGivesOnePoint)
{
    State state = test::dbaRing();
    FakeMessages messages;
    const auto result = trackParticle(state, messages, request(1, 1));
    ASSERT_TRUE(result);
    EXPECT_FALSE(result->lost);
    EXPECT_EQ(result->points.size(), 1u);
    EXPECT_TRUE(messages.errors.empty());
}

TEST(LinearMapTracking, FinalCoordinatesBecomeTheSingleParticleStart)
{
    State state = test::dbaRing();
    FakeMessages messages;
    TrackingRequest r = request(2, 7);
    r.start.yp = 0.1;
    const auto result = trackParticle(state, messages, r);
    ASSERT_TRUE(result);
    EXPECT_EQ(state.run.x0, result->points.back().x);
    EXPECT_EQ(state.run.xp0, result->points.back().xp);
    EXPECT_EQ(state.run.y0, result->points.back().y);
    EXPECT_EQ(state.run.yp0, result->points.back().yp);
}

TEST(LinearMapTracking, OffMomentumWithZeroDeviationLeavesTheLatticeAndTheOrbitAsTheyWere)
{
    State state = test::dbaRing();
    const State before = state;
    FakeMessages messages;
    TrackingRequest r = request(3, 50);
    const auto onMomentum = trackParticle(state, messages, r);
    r.offMomentum = true;
    r.delta = 0;
    const auto offMomentum = trackParticle(state, messages, r);
    ASSERT_TRUE(onMomentum && offMomentum);
    EXPECT_TRUE(sameRecords(state.line, before.line, state.line.count));
    EXPECT_EQ(offMomentum->final.x, onMomentum->final.x);
    EXPECT_EQ(offMomentum->final.xp, onMomentum->final.xp);
}

TEST(LinearMapTracking, OffMomentumScalingIsNeverWrittenIntoTheLine)
{
    State state = test::dbaRing();
    const State before = state;
    FakeMessages messages;
    TrackingRequest r = request(600, 10);
    r.offMomentum = true;
    r.delta = 0.013;
    ASSERT_TRUE(trackParticle(state, messages, r));
    EXPECT_TRUE(sameRecords(state.line, before.line, state.line.count));
}

TEST(LinearMapTracking, RefusedRequestsSayWhyAndTrackNothing)
{
    State state = test::dbaRing();
    const auto refused = [&](TrackingRequest r) {
        FakeMessages messages;
        const bool tracked = trackParticle(state, messages, r).has_value();
        EXPECT_FALSE(tracked);
        return messages.errors.empty() ? std::string() : messages.errors[0];
    };
    TrackingRequest r = request(1, 10);
    r.offMomentum = true;
    r.delta = -1;
    EXPECT_EQ(refused(r), "the momentum deviation must be above -100 %!");
    r.delta = -1.5;
    EXPECT_EQ(refused(r), "the momentum deviation must be above -100 %!");
    EXPECT_EQ(refused(request(1, 0)), "the number of turns must be at least 1!");
    r = request(1, 10);
    r.aperture = true;
    r.apertureMm = 0;
    EXPECT_EQ(refused(r), "the aperture must be larger than 0 mm!");
    State empty;
    FakeMessages messages;
    EXPECT_FALSE(trackParticle(empty, messages, request(1, 1)));
    EXPECT_EQ(messages.errors.at(0), "define a beam line first!");
    EXPECT_EQ(empty.run.x0, 0);
}

TEST(LinearMapTracking, ApertureIsTestedInTheShownPlaneOnly)
{
    State state = test::dbaRing();
    TrackingRequest r = request(10, 5);
    r.aperture = true;
    r.apertureMm = 5;
    FakeMessages messages;
    const auto shownX = trackParticle(state, messages, r);
    ASSERT_TRUE(shownX);
    EXPECT_TRUE(shownX->lost);
    EXPECT_EQ(shownX->turn, 1);
    r.plane = PhasePlane::Y;
    const auto shownY = trackParticle(state, messages, r);
    ASSERT_TRUE(shownY);
    EXPECT_FALSE(shownY->lost);
    EXPECT_EQ(shownY->points.size(), 5u);
}

TEST(LinearMapTracking, TheFullRingIsTheCellTakenSuperperiodTimes)
{
    State cellOnly = test::dbaRing();
    test::setSextupoles(cellOnly, 0);
    for (int i = 1; i <= cellOnly.line.count; ++i)
        if (cellOnly.line.at(i).code == code::kSextupoleF)
            cellOnly.line.at(i).m = 25; // the SF family kept, to make the comparison nonlinear
    State expanded = cellOnly;
    const int n = cellOnly.line.count;
    for (int copy = 1; copy < 12; ++copy)
        for (int j = 1; j <= n; ++j)
            expanded.line.at(copy * n + j) = cellOnly.line.at(j);
    expanded.line.count = 12 * n;
    expanded.line.superPeriods = 1;
    // a stale full-ring count plays no part
    cellOnly.ringElementCount = 3 * kMaxLineElements;
    FakeMessages messages;
    TrackingRequest r = request(4, 200);
    r.start.y = 1;
    const auto a = trackParticle(cellOnly, messages, r);
    const auto b = trackParticle(expanded, messages, r);
    ASSERT_TRUE(a && b);
    ASSERT_EQ(a->points.size(), b->points.size());
    EXPECT_EQ(a->final.x, b->final.x);
    EXPECT_EQ(a->final.yp, b->final.yp);
}

TEST(LinearMapTracking, MapsBuiltOncePerRunGiveExactlyWhatRebuildingThemEveryTurnGives)
{
    State state = test::mixedBendRing();
    test::setSextupoles(state, 10);
    TrackingRequest r = request(2, 1000);
    r.start.y = 1;
    r.offMomentum = true;
    r.delta = 0.002;
    TrackingRun run(state.line, r);
    std::vector<PhasePoint> cached;
    run.advance(r.turns, cached);

    PhasePoint p = r.start;
    const LossLimits limits = lossLimits(r);
    std::vector<PhasePoint> rebuilt;
    for (int t = 0; t < r.turns; ++t) {
        const TrackingMaps maps = buildTrackingMaps(state.line, r.delta);
        ASSERT_EQ(trackTurn(maps, limits, p), 0);
        rebuilt.push_back(p);
    }
    ASSERT_EQ(cached.size(), rebuilt.size());
    // bit for bit: a cached map is the same numbers as a fresh one
    EXPECT_EQ(std::memcmp(cached.data(), rebuilt.data(), cached.size() * sizeof(PhasePoint)), 0);
}

TEST(LinearMapTracking, RunInPiecesEqualsOneRun)
{
    State state = test::mixedBendRing();
    test::setSextupoles(state, 10);
    TrackingRequest r = request(3, 1000);
    TrackingRun whole(state.line, r);
    TrackingRun pieces(state.line, r);
    std::vector<PhasePoint> a, b;
    whole.advance(r.turns, a);
    while (!pieces.finished())
        pieces.advance(333, b);
    ASSERT_EQ(a.size(), b.size());
    EXPECT_EQ(std::memcmp(a.data(), b.data(), a.size() * sizeof(PhasePoint)), 0);
    EXPECT_EQ(pieces.turn(), 1000);
}

TEST(LinearMapTracking, BendMapsCarryTheOpticsPoleFacesWithTheirGap)
{
    State state = test::mixedBendRing();
    FakeMessages messages;
    for (int i : {5, 7}) { // the rectangular and the wedge magnet
        const LatticeElement& e = state.line.at(i);
        ASSERT_TRUE(e.code == code::kRectangularBend || e.code == code::kWedgeBend);
        // the optics: entrance face, body, exit face, multiplied as the periodic solution does
        resetTotal(state.matrix);
        edgeMatrix(state.matrix, e.curvature, e.ain, e.gap);
        addEdgeToTotal(state.matrix);
        elementMatrix(state, messages, i, e.length);
        multiplyTotal(state.matrix);
        edgeMatrix(state.matrix, e.curvature, e.aout, e.gap);
        addEdgeToTotal(state.matrix);
        const auto& m = state.matrix.m;
        const TrackingElement t = buildTrackingMaps(state.line, 0).cell.at(static_cast<std::size_t>(i - 1));
        EXPECT_NEAR(t.r11, m[kX][kX], 1e-14);
        EXPECT_NEAR(t.r12, m[kX][kXp], 1e-14);
        EXPECT_NEAR(t.r21, m[kXp][kX], 1e-14);
        EXPECT_NEAR(t.r22, m[kXp][kXp], 1e-14);
        EXPECT_NEAR(t.r33, m[kY][kY], 1e-14);
        EXPECT_NEAR(t.r34, m[kY][kYp], 1e-14);
        EXPECT_NEAR(t.r43, m[kYp][kY], 1e-14);
        EXPECT_NEAR(t.r44, m[kYp][kYp], 1e-14);
        // off momentum the dispersive terms carry delta in mm and mrad; the curvature scaled by 1/(1 + delta)
        // moves R16 by about delta relative
        const TrackingElement d =
            buildTrackingMaps(state.line, 1e-3).cell.at(static_cast<std::size_t>(i - 1));
        EXPECT_NEAR(d.dx, m[kX][kDelta], 2e-3 * std::fabs(m[kX][kDelta]));
        EXPECT_NE(d.dx, m[kX][kDelta]);
    }
}

// Tunes of a small-amplitude particle from 1000 turns of its coordinates.
struct Tunes
{
    double x, y;
};

Tunes trackedTunes(State& state, const PhasePoint& start, double delta, int turns = 1000)
{
    TrackingRequest r;
    r.start = start;
    r.turns = turns;
    r.offMomentum = delta != 0;
    r.delta = delta;
    FakeMessages messages;
    const auto result = trackParticle(state, messages, r);
    EXPECT_TRUE(result && !result->lost);
    return {test::fittedTune(test::column(result->points, &PhasePoint::x)),
            test::fittedTune(test::column(result->points, &PhasePoint::y))};
}

TEST(TrackingPhysics, TurnByTurnTunesOfALinearRingAreTheRingTunes)
{
    for (State state : {test::dbaRing(), test::mixedBendRing()}) {
        test::setSextupoles(state, 0);
        FakeMessages messages;
        ASSERT_TRUE(betaFunctions(state, messages, nullptr));
        const Tunes t = trackedTunes(state, {0.5, 0.02, 0.3, -0.01}, 0);
        EXPECT_NEAR(t.x, test::foldedTune(state.lf.tuneX), 1e-3);
        EXPECT_NEAR(t.y, test::foldedTune(state.lf.tuneY), 1e-3);
    }
}

TEST(TrackingPhysics, CourantSnyderInvariantIsKeptEveryTurnWithEveryKindOfBend)
{
    State state = test::mixedBendRing();
    test::setSextupoles(state, 0);
    FakeMessages messages;
    ASSERT_TRUE(ringStart(state, messages, nullptr));
    const LatticeFunctions lf = state.lf;
    const auto invariant = [&](const PhasePoint& p) {
        return std::array<double, 2>{
            lf.gammaX * p.x * p.x + 2 * lf.alphaX * p.x * p.xp + lf.betaX * p.xp * p.xp,
            lf.gammaY * p.y * p.y + 2 * lf.alphaY * p.y * p.yp + lf.betaY * p.yp * p.yp};
    };
    TrackingRequest r = request(2, 1000);
    r.start.xp = 0.1;
    r.start.y = 1;
    const auto result = trackParticle(state, messages, r);
    ASSERT_TRUE(result);
    auto previous = invariant(r.start);
    const auto first = previous;
    for (const PhasePoint& p : result->points) {
        const auto now = invariant(p);
        for (std::size_t plane = 0; plane < 2; ++plane)
            ASSERT_NEAR(now[plane], previous[plane], 1e-9 * first[plane]) << "plane " << plane;
        previous = now;
    }
}

// Chromaticity seen by tracking: tunes of particles at delta = +-1e-3, started on their dispersive orbit
// (eta delta at the cell start) with a small betatron amplitude.
Tunes trackedChromaticity(State& state)
{
    FakeMessages messages;
    EXPECT_TRUE(betaFunctions(state, messages, nullptr));
    const double eta = state.run.etaX0;
    const double etaP = state.run.etaPX0;
    // a fractional tune above one half shows as its mirror below it, which turns the slope round
    const auto orientation = [](double tune) { return tune - std::floor(tune) <= 0.5 ? 1.0 : -1.0; };
    const double signX = orientation(state.lf.tuneX);
    const double signY = orientation(state.lf.tuneY);
    constexpr double kDelta = 1e-3;
    const auto at = [&](double delta) {
        return trackedTunes(state, {eta * delta * 1000 + 0.05, etaP * delta * 1000, 0.05, 0}, delta);
    };
    const Tunes plus = at(kDelta);
    const Tunes minus = at(-kDelta);
    return {signX * (plus.x - minus.x) / (2 * kDelta), signY * (plus.y - minus.y) / (2 * kDelta)};
}

TEST(TrackingPhysics, TrackedChromaticityChangesByTheSextupoleContributionOfTheCorrection)
{
    State state = test::dbaRing();
    test::setSextupoles(state, 0);
    const Tunes natural = trackedChromaticity(state);
    EXPECT_LT(natural.x, -5) << "the tracked ring has a natural chromaticity";
    EXPECT_LT(natural.y, -5);
    state.ringParams.chromaticityX = natural.x;
    state.ringParams.chromaticityY = natural.y;
    FakeMessages messages;
    const auto c = correctChromaticity(state, messages, 1, 1);
    ASSERT_TRUE(c);
    const Tunes corrected = trackedChromaticity(state);
    EXPECT_NEAR(corrected.x - natural.x, c->sextupoleX, 0.05 * std::fabs(c->sextupoleX));
    EXPECT_NEAR(corrected.y - natural.y, c->sextupoleY, 0.05 * std::fabs(c->sextupoleY));
}

TEST(TrackingPhysics, SpecialSextupoleOfKnownStrengthIsCompensatedToZero)
{
    State state = test::dbaRing();
    test::setSextupoles(state, 0);
    const Tunes natural = trackedChromaticity(state);
    state.ringParams.chromaticityX = natural.x;
    state.ringParams.chromaticityY = natural.y;
    // one of the two SD of the cell becomes a special sextupole of strength -40
    int special = 0;
    for (int i = 1; i <= state.line.count && special == 0; ++i)
        if (state.line.at(i).code == code::kSextupoleD)
            special = i;
    state.line.at(special).code = code::kSextupoleSpecial;
    state.line.at(special).m = -40;
    FakeMessages messages;
    const auto c = correctChromaticity(state, messages, 0, 0);
    ASSERT_TRUE(c);
    EXPECT_GT(std::fabs(c->specialY), 1) << "the special sextupole matters";
    const Tunes corrected = trackedChromaticity(state);
    EXPECT_NEAR(corrected.x, 0, 0.05 * std::fabs(c->sextupoleX));
    EXPECT_NEAR(corrected.y, 0, 0.05 * std::fabs(c->sextupoleY));
}

TEST(TrackingPhysics, SigmaInputUsesThePeriodicBetaAndTheEquilibriumEmittances)
{
    State state = test::dbaRing();
    state.ringParams.emittanceX = 4e-9;
    state.ringParams.emittanceY = 4e-11;
    FakeMessages messages;
    const auto p = sigmaStart(state, messages, {2, 0, 1, 3});
    ASSERT_TRUE(p);
    const double betaX = state.run.betaX0;
    const double betaY = state.run.betaY0;
    EXPECT_NEAR(p->x, std::sqrt(betaX * 4e-9) * 2 * 1000, 1e-12);
    EXPECT_EQ(p->xp, 0);
    EXPECT_NEAR(p->y, std::sqrt(betaY * 4e-11) * 1000, 1e-12);
    EXPECT_NEAR(p->yp, std::sqrt(4e-11 / betaY) * 3 * 1000, 1e-12);

    State noBeam = test::dbaRing();
    FakeMessages refused;
    EXPECT_FALSE(sigmaStart(noBeam, refused, {1, 0, 0, 0}));
    EXPECT_EQ(refused.errors.at(0),
              "no equilibrium emittances yet: update the beam parameters in the ring window first!");
}

} // namespace
} // namespace kestrune
