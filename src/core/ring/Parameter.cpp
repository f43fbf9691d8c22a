#include "core/ring/Parameter.h"

#include "core/Format.h"
#include "core/Kinematics.h"
#include "core/NumberInput.h"
#include "core/optics/BetaFunctions.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace kestrune {

namespace {

constexpr double kNotAvailable = std::numeric_limits<double>::quiet_NaN();

// What one pass over the cell sums up, before the scaling to the ring.
struct CellSums
{
    double i1 = 0, i2 = 0, i3 = 0, i4 = 0, i5 = 0;
    double xiX = 0, xiY = 0;                     // 4 pi times the chromaticity of the cell
    double betaIntegralX = 0, betaIntegralY = 0; // m^2
};

// Integral of beta over a drift of length l from the entrance values.
double driftBetaIntegral(double beta, double alpha, double gamma, double l)
{
    return l * (beta - alpha * l + gamma * l * l / 3);
}

// |k| times the integral of beta through a quadrupole for the focusing plane (cos, sin) or the
// defocusing one (cosh, sinh), from the entrance values; s = sqrt|k|, phi = s L.
double focusingIntegral(double beta, double alpha, double gamma, double s, double phi)
{
    const double half2 = std::sin(2 * phi) / 2;
    const double sin = std::sin(phi);
    return beta * s / 2 * (phi + half2) - alpha * sin * sin + gamma / (2 * s) * (phi - half2);
}

double defocusingIntegral(double beta, double alpha, double gamma, double s, double phi)
{
    const double half2 = std::sinh(2 * phi) / 2;
    const double sinh = std::sinh(phi);
    return beta * s / 2 * (phi + half2) - alpha * sinh * sinh + gamma / (2 * s) * (half2 - phi);
}

void addQuadrupole(const LatticeFunctions& lf, double k, double length, CellSums& sums)
{
    const double s = std::sqrt(std::fabs(k));
    const double phi = s * length;
    if (k > 0) {
        const double fx = focusingIntegral(lf.betaX, lf.alphaX, lf.gammaX, s, phi);
        const double fy = defocusingIntegral(lf.betaY, lf.alphaY, lf.gammaY, s, phi);
        sums.xiX -= fx;
        sums.xiY += fy;
        sums.betaIntegralX += fx / k;
        sums.betaIntegralY += fy / k;
    } else {
        const double fx = defocusingIntegral(lf.betaX, lf.alphaX, lf.gammaX, s, phi);
        const double fy = focusingIntegral(lf.betaY, lf.alphaY, lf.gammaY, s, phi);
        sums.xiX += fx;
        sums.xiY -= fy;
        sums.betaIntegralX -= fx / k;
        sums.betaIntegralY -= fy / k;
    }
}

// A pole face of angle psi: its focusing enters the chromaticity, and the face's h^2 tan(psi) term
// enters I4 (the textbook I4 = integral of eta h (h^2 + 2k) ds - sum of eta h^2 tan(psi) over faces).
void addFace(const LatticeFunctions& lf, double h, double psi, CellSums& sums)
{
    const double hTan = h * std::tan(psi);
    sums.xiX += lf.betaX * hTan;
    sums.xiY -= lf.betaY * hTan;
    sums.i4 -= lf.eta * h * hTan;
}

// Slices of a bend in the integral pass, trunc(10 L) + 1, at most the line's cap: a broken length takes
// the cap, not an endless loop.
int bendSlices(double length, int cap)
{
    const double tenths = 10 * length;
    if (!(tenths < cap))
        return cap;
    return tenths > 0 ? std::min(static_cast<int>(tenths) + 1, cap) : 1;
}

// The slices of a bending magnet: n = trunc(10 L) + 1, means over each slice.
void addBendBody(State& state, Messages& messages, int i, CellSums& sums)
{
    const LatticeElement& e = state.line.at(i);
    const double h = e.curvature;
    const double k = e.k;
    const double h3 = h * h * h;
    const double absH3 = std::fabs(h3);
    LatticeFunctions& lf = state.lf;
    const int n = bendSlices(e.length, state.line.sliceCap());
    const double l = e.length / n;
    for (int j = 0; j < n; ++j) {
        const LatticeFunctions in = lf;
        lf.s += l;
        propagateFunctions(state, messages, true, i, l);
        const double betaX = (lf.betaX + in.betaX) / 2;
        const double alphaX = (lf.alphaX + in.alphaX) / 2;
        const double gammaX = (lf.gammaX + in.gammaX) / 2;
        const double betaY = (lf.betaY + in.betaY) / 2;
        const double eta = (lf.eta + in.eta) / 2;
        const double etaP = (lf.etaP + in.etaP) / 2;
        const double etaGammaX = (lf.eta * lf.gammaX + in.eta * in.gammaX) / 2;
        const double etaGammaY = (lf.eta * lf.gammaY + in.eta * in.gammaY) / 2;
        const double etaBetaX = (lf.eta * lf.betaX + in.eta * in.betaX) / 2;
        const double etaBetaY = (lf.eta * lf.betaY + in.eta * in.betaY) / 2;
        // the off-momentum orbit eta delta sees the curvature and the gradient of the bend, whose
        // field in the plane of the bend is h + k x; in the curved frame the vertical gradient there
        // is (1 + h x) k, hence the -h k eta beta_y term
        sums.xiX += (-(k + 2 * h * h) * betaX + h * etaGammaX + h * (h * h + k) * etaBetaX) * l;
        sums.xiY += (k * betaY + h * etaGammaY - h * k * etaBetaY) * l;
        sums.i1 += l * eta * h;
        sums.i2 += h * h * l;
        sums.i3 += absH3 * l;
        sums.i4 += (2 * k * h + h3) * eta * l;
        const double curlyH = gammaX * eta * eta + 2 * alphaX * eta * etaP + betaX * etaP * etaP;
        sums.i5 += curlyH * l * absH3;
        sums.betaIntegralX += betaX * l;
        sums.betaIntegralY += betaY * l;
    }
}

void addBend(State& state, Messages& messages, int i, CellSums& sums)
{
    const LatticeElement& e = state.line.at(i);
    const double h = e.curvature;
    const bool faces = e.code != code::kSectorBend;
    LatticeFunctions& lf = state.lf;
    if (faces) {
        addFace(lf, h, e.ain, sums);
        edgeStep(state, messages, i, e.ain);
    }
    // the off-momentum orbit crosses the faces with the slope eta' delta: horizontally the h eta' x x'
    // term of the body integrated by parts, vertically the edge focusing of a face turned by that slope
    sums.xiX -= h * lf.etaP * lf.betaX;
    sums.xiY += h * lf.etaP * lf.betaY;
    addBendBody(state, messages, i, sums);
    sums.xiX += h * lf.etaP * lf.betaX;
    sums.xiY -= h * lf.etaP * lf.betaY;
    if (faces) {
        addFace(lf, h, e.aout, sums);
        edgeStep(state, messages, i, e.aout);
    }
}

void addElement(State& state, Messages& messages, int i, CellSums& sums)
{
    const LatticeElement& e = state.line.at(i);
    const LatticeFunctions& lf = state.lf;
    switch (familyOf(e.code)) {
    case static_cast<int>(Family::Drift):
    case static_cast<int>(Family::Sextupole):
    case static_cast<int>(Family::Pump):
        sums.betaIntegralX += driftBetaIntegral(lf.betaX, lf.alphaX, lf.gammaX, e.length);
        sums.betaIntegralY += driftBetaIntegral(lf.betaY, lf.alphaY, lf.gammaY, e.length);
        ringTrace(state, messages, i, nullptr);
        break;
    case static_cast<int>(Family::Bend):
        addBend(state, messages, i, sums);
        break;
    case static_cast<int>(Family::Quadrupole):
        // a quadrupole without strength is a drift: no chromaticity, but its length counts in the mean beta
        if (e.k != 0) {
            addQuadrupole(lf, e.k, e.length, sums);
        } else {
            sums.betaIntegralX += driftBetaIntegral(lf.betaX, lf.alphaX, lf.gammaX, e.length);
            sums.betaIntegralY += driftBetaIntegral(lf.betaY, lf.alphaY, lf.gammaY, e.length);
        }
        ringTrace(state, messages, i, nullptr);
        break;
    default:
        // alpha magnets and unknown codes add nothing, but the functions must pass through them
        ringTrace(state, messages, i, nullptr);
        break;
    }
}

void setNotAvailable(RingParameters& ring)
{
    ring.i1 = ring.i2 = ring.i3 = ring.i4 = ring.i5 = kNotAvailable;
    ring.chromaticityX = ring.chromaticityY = kNotAvailable;
    ring.averageBetaX = ring.averageBetaY = kNotAvailable;
    ring.tuneX = ring.tuneY = kNotAvailable;
}

// a / b where b = 0 or the result is not finite: not available
double ratio(double a, double b)
{
    if (b == 0)
        return kNotAvailable;
    const double r = a / b;
    return std::isfinite(r) ? r : kNotAvailable;
}

} // namespace

void radiationIntegrals(State& state, Messages& messages)
{
    RingParameters& ring = state.ringParams;
    // without a stable periodic solution the pass would run from whatever the last one left
    if (!ringStart(state, messages, nullptr) || !state.run.periodicStable) {
        setNotAvailable(ring);
        return;
    }
    CellSums sums;
    for (int i = 1; i <= state.line.count; ++i)
        addElement(state, messages, i, sums);

    const double nsp = state.line.superPeriods;
    ring.i1 = nsp * sums.i1;
    ring.i2 = nsp * sums.i2;
    ring.i3 = nsp * sums.i3;
    ring.i4 = nsp * sums.i4;
    ring.i5 = nsp * sums.i5;
    ring.chromaticityX = nsp * sums.xiX / (4 * kPi);
    ring.chromaticityY = nsp * sums.xiY / (4 * kPi);
    ring.averageBetaX = ratio(nsp * sums.betaIntegralX, ring.circumference);
    ring.averageBetaY = ratio(nsp * sums.betaIntegralY, ring.circumference);
    ring.tuneX = nsp * state.lf.phiX;
    ring.tuneY = nsp * state.lf.phiY;
}

double dampingPartitionX(const RingParameters& ring)
{
    return 1 - ratio(ring.i4, ring.i2);
}

void equilibriumParameters(State& state)
{
    RingParameters& ring = state.ringParams;
    const BeamParameters& beam = state.beam;
    const double energyGeV = beam.momentum / 1e9;
    const double cGamma = beam.cGammaParticle;
    const double cq = beam.cQuantumParticle;
    const double gamma2 = beam.gamma * beam.gamma;
    const double c = ring.circumference;

    // U0 = C_gamma E^4 I2 / (2 pi) (Sands 1970), in GeV, plus what the RF window adds
    ring.energyLoss = cGamma * realPower(energyGeV, 4) / kTwoPi * ring.i2 * 1e9 + ring.additionalLoss;
    ring.radiationPower = ring.energyLoss * state.beamCurrent;

    const double sumI2I4 = 2 * ring.i2 + ring.i4;
    const double diffI2I4 = ring.i2 - ring.i4;
    ring.energySpread = sumI2I4 > 0 ? std::sqrt(gamma2 * cq * ring.i3 / sumI2I4) : kNotAvailable;

    // amplitude damping times tau_i = 2 E T0 / (J_i U0) = 2 T / (J_i I2), with
    // T = 2 pi C / (c C_gamma E^3) and J_x I2 = I2 - I4, J_y I2 = I2, J_s I2 = 2 I2 + I4
    // a ring of no circumference (the geometry has not run) has no revolution time to damp in
    const double t =
        c > 0 ? kTwoPi * c / (kSpeedOfLight * cGamma * realPower(beam.totalEnergy, 3)) * 1e27 : kNotAvailable;
    ring.dampingTimeX = ratio(2 * t, diffI2I4);
    ring.dampingTimeY = ratio(2 * t, ring.i2);
    ring.dampingTimeS = ratio(2 * t, sumI2I4);

    // natural emittance C_q gamma^2 I5 / (J_x I2); no equilibrium where the horizontal motion is not damped
    const double kappa = ring.coupling;
    const double eps0 = diffI2I4 > 0 ? ratio(gamma2 * cq * ring.i5, diffI2I4) : kNotAvailable;
    ring.emittanceX = eps0 / (1 + kappa);
    ring.emittanceY = eps0 * kappa / (1 + kappa);

    ring.momentumCompaction = ratio(ring.i1, c);
    ring.slipFactor = 1 / gamma2 - ring.momentumCompaction;
    ring.computed = true;
}

bool updateBeamParameters(State& state, Messages& messages, const BeamInput& input)
{
    const double momentum = parseDouble(input.momentumMeV) * 1e6;
    const double current = parseDouble(input.currentMa) / 1000;
    const double coupling = parseDouble(input.couplingPercent) / 100;
    if (!(momentum > 0) || !std::isfinite(momentum)) {
        messages.error("the momentum must be above 0 MeV!");
        return false;
    }
    if (!(current >= 0) || !std::isfinite(current)) {
        messages.error("the beam current must not be negative!");
        return false;
    }
    if (!(coupling >= 0) || !std::isfinite(coupling)) {
        messages.error("the coupling must not be negative!");
        return false;
    }
    state.beam.referenceMomentum = momentum;
    updateKinematics(state.beam, EnergyKind::Momentum, momentum);
    state.beamCurrent = current;
    state.ringParams.coupling = coupling;
    radiationIntegrals(state, messages);
    equilibriumParameters(state);
    return true;
}

BeamParameterView beamParameterView(const State& state)
{
    const RingParameters& r = state.ringParams;
    BeamParameterView v;
    v.energyLoss = "energy loss/turn: " + siFormatOrNa(r.energyLoss, "eV");
    v.dampingX = "damping time,tau_x: " + siFormatOrNa(r.dampingTimeX, "s");
    v.dampingY = "damping time,tau_y: " + siFormatOrNa(r.dampingTimeY, "s");
    v.dampingS = "damping time,tau_s: " + siFormatOrNa(r.dampingTimeS, "s");
    v.power = "tot.rad. power: " + siFormatOrNa(r.radiationPower, "W");
    v.emittanceX = "emittance_x: " + siFormatOrNa(r.emittanceX, "m");
    v.emittanceY = "emittance_y: " + siFormatOrNa(r.emittanceY, "m");
    v.energySpread = "rel. energy spread:" + fmtOrNa("%8.3f", 100 * r.energySpread) + " %";
    v.i1 = "I1 = " + fmtOrNa("%10.4g", r.i1) + " m";
    v.i2 = "I2 = " + fmtOrNa("%10.4g", r.i2) + " 1/m";
    v.i3 = "I3 = " + fmtOrNa("%10.4g", r.i3) + " 1/m^2";
    v.i4 = "I4 = " + fmtOrNa("%10.4g", r.i4) + " 1/m";
    v.i5 = "I5 = " + fmtOrNa("%10.4g", r.i5) + " 1/m";
    v.circumference = "circumference:" + fmtOrNa("%8.3f", r.circumference) + " m";
    v.compactionFactor = "mom.comp. factor,alpha_c: " + fmtOrNa("%10.7f", r.momentumCompaction);
    v.slipFactor = "mom. compaction, eta_c: " + fmtOrNa("%10.7f", r.slipFactor);
    v.naturalChromaticityX = "nat.chromaticity_x:" + fmtOrNa("%10.4g", r.chromaticityX);
    v.naturalChromaticityY = "nat.chromaticity_y:" + fmtOrNa("%10.4g", r.chromaticityY);
    v.correctedChromaticityX = "corr.chromaticity_x:" + fmtOrNa("%8.3f", r.correctedChromaticityX);
    v.correctedChromaticityY = "corr.chromaticity_y:" + fmtOrNa("%8.3f", r.correctedChromaticityY);
    return v;
}

} // namespace kestrune
