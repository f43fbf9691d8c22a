#include "cli/RingReport.h"

#include "core/Format.h"
#include "core/coupling/CoupledPass.h"
#include "core/io/Listing.h"
#include "core/optics/BetaFunctions.h"
#include "core/ring/Parameter.h"
#include "core/ring/RingGeometry.h"

namespace kestrune {

namespace {

Json ringSection(const State& state)
{
    const RingParameters& r = state.ringParams;
    return {{"superperiods", state.line.superPeriods},
            {"circumference_m", reportNumber(r.circumference)},
            {"total_deflection_deg", reportNumber(r.totalDeflection)},
            {"revolution_frequency_hz", reportNumber(r.revolutionFrequency)},
            {"rf_frequency_hz", reportNumber(state.rf.frequency)},
            {"harmonic_number", reportNumber(r.harmonicNumber)},
            {"closed", state.ringClosed}};
}

Json integralsSection(const RingParameters& r)
{
    return {{"i1", reportNumber(r.i1)},
            {"i2", reportNumber(r.i2)},
            {"i3", reportNumber(r.i3)},
            {"i4", reportNumber(r.i4)},
            {"i5", reportNumber(r.i5)}};
}

Json equilibriumSection(const RingParameters& r)
{
    // a ring whose planes couple: the planes' keys hold the modes' values (x: mode 1, y: mode 2, s: the
    // longitudinal mode 3); the coupling section has what the modes alone have
    return {
        {"energy_loss_ev", reportNumber(r.energyLoss)},
        {"radiated_power_w", reportNumber(r.radiationPower)},
        {"energy_spread", reportNumber(r.energySpread)},
        {"damping_time_x_s", reportNumber(r.dampingTimeX)},
        {"damping_time_y_s", reportNumber(r.dampingTimeY)},
        {"damping_time_s_s", reportNumber(r.dampingTimeS)},
        {"damping_partition_x", reportNumber(r.modes.coupled ? r.modes.partition[0] : dampingPartitionX(r))},
        {"natural_emittance_m", reportNumber(r.emittanceX + r.emittanceY)},
        {"emittance_x_m", reportNumber(r.emittanceX)},
        {"emittance_y_m", reportNumber(r.emittanceY)},
        {"coupling", reportNumber(r.modes.coupled ? r.emittanceY / r.emittanceX : r.coupling)},
        {"momentum_compaction", reportNumber(r.momentumCompaction)},
        {"slip_factor", reportNumber(r.slipFactor)},
        {"natural_chromaticity_x", reportNumber(r.chromaticityX)},
        {"natural_chromaticity_y", reportNumber(r.chromaticityY)},
        {"average_beta_x_m", reportNumber(r.averageBetaX)},
        {"average_beta_y_m", reportNumber(r.averageBetaY)}};
}

} // namespace

bool computeRing(State& state, Messages& messages, const BatchInputs& inputs)
{
    // the boxes as the window's activation fills them
    const std::string superPeriods = fmt("%5d", state.line.superPeriods);
    const std::string rf = state.rf.frequency != 0 ? fmt("%10.5f", state.rf.frequency / 1e6) : "500.0";
    if (!ringGeometry(state, messages, {superPeriods, rf}))
        return false;
    // a ring whose planes couple has no uncoupled ring pass: its modes give the results
    if (!coupledPassApplies(state.line) && !betaFunctions(state, messages, nullptr))
        return false;
    const BeamInput beam{fmt("%8.3f", state.beam.momentum / 1e6), fmt("%8.3f", state.beamCurrent * 1000),
                         shortestFloat(inputs.couplingPercent)};
    return updateBeamParameters(state, messages, beam);
}

bool ringParameterBatchList(State& state, Messages& messages, const BatchInputs& inputs)
{
    if (!computeRing(state, messages, inputs))
        return false;
    ringParameterList(state, messages);
    return true;
}

void addRingSections(Json& report, const State& asSet, const BatchInputs& inputs, Messages& messages)
{
    State ring = asSet;
    {
        // without a periodic solution there is no ring to report, and its message is the periodic
        // section's
        State cell = asSet;
        QuietMessages quiet;
        if (!opticsPeriodicSolution(cell, quiet))
            return;
    }
    if (!computeRing(ring, messages, inputs)) {
        report["ring"] = nullptr;
        report["radiation_integrals"] = nullptr;
        report["equilibrium"] = nullptr;
        return;
    }
    report["ring"] = ringSection(ring);
    report["radiation_integrals"] = integralsSection(ring.ringParams);
    report["equilibrium"] = equilibriumSection(ring.ringParams);
}

} // namespace kestrune
