#include "core/rf/CavityBudget.h"

#include "core/Kinematics.h"
#include "core/rf/RfParameter.h"
#include "support/FakeMessages.h"
#include "support/RfTestRing.h"

#include <cmath>
#include <gtest/gtest.h>

namespace kestrune {

namespace {

CavityInput typedImpedance(int cells, double perCellMohm, double voltageKv, double powerKw)
{
    CavityInput input;
    input.cavities = cells;
    input.selectImpedance = true;
    input.shuntImpedanceMohm = perCellMohm;
    input.voltageKv = voltageKv;
    input.powerKw = powerKw;
    return input;
}

} // namespace

TEST(CavityBudget, PillBoxImpedanceScalesWithTheRootOfTheFrequency)
{
    EXPECT_NEAR(scaledShuntImpedance(CavityMaterial::Copper, 500e6) / 1e6, 28.62, 0.005);
    EXPECT_NEAR(scaledShuntImpedance(CavityMaterial::Aluminum, 500e6) / 1e6, 23.70, 0.005);
    EXPECT_NEAR(scaledShuntImpedance(CavityMaterial::Copper, 2000e6) /
                    scaledShuntImpedance(CavityMaterial::Copper, 500e6),
                2.0, 1e-12);
}

TEST(CavityBudget, CellsInSeriesLoseTheVoltageSquaredOverTheRingImpedance)
{
    // 4 cells of 1 MOhm at 1 MV: 250 kV on each cell loses 62.5 kW, 250 kW in all
    State state = test::rfTestRing();
    test::FakeMessages messages;
    const auto view = cavityPowerBudget(state, messages, typedImpedance(4, 1.0, 1000, 500));
    ASSERT_TRUE(view);
    EXPECT_TRUE(messages.errors.empty());
    EXPECT_NEAR(state.rf.shuntImpedance, 4e6, 1e-6);
    EXPECT_NEAR(state.rf.cavityLossPower, 250e3, 1e-6);
    const double perCell = 250e3 * 250e3 / 1e6;
    EXPECT_NEAR(state.rf.cavityLossPower, 4 * perCell, 1e-6);
    EXPECT_EQ(view->cavityLoss, "total cavity losses =  250.000 kW");
    EXPECT_FALSE(view->impedancePerMetre); // the typed impedance leaves the scaled labels

    // one cell: V^2 / R as before
    ASSERT_TRUE(cavityPowerBudget(state, messages, typedImpedance(1, 1.0, 1000, 500)));
    EXPECT_NEAR(state.rf.cavityLossPower, 1e6, 1e-6);
}

TEST(CavityBudget, ScaledCopperCavities)
{
    State state = test::rfTestRing();
    state.rf.frequency = 500e6;
    state.rf.cavityMaterial = "aluminum";
    CavityInput input;
    input.cavities = 4;
    input.voltageKv = 1000;
    input.powerKw = 200;
    input.miscLossPercent = 10;
    test::FakeMessages messages;
    const auto view = cavityPowerBudget(state, messages, input);
    ASSERT_TRUE(view);
    const double lambda = kSpeedOfLight / 500e6;
    EXPECT_NEAR(state.rf.wavelength, lambda, 1e-12);
    EXPECT_NEAR(state.rf.cavityLength, 2 * lambda, 1e-12);
    EXPECT_EQ(state.rf.cavityMaterial, "copper");
    EXPECT_NEAR(state.rf.shuntImpedance, scaledShuntImpedance(CavityMaterial::Copper, 500e6) * 2 * lambda,
                1e-3);
    EXPECT_NEAR(state.rf.cavityLossPower, 1e12 / state.rf.shuntImpedance, 1e-6);
    EXPECT_NEAR(state.rf.miscLossPower, 20e3, 1e-9);
    EXPECT_NEAR(state.rf.beamPower, 200e3 - 20e3 - state.rf.cavityLossPower, 1e-6);
    EXPECT_EQ(state.rf.cavities, 4);
    EXPECT_NEAR(state.rf.miscLoss, 0.1, 1e-15);
    EXPECT_EQ(view->wavelength, "rf-wavelength is    0.600 m");
    EXPECT_EQ(view->cavityLength, "eff. cavity length is    1.199 m");
    EXPECT_EQ(*view->impedancePerMetre, "impedance =   28.622 MOhm/m");
    EXPECT_EQ(view->cavityVoltage, "tot. cavity voltage = 1000.000 kVolt");
    EXPECT_EQ(view->totalAvailable, "tot.available rf-power =  200.000 kW");
    EXPECT_EQ(view->miscLoss, "misc.rf-losses =   20.000 kW   or ");
}

TEST(CavityBudget, ElectronCurrentFromTheRemainingPower)
{
    // 100 kW left at U0 = 100 keV sustain 1 A
    State state = test::rfTestRing();
    state.beam.name = "       electron";
    test::FakeMessages messages;
    const auto view = cavityPowerBudget(state, messages, typedImpedance(1, 1.0, 100, 110));
    ASSERT_TRUE(view);
    EXPECT_NEAR(state.rf.beamPower, 100e3, 1e-6);
    EXPECT_NEAR(state.rf.maxBeamCurrent, 1.0, 1e-12);
    EXPECT_TRUE(view->powerLeft);
    EXPECT_EQ(view->remaining,
              "remaining rf power of  100.000 kW\rwill sustain a max. total beam current of 1000.000 mA");
}

TEST(CavityBudget, NoPowerLeftAsksForMore)
{
    // exactly the wall losses: nothing left
    State state = test::rfTestRing();
    state.rf.maxBeamCurrent = 0.25;
    test::FakeMessages messages;
    const auto view = cavityPowerBudget(state, messages, typedImpedance(1, 1.0, 100, 10));
    ASSERT_TRUE(view);
    EXPECT_EQ(state.rf.beamPower, 0);
    EXPECT_EQ(view->remaining, "increase rf-power!");
    EXPECT_FALSE(view->powerLeft);
    EXPECT_EQ(state.rf.maxBeamCurrent, 0); // not the current of an earlier budget
}

TEST(CavityBudget, OtherParticlesAreNotBudgeted)
{
    State state = test::rfTestRing();
    selectProton(state.beam, state.electron);
    state.rf.maxBeamCurrent = 0.25;
    test::FakeMessages messages;
    const auto view = cavityPowerBudget(state, messages, typedImpedance(1, 1.0, 100, 500));
    ASSERT_TRUE(view);
    EXPECT_TRUE(view->powerLeft);
    EXPECT_EQ(view->remaining, "there is not enough cavity power available.\rincrease rf-power!");
    EXPECT_TRUE(std::isnan(state.rf.maxBeamCurrent));
}

TEST(CavityBudget, RefusalsStoreNothing)
{
    struct Case
    {
        const char* what;
        CavityInput input;
        void (*spoil)(State&);
        const char* message;
    };
    const auto keep = [](State&) {};
    const Case cases[] = {
        {"no cells", typedImpedance(0, 1.0, 1000, 100), keep,
         "the number of cavity cells must be at least 1!"},
        {"negative cells", typedImpedance(-2, 1.0, 1000, 100), keep,
         "the number of cavity cells must be at least 1!"},
        {"no frequency", typedImpedance(1, 1.0, 1000, 100), [](State& s) { s.rf.frequency = 0; },
         kNoRfFrequency},
        {"no impedance", typedImpedance(1, 0.0, 1000, 100), keep,
         "the shunt impedance must be above 0 MOhm!"},
        {"no loss", typedImpedance(1, 1.0, 1000, 100), [](State& s) { s.ringParams.energyLoss = 0; },
         kNoEnergyLoss},
    };
    for (const Case& c : cases) {
        State state = test::rfTestRing();
        c.spoil(state);
        const RfParameters before = state.rf;
        test::FakeMessages messages;
        EXPECT_FALSE(cavityPowerBudget(state, messages, c.input)) << c.what;
        EXPECT_EQ(messages.errors, std::vector<std::string>{c.message}) << c.what;
        EXPECT_EQ(state.rf.cavities, before.cavities) << c.what;
        EXPECT_EQ(state.rf.voltage, before.voltage) << c.what;
        EXPECT_EQ(state.rf.shuntImpedance, before.shuntImpedance) << c.what;
    }
}

} // namespace kestrune
