#include "cli/CouplingReport.h"

#include "cli/ChromaticityBatch.h"
#include "cli/Report.h"
#include "cli/RingReport.h"
#include "cli/StderrMessages.h"
#include "core/Kinematics.h"
#include "core/io/LatticeFile.h"
#include "support/ExampleLattice.h"

#include <cmath>
#include <gtest/gtest.h>
#include <tuple>

namespace kestrune {
namespace {

TEST(CouplingReport, RolledRingCarriesTheNaturalEmittanceInMode2AndAnOpenLineNone)
{
    // the DBA ring rolled by pi/2 bends vertically: mode 2 has the natural emittance of the unrolled
    // ring's radiation integrals
    State state = test::exampleState("dba-cell.lat");
    state.ringClosed = true;
    State plain = state;
    QuietMessages quiet;
    BatchInputs inputs;
    inputs.couplingPercent = 0;
    ASSERT_TRUE(computeRing(plain, quiet, inputs));
    const double eps0 = plain.ringParams.emittanceX;
    for (int i = 1; i <= state.line.count; ++i)
        state.line.at(i).tilt = kPi / 2;
    const Json closed = couplingSection(state);
    ASSERT_TRUE(closed.at("emittance_2_m").is_number()) << closed.dump();
    EXPECT_NEAR(closed.at("emittance_2_m").get<double>(), eps0, 1e-6 * eps0);
    EXPECT_NEAR(closed.at("emittance_1_m").get<double>(), 0, 1e-12 * eps0);
    EXPECT_GT(closed.at("emittance_3_m").get<double>(), 0);

    state.ringClosed = false;
    const Json open = couplingSection(state);
    for (const char* key : {"emittance_1_m", "emittance_2_m", "emittance_3_m"})
        EXPECT_TRUE(open.at(key).is_null()) << key;
    EXPECT_EQ(open.at("message"), "the mode emittances need a closed ring");
}

TEST(CouplingReport, ResonanceWorkingPointOfARingRolledByAQuarterTurnIsItsSwappedTunes)
{
    // rolled by pi/2 the mode mostly horizontal is the unrolled ring's vertical motion
    State state = test::exampleState("dba-cell.lat");
    state.ringClosed = true;
    QuietMessages quiet;
    const Json plain = resonanceSection(state, quiet);
    ASSERT_TRUE(plain.is_object());
    EXPECT_EQ(plain.at("working_point"), "ring tunes");
    for (int i = 1; i <= state.line.count; ++i)
        state.line.at(i).tilt = kPi / 2;
    const Json rolled = resonanceSection(state, quiet);
    ASSERT_TRUE(rolled.is_object());
    EXPECT_EQ(rolled.at("working_point"), "eigentunes");
    EXPECT_NEAR(rolled.at("tune_x").get<double>(), plain.at("tune_y").get<double>(), 1e-8);
    EXPECT_NEAR(rolled.at("tune_y").get<double>(), plain.at("tune_x").get<double>(), 1e-8);
}

TEST(CouplingReport, PeriodicAndChromaticityOfARingRolledByAQuarterTurnAreItsPlanesAsModes)
{
    // rolled by pi/2 mode 1 is the unrolled vertical motion turned into x, mode 2 the horizontal one
    State plain = test::exampleState("dba-cell.lat");
    plain.ringClosed = true;
    State rolled = plain;
    for (int i = 1; i <= rolled.line.count; ++i)
        rolled.line.at(i).tilt = kPi / 2;
    QuietMessages quiet;
    const Json sections[2][2] = {
        {periodicSection(rolled, quiet), chromaticitySection(rolled, std::nullopt, {}, quiet)},
        {periodicSection(plain, quiet), chromaticitySection(plain, std::nullopt, {}, quiet)}};
    // section (0 periodic, 1 chromaticity), key of the rolled ring, key of the plain one
    const std::tuple<int, const char*, const char*> pairs[] = {
        {0, "tune_1", "tune_y"},       {0, "tune_2", "tune_x"},           {0, "beta_1_m", "beta_y_m"},
        {0, "alpha_1", "alpha_y"},     {0, "beta_2_m", "beta_x_m"},       {0, "alpha_2", "alpha_x"},
        {0, "eta_y_m", "eta_x_m"},     {0, "eta_py", "eta_px"},           {1, "natural_1", "natural_y"},
        {1, "natural_2", "natural_x"}, {1, "corrected_1", "corrected_y"}, {1, "corrected_2", "corrected_x"}};
    for (const auto& [section, mode, planeKey] : pairs) {
        const Json& got = sections[0][section].at(mode);
        ASSERT_TRUE(got.is_number()) << mode << " " << sections[0][section].dump();
        const double want = sections[1][section].at(planeKey).get<double>();
        EXPECT_NEAR(got.get<double>(), want, 1e-7 * (1 + std::fabs(want))) << mode;
    }
    for (const char* key : {"r11", "r12", "r21", "r22", "eta_x_m"})
        EXPECT_NEAR(sections[0][0].at(key).get<double>(), 0, 1e-12) << key;
    for (const char* key : {"beta_x_m", "tune_x"})
        EXPECT_TRUE(sections[0][0].at(key).is_null()) << key;
    EXPECT_TRUE(sections[0][1].at("natural_x").is_null());
    EXPECT_FALSE(sections[1][0].contains("tune_1"));
}

TEST(CouplingReport, CoupledRingHasItsRingResultsAndLifetimes)
{
    // the coupled validation ring: what its modes define is a number, I5 (each mode's own) is null
    State state;
    startParticle(state);
    test::FakeMessages fake;
    ASSERT_TRUE(readLatticeFile(state, fake, std::string(KESTRUNE_VALIDATION) + "/coupled-double-bend.lat"));
    StderrMessages messages;
    const Json report = buildReport("coupled-double-bend.lat", state, state, BatchInputs{}, messages);
    const std::pair<const char*, const char*> numbers[] = {
        {"radiation_integrals", "i1"},          {"radiation_integrals", "i4"},
        {"equilibrium", "energy_loss_ev"},      {"equilibrium", "damping_time_x_s"},
        {"equilibrium", "damping_time_s_s"},    {"equilibrium", "energy_spread"},
        {"equilibrium", "emittance_y_m"},       {"equilibrium", "natural_chromaticity_y"},
        {"equilibrium", "momentum_compaction"}, {"rf", "bunch_length_m"},
        {"lifetime", "quantum_total_s"},        {"lifetime", "touschek_s"},
        {"coupling", "damping_partition_3"}};
    for (const auto& [section, key] : numbers)
        EXPECT_TRUE(report.at(section).at(key).is_number()) << section << "." << key << " " << report.dump();
    EXPECT_TRUE(report.at("radiation_integrals").at("i5").is_null());
    const Json& c = report.at("coupling");
    EXPECT_NEAR(c.at("damping_partition_1").get<double>() + c.at("damping_partition_2").get<double>() +
                    c.at("damping_partition_3").get<double>(),
                4, 1e-9);
}

} // namespace
} // namespace kestrune
