#include "core/Drawing.h"

#include <algorithm>
#include <cmath>
#include <string>

namespace kestrune {

namespace {

// Heights in drawing units; the drawing band sits around DrawBaseline, below the curves.
const KindDrawing kKindDrawings[kKindCount] = {
    {ShapeStyle::Rectangle, colour::kBlack, 0.8, 0.8},     // drift space
    {ShapeStyle::Rectangle, colour::kBlue, 2, 2},          // bending magnet
    {ShapeStyle::Rectangle, colour::kRed, 8, 0},           // quadrupole
    {ShapeStyle::Diamond, colour::kMaroon, 2, 2},          // sextupole
    {ShapeStyle::Triangle, colour::kBlack, 0, 10},         // vacuum pump
    {ShapeStyle::InvertedTriangle, colour::kOlive, 10, 0}, // alpha magnet
    {ShapeStyle::Rectangle, colour::kOlive, 3, 3},         // linear accelerator
    {ShapeStyle::Rectangle, colour::kTeal, 8, 8},          // einzel lens
    {ShapeStyle::Rectangle, colour::kSilver, 3, 3},        // electrostatic accelerator
    {ShapeStyle::Diamond, colour::kGreen, 5, 5},           // thin multipole
    {ShapeStyle::Diamond, colour::kTeal, 3, 3},            // octupole
    {ShapeStyle::Rectangle, colour::kNavy, 4, 4},          // solenoid
    {ShapeStyle::Rectangle, colour::kGrey, 5, 5},          // kicker
    {ShapeStyle::Triangle, colour::kTeal, 0, 6},           // monitor
    {ShapeStyle::Rectangle, colour::kBlack, 3, 3},         // marker
    {ShapeStyle::Rectangle, colour::kMaroon, 6, 6},        // rf cavity
};

// Half width of a pump or alpha magnet once it has its place in the line, m.
constexpr double kPointElementHalfWidth = 0.015;
// Full vertical range of the curves that fills 800/7 drawing units.
constexpr double kDrawingUnitsPerRange = 800.0 / 7.0;
// Drawing units from DrawBaseline up to the top of the tallest shape, and the gap kept between the top
// of the drawing band and the lowest curve.
constexpr double kBandTopAboveBaseline = 10.0;
constexpr double kBandClearance = 10.0;

void styleByFamily(ElementShape& shape, int family)
{
    switch (family) {
    case static_cast<int>(Family::Bend):
        shape.style = ShapeStyle::Rectangle;
        shape.colour = colour::kBlue;
        break;
    case static_cast<int>(Family::Quadrupole):
        shape.style = ShapeStyle::Rectangle;
        shape.colour = colour::kRed;
        break;
    case static_cast<int>(Family::Sextupole):
        shape.style = ShapeStyle::Diamond;
        shape.colour = colour::kMaroon;
        break;
    case static_cast<int>(Family::Pump):
        shape.style = ShapeStyle::Triangle;
        shape.colour = colour::kBlack;
        break;
    case static_cast<int>(Family::AlphaMagnet):
        shape.style = ShapeStyle::InvertedTriangle;
        shape.colour = colour::kOlive;
        break;
    default: // drifts, linac sections, einzel lenses, electrostatic accelerators, unknown codes
        shape.style = ShapeStyle::Rectangle;
        shape.colour = colour::kBlack;
        break;
    }
}

void includeMinimum(const SeriesRange& series, double& ymin)
{
    if (!series.empty)
        ymin = std::min(ymin, series.min);
}

void includeMaximum(const SeriesRange& series, double& ymax)
{
    if (!series.empty)
        ymax = std::max(ymax, series.max);
}

} // namespace

std::optional<KindDrawing> kindDrawing(int kind)
{
    if (kind < 0 || kind >= kKindCount)
        return std::nullopt;
    return kKindDrawings[kind];
}

void applyKindStyle(ElementShape& shape, int kind)
{
    if (const auto drawing = kindDrawing(kind)) {
        shape.style = drawing->style;
        shape.colour = drawing->colour;
    }
}

void applyKindExtent(ElementShape& shape, int kind, double drawBaseline, double drawScale)
{
    if (const auto drawing = kindDrawing(kind)) {
        shape.y0 = (drawBaseline - drawing->lower) * drawScale;
        shape.y1 = (drawBaseline + drawing->upper) * drawScale;
    }
}

void applyQuadrupoleSign(ElementShape& shape, double k, double drawBaseline, double drawScale)
{
    const double sigma = k > 0 ? 1.0 : -1.0;
    shape.colour = k > 0 ? colour::kRed : colour::kGreen;
    shape.y0 = drawBaseline * drawScale;
    shape.y1 = shape.y0 + sigma * 8.0 * drawScale;
}

void placeShape(BeamLine& line, int i)
{
    const LatticeElement& e = line.at(i);
    ElementShape& shape = line.shape(i);
    // the kinds of families 6..9 are drawn over their length, a thin mark (clickable) when they have none;
    // pumps, alpha magnets and codes above them keep their fixed mark
    const bool point = isExtendedCode(e.code) ? e.length == 0 : e.code >= code::kPump;
    if (point) {
        shape.x0 = e.s - kPointElementHalfWidth;
        shape.x1 = e.s + kPointElementHalfWidth;
    } else {
        shape.x0 = e.s;
        shape.x1 = e.s + e.length;
    }
}

void drawFromFileBoxes(State& state)
{
    BeamLine& line = state.line;
    for (int i = 1; i <= line.count; ++i) {
        const std::size_t slot = static_cast<std::size_t>(i);
        const DrawingBox box = slot < state.fileBoxes.size() ? state.fileBoxes[slot] : DrawingBox{};
        ElementShape& shape = line.shape(i);
        shape.x0 = box.x0;
        shape.x1 = box.x1;
        shape.y0 = box.y0;
        shape.y1 = box.y1;
        shape.title = std::to_string(i);
        const LatticeElement& e = line.at(i);
        if (isExtendedCode(e.code))
            applyKindStyle(shape, kindOf(e.code));
        else
            styleByFamily(shape, familyOf(e.code));
        if (familyOf(e.code) == static_cast<int>(Family::Quadrupole) && e.k < 0) {
            // a defocusing quadrupole hangs below the baseline whatever its box says
            shape.colour = colour::kGreen;
            shape.y0 = state.drawBaseline * state.drawScale;
            shape.y1 = shape.y0 - 8.0 * state.drawScale;
        }
    }
}

CurveRange curveRange(const SeriesRange& series1, const SeriesRange& series2, const SeriesRange& series3)
{
    CurveRange range;
    includeMaximum(series1, range.ymax);
    includeMaximum(series2, range.ymax);
    includeMaximum(series3, range.ymax);
    includeMinimum(series2, range.ymin);
    includeMinimum(series3, range.ymin);
    range.lowest = range.ymin;
    includeMinimum(series1, range.lowest);
    return range;
}

std::optional<AxisRange> scaleGraph(State& state, const CurveRange& range)
{
    double span = std::fabs(range.ymin) + std::fabs(range.ymax);
    if (span == 0)
        span = std::fabs(range.lowest); // only the red curve leaves the zero line, downwards
    // no range, or curves that left the numbers (a lens of no length): the drawing keeps its scale
    if (!(span > 0) || !std::isfinite(span) || !std::isfinite(range.lowest))
        return std::nullopt;
    const double old = state.drawScale == 0 ? 1.0 : state.drawScale;
    state.drawScale = span / kDrawingUnitsPerRange;
    const double r = state.drawScale / old;
    for (int i = 1; i <= state.line.count; ++i) {
        ElementShape& shape = state.line.shape(i);
        shape.y0 *= r;
        shape.y1 *= r;
    }
    // the band's top, the tallest shape (an alpha magnet), 10 drawing units below the lowest curve
    const double bandTop = (state.drawBaseline + kBandTopAboveBaseline) * state.drawScale;
    const double clearance = kBandClearance * state.drawScale;
    const double offset = std::min(0.0, range.lowest - clearance - bandTop);
    return AxisRange{offset + (state.drawBaseline - 20.0) * state.drawScale, 1.05 * std::fabs(range.ymax),
                     offset};
}

double bottomAxisMaximum(const BeamLine& line)
{
    return line.length + 0.75;
}

} // namespace kestrune
