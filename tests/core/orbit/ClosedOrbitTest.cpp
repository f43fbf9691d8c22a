#include "core/orbit/ClosedOrbit.h"

#include "core/Kinematics.h"
#include "core/coupling/CoupledOptics.h"
#include "core/io/LatticeFile.h"
#include "support/FakeMessages.h"

#include <Eigen/Dense>
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

// The closed orbit of a kicked coupled ring (the validation ring, sextupoles off, its drift D1 a kicker of
// both planes) against the fixed point of the coupled optics' linear maps z -> A z + b, the kicker a kick
// between two half drifts: z = (I - A)^-1 b. What is left are the bends' second-order terms, h x ~ 1e-5 of it
// at an orbit of 5e-5 m.
TEST(ClosedOrbitTest, OrbitOfAKickedCoupledRingIsTheCoupledOpticsFixedPoint)
{
    const struct
    {
        double hkick, vkick;
    } cases[] = {{2e-5, 0}, {0, -3e-5}};
    for (const auto& c : cases) {
        State state;
        startParticle(state);
        test::FakeMessages messages;
        ASSERT_TRUE(
            readLatticeFile(state, messages, std::string(KESTRUNE_VALIDATION) + "/coupled-double-bend.lat"));
        Map5 a = identityMap();
        double b[4] = {0, 0, 0, 0};
        for (int i = 1; i <= state.line.count; ++i) {
            LatticeElement& e = state.line.at(i);
            e.m = 0;
            if (e.name == "D1") {
                e.code = code::kKicker;
                e.hkick = c.hkick;
                e.vkick = c.vkick;
            }
            const Map5 m = elementMap(e);
            double next[4];
            for (int r = 0; r < 4; ++r)
                next[r] = m[r][0] * b[0] + m[r][1] * b[1] + m[r][2] * b[2] + m[r][3] * b[3];
            if (e.code == code::kKicker) {
                next[0] += e.length / 2 * e.hkick;
                next[1] += e.hkick;
                next[2] += e.length / 2 * e.vkick;
                next[3] += e.vkick;
            }
            std::copy(next, next + 4, b);
            a = product(m, a);
        }
        Eigen::Matrix4d iMinusA;
        for (int r = 0; r < 4; ++r)
            for (int k = 0; k < 4; ++k)
                iMinusA(r, k) = (r == k ? 1 : 0) - a[r][k];
        const Eigen::Vector4d z = iMinusA.partialPivLu().solve(Eigen::Vector4d(b[0], b[1], b[2], b[3]));
        const ClosedOrbit orbit = closedOrbit(state);
        ASSERT_TRUE(orbit.found) << orbit.refusal;
        const PhaseVector& o = orbit.orbit[0];
        const double tracked[4] = {o.x, o.px, o.y, o.py};
        // both planes move, whichever was kicked
        EXPECT_GT(std::fabs(z(0)), 1e-7);
        EXPECT_GT(std::fabs(z(2)), 1e-7);
        const double size = z.cwiseAbs().maxCoeff();
        for (int k = 0; k < 4; ++k)
            EXPECT_NEAR(tracked[k], z(k), 2e-4 * size) << k;
    }
}

} // namespace
} // namespace kestrune
