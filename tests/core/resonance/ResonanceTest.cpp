#include "core/resonance/Resonance.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>

namespace kestrune {
namespace {

bool onLine(const std::vector<TunePoint>& series, double qx0, double qy0, double qx1, double qy1)
{
    // every point of the straight segment's samples
    return std::any_of(series.begin(), series.end(),
                       [&](const TunePoint& p) {
                           return std::fabs(p.qx - qx0) < 1e-12 && std::fabs(p.qy - qy0) < 1e-12;
                       }) &&
           std::any_of(series.begin(), series.end(), [&](const TunePoint& p) {
               return std::fabs(p.qx - qx1) < 1e-12 && std::fabs(p.qy - qy1) < 1e-12;
           });
}

// |a qx + b qy - n| for the nearest whole n
double offResonance(const TunePoint& p, int a, int b)
{
    const double v = a * p.qx + b * p.qy;
    return std::fabs(v - std::round(v));
}

TEST(Resonance, WorkingPointSitsInsideItsUnitSquare)
{
    const ResonanceDiagram d = resonanceDiagram(6.21, 3.37);
    EXPECT_EQ(d.nx, 6);
    EXPECT_EQ(d.ny, 3);
    EXPECT_DOUBLE_EQ(d.working.qx, 6.21);
    EXPECT_DOUBLE_EQ(d.working.qy, 3.37);
    // the first-order box: qx = 6 and 7 over qy from 2.912 to 4.1, qy = 3 and 4 likewise
    EXPECT_TRUE(onLine(d.first, 6, 2.912, 6, 4.1));
    EXPECT_TRUE(onLine(d.first, 7, 2.912, 7, 4.1));
    EXPECT_TRUE(onLine(d.first, 5.912, 3, 7.1, 3));
    EXPECT_TRUE(onLine(d.first, 5.912, 4, 7.1, 4));
    EXPECT_GT(d.working.qx, 6);
    EXPECT_LT(d.working.qx, 7);
    EXPECT_GT(d.working.qy, 3);
    EXPECT_LT(d.working.qy, 4);
}

TEST(Resonance, StraightLinesHaveAHundredPointsAndClippedLinesFewer)
{
    const ResonanceDiagram d = resonanceDiagram(6.21, 3.37);
    EXPECT_EQ(d.first.size(), 4u * kResonancePoints);
    EXPECT_EQ(d.second.size(), 4u * kResonancePoints);
    // four straight third-order lines whole, eight coupled lines clipped to the square's band
    ASSERT_GT(d.third.size(), 4u * kResonancePoints);
    EXPECT_LT(d.third.size(), 12u * kResonancePoints);
    for (std::size_t i = 4 * kResonancePoints; i < d.third.size(); ++i) {
        EXPECT_GT(d.third[i].qy, 3 - 0.1);
        EXPECT_LT(d.third[i].qy, 3 + 1.1);
    }
}

TEST(Resonance, EveryPointLiesOnAResonanceOfItsOrder)
{
    const ResonanceDiagram d = resonanceDiagram(6.21, 3.37);
    for (const TunePoint& p : d.first)
        EXPECT_LT(std::min(offResonance(p, 1, 0), offResonance(p, 0, 1)), 1e-9);
    for (const TunePoint& p : d.second)
        EXPECT_LT(std::min({offResonance(p, 2, 0), offResonance(p, 0, 2), offResonance(p, 1, -1),
                            offResonance(p, 1, 1)}),
                  1e-9);
    for (const TunePoint& p : d.third)
        EXPECT_LT(std::min({offResonance(p, 3, 0), offResonance(p, 0, 3), offResonance(p, 1, 2),
                            offResonance(p, 1, -2), offResonance(p, 2, 1), offResonance(p, 2, -1)}),
                  1e-9);
}

TEST(Resonance, IntegerPartsZeroDrawTheSquareFromZeroToOne)
{
    const ResonanceDiagram d = resonanceDiagram(0.31, 0.78);
    EXPECT_EQ(d.nx, 0);
    EXPECT_EQ(d.ny, 0);
    EXPECT_TRUE(onLine(d.first, 0, -0.088, 0, 1.1));
    EXPECT_TRUE(onLine(d.first, 1, -0.088, 1, 1.1));
    EXPECT_TRUE(onLine(d.first, -0.088, 0, 1.1, 0));
    EXPECT_TRUE(onLine(d.first, -0.088, 1, 1.1, 1));
}

TEST(Resonance, TunesThatAreNoNumberGiveTheSquareAtZero)
{
    const ResonanceDiagram d = resonanceDiagram(std::nan(""), 1e300);
    EXPECT_EQ(d.nx, 0);
    EXPECT_EQ(d.ny, 0);
    EXPECT_EQ(d.first.size(), 4u * kResonancePoints);
}

TEST(Resonance, TickLabelsFollowTheAxisMask)
{
    EXPECT_EQ(tuneLabel(6.25), "6.25");
    EXPECT_EQ(tuneLabel(6.5), "6.5");
    EXPECT_EQ(tuneLabel(7), "7");
    EXPECT_EQ(tuneLabel(0), "0");
    EXPECT_EQ(tuneLabel(-0.25), "-0.25");
    EXPECT_EQ(tuneLabel(-0.001), "0");
    EXPECT_EQ(tuneLabel(1234.5), "1,234.5");
    EXPECT_EQ(tuneLabel(1234567), "1,234,567");
    EXPECT_EQ(tuneLabel(6.7499999999), "6.75");
}

// A tracked cell tune a little off the periodic solution's (amplitude detuning) comes back as the ring
// tune from its fractional part alone, also where the shift crosses a whole cell tune.
TEST(Resonance, RingTuneFromTheCellsFractionalTune)
{
    struct Case
    {
        double cellTune; // of the periodic solution
        double shift;    // of the tracked particle's cell tune
        int cells;
    };
    const Case cases[] = {{6.21, 0.013, 1},  {0.31, -0.02, 1},   {1.185, 0.004, 12},
                          {0.995, 0.01, 12}, {2.004, -0.009, 4}, {3.5, -0.3, 2}};
    for (const Case& c : cases) {
        const double tracked = c.cellTune + c.shift;
        const double fraction = tracked - std::floor(tracked);
        EXPECT_NEAR(ringTune(fraction, c.cells * c.cellTune, c.cells), c.cells * tracked, 1e-12)
            << c.cellTune << " " << c.shift;
    }
    EXPECT_TRUE(std::isnan(ringTune(0.2, std::nan(""), 1)));
}

} // namespace
} // namespace kestrune
