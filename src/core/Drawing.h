#pragma once

#include "core/BeamLine.h"
#include "core/State.h"

#include <optional>

namespace kestrune {

/// How an element kind of the element list is drawn: outline, fill and height above / below the
/// drawing baseline, in drawing units.
struct KindDrawing
{
    ShapeStyle style = ShapeStyle::Rectangle;
    Rgb colour;
    double upper = 0; // drawing units above DrawBaseline
    double lower = 0; // drawing units below DrawBaseline
};

/// The drawing of kind 0..15 of the element list; nullopt for any other kind.
std::optional<KindDrawing> kindDrawing(int kind);

/// Gives shape the style and fill colour of kind 0..15; other kinds change nothing.
void applyKindStyle(ElementShape& shape, int kind);
/// Sets the vertical extent of kind 0..15: y0 = (baseline - lower)*scale, y1 = (baseline + upper)*scale.
void applyKindExtent(ElementShape& shape, int kind, double drawBaseline, double drawScale);

/// A quadrupole's drawing follows the sign of k: red rising 8 units above the baseline for k > 0,
/// green hanging 8 units below it otherwise.
void applyQuadrupoleSign(ElementShape& shape, double k, double drawBaseline, double drawScale);

/// Horizontal extent of element i's shape from its record: s .. s+L, or s -/+ 0.015 m for vacuum pumps,
/// alpha magnets and codes of 100 and above, and for the kinds of codes 60..99 when their length is 0.
void placeShape(BeamLine& line, int i);

/// Rebuilds shapes 1..line.count from the boxes a lattice file gave (state.fileBoxes): box, title, and
/// style and colour by family; a defocusing quadrupole is drawn green below the baseline whatever its box.
void drawFromFileBoxes(State& state);

/// Smallest and largest value of one curve series; empty when the series has no points.
struct SeriesRange
{
    double min = 0;
    double max = 0;
    bool empty = true;
};

/// The vertical range the drawing is scaled to.
struct CurveRange
{
    double ymin = 0;   // min(0, minimum of series 2 and 3)
    double ymax = 0;   // max(0, maximum of each series)
    double lowest = 0; // min(0, minimum of every series): the drawing stays below it
};

/// The range of the three curve series. The scale takes the minimum of series 2 and 3 only; the
/// lowest point of all three decides where the drawing band goes.
CurveRange curveRange(const SeriesRange& series1, const SeriesRange& series2, const SeriesRange& series3);

/// A range of the chart's left axis, and where the drawing is shown.
struct AxisRange
{
    double min = 0;
    double max = 0;
    double drawingOffset = 0; // the drawing is shown this far below its shapes' own extents (<= 0)
};

/// SetScale / ScaleGraph: DrawScale = (|ymin| + |ymax|) / (800/7) (|lowest| when that is 0), every
/// element shape's y0 and y1 multiplied by new/old scale; the left axis runs up to 1.05*|ymax|. The
/// drawing band, whose top lies 10 drawing units above DrawBaseline, stays where it is while it clears
/// the lowest curve by 10 drawing units; a lower curve takes the band down with it (drawingOffset).
/// The axis runs down to (DrawBaseline - 20)*DrawScale below the band's place. nullopt, with nothing
/// changed, when the range is 0.
std::optional<AxisRange> scaleGraph(State& state, const CurveRange& range);

/// The bottom axis maximum after an edit: LineLength + 0.75 m.
double bottomAxisMaximum(const BeamLine& line);

} // namespace kestrune
