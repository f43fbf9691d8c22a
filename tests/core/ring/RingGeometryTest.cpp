#include "core/ring/RingGeometry.h"

#include "core/NumberInput.h"
#include "core/ring/RingLattices.h"
#include "support/FakeMessages.h"

#include <cmath>
#include <gtest/gtest.h>

namespace kestrune {
namespace {

using test::appendElement;

constexpr double kDegree = kPi / 180;

struct Geometry
{
    State state;
    test::FakeMessages messages;

    Geometry() { test::electronAt(state, 1e9); }

    // a cell of a drift and a sector bend of the given angle (deg) and length (m)
    void cell(double angleDeg, double bendLength = 2.0, double driftLength = 3.0)
    {
        appendElement(state, code::kDrift, driftLength);
        appendElement(state, code::kSectorBend, bendLength, angleDeg * kDegree / bendLength);
    }

    std::optional<GeometryView> run(const std::string& superPeriods, const std::string& rf = "500.0")
    {
        return ringGeometry(state, messages, {superPeriods, rf});
    }
};

TEST(RingGeometry, DeflectionAndLengthOfTheCell)
{
    Geometry g;
    g.cell(36, 2.0, 3.0);
    appendElement(g.state, code::kRectangularBend, 1.0, -0.01);
    EXPECT_NEAR(deflSup(g.state.line), 36 - 0.01 / kDegree, 1e-9);
    EXPECT_NEAR(lSup(g.state.line), 6.0, 1e-12);
}

TEST(RingGeometry, CellOf36DegreesFillsTenCellsAndCloses)
{
    Geometry g;
    g.cell(36);
    const auto view = g.run("");
    ASSERT_TRUE(view);
    EXPECT_EQ(view->superPeriods, "10");
    EXPECT_EQ(view->fullRing, "(full ring: 10 cells)");
    EXPECT_EQ(g.state.line.superPeriods, 10);
    EXPECT_EQ(view->totalDeflection, "now total defl.angle is  360.000 deg");
    EXPECT_NEAR(g.state.ringParams.totalDeflection, 360, 1e-9);
    // no closing question, only the harmonic one
    ASSERT_EQ(g.messages.questions.size(), 1u);
    EXPECT_EQ(g.messages.questions[0], "harmonic number is not yet integer. Adjust rf-frequency ?");
}

TEST(RingGeometry, ClosingStatesTheChangeAppliedAndLargeOnesDefaultToNo)
{
    const struct
    {
        double cellDeg;
        const char* cells;
        const char* percent; // the change of h that Yes applies: h / c - h over h
        bool defaultNo;
        const char* fullRing; // after the closing
    } cases[] = {
        {30, "11", "   9.091", false, "(full ring: 11 cells)"}, // 11 of 30 deg: h divided by 0.9167
        {30, "13", "  -7.692", false, "(full ring: 13 cells)"}, // 13 of 30 deg: h divided by 1.0833
        {30, "1", "1100.000", true, "(full ring: 1 cell)"},     // a full ring's cell as one superperiod
        {36.18, "10", "  -0.498", false, "(full ring: 10 cells)"},
        {27, "12", "  11.111", true, "(full ring: 12 cells)"},
    };
    for (const auto& c : cases) {
        Geometry g;
        g.cell(c.cellDeg);
        const double h = g.state.line.at(2).curvature;
        g.messages.answers = {true, false};
        const auto view = g.run(c.cells);
        ASSERT_TRUE(view) << c.cells;
        ASSERT_GE(g.messages.questions.size(), 1u);
        EXPECT_EQ(g.messages.questions[0],
                  std::string("To close ring, you may change all dipole strengths by ") + c.percent +
                      " % [Yes] or ... [No].");
        EXPECT_EQ(g.messages.defaultNo[0], c.defaultNo) << c.cells;
        const double applied = g.state.line.at(2).curvature / h - 1;
        EXPECT_NEAR(applied * 100, parseDouble(c.percent), 5e-4) << c.cells;
        EXPECT_EQ(view->fullRing, c.fullRing);
    }
}

TEST(RingGeometry, WithinAHundredthOfADegreeNoClosingQuestion)
{
    Geometry g;
    g.cell(36.0009); // 360.009 deg in ten cells
    g.messages.answers = {false};
    ASSERT_TRUE(g.run("10"));
    ASSERT_EQ(g.messages.questions.size(), 1u);
    EXPECT_EQ(g.messages.questions[0].rfind("harmonic number", 0), 0u);
    EXPECT_NEAR(g.state.line.at(2).curvature * 2.0, 36.0009 * kDegree, 1e-15);
}

TEST(RingGeometry, ClosingByCurvatureAsksWithTheScaleAndDividesEveryCurvature)
{
    Geometry g;
    g.cell(36.18); // 361.8 deg in ten cells
    appendElement(g.state, code::kRectangularBend, 1.0, 0.0);
    const double h = g.state.line.at(2).curvature;
    g.messages.answers = {true, true};
    ASSERT_TRUE(g.run("10"));
    ASSERT_GE(g.messages.questions.size(), 1u);
    EXPECT_EQ(g.messages.questions[0],
              "To close ring, you may change all dipole strengths by   -0.498 % [Yes] or ... [No].");
    EXPECT_NEAR(g.state.line.at(2).curvature, h / 1.005, 1e-15);
    EXPECT_NEAR(g.state.ringParams.totalDeflection, 360, 1e-9);
    EXPECT_TRUE(g.state.ringClosed);
}

TEST(RingGeometry, ClosingByBendLengthsChainsPositionsAndRectangularFacesFollow)
{
    Geometry g;
    appendElement(g.state, code::kDrift, 3.0);
    LatticeElement& rect = appendElement(g.state, code::kRectangularBend, 2.0, 36.18 * kDegree / 2.0);
    rect.ain = rect.aout = 36.18 * kDegree / 2;
    appendElement(g.state, code::kQuadrupole, 0.5, 0, 1.0);
    g.messages.answers = {false, true, true};
    ASSERT_TRUE(g.run("10"));
    ASSERT_GE(g.messages.questions.size(), 2u);
    EXPECT_EQ(g.messages.questions[1], "To close ring, you may change all dipole lengths by   -0.498 %");
    const LatticeElement& bend = g.state.line.at(2);
    EXPECT_NEAR(bend.length, 2.0 / 1.005, 1e-14);
    EXPECT_NEAR(bend.ain, 18.0 * kDegree, 1e-14); // half of the closed 36 deg
    EXPECT_NEAR(bend.aout, 18.0 * kDegree, 1e-14);
    EXPECT_NEAR(g.state.line.at(3).s, 3.0 + 2.0 / 1.005, 1e-14);
    EXPECT_NEAR(g.state.line.length, 3.5 + 2.0 / 1.005, 1e-14);
    EXPECT_NEAR(g.state.line.shape(3).x0, g.state.line.at(3).s, 1e-14);
    EXPECT_NEAR(g.state.ringParams.circumference, 10 * (3.5 + 2.0 / 1.005), 1e-12);
    EXPECT_TRUE(g.state.ringClosed);
}

TEST(RingGeometry, DecliningBothClosingsChangesNothing)
{
    Geometry g;
    g.cell(36.18);
    g.messages.answers = {false, false, false};
    ASSERT_TRUE(g.run("10"));
    EXPECT_NEAR(g.state.line.at(2).curvature * 2.0, 36.18 * kDegree, 1e-15);
    EXPECT_FALSE(g.state.ringClosed);
    EXPECT_EQ(g.state.ringElementCount, 0);
}

TEST(RingGeometry, HarmonicNumberAdjustedWithTheVelocityOfTheParticle)
{
    Geometry g;
    g.cell(36, 2.0, 8.0); // 10 m cells, C = 100 m
    const auto view = g.run("10", "500.0");
    ASSERT_TRUE(view);
    // beta of a 1 GeV electron moves f_rev in the 7th digit: h = 166.782 before the adjustment
    const double beta = g.state.beam.beta;
    EXPECT_NEAR(500e6 * 100 / (beta * kSpeedOfLight), 166.782, 5e-4);
    EXPECT_EQ(view->harmonic, "harmonic number is  167.000");
    EXPECT_EQ(view->rfFrequency, " 500.65334");
    EXPECT_NEAR(g.state.rf.frequency, 167 * beta * kSpeedOfLight / 100, 1e-3);
    EXPECT_NEAR(g.state.ringParams.revolutionFrequency, beta * kSpeedOfLight / 100, 1e-6);
    EXPECT_EQ(view->revolution, "revolution frequency =    2.99792 MHz");
    EXPECT_EQ(view->perfectRing, "perfect ring with integer harmonic number!");
    EXPECT_TRUE(view->perfect);
    EXPECT_TRUE(g.state.ringClosed);
}

TEST(RingGeometry, ProtonOfOneGeVGoesRoundAtItsOwnSpeed)
{
    Geometry g;
    selectProton(g.state.beam, g.state.electron);
    updateKinematics(g.state.beam, EnergyKind::Kinetic, 1e9);
    // beta of a 1 GeV (kinetic) proton: cp / E with E = 1 GeV + mc^2
    const double mc2 = g.state.beam.restEnergy;
    const double expectedBeta = std::sqrt(1 - std::pow(mc2 / (1e9 + mc2), 2));
    EXPECT_NEAR(g.state.beam.beta, 0.8750, 1e-3);
    EXPECT_NEAR(revolutionFrequency(g.state.beam.beta, 100), expectedBeta * kSpeedOfLight / 100, 1e-6);
    g.cell(36, 2.0, 8.0);
    g.messages.answers = {false};
    ASSERT_TRUE(g.run("10"));
    EXPECT_NEAR(g.state.ringParams.revolutionFrequency, expectedBeta * kSpeedOfLight / 100, 1e-6);
}

TEST(RingGeometry, DecliningTheAdjustmentLeavesAnOpenRing)
{
    Geometry g;
    g.cell(36, 2.0, 8.0);
    g.messages.answers = {false};
    const auto view = g.run("10", "500.0");
    ASSERT_TRUE(view);
    EXPECT_EQ(view->totalDeflection, "this is not a closed ring!");
    EXPECT_EQ(view->circumference, "tot. deflection angle =  360.000 deg");
    EXPECT_EQ(view->revolution, "revolution frequency = N/A");
    EXPECT_EQ(view->harmonic, "harmonic number = N/A");
    EXPECT_EQ(view->perfectRing, "");
    EXPECT_EQ(view->rfFrequency, " 500.00000");
}

TEST(RingGeometry, PerfectRingExpandsTheCellWithinTheTable)
{
    Geometry g;
    g.cell(36, 2.0, 8.0);
    ASSERT_TRUE(g.run("10", "500.0"));
    EXPECT_EQ(g.state.ringElementCount, 20);
    EXPECT_EQ(g.state.line.count, 2);
    EXPECT_NEAR(g.state.line.at(20).s + g.state.line.at(20).length, 100, 1e-12);
    EXPECT_EQ(g.state.line.at(19).code, code::kDrift);
}

TEST(RingGeometry, PerfectRingTooLargeForTheTableTakesTheExpansionMessage)
{
    Geometry g;
    for (int i = 0; i < 100000; ++i)
        appendElement(g.state, code::kDrift, 0.1);
    appendElement(g.state, code::kSectorBend, 1.0, 36 * kDegree);
    g.messages.answers = {true};
    ASSERT_TRUE(g.run("10"));
    EXPECT_TRUE(g.state.ringClosed);
    EXPECT_EQ(g.state.ringElementCount, 100001);
    ASSERT_EQ(g.messages.errors.size(), 1u);
    EXPECT_EQ(g.messages.errors[0], "cannot expand: beam line would exceed max of1000000 elements!");
}

TEST(RingGeometry, CellWithoutDeflectionHasNoFullRingCountAndAsksNothing)
{
    Geometry g;
    appendElement(g.state, code::kDrift, 5.0);
    const auto view = g.run("");
    ASSERT_TRUE(view);
    EXPECT_EQ(view->fullRing, "");
    EXPECT_EQ(view->superPeriods, "1");
    EXPECT_FALSE(g.state.ringClosed);
    EXPECT_EQ(view->totalDeflection, "this is not a closed ring!");
    for (const std::string& q : g.messages.questions)
        EXPECT_EQ(q.find("To close ring"), std::string::npos);
    EXPECT_EQ(g.state.line.at(1).length, 5.0);
}

TEST(RingGeometry, NegativeDeflectionClosesByItsMagnitude)
{
    Geometry g;
    g.cell(-36, 2.0, 8.0);
    const auto view = g.run("");
    ASSERT_TRUE(view);
    EXPECT_EQ(view->superPeriods, "10");
    EXPECT_TRUE(g.state.ringClosed);
    for (const std::string& q : g.messages.questions)
        EXPECT_EQ(q.find("To close ring"), std::string::npos);
    EXPECT_NEAR(g.state.ringParams.totalDeflection, -360, 1e-9);
}

TEST(RingGeometry, RefusalsLeaveEverythingAsItWas)
{
    Geometry g;
    g.cell(36.18);
    const State before = g.state;
    EXPECT_FALSE(g.run("0"));
    EXPECT_FALSE(g.run("-3"));
    EXPECT_FALSE(g.run("10", "0"));
    EXPECT_FALSE(g.run("10", "-500"));
    EXPECT_THROW(g.run("ten"), ConversionError);
    EXPECT_THROW(g.run("10", "5OO"), ConversionError);
    ASSERT_EQ(g.messages.errors.size(), 4u);
    EXPECT_EQ(g.messages.errors[0], "the number of superperiods must be at least 1!");
    EXPECT_EQ(g.messages.errors[2], "the rf frequency must be above 0 MHz!");
    EXPECT_TRUE(g.messages.questions.empty());
    EXPECT_EQ(g.state.line.superPeriods, before.line.superPeriods);
    EXPECT_EQ(g.state.line.at(2).curvature, before.line.at(2).curvature);

    Geometry empty;
    EXPECT_FALSE(empty.run("1"));
    ASSERT_EQ(empty.messages.errors.size(), 1u);
    EXPECT_EQ(empty.messages.errors[0], "the ring has no circumference: define a beam line first!");
}

TEST(RingGeometry, RfFrequencyOfTheStateIsTakenBeforeTheBox)
{
    Geometry g;
    g.cell(36, 2.0, 8.0);
    g.state.rf.frequency = 499.654e6;
    g.messages.answers = {false};
    const auto view = g.run("10", "123.0");
    ASSERT_TRUE(view);
    EXPECT_NEAR(g.state.ringParams.harmonicNumber, 499.654e6 / g.state.ringParams.revolutionFrequency, 1e-9);
}

TEST(RingGeometry, StoredRfFrequencyKeepsItsDigitsBehindTheRoundedBox)
{
    Geometry g;
    g.cell(36, 2.0, 8.0);
    const double stored = 499.654096666667e6;
    g.state.rf.frequency = stored;
    g.messages.answers = {false, false};
    const auto view = g.run("10", "499.65410");
    ASSERT_TRUE(view);
    EXPECT_EQ(view->rfFrequency, " 499.65410");
    EXPECT_EQ(g.state.rf.frequency, stored);
    EXPECT_EQ(g.state.ringParams.harmonicNumber, stored / g.state.ringParams.revolutionFrequency);
    // "study full ring?" with the box as shown keeps it; an edited box is taken
    ASSERT_TRUE(studyFullRing(g.state, g.messages, {"10", view->rfFrequency}));
    EXPECT_EQ(g.state.rf.frequency, stored);
    g.messages.answers = {false, false};
    ASSERT_TRUE(studyFullRing(g.state, g.messages, {"10", "499.65411"}));
    EXPECT_NEAR(g.state.rf.frequency, 499.65411e6, 1e-4);
}

TEST(RingFullRing, ExpandsTheCellWithChainedPositions)
{
    Geometry g;
    g.cell(36, 2.0, 8.0);
    const auto view = studyFullRing(g.state, g.messages, {"10", "500.0"});
    ASSERT_TRUE(view);
    EXPECT_EQ(g.state.ringElementCount, 20);
    for (int i = 2; i <= 20; ++i)
        EXPECT_NEAR(g.state.line.at(i).s, g.state.line.at(i - 1).s + g.state.line.at(i - 1).length, 1e-12);
    EXPECT_EQ(g.state.line.count, 2);
}

TEST(RingFullRing, TakesTheTypedRfFrequency)
{
    Geometry g;
    g.cell(36, 2.0, 8.0);
    g.state.rf.frequency = 499.654e6;
    g.messages.answers = {false};
    ASSERT_TRUE(studyFullRing(g.state, g.messages, {"10", "300.0"}));
    EXPECT_NEAR(g.state.rf.frequency, 300e6, 1e-3);
}

TEST(RingFullRing, AFifthOfTheLimitInFiveCellsCannotExpand)
{
    constexpr int kCell = kMaxLineElements / 5;
    Geometry g;
    for (int i = 1; i < kCell; ++i)
        appendElement(g.state, code::kDrift, 0.1);
    appendElement(g.state, code::kSectorBend, 1.0, 72 * kDegree);
    g.messages.answers = {true};
    EXPECT_TRUE(expandToFullRing(g.state, 4, g.messages)); // four fifths of the limit fit
    EXPECT_EQ(g.state.ringElementCount, 4 * kCell);
    EXPECT_FALSE(expandToFullRing(g.state, 5, g.messages));
    ASSERT_EQ(g.messages.errors.size(), 1u);
    EXPECT_EQ(g.messages.errors[0], "cannot expand: beam line would exceed max of1000000 elements!");
    EXPECT_EQ(g.state.ringElementCount, kCell);
}

TEST(RingFullRing, EmptyLineAsksForABeamLine)
{
    Geometry g;
    EXPECT_FALSE(expandToFullRing(g.state, 3, g.messages));
    ASSERT_EQ(g.messages.errors.size(), 1u);
    EXPECT_EQ(g.messages.errors[0], "define a beam line first!");
}

TEST(RingSuperperiod, StudyOfOneCellOpensTheRing)
{
    Geometry g;
    g.cell(36, 2.0, 8.0);
    ASSERT_TRUE(g.run("10"));
    ASSERT_TRUE(g.state.ringClosed);
    const GeometryView view = studySuperperiod(g.state);
    EXPECT_FALSE(g.state.ringClosed);
    EXPECT_EQ(g.state.ringElementCount, 2);
    EXPECT_EQ(view.superPeriods, "1");
    EXPECT_EQ(view.circumference, "superperiod length=   10.000 m");
    EXPECT_EQ(view.totalDeflection, "deflection/superperiod=   36.000 degrees");
    EXPECT_EQ(view.perfectRing, "this is not a perfect ring!");
}

} // namespace
} // namespace kestrune
