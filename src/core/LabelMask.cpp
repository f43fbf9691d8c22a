#include "core/LabelMask.h"

#include "core/Format.h"

#include <algorithm>

namespace kestrune {

std::string maskFormat(double value, const std::string& mask)
{
    const std::size_t point = mask.find('.');
    const std::string whole = mask.substr(0, point);
    const std::string fraction = point == std::string::npos ? std::string() : mask.substr(point + 1);
    const auto fixed = static_cast<std::size_t>(std::count(fraction.begin(), fraction.end(), '0'));
    const auto places = fixed + static_cast<std::size_t>(std::count(fraction.begin(), fraction.end(), '#'));
    const int minimumDigits = std::max(1, static_cast<int>(std::count(whole.begin(), whole.end(), '0')));

    std::string text = fmt("%0*.*f", minimumDigits + (places > 0 ? static_cast<int>(places) + 1 : 0),
                           static_cast<int>(places), value);
    if (places > fixed) {
        const std::size_t dot = text.find('.');
        std::size_t keep = text.size();
        while (keep > dot + 1 + fixed && text[keep - 1] == '0')
            --keep;
        if (keep == dot + 1)
            --keep; // no decimals left: no point either
        text.resize(keep);
    }
    // a negative value that rounds to zero is shown as zero
    if (text[0] == '-' && text.find_first_not_of("-0.") == std::string::npos)
        text.erase(0, 1);
    return text;
}

} // namespace kestrune
