#include "core/DrawingColumns.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <string>

namespace kestrune {
namespace {

struct CurveCase
{
    std::string name;
    int points;
    double lower, upper; // shown keys
    int columns;
};

// beta-like curve over keys 0..100: a slow wave, a fast one, and one-point spikes of either sign
double curveAt(std::size_t i, double s)
{
    double v = 20 + 10 * std::sin(s * 0.3) + 2 * std::sin(s * 17.0);
    if (i % 997 == 13)
        v += 50;
    if (i % 1499 == 7)
        v -= 40;
    return v;
}

TEST(ColumnPoints, EveryColumnKeepsItsExtremesAndTheNeighboursOfTheRange)
{
    const CurveCase cases[] = {
        {"whole curve, 90 points per column", 100000, 0, 100, 1100},
        {"zoomed in, a few points per column", 100000, 41.3, 42.1, 700},
        {"zoomed in further than the points", 2000, 10.01, 10.9, 900},
        {"one column", 5000, 0, 100, 1},
    };
    for (const CurveCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<double> keys(static_cast<std::size_t>(c.points));
        std::vector<double> values(keys.size());
        for (std::size_t i = 0; i < keys.size(); ++i) {
            keys[i] = 100.0 * static_cast<double>(i) / static_cast<double>(keys.size() - 1);
            values[i] = curveAt(i, keys[i]);
        }
        std::vector<std::size_t> kept;
        columnPoints(keys, values, c.lower, c.upper, c.columns, kept);
        ASSERT_FALSE(kept.empty());
        EXPECT_TRUE(std::is_sorted(kept.begin(), kept.end()));
        EXPECT_LE(kept.size(), 4u * static_cast<std::size_t>(c.columns) + 2);
        // by brute force: the lowest and highest value of each column, and of the whole range
        const double perColumn = (c.upper - c.lower) / c.columns;
        std::vector<double> low(static_cast<std::size_t>(c.columns), HUGE_VAL);
        std::vector<double> high(low.size(), -HUGE_VAL);
        std::vector<double> keptLow = low;
        std::vector<double> keptHigh = high;
        const auto column = [&](double s) {
            return std::min(c.columns - 1, static_cast<int>(std::floor((s - c.lower) / perColumn)));
        };
        for (std::size_t i = 0; i < keys.size(); ++i) {
            if (keys[i] < c.lower || keys[i] > c.upper)
                continue;
            const std::size_t j = static_cast<std::size_t>(column(keys[i]));
            low[j] = std::min(low[j], values[i]);
            high[j] = std::max(high[j], values[i]);
        }
        for (std::size_t k : kept) {
            if (keys[k] < c.lower || keys[k] > c.upper)
                continue;
            const std::size_t j = static_cast<std::size_t>(column(keys[k]));
            keptLow[j] = std::min(keptLow[j], values[k]);
            keptHigh[j] = std::max(keptHigh[j], values[k]);
        }
        for (std::size_t j = 0; j < low.size(); ++j) {
            EXPECT_EQ(keptLow[j], low[j]) << "column " << j;
            EXPECT_EQ(keptHigh[j], high[j]) << "column " << j;
        }
        // the curve runs on to the plot's edges from the points beyond them
        EXPECT_EQ(keys[kept.front()]<c.lower, c.lower> 0);
        EXPECT_EQ(keys[kept.back()] > c.upper, c.upper < 100);
    }
}

TEST(ColumnPoints, AGapStaysAGap)
{
    std::vector<double> keys;
    std::vector<double> values;
    for (int i = 0; i < 1000; ++i) {
        keys.push_back(i * 0.01);
        values.push_back(i == 500 ? std::numeric_limits<double>::quiet_NaN() : 1.0 + i);
    }
    std::vector<std::size_t> kept;
    columnPoints(keys, values, 0, 10, 10, kept);
    EXPECT_NE(std::find(kept.begin(), kept.end(), 500u), kept.end());
    // either side of the gap the points next to it, so that neither half stops short of it
    EXPECT_NE(std::find(kept.begin(), kept.end(), 499u), kept.end());
    EXPECT_NE(std::find(kept.begin(), kept.end(), 501u), kept.end());

    // the curves of one sweep keep what each keeps alone, the gap of one not closing the others' columns
    std::vector<double> wave(keys.size());
    for (std::size_t i = 0; i < keys.size(); ++i)
        wave[i] = std::sin(37.0 * keys[i]);
    std::vector<std::vector<std::size_t>> together;
    columnPoints(keys, {&wave, &values, &wave}, 0.5, 7.3, 13, together);
    ASSERT_EQ(together.size(), 3u);
    for (const auto& [curve, at] : {std::pair{&wave, 0}, std::pair{&values, 1}, std::pair{&wave, 2}}) {
        columnPoints(keys, *curve, 0.5, 7.3, 13, kept);
        EXPECT_EQ(together[static_cast<std::size_t>(at)], kept) << "curve " << at;
    }
}

// 20 000 elements of 1 cm, alternately a short black and a tall red one, over 400 pixels: 5 m per 100 px
TEST(DrawnShapes, NarrowShapesBecomeOneBarPerColourOverTheirColumns)
{
    BeamLine line;
    for (int i = 1; i <= 20000; ++i) {
        ++line.count;
        ElementShape& shape = line.shape(i);
        shape.x0 = (i - 1) * 0.01;
        shape.x1 = i * 0.01;
        const bool red = i % 2 == 0;
        shape.y0 = 0;
        shape.y1 = red ? 8 : 1;
        shape.colour = red ? Rgb{255, 0, 0} : Rgb{0, 0, 0};
    }
    ShapeIndex index;
    index.rebuild(line);
    const PixelMap map{400.0 / 200.0, 0, -1, 100}; // 2 px per metre, y up
    const std::vector<DrawnShape> drawn = drawnShapes(line, index, map, 0, 200, 2);
    // each colour one bar over the whole drawing, as the columns all hold the same
    ASSERT_EQ(drawn.size(), 2u);
    for (const DrawnShape& bar : drawn) {
        EXPECT_EQ(bar.kind, DrawnShape::Kind::Merged);
        EXPECT_EQ(bar.left, 0);
        EXPECT_EQ(bar.right, 400);
        EXPECT_EQ(bar.bottom, 100);
    }
    EXPECT_EQ(drawn[0].top, drawn[0].colour.r == 255 ? 92 : 99);
    EXPECT_EQ(drawn.back().element, 20000); // the last shape, red, is painted last

    // a part of the line in view: only the shapes there, and those by bisection
    const auto [first, last] = index.candidates(50, 60);
    EXPECT_NEAR(first, 5000, 1);
    EXPECT_NEAR(last, 6001, 1);
    // a shape that starts before the one before it, where the index is made in two halves: every one
    // a candidate
    std::swap(line.shape(10000), line.shape(10001));
    index.rebuild(line);
    EXPECT_EQ(index.candidates(50, 60), std::make_pair(1, 20000));
}

// A drawing made in two parts on two threads is the drawing of one sweep, shape for shape: bars that run
// on across the cut, columns whose bars change there, shapes of their own and marks beside it.
TEST(DrawnShapes, TwoPartsPaintWhatOneSweepPaints)
{
    struct Case
    {
        const char* name;
        int everyWide; // a 2 m shape of its own every so many elements, 0 for none
        int everyMark; // a marker of no length every so many
        int kinds;     // the narrow shapes' colour and height cycle over these many
        double lower, upper, pixels;
    };
    const Case cases[] = {{"bars over the whole line", 0, 0, 2, 0, 300, 600},
                          {"bars changing from column to column", 0, 0, 7, 0, 300, 700},
                          {"wide shapes and marks among them", 997, 3001, 3, 0, 300, 700},
                          {"zoomed in", 997, 3001, 5, 101.3, 187.9, 700}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BeamLine line;
        double s = 0;
        for (int i = 1; i <= 30000; ++i) {
            ++line.count;
            ElementShape& shape = line.shape(i);
            const bool wide = c.everyWide > 0 && i % c.everyWide == 0;
            const bool mark = c.everyMark > 0 && i % c.everyMark == 0;
            line.at(i).code = mark ? code::kMarker : code::kQuadrupole;
            const double length = wide ? 2.0 : mark ? 0.0 : 0.01;
            shape.x0 = s;
            shape.x1 = s + length;
            s += length;
            shape.y1 = 1 + (i % c.kinds) * 1.3;
            shape.colour = i % c.kinds == 0 ? Rgb{255, 0, 0} : Rgb{0, 0, 0};
        }
        ShapeIndex index;
        index.rebuild(line);
        const double scale = c.pixels / (c.upper - c.lower);
        const PixelMap map{scale, -scale * c.lower, -3, 100};
        const std::vector<DrawnShape> one = drawnShapes(line, index, map, c.lower, c.upper, 3, 1);
        const std::vector<DrawnShape> two = drawnShapes(line, index, map, c.lower, c.upper, 3, 2);
        ASSERT_EQ(one.size(), two.size());
        for (std::size_t j = 0; j < one.size(); ++j) {
            const DrawnShape& a = one[j];
            const DrawnShape& b = two[j];
            EXPECT_TRUE(a.kind == b.kind && a.element == b.element && a.left == b.left && a.top == b.top &&
                        a.right == b.right && a.bottom == b.bottom && a.colour == b.colour &&
                        a.style == b.style)
                << "shape " << j << " of " << one.size();
        }
        if (c.kinds == 2) { // one bar per kind from the first column to the last
            EXPECT_EQ(one.size(), 2u);
        }
    }
}

} // namespace
} // namespace kestrune
