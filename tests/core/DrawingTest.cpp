#include "core/Drawing.h"

#include "core/editor/LineEditing.h"
#include "support/FakeMessages.h"

#include <cmath>
#include <gtest/gtest.h>

namespace kestrune {
namespace {

constexpr double kTol = 1e-12;

SeriesRange series(double min, double max)
{
    return SeriesRange{min, max, false};
}

// A line of a focusing quadrupole, a sextupole and a pump, drawn at DrawScale 1.
State drawnLine()
{
    State state;
    test::FakeMessages messages;
    addElement(state, 2, messages);
    addElement(state, 3, messages);
    addElement(state, 4, messages);
    return state;
}

TEST(Drawing, ScalesDrawingToTheCurves)
{
    State state = drawnLine();
    // beta_x up to 40 m, 10 eta down to -5 m: the band clears the dispersion where it is
    const CurveRange range = curveRange(series(1, 40), series(0, 20), series(-5, 3));
    EXPECT_DOUBLE_EQ(range.ymax, 40);
    EXPECT_DOUBLE_EQ(range.ymin, -5);
    EXPECT_DOUBLE_EQ(range.lowest, -5);

    const auto axis = scaleGraph(state, range);
    ASSERT_TRUE(axis.has_value());
    EXPECT_NEAR(state.drawScale, 0.39375, kTol);
    EXPECT_NEAR(axis->min, -31.5, kTol);
    EXPECT_NEAR(axis->max, 42, kTol);
    EXPECT_EQ(axis->drawingOffset, 0);
    EXPECT_NEAR(state.line.shape(1).y0, -23.625, kTol);
    EXPECT_NEAR(state.line.shape(1).y1, -20.475, kTol);

    // a second update with the same curves keeps the drawing where it is
    scaleGraph(state, range);
    EXPECT_NEAR(state.line.shape(1).y0, -23.625, kTol);

    // halving the range halves the drawing
    scaleGraph(state, CurveRange{-2.5, 20});
    EXPECT_NEAR(state.line.shape(1).y1, -20.475 / 2, kTol);
}

TEST(Drawing, DrawingBandGoesBelowTheLowestCurveInEveryMode)
{
    // beam sizes: sigma_x up to 3 mm, -sigma_y down to -3 mm; the band (top 10 units above the
    // baseline, at -50 units) would cut through the green curve at its place
    State state = drawnLine();
    const CurveRange beam = curveRange(series(0.5, 3), series(-3, -0.5), series(0, 1));
    auto axis = scaleGraph(state, beam);
    ASSERT_TRUE(axis.has_value());
    const double scale = 6 / (800.0 / 7); // the scale keeps the full range of the curves
    EXPECT_NEAR(state.drawScale, scale, kTol);
    const double bandTop = (state.drawBaseline + 10) * scale + axis->drawingOffset;
    EXPECT_NEAR(bandTop, -3 - 10 * scale, kTol); // 10 drawing units below the lowest curve
    EXPECT_NEAR(axis->min, axis->drawingOffset - 80 * scale, kTol);
    EXPECT_NEAR(axis->max, 3.15, kTol);
    // every shape, drawn at the offset, lies below the lowest curve
    for (int i = 1; i <= state.line.count; ++i)
        EXPECT_LT(std::max(state.line.shape(i).y0, state.line.shape(i).y1) + axis->drawingOffset, -3) << i;

    // trajectories: the red curve alone runs down to -100 mm and takes the band with it
    const CurveRange trajectory = curveRange(series(-100, 40), series(0, 20), series(-5, 3));
    EXPECT_DOUBLE_EQ(trajectory.ymin, -5);
    EXPECT_DOUBLE_EQ(trajectory.lowest, -100);
    axis = scaleGraph(state, trajectory);
    ASSERT_TRUE(axis.has_value());
    EXPECT_NEAR(state.drawScale, 0.39375, kTol);
    EXPECT_NEAR((state.drawBaseline + 10) * state.drawScale + axis->drawingOffset, -100 - 3.9375, kTol);
    EXPECT_LT(axis->min, -100 - 20 * state.drawScale);

    // a red curve that alone leaves the zero line, downwards, still scales the drawing
    axis = scaleGraph(state, curveRange(series(-8, 0), series(0, 0), series(0, 0)));
    ASSERT_TRUE(axis.has_value());
    EXPECT_NEAR(state.drawScale, 8 / (800.0 / 7), kTol);
    EXPECT_LT((state.drawBaseline + 10) * state.drawScale + axis->drawingOffset, -8);

    // positive curves keep the band where it always was
    axis = scaleGraph(state, curveRange(series(0, 40), series(0, 20), series(0, 3)));
    ASSERT_TRUE(axis.has_value());
    EXPECT_EQ(axis->drawingOffset, 0);
    EXPECT_NEAR(axis->min, -80 * 0.35, kTol);
}

TEST(Drawing, CurvesWithoutRangeChangeNothing)
{
    State state = drawnLine();
    state.drawScale = 0.5;
    EXPECT_FALSE(scaleGraph(state, curveRange(series(0, 0), SeriesRange{}, series(0, 0))).has_value());
    EXPECT_DOUBLE_EQ(state.drawScale, 0.5);
    EXPECT_DOUBLE_EQ(state.line.shape(1).y0, -60);
    // curves that left the numbers must not take the drawing with them
    EXPECT_FALSE(scaleGraph(state, CurveRange{-1, std::nan("")}).has_value());
    EXPECT_FALSE(scaleGraph(state, CurveRange{-1, HUGE_VAL}).has_value());
    EXPECT_DOUBLE_EQ(state.drawScale, 0.5);

    // a scale of 0 counts as 1
    state.drawScale = 0;
    scaleGraph(state, CurveRange{-5, 40});
    EXPECT_NEAR(state.line.shape(1).y0, -23.625, kTol);
}

TEST(Drawing, QuadrupoleFollowsTheSignOfK)
{
    ElementShape shape;
    applyQuadrupoleSign(shape, -2.5, -60, 0.5);
    EXPECT_EQ(shape.colour, colour::kGreen);
    EXPECT_DOUBLE_EQ(shape.y0, -30);
    EXPECT_DOUBLE_EQ(shape.y1, -34);
    applyQuadrupoleSign(shape, 2.5, -60, 0.5);
    EXPECT_EQ(shape.colour, colour::kRed);
    EXPECT_DOUBLE_EQ(shape.y1, -26);
    // k = 0 counts as defocusing
    applyQuadrupoleSign(shape, 0, -60, 1);
    EXPECT_DOUBLE_EQ(shape.y1, -68);
}

TEST(Drawing, ElementsFromFileTakeStyleByFamily)
{
    State state;
    state.line.count = 4;
    state.fileBoxes.resize(5);
    const int codes[] = {code::kLinac, code::kSextupoleD, code::kAlphaFull, code::kQuadrupole};
    for (int i = 1; i <= 4; ++i) {
        state.line.at(i).code = codes[i - 1];
        state.fileBoxes[static_cast<std::size_t>(i)] = DrawingBox{double(i), i + 0.5, -62, -58};
    }
    state.line.at(4).k = 0.5;
    drawFromFileBoxes(state);

    EXPECT_EQ(state.line.shape(1).colour, colour::kBlack);
    EXPECT_EQ(state.line.shape(1).style, ShapeStyle::Rectangle);
    EXPECT_EQ(state.line.shape(2).style, ShapeStyle::Diamond);
    EXPECT_EQ(state.line.shape(3).style, ShapeStyle::InvertedTriangle);
    EXPECT_EQ(state.line.shape(3).colour, colour::kOlive);
    // a focusing quadrupole keeps the box of the file
    EXPECT_EQ(state.line.shape(4).colour, colour::kRed);
    EXPECT_DOUBLE_EQ(state.line.shape(4).y1, -58);
    EXPECT_DOUBLE_EQ(state.line.shape(4).x0, 4);
    EXPECT_DOUBLE_EQ(state.line.shape(4).x1, 4.5);
    EXPECT_EQ(state.line.shape(4).title, "4");
}

TEST(Drawing, PointElementsAndTheNewKindsOverTheirLength)
{
    // pumps, alpha magnets and codes beyond the table keep their fixed mark whatever their length; the
    // kinds of codes 60..99 are a mark only when they have no length
    const struct
    {
        int code;
        double length;
        double x0, x1;
    } rows[] = {
        {code::kPump, 0.0, 1.985, 2.015},
        {code::kAlphaFull, 0.5, 1.985, 2.015},
        {120, 0.5, 1.985, 2.015},
        {code::kQuadrupole, 0.3, 2.0, 2.3},
        {code::kThinMultipole, 0.0, 1.985, 2.015},
        {code::kMarker, 0.0, 1.985, 2.015},
        {code::kOctupole, 0.3, 2.0, 2.3},
        {code::kRfCavity, 0.5, 2.0, 2.5},
        {code::kKicker, 0.2, 2.0, 2.2},
        {code::kMonitor, 0.0, 1.985, 2.015},
    };
    for (const auto& row : rows) {
        BeamLine line;
        line.count = 1;
        line.at(1) = LatticeElement{"E", row.code, 2.0, row.length};
        placeShape(line, 1);
        EXPECT_DOUBLE_EQ(line.shape(1).x0, row.x0) << row.code;
        EXPECT_DOUBLE_EQ(line.shape(1).x1, row.x1) << row.code;
    }
}

} // namespace
} // namespace kestrune
