#pragma once

#include "core/Messages.h"

#include <functional>
#include <stdexcept>
#include <string>

namespace kestrune {

/// The toolkit-style conversion error of typed text; what() is the text the user reads.
class ConversionError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

/// The number in text; leading and trailing blanks are allowed. Throws ConversionError
/// "'<text>' is not a valid floating point value" for anything else.
double parseDouble(const std::string& text);

/// The whole number in text (blanks around it allowed). Throws ConversionError
/// "'<text>' is not a valid integer value" for anything else, also when out of 32-bit range.
int parseInt(const std::string& text);

/// parseDouble and parseInt of the text of a box, the error naming it: "tolerance: '' is not a valid
/// floating point value".
double parseDouble(const std::string& box, const std::string& text);
int parseInt(const std::string& box, const std::string& text);

/// Runs a handler as the program's event loop runs one: text that is not a number (ConversionError)
/// ends it, and the conversion error's text is shown through messages. False when it ended so.
bool showingConversionErrors(Messages& messages, const std::function<void()>& handler);

} // namespace kestrune
