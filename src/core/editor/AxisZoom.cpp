#include "core/editor/AxisZoom.h"

#include <algorithm>
#include <cmath>

namespace kestrune {

double wheelZoomFactor(int angleDelta)
{
    return std::pow(0.8, angleDelta / 120.0);
}

KeyRange keptInside(const KeyRange& shown, const KeyRange& full)
{
    if (!(shown.width() < full.width()))
        return full;
    KeyRange kept = shown;
    if (kept.lower < full.lower)
        kept = KeyRange{full.lower, full.lower + shown.width()};
    if (kept.upper > full.upper)
        kept = KeyRange{full.upper - shown.width(), full.upper};
    return kept;
}

KeyRange zoomedRange(const KeyRange& shown, const KeyRange& full, double s, double factor)
{
    if (!(factor > 0) || !std::isfinite(factor) || !(shown.width() > 0))
        return keptInside(shown, full);
    double width = shown.width() * factor;
    width = std::max(width, std::min(kMinZoomWidth, full.width()));
    // s keeps the fraction of the width to its left
    const double left = (s - shown.lower) / shown.width();
    const double lower = s - left * width;
    return keptInside(KeyRange{lower, lower + width}, full);
}

KeyRange pannedRange(const KeyRange& shown, const KeyRange& full, double ds)
{
    if (!std::isfinite(ds))
        return keptInside(shown, full);
    return keptInside(KeyRange{shown.lower + ds, shown.upper + ds}, full);
}

} // namespace kestrune
