#include "core/aperture/ScanLimits.h"

#include "core/Format.h"

#include <cmath>

namespace kestrune {

std::optional<std::string> limitRefusal(const std::string& name, double value, const ScanLimit& limit,
                                        bool whole)
{
    const bool inside =
        value >= limit.lower && value <= limit.upper && (!whole || std::floor(value) == value);
    if (inside)
        return std::nullopt;
    return "'" + name + "' must be " + (whole ? "a whole number " : "") + "between " +
           fmt("%.10g", limit.lower) + " and " + fmt("%.10g", limit.upper);
}

} // namespace kestrune
