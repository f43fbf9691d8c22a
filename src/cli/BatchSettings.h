#pragma once

#include "core/InputRanges.h"
#include "core/State.h"
#include "core/lifetime/LifetimeUpdate.h"
#include "core/vacuum/VacuumInput.h"

#include <functional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace kestrune {

/// Wrong use of the batch tool; what() is the text it prints before exiting with status 2.
class BatchUsageError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

/// What a user would type in the windows' boxes, for the values the batch tool does not keep in the
/// State. Each field starts from the box's default.
struct BatchInputs
{
    double couplingPercent = 1.0; // the ring window's coupling box, %
    VacuumBoxes vacuum;           // the vacuum window's boxes
    // lifetime boxes typed after the window's activation has filled them, in order
    std::vector<std::pair<std::string LifetimeBoxes::*, std::string>> lifetimeTyped;
    bool rfSelectImpedance = false;    // the rf window's "select Impedance" instead of the scaled one
    bool rfAluminum = false;           // the rf window's cavity material: aluminium instead of copper
    double rfShuntImpedanceMohm = 1.0; // the rf window's typed shunt impedance per cell, MOhm
    bool usageCheck = false;           // --set checked before the file is read: element names unknown yet
};

/// One name of --set NAME=VALUE: what it sets and how it takes the text.
struct SettingName
{
    std::string name;
    std::string help; // one line for --help
    /// Takes the text as the window's box would; throws ConversionError or BatchUsageError.
    std::function<void(State&, BatchInputs&, const std::string&)> apply;
};

/// The number in text when range's box takes it; throws ConversionError for text that is no number and
/// BatchUsageError with the box's refusal for a number outside the range.
double rangedValue(const std::string& text, const InputRange& range);
/// The same for a whole number.
int rangedInt(const std::string& text, const InputRange& range);

/// Every name --set knows, in the order --help lists them.
const std::vector<SettingName>& settingNames();

/// Applies "NAME=VALUE" to state and inputs; throws BatchUsageError with a clear text for a missing
/// "=", an unknown name or a value the box would refuse. A name that is none of settingNames may be
/// "ELEMENT.FIELD" (applyElementSetting).
void applySetting(State& state, BatchInputs& inputs, const std::string& assignment);

/// The --help text of --set: one line per name.
std::string settingsHelp();

} // namespace kestrune
