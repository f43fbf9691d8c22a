#pragma once

#include "core/State.h"

#include <string>

namespace kestrune {

/// The fields of an element that --set reaches by the element's name, "ELEMENT.FIELD=VALUE": an rf
/// cavity's voltage (V), lag (units of 2 pi), harmonic, frequency (Hz); an octupole's k3 (1/m^4), a
/// solenoid's ks (1/m), a kicker's hkick and vkick (rad), a thin multipole's knl0..knl9 and ksl0..ksl9
/// (MAD-X's K_n L, 1/m^n), k1s (1/m^2) of quadrupoles and bends and tilt (rad) of any magnet.
std::string elementFieldsHelp();

/// Applies "ELEMENT.FIELD" = text to every element of that name in the line (and the full ring's copies
/// of the cell); false when no element has the name (nothing changed). Throws BatchUsageError naming
/// the element, with nothing changed, for a field the element's kind does not have, a value outside
/// the element panel's range or a result the element refuses; ConversionError for text that is no
/// number. With checkOnly, before any file is read, only the field's name and the number are checked
/// and the result is true.
bool applyElementSetting(State& state, const std::string& name, const std::string& text, bool checkOnly);

} // namespace kestrune
