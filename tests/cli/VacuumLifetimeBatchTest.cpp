#include "cli/VacuumLifetimeBatch.h"

#include "cli/BatchRf.h"
#include "cli/StderrMessages.h"
#include "support/ExampleLattice.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>

namespace kestrune {
namespace {

constexpr const char* kRfDefault = "enter energy acceptance manually or run \"RF\"!";

bool saysRfDefault(const Json& lifetime)
{
    const Json& defaults = lifetime.at("defaults");
    return std::find(defaults.begin(), defaults.end(), Json(kRfDefault)) != defaults.end();
}

} // namespace

TEST(LifetimeBatch, ClosedRingTakesAcceptanceAndBunchLengthFromTheRfSection)
{
    const State state = test::exampleState("dba-cell.lat");
    ASSERT_TRUE(state.ringClosed);
    StderrMessages messages;
    const Json rf = rfSection(state, BatchInputs{}, messages);
    const Json lifetime = lifetimeSection(state, BatchInputs{}, messages);
    ASSERT_TRUE(rf.is_object());
    EXPECT_FALSE(saysRfDefault(lifetime));
    const double acceptancePercent = rf.at("energy_acceptance").get<double>() * 100;
    const double bunchLengthMm = rf.at("bunch_length_m").get<double>() * 1000;
    // the activation writes them into the boxes with three decimals
    const Json& inputs = lifetime.at("inputs");
    EXPECT_NEAR(inputs.at("bremsstrahlung").at("energy_acceptance_percent").get<double>(), acceptancePercent,
                5e-4);
    EXPECT_NEAR(inputs.at("quantum").at("energy_acceptance_percent").get<double>(), acceptancePercent, 5e-4);
    EXPECT_NEAR(inputs.at("touschek").at("energy_acceptance_percent").get<double>(), acceptancePercent, 5e-4);
    EXPECT_NEAR(inputs.at("touschek").at("bunch_length_mm").get<double>(), bunchLengthMm, 5e-4);
    // a real acceptance of the ring, not the 1 % and 1 mm of the boxes' defaults
    EXPECT_GT(std::fabs(acceptancePercent - 1), 0.01);
    EXPECT_GT(std::fabs(bunchLengthMm - 1), 0.01);
    EXPECT_TRUE(lifetime.at("touschek_s").is_number());
    EXPECT_TRUE(lifetime.at("total_s").is_number());
}

TEST(LifetimeBatch, TypedTouschekBoxesWinOverTheRfResults)
{
    const State state = test::exampleState("dba-cell.lat");
    BatchInputs inputs;
    inputs.lifetimeTyped.emplace_back(&LifetimeBoxes::bunchLength, "7.5");
    StderrMessages messages;
    const Json lifetime = lifetimeSection(state, inputs, messages);
    EXPECT_DOUBLE_EQ(lifetime.at("inputs").at("touschek").at("bunch_length_mm").get<double>(), 7.5);
}

TEST(LifetimeBatch, RingThatIsNotClosedHasNoRfResultsAndSaysSo)
{
    // six of the twelve cells bend 180 degrees: no closed ring, no rf window
    State state = test::exampleState("dba-cell.lat");
    state.line.superPeriods = 6;
    StderrMessages messages;
    const Json lifetime = lifetimeSection(state, BatchInputs{}, messages);
    EXPECT_TRUE(saysRfDefault(lifetime));
    // no rf system: no default stands in for the Touschek acceptance, and the refusal says so
    EXPECT_TRUE(lifetime.at("inputs").at("touschek").at("bunch_length_mm").is_null());
    EXPECT_TRUE(lifetime.at("touschek_s").is_null());
    const std::vector<std::string> shown = messages.shown();
    EXPECT_NE(std::find(shown.begin(), shown.end(), "enter \"energy acceptance, %\" or run \"RF\"!"),
              shown.end());
}

} // namespace kestrune
