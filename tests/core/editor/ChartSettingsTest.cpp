#include "core/editor/ChartSettings.h"

#include <gtest/gtest.h>

namespace kestrune {
namespace {

TEST(ChartSettings, NotPeriodicLineNamesWhatFailed)
{
    RunSettings run;
    run.periodicStable = true;
    EXPECT_EQ(notPeriodicLine(run, true), "");
    EXPECT_EQ(notPeriodicLine(run, false), "not periodic: no dispersion solution, eta from 0");
    run.periodicStable = false; // the betatron functions fail first, whatever the dispersion did
    EXPECT_EQ(notPeriodicLine(run, true), "not periodic: unstable cell, curves from previous values");
    EXPECT_EQ(notPeriodicLine(run, false), "not periodic: unstable cell, curves from previous values");
}

} // namespace
} // namespace kestrune
