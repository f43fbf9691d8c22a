#include "core/NumberInput.h"

#include "core/Format.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>

namespace kestrune {

namespace {

std::string trimmed(const std::string& text)
{
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return {};
    const auto last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

} // namespace

double parseDouble(const std::string& text)
{
    const std::string t = trimmed(text);
    const std::string message = "'" + excerpt(text) + "' is not a valid floating point value";
    if (t.empty() || t.find_first_not_of("0123456789+-.eE") != std::string::npos)
        throw ConversionError(message);
    char* end = nullptr;
    const double value = std::strtod(t.c_str(), &end);
    // a number too small for a normal double reads as the nearest denormal or 0 (strtod's ERANGE
    // says so); one too large is no value
    if (end != t.c_str() + t.size() || !std::isfinite(value))
        throw ConversionError(message);
    return value;
}

int parseInt(const std::string& text)
{
    const std::string t = trimmed(text);
    const std::string message = "'" + excerpt(text) + "' is not a valid integer value";
    if (t.empty() || t.find_first_not_of("0123456789+-") != std::string::npos)
        throw ConversionError(message);
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(t.c_str(), &end, 10);
    if (end != t.c_str() + t.size() || errno == ERANGE || value > INT_MAX || value < INT_MIN)
        throw ConversionError(message);
    return static_cast<int>(value);
}

double parseDouble(const std::string& box, const std::string& text)
{
    try {
        return parseDouble(text);
    } catch (const ConversionError& e) {
        throw ConversionError(box + ": " + e.what());
    }
}

int parseInt(const std::string& box, const std::string& text)
{
    try {
        return parseInt(text);
    } catch (const ConversionError& e) {
        throw ConversionError(box + ": " + e.what());
    }
}

bool showingConversionErrors(Messages& messages, const std::function<void()>& handler)
{
    try {
        handler();
        return true;
    } catch (const ConversionError& e) {
        messages.error(e.what());
        return false;
    }
}

} // namespace kestrune
