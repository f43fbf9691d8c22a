#pragma once

#include <string>

namespace kestrune {

/// The axis limits a graph proposes in the limit boxes: x_min, x_max, y_min, y_max.
struct ProposedLimits
{
    double xMin = 0;
    double xMax = 0;
    double yMin = 0;
    double yMax = 0;
};

/// What the manual limits do to one axis.
enum class AxisChange { Keep, Apply, Refused };

/// The manual limits of one axis from its boxes.
struct ManualAxis
{
    AxisChange change = AxisChange::Keep;
    double min = 0;
    double max = 0;
    double step = 0;     // tick increment; not used on a logarithmic axis
    std::string refusal; // the message when Refused
};

/// Most ticks a typed increment may put on an axis.
constexpr double kMostTicks = 1000;

/// The limit rule of "&update": a minimum above the maximum makes the maximum 1.1 times the minimum;
/// the axis then takes minimum, maximum and increment when the maximum lies above the minimum and is not
/// 0, and is kept as it is otherwise. Refused, with its message: an increment that is not above 0 or
/// would give more than kMostTicks ticks on a linear axis, and a minimum that is not above 0 on a
/// logarithmic one.
ManualAxis manualAxis(double min, double max, double step, bool logarithmic);

} // namespace kestrune
