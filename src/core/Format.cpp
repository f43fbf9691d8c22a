#include "core/Format.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace kestrune {

std::string fmt(const char* format, ...)
{
    char buffer[256];
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    const int n = std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    std::string result;
    if (n < 0) {
        result.clear();
    } else if (static_cast<std::size_t>(n) < sizeof buffer) {
        result.assign(buffer, static_cast<std::size_t>(n));
    } else {
        std::vector<char> big(static_cast<std::size_t>(n) + 1);
        std::vsnprintf(big.data(), big.size(), format, copy);
        result.assign(big.data(), static_cast<std::size_t>(n));
    }
    va_end(copy);
    return result;
}

std::string siFormat(double value, const std::string& unit)
{
    static const char* const kLarge[] = {"", "k", "M", "G", "T", "P"};
    static const char* const kSmall[] = {"", "m", "u", "n", "p", "f", "a"};
    double a = std::fabs(value);
    std::string prefix;
    if (a != 0 && std::isfinite(a)) {
        const double g = std::floor(std::log10(a) / 3.0);
        if (g >= 1 && g <= 5) {
            const int i = static_cast<int>(g);
            a /= std::pow(10.0, 3 * i);
            prefix = kLarge[i];
        } else if (g <= -1 && g >= -6) {
            const int i = static_cast<int>(-g);
            a *= std::pow(10.0, 3 * i);
            prefix = kSmall[i];
        }
    }
    const double shown = value < 0 ? -a : (value == 0 ? 0.0 : a);
    return fmt("%8.3f", shown) + " " + prefix + unit;
}

namespace {

// The field width a printf format asks for ("%8.3f": 8); 0 when it names none.
std::size_t fieldWidth(const char* format)
{
    const char* p = std::strchr(format, '%');
    if (p == nullptr)
        return 0;
    ++p;
    while (*p != '\0' && std::strchr("-+ #0", *p) != nullptr)
        ++p;
    return std::strtoul(p, nullptr, 10);
}

} // namespace

std::string fmtOrNa(const char* format, double value)
{
    if (!std::isfinite(value))
        return rightJustify("n/a", fmt(format, 0.0).size());
    std::string text = fmt(format, value);
    const std::size_t width = fieldWidth(format);
    if (width > 0 && text.size() > width) {
        // a number too wide for its field keeps the field's width in exponent form, with the digits that fit
        for (int digits = static_cast<int>(width); digits >= 0; --digits) {
            text = fmt("%.*e", digits, value);
            if (text.size() <= width)
                break;
        }
        return rightJustify(text, width);
    }
    // a negative value that rounds to zero shows as zero
    const std::size_t minus = text.find('-');
    if (minus != std::string::npos && text.find_first_of("123456789", minus) == std::string::npos &&
        text.find_first_of("eE") == std::string::npos)
        text[minus] = ' ';
    return text;
}

std::string siFormatOrNa(double value, const std::string& unit)
{
    return std::isfinite(value) ? siFormat(value, unit) : rightJustify("n/a", 8);
}

std::string shortestFloat(double value)
{
    if (!std::isfinite(value))
        return fmt("%.17g", value);
    // no fewer digits than the shortest decimal that reads back as value (to_chars) can round to a text
    // that reads back, and mostly that many do: where value is a power of two and the shortest lies on
    // the wider side of it, one more. %g from there on, as printf gives it, read back as strtod reads it;
    // each try takes tens of nanoseconds where printf and strtod took a microsecond
    char text[64];
    const std::to_chars_result shortest =
        std::to_chars(text, text + sizeof text, value, std::chars_format::scientific);
    int digits = 0;
    for (const char* c = text; c != shortest.ptr && *c != 'e'; ++c)
        digits += *c >= '0' && *c <= '9' ? 1 : 0;
    for (int precision = std::max(1, digits); precision <= 17; ++precision) {
        const std::to_chars_result end =
            std::to_chars(text, text + sizeof text, value, std::chars_format::general, precision);
        double back = 0;
        const std::from_chars_result read = std::from_chars(text, end.ptr, back);
        if (read.ec == std::errc() && back == value)
            return std::string(text, end.ptr);
    }
    return fmt("%.17g", value);
}

std::string cut(const std::string& text, std::size_t n)
{
    return text.size() <= n ? text : text.substr(0, n);
}

std::string rightJustify(const std::string& text, std::size_t width)
{
    return text.size() >= width ? text : std::string(width - text.size(), ' ') + text;
}

namespace {

/// Length of the well-formed UTF-8 character starting at text[i] (2 to 4 bytes); 0 when there is none.
std::size_t utf8Length(const std::string& text, std::size_t i)
{
    const auto byte = [&text](std::size_t j) { return static_cast<unsigned char>(text[j]); };
    const unsigned char lead = byte(i);
    std::size_t n = 0;
    unsigned char low = 0x80; // allowed range of the second byte (no overlong forms, no surrogates)
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        n = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        n = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        n = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (i + n > text.size() || byte(i + 1) < low || byte(i + 1) > high)
        return 0;
    for (std::size_t j = i + 2; j < i + n; ++j)
        if (byte(j) < 0x80 || byte(j) > 0xBF)
            return 0;
    return n;
}

} // namespace

std::string printableText(const std::string& text)
{
    std::string shown;
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c < 0x7F) {
            shown += text[i++];
            continue;
        }
        const std::size_t n = c >= 0x80 ? utf8Length(text, i) : 0;
        if (n > 0) {
            shown.append(text, i, n);
            i += n;
            continue;
        }
        shown += fmt("\\x%02X", static_cast<unsigned>(c));
        ++i;
    }
    return shown;
}

std::string excerpt(const std::string& text, std::size_t n)
{
    if (text.size() <= n)
        return printableText(text);
    // back to the start of a UTF-8 character: continuation bytes are 10xxxxxx
    std::size_t end = n;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
        --end;
    return printableText(text.substr(0, end)) + "...";
}

const std::string& separatorLine()
{
    static const std::string line(90, '-');
    return line;
}

} // namespace kestrune
