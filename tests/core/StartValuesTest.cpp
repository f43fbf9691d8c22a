#include "core/StartValues.h"

#include <cmath>
#include <gtest/gtest.h>

namespace kestrune {
namespace {

TEST(StartValues, TheProgramStartsWithAnOpenRingOfOneGevElectrons)
{
    State state;
    state.line.count = 3;
    state.line.superPeriods = 12;
    state.ringClosed = true;
    setStartValues(state);
    EXPECT_EQ(state.beam.name, "electron");
    EXPECT_EQ(state.beam.restEnergy, 511000.0); // the rounded value the windows have always started from
    EXPECT_NEAR(state.beam.momentum, 1e9, 1e-6);
    EXPECT_NEAR(state.beam.referenceMomentum, 1e9, 1e-6);
    EXPECT_NEAR(state.beam.gamma, std::hypot(1e9, 511000.0) / 511000.0, 1e-9);
    EXPECT_EQ(state.line.count, 0);
    EXPECT_EQ(state.line.superPeriods, 1);
    EXPECT_FALSE(state.ringClosed);
    EXPECT_EQ(state.ringParams.coupling, 0.01);
    EXPECT_EQ(state.beamCurrent, 0.1);
    EXPECT_EQ(state.rf.voltage, 1e6);
    EXPECT_EQ(state.rf.power, 1e5);
}

} // namespace
} // namespace kestrune
