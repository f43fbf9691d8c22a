#include "core/ring/Parameter.h"

#include "core/NumberInput.h"
#include "core/optics/BetaFunctions.h"
#include "core/ring/RingLattices.h"
#include "support/FakeMessages.h"

#include <cmath>
#include <gtest/gtest.h>

namespace kestrune {
namespace {

using test::appendElement;

struct Ring
{
    State state;
    test::FakeMessages messages;

    explicit Ring(double momentum = 1e9) { test::electronAt(state, momentum); }

    const RingParameters& integrals()
    {
        radiationIntegrals(state, messages);
        return state.ringParams;
    }
};

TEST(RadiationIntegrals, SectorRingI2AndI3DoNotDependOnTheSlicing)
{
    for (bool elementEnds : {true, false}) {
        Ring ring;
        test::fodoCell(ring.state, 16);
        ring.state.run.stepAtElementEnds = elementEnds;
        ring.state.run.maxStep = 0.01;
        const RingParameters& r = ring.integrals();
        const double h = kTwoPi / 32 / 2.0;
        // two 2 m bends per cell, 16 cells
        EXPECT_NEAR(r.i2, 16 * 2 * h * h * 2.0, 1e-12);
        EXPECT_NEAR(r.i3, 16 * 2 * h * h * h * 2.0, 1e-13);
    }
}

// One weak-focusing sector bend (-h^2 < k < 0 focuses both planes) between two drifts. In the bend
// u = (eta, eta') = M(s) u1 + (D, D') with C, S the cosine and sine solutions of K = h^2 + k,
// D = h (1 - C) / K, D' = h S; the integrals follow from those of 1, C, S, C^2, S^2, C S. For I5,
// H(s) = u^T G(s) u with G(s) = M^-T G1 M^-1 and M^-1 (D, D') = (-D, D'), so
// H(s) = gamma1 (eta1 - D)^2 + 2 alpha1 (eta1 - D)(eta1' + D') + beta1 (eta1' + D')^2.
TEST(RadiationIntegrals, SectorBendBetweenDriftsMatchesTheClosedForms)
{
    const double h = 0.5, k = -0.1, bendLength = 1.0, driftLength = 0.5;
    Ring ring;
    appendElement(ring.state, code::kDrift, driftLength);
    appendElement(ring.state, code::kSectorBend, bendLength, h, k);
    appendElement(ring.state, code::kDrift, driftLength);
    ring.state.line.superPeriods = 1;
    ring.state.ringParams.circumference = 2 * driftLength + bendLength;
    const RingParameters& r = ring.integrals();
    ASSERT_TRUE(ring.messages.errors.empty());

    const double kk = h * h + k;
    const double w = std::sqrt(kk);
    const double c = std::cos(w * bendLength), sn = std::sin(w * bendLength) / w;
    // the cell's horizontal matrix from the bend's entrance: bend, then both drifts
    const double l2 = 2 * driftLength;
    const double m11 = c - kk * sn * l2, m12 = sn + c * l2, m21 = -kk * sn, m22 = c;
    const double m16 = h * (1 - c) / kk + h * sn * l2, m26 = h * sn;
    const double cosMu = (m11 + m22) / 2;
    const double sinMu = std::sqrt(1 - cosMu * cosMu) * (m12 > 0 ? 1 : -1);
    const double beta1 = m12 / sinMu, alpha1 = (m11 - m22) / (2 * sinMu),
                 gamma1 = (1 + alpha1 * alpha1) / beta1;
    const double det = (1 - m11) * (1 - m22) - m12 * m21;
    const double eta1 = ((1 - m22) * m16 + m12 * m26) / det;
    const double etaP1 = (m21 * m16 + (1 - m11) * m26) / det;

    const double intC = sn, intS = (1 - c) / kk;
    const double intC2 = (bendLength + sn * c) / 2, intS2 = (bendLength - sn * c) / (2 * kk);
    const double intCS = sn * sn / 2;
    const double intEta = eta1 * intC + etaP1 * intS + h / kk * (bendLength - intC);
    const double a = eta1 - h / kk, b = etaP1, g = h / kk;
    const double intH = gamma1 * (a * a * bendLength + 2 * a * g * intC + g * g * intC2) +
                        2 * alpha1 * (a * b * bendLength + a * h * intS + g * b * intC + g * h * intCS) +
                        beta1 * (b * b * bendLength + 2 * b * h * intS + h * h * intS2);
    EXPECT_NEAR(r.i1, h * intEta, 1e-10 * std::fabs(h * intEta));
    EXPECT_NEAR(r.i2, h * h * bendLength, 1e-15);
    EXPECT_NEAR(r.i3, h * h * h * bendLength, 1e-15);
    EXPECT_NEAR(r.i4, h * (h * h + 2 * k) * intEta, 1e-10 * std::fabs(h * (h * h + 2 * k) * intEta));
    EXPECT_NEAR(r.i5, h * h * h * intH, 1e-10 * h * h * h * intH);
}

TEST(RadiationIntegrals, RectangularFacesCancelTheBodyTermOfI4)
{
    Ring sector;
    test::fodoCell(sector.state, 16, code::kSectorBend);
    Ring rectangular;
    test::fodoCell(rectangular.state, 16, code::kRectangularBend);
    const double sectorI4 = sector.integrals().i4;
    const double rectangularI4 = rectangular.integrals().i4;
    // a sector bend without gradient has I4 = I1 h^2 > 0; faces of theta/2 take eta h^2 tan(theta/2)
    // twice, which is the body term to first order in theta = 11.25 deg
    EXPECT_GT(sectorI4, 0);
    EXPECT_LT(std::fabs(rectangularI4), 0.05 * sectorI4);
}

TEST(RadiationIntegrals, AReverseBendLowersI4)
{
    Ring plain;
    test::fodoCell(plain.state, 16);
    Ring reversed;
    test::fodoCell(reversed.state, 16);
    // a weak reverse bend where the dispersion is large (middle of the cell, after QD)
    LatticeElement& drift = reversed.state.line.at(6);
    drift.code = code::kSectorBend;
    drift.curvature = -0.02;
    const double i4 = plain.integrals().i4;
    EXPECT_LT(reversed.integrals().i4, i4);
}

TEST(RadiationIntegrals, QuadrupoleWithoutStrengthAddsNothingToChromaticityOrBeta)
{
    Ring with;
    test::fodoCell(with.state, 16);
    Ring without;
    test::fodoCell(without.state, 16);
    // a quadrupole of k = 0 in place of a drift of the same length
    without.state.line.at(4).code = code::kQuadrupole;
    const RingParameters a = with.integrals();
    const RingParameters b = without.integrals();
    EXPECT_NEAR(a.chromaticityX, b.chromaticityX, 1e-12);
    EXPECT_NEAR(a.chromaticityY, b.chromaticityY, 1e-12);
    EXPECT_NEAR(a.averageBetaX, b.averageBetaX, 1e-12);
}

TEST(RadiationIntegrals, MeanBetaIsTheIntegralOverTheCircumference)
{
    Ring ring;
    test::fodoCell(ring.state, 16);
    const RingParameters r = ring.integrals();
    // the same mean from the ring pass's samples at 1 mm steps
    double sum = 0, length = 0;
    ASSERT_TRUE(ringStart(ring.state, ring.messages, nullptr));
    for (int i = 1; i <= ring.state.line.count; ++i) {
        const LatticeElement& e = ring.state.line.at(i);
        const int n = static_cast<int>(e.length / 0.001);
        for (int j = 0; j < n; ++j) {
            const double b0 = ring.state.lf.betaX;
            propagateFunctions(ring.state, ring.messages, true, i, e.length / n);
            sum += (b0 + ring.state.lf.betaX) / 2 * e.length / n;
        }
        length += e.length;
    }
    // the pass integrates the bends with the trapezoid rule on 0.1 m slices: L l^2 beta'' / 12 per bend,
    // about 1e-4 of the mean here
    EXPECT_NEAR(r.averageBetaX, sum / length, 3e-4 * r.averageBetaX);
}

TEST(RadiationIntegrals, TunesOfThePassAreTheRingTunes)
{
    Ring ring;
    test::fodoCell(ring.state, 16);
    const RingParameters r = ring.integrals();
    ASSERT_TRUE(betaFunctions(ring.state, ring.messages, nullptr));
    EXPECT_NEAR(r.tuneX, ring.state.lf.tuneX, 1e-9);
    EXPECT_NEAR(r.tuneY, ring.state.lf.tuneY, 1e-9);
}

TEST(RadiationIntegrals, WithoutAPeriodicSolutionNothingIsAvailable)
{
    Ring ring;
    appendElement(ring.state, code::kDrift, 2.0);
    appendElement(ring.state, code::kSectorBend, 1.0, 0.1);
    ring.state.ringParams.circumference = 3;
    const RingParameters& r = ring.integrals();
    EXPECT_FALSE(ring.messages.errors.empty());
    EXPECT_TRUE(std::isnan(r.i2));
    EXPECT_TRUE(std::isnan(r.chromaticityX));
    equilibriumParameters(ring.state);
    EXPECT_TRUE(std::isnan(ring.state.ringParams.emittanceX));
    EXPECT_TRUE(std::isnan(ring.state.ringParams.dampingTimeX));
}

TEST(RadiationIntegrals, AlphaMagnetsAndPumpsAreTracedThrough)
{
    Ring plain;
    test::fodoCell(plain.state, 16);
    Ring pumped;
    test::fodoCell(pumped.state, 16);
    // a pump with a length acts as a drift: replacing the drift of element 2 by it changes nothing
    pumped.state.line.at(2).code = code::kPump;
    const RingParameters a = plain.integrals();
    const RingParameters b = pumped.integrals();
    EXPECT_NEAR(a.i5, b.i5, 1e-12 * a.i5);
    EXPECT_NEAR(a.averageBetaY, b.averageBetaY, 1e-12 * a.averageBetaY);
    EXPECT_NEAR(a.tuneX, b.tuneX, 1e-12);
}

struct Equilibrium : Ring
{
    explicit Equilibrium(double momentum) : Ring(momentum) {}
    RingParameters& r() { return state.ringParams; }
};

TEST(EquilibriumParameters, ThreeGeVRingWithI2OfSixTenthsLosesAbout684keV)
{
    Equilibrium e(3e9);
    e.r().i2 = 0.6;
    e.r().i3 = 0.1;
    e.r().i5 = 1e-3;
    e.r().circumference = 300;
    equilibriumParameters(e.state);
    const double cGamma = e.state.electron.cGamma;
    EXPECT_NEAR(e.r().energyLoss, cGamma * 81 / kTwoPi * 0.6 * 1e9, 1e-6 * e.r().energyLoss);
    EXPECT_NEAR(e.r().energyLoss, 684e3, 1e3);
}

TEST(EquilibriumParameters, DampingTimesAreAmplitudeDampingTimes)
{
    Equilibrium e(3e9);
    e.r().i2 = 0.6;
    e.r().i3 = 0.1;
    e.r().i4 = 0.0;
    e.r().i5 = 1e-3;
    e.r().circumference = 300;
    e.state.beamCurrent = 0.2;
    equilibriumParameters(e.state);
    const RingParameters& r = e.r();
    // tau_x = 2 E T0 / (J_x U0), T0 = C / (beta c), with J_x = 1, J_y = 1, J_s = 2
    const double t0 = 300 / (e.state.beam.beta * kSpeedOfLight);
    const double tau = 2 * e.state.beam.totalEnergy * t0 / r.energyLoss;
    EXPECT_NEAR(r.dampingTimeX, tau, 1e-6 * tau);
    EXPECT_NEAR(r.dampingTimeY, tau, 1e-6 * tau);
    EXPECT_NEAR(r.dampingTimeS, tau / 2, 1e-6 * tau);
    EXPECT_NEAR(r.radiationPower, 0.2 * r.energyLoss, 1e-6);
    EXPECT_NEAR(dampingPartitionX(r), 1, 1e-15);
}

TEST(EquilibriumParameters, CouplingSharesTheNaturalEmittance)
{
    Equilibrium e(1e9);
    e.r().i2 = 1.0;
    e.r().i4 = 0.2;
    e.r().i5 = 2e-3;
    e.r().circumference = 100;
    e.r().coupling = 0;
    equilibriumParameters(e.state);
    const double gamma = e.state.beam.gamma;
    const double eps0 = gamma * gamma * e.state.beam.cQuantumParticle * 2e-3 / 0.8;
    EXPECT_NEAR(e.r().emittanceX, eps0, 1e-9 * eps0);
    EXPECT_EQ(e.r().emittanceY, 0.0);
    e.r().coupling = 0.01;
    equilibriumParameters(e.state);
    EXPECT_NEAR(e.r().emittanceX + e.r().emittanceY, eps0, 1e-9 * eps0);
    EXPECT_NEAR(e.r().emittanceY / e.r().emittanceX, 0.01, 1e-12);
}

TEST(EquilibriumParameters, AdditionalLossAddsToTheEnergyLoss)
{
    Equilibrium e(1e9);
    e.r().i2 = 1.0;
    e.r().circumference = 100;
    equilibriumParameters(e.state);
    const double u0 = e.r().energyLoss;
    e.r().additionalLoss = 5e3;
    equilibriumParameters(e.state);
    EXPECT_NEAR(e.r().energyLoss, u0 + 5e3, 1e-6);
}

TEST(EquilibriumParameters, DegenerateIntegralsAreNotAvailable)
{
    Equilibrium noBends(1e9);
    noBends.r().circumference = 100;
    equilibriumParameters(noBends.state);
    EXPECT_EQ(noBends.r().energyLoss, 0.0);
    EXPECT_TRUE(std::isnan(noBends.r().dampingTimeX));
    EXPECT_TRUE(std::isnan(noBends.r().dampingTimeY));
    EXPECT_TRUE(std::isnan(noBends.r().dampingTimeS));
    EXPECT_TRUE(std::isnan(noBends.r().energySpread));
    EXPECT_TRUE(std::isnan(noBends.r().emittanceX));
    EXPECT_TRUE(std::isnan(dampingPartitionX(noBends.r())));

    Equilibrium equal(1e9);
    equal.r().i2 = equal.r().i4 = 0.5;
    equal.r().i5 = 1e-3;
    equal.r().circumference = 100;
    equilibriumParameters(equal.state);
    EXPECT_TRUE(std::isnan(equal.r().dampingTimeX));
    EXPECT_TRUE(std::isnan(equal.r().emittanceX));
    EXPECT_TRUE(std::isfinite(equal.r().dampingTimeY));

    Equilibrium opposite(1e9);
    opposite.r().i2 = 0.5;
    opposite.r().i4 = -1.0;
    opposite.r().circumference = 100;
    equilibriumParameters(opposite.state);
    EXPECT_TRUE(std::isnan(opposite.r().dampingTimeS));
    EXPECT_TRUE(std::isnan(opposite.r().energySpread));

    Equilibrium noLength(1e9);
    noLength.r().i2 = 1;
    equilibriumParameters(noLength.state);
    EXPECT_TRUE(std::isnan(noLength.r().momentumCompaction));
    EXPECT_TRUE(std::isnan(noLength.r().dampingTimeX));
    EXPECT_TRUE(std::isnan(noLength.r().dampingTimeS));
}

TEST(BeamParameterUpdate, TakesTheBoxesThenComputes)
{
    Ring ring;
    test::fodoCell(ring.state, 16);
    ASSERT_TRUE(updateBeamParameters(ring.state, ring.messages, {"2000", "250", "2.0"}));
    EXPECT_NEAR(ring.state.beam.momentum, 2e9, 1e-3);
    EXPECT_NEAR(ring.state.beam.referenceMomentum, 2e9, 1e-3);
    EXPECT_NEAR(ring.state.beamCurrent, 0.25, 1e-15);
    EXPECT_NEAR(ring.state.ringParams.coupling, 0.02, 1e-15);
    EXPECT_GT(ring.state.ringParams.i2, 0);
    EXPECT_GT(ring.state.ringParams.emittanceX, 0);
}

TEST(BeamParameterUpdate, RefusesBadValuesAndKeepsWhatWasThere)
{
    Ring ring;
    test::fodoCell(ring.state, 16);
    const double momentum = ring.state.beam.momentum;
    EXPECT_FALSE(updateBeamParameters(ring.state, ring.messages, {"0", "100", "1"}));
    EXPECT_FALSE(updateBeamParameters(ring.state, ring.messages, {"1000", "-1", "1"}));
    EXPECT_FALSE(updateBeamParameters(ring.state, ring.messages, {"1000", "100", "-1"}));
    EXPECT_THROW(updateBeamParameters(ring.state, ring.messages, {"1000", "1OO", "1"}), ConversionError);
    EXPECT_EQ(ring.messages.errors.size(), 3u);
    EXPECT_EQ(ring.state.beam.momentum, momentum);
    EXPECT_EQ(ring.state.beamCurrent, 0.1);
}

TEST(BeamParameterView, NotAvailableValuesShowAsNa)
{
    State state;
    RingParameters& r = state.ringParams;
    r.dampingTimeX = std::nan("");
    r.emittanceX = std::nan("");
    r.energySpread = std::nan("");
    r.i1 = std::nan("");
    r.energyLoss = 684e3;
    const BeamParameterView v = beamParameterView(state);
    EXPECT_EQ(v.dampingX, "damping time,tau_x:      n/a");
    EXPECT_EQ(v.emittanceX, "emittance_x:      n/a");
    EXPECT_EQ(v.energySpread, "rel. energy spread:     n/a %");
    EXPECT_EQ(v.i1, "I1 =        n/a m");
    EXPECT_EQ(v.energyLoss, "energy loss/turn:  684.000 keV");
}

} // namespace
} // namespace kestrune
