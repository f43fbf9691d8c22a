#include "cli/RingReport.h"

#include "cli/BatchLists.h"
#include "cli/Report.h"
#include "core/Kinematics.h"
#include "core/io/LatticeFile.h"
#include "core/io/Listing.h"
#include "core/ring/Parameter.h"
#include "support/ExampleLattice.h"
#include "support/FakeMessages.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace kestrune {
namespace {

TEST(RingReport, DbaRingSectionsHoldTheWindowsResults)
{
    const State asSet = test::exampleState("dba-cell.lat");
    BatchInputs inputs;
    inputs.couplingPercent = 2;
    StderrMessages messages;
    const Json report = buildReport("dba-cell.lat", asSet, asSet, inputs, messages);

    // the same computation through the ring window's core
    State window = asSet;
    test::FakeMessages fake;
    ASSERT_TRUE(computeRing(window, fake, inputs));
    const RingParameters& r = window.ringParams;

    const Json& ring = report.at("ring");
    EXPECT_EQ(ring.at("superperiods"), 12);
    EXPECT_DOUBLE_EQ(ring.at("circumference_m").get<double>(), 183.6);
    EXPECT_NEAR(ring.at("total_deflection_deg").get<double>(), 360, 1e-9);
    EXPECT_DOUBLE_EQ(ring.at("revolution_frequency_hz").get<double>(), r.revolutionFrequency);
    EXPECT_NEAR(ring.at("harmonic_number").get<double>(), 306, 1e-4);
    EXPECT_EQ(ring.at("closed"), true);
    EXPECT_DOUBLE_EQ(report.at("radiation_integrals").at("i5").get<double>(), r.i5);
    const Json& eq = report.at("equilibrium");
    EXPECT_DOUBLE_EQ(eq.at("emittance_x_m").get<double>(), r.emittanceX);
    EXPECT_DOUBLE_EQ(eq.at("coupling").get<double>(), 0.02);
    EXPECT_NEAR(eq.at("natural_emittance_m").get<double>(), r.emittanceX * 1.02, 1e-20);
    EXPECT_DOUBLE_EQ(eq.at("damping_partition_x").get<double>(), 1 - r.i4 / r.i2);
    EXPECT_DOUBLE_EQ(eq.at("natural_chromaticity_x").get<double>(), r.chromaticityX);
    EXPECT_EQ(eq.size(), 17u);
    EXPECT_TRUE(report.at("messages").empty());
}

TEST(RingReport, RfFrequencyIsTheFilesOneUnlessSet)
{
    State asSet = test::exampleState("dba-cell.lat");
    asSet.rf.frequency = 499.654096666667e6;
    StderrMessages messages;
    const Json kept = buildReport("dba-cell.lat", asSet, asSet, BatchInputs{}, messages);
    EXPECT_EQ(kept.at("ring").at("rf_frequency_hz").get<double>(), 499.654096666667e6);
    const double revolution = kept.at("ring").at("revolution_frequency_hz").get<double>();
    EXPECT_EQ(kept.at("ring").at("harmonic_number").get<double>(), 499.654096666667e6 / revolution);

    BatchInputs inputs;
    applySetting(asSet, inputs, "ring.rf_frequency_mhz=500");
    const Json set = buildReport("dba-cell.lat", asSet, asSet, inputs, messages);
    EXPECT_EQ(set.at("ring").at("rf_frequency_hz").get<double>(), 500e6);
}

TEST(RingReport, TransportLineHasNoRingSections)
{
    const State asSet = test::exampleState("fodo-cell.lat");
    State line = asSet;
    // a single drift has no periodic dispersion
    line.line.makeFreshTable();
    line.line.count = 1;
    line.line.at(1).code = code::kDrift;
    line.line.at(1).length = 2;
    StderrMessages messages;
    const Json report = buildReport("drift", line, line, BatchInputs{}, messages);
    EXPECT_TRUE(report.at("periodic").is_null());
    EXPECT_FALSE(report.contains("ring"));
    EXPECT_FALSE(report.contains("equilibrium"));
}

TEST(RingReport, RingWithoutBendsReportsNullNeverNan)
{
    State state = test::exampleState("fodo-cell.lat");
    for (int i = 1; i <= state.line.count; ++i)
        state.line.at(i).curvature = 0;
    StderrMessages messages;
    const Json report = buildReport("fodo", state, state, BatchInputs{}, messages);
    ASSERT_TRUE(report.contains("ring"));
    // no deflection: the geometry finds an open ring; without bends there is no damping
    EXPECT_EQ(report.at("ring").at("closed"), false);
    const Json& eq = report.at("equilibrium");
    ASSERT_FALSE(eq.is_null());
    EXPECT_EQ(eq.at("energy_loss_ev"), 0.0);
    EXPECT_TRUE(eq.at("damping_time_x_s").is_null());
    EXPECT_TRUE(eq.at("energy_spread").is_null());
    EXPECT_TRUE(eq.at("emittance_x_m").is_null());
    EXPECT_EQ(report.dump().find("NaN"), std::string::npos);
}

TEST(RingReport, RingListIsTheWindowsParameterList)
{
    State state = test::exampleState("dba-cell.lat");
    test::FakeMessages messages;
    BatchInputs inputs;
    ASSERT_TRUE(appendBatchList(state, messages, *batchListNamed("ring"), inputs));
    const std::vector<std::string> lines = listLines(state);
    ASSERT_GT(lines.size(), 40u);
    EXPECT_EQ(lines[2], "Storage Ring Parameters");
    EXPECT_NE(
        std::find(lines.begin(), lines.end(), "   ring circumference,C................. =  183.60000 m"),
        lines.end());
    EXPECT_NE(
        std::find(lines.begin(), lines.end(), "   coupling ............................ =    1.00000 %"),
        lines.end());
}

} // namespace
} // namespace kestrune
