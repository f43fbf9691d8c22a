#pragma once

#include "core/Messages.h"
#include "core/State.h"
#include "core/rf/RfParameter.h"

#include <optional>

namespace kestrune {

/// The particle, the beam current, the ring results and the rf record as they were, to put back
/// after a refused update or an energy scan.
struct RfStateSnapshot
{
    explicit RfStateSnapshot(const State& state);
    void restore(State& state) const;

    BeamParameters beam;
    double beamCurrent;
    RingParameters ring;
    RfParameters rf;
};

/// The rf parameters of the ring as it stands, for the callers outside the rf window (the ring window's
/// rf-parameter list, the Touschek lifetime, the batch tool): equilibriumParameters, so that U0, eta_c
/// and tau_s are current, then calcRfParameters (which raises V_rf to 1.2 U0 with its message when it
/// does not exceed U0). With rf cavities in the line, V_rf and the harmonic number are theirs
/// (takeCavitySystem). Refuses, with the message of missingRfInput (or of cavities that make no single
/// rf system) and the state as it was, when a ring result the formulas divide by is missing.
bool updateRfParameters(State& state, Messages& messages);

/// The parameter update of the window: the momentum (through the kinematics; the reference momentum
/// stays) and the current from the boxes, equilibriumParameters, the voltage check and
/// calcRfParameters. With rf cavities in the line the harmonic number is theirs and the typed voltage
/// is the new total, shared among them in proportion to their voltages (spreadCavityVoltage). Refuses,
/// with a message and the state as it was, a momentum that is not positive, a negative current, a ring
/// result the formulas divide by or cavities of different harmonic numbers.
std::optional<RfParameterView> calcParameter(State& state, Messages& messages, const RfBeamInput& input);

/// "&update calculation": V_rf, P_rf and AdditionalLoss from their boxes, then calcParameter. Nothing
/// is stored when it refuses.
std::optional<RfParameterView> updateCalculation(State& state, Messages& messages, const RfBeamInput& input,
                                                 double powerKw, double additionalLossKev);

} // namespace kestrune
