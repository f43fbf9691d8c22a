#include "core/LabelMask.h"

#include "core/Format.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace kestrune {

namespace {

/// The parts of a mask that decide how a number is written.
struct MaskParts
{
    int integerZeros = 0;      // integer digits always written
    int decimalZeros = 0;      // decimals always written
    int decimalHashes = 0;     // further decimals written when not zero
    bool exponent = false;     // scientific notation
    bool exponentSign = false; // "+": a plus sign for positive exponents too
    int exponentDigits = 0;    // least number of exponent digits
};

MaskParts parseMask(const std::string& mask)
{
    MaskParts parts;
    bool decimals = false;
    for (std::size_t i = 0; i < mask.size(); ++i) {
        const char c = mask[i];
        if ((c == 'E' || c == 'e') && i + 1 < mask.size() && (mask[i + 1] == '+' || mask[i + 1] == '-')) {
            parts.exponent = true;
            parts.exponentSign = mask[i + 1] == '+';
            for (std::size_t j = i + 2; j < mask.size() && mask[j] == '0'; ++j)
                ++parts.exponentDigits;
            break;
        }
        if (c == '.')
            decimals = true;
        else if (c == '0' && !decimals)
            ++parts.integerZeros;
        else if (c == '0')
            ++parts.decimalZeros;
        else if (c == '#' && decimals)
            ++parts.decimalHashes;
    }
    return parts;
}

/// Fixed-point digits of |value| with `decimals` decimals, trailing optional zeros removed.
std::string fixedDigits(double magnitude, const MaskParts& parts)
{
    const int decimals = parts.decimalZeros + parts.decimalHashes;
    std::string text = fmt("%.*f", decimals, magnitude);
    if (decimals > 0) {
        std::size_t end = text.size();
        const std::size_t point = text.find('.');
        const std::size_t keep = point + 1 + static_cast<std::size_t>(parts.decimalZeros);
        while (end > keep && text[end - 1] == '0')
            --end;
        if (end == point + 1)
            end = point; // no decimal follows: the point goes too
        text.resize(end);
    }
    // integer digits: at least integerZeros of them ("#0.0" writes 0.5, "#.0" writes .5)
    const std::size_t point = text.find('.');
    const std::size_t integerLength = point == std::string::npos ? text.size() : point;
    if (integerLength == 1 && text[0] == '0' && parts.integerZeros == 0)
        text.erase(0, 1);
    else if (static_cast<int>(integerLength) < parts.integerZeros)
        text.insert(0, static_cast<std::size_t>(parts.integerZeros) - integerLength, '0');
    return text;
}

std::string scientificDigits(double magnitude, const MaskParts& parts)
{
    const int decimals = parts.decimalZeros + parts.decimalHashes;
    // %e rounds the mantissa and carries into the exponent where needed
    const std::string text = fmt("%.*e", decimals, magnitude);
    const std::size_t e = text.find('e');
    MaskParts mantissaParts = parts;
    mantissaParts.integerZeros = std::max(parts.integerZeros, 1);
    std::string mantissa = fixedDigits(std::strtod(text.substr(0, e).c_str(), nullptr), mantissaParts);
    const int exponent = std::atoi(text.c_str() + e + 1);
    std::string digits = std::to_string(std::abs(exponent));
    if (static_cast<int>(digits.size()) < parts.exponentDigits)
        digits.insert(0, static_cast<std::size_t>(parts.exponentDigits) - digits.size(), '0');
    const char* sign = exponent < 0 ? "-" : (parts.exponentSign ? "+" : "");
    return mantissa + "E" + sign + digits;
}

} // namespace

std::string formatLabelMask(double value, const std::string& mask)
{
    if (std::isnan(value))
        return "NAN";
    if (std::isinf(value))
        return value > 0 ? "INF" : "-INF";
    const MaskParts parts = parseMask(mask);
    const double magnitude = std::fabs(value);
    std::string text = parts.exponent ? scientificDigits(magnitude, parts) : fixedDigits(magnitude, parts);
    if (text.empty())
        text = "0";
    // a value that rounds to zero has no sign
    const bool allZero =
        text.find_first_of("123456789") == std::string::npos ||
        (parts.exponent && text.substr(0, text.find('E')).find_first_of("123456789") == std::string::npos);
    if (value < 0 && !allZero)
        text.insert(0, 1, '-');
    return text;
}

} // namespace kestrune
