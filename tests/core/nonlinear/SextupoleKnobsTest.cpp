// The knob's cache: a step that keeps what the linear lattice gave, and starts its momentum scan from the
// orbits of the step before, gives what a step from nothing gives.
#include "core/nonlinear/SextupoleKnobs.h"

#include "support/ExampleLattice.h"

#include <cmath>
#include <functional>

namespace kestrune {
namespace {

// The DBA cell with an octupole in the arc, changed step by step: the sextupoles (the cache kept), the
// octupole's k3 (kept: no linear effect), a quadrupole (made again). Newton's tolerance of 1e-12 and the
// Jacobian's rounding leave about 1e-10 in the ring's tunes.
TEST(SextupoleKnobs, StepsFromTheCacheAreStepsFromNothing)
{
    State state = test::exampleState("dba-cell.lat");
    state.line.at(9).code = code::kOctupole;
    state.line.at(9).k3 = 200;
    test::FakeMessages messages;
    const std::vector<SextupoleFamily> families = familiesByName(state.line);
    ASSERT_EQ(families.size(), 2u);
    const ChromaticScan scan;
    KnobCache cache;
    const KnobOptics first = knobOptics(state, scan, cache);
    ASSERT_TRUE(first.tunes.has_value()) << first.tunesRefusal;
    const struct
    {
        const char* name;
        std::function<void()> change;
    } steps[] = {
        {"SF", [&] { setFamilyStrength(state, families[1], 27, messages); }},
        {"SD", [&] { setFamilyStrength(state, families[0], -33, messages); }},
        {"octupole", [&] { state.line.at(9).k3 = -150; }},
        {"quadrupole", [&] { state.line.at(3).k = 2.35; }},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.name);
        step.change();
        KnobCache fresh;
        const KnobOptics a = knobOptics(state, scan, cache), b = knobOptics(state, scan, fresh);
        ASSERT_TRUE(a.terms && b.terms && a.detuning && b.detuning && a.tunes && b.tunes);
        EXPECT_NEAR(a.chromaticityX, b.chromaticityX, 1e-12);
        EXPECT_NEAR(a.chromaticityY, b.chromaticityY, 1e-12);
        EXPECT_LT(std::abs((*a.terms)[DrivingTerm::H21000] - (*b.terms)[DrivingTerm::H21000]), 1e-12);
        EXPECT_NEAR(a.detuning->xx, b.detuning->xx, 1e-9 * std::fabs(b.detuning->xx));
        EXPECT_NEAR(a.detuning->yy, b.detuning->yy, 1e-9 * std::fabs(b.detuning->yy));
        for (std::size_t k = 0; k < a.tunes->tuneX.size(); ++k) {
            EXPECT_NEAR(a.tunes->tuneX[k], b.tunes->tuneX[k], 1e-9);
            EXPECT_NEAR(a.tunes->tuneY[k], b.tunes->tuneY[k], 1e-9);
        }
    }
    EXPECT_TRUE(messages.errors.empty());
}

} // namespace
} // namespace kestrune
