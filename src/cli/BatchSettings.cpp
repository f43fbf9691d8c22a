#include "cli/BatchSettings.h"

#include "cli/BatchRf.h"
#include "cli/VacuumLifetimeBatch.h"
#include "core/Format.h"
#include "core/NumberInput.h"

#include <algorithm>

namespace kestrune {

namespace {

/// A value that must lie above a limit (or at it, with orEqual).
double realAbove(const std::string& text, double limit, bool orEqual, const char* what)
{
    const double value = parseDouble(text);
    if (value < limit || (!orEqual && value == limit))
        throw BatchUsageError(std::string(what) + " must be " + (orEqual ? "at least " : "above ") +
                              shortestFloat(limit));
    return value;
}

std::vector<SettingName> makeNames()
{
    std::vector<SettingName> names;
    names.push_back({"beam.current_ma", "beam current in mA (the ring window's current box)",
                     [](State& state, BatchInputs&, const std::string& text) {
                         state.beamCurrent = realAbove(text, 0, true, "the beam current") / 1000;
                     }});
    names.push_back({"beam.coupling_percent", "emittance coupling in % (the ring window's coupling box)",
                     [](State&, BatchInputs& inputs, const std::string& text) {
                         inputs.couplingPercent = realAbove(text, 0, true, "the coupling");
                     }});
    names.push_back({"ring.superperiods", "number of superperiods (identical cells) of the ring",
                     [](State& state, BatchInputs&, const std::string& text) {
                         const int cells = parseInt(text);
                         if (cells < 1)
                             throw BatchUsageError("the number of superperiods must be at least 1");
                         state.line.superPeriods = cells;
                     }});
    names.push_back({"ring.rf_frequency_mhz", "rf frequency in MHz (the ring window's rf frequency box)",
                     [](State& state, BatchInputs&, const std::string& text) {
                         state.rf.frequency = realAbove(text, 0, false, "the rf frequency") * 1e6;
                     }});
    for (SettingName& name : vacuumLifetimeSettingNames())
        names.push_back(std::move(name));
    for (SettingName& name : rfSettingNames())
        names.push_back(std::move(name));
    return names;
}

} // namespace

const std::vector<SettingName>& settingNames()
{
    static const std::vector<SettingName> names = makeNames();
    return names;
}

void applySetting(State& state, BatchInputs& inputs, const std::string& assignment)
{
    const std::size_t equals = assignment.find('=');
    if (equals == std::string::npos)
        throw BatchUsageError("--set needs NAME=VALUE, got '" + assignment + "'");
    const std::string name = assignment.substr(0, equals);
    const std::string text = assignment.substr(equals + 1);
    for (const SettingName& known : settingNames()) {
        if (known.name != name)
            continue;
        try {
            known.apply(state, inputs, text);
        } catch (const ConversionError& e) {
            throw BatchUsageError("--set " + name + ": " + e.what());
        } catch (const BatchUsageError& e) {
            throw BatchUsageError("--set " + name + ": " + e.what());
        }
        return;
    }
    throw BatchUsageError("--set: unknown name '" + name + "' (--help lists the names)");
}

std::string settingsHelp()
{
    std::string text;
    for (const SettingName& known : settingNames()) {
        std::string name = "  " + known.name;
        name.resize(std::max<std::size_t>(name.size() + 1, 28), ' ');
        if (!text.empty())
            text += '\n';
        text += name + known.help;
    }
    return text;
}

} // namespace kestrune
