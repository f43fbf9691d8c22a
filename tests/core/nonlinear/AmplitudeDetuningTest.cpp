// The tracked amplitude detuning against the closed forms of the first-order octupole terms.
#include "core/nonlinear/AmplitudeDetuning.h"

#include "core/aperture/ApertureRings.h"
#include "core/chromaticity/TestRings.h"
#include "core/tracking/Detuning.h"
#include "core/tracking/TrackingRings.h"

#include <cmath>

namespace kestrune {
namespace {

// Two drifts of the linear DBA cell become octupoles (one in the straight, one in the arc): the
// tracker's slopes are octupoleDetuning's ring integrals within 0.1 % (the rest is of second order in k3).
TEST(AmplitudeDetuning, TrackedIsTheOctupolesFirstOrderTerm)
{
    State cell = test::dbaState(0);
    for (const int i : {1, 13}) {
        cell.line.at(i).code = code::kOctupole;
        cell.line.at(i).k3 = 400;
    }
    State optics = cell;
    test::FakeMessages messages;
    const std::optional<OctupoleDetuning> formula = octupoleDetuning(optics, messages);
    ASSERT_TRUE(formula.has_value());
    std::string refusal;
    const std::optional<DetuningCoefficients> tracked = trackedDetuning(cell, {}, &refusal);
    ASSERT_TRUE(tracked.has_value()) << refusal;
    EXPECT_NEAR(tracked->xx, formula->xx, 0.001 * std::fabs(formula->xx));
    EXPECT_NEAR(tracked->xy, formula->xy, 0.001 * std::fabs(formula->xy));
    EXPECT_NEAR(tracked->yy, formula->yy, 0.001 * std::fabs(formula->yy));
}

// Ten FODO cells of 4 m without bends, two thick sextupoles of opposite sign at different phases
// (tunes 2.29, 1.91, away from the resonances of the terms): the tracker has no other nonlinearity than
// the sextupoles and the exact drifts' kinematic terms, which are far smaller.
State fodoSextupoles(int superPeriods)
{
    State state;
    startParticle(state);
    updateKinematics(state.beam, EnergyKind::Momentum, 1e9);
    const auto add = [&state](int elementCode, double length, double k = 0) -> LatticeElement& {
        LatticeElement& e = test::append(state, elementCode, length);
        e.k = k;
        return e;
    };
    const int cells = 10 / superPeriods;
    for (int cell = 0; cell < cells; ++cell) {
        add(code::kQuadrupole, 0.2, 3.2);
        add(code::kDrift, 0.4);
        if (cell == 0)
            add(code::kSextupoleF, 0.2).m = 40;
        add(code::kDrift, cell == 0 ? 1.2 : 1.4);
        add(code::kQuadrupole, 0.2, -3.0);
        add(code::kDrift, 0.4);
        if (cell == 1)
            add(code::kSextupoleD, 0.2).m = -60;
        add(code::kDrift, cell == 1 ? 1.2 : 1.4);
    }
    state.line.superPeriods = superPeriods;
    state.line.chainPositions();
    return state;
}

// The sextupoles' second-order terms against the tracker, on the ring as one period and as five
// superperiods of two cells, within 1 % (0.2 to 0.4 % here). (In rings with bends the tracker also has the
// cross terms of the sextupoles with the bends' own nonlinear terms, first order in the sextupoles: on the
// example DBA ring they are 4 % of the second-order terms, three times as much at a third of the sextupoles.)
TEST(AmplitudeDetuning, SextupolesSecondOrderTermsAreTheTrackedOnes)
{
    const struct
    {
        const char* name;
        State state;
    } rows[] = {{"one period", fodoSextupoles(1)}, {"five superperiods", fodoSextupoles(5)}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        std::string refusal;
        const std::optional<DetuningCoefficients> formula = detuning(row.state, &refusal);
        ASSERT_TRUE(formula.has_value()) << refusal;
        const std::optional<DetuningCoefficients> tracked = trackedDetuning(row.state, {}, &refusal);
        ASSERT_TRUE(tracked.has_value()) << refusal;
        EXPECT_NEAR(formula->xx, tracked->xx, 0.01 * std::fabs(tracked->xx));
        EXPECT_NEAR(formula->xy, tracked->xy, 0.01 * std::fabs(tracked->xy));
        EXPECT_NEAR(formula->yy, tracked->yy, 0.01 * std::fabs(tracked->yy));
    }
}

} // namespace
} // namespace kestrune
