#pragma once

#include <string>

namespace kestrune {

/// printf-style formatting into a std::string ("%8.3f", "%5d", ...).
std::string fmt(const char* format, ...) __attribute__((format(printf, 1, 2)));

/// Value scaled to an SI prefix: "%8.3f", a blank, the prefix and the unit ("  12.346 keV").
std::string siFormat(double value, const std::string& unit);

/// fmt of one floating-point value, or "n/a" right-justified to the same width when the value is not
/// available (NaN or infinite). A value too wide for the field is written in exponent form ("1.0e+300"),
/// a negative value that rounds to zero without its sign.
std::string fmtOrNa(const char* format, double value);

/// siFormat, or "n/a" in the number's eight characters when the value is not available.
std::string siFormatOrNa(double value, const std::string& unit);

/// Shortest decimal text that reads back as the same double ("0.1", "1e-10", "12").
std::string shortestFloat(double value);

/// The first n characters of text (all of it when shorter).
std::string cut(const std::string& text, std::size_t n);

/// text right-justified in a field of width characters (longer text is kept whole).
std::string rightJustify(const std::string& text, std::size_t width);

/// text with every control character and every byte that is no part of a UTF-8 character written as
/// "\xNN", so that bytes read from a binary file show as readable text in a message.
std::string printableText(const std::string& text);

/// printableText of the first n bytes of text (a character is not split), with "..." when text is longer:
/// for echoing what a file holds in a message of readable length.
std::string excerpt(const std::string& text, std::size_t n = 40);

/// A line of 90 minus signs, the separator of every list.
const std::string& separatorLine();

} // namespace kestrune
