#pragma once

namespace kestrune {

/// A stretch of the chart's horizontal (s) axis, m.
struct KeyRange
{
    double lower = 0;
    double upper = 0;
    double width() const { return upper - lower; }
};

/// The narrowest stretch a zoom shows: 1 cm.
constexpr double kMinZoomWidth = 0.01;

/// The zoom factor (new width over old) of a mouse-wheel turn of angleDelta eighths of a degree:
/// each notch forward (120) shows 0.8 of the width, each notch back 1.25 times it.
double wheelZoomFactor(int angleDelta);

/// The range shown after scaling its width by factor about the point s, which keeps its place on the
/// axis; the result stays inside full and is no narrower than kMinZoomWidth (or full, when shorter).
/// Where the range would leave full it is moved back in, and s then moves with it.
KeyRange zoomedRange(const KeyRange& shown, const KeyRange& full, double s, double factor);

/// The range shown after moving it by ds along the axis, stopped at the ends of full.
KeyRange pannedRange(const KeyRange& shown, const KeyRange& full, double ds);

/// The range shown kept inside a new full range: as wide as before where it fits, else full.
KeyRange keptInside(const KeyRange& shown, const KeyRange& full);

} // namespace kestrune
