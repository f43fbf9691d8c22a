#pragma once

#include <string>

namespace kestrune {

/// value written with a chart label mask in the notation of the program's charts: "0" a digit that is
/// always written, "#" a digit written only when needed, "." the decimal point (left out when no
/// decimal follows), "E+000" / "E-000" an exponent with at least as many digits as zeros ("+" writes
/// the sign always). Examples: "##0.###" gives 2.5 for 2.5 and 0 for 0.0001; "##0.0#" gives 1.0 for 1;
/// "0.0E+000" gives 1.2E+003 for 1234; "##0." gives 720 for 720.
std::string formatLabelMask(double value, const std::string& mask);

} // namespace kestrune
