#include "core/editor/AxisZoom.h"

#include <gtest/gtest.h>
#include <limits>

namespace kestrune {
namespace {

// ranges of metres built from sums and products of a few terms: 1e-9 m is far below any pixel
constexpr double kTol = 1e-9;

TEST(AxisZoom, ZoomKeepsThePointUnderThePointer)
{
    const KeyRange full{0, 1000};
    const KeyRange shown{100, 300};
    const double s = 150; // a quarter of the way along
    const KeyRange in = zoomedRange(shown, full, s, 0.5);
    EXPECT_NEAR(in.width(), 100, kTol);
    EXPECT_NEAR((s - in.lower) / in.width(), 0.25, kTol);
    const KeyRange out = zoomedRange(in, full, s, 2.0);
    EXPECT_NEAR(out.lower, shown.lower, kTol);
    EXPECT_NEAR(out.upper, shown.upper, kTol);
}

TEST(AxisZoom, WheelNotchesMultiply)
{
    EXPECT_NEAR(wheelZoomFactor(120), 0.8, 1e-12);
    EXPECT_NEAR(wheelZoomFactor(-120), 1.25, 1e-12);
    EXPECT_NEAR(wheelZoomFactor(240), wheelZoomFactor(120) * wheelZoomFactor(120), 1e-12);
    EXPECT_NEAR(wheelZoomFactor(0), 1.0, 1e-12);
}

TEST(AxisZoom, ZoomStaysInsideTheLine)
{
    const KeyRange full{0, 100};
    const KeyRange wide = zoomedRange(KeyRange{40, 60}, full, 50, 100);
    EXPECT_NEAR(wide.lower, 0, kTol);
    EXPECT_NEAR(wide.upper, 100, kTol);

    // zooming out near the start: the range is moved back in, keeping its width
    const KeyRange nearStart = zoomedRange(KeyRange{0, 10}, full, 1, 2);
    EXPECT_NEAR(nearStart.lower, 0, kTol);
    EXPECT_NEAR(nearStart.upper, 20, kTol);
}

TEST(AxisZoom, ZoomStopsAtOneCentimetre)
{
    const KeyRange full{0, 100};
    const KeyRange narrow = zoomedRange(KeyRange{10, 11}, full, 10.5, 1e-6);
    EXPECT_NEAR(narrow.width(), kMinZoomWidth, kTol);
    EXPECT_NEAR(narrow.lower + narrow.width() / 2, 10.5, kTol);
    // a line shorter than a centimetre is shown whole
    const KeyRange tiny{0, 0.004};
    const KeyRange shown = zoomedRange(tiny, tiny, 0.002, 0.1);
    EXPECT_NEAR(shown.width(), 0.004, kTol);
}

TEST(AxisZoom, BadFactorsChangeNothing)
{
    const KeyRange full{0, 100};
    const KeyRange shown{20, 30};
    for (double factor :
         {0.0, -1.0, std::numeric_limits<double>::infinity(), std::numeric_limits<double>::quiet_NaN()}) {
        const KeyRange r = zoomedRange(shown, full, 25, factor);
        EXPECT_NEAR(r.lower, 20, kTol);
        EXPECT_NEAR(r.upper, 30, kTol);
    }
}

TEST(AxisZoom, PanMovesAndStopsAtTheEnds)
{
    const KeyRange full{0, 100};
    const KeyRange moved = pannedRange(KeyRange{20, 30}, full, 15);
    EXPECT_NEAR(moved.lower, 35, kTol);
    EXPECT_NEAR(moved.upper, 45, kTol);
    const KeyRange atEnd = pannedRange(KeyRange{20, 30}, full, 500);
    EXPECT_NEAR(atEnd.lower, 90, kTol);
    EXPECT_NEAR(atEnd.upper, 100, kTol);
    const KeyRange atStart = pannedRange(KeyRange{20, 30}, full, -500);
    EXPECT_NEAR(atStart.lower, 0, kTol);
    EXPECT_NEAR(atStart.upper, 10, kTol);
}

TEST(AxisZoom, KeptInsideANewLineLength)
{
    // the line got shorter under a zoomed view near its end: the view moves in, as wide as it was
    const KeyRange kept = keptInside(KeyRange{80, 95}, KeyRange{0, 90});
    EXPECT_NEAR(kept.lower, 75, kTol);
    EXPECT_NEAR(kept.upper, 90, kTol);
    const KeyRange whole = keptInside(KeyRange{0, 50}, KeyRange{0, 30});
    EXPECT_NEAR(whole.upper, 30, kTol);
}

} // namespace
} // namespace kestrune
