#include "core/rf/CavityBudget.h"

#include "core/Design.h"
#include "core/Format.h"
#include "core/InputRanges.h"
#include "core/rf/RfParameter.h"

#include <cmath>

namespace kestrune {

namespace {

constexpr double kCopperImpedance = 1.28e6;   // Ohm/m at 1 MHz
constexpr double kAluminumImpedance = 1.06e6; // Ohm/m at 1 MHz

std::string refusal(const State& state, const CavityInput& input)
{
    if (const std::optional<std::string> wrong =
            firstRefusal({{&ranges::kCavityCells, input.cavities},
                          {&ranges::kMiscLossPercent, input.miscLossPercent},
                          {&ranges::kRfVoltageKv, input.voltageKv},
                          {&ranges::kRfPowerKw, input.powerKw}}))
        return *wrong;
    if (!finitePositive(state.rf.frequency))
        return kNoRfFrequency;
    if (input.selectImpedance && !finitePositive(input.shuntImpedanceMohm))
        return "the shunt impedance must be above 0 MOhm!";
    if (input.selectImpedance)
        if (const std::optional<std::string> wrong =
                rangeRefusal(ranges::kShuntImpedanceMohm, input.shuntImpedanceMohm))
            return *wrong;
    if (!finitePositive(state.ringParams.energyLoss))
        return missingRfInput(state);
    return {};
}

} // namespace

const char* cavityMaterialName(CavityMaterial material)
{
    return material == CavityMaterial::Copper ? "copper" : "aluminum";
}

double scaledShuntImpedance(CavityMaterial material, double frequency)
{
    const double perMetre = material == CavityMaterial::Copper ? kCopperImpedance : kAluminumImpedance;
    // a pill box's shunt impedance per length grows with the square root of the frequency
    return std::sqrt(frequency / 1e6) * perMetre;
}

std::optional<CavityBudgetView> cavityPowerBudget(State& state, Messages& messages, const CavityInput& input)
{
    const std::string wrong = refusal(state, input);
    if (!wrong.empty()) {
        messages.error(wrong);
        return std::nullopt;
    }
    RfParameters& rf = state.rf;
    CavityBudgetView v;
    rf.cavities = input.cavities;
    rf.miscLoss = input.miscLossPercent / 100;
    rf.wavelength = kSpeedOfLight / rf.frequency;
    rf.cavityLength = rf.cavities * rf.wavelength / 2;
    v.wavelength = "rf-wavelength is " + fmtOrNa("%8.3f", rf.wavelength) + " m";
    v.cavityLength = "eff. cavity length is " + fmtOrNa("%8.3f", rf.cavityLength) + " m";
    rf.voltage = input.voltageKv * 1000;
    rf.power = input.powerKw * 1000;
    if (input.selectImpedance) {
        rf.unitShuntImpedance = input.shuntImpedanceMohm * 1e6;
        rf.shuntImpedance = rf.cavities * rf.unitShuntImpedance;
    } else {
        rf.unitShuntImpedance = scaledShuntImpedance(input.material, rf.frequency);
        rf.cavityMaterial = cavityMaterialName(input.material);
        rf.shuntImpedance = rf.unitShuntImpedance * rf.cavityLength;
        v.impedancePerMetre = "impedance = " + fmtOrNa("%8.3f", rf.unitShuntImpedance / 1e6) + " MOhm/m";
        v.ringImpedance = "tot. ring impedance = " + fmtOrNa("%8.3f", rf.shuntImpedance / 1e6) + " MOhm";
    }
    v.cavityVoltage = "tot. cavity voltage = " + fmtOrNa("%8.3f", rf.voltage / 1000) + " kVolt";
    // the cells are in series: each carries V_rf / NumCav on its own shunt impedance, so that the walls
    // take NumCav (V_rf / NumCav)^2 / R_cell = V_rf^2 / (NumCav R_cell) = V_rf^2 / CavImp
    rf.cavityLossPower = rf.voltage * rf.voltage / rf.shuntImpedance;
    v.cavityLoss = "total cavity losses = " + fmtOrNa("%8.3f", rf.cavityLossPower / 1000) + " kW";
    v.totalAvailable = "tot.available rf-power = " + fmtOrNa("%8.3f", rf.power / 1000) + " kW";
    rf.miscLossPower = rf.power * rf.miscLoss;
    v.miscLoss = "misc.rf-losses = " + fmtOrNa("%8.3f", rf.miscLossPower / 1000) + " kW   or ";
    rf.beamPower = rf.power - rf.cavityLossPower - rf.miscLossPower;
    v.powerLeft = rf.beamPower > 0;
    // no power left sustains no current; other particles are not budgeted (not available)
    rf.maxBeamCurrent = 0;
    if (!v.powerLeft) {
        v.remaining = "increase rf-power!";
    } else if (isElectron(state.beam)) {
        // W / eV = A: each electron takes U0 from the cavities every turn
        rf.maxBeamCurrent = rf.beamPower / state.ringParams.energyLoss;
        v.remaining = "remaining rf power of " + fmtOrNa("%8.3f", rf.beamPower / 1000) + " kW" + "\r" +
                      "will sustain a max. total beam current of " +
                      fmtOrNa("%8.3f", rf.maxBeamCurrent * 1000) + " mA";
    } else {
        rf.maxBeamCurrent = std::nan("");
        v.remaining = "there is not enough cavity power available.\rincrease rf-power!";
    }
    rf.budgetStamp = rfBudgetStamp(state);
    return v;
}

} // namespace kestrune
