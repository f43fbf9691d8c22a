#include "core/rf/EnergyScan.h"

#include "core/Format.h"
#include "core/Kinematics.h"
#include "core/rf/RfParameter.h"
#include "core/ring/Parameter.h"
#include "support/FakeMessages.h"
#include "support/RfTestRing.h"

#include <cmath>
#include <gtest/gtest.h>

namespace kestrune {

namespace {

/// The test ring with its equilibrium at 1 GeV/c and 20 keV of additional loss.
State scanRing()
{
    State state = test::rfTestRing();
    state.ringParams.additionalLoss = 2e4;
    equilibriumParameters(state);
    return state;
}

} // namespace

TEST(EnergyScan, LimitIsWhereTheLossesReachTheVoltage)
{
    State state = scanRing();
    const double limit = momentumLimitGeV(state);
    ASSERT_TRUE(std::isfinite(limit));
    updateKinematics(state.beam, EnergyKind::Momentum, limit * 1e9);
    equilibriumParameters(state);
    // U0 includes the additional loss: radiation and additional loss together reach V_rf
    EXPECT_NEAR(state.ringParams.energyLoss, state.rf.voltage, 1e-6 * state.rf.voltage);

    state.rf.voltage = 2e4; // no more than the additional loss: no limit
    EXPECT_TRUE(std::isnan(momentumLimitGeV(state)));
    test::FakeMessages messages;
    EXPECT_FALSE(proposeEnergyRange(state, messages));
    EXPECT_EQ(messages.errors.size(), 1u);
}

TEST(EnergyScan, ProposesHalfTheMomentumUpToTheLimit)
{
    const State state = scanRing();
    test::FakeMessages messages;
    const auto range = proposeEnergyRange(state, messages);
    ASSERT_TRUE(range);
    EXPECT_NEAR(range->cpMinGeV, 0.5, 1e-12);
    EXPECT_EQ(range->cpMaxGeV, momentumLimitGeV(state));
}

TEST(EnergyScan, HundredAndOnePointsOneStepBeyondTheMaximum)
{
    State state = scanRing();
    test::FakeMessages messages;
    const auto scan = energyScan(state, messages, ScanQuantity::EnergyLoss, 1.0, 1.99);
    ASSERT_TRUE(scan);
    ASSERT_EQ(scan->momentumGeV.size(), 101u);
    EXPECT_NEAR(scan->momentumGeV.front(), 1.0, 1e-12);
    EXPECT_NEAR(scan->momentumGeV[99], 1.99, 1e-12);
    EXPECT_NEAR(scan->momentumGeV.back(), 2.0, 1e-12);
    EXPECT_FALSE(scan->limitGeV);
    EXPECT_TRUE(messages.errors.empty());
    // the radiation loss goes with cp^4 (keV on the axis)
    for (std::size_t i = 0; i < scan->value.size(); ++i) {
        const double cp = scan->momentumGeV[i];
        const double radiated = scan->value[i] - 20;
        EXPECT_NEAR(radiated / (cp * cp * cp * cp), scan->value[0] - 20, 1e-9) << i;
    }
    // proposed limits: x from 0 to 1.1 times the last momentum, y from 0.9 to 1.1 times the values
    EXPECT_EQ(scan->proposed.xMin, 0);
    EXPECT_NEAR(scan->proposed.xMax, 2.2, 1e-12);
    EXPECT_NEAR(scan->proposed.yMin, 0.9 * scan->value.front(), 1e-9);
    EXPECT_NEAR(scan->proposed.yMax, 1.1 * scan->value.back(), 1e-9);
}

TEST(EnergyScan, MaximumAtTheLimitEndsNearNinetyFivePerCentOfIt)
{
    State state = scanRing();
    const double limit = momentumLimitGeV(state);
    test::FakeMessages messages;
    const auto scan = energyScan(state, messages, ScanQuantity::OverVoltage, 0.5, limit);
    ASSERT_TRUE(scan);
    ASSERT_TRUE(scan->limitGeV);
    EXPECT_EQ(*scan->limitGeV, limit);
    EXPECT_NEAR(scan->cpMaxGeV, 0.95 * limit, 1e-12);
    const double step = (0.95 * limit - 0.5) / 99;
    EXPECT_NEAR(scan->momentumGeV.back(), 0.95 * limit + step, 1e-12);
    // with the additional loss in the limit no point falls below the voltage: nothing is raised
    EXPECT_TRUE(messages.errors.empty());
    for (double q : scan->value)
        EXPECT_GT(q, 1.0);
    EXPECT_EQ(state.rf.voltage, 1e6);
}

TEST(EnergyScan, ParticleEquilibriumAndVoltageAreRestored)
{
    // a range above the limit, scanned downwards: the first points raise V_rf
    State state = scanRing();
    const double limit = momentumLimitGeV(state);
    state.rf.overVoltage = 7.5;
    const State before = state;
    test::FakeMessages messages;
    const auto scan = energyScan(state, messages, ScanQuantity::OverVoltage, 1.5 * limit, limit);
    ASSERT_TRUE(scan);
    EXPECT_EQ(messages.errors, std::vector<std::string>{kRfVoltageRaised});
    // the first point raised V_rf to 1.2 U0; the raised voltage stays for the lower momenta that follow
    EXPECT_NEAR(scan->value.front(), 1.2, 1e-12);
    EXPECT_GT(scan->value[1], 1.2);
    EXPECT_EQ(state.rf.voltage, before.rf.voltage);
    EXPECT_EQ(state.rf.overVoltage, 7.5);
    EXPECT_EQ(state.beam.momentum, before.beam.momentum);
    EXPECT_EQ(state.beam.gamma, before.beam.gamma);
    EXPECT_EQ(state.ringParams.energyLoss, before.ringParams.energyLoss);
    EXPECT_EQ(state.ringParams.dampingTimeS, before.ringParams.dampingTimeS);
}

TEST(EnergyScan, EqualMinimumAndMaximumGiveOneMomentum)
{
    State state = scanRing();
    test::FakeMessages messages;
    const auto scan = energyScan(state, messages, ScanQuantity::DampingTimeX, 1.2, 1.2);
    ASSERT_TRUE(scan);
    for (double cp : scan->momentumGeV)
        EXPECT_EQ(cp, 1.2);
    for (double tau : scan->value)
        EXPECT_EQ(tau, scan->value.front());
}

TEST(EnergyScan, DampingTimesFallWithTheCubeOfTheEnergy)
{
    State state = scanRing();
    test::FakeMessages messages;
    const auto scan = energyScan(state, messages, ScanQuantity::DampingTimeS, 1.0, 2.0);
    ASSERT_TRUE(scan);
    const double first = scan->value.front();
    for (std::size_t i = 0; i < scan->value.size(); ++i) {
        const double e = std::hypot(scan->momentumGeV[i], kElectronRestEnergy / 1e9);
        const double e0 = std::hypot(1.0, kElectronRestEnergy / 1e9);
        EXPECT_NEAR(scan->value[i] * std::pow(e / e0, 3), first, 1e-9 * first) << i;
    }
}

TEST(EnergyScan, MomentumZeroHasNoValue)
{
    State state = scanRing();
    test::FakeMessages messages;
    const auto scan = energyScan(state, messages, ScanQuantity::EnergyAcceptance, 0.0, 1.0);
    ASSERT_TRUE(scan);
    EXPECT_TRUE(std::isnan(scan->value.front()));
    EXPECT_TRUE(std::isfinite(scan->value[1]));
    const std::string csv = energyScanCsv(*scan);
    EXPECT_EQ(csv.substr(0, csv.find('\n')), "momentum_gev,energy_acceptance_percent");
    EXPECT_EQ(csv.substr(csv.find('\n') + 1, 2), "0,"); // empty value where not available
    EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 102);
}

TEST(EnergyScan, RingWithoutHarmonicNumberIsRefused)
{
    State state = scanRing();
    state.ringParams.harmonicNumber = 0;
    test::FakeMessages messages;
    EXPECT_FALSE(energyScan(state, messages, ScanQuantity::BunchLength, 1.0, 2.0));
    EXPECT_EQ(messages.errors, std::vector<std::string>{kNoHarmonic});
}

TEST(EnergyScan, QuantitiesByName)
{
    for (int tag = 0; tag < kScanQuantityCount; ++tag) {
        const auto quantity = static_cast<ScanQuantity>(tag);
        EXPECT_EQ(scanQuantityNamed(scanQuantityText(quantity).name), quantity);
    }
    EXPECT_FALSE(scanQuantityNamed("energy"));
    EXPECT_STREQ(scanQuantityText(ScanQuantity::QuantumLifetime).mask, "0.0E+000");
    EXPECT_STREQ(scanQuantityText(ScanQuantity::RadiationPower).menuEntry, "tot Syn Rad Power");
}

} // namespace kestrune
