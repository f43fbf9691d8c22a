#include "core/aperture/ApertureRing.h"

#include "core/coupling/CoupledOptics.h"
#include "core/coupling/ModeEmittances.h"
#include "core/optics/BetaFunctions.h"
#include "core/rf/CavitySystem.h"
#include "core/rf/RfParameter.h"
#include "core/rf/RfUpdate.h"
#include "core/ring/Parameter.h"

#include <algorithm>
#include <cmath>

namespace kestrune {

namespace {

double positiveOrNan(double value)
{
    return finitePositive(value) ? value : std::nan("");
}

// The ring of a line that couples the planes, from the coupled optics and the mode emittances; the
// tracker takes the coupling fields itself.
std::optional<ApertureRing> coupledApertureRing(const State& state, Messages& messages)
{
    if (const std::optional<std::string> refusal = trackingRefusal(state.line)) {
        messages.error(*refusal);
        return std::nullopt;
    }
    const CoupledRing c = coupledRing(state);
    if (!c.computed || c.functions.empty()) {
        messages.error(c.refusal.empty() ? kApertureNeedsOptics : c.refusal);
        return std::nullopt;
    }
    ApertureRing r;
    r.coupled = true;
    const CoupledFunctions& start = c.functions.front();
    r.betaX0 = start.mr.beta11;
    r.alphaX0 = start.mr.alpha11;
    r.betaY0 = start.mr.beta22;
    r.alphaY0 = start.mr.alpha22;
    r.etaX0 = start.eta[0];
    r.etaPX0 = start.eta[1];
    for (const CoupledFunctions& f : c.functions) {
        r.betaXMax = std::max(r.betaXMax, f.mr.beta11);
        r.betaYMax = std::max(r.betaYMax, f.mr.beta22);
    }
    for (int i = 1; i <= state.line.count; ++i) {
        r.elementStart.push_back(state.line.at(i).s - state.line.at(1).s);
        r.elementLength.push_back(state.line.at(i).length);
    }
    const ModeEmittances modes = modeEmittances(state);
    r.emittanceX = positiveOrNan(modes.emittance[0].value_or(std::nan("")));
    r.emittanceY = positiveOrNan(modes.emittance[1].value_or(std::nan("")));
    // the rf bucket from the energy loss of the bends and the slip factor of the coupled optics, as the rf
    // window computes it from those of the uncoupled ring
    r.rfAcceptance = std::nan("");
    RfCavity cavity;
    const LongitudinalRing longitudinal = longitudinalRing(state);
    State ring = state;
    QuietMessages quiet;
    if (longitudinal.computed && finitePositive(ring.rf.voltage)) {
        ring.ringParams.energyLoss = longitudinal.energyLoss;
        ring.ringParams.slipFactor = longitudinal.slipFactor;
        ring.ringParams.momentumCompaction = longitudinal.momentumCompaction;
        if (missingRfInput(ring).empty() && takeCavitySystem(ring, quiet) && calcRfParameters(ring, quiet)) {
            cavity = rfCavity(ring);
            const double beta = ring.beam.beta;
            if (cavity.on && finitePositive(ring.rf.energyAcceptance) && beta > 0)
                r.rfAcceptance = ring.rf.energyAcceptance / (beta * beta);
        }
    }
    r.lattice = buildSymplecticLattice(state, messages, cavity);
    return r;
}

} // namespace

std::optional<ApertureRing> apertureRing(const State& state, Messages& messages)
{
    if (!state.ringClosed || state.line.count <= 0) {
        messages.error(kApertureNeedsRing);
        return std::nullopt;
    }
    if (lineCouples(state.line))
        return coupledApertureRing(state, messages);
    if (opticsRefused(state.line, messages))
        return std::nullopt;
    State ring = state;
    QuietMessages quiet;
    if (!periodicSolution(ring, quiet) || !ring.run.periodicStable) {
        messages.error(kApertureNeedsOptics);
        return std::nullopt;
    }
    ApertureRing r;
    const RunSettings& run = ring.run;
    r.betaX0 = run.betaX0;
    r.alphaX0 = run.alphaX0;
    r.betaY0 = run.betaY0;
    r.alphaY0 = run.alphaY0;
    r.etaX0 = run.etaX0;
    r.etaPX0 = run.etaPX0;

    // the lattice functions at the element ends, one period from the periodic solution
    State pass = ring;
    pass.run.showBetaFunctions = true;
    pass.run.showBeamSize = false;
    pass.run.showTrajectory = false;
    RowCollector rows;
    linePass(pass, quiet, nullptr, &rows);
    for (const OpticsRow& row : rows.rows) {
        r.betaXMax = std::max(r.betaXMax, row.lf.betaX);
        r.betaYMax = std::max(r.betaYMax, row.lf.betaY);
    }
    for (int i = 1; i <= state.line.count; ++i) {
        r.elementStart.push_back(state.line.at(i).s - state.line.at(1).s);
        r.elementLength.push_back(state.line.at(i).length);
    }

    // the equilibrium beam and the rf system as the ring and rf windows compute them
    radiationIntegrals(ring, quiet);
    equilibriumParameters(ring);
    r.emittanceX = positiveOrNan(ring.ringParams.emittanceX);
    r.emittanceY = positiveOrNan(ring.ringParams.emittanceY);
    RfCavity cavity;
    r.rfAcceptance = std::nan("");
    if (finitePositive(ring.rf.voltage) && missingRfInput(ring).empty() && updateRfParameters(ring, quiet)) {
        cavity = rfCavity(ring);
        // dE / E = beta^2 dP / P
        const double beta = ring.beam.beta;
        if (cavity.on && finitePositive(ring.rf.energyAcceptance) && beta > 0)
            r.rfAcceptance = ring.rf.energyAcceptance / (beta * beta);
    }
    r.lattice = buildSymplecticLattice(state, messages, cavity);
    return r;
}

// A particle that starts at x0 with slope 0 has the invariant 2J = gamma_0 x0^2; at an element end its
// amplitude is sqrt(2J beta), the largest over many turns where beta is largest.
ApertureBox linearAperture(const ApertureRing& ring, double apertureX, double apertureY)
{
    const double gammaX0 = (1 + ring.alphaX0 * ring.alphaX0) / ring.betaX0;
    const double gammaY0 = (1 + ring.alphaY0 * ring.alphaY0) / ring.betaY0;
    return {apertureX / std::sqrt(gammaX0 * ring.betaXMax), apertureY / std::sqrt(gammaY0 * ring.betaYMax)};
}

} // namespace kestrune
