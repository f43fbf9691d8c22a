// The natural chromaticity of the radiation-integral pass against the tune change of off-momentum
// particles tracked through the equations of motion.
#include "core/ring/RingLattices.h"
#include "ring/Parameter.h"
#include "support/FakeMessages.h"

#include <array>
#include <cmath>
#include <gtest/gtest.h>

namespace kestrune {
namespace {

using Phase = std::array<double, 4>; // x, px, y, py; px, py normalised to the reference momentum

// Exact kinematics in the curved frame of a bend with curvature h and gradient k, from
// H = -(1 + h x) sqrt((1 + delta)^2 - px^2 - py^2) + h x + h^2 x^2 / 2 + k (x^2 - y^2) / 2 + h k x y^2 / 2;
// the last term keeps the field free of divergence to the order that the chromaticity sees.
Phase derivative(const Phase& z, double h, double k, double delta)
{
    const double pz = std::sqrt((1 + delta) * (1 + delta) - z[1] * z[1] - z[3] * z[3]);
    const double bend = 1 + h * z[0];
    return {bend * z[1] / pz, h * pz - h - h * h * z[0] - k * z[0] - h * k * z[2] * z[2] / 2,
            bend * z[3] / pz, k * z[2] - h * k * z[0] * z[2]};
}

// Fourth-order Runge-Kutta through one element, 2 mm steps at most.
void trackElement(Phase& z, const LatticeElement& e, double delta)
{
    const bool bend = familyOf(e.code) == static_cast<int>(Family::Bend);
    const bool quad = familyOf(e.code) == static_cast<int>(Family::Quadrupole);
    const double h = bend ? e.curvature : 0;
    const double k = bend || quad ? e.k : 0;
    const int steps = static_cast<int>(e.length / 0.002) + 1;
    const double ds = e.length / steps;
    for (int n = 0; n < steps; ++n) {
        const Phase k1 = derivative(z, h, k, delta);
        Phase t;
        for (int j = 0; j < 4; ++j)
            t[j] = z[j] + ds / 2 * k1[j];
        const Phase k2 = derivative(t, h, k, delta);
        for (int j = 0; j < 4; ++j)
            t[j] = z[j] + ds / 2 * k2[j];
        const Phase k3 = derivative(t, h, k, delta);
        for (int j = 0; j < 4; ++j)
            t[j] = z[j] + ds * k3[j];
        const Phase k4 = derivative(t, h, k, delta);
        for (int j = 0; j < 4; ++j)
            z[j] += ds / 6 * (k1[j] + 2 * k2[j] + 2 * k3[j] + k4[j]);
    }
}

Phase trackCell(const State& state, Phase z, double delta)
{
    for (int i = 1; i <= state.line.count; ++i)
        trackElement(z, state.line.at(i), delta);
    return z;
}

// The horizontal closed orbit of momentum delta by Newton's method on the cell map.
Phase closedOrbit(const State& state, double delta)
{
    Phase z{};
    constexpr double eps = 1e-7;
    for (int iteration = 0; iteration < 20; ++iteration) {
        const Phase f = trackCell(state, z, delta);
        const double rx = f[0] - z[0], rp = f[1] - z[1];
        double jac[2][2];
        for (int c = 0; c < 2; ++c) {
            Phase d = z;
            d[c] += eps;
            const Phase g = trackCell(state, d, delta);
            jac[0][c] = (g[0] - d[0] - rx) / eps;
            jac[1][c] = (g[1] - d[1] - rp) / eps;
        }
        const double det = jac[0][0] * jac[1][1] - jac[0][1] * jac[1][0];
        z[0] -= (jac[1][1] * rx - jac[0][1] * rp) / det;
        z[1] -= (-jac[1][0] * rx + jac[0][0] * rp) / det;
        if (std::fabs(rx) + std::fabs(rp) < 1e-14)
            break;
    }
    return z;
}

// Cell tunes (units of 2 pi) of momentum delta from the linear map around its closed orbit.
std::array<double, 2> cellTunes(const State& state, double delta)
{
    const Phase orbit = closedOrbit(state, delta);
    constexpr double eps = 1e-7;
    double m[4][4];
    for (int c = 0; c < 4; ++c) {
        Phase plus = orbit, minus = orbit;
        plus[c] += eps;
        minus[c] -= eps;
        const Phase a = trackCell(state, plus, delta);
        const Phase b = trackCell(state, minus, delta);
        for (int r = 0; r < 4; ++r)
            m[r][c] = (a[r] - b[r]) / (2 * eps);
    }
    std::array<double, 2> tunes{};
    for (int plane = 0; plane < 2; ++plane) {
        const int p = 2 * plane;
        double mu = std::acos((m[p][p] + m[p + 1][p + 1]) / 2);
        if (m[p][p + 1] < 0)
            mu = kTwoPi - mu;
        tunes[plane] = mu / kTwoPi;
    }
    return tunes;
}

struct TrackedChromaticity
{
    double x, y;
};

// dQ/d delta of the whole ring by a central difference.
TrackedChromaticity trackedChromaticity(const State& state)
{
    constexpr double d = 2e-4;
    const auto plus = cellTunes(state, d);
    const auto minus = cellTunes(state, -d);
    const double nsp = state.line.superPeriods;
    return {nsp * (plus[0] - minus[0]) / (2 * d), nsp * (plus[1] - minus[1]) / (2 * d)};
}

struct RingCase
{
    State state;
    test::FakeMessages messages;
    explicit RingCase(double bendK)
    {
        test::electronAt(state, 1e9);
        test::fodoCell(state, 16, code::kSectorBend, bendK);
        radiationIntegrals(state, messages);
    }
};

// The pass integrates the bends with the trapezoid rule on slices of about 0.1 m, which leaves errors
// of a few 1e-4 on chromaticities of about -4; the tracking's central difference adds less than 1e-5.
constexpr double kChromaticityTolerance = 1e-3;

TEST(RingChromaticity, FodoRingWithSectorBendsMatchesTrackedTuneShift)
{
    RingCase ring(0);
    ASSERT_TRUE(ring.messages.errors.empty());
    const TrackedChromaticity tracked = trackedChromaticity(ring.state);
    EXPECT_NEAR(ring.state.ringParams.chromaticityX, tracked.x, kChromaticityTolerance);
    EXPECT_NEAR(ring.state.ringParams.chromaticityY, tracked.y, kChromaticityTolerance);
    // the bend terms matter at this size: a FODO ring's chromaticity is near -1.3 times its tune
    EXPECT_LT(tracked.x, -1);
}

TEST(RingChromaticity, FodoRingWithGradientBendsMatchesTrackedTuneShift)
{
    RingCase ring(-0.08);
    ASSERT_TRUE(ring.messages.errors.empty());
    const TrackedChromaticity tracked = trackedChromaticity(ring.state);
    EXPECT_NEAR(ring.state.ringParams.chromaticityX, tracked.x, kChromaticityTolerance);
    EXPECT_NEAR(ring.state.ringParams.chromaticityY, tracked.y, kChromaticityTolerance);
}

TEST(RingChromaticity, TrackedTunesAtZeroMomentumAreTheRingPassTunes)
{
    RingCase ring(-0.08);
    const auto tunes = cellTunes(ring.state, 0);
    const double nsp = ring.state.line.superPeriods;
    // the tracking and the matrices describe the same linear lattice
    EXPECT_NEAR(nsp * tunes[0], ring.state.ringParams.tuneX, 1e-6);
    EXPECT_NEAR(nsp * tunes[1], ring.state.ringParams.tuneY, 1e-6);
}

} // namespace
} // namespace kestrune
