#include "core/coupling/CoupledOptics.h"

#include "core/optics/BetaFunctions.h"
#include "support/ExampleLattice.h"
#include "support/FakeMessages.h"

#include <cmath>
#include <gtest/gtest.h>

namespace kestrune {
namespace {

// A ring of cells QF/2 - D - QD - D - QF/2 without bends.
State fodoRing(int cells, double kf, double kd)
{
    State state;
    startParticle(state);
    state.ringClosed = true;
    const auto add = [&](int elementCode, double length, double k) -> LatticeElement& {
        LatticeElement& e = state.line.at(++state.line.count);
        e = LatticeElement{};
        e.name = k > 0 ? "QF" : k < 0 ? "QD" : "D";
        e.code = elementCode;
        e.length = length;
        e.k = k;
        return e;
    };
    for (int c = 0; c < cells; ++c) {
        add(code::kQuadrupole, 0.2, kf);
        add(code::kDrift, 2.0, 0);
        add(code::kQuadrupole, 0.4, kd);
        add(code::kDrift, 2.0, 0);
        add(code::kQuadrupole, 0.2, kf);
    }
    state.line.chainPositions();
    return state;
}

// The uncoupled pass's tunes and betas at the end of every element.
struct Uncoupled
{
    double tuneX, tuneY;
    std::vector<double> betaX, betaY, eta;
};
Uncoupled uncoupled(State state)
{
    test::FakeMessages messages;
    Uncoupled u{};
    EXPECT_TRUE(ringStart(state, messages, nullptr));
    for (int i = 1; i <= state.line.count; ++i) {
        ringTrace(state, messages, i, nullptr);
        u.betaX.push_back(state.lf.betaX);
        u.betaY.push_back(state.lf.betaY);
        u.eta.push_back(state.lf.eta);
    }
    u.tuneX = state.line.superPeriods * state.lf.phiX;
    u.tuneY = state.line.superPeriods * state.lf.phiY;
    return u;
}

TEST(CoupledOpticsTest, UncoupledAndQuarterTurnRolledRingsGiveThePlanesOfTheUncoupledPass)
{
    // a roll of every element by pi/2 exchanges the planes: the mode in x has the vertical optics
    for (const double roll : {0.0, kPi / 2}) {
        State state = test::exampleState("dba-cell.lat");
        const Uncoupled u = uncoupled(state);
        for (int i = 1; i <= state.line.count; ++i)
            state.line.at(i).tilt = roll;
        const CoupledRing ring = coupledRing(state);
        ASSERT_TRUE(ring.computed) << ring.refusal;
        const bool swapped = roll != 0;
        EXPECT_NEAR(ring.tune1, swapped ? u.tuneY : u.tuneX, 1e-9) << roll;
        EXPECT_NEAR(ring.tune2, swapped ? u.tuneX : u.tuneY, 1e-9) << roll;
        for (int i = 1; i <= state.line.count; ++i) {
            const CoupledFunctions& f = ring.functions[static_cast<std::size_t>(i)];
            const double bx = u.betaX[static_cast<std::size_t>(i - 1)];
            const double by = u.betaY[static_cast<std::size_t>(i - 1)];
            EXPECT_NEAR(f.et.betaX, swapped ? by : bx, 1e-8 * bx) << i;
            EXPECT_NEAR(f.mr.beta11, swapped ? by : bx, 1e-8 * bx) << i;
            EXPECT_NEAR(f.mr.beta22, swapped ? bx : by, 1e-8 * bx) << i;
            EXPECT_NEAR(f.eta[swapped ? 2 : 0], u.eta[static_cast<std::size_t>(i - 1)], 1e-9) << i;
            EXPECT_NEAR(std::fabs(f.et.r11) + std::fabs(f.et.r12) + std::fabs(f.et.r21) + std::fabs(f.et.r22),
                        0, 1e-12)
                << i;
        }
    }
}

// The solenoid from the Lorentz force, a second method: inside, x'' = ks y', y'' = -ks x' (fine RK4
// steps); at each hard edge the radial field -r/2 dBs/ds kicks the slopes by +-(ks / 2) (y, -x).
Map5 solenoidByForce(double ks, double length)
{
    Map5 m{};
    for (int column = 0; column < 4; ++column) {
        double z[4] = {0, 0, 0, 0}; // x, x', y, y'
        z[column] = 1;
        const double kk = ks / 2;
        z[1] += kk * z[2];
        z[3] -= kk * z[0];
        const auto rate = [ks](const double(&v)[4], double(&d)[4]) {
            d[0] = v[1];
            d[1] = ks * v[3];
            d[2] = v[3];
            d[3] = -ks * v[1];
        };
        const int steps = 2000;
        const double h = length / steps;
        for (int n = 0; n < steps; ++n) {
            double k1[4], k2[4], k3[4], k4[4], t[4];
            rate(z, k1);
            for (int j = 0; j < 4; ++j)
                t[j] = z[j] + h / 2 * k1[j];
            rate(t, k2);
            for (int j = 0; j < 4; ++j)
                t[j] = z[j] + h / 2 * k2[j];
            rate(t, k3);
            for (int j = 0; j < 4; ++j)
                t[j] = z[j] + h * k3[j];
            rate(t, k4);
            for (int j = 0; j < 4; ++j)
                z[j] += h / 6 * (k1[j] + 2 * k2[j] + 2 * k3[j] + k4[j]);
        }
        z[1] -= kk * z[2];
        z[3] += kk * z[0];
        for (int row = 0; row < 4; ++row)
            m[static_cast<std::size_t>(row)][static_cast<std::size_t>(column)] = z[row];
    }
    return m;
}

TEST(CoupledOpticsTest, SolenoidMapIsTheMotionInItsFieldAndFringes)
{
    const struct
    {
        double ks, length;
    } cases[] = {{0.5, 1.0}, {-1.3, 0.4}, {3.0, 2.5}};
    for (const auto& c : cases) {
        LatticeElement e;
        e.code = code::kSolenoid;
        e.ks = c.ks;
        e.length = c.length;
        const Map5 map = elementMap(e);
        const Map5 force = solenoidByForce(c.ks, c.length);
        for (std::size_t i = 0; i < 4; ++i)
            for (std::size_t j = 0; j < 4; ++j)
                EXPECT_NEAR(map[i][j], force[i][j], 1e-10) << c.ks << " " << i << j;
    }
}

TEST(CoupledOpticsTest, ClosestTuneApproachOfOneSkewQuadrupoleIsTheCouplingCoefficientAndTheScanMinimum)
{
    // a fine scan of the focusing family across Qx = Qy: the smallest eigentune distance is |C-| to first
    // order in the skew strength
    const double kd = -1.2;
    const auto ring = [kd](double kf) {
        State state = fodoRing(8, kf, kd);
        LatticeElement thin;
        thin.code = code::kThinMultipole;
        thin.ksl = {0, 0.002};
        state.line.at(++state.line.count) = thin;
        state.line.chainPositions();
        return state;
    };
    double closest = 1, atKf = 1.2;
    for (double step : {1e-3, 1e-5, 1e-7}) {
        const double from = atKf - 200 * step;
        for (int n = 0; n <= 400; ++n) {
            const double kf = from + n * step;
            const CoupledRing r = coupledRing(ring(kf));
            if (r.computed && std::fabs(r.tune1 - r.tune2) < closest) {
                closest = std::fabs(r.tune1 - r.tune2);
                atKf = kf;
            }
        }
    }
    const CouplingCoefficient c = couplingCoefficient(ring(atKf));
    EXPECT_GT(c.abs, 0);
    EXPECT_NEAR(closest, c.abs, 1e-3 * c.abs) << atKf;
    // the minimisation along the knob of both families, from a design away from the crossing, ends where
    // the distance is |C-| of the optics there
    State design = ring(1.15);
    const TuneApproach approach = closestTuneApproach(design);
    ASSERT_TRUE(approach.computed) << approach.refusal;
    for (int i = 1; i <= design.line.count; ++i) {
        LatticeElement& e = design.line.at(i);
        e.k *= 1 + (e.k > 0 ? approach.scaleA : e.k < 0 ? approach.scaleB : 0);
    }
    const double there = couplingCoefficient(design).abs;
    EXPECT_NEAR(approach.deltaQMin, there, 1e-3 * there);
}

TEST(CoupledOpticsTest, OnTheDifferenceResonanceWithoutCouplingTheModesAreRefused)
{
    // thin lenses of opposite strengths: the FODO cell has the same phase advance in both planes
    State state = fodoRing(8, 0, 0);
    for (int i = 1; i <= state.line.count; ++i) {
        LatticeElement& e = state.line.at(i);
        if (e.code != code::kQuadrupole)
            continue;
        e.code = code::kThinMultipole;
        e.knl = {0, e.length == 0.4 ? -0.5 : 0.25};
        e.length = 0;
    }
    state.line.chainPositions();
    const CoupledRing ring = coupledRing(state);
    EXPECT_FALSE(ring.computed);
    EXPECT_EQ(ring.refusal, "the transverse modes are not separable: on the difference resonance");
}

} // namespace
} // namespace kestrune
