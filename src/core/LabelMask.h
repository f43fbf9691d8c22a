#pragma once

#include <string>

namespace kestrune {

/// value written by a chart label mask such as "##0.0###" or "##0.0": as many decimals as there are
/// digit places after the point, trailing zeros dropped down to the '0' places; at least as many
/// integer digits as '0' places before the point.
std::string maskFormat(double value, const std::string& mask);

} // namespace kestrune
