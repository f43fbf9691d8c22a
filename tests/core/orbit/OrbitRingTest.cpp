// The ring about the closed orbit and the aperture scans of a machine whose correctors kick.
#include "core/orbit/OrbitRing.h"

#include "CorrectorRing.h"
#include "core/orbit/SeedApertures.h"
#include "support/FakeMessages.h"

#include <cmath>
#include <gtest/gtest.h>

namespace kestrune {
namespace {

// The corrector ring with the geometry and the rf its mode emittances take.
State ringWithRf()
{
    State state = test::correctorRing(false);
    state.ringParams.circumference = state.line.length;
    state.ringParams.harmonicNumber = 100;
    state.rf.voltage = 1e6;
    return state;
}

// Every element raised by dy is the machine moved up as a whole (the bends turn in x alone): its closed
// orbit is y = dy at every element end with no slope, and about it the optics and the equilibrium are
// the design's to rounding, whatever the orbit module does with the element maps there. A kick that
// loses the particle leaves no orbit, and a machine without errors has nothing about an orbit.
TEST(OrbitRingTest, MachineRaisedAsAWholeHasTheDesignsRingAboutItsOrbit)
{
    const State design = ringWithRf();
    const OrbitOptics designOptics = orbitOptics(design);
    const ModeEmittances designModes = modeEmittances(design);
    ASSERT_TRUE(designOptics.computed && designModes.computed) << designModes.refusal;
    const struct
    {
        double dy, kick;
        bool applies, computed;
    } cases[] = {{0, 0, false, false}, {5e-4, 0, true, true}, {0, 0.5, true, false}};
    for (const auto& c : cases) {
        State machine = design;
        for (int i = 1; i <= machine.line.count; ++i)
            machine.line.at(i).errors.dy = c.dy;
        machine.line.at(1).hkick = c.kick;
        const OrbitRing ring = orbitRing(machine);
        EXPECT_EQ(ring.applies, c.applies) << c.dy;
        ASSERT_EQ(ring.computed, c.computed) << ring.refusal;
        if (c.applies && !c.computed) {
            EXPECT_EQ(orbitRingView(machine, ring).orbit.rfind("no closed orbit: ", 0), 0u) << ring.refusal;
        }
        if (!c.computed)
            continue;
        for (const PhaseVector& p : ring.optics.orbit.orbit) {
            EXPECT_NEAR(p.y, c.dy, 1e-12);
            EXPECT_NEAR(p.py, 0, 1e-12);
        }
        EXPECT_NEAR(ring.optics.tune1, designOptics.tune1, 1e-9);
        EXPECT_NEAR(ring.optics.tune2, designOptics.tune2, 1e-9);
        ASSERT_TRUE(ring.modes.computed) << ring.modes.refusal;
        for (std::size_t k : {0u, 2u})
            EXPECT_NEAR(*ring.modes.emittance[k], *designModes.emittance[k],
                        1e-8 * *designModes.emittance[k]);
        EXPECT_LT(std::fabs(ring.modes.emittance[1].value_or(0)), 1e-12 * *designModes.emittance[0]);
        EXPECT_TRUE(ring.chromaticity.computed) << ring.chromaticity.refusal;
    }
}

// The aperture window's ring: that of apertureRing without kicks; with a kick the scans run about the
// machine's closed orbit (the dynamic aperture's is the orbit found on its own); a kick that loses the
// particle is refused as the orbit is.
TEST(OrbitRingTest, ApertureScansOfAKickedMachineRunAboutItsClosedOrbit)
{
    const struct
    {
        double kick;
        bool scanned;
    } cases[] = {{0, true}, {2e-4, true}, {0.5, false}};
    for (const auto& c : cases) {
        State machine = ringWithRf();
        machine.line.at(1).hkick = c.kick;
        test::FakeMessages messages;
        const std::optional<ApertureRing> ring = apertureScanRing(machine, messages);
        ASSERT_EQ(ring.has_value(), c.scanned) << c.kick;
        if (!c.scanned) {
            ASSERT_EQ(messages.errors.size(), 1u);
            EXPECT_EQ(messages.errors[0], closedOrbit(machine).refusal);
            EXPECT_EQ(messages.errors[0].rfind("no closed orbit: ", 0), 0u);
            continue;
        }
        EXPECT_TRUE(messages.errors.empty()) << messages.errors.front();
        DynamicApertureSettings settings;
        settings.angles = 3;
        settings.turns = 10;
        settings.resolution = 1e-3;
        const DynamicAperture da = dynamicAperture(*ring, settings, ScanControl{});
        const ClosedOrbit orbit = closedOrbit(machine);
        ASSERT_TRUE(orbit.found) << orbit.refusal;
        EXPECT_NEAR(da.orbit.x, orbit.orbit.front().x, 1e-10);
        if (c.kick != 0) {
            EXPECT_GT(std::fabs(da.orbit.x), 1e-5);
        }
    }
}

} // namespace
} // namespace kestrune
