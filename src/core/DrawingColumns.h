#pragma once

#include "core/BeamLine.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <utility>
#include <vector>

namespace kestrune {

/// The linear map of the chart from its coordinates to pixels: px = keyScale*x + keyOffset,
/// py = valueScale*y + valueOffset (screen y grows downwards: valueScale < 0).
struct PixelMap
{
    double keyScale = 1;
    double keyOffset = 0;
    double valueScale = 1;
    double valueOffset = 0;
};

/// Where the shapes of a line lie along s, for finding those in a range without visiting every one.
/// Shapes that run along s in element order (each starting no earlier than the one before) are found by
/// bisection; any other line is searched whole.
class ShapeIndex
{
public:
    /// Takes the horizontal extents of shapes 1..line.count.
    void rebuild(const BeamLine& line);
    /// First and last element (1-based, first > last for none) that may meet [lower, upper] (m); the
    /// caller still checks each one's extent.
    std::pair<int, int> candidates(double lower, double upper) const;
    /// Horizontal extent of shape i as taken by rebuild, m.
    double lower(int i) const { return m_lower[static_cast<std::size_t>(i)]; }
    double upper(int i) const { return m_upper[static_cast<std::size_t>(i)]; }

private:
    std::vector<double> m_lower{0}; // min(x0, x1) of shape i at i, slot 0 unused
    std::vector<double> m_upper{0}; // max(x0, x1)
    std::vector<double> m_reach{0}; // the largest max(x0, x1) of shapes 1..i
    bool m_ordered = true;
};

/// One thing the lattice drawing paints, in pixels (left < right, top < bottom).
struct DrawnShape
{
    enum class Kind {
        Shape, // one element's shape in its style
        Mark,  // the thin mark of an element of codes 60..99 narrower than its least width
        Merged // the shapes narrower than a pixel of the same colour and height in adjacent pixel columns
    };
    Kind kind = Kind::Shape;
    int element = 0; // the element; of a merged bar the last one painted into it
    double left = 0;
    double top = 0;
    double right = 0;
    double bottom = 0;
    Rgb colour;
    ShapeStyle style = ShapeStyle::Rectangle;
};

/// The drawing of the shapes of line that meet s in [lower, upper] (m), in painting order (a later one
/// covers an earlier one). Shapes narrower than a pixel are painted as one-pixel bars per pixel column,
/// one bar for each colour and height in it, in the order of their last shape; a bar that continues in
/// the next column with the same bars is widened instead of repeated. A shape of codes 60..99 narrower
/// than thinMarkWidth pixels becomes a mark of that width about its centre.
std::vector<DrawnShape> drawnShapes(const BeamLine& line, const ShapeIndex& index, const PixelMap& map,
                                    double lower, double upper, double thinMarkWidth);
/// The same drawing made in parts (1 or 2) on as many threads, the shapes cut between two pixel columns;
/// drawnShapes makes a drawing of at least kShapesDrawnInParts shapes in two where there are two cores.
std::vector<DrawnShape> drawnShapes(const BeamLine& line, const ShapeIndex& index, const PixelMap& map,
                                    double lower, double upper, double thinMarkWidth, int parts);
constexpr int kShapesDrawnInParts = 20000;

/// Pixel column (from the plot area's left edge) of a shape narrower than a pixel, and its painted
/// rows top <= py < bottom, as drawnShapes paints it.
struct ColumnBar
{
    int column = 0;
    int top = 0;
    int bottom = 0;
};
/// The bar of a narrow shape whose pixel box runs from (left, top) to (right, bottom).
inline ColumnBar columnBar(double left, double top, double right, double bottom)
{
    ColumnBar bar;
    bar.column = static_cast<int>(std::floor((left + right) / 2));
    bar.top = static_cast<int>(std::floor(std::min(top, bottom)));
    bar.bottom = std::max(bar.top + 1, static_cast<int>(std::ceil(std::max(top, bottom))));
    return bar;
}

/// Indices of the points (keys ascending) a chart of `columns` pixel columns showing keys in [lower,
/// upper] needs so that no maximum or minimum is lost: in each column the first, the lowest, the
/// highest and the last point, in their order, and the nearest point beyond each end of the range.
/// A NaN value (a gap in the curve) is kept and closes the column's group. kept is overwritten.
void columnPoints(const std::vector<double>& keys, const std::vector<double>& values, double lower,
                  double upper, int columns, std::vector<std::size_t>& kept);
/// columnPoints of several curves over the same keys in one sweep: kept[n] is what columnPoints gives for
/// curves[n]. kept is overwritten.
void columnPoints(const std::vector<double>& keys, const std::vector<const std::vector<double>*>& curves,
                  double lower, double upper, int columns, std::vector<std::vector<std::size_t>>& kept);

} // namespace kestrune
