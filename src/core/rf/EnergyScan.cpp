#include "core/rf/EnergyScan.h"

#include "core/Format.h"
#include "core/Kinematics.h"
#include "core/rf/RfParameter.h"
#include "core/rf/RfUpdate.h"
#include "core/ring/Parameter.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

namespace kestrune {

namespace {

const std::array<ScanQuantityText, kScanQuantityCount>& quantityTexts()
{
    static const std::array<ScanQuantityText, kScanQuantityCount> texts = {{
        {"energy acceptance", "energy_acceptance", "energy_acceptance_percent",
         "energy acceptance vs. particle momentum", "energy acceptance, %", "##0.###"},
        {"over voltage factor", "over_voltage", "over_voltage", "over voltage factor vs particle momentum",
         "over voltage factor, q", "##0.###"},
        {"synchronous phase", "synchronous_phase", "synchronous_phase_deg",
         "synchronous phase vs particle momentum", "synchronous phase, deg", "##0.###"},
        {"synchrotron tune", "synchrotron_tune", "synchrotron_tune_x1000",
         "synchrotron tune vs particle momentum", "synchrotron tune, x1000", "##0.###"},
        {"bunch length", "bunch_length", "bunch_length_mm", "rms bunch length vs particle momentum",
         "rms bunch length, mm", "##0.###"},
        {"quantum lifetime", "quantum_lifetime", "quantum_lifetime_h",
         "quantum life time vs particle momentum", "quantum life time, hours", "0.0E+000"},
        {"damping time, x", "damping_time_x", "damping_time_x_ms",
         "horizontal damping time vs particle momentum", "horizontal damping time, msec", "##0.###"},
        {"damping time, y", "damping_time_y", "damping_time_y_ms",
         "vertical damping time vs particle momentum", "vertical damping time, msec", "##0.###"},
        {"damping time, s", "damping_time_s", "damping_time_s_ms",
         "synchrotron damping time vs particle momentum", "synchrotron damping time, msec", "##0.###"},
        {"energy loss/turn", "energy_loss", "energy_loss_kev", "energy loss/turn vs particle momentum",
         "energy loss/turn, keV", "##0.###"},
        {"tot Syn Rad Power", "radiation_power", "radiation_power_kw",
         "total synchr. radiation power vs particle momentum", "total synchr. radiation power, kW",
         "##0.###"},
    }};
    return texts;
}

/// The quantity at the current momentum, in the unit of its axis title.
double quantityValue(const State& state, ScanQuantity quantity)
{
    const RfParameters& rf = state.rf;
    const RingParameters& ring = state.ringParams;
    switch (quantity) {
    case ScanQuantity::EnergyAcceptance:
        return rf.energyAcceptance * 100;
    case ScanQuantity::OverVoltage:
        return rf.overVoltage;
    case ScanQuantity::SynchronousPhase:
        return rf.synchronousPhase * 180 / kPi;
    case ScanQuantity::SynchrotronTune:
        return rf.synchrotronTune * 1000;
    case ScanQuantity::BunchLength:
        return rf.bunchLength * 1000;
    case ScanQuantity::QuantumLifetime:
        return rf.quantumLifetime / 3600;
    case ScanQuantity::DampingTimeX:
        return ring.dampingTimeX * 1000;
    case ScanQuantity::DampingTimeY:
        return ring.dampingTimeY * 1000;
    case ScanQuantity::DampingTimeS:
        return ring.dampingTimeS * 1000;
    case ScanQuantity::EnergyLoss:
        return ring.energyLoss / 1000;
    case ScanQuantity::RadiationPower:
        return ring.radiationPower / 1000;
    }
    return std::nan("");
}

/// What no momentum of a scan can give: the ring's integrals, circumference and harmonic number.
std::string missingScanInput(const State& state)
{
    const RingParameters& ring = state.ringParams;
    const bool integrals = std::isfinite(ring.i1) && std::isfinite(ring.i2) && std::isfinite(ring.i3) &&
                           std::isfinite(ring.i4) && std::isfinite(ring.i5);
    if (!integrals || !(ring.i2 > 0 || ring.additionalLoss > 0))
        return kNoEnergyLoss;
    if (!finitePositive(ring.harmonicNumber))
        return kNoHarmonic;
    if (!finitePositive(ring.circumference))
        return kNoCircumference;
    return {};
}

ProposedLimits proposeLimits(const EnergyScan& scan)
{
    ProposedLimits limits;
    constexpr double kHuge = std::numeric_limits<double>::infinity();
    double xMax = -kHuge, yMin = kHuge, yMax = -kHuge;
    for (std::size_t i = 0; i < scan.value.size(); ++i) {
        if (!std::isfinite(scan.value[i]))
            continue;
        xMax = std::max(xMax, scan.momentumGeV[i]);
        yMin = std::min(yMin, scan.value[i]);
        yMax = std::max(yMax, scan.value[i]);
    }
    if (!std::isfinite(xMax))
        return limits;
    limits.xMax = 1.1 * xMax;
    limits.yMin = 0.9 * yMin;
    limits.yMax = 1.1 * yMax;
    return limits;
}

} // namespace

const ScanQuantityText& scanQuantityText(ScanQuantity quantity)
{
    return quantityTexts().at(static_cast<std::size_t>(quantity));
}

std::optional<ScanQuantity> scanQuantityNamed(const std::string& name)
{
    for (int tag = 0; tag < kScanQuantityCount; ++tag) {
        if (name == quantityTexts()[static_cast<std::size_t>(tag)].name)
            return static_cast<ScanQuantity>(tag);
    }
    return std::nullopt;
}

double momentumLimitGeV(const State& state)
{
    // U0 = C_gamma cp^4 I2 / (2 pi) 1e9 eV + AdditionalLoss reaches V_rf at this cp (GeV)
    const double radiated = state.rf.voltage - state.ringParams.additionalLoss;
    const double perGeV4 = state.beam.cGammaParticle * state.ringParams.i2 * 1e9 / kTwoPi;
    if (!finitePositive(radiated) || !finitePositive(perGeV4))
        return std::nan("");
    return std::pow(radiated / perGeV4, 0.25);
}

std::optional<EnergyRange> proposeEnergyRange(const State& state, Messages& messages)
{
    const double limit = momentumLimitGeV(state);
    if (!std::isfinite(limit)) {
        messages.error("no momentum limit: the ring has no synchrotron radiation or the rf voltage does not "
                       "exceed the additional energy loss!");
        return std::nullopt;
    }
    return EnergyRange{state.beam.momentum / 2e9, limit};
}

std::optional<EnergyScan> energyScan(State& state, Messages& messages, ScanQuantity quantity, double cpMinGeV,
                                     double cpMaxGeV)
{
    const std::string missing = missingScanInput(state);
    if (!missing.empty()) {
        messages.error(missing);
        return std::nullopt;
    }
    EnergyScan scan;
    scan.quantity = quantity;
    const double limit = momentumLimitGeV(state);
    if (cpMaxGeV >= limit) {
        cpMaxGeV = 0.95 * limit;
        scan.limitGeV = limit;
    }
    scan.cpMinGeV = cpMinGeV;
    scan.cpMaxGeV = cpMaxGeV;
    // 99 steps from cp_min to cp_max; the 101st point lies one step beyond cp_max
    const double step = (cpMaxGeV - cpMinGeV) / 99;

    const RfStateSnapshot before(state);
    bool raised = false;
    scan.momentumGeV.reserve(kScanPoints);
    scan.value.reserve(kScanPoints);
    for (int i = 0; i < kScanPoints; ++i) {
        const double cp = (cpMinGeV + i * step) * 1e9;
        updateKinematics(state.beam, EnergyKind::Momentum, cp);
        equilibriumParameters(state);
        const RfOutcome outcome = computeRfParameters(state);
        raised = raised || outcome.raised;
        scan.momentumGeV.push_back(cp / 1e9);
        scan.value.push_back(outcome.refusal.empty() ? quantityValue(state, quantity) : std::nan(""));
    }
    before.restore(state);
    if (raised)
        messages.error(kRfVoltageRaised);
    scan.proposed = proposeLimits(scan);
    return scan;
}

std::string energyScanCsv(const EnergyScan& scan)
{
    std::string text = std::string("momentum_gev,") + scanQuantityText(scan.quantity).column + "\n";
    for (std::size_t i = 0; i < scan.momentumGeV.size(); ++i) {
        text += fmt("%.12g", scan.momentumGeV[i]) + ",";
        if (std::isfinite(scan.value[i]))
            text += fmt("%.12g", scan.value[i]);
        text += "\n";
    }
    return text;
}

} // namespace kestrune
