#include "core/rf/PhaseSpace.h"

#include "core/Constants.h"
#include "core/rf/RfParameter.h"
#include "support/FakeMessages.h"
#include "support/RfTestRing.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>

namespace kestrune {

namespace {

constexpr double kDeg = kPi / 180;

/// rf results of the test ring, below or above transition.
RfParameters computedRf(double slipFactor, double voltage = 1e6)
{
    State state = test::rfTestRing();
    state.ringParams.slipFactor = slipFactor;
    state.rf.voltage = voltage;
    test::FakeMessages messages;
    EXPECT_TRUE(calcRfParameters(state, messages));
    return state.rf;
}

/// rf results with a given synchronous phase: q = 1 / sin(phi_s) on the side of transition it needs.
RfParameters rfWithPhase(double phiSDeg)
{
    const double phiS = phiSDeg * kDeg;
    return computedRf(std::cos(phiS) > 0 ? 0.005 : -0.005, 1e5 / std::sin(phiS));
}

} // namespace

TEST(PhaseSpace, PotentialHasItsExtremaAtTheFixedPoints)
{
    // phi_s = 150 deg (above transition): stable at 150, 510 deg, unstable at 30, 390, 750 deg
    const double phiS = 150 * kDeg;
    const double fs = 1000;
    const auto h = [&](double deg) { return longitudinalPotential(deg * kDeg, phiS, fs); };
    EXPECT_NEAR(h(150), 0, 1e-9);
    for (double unstable : {30.0, 390.0, 750.0}) {
        EXPECT_LT(h(unstable - 1), h(unstable)) << unstable;
        EXPECT_LT(h(unstable + 1), h(unstable)) << unstable;
        const double slope = (h(unstable + 1e-4) - h(unstable - 1e-4)) / 2e-4;
        EXPECT_NEAR(slope / h(unstable), 0, 1e-6) << unstable;
    }
    for (double stable : {150.0, 510.0}) {
        EXPECT_GT(h(stable - 1), h(stable)) << stable;
        EXPECT_GT(h(stable + 1), h(stable)) << stable;
    }
}

TEST(PhaseSpace, SeparatrixHeightIsTheEnergyAcceptance)
{
    // the bucket's half height at phi_s, in %, is the energy acceptance of the rf parameters
    for (double slip : {0.005, -0.005}) {
        const RfParameters rf = computedRf(slip);
        const double h0 =
            longitudinalPotential(kPi - rf.synchronousPhase, rf.synchronousPhase, rf.synchrotronFrequency);
        const double k = kTwoPi * std::fabs(slip) * rf.frequency / 100;
        EXPECT_NEAR(std::sqrt(2 * h0) / k, rf.energyAcceptance * 100, 1e-9 * rf.energyAcceptance * 100);

        // the sampled first separatrix reaches it at phi_s (sampled in 1.8 deg steps)
        const std::vector<PhaseCurve> curves = phaseSpaceCurves(rf);
        const GraphCurve& first = curves[0].points;
        double atPhiS = 0;
        for (std::size_t j = 0; j < first.x.size(); ++j) {
            if (std::fabs(first.x[j] - rf.synchronousPhase / kDeg) < 1.0)
                atPhiS = std::max(atPhiS, std::fabs(first.y[j]));
        }
        EXPECT_NEAR(atPhiS, rf.energyAcceptance * 100, 1e-3 * rf.energyAcceptance * 100);
    }
}

TEST(PhaseSpace, TwentyThreeCurvesInDrawingOrder)
{
    const std::vector<PhaseCurve> curves = phaseSpaceCurves(rfWithPhase(150));
    ASSERT_EQ(curves.size(), static_cast<std::size_t>(kPhaseCurveCount));
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(curves[static_cast<std::size_t>(i)].kind, PhaseCurveKind::Separatrix);
    for (const PhaseCurve& c : curves) {
        // at most 201 samples and a closing point on each branch
        EXPECT_LE(c.points.x.size(), 2u * 202u);
        for (double x : c.points.x)
            EXPECT_LT(x, kPhaseCut);
        // upper branch forward or backward, the lower branch mirrored: the points sum to 0
        double sumY = 0;
        for (double y : c.points.y)
            sumY += y;
        EXPECT_NEAR(sumY, 0, 1e-9);
    }
}

TEST(PhaseSpace, AboveTransitionSeparatricesAndTheCutAt720)
{
    const RfParameters rf = rfWithPhase(150);
    ASSERT_NEAR(rf.synchronousPhase, 150 * kDeg, 1e-9);
    const std::vector<PhaseCurve> curves = phaseSpaceCurves(rf);
    const GraphCurve& first = curves[0].points;
    // sampled from 0 up to where the bucket closes, then back along the lower branch
    EXPECT_EQ(first.x.front(), 0);
    EXPECT_EQ(first.x.back(), 0);
    const double right = *std::max_element(first.x.begin(), first.x.end());
    EXPECT_GT(right, 150);
    EXPECT_LT(right, 390);
    // the closing point: the curve turns on the axis at its rightmost phase
    const auto turn = std::find(first.x.begin(), first.x.end(), right);
    EXPECT_EQ(first.y[static_cast<std::size_t>(turn - first.x.begin()) + 1], 0);
    // the third separatrix runs to 3 x 360 deg in 5.4 deg steps and is cut below 721 deg
    const GraphCurve& third = curves[2].points;
    ASSERT_FALSE(third.x.empty());
    const double thirdRight = *std::max_element(third.x.begin(), third.x.end());
    EXPECT_GT(thirdRight, 715);
    EXPECT_LT(thirdRight, 721);
}

TEST(PhaseSpace, StartPhasesSkipTheStretchBeforeTheSynchronousPhase)
{
    const double phiS = 150 * kDeg;
    const std::vector<double> starts = trajectoryStarts(phiS);
    ASSERT_EQ(starts.size(), 20u);
    EXPECT_NEAR(starts[0] / kDeg, 18, 1e-9);
    EXPECT_NEAR(starts[1] / kDeg, 156, 1e-9); // 36 deg passed 30 deg: on by 2 phi_s - 180 = 120 deg
    for (double phi0 : starts) {
        EXPECT_FALSE(phi0 > kPi - phiS && phi0 < phiS) << phi0 / kDeg;
        EXPECT_FALSE(phi0 > 3 * kPi - phiS && phi0 < kTwoPi + phiS) << phi0 / kDeg;
    }
    // a start between pi - phi_s and phi_s is not drawn
    EXPECT_FALSE(trajectoryDrawn(90 * kDeg, phiS));
    EXPECT_TRUE(trajectoryDrawn(18 * kDeg, phiS));
    EXPECT_TRUE(trajectoryDrawn(156 * kDeg, phiS));
    EXPECT_FALSE(trajectoryDrawn(400 * kDeg, phiS));
}

TEST(PhaseSpace, TrajectoriesInsideTheBucketAreStableOnBothSidesOfTransition)
{
    for (double phiSDeg : {150.0, 30.0}) {
        const RfParameters rf = rfWithPhase(phiSDeg);
        const double phiS = rf.synchronousPhase;
        const double k = kTwoPi * std::fabs(rf.slipFactor) * rf.frequency / 100;
        const std::vector<PhaseCurve> curves = phaseSpaceCurves(rf);
        int stable = 0;
        for (std::size_t n = 3; n < curves.size(); ++n) {
            const PhaseCurve& c = curves[n];
            if (c.kind != PhaseCurveKind::Stable)
                continue;
            ++stable;
            ASSERT_FALSE(c.points.x.empty());
            // every point lies inside the separatrix of one bucket at its phase
            bool inside = false;
            for (int bucket = 1; bucket <= 3 && !inside; ++bucket) {
                const double level =
                    longitudinalPotential((2 * bucket - 1) * kPi - phiS, phiS, rf.synchrotronFrequency);
                inside = true;
                for (std::size_t j = 0; j < c.points.x.size(); ++j) {
                    const double h =
                        longitudinalPotential(c.points.x[j] * kDeg, phiS, rf.synchrotronFrequency);
                    inside = inside && level >= h &&
                             std::fabs(c.points.y[j]) <= std::sqrt(2 * (level - h)) / k + 1e-9;
                }
            }
            EXPECT_TRUE(inside) << phiSDeg << " curve " << n;
            // above transition the orbits start right of phi_s and turn before phase 0: closed
            if (phiSDeg > 90) {
                EXPECT_EQ(c.points.x.front(), c.points.x.back()) << " curve " << n;
                EXPECT_EQ(c.points.y.front(), 0) << " curve " << n;
                EXPECT_EQ(c.points.y.back(), 0) << " curve " << n;
            }
        }
        EXPECT_GE(stable, 5) << phiSDeg;
    }
}

TEST(PhaseSpace, StartOutsideTheBucketIsUnstableAndOpen)
{
    // phi_s = 150 deg: the first start, 18 deg, lies left of the unstable point at 30 deg
    const std::vector<PhaseCurve> curves = phaseSpaceCurves(rfWithPhase(150));
    const PhaseCurve& c = curves[3];
    EXPECT_EQ(c.kind, PhaseCurveKind::Unstable);
    ASSERT_FALSE(c.points.x.empty());
    // it runs down to phase 0 without turning: 201 samples on each branch, no closing point
    EXPECT_EQ(c.points.x.size(), 2u * 201u);
    EXPECT_NEAR(c.points.x.front(), 0, 1e-9);
}

TEST(PhaseSpace, PotentialCurveInUnitsOfTheBarrier)
{
    const RfParameters rf = rfWithPhase(150);
    const GraphCurve c = rfPotentialCurve(rf);
    ASSERT_EQ(c.x.size(), 145u);
    EXPECT_EQ(c.x.front(), 0);
    EXPECT_EQ(c.x.back(), 720);
    EXPECT_NEAR(c.y[6], 1, 1e-9);  // 30 deg, the unstable point
    EXPECT_NEAR(c.y[30], 0, 1e-9); // 150 deg, the synchronous phase
}

TEST(PhaseSpace, CurveLimitsSpanTheFinitePointsOfEveryCurve)
{
    const double nan = std::nan("");
    const GraphCurve a{{0, 90, nan}, {-0.5, 0.25, 7}};
    const GraphCurve b{{720, 10}, {0.75, nan}};
    const GraphCurve none;
    const ProposedLimits both = curveLimits({&a, &b});
    EXPECT_EQ(both.xMin, 0);
    EXPECT_EQ(both.xMax, 720);
    EXPECT_EQ(both.yMin, -0.5);
    EXPECT_EQ(both.yMax, 7);
    const ProposedLimits empty = curveLimits({&none});
    EXPECT_EQ(empty.xMin, 0);
    EXPECT_EQ(empty.yMax, 1);
}

} // namespace kestrune
