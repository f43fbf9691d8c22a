#include "cli/BatchRf.h"

#include "cli/BatchLists.h"
#include "cli/BatchSettings.h"
#include "cli/Report.h"
#include "cli/StderrMessages.h"
#include "core/Kinematics.h"
#include "core/io/LatticeFile.h"
#include "core/io/Listing.h"
#include "support/ExampleLattice.h"
#include "support/FakeMessages.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace kestrune {
namespace {

double number(const Json& section, const char* key)
{
    EXPECT_TRUE(section[key].is_number()) << key;
    return section[key].get<double>();
}

} // namespace

TEST(BatchRf, ReportSectionOfTheExampleRingIsConsistent)
{
    const State state = test::exampleState("dba-cell.lat");
    test::FakeMessages messages;
    const Json rf = rfSection(state, BatchInputs{}, messages);
    ASSERT_TRUE(rf.is_object());
    EXPECT_TRUE(messages.errors.empty());
    std::vector<std::string> keys;
    for (const auto& item : rf.items())
        keys.push_back(item.key());
    const std::vector<std::string> expected = {"over_voltage",      "over_voltage_function",
                                               "energy_acceptance", "synchronous_phase_rad",
                                               "synchrotron_tune",  "synchrotron_frequency_hz",
                                               "bunch_length_m",    "quantum_lifetime_s",
                                               "voltage_v",         "power_w",
                                               "rf_wavelength_m",   "cavity_length_m",
                                               "shunt_impedance",   "total_impedance_ohm",
                                               "cavity_loss_w",     "misc_loss_w",
                                               "beam_power_w",      "max_beam_current_a",
                                               "material",          "harmonic_number",
                                               "rf_cavities"};
    EXPECT_EQ(keys, expected);
    // the file's settings: 1.2 MV, 200 kW, 2 cells, 10 % miscellaneous losses, scaled copper
    EXPECT_EQ(number(rf, "voltage_v"), 1.2e6);
    EXPECT_EQ(rf["material"], "copper");
    EXPECT_NEAR(number(rf, "cavity_length_m"), number(rf, "rf_wavelength_m"), 1e-12); // 2 cells of lambda/2
    EXPECT_NEAR(number(rf, "total_impedance_ohm"),
                number(rf, "shunt_impedance") * number(rf, "cavity_length_m"), 1e-6);
    EXPECT_NEAR(number(rf, "cavity_loss_w"), 1.44e12 / number(rf, "total_impedance_ohm"), 1e-6);
    EXPECT_NEAR(number(rf, "misc_loss_w"), 2e4, 1e-9);
    EXPECT_NEAR(number(rf, "beam_power_w"), 2e5 - 2e4 - number(rf, "cavity_loss_w"), 1e-6);
    // the current: the beam power over the loss per turn U0 = V_rf / q
    const double u0 = number(rf, "voltage_v") / number(rf, "over_voltage");
    EXPECT_NEAR(number(rf, "max_beam_current_a"), number(rf, "beam_power_w") / u0, 1e-9);
    EXPECT_GT(number(rf, "synchronous_phase_rad"), kPi / 2); // electrons run above transition
}

TEST(BatchRf, ReportSectionsAgreeOnTheRing)
{
    // the rf section computes on the ring of the ring sections: the same loss per turn
    const State state = test::exampleState("dba-cell.lat");
    StderrMessages messages;
    const Json report = buildReport("dba-cell.lat", state, state, BatchInputs{}, messages);
    ASSERT_TRUE(report["rf"].is_object());
    ASSERT_TRUE(report["equilibrium"].is_object());
    const double u0 = number(report["rf"], "voltage_v") / number(report["rf"], "over_voltage");
    EXPECT_NEAR(u0, number(report["equilibrium"], "energy_loss_ev"), 1e-9 * u0);
    EXPECT_TRUE(report["messages"].empty());
}

TEST(BatchRf, TypedImpedanceAndSettings)
{
    State state = test::exampleState("dba-cell.lat");
    BatchInputs inputs;
    for (const char* assignment :
         {"rf.voltage_kv=1000", "rf.power_kw=500", "rf.cavities=4", "rf.misc_loss_percent=0",
          "rf.shunt_impedance_mohm=1", "rf.additional_loss_kev=20"})
        applySetting(state, inputs, assignment);
    EXPECT_EQ(state.rf.cavities, 4);
    EXPECT_EQ(state.ringParams.additionalLoss, 2e4);
    test::FakeMessages messages;
    const Json rf = rfSection(state, inputs, messages);
    ASSERT_TRUE(rf.is_object());
    // 4 cells of 1 MOhm in series at 1 MV
    EXPECT_NEAR(number(rf, "total_impedance_ohm"), 4e6, 1e-6);
    EXPECT_NEAR(number(rf, "cavity_loss_w"), 2.5e5, 1e-6);
    EXPECT_NEAR(number(rf, "shunt_impedance"), 1e6, 1e-6);
    EXPECT_TRUE(rf["material"].is_null());
}

TEST(BatchRf, SettingsRefuseWhatTheBoxesRefuse)
{
    State state;
    BatchInputs inputs;
    EXPECT_THROW(applySetting(state, inputs, "rf.cavities=0"), BatchUsageError);
    EXPECT_THROW(applySetting(state, inputs, "rf.cavities=1.5"), BatchUsageError);
    EXPECT_THROW(applySetting(state, inputs, "rf.shunt_impedance_mohm=0"), BatchUsageError);
    EXPECT_THROW(applySetting(state, inputs, "rf.material=gold"), BatchUsageError);
    EXPECT_THROW(applySetting(state, inputs, "rf.misc_loss_percent=120"), BatchUsageError);
    EXPECT_THROW(applySetting(state, inputs, "rf.voltage_kv=-1"), BatchUsageError);
    applySetting(state, inputs, "rf.material=aluminum");
    EXPECT_TRUE(inputs.rfAluminum);
    EXPECT_FALSE(inputs.rfSelectImpedance);
}

TEST(BatchRf, TransportLineHasNoRfSection)
{
    const State state = test::exampleState("ion-line.lat");
    test::FakeMessages messages;
    EXPECT_TRUE(rfSection(state, BatchInputs{}, messages).is_null());
    EXPECT_TRUE(messages.errors.empty());
}

TEST(BatchRf, ListAndScan)
{
    State state = test::exampleState("dba-cell.lat");
    test::FakeMessages messages;
    ASSERT_EQ(batchListNamed("rf"), BatchList::Rf);
    ASSERT_TRUE(appendBatchList(state, messages, BatchList::Rf, BatchInputs{}));
    const std::vector<std::string> lines = listLines(state);
    EXPECT_NE(std::find(lines.begin(), lines.end(), "   Rf-parameter"), lines.end());
    EXPECT_NE(std::find(lines.begin(), lines.end(), "   cavity material,                          copper"),
              lines.end());
    EXPECT_EQ(state.rf.voltage, 1.2e6); // the list computes on its own copy

    std::string csv;
    ASSERT_TRUE(scanCsv(state, messages, BatchInputs{}, parseScanRequest({"bunch_length", "1", "2.5"}), csv));
    EXPECT_EQ(csv.substr(0, csv.find('\n')), "momentum_gev,bunch_length_mm");
    EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 102);

    EXPECT_THROW(parseScanRequest({"tune", "1", "2"}), BatchUsageError);
    EXPECT_THROW(parseScanRequest({"bunch_length", "1", "x"}), BatchUsageError);
}

} // namespace kestrune
