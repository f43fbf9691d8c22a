#include "cli/BatchRf.h"

#include "cli/RingReport.h"
#include "cli/StderrMessages.h"
#include "core/Format.h"
#include "core/NumberInput.h"
#include "core/io/Listing.h"
#include "core/rf/CavityBudget.h"
#include "core/rf/CavitySystem.h"
#include "core/rf/RfParameter.h"
#include "core/rf/RfUpdate.h"

namespace kestrune {

namespace {

CavityInput cavityInput(const State& state, const BatchInputs& inputs)
{
    CavityInput input;
    input.cavities = state.rf.cavities;
    input.miscLossPercent = state.rf.miscLoss * 100;
    input.voltageKv = state.rf.voltage / 1000;
    input.powerKw = state.rf.power / 1000;
    input.selectImpedance = inputs.rfSelectImpedance;
    input.material = inputs.rfAluminum ? CavityMaterial::Aluminum : CavityMaterial::Copper;
    input.shuntImpedanceMohm = inputs.rfShuntImpedanceMohm;
    return input;
}

// The rf cavities of the cell as they stand after the rf parameters shared the voltage among them.
Json cavityList(const BeamLine& line)
{
    Json cavities = Json::array();
    for (int i = 1; i <= line.count; ++i) {
        const LatticeElement& e = line.at(i);
        if (e.code != code::kRfCavity)
            continue;
        cavities.push_back({{"element", i},
                            {"name", e.name},
                            {"voltage_v", reportNumber(e.voltage)},
                            {"lag", reportNumber(e.lag)},
                            {"harmonic", reportNumber(e.harmonic)},
                            {"frequency_hz", reportNumber(e.frequency)}});
    }
    return cavities;
}

} // namespace

std::vector<SettingName> rfSettingNames()
{
    std::vector<SettingName> names;
    names.push_back({"rf.voltage_kv",
                     "total rf voltage in kV (the rf window's voltage box; shared among the rf cavities)",
                     [](State& state, BatchInputs&, const std::string& text) {
                         state.rf.voltage = rangedValue(text, ranges::kRfVoltageKv) * 1000;
                         spreadCavityVoltage(state, state.rf.voltage);
                     }});
    names.push_back({"rf.power_kw", "total rf power in kW (the rf window's power box)",
                     [](State& state, BatchInputs&, const std::string& text) {
                         state.rf.power = rangedValue(text, ranges::kRfPowerKw) * 1000;
                     }});
    names.push_back({"rf.cavities", "number of cavity cells in the ring",
                     [](State& state, BatchInputs&, const std::string& text) {
                         state.rf.cavities = rangedInt(text, ranges::kCavityCells);
                     }});
    names.push_back({"rf.misc_loss_percent", "miscellaneous rf losses in % of the rf power",
                     [](State& state, BatchInputs&, const std::string& text) {
                         state.rf.miscLoss = rangedValue(text, ranges::kMiscLossPercent) / 100;
                     }});
    names.push_back({"rf.additional_loss_kev", "additional energy loss per turn in keV",
                     [](State& state, BatchInputs&, const std::string& text) {
                         state.ringParams.additionalLoss =
                             rangedValue(text, ranges::kAdditionalLossKev) * 1000;
                     }});
    names.push_back({"rf.material", "cavity material of the scaled impedance: copper or aluminum",
                     [](State&, BatchInputs& inputs, const std::string& text) {
                         if (text != "copper" && text != "aluminum")
                             throw BatchUsageError("the material must be copper or aluminum, not '" +
                                                   excerpt(text) + "'");
                         inputs.rfAluminum = text == "aluminum";
                     }});
    names.push_back({"rf.shunt_impedance_mohm",
                     "shunt impedance per cavity cell in MOhm, used instead of the "
                     "scaled impedance",
                     [](State&, BatchInputs& inputs, const std::string& text) {
                         inputs.rfShuntImpedanceMohm = rangedValue(text, ranges::kShuntImpedanceMohm);
                         inputs.rfSelectImpedance = true;
                     }});
    return names;
}

bool computeRfBatch(State& state, Messages& messages, const BatchInputs& inputs)
{
    return computeRing(state, messages, inputs) && updateRfParameters(state, messages) &&
           cavityPowerBudget(state, messages, cavityInput(state, inputs)).has_value();
}

bool appendRfList(State& state, Messages& messages, const BatchInputs& inputs)
{
    // the rf window belongs to a closed ring
    if (!state.ringClosed) {
        messages.error("--list rf: the lattice is not a closed ring");
        return false;
    }
    State computed = state;
    if (!computeRfBatch(computed, messages, inputs))
        return false;
    computed.listing = state.listing;
    rfParameterList(computed, messages);
    state.listing = computed.listing;
    return true;
}

Json rfSection(const State& state, const BatchInputs& inputs, Messages& messages)
{
    if (!state.ringClosed)
        return nullptr;
    State ring = state;
    // the ring sections have shown what the ring's computation says; the rf section adds its own
    QuietMessages quiet;
    if (!computeRing(ring, quiet, inputs) || !updateRfParameters(ring, messages))
        return nullptr;
    const RfParameters& rf = ring.rf;
    Json section = {{"over_voltage", reportNumber(rf.overVoltage)},
                    {"over_voltage_function", reportNumber(rf.overVoltageFunction)},
                    {"energy_acceptance", reportNumber(rf.energyAcceptance)},
                    {"synchronous_phase_rad", reportNumber(rf.synchronousPhase)},
                    {"synchrotron_tune", reportNumber(rf.synchrotronTune)},
                    {"synchrotron_frequency_hz", reportNumber(rf.synchrotronFrequency)},
                    {"bunch_length_m", reportNumber(rf.bunchLength)},
                    {"quantum_lifetime_s", reportNumber(rf.quantumLifetime)},
                    {"voltage_v", reportNumber(rf.voltage)},
                    {"power_w", reportNumber(rf.power)}};
    const bool budget = cavityPowerBudget(ring, messages, cavityInput(ring, inputs)).has_value();
    const auto value = [budget](double v) { return budget ? reportNumber(v) : nullptr; };
    section["rf_wavelength_m"] = value(rf.wavelength);
    section["cavity_length_m"] = value(rf.cavityLength);
    section["shunt_impedance"] = value(rf.unitShuntImpedance);
    section["total_impedance_ohm"] = value(rf.shuntImpedance);
    section["cavity_loss_w"] = value(rf.cavityLossPower);
    section["misc_loss_w"] = value(rf.miscLossPower);
    section["beam_power_w"] = value(rf.beamPower);
    // the current is computed for electrons with power left only
    const bool current = budget && rf.beamPower > 0 && isElectron(ring.beam);
    section["max_beam_current_a"] = current ? reportNumber(rf.maxBeamCurrent) : nullptr;
    section["material"] = budget && !inputs.rfSelectImpedance ? Json(rf.cavityMaterial) : Json(nullptr);
    section["harmonic_number"] = reportNumber(ring.ringParams.harmonicNumber);
    section["rf_cavities"] = cavityList(ring.line);
    return section;
}

ScanRequest parseScanRequest(const std::vector<std::string>& words)
{
    if (words.size() != 3)
        throw BatchUsageError("--scan needs QUANTITY CPMIN CPMAX");
    const std::optional<ScanQuantity> quantity = scanQuantityNamed(words[0]);
    if (!quantity)
        throw BatchUsageError("--scan: unknown quantity '" + words[0] + "' (--help lists them)");
    ScanRequest request;
    request.quantity = *quantity;
    try {
        request.cpMinGeV = rangedValue(words[1], ranges::kScanMomentumGeV);
        request.cpMaxGeV = rangedValue(words[2], ranges::kScanMomentumGeV);
    } catch (const ConversionError& e) {
        throw BatchUsageError(std::string("--scan: ") + e.what());
    } catch (const BatchUsageError& e) {
        throw BatchUsageError(std::string("--scan: ") + e.what());
    }
    if (request.cpMaxGeV < request.cpMinGeV)
        throw BatchUsageError("--scan: CPMAX must not be below CPMIN");
    return request;
}

bool scanCsv(const State& state, Messages& messages, const BatchInputs& inputs, const ScanRequest& request,
             std::string& csv)
{
    State ring = state;
    if (!computeRing(ring, messages, inputs))
        return false;
    const std::optional<EnergyScan> scan =
        energyScan(ring, messages, request.quantity, request.cpMinGeV, request.cpMaxGeV);
    if (!scan)
        return false;
    csv = energyScanCsv(*scan);
    return true;
}

std::string scanHelp()
{
    std::string text;
    for (int tag = 0; tag < kScanQuantityCount; ++tag) {
        const ScanQuantityText& q = scanQuantityText(static_cast<ScanQuantity>(tag));
        text += std::string(tag == 0 ? "" : ", ") + q.name;
    }
    return text;
}

} // namespace kestrune
