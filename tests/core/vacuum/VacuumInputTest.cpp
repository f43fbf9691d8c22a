#include "core/vacuum/VacuumInput.h"

#include "core/NumberInput.h"
#include "support/FakeMessages.h"

#include <gtest/gtest.h>

namespace kestrune {
namespace {

TEST(VacuumInput, WindowTextsGiveTheDefaults)
{
    VacuumBoxes boxes;
    test::FakeMessages messages;
    const auto input = readVacuumInput(boxes, messages);
    ASSERT_TRUE(input);
    EXPECT_EQ(input->steps, 2000);
    EXPECT_EQ(input->iterations, 100);
    EXPECT_DOUBLE_EQ(input->chamberRadius, 0.03);
    EXPECT_DOUBLE_EQ(input->thermalDesorption, 1e-12);
    EXPECT_DOUBLE_EQ(input->photodesorptionYield, 1e-6);
    EXPECT_TRUE(messages.errors.empty());
}

TEST(VacuumInput, EmptyBoxesTakeTheirDefaultsAndShowThem)
{
    VacuumBoxes boxes{"", " ", "", "", ""};
    test::FakeMessages messages;
    const auto input = readVacuumInput(boxes, messages);
    ASSERT_TRUE(input);
    EXPECT_EQ(input->steps, 2000);
    EXPECT_EQ(boxes.steps, "2000");
    EXPECT_EQ(input->iterations, 100);
    EXPECT_EQ(boxes.iterations, "100");
    EXPECT_DOUBLE_EQ(input->chamberRadius, 0.03);
    EXPECT_EQ(boxes.radiusCm, "3");
    EXPECT_DOUBLE_EQ(input->thermalDesorption, 1e-12);
    EXPECT_EQ(boxes.thermal, "1E-12");
    EXPECT_DOUBLE_EQ(input->photodesorptionYield, 1e-6);
    EXPECT_EQ(boxes.yield, "1E-6");
}

TEST(VacuumInput, StepAndIterationCountsAreCutToTenThousand)
{
    VacuumBoxes boxes;
    boxes.steps = "12000";
    boxes.iterations = "2147483647";
    test::FakeMessages messages;
    const auto input = readVacuumInput(boxes, messages);
    ASSERT_TRUE(input);
    EXPECT_EQ(input->steps, 10000);
    EXPECT_EQ(boxes.steps, "10000");
    EXPECT_EQ(input->iterations, 10000);
    EXPECT_EQ(boxes.iterations, "10000");
}

TEST(VacuumInput, TextThatIsNoNumberRaisesTheConversionError)
{
    VacuumBoxes boxes;
    boxes.radiusCm = "3,0";
    test::FakeMessages messages;
    try {
        readVacuumInput(boxes, messages);
        FAIL() << "no conversion error";
    } catch (const ConversionError& e) {
        EXPECT_STREQ(e.what(), "chamber radius, cm: '3,0' is not a valid floating point value");
    }
    boxes.radiusCm = "3.0";
    boxes.steps = "2000.5";
    EXPECT_THROW(readVacuumInput(boxes, messages), ConversionError);
}

TEST(VacuumInput, ValuesOutsideTheirDomainAreRefusedNamingTheBox)
{
    const struct
    {
        VacuumBoxes boxes;
        const char* message;
    } cases[] = {
        {{"0", "100", "3.0", "1e-12", "1e-6"}, "# of steps along beam line must be at least 1!"},
        {{"2000", "-1", "3.0", "1e-12", "1e-6"}, "# of iterations must be at least 1!"},
        {{"2000", "100", "0", "1e-12", "1e-6"}, "the chamber radius must be larger than 0 cm!"},
        {{"2000", "100", "-2", "1e-12", "1e-6"}, "the chamber radius must be larger than 0 cm!"},
        {{"2000", "100", "3", "-1e-12", "1e-6"}, "the thermal desorption coefficient must not be negative!"},
        {{"2000", "100", "3", "1e-12", "-1e-6"}, "the photodesorption yield eta must not be negative!"},
        {{"2000", "100", "1e308", "1e-12", "1e-6"}, "the chamber radius must be at most 1000 cm!"},
        {{"2000", "100", "3", "1e308", "1e-6"},
         "the thermal desorption coefficient must be at most 0.001 Torr l/s/cm^2!"},
        {{"2000", "100", "3", "1e-12", "1e308"}, "the photodesorption yield eta must be at most 10!"},
    };
    for (auto c : cases) {
        test::FakeMessages messages;
        EXPECT_FALSE(readVacuumInput(c.boxes, messages));
        ASSERT_EQ(messages.errors.size(), 1u);
        EXPECT_EQ(messages.errors[0], c.message);
    }
}

} // namespace
} // namespace kestrune
