#include "core/rf/ChartLimits.h"

#include <cmath>

namespace kestrune {

ManualAxis manualAxis(double min, double max, double step, bool logarithmic)
{
    ManualAxis axis;
    if (min > max)
        max = 1.1 * min;
    if (!(max > min) || max == 0)
        return axis;
    if (logarithmic && !(min > 0)) {
        axis.change = AxisChange::Refused;
        axis.refusal = "a logarithmic axis needs a minimum above 0!";
        return axis;
    }
    if (!logarithmic && (!(step > 0) || (max - min) / step > kMostTicks)) {
        axis.change = AxisChange::Refused;
        axis.refusal = "the increment must be above 0 and give at most 1000 ticks!";
        return axis;
    }
    axis.change = AxisChange::Apply;
    axis.min = min;
    axis.max = max;
    axis.step = step;
    return axis;
}

} // namespace kestrune
