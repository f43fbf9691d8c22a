#include "cli/BatchSettings.h"

#include "cli/BatchRf.h"
#include "cli/ElementSettings.h"
#include "cli/VacuumLifetimeBatch.h"
#include "core/Format.h"
#include "core/NumberInput.h"

#include <algorithm>

namespace kestrune {

namespace {

std::vector<SettingName> makeNames()
{
    std::vector<SettingName> names;
    names.push_back({"beam.current_ma", "beam current in mA (the ring window's current box)",
                     [](State& state, BatchInputs&, const std::string& text) {
                         state.beamCurrent = rangedValue(text, ranges::kBeamCurrentMa) / 1000;
                     }});
    names.push_back({"beam.coupling_percent", "emittance coupling in % (the ring window's coupling box)",
                     [](State&, BatchInputs& inputs, const std::string& text) {
                         inputs.couplingPercent = rangedValue(text, ranges::kCouplingPercent);
                     }});
    names.push_back({"ring.superperiods", "number of superperiods (identical cells) of the ring",
                     [](State& state, BatchInputs&, const std::string& text) {
                         state.line.superPeriods = rangedInt(text, ranges::kSuperperiods);
                     }});
    names.push_back({"ring.rf_frequency_mhz", "rf frequency in MHz (the ring window's rf frequency box)",
                     [](State& state, BatchInputs&, const std::string& text) {
                         state.rf.frequency = rangedValue(text, ranges::kRfFrequencyMHz) * 1e6;
                     }});
    for (SettingName& name : vacuumLifetimeSettingNames())
        names.push_back(std::move(name));
    for (SettingName& name : rfSettingNames())
        names.push_back(std::move(name));
    return names;
}

} // namespace

double rangedValue(const std::string& text, const InputRange& range)
{
    const double value = parseDouble(text);
    if (const std::optional<std::string> refusal = rangeRefusal(range, value))
        throw BatchUsageError(*refusal);
    return value;
}

int rangedInt(const std::string& text, const InputRange& range)
{
    const int value = parseInt(text);
    if (const std::optional<std::string> refusal = rangeRefusal(range, value))
        throw BatchUsageError(*refusal);
    return value;
}

const std::vector<SettingName>& settingNames()
{
    static const std::vector<SettingName> names = makeNames();
    return names;
}

void applySetting(State& state, BatchInputs& inputs, const std::string& assignment)
{
    const std::size_t equals = assignment.find('=');
    if (equals == std::string::npos)
        throw BatchUsageError("--set needs NAME=VALUE, got '" + excerpt(assignment) + "'");
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
    try {
        if (applyElementSetting(state, name, text, inputs.usageCheck))
            return;
    } catch (const ConversionError& e) {
        throw BatchUsageError("--set " + name + ": " + e.what());
    } catch (const BatchUsageError& e) {
        throw BatchUsageError("--set " + name + ": " + e.what());
    }
    throw BatchUsageError("--set: unknown name '" + excerpt(name) + "' (--help lists the names)");
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
    return text + "\n  " + elementFieldsHelp();
}

} // namespace kestrune
