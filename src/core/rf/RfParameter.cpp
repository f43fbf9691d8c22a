#include "core/rf/RfParameter.h"

#include "core/Design.h"
#include "core/Format.h"
#include "core/InputRanges.h"
#include "core/Kinematics.h"
#include "core/rf/CavitySystem.h"

#include <cmath>

namespace kestrune {

namespace {

constexpr double kLifetimeCap = 1e15; // s
constexpr double kLargestRatio = 15;  // acceptance / energy spread held at this

constexpr const char* kNoMomentum = "the momentum must be above 0 GeV!";
constexpr const char* kNegativeCurrent = "the beam current must not be negative!";

} // namespace

std::string checkRfBeamInput(const RfBeamInput& input)
{
    if (!finitePositive(input.momentumGeV))
        return kNoMomentum;
    if (!(input.currentMa >= 0))
        return kNegativeCurrent;
    return firstRefusal({{&ranges::kMomentumGeV, input.momentumGeV},
                         {&ranges::kBeamCurrentMa, input.currentMa},
                         {&ranges::kRfVoltageKv, input.voltageKv}})
        .value_or("");
}

bool isElectron(const BeamParameters& beam)
{
    const auto first = beam.name.find_first_not_of(' ');
    const auto last = beam.name.find_last_not_of(' ');
    return !beam.isIon && first != std::string::npos &&
           beam.name.substr(first, last - first + 1) == "electron";
}

double revolutionFrequencyNow(const State& state)
{
    const double c = state.ringParams.circumference;
    return finitePositive(c) ? state.beam.beta * kSpeedOfLight / c : std::nan("");
}

std::string missingRfInput(const State& state)
{
    const RingParameters& ring = state.ringParams;
    if (!finitePositive(ring.energyLoss))
        return kNoEnergyLoss;
    if (!std::isfinite(ring.slipFactor) || ring.slipFactor == 0)
        return kNoSlip;
    if (!finitePositive(ring.harmonicNumber))
        return kNoHarmonic;
    if (!finitePositive(ring.circumference))
        return kNoCircumference;
    if (!finitePositive(state.beam.momentum))
        return kNoMomentum;
    return {};
}

RfOutcome computeRfParameters(State& state)
{
    RfOutcome outcome;
    outcome.refusal = missingRfInput(state);
    if (!outcome.refusal.empty())
        return outcome;
    RingParameters& ring = state.ringParams;
    RfParameters& rf = state.rf;
    const BeamParameters& beam = state.beam;
    const double u0 = ring.energyLoss;
    const double etaC = ring.slipFactor;
    const double h = ring.harmonicNumber;
    // the textbook forms take beta cp = beta^2 E; cp alone holds only for particles at the speed of light
    const double betaCp = beam.beta * beam.momentum;

    // at V_rf = U0 there is no bucket (q = 1 gives no acceptance and no synchrotron motion)
    if (!(rf.voltage > u0)) {
        rf.voltage = 1.2 * u0;
        outcome.raised = true;
    }
    const double q = rf.voltage / u0;
    rf.overVoltage = q;
    rf.overVoltageFunction = 2 * (std::sqrt(q * q - 1) - std::acos(1 / q));
    rf.energyAcceptance = std::sqrt(u0 * rf.overVoltageFunction / (std::fabs(etaC) * kPi * h * betaCp));
    // above transition (eta_c < 0) the stable phase lies on the falling slope of the voltage
    rf.synchronousPhase = etaC >= 0 ? std::asin(1 / q) : kPi - std::asin(1 / q);
    rf.synchrotronTune = std::sqrt(std::cos(rf.synchronousPhase) * h * etaC * rf.voltage / (kTwoPi * betaCp));
    rf.synchrotronFrequency = revolutionFrequencyNow(state) * rf.synchrotronTune;
    rf.slipFactor = etaC;

    // a ring whose planes couple keeps the energy spread of its longitudinal mode (its equilibrium's)
    const double sumI2I4 = 2 * ring.i2 + ring.i4;
    if (!ring.modes.coupled)
        ring.energySpread =
            sumI2I4 > 0 ? std::sqrt(beam.gamma * beam.gamma * beam.cQuantumParticle * ring.i3 / sumI2I4)
                        : std::nan("");
    rf.bunchLength =
        std::fabs(etaC) * beam.beta * kSpeedOfLight / (kTwoPi * rf.synchrotronFrequency) * ring.energySpread;

    // quantum lifetime tau_q = tau_s / 2 e^xi / xi, xi = r^2 / 2 with r the acceptance in energy spreads
    // (tau_s the amplitude damping time of the synchrotron oscillation)
    double r = rf.energyAcceptance / ring.energySpread;
    if (r > kLargestRatio)
        r = kLargestRatio;
    const double xi = r * r / 2;
    double lifetime = ring.dampingTimeS / 2 * std::exp(xi) / xi;
    if (lifetime > kLifetimeCap)
        lifetime = kLifetimeCap;
    rf.quantumLifetime = lifetime;
    rf.computed = true;
    rf.stamp = rfStamp(state);
    return outcome;
}

bool calcRfParameters(State& state, Messages& messages)
{
    const RfOutcome outcome = computeRfParameters(state);
    if (!outcome.refusal.empty()) {
        messages.error(outcome.refusal);
        return false;
    }
    if (outcome.raised)
        messages.error(kRfVoltageRaised);
    return true;
}

bool checkRfVoltage(State& state, Messages& messages, double typedVoltage)
{
    const double u0 = state.ringParams.energyLoss;
    state.rf.voltage = typedVoltage;
    if (typedVoltage > u0)
        return false;
    state.rf.voltage = 10 * u0;
    messages.error("rf voltage was too low and was\r raised to" + fmt("%8.3f", state.rf.voltage / 1000) +
                   " kV");
    return true;
}

bool checkAndCalcRf(State& state, Messages& messages, double typedVoltage)
{
    if (!takeCavitySystem(state, messages))
        return false;
    std::string missing = missingRfInput(state);
    if (missing.empty() && !finitePositive(state.rf.frequency))
        missing = kNoRfFrequency;
    if (!missing.empty()) {
        messages.error(missing);
        return false;
    }
    checkRfVoltage(state, messages, typedVoltage);
    spreadCavityVoltage(state, state.rf.voltage);
    return calcRfParameters(state, messages);
}

RfParameterView rfParameterView(const State& state)
{
    const RingParameters& ring = state.ringParams;
    const RfParameters& rf = state.rf;
    RfParameterView v;
    v.rfFrequency =
        "rf frequency = " + fmtOrNa("%10.5f", revolutionFrequencyNow(state) * ring.harmonicNumber / 1e6) +
        " MHz";
    v.harmonic = "harmonic number = " + fmtOrNa("%8.3f", ring.harmonicNumber);
    v.energyLoss = "energy loss/turn = " + fmtOrNa("%8.3f", ring.energyLoss / 1000) + " keV";
    v.acceptance = "energy acceptance, %       = " + fmtOrNa("%8.3f", rf.energyAcceptance * 100);
    v.overVoltage = "over voltage factor        = " + fmtOrNa("%8.4g", rf.overVoltage);
    v.phase = "phase                      = " + fmtOrNa("%8.3f", rf.synchronousPhase * 180 / kPi) + " deg";
    v.synchrotronFrequency =
        "synchrotron frequency, kHz = " + fmtOrNa("%8.3f", rf.synchrotronFrequency / 1000);
    v.synchrotronTune = "synchrotron tune, nue_s    = " + fmtOrNa("%8.6f", rf.synchrotronTune);
    v.bunchLength = "rms bunch length, mm       = " + fmtOrNa("%8.3f", rf.bunchLength * 1000);
    return v;
}

bool takeRfBoxes(State& state, Messages& messages, const RfBeamInput& input, double powerKw)
{
    const std::string wrong = checkRfBeamInput(input);
    if (!wrong.empty()) {
        messages.error(wrong);
        return false;
    }
    state.rf.voltage = input.voltageKv * 1000;
    spreadCavityVoltage(state, state.rf.voltage); // the rf cavities of the line carry the total
    state.rf.power = powerKw * 1000;
    updateKinematics(state.beam, EnergyKind::Momentum, input.momentumGeV * 1e9);
    state.beamCurrent = input.currentMa / 1000;
    return true;
}

} // namespace kestrune
