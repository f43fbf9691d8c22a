#pragma once

#include "core/Messages.h"
#include "core/RingRefusals.h"
#include "core/State.h"

#include <optional>
#include <string>

namespace kestrune {

/// "rf-voltage is less than energy loss!": calcRfParameters raised V_rf to 1.2 U0.
constexpr const char* kRfVoltageRaised = "rf-voltage is less than energy loss!";

/// True for the electron, however it was chosen: the particle window names it "electron", a lattice
/// file pads the word with blanks. An ion keeps the previous name but is never an electron.
bool isElectron(const BeamParameters& beam);

/// Revolution frequency beta c / C (Hz) of the current particle on the ring's circumference; NaN
/// without a circumference.
double revolutionFrequencyNow(const State& state);

/// Why the rf parameters cannot be computed from the current ring results (the formulas divide by
/// U0, eta_c, the harmonic number, the circumference and the momentum): the message naming what is
/// missing, or an empty text when they can.
std::string missingRfInput(const State& state);

/// What computeRfParameters did.
struct RfOutcome
{
    std::string refusal; // the message of a refusal; empty when computed
    bool raised = false; // V_rf did not exceed U0 and was raised to 1.2 U0
};

/// calcRfParameters without talking to the user (the energy scan collects its messages).
RfOutcome computeRfParameters(State& state);

/// The rf parameters from V_rf and the ring's equilibrium (run equilibriumParameters first): V_rf is
/// raised to 1.2 U0 with kRfVoltageRaised when it does not exceed U0; then over voltage q, F(q),
/// energy acceptance, synchronous phase (by the sign of eta_c), synchrotron tune and frequency, the
/// energy spread (into ringParams), rms bunch length and quantum lifetime (at most 1e15 s). False,
/// with the message of missingRfInput and nothing stored, when a ring result is missing.
bool calcRfParameters(State& state, Messages& messages);

/// The rf window's check of a typed voltage (V): above U0 it becomes V_rf as it is; otherwise V_rf is
/// 10 U0 and "rf voltage was too low and was\r raised to" with the voltage in kV is shown. True when
/// it was raised.
bool checkRfVoltage(State& state, Messages& messages, double typedVoltage);

/// The voltage check and calcRfParameters for the graphs (the harmonic number of the line's rf cavities,
/// the typed voltage shared among them): refuses first, with a message and nothing stored, when a ring
/// result or the rf frequency is missing or the cavities make no single rf system.
bool checkAndCalcRf(State& state, Messages& messages, double typedVoltage);

/// The boxes the parameter update reads.
struct RfBeamInput
{
    double momentumGeV = 0; // edEnergy, cp
    double currentMa = 0;   // edCurrent
    double voltageKv = 0;   // edRFVolt
};

/// The labels of the parameter panel after an update.
struct RfParameterView
{
    std::string rfFrequency;               // lRFF
    std::string harmonic;                  // lHarm
    std::string energyLoss;                // lELoss
    std::string acceptance;                // lEnAcc
    std::string overVoltage;               // lOverVolt
    std::string phase;                     // lPhase
    std::string synchrotronFrequency;      // lSynFreq
    std::string synchrotronTune;           // lSynTune
    std::string bunchLength;               // lBunLen
    std::optional<std::string> voltageBox; // edRFVolt when the voltage check raised V_rf
};

/// The refusal of a momentum that is not positive or a negative current; empty when both are good.
std::string checkRfBeamInput(const RfBeamInput& input);

/// The labels from the state's current results.
RfParameterView rfParameterView(const State& state);

/// What the window's closing writes back: V_rf (shared among the line's rf cavities), P_rf, the
/// momentum and the current from the boxes.
/// Refuses, with a message and nothing stored, a momentum that is not positive or a negative current.
bool takeRfBoxes(State& state, Messages& messages, const RfBeamInput& input, double powerKw);

} // namespace kestrune
