#include "core/LabelMask.h"

#include <gtest/gtest.h>

namespace kestrune {
namespace {

TEST(LabelMask, OptionalDecimalsAreDroppedWhenZero)
{
    EXPECT_EQ(maskFormat(1.5, "##0.0###"), "1.5");
    EXPECT_EQ(maskFormat(2.0, "##0.0###"), "2.0");
    EXPECT_EQ(maskFormat(0.12345, "##0.0###"), "0.1235");
    EXPECT_EQ(maskFormat(0.25, "##0.0###"), "0.25");
    EXPECT_EQ(maskFormat(1234.5, "##0.0###"), "1234.5");
    EXPECT_EQ(maskFormat(-3.25, "##0.0###"), "-3.25");
}

TEST(LabelMask, FixedDecimals)
{
    EXPECT_EQ(maskFormat(12.0, "##0.0"), "12.0");
    EXPECT_EQ(maskFormat(12.34, "##0.0"), "12.3");
    EXPECT_EQ(maskFormat(0.04, "##0.0"), "0.0");
    EXPECT_EQ(maskFormat(-0.04, "##0.0"), "0.0");
    EXPECT_EQ(maskFormat(7.6, "##0"), "8");
}

} // namespace
} // namespace kestrune
