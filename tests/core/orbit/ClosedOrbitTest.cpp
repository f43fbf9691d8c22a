#include "core/orbit/ClosedOrbit.h"

#include "core/Kinematics.h"

#include <cmath>
#include <gtest/gtest.h>

namespace kestrune {
namespace {

// Ten FODO cells with a bend in each half, a monitor after every quadrupole and a kicker of both planes
// before it; dipole errors as thin multipoles' knl[0] and ksl[0] in three cells.
State correctorRing(bool errors)
{
    State state;
    startParticle(state);
    state.ringClosed = true;
    const auto add = [&](int elementCode, double length) -> LatticeElement& {
        LatticeElement& e = state.line.at(++state.line.count);
        e = LatticeElement{};
        e.name = "E" + std::to_string(state.line.count);
        e.code = elementCode;
        e.length = length;
        return e;
    };
    constexpr int kCells = 10;
    const double h = kTwoPi / (2 * kCells) / 2.0;
    for (int c = 0; c < kCells; ++c) {
        add(code::kKicker, 0.1);
        add(code::kQuadrupole, 0.3).k = 1.1;
        add(code::kMonitor, 0);
        add(code::kDrift, 0.4);
        add(code::kSectorBend, 2.0).curvature = h;
        add(code::kDrift, 0.4);
        add(code::kKicker, 0.1);
        add(code::kQuadrupole, 0.3).k = -1.0;
        add(code::kMonitor, 0);
        add(code::kDrift, 0.4);
        add(code::kSectorBend, 2.0).curvature = h;
        LatticeElement& error = add(code::kThinMultipole, 0);
        if (errors && c % 3 == 1) {
            error.knl = {2e-4 * (c - 4)};
            error.ksl = {-1.5e-4};
        }
        add(code::kDrift, 0.4);
    }
    state.line.chainPositions();
    return state;
}

TEST(ClosedOrbitTest, TrackedOrbitResponseIsTheClosedFormOnALinearRing)
{
    const State state = correctorRing(false);
    std::string refusal;
    const std::optional<OrbitResponse> tracked = trackedOrbitResponse(state, refusal);
    ASSERT_TRUE(tracked.has_value()) << refusal;
    const std::optional<OrbitResponse> closedForm = closedFormOrbitResponse(state, false, refusal);
    ASSERT_TRUE(closedForm.has_value()) << refusal;
    double largest = 0;
    for (const auto& row : closedForm->matrix)
        for (double v : row)
            largest = std::max(largest, std::fabs(v));
    ASSERT_GT(largest, 1);
    for (std::size_t i = 0; i < tracked->matrix.size(); ++i)
        for (std::size_t j = 0; j < tracked->matrix[i].size(); ++j)
            EXPECT_NEAR(tracked->matrix[i][j], closedForm->matrix[i][j], 1e-6 * largest) << i << " " << j;
}

TEST(ClosedOrbitTest, CorrectionWithEveryKickerTakesTheOrbitAtTheMonitorsAway)
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
