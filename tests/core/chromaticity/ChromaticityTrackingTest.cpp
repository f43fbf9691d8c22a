// The natural chromaticity of the radiation-integral pass against the tune change of off-momentum
// particles tracked through the equations of motion.
#include "core/ring/Parameter.h"
#include "core/ring/RingLattices.h"
#include "support/FakeMessages.h"

#include <array>
#include <cmath>
#include <gtest/gtest.h>

namespace kestrune {
namespace {

using Phase = std::array<double, 4>; // x, px, y, py; px, py normalised to the reference momentum

// In the curved frame of a bend the field is not fixed by its curvature h and midplane gradient k
// alone: a field free of curl and divergence follows from
// H = -(1 + h x) sqrt((1 + delta)^2 - px^2 - py^2) + h x + (h^2 + k) x^2 / 2 + c h k x^3
//     - (k - (1 - 6 c) h k x) y^2 / 2
// for any c. c = 1/3 gives the midplane field h + k x of a bend without sextupole component (the
// vertical gradient is (1 + h x) k), c = 0 a midplane field h + k x / (1 + h x) (gradient (1 - h x) k).
// The chromaticity formulas of the ring pass follow the optics codes in use: the horizontal plane as
// c = 0, the vertical plane as c = 1/3; the two agree for bends without gradient.
struct Field
{
    double h = 0;
    double k = 0;
    double c = 0;
};

Phase derivative(const Phase& z, const Field& f, double delta)
{
    const double pz = std::sqrt((1 + delta) * (1 + delta) - z[1] * z[1] - z[3] * z[3]);
    const double bend = 1 + f.h * z[0];
    const double hk = f.h * f.k;
    const double vertical = (1 - 6 * f.c) * hk;
    return {bend * z[1] / pz,
            f.h * pz - f.h - (f.h * f.h + f.k) * z[0] - 3 * f.c * hk * z[0] * z[0] -
                vertical * z[2] * z[2] / 2,
            bend * z[3] / pz, (f.k - vertical * z[0]) * z[2]};
}

// The hard edge of a bend: where the field rises (rise +1) or falls (-1) across the face, the
// longitudinal fringe field y dB/ds turns the horizontal slope of the particle into a vertical kick.
void fringe(Phase& z, double h, double delta, double rise)
{
    const double pz = std::sqrt((1 + delta) * (1 + delta) - z[1] * z[1] - z[3] * z[3]);
    z[3] -= rise * h * z[1] / pz * z[2];
}

// Fourth-order Runge-Kutta through one element, 2 mm steps at most; a bend's faces are normal to the
// reference orbit (sector bends).
void trackElement(Phase& z, const LatticeElement& e, double delta, double c)
{
    const bool bend = familyOf(e.code) == static_cast<int>(Family::Bend);
    const bool quad = familyOf(e.code) == static_cast<int>(Family::Quadrupole);
    const double h = bend ? e.curvature : 0;
    const Field field{h, bend || quad ? e.k : 0, c};
    if (bend)
        fringe(z, h, delta, 1);
    const int steps = static_cast<int>(e.length / 0.002) + 1;
    const double ds = e.length / steps;
    for (int n = 0; n < steps; ++n) {
        const Phase k1 = derivative(z, field, delta);
        Phase t;
        for (int j = 0; j < 4; ++j)
            t[j] = z[j] + ds / 2 * k1[j];
        const Phase k2 = derivative(t, field, delta);
        for (int j = 0; j < 4; ++j)
            t[j] = z[j] + ds / 2 * k2[j];
        const Phase k3 = derivative(t, field, delta);
        for (int j = 0; j < 4; ++j)
            t[j] = z[j] + ds * k3[j];
        const Phase k4 = derivative(t, field, delta);
        for (int j = 0; j < 4; ++j)
            z[j] += ds / 6 * (k1[j] + 2 * k2[j] + 2 * k3[j] + k4[j]);
    }
    if (bend)
        fringe(z, h, delta, -1);
}

Phase trackCell(const State& state, Phase z, double delta, double c)
{
    for (int i = 1; i <= state.line.count; ++i)
        trackElement(z, state.line.at(i), delta, c);
    return z;
}

// The horizontal closed orbit of momentum delta by Newton's method on the cell map.
Phase closedOrbit(const State& state, double delta, double c)
{
    Phase z{};
    constexpr double eps = 1e-7;
    for (int iteration = 0; iteration < 20; ++iteration) {
        const Phase f = trackCell(state, z, delta, c);
        const double rx = f[0] - z[0], rp = f[1] - z[1];
        double jac[2][2];
        for (int column = 0; column < 2; ++column) {
            Phase d = z;
            d[column] += eps;
            const Phase g = trackCell(state, d, delta, c);
            jac[0][column] = (g[0] - d[0] - rx) / eps;
            jac[1][column] = (g[1] - d[1] - rp) / eps;
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
std::array<double, 2> cellTunes(const State& state, double delta, double c)
{
    const Phase orbit = closedOrbit(state, delta, c);
    constexpr double eps = 1e-7;
    double m[4][4];
    for (int column = 0; column < 4; ++column) {
        Phase plus = orbit, minus = orbit;
        plus[column] += eps;
        minus[column] -= eps;
        const Phase a = trackCell(state, plus, delta, c);
        const Phase b = trackCell(state, minus, delta, c);
        for (int r = 0; r < 4; ++r)
            m[r][column] = (a[r] - b[r]) / (2 * eps);
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
TrackedChromaticity trackedChromaticity(const State& state, double c)
{
    constexpr double d = 2e-4;
    const auto plus = cellTunes(state, d, c);
    const auto minus = cellTunes(state, -d, c);
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
    const TrackedChromaticity tracked = trackedChromaticity(ring.state, 0);
    EXPECT_NEAR(ring.state.ringParams.chromaticityX, tracked.x, kChromaticityTolerance);
    EXPECT_NEAR(ring.state.ringParams.chromaticityY, tracked.y, kChromaticityTolerance);
    // the bend terms matter at this size: a FODO ring's chromaticity is near -1.3 times its tune
    EXPECT_LT(tracked.x, -1);
    // without gradient the curved-frame field is the same whatever the convention
    const TrackedChromaticity other = trackedChromaticity(ring.state, 1.0 / 3);
    EXPECT_NEAR(other.x, tracked.x, 1e-6);
    EXPECT_NEAR(other.y, tracked.y, 1e-6);
}

TEST(RingChromaticity, FodoRingWithGradientBendsMatchesTrackedTuneShift)
{
    RingCase ring(-0.08);
    ASSERT_TRUE(ring.messages.errors.empty());
    // this ring has 12 m of dispersion in its bends: the curved-frame terms h k eta are large
    EXPECT_NEAR(ring.state.ringParams.chromaticityX, trackedChromaticity(ring.state, 0).x,
                kChromaticityTolerance);
    EXPECT_NEAR(ring.state.ringParams.chromaticityY, trackedChromaticity(ring.state, 1.0 / 3).y,
                kChromaticityTolerance);
}

TEST(RingChromaticity, TrackedTunesAtZeroMomentumAreTheRingPassTunes)
{
    RingCase ring(-0.08);
    const auto tunes = cellTunes(ring.state, 0, 0);
    const double nsp = ring.state.line.superPeriods;
    // the tracking and the matrices describe the same linear lattice
    EXPECT_NEAR(nsp * tunes[0], ring.state.ringParams.tuneX, 1e-6);
    EXPECT_NEAR(nsp * tunes[1], ring.state.ringParams.tuneY, 1e-6);
}

} // namespace
} // namespace kestrune
