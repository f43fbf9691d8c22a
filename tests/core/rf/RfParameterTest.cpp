#include "core/rf/RfParameter.h"

#include "core/Format.h"
#include "support/FakeMessages.h"
#include "support/RfTestRing.h"

#include <cmath>
#include <gtest/gtest.h>

namespace kestrune {

namespace {

/// F(q) = 2 (sqrt(q^2 - 1) - arccos(1/q)), written out for the edge values.
double overVoltageFunction(double q)
{
    return 2 * (std::sqrt(q * q - 1) - std::acos(1 / q));
}

} // namespace

TEST(RfParameters, VoltageBelowTheLossIsRaisedToOnePointTwoTimesIt)
{
    State state = test::rfTestRing();
    state.rf.voltage = 80e3;
    test::FakeMessages messages;
    ASSERT_TRUE(calcRfParameters(state, messages));
    ASSERT_EQ(messages.errors, std::vector<std::string>{"rf-voltage is less than energy loss!"});
    EXPECT_NEAR(state.rf.voltage, 1.2e5, 1e-6);
    EXPECT_NEAR(state.rf.overVoltage, 1.2, 1e-12);
    EXPECT_NEAR(state.rf.overVoltageFunction, 0.1553, 5e-5);
}

TEST(RfParameters, VoltageEqualToTheLossIsRaisedToo)
{
    // q = 1 would leave no bucket: no acceptance and no synchrotron motion
    State state = test::rfTestRing();
    state.rf.voltage = state.ringParams.energyLoss;
    test::FakeMessages messages;
    ASSERT_TRUE(calcRfParameters(state, messages));
    EXPECT_EQ(messages.errors.size(), 1u);
    EXPECT_NEAR(state.rf.overVoltage, 1.2, 1e-12);
    EXPECT_TRUE(std::isfinite(state.rf.synchrotronTune));
    EXPECT_GT(state.rf.energyAcceptance, 0);
}

TEST(RfParameters, TypedVoltageAtTheLossBecomesTenTimesIt)
{
    State state = test::rfTestRing();
    test::FakeMessages messages;
    EXPECT_TRUE(checkRfVoltage(state, messages, 1e5));
    ASSERT_EQ(messages.errors,
              std::vector<std::string>{"rf voltage was too low and was\r raised to1000.000 kV"});
    EXPECT_NEAR(state.rf.voltage, 1e6, 1e-6);
    ASSERT_TRUE(calcRfParameters(state, messages));
    EXPECT_EQ(messages.errors.size(), 1u); // the 1.2 U0 rule does not fire after the check
    EXPECT_NEAR(state.rf.overVoltage, 10, 1e-12);
    EXPECT_NEAR(state.rf.overVoltageFunction, 16.958, 5e-4);
}

TEST(RfParameters, TypedVoltageAboveTheLossIsTakenAsItIs)
{
    State state = test::rfTestRing();
    test::FakeMessages messages;
    EXPECT_FALSE(checkRfVoltage(state, messages, 100001));
    EXPECT_TRUE(messages.errors.empty());
    EXPECT_EQ(state.rf.voltage, 100001);
}

TEST(RfParameters, SynchronousPhaseBySideOfTransition)
{
    State below = test::rfTestRing();
    test::FakeMessages messages;
    ASSERT_TRUE(calcRfParameters(below, messages));
    EXPECT_NEAR(below.rf.synchronousPhase, std::asin(0.1), 1e-12);
    EXPECT_LT(below.rf.synchronousPhase, kPi / 2);

    State above = test::rfTestRing();
    above.ringParams.slipFactor = -0.005;
    ASSERT_TRUE(calcRfParameters(above, messages));
    EXPECT_NEAR(above.rf.synchronousPhase, kPi - std::asin(0.1), 1e-12);
    // the same bucket on the other slope: tune, acceptance and bunch length do not change
    EXPECT_NEAR(above.rf.synchrotronTune, below.rf.synchrotronTune, 1e-12);
    EXPECT_NEAR(above.rf.energyAcceptance, below.rf.energyAcceptance, 1e-12);
    EXPECT_NEAR(above.rf.bunchLength, below.rf.bunchLength, 1e-15);
    EXPECT_TRUE(messages.errors.empty());
}

TEST(RfParameters, SmallOscillationsAgreeWithTheTextbook)
{
    // nu_s^2 = h |eta_c| V cos(phi_s) / (2 pi beta^2 E) and sigma_z = |eta_c| C sigma_E / (2 pi nu_s)
    State state = test::rfTestRing();
    test::FakeMessages messages;
    ASSERT_TRUE(calcRfParameters(state, messages));
    const BeamParameters& b = state.beam;
    const double cosPhi = std::sqrt(1 - 0.01);
    const double nuS = std::sqrt(167 * 0.005 * 1e6 * cosPhi / (kTwoPi * b.beta * b.beta * b.totalEnergy));
    EXPECT_NEAR(state.rf.synchrotronTune, nuS, 1e-9 * nuS);
    EXPECT_NEAR(state.rf.synchrotronFrequency, nuS * b.beta * kSpeedOfLight / 100, 1e-6);
    const double sigmaE = std::sqrt(b.gamma * b.gamma * b.cQuantumParticle * 0.15 / (2 * 0.6 + 0.01));
    EXPECT_NEAR(state.ringParams.energySpread, sigmaE, 1e-12 * sigmaE);
    EXPECT_NEAR(state.rf.bunchLength, 0.005 * 100 * sigmaE / (kTwoPi * nuS), 1e-9 * state.rf.bunchLength);
    // a 1 GeV electron ring of this size: a few mm and a few 1e-4 of energy spread
    EXPECT_GT(state.rf.bunchLength, 1e-3);
    EXPECT_LT(state.rf.bunchLength, 1e-2);
    // (dE/E)^2 = U0 F(q) / (pi h |eta_c| beta^2 E)
    const double acceptance =
        std::sqrt(1e5 * overVoltageFunction(10) / (kPi * 167 * 0.005 * b.beta * b.beta * b.totalEnergy));
    EXPECT_NEAR(state.rf.energyAcceptance, acceptance, 1e-9 * acceptance);
    EXPECT_EQ(state.rf.slipFactor, 0.005);
}

TEST(RfParameters, SlowParticlesUseBetaTimesMomentum)
{
    // a 1 GeV/c proton (beta = 0.73): tune and acceptance take beta cp = beta^2 E, not cp
    State state = test::rfTestRing();
    selectProton(state.beam, state.electron);
    updateKinematics(state.beam, EnergyKind::Momentum, 1e9);
    test::FakeMessages messages;
    ASSERT_TRUE(calcRfParameters(state, messages));
    const BeamParameters& b = state.beam;
    EXPECT_NEAR(b.beta, 0.7292, 1e-3);
    const double cosPhi = std::sqrt(1 - 0.01);
    const double nuS = std::sqrt(167 * 0.005 * 1e6 * cosPhi / (kTwoPi * b.beta * b.momentum));
    EXPECT_NEAR(state.rf.synchrotronTune, nuS, 1e-9 * nuS);
    const double literal = std::sqrt(167 * 0.005 * 1e6 * cosPhi / (kTwoPi * b.momentum));
    EXPECT_GT(state.rf.synchrotronTune / literal, 1.17); // 1 / sqrt(beta)
    // the revolution frequency follows the particle's speed
    EXPECT_NEAR(state.rf.synchrotronFrequency, nuS * b.beta * kSpeedOfLight / 100, 1e-6);
}

TEST(RfParameters, QuantumLifetimeHoldsTheRatioAtFifteen)
{
    // an energy spread far below the acceptance: r = 15, xi = 112.5; with tau_s = 1e-40 s the
    // lifetime stays far below the cap and shows the held ratio
    State state = test::rfTestRing();
    state.ringParams.i3 = 1e-20;
    state.ringParams.dampingTimeS = 1e-40;
    test::FakeMessages messages;
    ASSERT_TRUE(calcRfParameters(state, messages));
    ASSERT_GT(state.rf.energyAcceptance / state.ringParams.energySpread, 1000);
    const double expected = 1e-40 / 2 * std::exp(112.5) / 112.5;
    EXPECT_NEAR(state.rf.quantumLifetime, expected, 1e-9 * expected);

    state.ringParams.dampingTimeS = 0.01;
    ASSERT_TRUE(calcRfParameters(state, messages));
    EXPECT_EQ(state.rf.quantumLifetime, 1e15);
}

TEST(RfParameters, QuantumLifetimeFromTheRatioOfAcceptanceAndSpread)
{
    // a ring where the acceptance is only a few energy spreads: tau = tau_s / 2 e^xi / xi
    State state = test::rfTestRing();
    state.ringParams.i3 = 400;
    test::FakeMessages messages;
    ASSERT_TRUE(calcRfParameters(state, messages));
    const double r = state.rf.energyAcceptance / state.ringParams.energySpread;
    ASSERT_GT(r, 1);
    ASSERT_LT(r, 15);
    const double xi = r * r / 2;
    EXPECT_NEAR(state.rf.quantumLifetime, 0.01 / 2 * std::exp(xi) / xi, 1e-9 * state.rf.quantumLifetime);
}

TEST(RfParameters, EnergySpreadNotAvailableLeavesBunchAndLifetimeNotAvailable)
{
    State state = test::rfTestRing();
    state.ringParams.i2 = 0;
    state.ringParams.i4 = 0;
    test::FakeMessages messages;
    ASSERT_TRUE(calcRfParameters(state, messages));
    EXPECT_TRUE(std::isnan(state.ringParams.energySpread));
    EXPECT_TRUE(std::isnan(state.rf.bunchLength));
    EXPECT_TRUE(std::isnan(state.rf.quantumLifetime));
    EXPECT_TRUE(std::isfinite(state.rf.energyAcceptance));
    const RfParameterView view = rfParameterView(state);
    EXPECT_EQ(view.bunchLength, "rms bunch length, mm       =      n/a");
}

TEST(RfParameters, MissingRingResultsAreRefusedAndNothingStored)
{
    struct Case
    {
        const char* what;
        void (*spoil)(State&);
        const char* message;
    };
    const Case cases[] = {
        {"no loss", [](State& s) { s.ringParams.energyLoss = 0; }, kNoEnergyLoss},
        {"loss n/a", [](State& s) { s.ringParams.energyLoss = std::nan(""); }, kNoEnergyLoss},
        {"eta 0", [](State& s) { s.ringParams.slipFactor = 0; }, kNoSlip},
        {"h 0", [](State& s) { s.ringParams.harmonicNumber = 0; }, kNoHarmonic},
        {"C 0", [](State& s) { s.ringParams.circumference = 0; }, kNoCircumference},
    };
    for (const Case& c : cases) {
        State state = test::rfTestRing();
        state.rf.voltage = 50e3; // would be raised if the computation ran
        c.spoil(state);
        const RfParameters before = state.rf;
        test::FakeMessages messages;
        EXPECT_FALSE(calcRfParameters(state, messages)) << c.what;
        EXPECT_EQ(messages.errors, std::vector<std::string>{c.message}) << c.what;
        EXPECT_EQ(state.rf.voltage, before.voltage) << c.what;
        EXPECT_EQ(state.rf.overVoltage, before.overVoltage) << c.what;
        EXPECT_FALSE(state.rf.computed) << c.what;
    }
}

TEST(RfParameters, GraphUpdateNeedsTheRfFrequency)
{
    State state = test::rfTestRing();
    state.rf.frequency = 0;
    test::FakeMessages messages;
    EXPECT_FALSE(checkAndCalcRf(state, messages, 1e6));
    EXPECT_EQ(messages.errors, std::vector<std::string>{kNoRfFrequency});
    EXPECT_FALSE(state.rf.computed);
}

TEST(RfParameters, ViewOfThePanel)
{
    State state = test::rfTestRing();
    test::FakeMessages messages;
    ASSERT_TRUE(calcRfParameters(state, messages));
    const RfParameterView v = rfParameterView(state);
    EXPECT_EQ(v.rfFrequency, "rf frequency = " + fmt("%10.5f", state.rf.frequency / 1e6) + " MHz");
    EXPECT_EQ(v.harmonic, "harmonic number =  167.000");
    EXPECT_EQ(v.energyLoss, "energy loss/turn =  100.000 keV");
    EXPECT_EQ(v.overVoltage, "over voltage factor        =       10");
    EXPECT_EQ(v.phase, "phase                      =    5.739 deg");
    EXPECT_EQ(v.synchrotronTune.substr(0, 29), "synchrotron tune, nue_s    = ");
    EXPECT_EQ(v.synchrotronTune.size(), 29u + 8u);
}

TEST(RfParameters, ElectronHoweverItWasChosen)
{
    BeamParameters beam;
    beam.name = "electron";
    EXPECT_TRUE(isElectron(beam));
    beam.name = "       electron"; // as a lattice file stores it
    EXPECT_TRUE(isElectron(beam));
    beam.isIon = true; // "ion" chosen without picking a row keeps the name
    EXPECT_FALSE(isElectron(beam));
    beam.isIon = false;
    beam.name = "proton";
    EXPECT_FALSE(isElectron(beam));
}

TEST(RfParameters, ClosingTakesTheBoxesOrNothing)
{
    State state = test::rfTestRing();
    test::FakeMessages messages;
    EXPECT_FALSE(takeRfBoxes(state, messages, RfBeamInput{0, 100, 800}, 50));
    EXPECT_EQ(messages.errors, std::vector<std::string>{"the momentum must be above 0 GeV!"});
    EXPECT_FALSE(takeRfBoxes(state, messages, RfBeamInput{2, -1, 800}, 50));
    EXPECT_EQ(messages.errors.back(), "the beam current must not be negative!");
    EXPECT_EQ(state.rf.voltage, 1e6);
    EXPECT_NEAR(state.beam.momentum, 1e9, 1e-3);

    EXPECT_TRUE(takeRfBoxes(state, messages, RfBeamInput{2, 150, 800}, 50));
    EXPECT_EQ(state.rf.voltage, 8e5);
    EXPECT_EQ(state.rf.power, 5e4);
    EXPECT_NEAR(state.beam.momentum, 2e9, 1e-3);
    EXPECT_NEAR(state.beamCurrent, 0.15, 1e-15);
    EXPECT_NEAR(state.beam.referenceMomentum, 1e9, 1e-3); // the kinematics leave the reference
}

} // namespace kestrune
