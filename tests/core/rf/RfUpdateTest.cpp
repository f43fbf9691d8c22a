#include "core/rf/RfUpdate.h"

#include "core/Format.h"
#include "core/rf/RfParameter.h"
#include "core/ring/Parameter.h"
#include "support/FakeMessages.h"
#include "support/RfTestRing.h"

#include <cmath>
#include <gtest/gtest.h>

namespace kestrune {

TEST(RfUpdate, QuantumLifetimeUsesTheAmplitudeDampingTime)
{
    // tau_q = tau_s / 2 e^xi / xi with tau_s = 2 T / (2 I2 + I4) the amplitude damping time, so that
    // tau_q = T / (2 I2 + I4) e^xi / xi: twice what T / (2 I2 + I4) taken as tau_s would give
    State state = test::rfTestRing();
    state.ringParams.i3 = 2; // an energy spread that leaves the acceptance a few spreads wide
    test::FakeMessages messages;
    ASSERT_TRUE(calcParameter(state, messages, RfBeamInput{1, 100, 60}));
    const RingParameters& ring = state.ringParams;
    const double r = state.rf.energyAcceptance / ring.energySpread;
    ASSERT_GT(r, 1);
    ASSERT_LT(r, 15);
    const double xi = r * r / 2;
    const double e = state.beam.totalEnergy;
    const double t =
        kTwoPi * ring.circumference / (kSpeedOfLight * state.beam.cGammaParticle * e * e * e) * 1e27;
    const double expected = t / (2 * ring.i2 + ring.i4) * std::exp(xi) / xi;
    EXPECT_NEAR(state.rf.quantumLifetime, expected, 1e-9 * expected);
    EXPECT_NEAR(ring.dampingTimeS, 2 * t / (2 * ring.i2 + ring.i4), 1e-9 * ring.dampingTimeS);
}

TEST(RfUpdate, ParameterUpdateOfTheExampleRing)
{
    State state;
    test::FakeMessages messages;
    ASSERT_TRUE(test::dbaRing(state, messages));
    const auto view = calcParameter(state, messages, RfBeamInput{2.0, 200, 1200});
    ASSERT_TRUE(view);
    EXPECT_TRUE(messages.errors.empty()) << messages.errors.front();
    EXPECT_FALSE(view->voltageBox);
    // a 2 GeV DBA ring: a few hundred keV per turn, a synchrotron tune of some 1e-3, mm bunches
    EXPECT_GT(state.ringParams.energyLoss, 50e3);
    EXPECT_LT(state.ringParams.energyLoss, 600e3);
    EXPECT_NEAR(state.rf.overVoltage, 1.2e6 / state.ringParams.energyLoss, 1e-9);
    EXPECT_GT(state.rf.synchrotronTune, 1e-3);
    EXPECT_LT(state.rf.synchrotronTune, 2e-2);
    EXPECT_GT(state.rf.bunchLength, 1e-3);
    EXPECT_LT(state.rf.bunchLength, 2e-2);
    EXPECT_EQ(view->energyLoss,
              "energy loss/turn = " + fmt("%8.3f", state.ringParams.energyLoss / 1000) + " keV");
    // the rf frequency shown is h f_rev, the one the ring geometry set
    EXPECT_EQ(view->rfFrequency, "rf frequency = " + fmt("%10.5f", state.rf.frequency / 1e6) + " MHz");
}

TEST(RfUpdate, TypedVoltageAtTheLossWithTheAdditionalLoss)
{
    State state = test::rfTestRing();
    test::FakeMessages messages;
    updateKinematics(state.beam, EnergyKind::Momentum, 1e9);
    equilibriumParameters(state);
    const double radiated = state.ringParams.energyLoss;
    // U0 = radiation + 10 keV; the typed voltage equals it and is raised to ten times it
    const double u0Kev = radiated / 1000 + 10;
    const auto view = updateCalculation(state, messages, RfBeamInput{1, 100, u0Kev}, 50, 10);
    ASSERT_TRUE(view);
    EXPECT_NEAR(state.ringParams.additionalLoss, 1e4, 1e-9);
    EXPECT_NEAR(state.ringParams.energyLoss, radiated + 1e4, 1e-6);
    EXPECT_NEAR(state.rf.voltage, 10 * (radiated + 1e4), 1e-6);
    ASSERT_EQ(messages.errors.size(), 1u);
    EXPECT_EQ(messages.errors[0], "rf voltage was too low and was\r raised to" +
                                      fmt("%8.3f", 10 * (radiated + 1e4) / 1000) + " kV");
    ASSERT_TRUE(view->voltageBox);
    EXPECT_EQ(*view->voltageBox, fmt("%8.3f", state.rf.voltage / 1000));
    EXPECT_EQ(state.rf.power, 5e4);
    EXPECT_NEAR(state.rf.overVoltage, 10, 1e-12);
}

TEST(RfUpdate, RefusedUpdatesLeaveEverythingAsItWas)
{
    State state = test::rfTestRing();
    test::FakeMessages messages;
    const State before = state;
    EXPECT_FALSE(updateCalculation(state, messages, RfBeamInput{0, 100, 500}, 50, 10));
    EXPECT_EQ(messages.errors.back(), "the momentum must be above 0 GeV!");
    EXPECT_FALSE(updateCalculation(state, messages, RfBeamInput{1, -5, 500}, 50, 10));
    EXPECT_EQ(messages.errors.back(), "the beam current must not be negative!");
    // a ring without bends loses nothing per turn
    state.ringParams.i2 = 0;
    state.ringParams.i3 = 0;
    state.ringParams.i4 = 0;
    EXPECT_FALSE(updateCalculation(state, messages, RfBeamInput{2, 100, 500}, 50, 0));
    EXPECT_EQ(messages.errors.back(), kNoEnergyLoss);
    EXPECT_EQ(messages.errors.size(), 3u);
    EXPECT_EQ(state.rf.voltage, before.rf.voltage);
    EXPECT_EQ(state.rf.power, before.rf.power);
    EXPECT_EQ(state.ringParams.additionalLoss, before.ringParams.additionalLoss);
    EXPECT_EQ(state.ringParams.energyLoss, before.ringParams.energyLoss);
    EXPECT_EQ(state.beam.momentum, before.beam.momentum);
    EXPECT_EQ(state.beamCurrent, before.beamCurrent);
    EXPECT_FALSE(state.rf.computed);
}

TEST(RfUpdate, RingUpdateTakesTheEquilibriumOfTheRingAsItStands)
{
    // a loss per turn left from another momentum: the update recomputes it before the rf parameters
    State state;
    test::FakeMessages messages;
    ASSERT_TRUE(test::dbaRing(state, messages));
    const double u0 = state.ringParams.energyLoss;
    state.ringParams.energyLoss = 3 * u0;
    state.ringParams.additionalLoss = 20e3;
    ASSERT_TRUE(updateRfParameters(state, messages));
    EXPECT_TRUE(messages.errors.empty()) << messages.errors.front();
    EXPECT_NEAR(state.ringParams.energyLoss, u0 + 20e3, 1e-6 * u0);
    EXPECT_NEAR(state.rf.overVoltage, 1.2e6 / (u0 + 20e3), 1e-9);
    EXPECT_TRUE(state.rf.computed);
    // the same parameters as the rf window's update at the ring's own momentum, current and voltage
    State window = state;
    ASSERT_TRUE(calcParameter(window, messages, RfBeamInput{2.0, state.beamCurrent * 1000, 1200}));
    EXPECT_NEAR(state.rf.energyAcceptance, window.rf.energyAcceptance, 1e-12);
    EXPECT_NEAR(state.rf.bunchLength, window.rf.bunchLength, 1e-15);
}

TEST(RfUpdate, RingUpdateRaisesALowVoltageToOnePointTwoTimesTheLoss)
{
    State state;
    test::FakeMessages messages;
    ASSERT_TRUE(test::dbaRing(state, messages));
    state.rf.voltage = 1000;
    ASSERT_TRUE(updateRfParameters(state, messages));
    EXPECT_EQ(messages.errors, std::vector<std::string>{kRfVoltageRaised});
    EXPECT_NEAR(state.rf.voltage, 1.2 * state.ringParams.energyLoss, 1e-6);
}

TEST(RfUpdate, RingUpdateWithoutAHarmonicNumberIsRefusedAndChangesNothing)
{
    State state;
    test::FakeMessages messages;
    ASSERT_TRUE(test::dbaRing(state, messages));
    state.ringParams.harmonicNumber = 0;
    state.ringParams.additionalLoss = 20e3; // would raise U0 if the equilibrium were kept
    const State before = state;
    EXPECT_FALSE(updateRfParameters(state, messages));
    EXPECT_EQ(messages.errors, std::vector<std::string>{kNoHarmonic});
    EXPECT_EQ(state.ringParams.energyLoss, before.ringParams.energyLoss);
    EXPECT_EQ(state.rf.energyAcceptance, before.rf.energyAcceptance);
    EXPECT_FALSE(state.rf.computed);
}

} // namespace kestrune
