#include "core/rf/RfUpdate.h"

#include "core/Format.h"
#include "core/rf/RfParameter.h"
#include "core/ring/Parameter.h"
#include "support/FakeMessages.h"
#include "support/RfTestRing.h"

#include <cmath>
#include <gtest/gtest.h>
#include <utility>
#include <vector>

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

namespace kestrune {
namespace {

// The example ring with two drifts of its cell turned into rf cavities of the given voltages (V) and
// harmonic numbers (0: given by frequency, h f_rev).
State ringWithCavities(const std::vector<std::pair<double, double>>& cavities, double& h)
{
    State state;
    test::FakeMessages messages;
    EXPECT_TRUE(test::dbaRing(state, messages));
    h = std::nearbyint(state.ringParams.harmonicNumber);
    int i = 1;
    int n = 1;
    for (const auto& [voltage, harmonic] : cavities) {
        while (state.line.at(i).code != code::kDrift)
            ++i;
        LatticeElement& e = state.line.at(i++);
        e.code = code::kRfCavity;
        e.name = "CAV" + std::to_string(n++);
        e.voltage = voltage;
        e.harmonic = harmonic < 0 ? h : harmonic;
        e.frequency = harmonic == 0 ? h * state.ringParams.revolutionFrequency : 0;
    }
    return state;
}

} // namespace

TEST(RfUpdate, CavitiesOfTheLineMakeTheRfSystem)
{
    // the reference: the rf window's own voltage on the ring's whole harmonic number; the cavities of
    // the 12 cells must give 1.2 MV in total however the cell shares it, with the harmonic number given
    // or taken from the frequency (-1: the ring's)
    double h = 0;
    State reference = ringWithCavities({}, h);
    reference.ringParams.harmonicNumber = h;
    reference.rf.voltage = 1.2e6;
    test::FakeMessages messages;
    ASSERT_TRUE(updateRfParameters(reference, messages));
    const std::vector<std::vector<std::pair<double, double>>> rows = {
        {{30e3, -1}, {70e3, -1}}, {{100e3, -1}}, {{40e3, 0}, {60e3, -1}}};
    for (const auto& row : rows) {
        State state = ringWithCavities(row, h);
        state.rf.voltage = 5e5; // the rf window's setting gives way to the cavities
        ASSERT_TRUE(updateRfParameters(state, messages)) << messages.errors.back();
        EXPECT_NEAR(state.rf.voltage, 1.2e6, 1e-6);
        EXPECT_EQ(state.ringParams.harmonicNumber, h);
        EXPECT_NEAR(state.rf.synchronousPhase, reference.rf.synchronousPhase, 1e-12);
        EXPECT_NEAR(state.rf.synchrotronTune, reference.rf.synchrotronTune, 1e-12);
    }
    EXPECT_TRUE(messages.errors.empty());
}

TEST(RfUpdate, TheVoltageBoxSharesTheTotalAmongTheCavities)
{
    // typed 2400 kV over 12 cells: 200 kV per cell, in proportion to the cavities' voltages, in equal
    // shares when they are all 0; cavities of different harmonic numbers are refused naming both
    const struct
    {
        double v1, v2, factor2; // the second cavity's harmonic number: factor2 times the ring's
        double want1, want2;
    } rows[] = {{30e3, 70e3, 1, 60e3, 140e3}, {0, 0, 1, 100e3, 100e3}, {30e3, 70e3, 2, 30e3, 70e3}};
    for (const auto& row : rows) {
        double h = 0;
        State state = ringWithCavities({{row.v1, -1}, {row.v2, -1}}, h);
        std::vector<int> at;
        for (int i = 1; i <= state.line.count; ++i)
            if (state.line.at(i).code == code::kRfCavity)
                at.push_back(i);
        state.line.at(at[1]).harmonic = row.factor2 * h;
        const double voltage = state.rf.voltage;
        test::FakeMessages messages;
        const bool computed = calcParameter(state, messages, RfBeamInput{2.0, 200, 2400}).has_value();
        EXPECT_DOUBLE_EQ(state.line.at(at[0]).voltage, row.want1);
        EXPECT_DOUBLE_EQ(state.line.at(at[1]).voltage, row.want2);
        EXPECT_EQ(computed, row.factor2 == 1);
        EXPECT_NEAR(state.rf.voltage, computed ? 2.4e6 : voltage, 1e-6);
        if (!computed) {
            EXPECT_EQ(messages.errors,
                      std::vector<std::string>{
                          "the rf cavities 'CAV1' (" + std::to_string(at[0]) + ") and 'CAV2' (" +
                          std::to_string(at[1]) + ") have different harmonic numbers (" + shortestFloat(h) +
                          " and " + shortestFloat(2 * h) + "): the ring has one rf system only!"});
        }
    }
}

} // namespace kestrune
