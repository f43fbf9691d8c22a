#include "core/rf/ChartLimits.h"

#include <gtest/gtest.h>

namespace kestrune {

TEST(ChartLimits, MinimumAboveMaximumStretchesTheMaximum)
{
    const ManualAxis axis = manualAxis(2, 1, 0.5, false);
    ASSERT_EQ(axis.change, AxisChange::Apply);
    EXPECT_EQ(axis.min, 2);
    EXPECT_NEAR(axis.max, 2.2, 1e-12);
    EXPECT_EQ(axis.step, 0.5);
}

TEST(ChartLimits, AxisIsKeptWithoutARange)
{
    EXPECT_EQ(manualAxis(-1, 0, 0.1, false).change, AxisChange::Keep); // maximum 0
    EXPECT_EQ(manualAxis(3, 3, 0.1, false).change, AxisChange::Keep);
    // a negative minimum above the maximum: 1.1 times it lies below it
    EXPECT_EQ(manualAxis(-2, -3, 0.1, false).change, AxisChange::Keep);
}

TEST(ChartLimits, IncrementsThatGiveNoTicksAreRefused)
{
    EXPECT_EQ(manualAxis(0, 10, 0, false).change, AxisChange::Refused);
    EXPECT_EQ(manualAxis(0, 10, -1, false).change, AxisChange::Refused);
    const ManualAxis fine = manualAxis(0, 10, 1e-4, false);
    EXPECT_EQ(fine.change, AxisChange::Refused);
    EXPECT_EQ(fine.refusal, "the increment must be above 0 and give at most 1000 ticks!");
    EXPECT_EQ(manualAxis(0, 10, 0.01, false).change, AxisChange::Apply);
}

TEST(ChartLimits, LogarithmicAxesNeedAPositiveMinimum)
{
    const ManualAxis zero = manualAxis(0, 10, 1, true);
    EXPECT_EQ(zero.change, AxisChange::Refused);
    EXPECT_EQ(zero.refusal, "a logarithmic axis needs a minimum above 0!");
    // the increment does not matter on a logarithmic axis
    EXPECT_EQ(manualAxis(0.1, 10, 0, true).change, AxisChange::Apply);
}

} // namespace kestrune
