#include "core/editor/Tuning.h"

#include <gtest/gtest.h>

using namespace kestrune;

namespace {

State twoQuadrupoles()
{
    State state;
    state.line.count = 2;
    for (int i = 1; i <= 2; ++i) {
        state.line.at(i).code = code::kQuadrupole;
        state.line.at(i).length = 0.2;
    }
    state.line.at(1).name = "QF";
    state.line.at(1).k = 2.0;
    state.line.at(2).name = "QD";
    state.line.at(2).k = -1.5;
    state.line.chainPositions();
    return state;
}

} // namespace

TEST(Tuning, ValueTextIsFixedWithFiveSignificantDigits)
{
    EXPECT_EQ(tuneText(2.208), "2.208");
    EXPECT_EQ(tuneText(2.2), "2.200");
    EXPECT_EQ(tuneText(12.34567), "12.346");
    EXPECT_EQ(tuneText(-12.34567), "-12.346");
    EXPECT_EQ(tuneText(123.4567), "123.460");
    EXPECT_EQ(tuneText(12345.678), "12346.000");
    EXPECT_EQ(tuneText(99.99996), "100.000");
    EXPECT_EQ(tuneText(123456.0), "1.2346E5");
    EXPECT_EQ(tuneText(200000.0), "2E5");
    EXPECT_EQ(tuneText(0.0004), "0.000");
    EXPECT_EQ(tuneText(-0.0004), "0.000");
    EXPECT_EQ(tuneText(0.0), "0.000");
}

TEST(Tuning, CoarseFineAndRestore)
{
    State state = twoQuadrupoles();
    TuningState tuning;
    TuningView view = startTuning(state, tuning, 1);
    EXPECT_EQ(view.label, "scrolled strength for magnet QF is: ");
    EXPECT_EQ(view.valueText, "2");
    EXPECT_EQ(view.position, 0);
    EXPECT_TRUE(tuning.open);

    view = scrollTo(state, tuning, 10, false);
    EXPECT_NEAR(state.line.at(1).k, 2.2, 1e-12);
    EXPECT_EQ(view.valueText, "2.200");
    EXPECT_EQ(view.label, "scrolled strength for magnet QF is: ");

    leaveBar(tuning);
    view = scrollTo(state, tuning, 20, true);
    EXPECT_NEAR(state.line.at(1).k, 2.208, 1e-12);
    EXPECT_EQ(view.valueText, "2.208");
    EXPECT_EQ(view.position, 20);

    view = restoreOriginal(state, tuning);
    EXPECT_EQ(state.line.at(1).k, 2.0);
    EXPECT_EQ(view.position, 0);
    EXPECT_EQ(view.valueText, "2.000");
    // the bar starts again from the start value
    scrollTo(state, tuning, -10, false);
    EXPECT_NEAR(state.line.at(1).k, 1.8, 1e-12);
    EXPECT_EQ(state.line.at(2).k, -1.5);
}

TEST(Tuning, ResetScrollBarOnlyBeyondForty)
{
    State state = twoQuadrupoles();
    TuningState tuning;
    startTuning(state, tuning, 1);
    TuningView view;
    scrollTo(state, tuning, 40, false);
    EXPECT_FALSE(resetScrollBar(tuning, view));
    EXPECT_EQ(tuning.position, 40);
    EXPECT_EQ(tuning.tuneBase, 2.0);

    scrollTo(state, tuning, 45, false);
    EXPECT_NEAR(state.line.at(1).k, 2.9, 1e-12);
    ASSERT_TRUE(resetScrollBar(tuning, view));
    EXPECT_EQ(view.position, 0);
    EXPECT_EQ(view.valueText, "2.900");
    EXPECT_NEAR(state.line.at(1).k, 2.9, 1e-12);
    scrollTo(state, tuning, 10, false);
    EXPECT_NEAR(state.line.at(1).k, 3.1, 1e-12); // one step is still 1 % of the start value

    scrollTo(state, tuning, -41, false);
    EXPECT_TRUE(resetScrollBar(tuning, view));
    // the bar's travel stops at its ends
    scrollTo(state, tuning, 80, false);
    EXPECT_EQ(tuning.position, 50);
}

TEST(Tuning, LeavingTheBarBeforeMovingItKeepsTheStartValue)
{
    State state = twoQuadrupoles();
    TuningState tuning;
    tuning.tuneValue = 7.0; // left from an earlier tuning
    startTuning(state, tuning, 1);
    leaveBar(tuning);
    scrollTo(state, tuning, 5, false);
    EXPECT_NEAR(state.line.at(1).k, 2.1, 1e-12);
}

TEST(Tuning, ClickOnAnotherElementRestartsOpenTuning)
{
    State state = twoQuadrupoles();
    TuningState tuning;
    TuningView view;
    EXPECT_FALSE(elementClicked(state, tuning, 2, view));
    EXPECT_EQ(tuning.tuneStartValue, -1.5);
    EXPECT_FALSE(tuning.open);

    startTuning(state, tuning, 1);
    scrollTo(state, tuning, 10, false);
    ASSERT_TRUE(elementClicked(state, tuning, 2, view));
    EXPECT_EQ(view.label, "scrolled strength for magnet QD is: ");
    EXPECT_EQ(view.position, 0);
    EXPECT_EQ(tuning.tuneBase, -1.5);
    scrollTo(state, tuning, 10, false);
    EXPECT_NEAR(state.line.at(2).k, -1.65, 1e-12);
    EXPECT_NEAR(state.line.at(1).k, 2.2, 1e-12); // the tuned value stays with the first one

    abortTuning(tuning);
    EXPECT_FALSE(tuning.open);
    EXPECT_NEAR(state.line.at(2).k, -1.65, 1e-12);
}
