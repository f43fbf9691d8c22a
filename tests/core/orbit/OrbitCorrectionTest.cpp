#include "core/orbit/OrbitCorrection.h"

#include "core/orbit/ClosedOrbit.h"
#include "core/orbit/CorrectorRing.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>

namespace kestrune {
namespace {

using test::correctorRing;

TEST(OrbitCorrectionTest, CorrectionWithEveryKickerTakesTheOrbitAtTheMonitorsAway)
{
    State state = correctorRing(true);
    const ClosedOrbit before = closedOrbit(state);
    ASSERT_TRUE(before.found) << before.refusal;
    EXPECT_LT(before.iterations, 10);
    const OrbitCorrection c = correctOrbit(state);
    ASSERT_TRUE(c.done) << c.refusal;
    EXPECT_GT(c.rmsBeforeX, 1e-4);
    EXPECT_GT(c.rmsBeforeY, 1e-4);
    // as many kicker planes as readings: the orbit at the monitors goes to the rounding of the response
    EXPECT_LT(c.rmsAfterX, 1e-10);
    EXPECT_LT(c.rmsAfterY, 1e-10);
    EXPECT_EQ(c.used, 40);
    // a correction with fewer singular values leaves more, never less
    State fewer = correctorRing(true);
    const OrbitCorrection partial = correctOrbit(fewer, 5);
    ASSERT_TRUE(partial.done) << partial.refusal;
    EXPECT_GT(partial.rmsAfterX + partial.rmsAfterY, c.rmsAfterX + c.rmsAfterY);
}

} // namespace
} // namespace kestrune
