#include "core/LabelMask.h"

#include <gtest/gtest.h>

namespace kestrune {

TEST(LabelMask, OptionalDecimals)
{
    EXPECT_EQ(formatLabelMask(2.5, "##0.###"), "2.5");
    EXPECT_EQ(formatLabelMask(3, "##0.###"), "3");
    EXPECT_EQ(formatLabelMask(1234.5678, "##0.###"), "1234.568");
    EXPECT_EQ(formatLabelMask(0.0001, "##0.###"), "0");
    EXPECT_EQ(formatLabelMask(-0.0001, "##0.###"), "0");
    EXPECT_EQ(formatLabelMask(-3.25, "##0.###"), "-3.25");
    EXPECT_EQ(formatLabelMask(0.5, "##0.###"), "0.5");
}

TEST(LabelMask, RequiredDecimals)
{
    EXPECT_EQ(formatLabelMask(1, "##0.0#"), "1.0");
    EXPECT_EQ(formatLabelMask(1.234, "##0.0#"), "1.23");
    EXPECT_EQ(formatLabelMask(1.5, "##0.00"), "1.50");
    EXPECT_EQ(formatLabelMask(-0.25, "##0.00"), "-0.25");
}

TEST(LabelMask, NoDecimalsDropThePoint)
{
    EXPECT_EQ(formatLabelMask(720, "##0."), "720");
    EXPECT_EQ(formatLabelMask(12.6, "##0."), "13");
    EXPECT_EQ(formatLabelMask(0, "##0."), "0");
}

TEST(LabelMask, Scientific)
{
    EXPECT_EQ(formatLabelMask(1234, "0.0E+000"), "1.2E+003");
    EXPECT_EQ(formatLabelMask(0.00012, "0.0E+000"), "1.2E-004");
    EXPECT_EQ(formatLabelMask(9.96, "0.0E+000"), "1.0E+001");
    EXPECT_EQ(formatLabelMask(0, "0.0E+000"), "0.0E+000");
    EXPECT_EQ(formatLabelMask(-2.5e20, "0.0E+000"), "-2.5E+020");
    EXPECT_EQ(formatLabelMask(1e15, "0.0E+000"), "1.0E+015");
}

} // namespace kestrune
