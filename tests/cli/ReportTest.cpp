#include "cli/Report.h"

#include "cli/BatchLists.h"
#include "cli/BatchSettings.h"
#include "cli/NonlinearReport.h"
#include "core/Kinematics.h"
#include "core/io/LatticeFile.h"
#include "support/ExampleLattice.h"
#include "support/FakeMessages.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

namespace kestrune {
namespace {

/// A cell of one quadrupole and one drift: the quadrupole focuses one plane and defocuses the other.
State quadrupoleAndDrift(double k)
{
    State state;
    startParticle(state);
    state.line.makeFreshTable();
    state.line.count = 2;
    state.line.at(1) = {"Q", code::kQuadrupole, 0, 0.2, 0, 0, 0, 0, k, 0, 0, 0, 0, 0};
    state.line.at(2) = {"D", code::kDrift, 0, 2.0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    state.line.chainPositions();
    return state;
}

TEST(Report, NumbersThatAreNotFiniteBecomeNull)
{
    EXPECT_TRUE(reportNumber(std::numeric_limits<double>::quiet_NaN()).is_null());
    EXPECT_TRUE(reportNumber(-std::numeric_limits<double>::infinity()).is_null());
    EXPECT_EQ(reportNumber(0.1).get<double>(), 0.1); // full precision, no rounding on the way
}

TEST(Report, PeriodicTunesAgreeWithTheOnePeriodMatrix)
{
    // the ring pass accumulates the phase slice by slice; the one-period matrix gives it at once
    const State state = test::exampleState("fodo-cell.lat");
    StderrMessages messages;
    const Json periodic = periodicSection(state, messages);
    ASSERT_TRUE(periodic.is_object());
    EXPECT_TRUE(periodic["stable"].get<bool>());
    State cell = state;
    test::FakeMessages fake;
    ASSERT_TRUE(startFromPeriodicSolution(cell, fake));
    const auto& m = cell.matrix.m;
    const double muX = std::acos((m[0][0] + m[1][1]) / 2) / (2 * kPi);
    const double muY = std::acos((m[2][2] + m[3][3]) / 2) / (2 * kPi);
    EXPECT_NEAR(periodic["tune_x"].get<double>(), state.line.superPeriods * muX, 1e-9);
    EXPECT_NEAR(periodic["tune_y"].get<double>(), state.line.superPeriods * muY, 1e-9);
    EXPECT_NEAR(periodic["beta_x_m"].get<double>(), cell.run.betaX0, 1e-12);
    const Json nonlinear = nonlinearSection(state);
    EXPECT_EQ(nonlinear["driving_terms"].size(), 10u);
    EXPECT_NEAR(nonlinear["chromatic_fit"]["qx_coefficients"][0].get<double>(),
                periodic["tune_x"].get<double>(), 1e-8);
    EXPECT_TRUE(messages.shown().empty());
}

TEST(Report, CellsWithoutAPeriodicSolution)
{
    StderrMessages unstableMessages;
    const Json unstable = periodicSection(quadrupoleAndDrift(8.0), unstableMessages);
    ASSERT_TRUE(unstable.is_object());
    EXPECT_FALSE(unstable["stable"].get<bool>());
    EXPECT_TRUE(unstable["beta_x_m"].is_null());
    EXPECT_TRUE(unstable["tune_y"].is_null());
    EXPECT_TRUE(unstable["eta_x_m"].is_number()); // the dispersion still solves
    ASSERT_EQ(unstableMessages.shown().size(), 1u);
    EXPECT_EQ(unstableMessages.shown()[0], "no periodic solution for at least one beta-function!");
    const Json nonlinear = nonlinearSection(quadrupoleAndDrift(8.0));
    EXPECT_TRUE(nonlinear["driving_terms"].is_null() && nonlinear["chromatic_fit"].is_null());
    EXPECT_EQ(nonlinear["message"], "no periodic solution for at least one beta-function!");

    State drift = quadrupoleAndDrift(0.0);
    drift.line.count = 1;
    drift.line.at(1).code = code::kDrift;
    StderrMessages driftMessages;
    EXPECT_TRUE(periodicSection(drift, driftMessages).is_null());
    ASSERT_FALSE(driftMessages.shown().empty());
    EXPECT_EQ(driftMessages.shown().back(), "no solution for eta-function! ");
}

TEST(Report, LineFromThePeriodicSolutionEndsWhereItStarted)
{
    State state = test::exampleState("dba-cell.lat");
    state.run.betaX0 = 3; // start values that are not periodic
    state.run.alphaX0 = 1;
    test::FakeMessages fake;
    ASSERT_TRUE(startFromPeriodicSolution(state, fake));
    StderrMessages messages;
    const Json line = lineSection(state, messages);
    EXPECT_EQ(line["element_count"].get<int>(), 30);
    EXPECT_NEAR(line["length_m"].get<double>(), 15.3, 1e-12);
    EXPECT_NEAR(line["end"]["beta_x_m"].get<double>(), state.run.betaX0, 1e-9);
    EXPECT_NEAR(line["end"]["alpha_y"].get<double>(), state.run.alphaY0, 1e-9);
    const Json& m = line["total_matrix"];
    ASSERT_EQ(m.size(), 6u);
    ASSERT_EQ(m[0].size(), 6u);
    const double det =
        m[0][0].get<double>() * m[1][1].get<double>() - m[0][1].get<double>() * m[1][0].get<double>();
    EXPECT_NEAR(det, 1.0, 1e-12);
}

TEST(Report, PeriodicStartRefusedForAnUnstableCellKeepsTheStartValues)
{
    State state = quadrupoleAndDrift(8.0);
    state.run.betaX0 = 7;
    test::FakeMessages messages;
    EXPECT_FALSE(startFromPeriodicSolution(state, messages));
    EXPECT_EQ(state.run.betaX0, 7);
    ASSERT_FALSE(messages.errors.empty());
    EXPECT_EQ(messages.errors.back(), "--periodic: the cell has no periodic solution");
}

TEST(BatchSettings, NamesTakeTheTextAsTheBoxWould)
{
    State state;
    BatchInputs inputs;
    applySetting(state, inputs, "beam.current_ma= 250 ");
    EXPECT_DOUBLE_EQ(state.beamCurrent, 0.25);
    applySetting(state, inputs, "ring.superperiods=12");
    EXPECT_EQ(state.line.superPeriods, 12);
    applySetting(state, inputs, "ring.rf_frequency_mhz=499.654");
    EXPECT_DOUBLE_EQ(state.rf.frequency, 499.654e6);
    applySetting(state, inputs, "beam.coupling_percent=2");
    EXPECT_DOUBLE_EQ(inputs.couplingPercent, 2.0);

    const auto refused = [&](const std::string& assignment, const std::string& text) {
        try {
            applySetting(state, inputs, assignment);
            ADD_FAILURE() << assignment << " was taken";
        } catch (const BatchUsageError& e) {
            EXPECT_EQ(std::string(e.what()), text);
        }
    };
    refused("beam.current_ma=-1", "--set beam.current_ma: the beam current must not be negative!");
    refused("ring.rf_frequency_mhz=0", "--set ring.rf_frequency_mhz: the rf frequency must be above 0 MHz!");
    refused("ring.superperiods=", "--set ring.superperiods: '' is not a valid integer value");
    refused("rf.voltage=1", "--set: unknown name 'rf.voltage' (--help lists the names)");
    EXPECT_EQ(state.line.superPeriods, 12); // refused values leave what was set
    EXPECT_DOUBLE_EQ(state.beamCurrent, 0.25);
}

} // namespace
} // namespace kestrune
