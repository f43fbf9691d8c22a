// The natural chromaticity of the radiation-integral pass against the tune change of off-momentum
// particles followed through the model's equations of motion: the bend bodies in their curved frame,
// the pole faces as hard edges in the Cartesian frame of the face, both integrated numerically.
#include "core/chromaticity/TestRings.h"
#include "core/io/LatticeFile.h"
#include "core/ring/Parameter.h"
#include "core/ring/RingLattices.h"
#include "support/FakeMessages.h"

#include <array>
#include <cmath>
#include <functional>
#include <gtest/gtest.h>
#include <string>

namespace kestrune {
namespace {

using Phase = std::array<double, 4>; // x, px, y, py; px, py normalised to the design momentum
using Derivative = std::function<Phase(const Phase&)>;

Phase rungeKuttaStep(const Derivative& f, const Phase& z, double ds)
{
    const Phase k1 = f(z);
    Phase t;
    for (int j = 0; j < 4; ++j)
        t[j] = z[j] + ds / 2 * k1[j];
    const Phase k2 = f(t);
    for (int j = 0; j < 4; ++j)
        t[j] = z[j] + ds / 2 * k2[j];
    const Phase k3 = f(t);
    for (int j = 0; j < 4; ++j)
        t[j] = z[j] + ds * k3[j];
    const Phase k4 = f(t);
    Phase out;
    for (int j = 0; j < 4; ++j)
        out[j] = z[j] + ds / 6 * (k1[j] + 2 * k2[j] + 2 * k3[j] + k4[j]);
    return out;
}

// Fourth-order Runge-Kutta over a length (of either sign), steps of 2 mm at most.
Phase integrate(const Derivative& f, Phase z, double length)
{
    const int steps = static_cast<int>(std::fabs(length) / 0.002) + 1;
    for (int n = 0; n < steps; ++n)
        z = rungeKuttaStep(f, z, length / steps);
    return z;
}

double longitudinal(const Phase& z, double delta)
{
    return std::sqrt((1 + delta) * (1 + delta) - z[1] * z[1] - z[3] * z[3]);
}

// The body in the curved frame of curvature h with the midplane field h + k x (free of curl and
// divergence): H = -(1 + h x) pz + h x + (h^2 + k) x^2 / 2 + h k x^3 / 3 - k (1 + h x) y^2 / 2.
Derivative curvedBody(double h, double k, double delta)
{
    return [=](const Phase& z) -> Phase {
        const double pz = longitudinal(z, delta);
        const double bend = 1 + h * z[0];
        return {bend * z[1] / pz,
                h * pz - h - (h * h + k) * z[0] - h * k * z[0] * z[0] + h * k * z[2] * z[2] / 2,
                bend * z[3] / pz, k * bend * z[2]};
    };
}

// A straight stretch of the uniform field b_y = h + k X, b_x = k Y in Cartesian coordinates, Z the
// independent variable: dp/dZ = (X', Y', 1) x b.
Derivative cartesianField(double h, double k, double delta)
{
    return [=](const Phase& z) -> Phase {
        const double pz = longitudinal(z, delta);
        return {z[1] / pz, -(h + k * z[0]), z[3] / pz, k * z[2]};
    };
}

Phase drift(Phase z, double length, double delta)
{
    const double pz = longitudinal(z, delta);
    z[0] += length * z[1] / pz;
    z[2] += length * z[3] / pz;
    return z;
}

// Vertical kick where a particle crosses the field boundary at the angle psi + theta to the face's
// normal (theta its horizontal direction in the field-free region): curl B = 0 makes the rise of B_y
// across the face a field y dB_y/dn along the normal, whose kick is (h + k x) y tan(psi + theta).
double hardEdgeKick(const Phase& z, double h, double k, double psi, double theta)
{
    return -z[2] * (h + k * z[0]) * std::tan(psi + theta);
}

// A face: the hard edge, with the fringe field's correction as a linear term in the y that enters: it
// turns the vertical focusing h tan(psi) into h tan(psi - phi).
struct Magnet
{
    double h, k, psi, phi;
    double fringe() const { return h * (std::tan(psi) - std::tan(psi - phi)); }
};

// The entrance face: the body's frame starts on the plane Z = 0, the field fills Z > X tan(psi).
// Straight to the boundary, the kick, then the field followed back to the plane.
Phase entranceFace(Phase z, const Magnet& m, double delta)
{
    const double yIn = z[2];
    const double t = std::tan(m.psi);
    const double slope = z[1] / longitudinal(z, delta);
    const double zb = t * z[0] / (1 - t * slope);
    z = drift(z, zb, delta);
    z[3] += hardEdgeKick(z, m.h, m.k, m.psi, std::atan(slope));
    z = integrate(cartesianField(m.h, m.k, delta), z, -zb);
    z[3] += m.fringe() * yIn;
    return z;
}

// The exit face: the field ends at Z = -X(Z) tan(psi); the field up to the boundary (found by
// iteration), the kick at the angle psi - theta, then straight to the plane.
Phase exitFace(const Phase& z, const Magnet& m, double delta)
{
    const double t = std::tan(m.psi);
    const Derivative field = cartesianField(m.h, m.k, delta);
    double zb = -t * z[0];
    Phase b = z;
    for (int iteration = 0; iteration < 30; ++iteration) {
        b = integrate(field, z, zb);
        const double next = -t * b[0];
        if (std::fabs(next - zb) < 1e-17)
            break;
        zb = next;
    }
    b[3] += hardEdgeKick(b, m.h, m.k, m.psi, -std::atan(b[1] / longitudinal(b, delta)));
    b = drift(b, -zb, delta);
    b[3] += m.fringe() * z[2];
    return b;
}

Phase trackElement(Phase z, const LatticeElement& e, double delta)
{
    switch (familyOf(e.code)) {
    case static_cast<int>(Family::Bend): {
        const bool faces = e.code == code::kRectangularBend || e.code == code::kWedgeBend;
        const double h = e.curvature;
        const double psiIn = faces ? e.ain : 0;
        const double psiOut = faces ? e.aout : 0;
        const double gap = faces ? e.gap : 0;
        // phi = (h G / 3)(1 + sin^2 psi) / cos psi, the lattice file's full gap G as MAD-X's HGAP = G/2,
        // FINT = 1/3
        const auto phi = [&](double psi) {
            return h * gap / 3 * (1 + std::sin(psi) * std::sin(psi)) / std::cos(psi);
        };
        z = entranceFace(z, {h, e.k, psiIn, phi(psiIn)}, delta);
        z = integrate(curvedBody(h, e.k, delta), z, e.length);
        return exitFace(z, {h, e.k, psiOut, phi(psiOut)}, delta);
    }
    case static_cast<int>(Family::Quadrupole):
        return integrate(curvedBody(0, e.k, delta), z, e.length);
    default: // drifts, and sextupoles: the natural chromaticity
        return drift(z, e.length, delta);
    }
}

Phase trackCell(const State& state, Phase z, double delta)
{
    for (int i = 1; i <= state.line.count; ++i)
        z = trackElement(z, state.line.at(i), delta);
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
        if (std::fabs(rx) + std::fabs(rp) < 1e-15)
            break;
        double jac[2][2];
        for (int column = 0; column < 2; ++column) {
            Phase d = z;
            d[column] += eps;
            const Phase g = trackCell(state, d, delta);
            jac[0][column] = (g[0] - d[0] - rx) / eps;
            jac[1][column] = (g[1] - d[1] - rp) / eps;
        }
        const double det = jac[0][0] * jac[1][1] - jac[0][1] * jac[1][0];
        z[0] -= (jac[1][1] * rx - jac[0][1] * rp) / det;
        z[1] -= (-jac[1][0] * rx + jac[0][0] * rp) / det;
    }
    return z;
}

// Cell tunes (units of 2 pi) of momentum delta from the linear map around its closed orbit.
std::array<double, 2> cellTunes(const State& state, double delta)
{
    const Phase orbit = closedOrbit(state, delta);
    constexpr double eps = 1e-7;
    double m[4][4];
    for (int column = 0; column < 4; ++column) {
        Phase plus = orbit, minus = orbit;
        plus[column] += eps;
        minus[column] -= eps;
        const Phase a = trackCell(state, plus, delta);
        const Phase b = trackCell(state, minus, delta);
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

// dQ/d delta of the whole ring by a central difference at delta = +-1e-4.
std::array<double, 2> trackedChromaticity(const State& state)
{
    constexpr double d = 1e-4;
    const auto plus = cellTunes(state, d);
    const auto minus = cellTunes(state, -d);
    const double nsp = state.line.superPeriods;
    return {nsp * (plus[0] - minus[0]) / (2 * d), nsp * (plus[1] - minus[1]) / (2 * d)};
}

State validationRing(const std::string& name)
{
    State state;
    startParticle(state);
    test::FakeMessages messages;
    EXPECT_TRUE(readLatticeFile(state, messages, std::string(KESTRUNE_VALIDATION) + "/" + name + ".lat"));
    return state;
}

State gradientFodoRing()
{
    State state;
    test::electronAt(state, 1e9);
    test::fodoCell(state, 16, code::kSectorBend, -0.08);
    return state;
}

struct RingCase
{
    const char* name;
    State (*make)();
};

class RingChromaticity : public testing::TestWithParam<RingCase>
{
};

// The pass integrates the bodies without slicing error; the central difference leaves about 1e-8 and
// the integration of the tracking less. 1e-5 relative would catch any term of the model left out.
TEST_P(RingChromaticity, IsTheTuneChangeOfTrackedOffMomentumParticles)
{
    State state = GetParam().make();
    test::FakeMessages messages;
    radiationIntegrals(state, messages);
    ASSERT_TRUE(messages.errors.empty());
    const std::array<double, 2> tracked = trackedChromaticity(state);
    EXPECT_NEAR(state.ringParams.chromaticityX, tracked[0], 1e-5 * std::fabs(tracked[0]));
    EXPECT_NEAR(state.ringParams.chromaticityY, tracked[1], 1e-5 * std::fabs(tracked[1]));
}

TEST_P(RingChromaticity, TrackedTunesOnMomentumAreTheRingPassTunes)
{
    State state = GetParam().make();
    test::FakeMessages messages;
    radiationIntegrals(state, messages);
    const auto tunes = cellTunes(state, 0);
    const double nsp = state.line.superPeriods;
    // the tracking's faces and bodies and the matrices describe the same linear lattice
    EXPECT_NEAR(nsp * tunes[0], state.ringParams.tuneX - std::floor(state.ringParams.tuneX / nsp) * nsp,
                1e-7);
    EXPECT_NEAR(nsp * tunes[1], state.ringParams.tuneY - std::floor(state.ringParams.tuneY / nsp) * nsp,
                1e-7);
}

INSTANTIATE_TEST_SUITE_P(
    Bends, RingChromaticity,
    testing::Values(RingCase{"GradientSectorBends", &gradientFodoRing},
                    RingCase{"StrongGradientBends", [] { return validationRing("fodo-gradient"); }},
                    RingCase{"RectangularAndWedgeBendsWithGap",
                             [] { return validationRing("rect-wedge-gap"); }},
                    RingCase{"EveryKindOfBend", &test::mixedBendRing}),
    [](const testing::TestParamInfo<RingCase>& ring) { return std::string(ring.param.name); });

} // namespace
} // namespace kestrune
