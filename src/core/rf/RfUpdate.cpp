#include "core/rf/RfUpdate.h"

#include "core/Format.h"
#include "core/InputRanges.h"
#include "core/Kinematics.h"
#include "core/rf/CavitySystem.h"
#include "core/ring/Parameter.h"

namespace kestrune {

RfStateSnapshot::RfStateSnapshot(const State& state)
    : beam(state.beam), beamCurrent(state.beamCurrent), ring(state.ringParams), rf(state.rf)
{
}

void RfStateSnapshot::restore(State& state) const
{
    state.beam = beam;
    state.beamCurrent = beamCurrent;
    state.ringParams = ring;
    state.rf = rf;
}

bool updateRfParameters(State& state, Messages& messages)
{
    const RfStateSnapshot before(state);
    equilibriumParameters(state);
    if (takeCavitySystem(state, messages) && calcRfParameters(state, messages))
        return true;
    before.restore(state);
    return false;
}

std::optional<RfParameterView> calcParameter(State& state, Messages& messages, const RfBeamInput& input)
{
    const std::string wrong = checkRfBeamInput(input);
    if (!wrong.empty()) {
        messages.error(wrong);
        return std::nullopt;
    }
    const RfStateSnapshot before(state);
    updateKinematics(state.beam, EnergyKind::Momentum, input.momentumGeV * 1e9);
    state.beamCurrent = input.currentMa / 1000;
    equilibriumParameters(state);
    if (!takeCavitySystem(state, messages)) {
        before.restore(state);
        return std::nullopt;
    }
    const std::string missing = missingRfInput(state);
    if (!missing.empty()) {
        before.restore(state);
        messages.error(missing);
        return std::nullopt;
    }
    const bool raised = checkRfVoltage(state, messages, input.voltageKv * 1000);
    // the voltage box holds the total of the line's cavities: a new total is shared among them
    spreadCavityVoltage(state, state.rf.voltage);
    calcRfParameters(state, messages);
    RfParameterView view = rfParameterView(state);
    if (raised)
        view.voltageBox = fmt("%8.3f", state.rf.voltage / 1000);
    return view;
}

std::optional<RfParameterView> updateCalculation(State& state, Messages& messages, const RfBeamInput& input,
                                                 double powerKw, double additionalLossKev)
{
    if (const std::optional<std::string> refusal = firstRefusal(
            {{&ranges::kRfPowerKw, powerKw}, {&ranges::kAdditionalLossKev, additionalLossKev}})) {
        messages.error(*refusal);
        return std::nullopt;
    }
    const RfStateSnapshot before(state);
    state.rf.power = powerKw * 1000;
    state.ringParams.additionalLoss = additionalLossKev * 1000;
    std::optional<RfParameterView> view = calcParameter(state, messages, input);
    if (!view)
        before.restore(state);
    return view;
}

} // namespace kestrune
