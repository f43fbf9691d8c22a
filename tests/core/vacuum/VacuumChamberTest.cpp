#include "core/vacuum/VacuumChamber.h"

#include "core/vacuum/VacuumLines.h"

#include <cmath>
#include <gtest/gtest.h>

namespace kestrune {
namespace {

using test::LineBuilder;

TEST(VacuumChamber, LineEndingInAStraightGetsTheClosingBend)
{
    BeamLine line;
    LineBuilder(line).drift(1.0).bend(1.0, 5.0).drift(2.0).pump(100).drift(0.5);
    const VacuumChamber c = vacuumChamber(line, 0.03);
    ASSERT_EQ(c.segmentCount(), 4);
    EXPECT_TRUE(c.closingBend);
    EXPECT_DOUBLE_EQ(c.length[2], 2.5);
    EXPECT_DOUBLE_EQ(c.length[3], 0.001);
    ASSERT_EQ(c.bendCount(), 2);
    EXPECT_DOUBLE_EQ(c.rho[1], 1e10);
    EXPECT_FALSE(c.radiates[1]);
    EXPECT_EQ(c.lightSources, 1);
    // the bends are measured along the outer wall
    EXPECT_DOUBLE_EQ(c.wallLength[1], 1.0 * 5.03 / 5.0);
    EXPECT_NEAR(c.period(), 1.0 + 1.006 + 2.5 + 0.001, 1e-12);
}

TEST(VacuumChamber, LineEndingInABendGetsNoClosingBend)
{
    BeamLine line;
    LineBuilder(line).drift(1.0).pump(50).bend(1.0, 5.0);
    const VacuumChamber c = vacuumChamber(line, 0.03);
    EXPECT_FALSE(c.closingBend);
    ASSERT_EQ(c.segmentCount(), 2);
    EXPECT_EQ(c.bendCount(), 1);
}

TEST(VacuumChamber, TwoBendsInARowAreSeparatedByAnEmptyStraight)
{
    BeamLine line;
    LineBuilder(line).bend(1.0, 4.0).bend(2.0, 8.0).drift(1.0);
    const VacuumChamber c = vacuumChamber(line, 0.03);
    // empty straight, bend, empty straight, bend, straight, closing bend
    ASSERT_EQ(c.segmentCount(), 6);
    EXPECT_DOUBLE_EQ(c.length[0], 0);
    EXPECT_DOUBLE_EQ(c.length[1], 1.0);
    EXPECT_DOUBLE_EQ(c.length[2], 0);
    EXPECT_DOUBLE_EQ(c.length[3], 2.0);
    EXPECT_DOUBLE_EQ(c.rho[1], 8.0);
    EXPECT_DOUBLE_EQ(c.length[4], 1.0);
}

TEST(VacuumChamber, PumpsKnowTheirStraightAndPlace)
{
    BeamLine line;
    LineBuilder(line).drift(1.0).pump(100).drift(0.5).bend(1.0, 5.0).drift(0.2).pump(300).drift(1.0);
    const VacuumChamber c = vacuumChamber(line, 0.03);
    ASSERT_EQ(c.pumps.size(), 2u);
    EXPECT_EQ(c.pumps[0].element, 2);
    EXPECT_EQ(c.pumps[0].segment, 0);
    EXPECT_DOUBLE_EQ(c.pumps[0].positionInStraight, 1.0);
    EXPECT_DOUBLE_EQ(c.pumps[1].positionInStraight, 0.2);
    EXPECT_EQ(c.pumps[1].segment, 2);
    EXPECT_DOUBLE_EQ(c.pumps[1].speed, 300);
    EXPECT_DOUBLE_EQ(c.pumps[1].s, 2.7); // element lengths, not the wall
}

TEST(VacuumChamber, BendWithoutCurvatureAndReversedBendsAreHandled)
{
    BeamLine line;
    LineBuilder(line).drift(1.0).bend(1.0, -5.0).drift(1.0).bend(1.0, 5.0);
    line.at(4).curvature = 0;
    const VacuumChamber c = vacuumChamber(line, 0.03);
    EXPECT_DOUBLE_EQ(c.rho[0], 5.0);
    EXPECT_TRUE(c.radiates[0]);
    EXPECT_DOUBLE_EQ(c.rho[1], 1e10);
    EXPECT_FALSE(c.radiates[1]);
}

// Explicit plane geometry of a cell: bend A (radius 5 m, 0.3 rad), a 2 m straight, a weak bend B
// (radius 10 m, 0.05 rad) and a 3 m straight. Coordinates: A's exit at the origin heading along +x,
// A's centre at (0, rhoA); the outer wall lies on the -y side at the chamber radius W.
class WallGeometry : public ::testing::Test
{
protected:
    static constexpr double kW = 0.03;
    static constexpr double kRhoA = 5.0, kAngleA = 0.3;
    static constexpr double kL = 2.0;
    static constexpr double kRhoB = 10.0, kAngleB = 0.05;

    void SetUp() override
    {
        LineBuilder(line)
            .drift(1.0)
            .bend(kRhoA * kAngleA, kRhoA)
            .drift(kL)
            .bend(kRhoB * kAngleB, kRhoB)
            .drift(3.0);
        chamber = vacuumChamber(line, kW);
    }

    struct Ray
    {
        double sinPsi = 0;
        double distance = 0;
        bool found = false;
    };

    /// Tangent point on A's orbit whose ray passes through p, by bisection over A's angle; the grazing
    /// angle against a wall heading wallAngle.
    static Ray fromA(double px, double py, double wallAngle)
    {
        const auto miss = [&](double theta) {
            const double tx = kRhoA * std::sin(theta), ty = kRhoA * (1 - std::cos(theta));
            return (px - tx) * std::sin(theta) - (py - ty) * std::cos(theta);
        };
        double lo = -kAngleA, hi = 0;
        Ray ray;
        if (miss(lo) * miss(hi) > 0)
            return ray;
        for (int i = 0; i < 200; ++i) {
            const double mid = (lo + hi) / 2;
            (miss(lo) * miss(mid) <= 0 ? hi : lo) = mid;
        }
        const double theta = (lo + hi) / 2;
        ray.found = true;
        ray.sinPsi = std::fabs(std::sin(theta - wallAngle));
        ray.distance = std::hypot(px - kRhoA * std::sin(theta), py - kRhoA * (1 - std::cos(theta)));
        return ray;
    }

    BeamLine line;
    VacuumChamber chamber;
};

TEST_F(WallGeometry, StraightAfterABendIsLitByThatBend)
{
    for (double l : {0.05, 0.5, 1.5}) {
        const WallLight light = wallLight(chamber, 2, l);
        const Ray ray = fromA(l, -kW, 0);
        ASSERT_TRUE(ray.found);
        EXPECT_EQ(light.source, 0);
        EXPECT_TRUE(light.lit);
        EXPECT_NEAR(light.sinPsi, ray.sinPsi, 1e-9 * ray.sinPsi) << l;
        EXPECT_NEAR(light.distance, ray.distance, 1e-9) << l;
    }
}

TEST_F(WallGeometry, WeakBendIsLitAcrossTheStraightBeforeIt)
{
    const double bigR = kRhoB + kW;
    for (double l : {0.05, 0.2, 0.45}) {
        const double phi = l / bigR;
        const WallLight light = wallLight(chamber, 3, l);
        const Ray ray = fromA(kL + bigR * std::sin(phi), kRhoB - bigR * std::cos(phi), phi);
        ASSERT_TRUE(ray.found);
        EXPECT_EQ(light.source, 0);
        EXPECT_NEAR(light.sinPsi, ray.sinPsi, 1e-9 * ray.sinPsi) << l;
        EXPECT_NEAR(light.distance, ray.distance, 1e-9) << l;
    }
}

TEST_F(WallGeometry, StraightAfterAWeakBendIsLitByTheBendBefore)
{
    const double exitX = kL + kRhoB * std::sin(kAngleB), exitY = kRhoB * (1 - std::cos(kAngleB));
    for (double l : {0.05, 0.2}) {
        const WallLight light = wallLight(chamber, 4, l);
        const double px = exitX + l * std::cos(kAngleB) + kW * std::sin(kAngleB);
        const double py = exitY + l * std::sin(kAngleB) - kW * std::cos(kAngleB);
        const Ray ray = fromA(px, py, kAngleB);
        ASSERT_TRUE(ray.found);
        EXPECT_EQ(light.source, 0);
        EXPECT_NEAR(light.sinPsi, ray.sinPsi, 1e-9 * ray.sinPsi) << l;
        EXPECT_NEAR(light.distance, ray.distance, 1e-9) << l;
    }
}

TEST_F(WallGeometry, BendLightsItsOwnWallOnceTheSagittaReachesTheChamber)
{
    const double bigR = kRhoA + kW;
    const WallLight late = wallLight(chamber, 1, 1.4);
    EXPECT_EQ(late.source, 0);
    EXPECT_NEAR(late.sinPsi, std::sqrt(1 - (kRhoA / bigR) * (kRhoA / bigR)), 1e-12);
    EXPECT_NEAR(late.distance, std::sqrt(bigR * bigR - kRhoA * kRhoA), 1e-12);
    // at its entrance the light would come from the closing bend, which does not radiate
    const WallLight early = wallLight(chamber, 1, 0.01);
    EXPECT_EQ(early.source, 2);
    EXPECT_FALSE(early.lit);
    EXPECT_DOUBLE_EQ(early.flux(), 0);
}

TEST(VacuumChamber, LineWithoutBendsIsNeverLit)
{
    BeamLine line;
    LineBuilder(line).drift(3.0).pump(100).drift(3.0);
    const VacuumChamber c = vacuumChamber(line, 0.03);
    EXPECT_EQ(c.lightSources, 0);
    for (double l : {0.0, 1.0, 5.9}) {
        const WallLight light = wallLight(c, 0, l);
        EXPECT_FALSE(light.lit);
        EXPECT_TRUE(std::isfinite(light.sinPsi));
    }
}

} // namespace
} // namespace kestrune
