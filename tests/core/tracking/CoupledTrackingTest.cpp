// The symplectic tracker on coupled lines: rolled magnets, skew gradients and solenoids against the
// coupled optics' exact linear maps, the quarter-turn roll, and what it still refuses.
#include "core/coupling/CoupledOptics.h"
#include "core/orbit/ClosedOrbit.h"
#include "core/tracking/LinearMapTracking.h"
#include "core/tracking/TrackingRings.h"

#include <Eigen/Dense>
#include <complex>

namespace kestrune {
namespace {

// The rings of the eigentune cases: the validation ring, a ring whose only coupling is a strong
// solenoid, and one with rolled bends and quadrupoles with skew gradients.
State coupledCase(int which)
{
    if (which == 0)
        return test::validationRing("coupled-double-bend");
    if (which == 1) {
        State state = test::validationRing("double-bend-sextupoles");
        LatticeElement& e = state.line.at(1); // the 2 m drift DL
        e.code = code::kSolenoid;
        e.ks = 0.2;
        return state;
    }
    State state = test::validationRing("fodo-gradient");
    for (int i = 1; i <= state.line.count; ++i) {
        LatticeElement& e = state.line.at(i);
        if (familyOf(e.code) == static_cast<int>(Family::Bend))
            e.tilt = 0.01 * i;
        if (familyOf(e.code) == static_cast<int>(Family::Quadrupole))
            e.k1s = 0.03 * (i % 3 - 1);
    }
    return state;
}

// The fractional eigentunes of a 4 x 4 map folded into [0, 1/2], in increasing order.
std::array<double, 2> foldedTunes(const Eigen::Matrix4d& m)
{
    const Eigen::EigenSolver<Eigen::Matrix4d> solver(m, false);
    std::array<double, 2> tunes{};
    int n = 0;
    for (int k = 0; k < 4; ++k)
        if (solver.eigenvalues()(k).imag() > 0 && n < 2)
            tunes[static_cast<std::size_t>(n++)] = std::arg(solver.eigenvalues()(k)) / kTwoPi;
    EXPECT_EQ(n, 2);
    std::sort(tunes.begin(), tunes.end());
    return tunes;
}

double fold(double q)
{
    const double f = q - std::floor(q);
    return std::min(f, 1 - f);
}

// Largest entry of M^T S M - S on (x, px, y, py).
double symplecticError(const Eigen::Matrix4d& m)
{
    Eigen::Matrix4d s = Eigen::Matrix4d::Zero();
    s(0, 1) = s(2, 3) = 1;
    s(1, 0) = s(3, 2) = -1;
    return (m.transpose() * s * m - s).cwiseAbs().maxCoeff();
}

// The transverse Jacobian of one pass through the ring's lattice at fixed delta about the origin, by
// central differences: at the origin every coordinate is of the size of the step, so rounding stays
// relative, and the error of the differences is the step squared times the third-order terms.
Eigen::Matrix4d transverseJacobian(const SymplecticLattice& lattice, double delta, double step)
{
    Eigen::Matrix4d m;
    for (int k = 0; k < 4; ++k) {
        PhaseVector plus{0, 0, 0, 0, delta, 0}, minus = plus;
        double* const p[4] = {&plus.x, &plus.px, &plus.y, &plus.py};
        double* const q[4] = {&minus.x, &minus.px, &minus.y, &minus.py};
        *p[k] += step;
        *q[k] -= step;
        const PhaseVector a = test::oneTurn(lattice, plus), b = test::oneTurn(lattice, minus);
        m.col(k) << (a.x - b.x), (a.px - b.px), (a.y - b.y), (a.py - b.py);
        m.col(k) /= 2 * step;
    }
    return m;
}

TEST(CoupledTracking, EigentunesOfTheTrackedTurnAreTheCoupledOptics)
{
    for (int which = 0; which < 3; ++which) {
        const State state = coupledCase(which);
        const CoupledRing ring = coupledRing(state);
        ASSERT_TRUE(ring.computed) << which << ": " << ring.refusal;
        const std::array<double, 2> expected = [&] {
            std::array<double, 2> t{fold(ring.tune1), fold(ring.tune2)};
            std::sort(t.begin(), t.end());
            return t;
        }();
        // the closed orbit's Newton Jacobian, and a finer one of the tracked turn
        const ClosedOrbit orbit = closedOrbit(state);
        ASSERT_TRUE(orbit.found) << which << ": " << orbit.refusal;
        const Eigen::Matrix4d newton =
            Eigen::Map<const Eigen::Matrix<double, 4, 4, Eigen::RowMajor>>(&orbit.jacobian[0][0]);
        const Eigen::Matrix4d fine = transverseJacobian(test::latticeOf(state), 0, 1e-9);
        // the tracker's linear map is exact as the coupled optics' is: they meet to the rounding of the
        // differences (1e-13)
        for (const Eigen::Matrix4d& m : {newton, fine}) {
            const std::array<double, 2> tracked = foldedTunes(m);
            EXPECT_NEAR(tracked[0], expected[0], 1e-10) << which;
            EXPECT_NEAR(tracked[1], expected[1], 1e-10) << which;
        }
        EXPECT_LT(symplecticError(fine), 1e-12) << which;
    }
}

// Off momentum a solenoid acts as one of ks / P in the coordinates (x, px / P): the tracked element
// against the coupled optics' matrix exponential of that field, fringes included.
TEST(CoupledTracking, SolenoidIsTheCoupledOpticsMapOfItsFieldAtEveryMomentum)
{
    const struct
    {
        double ks, length, delta;
    } cases[] = {{0.15, 0.5, 0}, {-2.0, 1.2, 0.03}, {0.8, 0.3, -0.05}, {1e-7, 2, 0.01}};
    for (const auto& c : cases) {
        LatticeElement e;
        e.code = code::kSolenoid;
        e.length = c.length;
        e.ks = c.ks;
        State state;
        startParticle(state);
        state.line.count = 1;
        state.line.at(1) = e;
        const double p = 1 + c.delta;
        const Eigen::Matrix4d tracked = transverseJacobian(test::latticeOf(state), c.delta, 1e-4);
        e.ks = c.ks / p;
        const Map5 m = elementMap(e);
        for (int i = 0; i < 4; ++i)
            for (int j = 0; j < 4; ++j) {
                // px / P out, px / P in: the momentum rows divided by P, the momentum columns times P
                const double scale = (i % 2 == 1 ? 1 / p : 1) * (j % 2 == 1 ? p : 1);
                EXPECT_NEAR(tracked(i, j) * scale, m[i][j], 1e-12) << c.ks << " " << i << j;
            }
    }
}

// Rolled by pi/2 every element moves x as the unrolled one moves y, and y as it moves x (the midplane
// symmetric fields are even in the coordinate the roll turns over).
TEST(CoupledTracking, EveryElementRolledByAQuarterTurnTracksWithThePlanesSwapped)
{
    for (const char* name : test::kValidationRings) {
        const State plain = test::validationRing(name);
        State rolled = plain;
        for (int i = 1; i <= rolled.line.count; ++i)
            rolled.line.at(i).tilt = kPi / 2;
        const SymplecticLattice a = test::latticeOf(plain), b = test::latticeOf(rolled);
        for (const PhaseVector& p : {PhaseVector{2e-3, 1e-4, -1e-3, 5e-5, 1e-3, 0},
                                     PhaseVector{-4e-3, 0, 3e-3, -2e-4, -2e-3, 1e-3}}) {
            PhaseVector u = {p.y, p.py, p.x, p.px, p.delta, p.l}, r = p;
            for (int turn = 0; turn < 20; ++turn) {
                u = test::oneTurn(a, u);
                r = test::oneTurn(b, r);
            }
            // cos(pi/2) is 6e-17, not 0: a coupling at rounding level
            const double tolerance = 1e-12;
            EXPECT_NEAR(r.x, u.y, tolerance) << name;
            EXPECT_NEAR(r.px, u.py, tolerance) << name;
            EXPECT_NEAR(r.y, u.x, tolerance) << name;
            EXPECT_NEAR(r.py, u.px, tolerance) << name;
            EXPECT_NEAR(r.l, u.l, tolerance) << name;
        }
    }
}

TEST(CoupledTracking, WhatTheTrackerCannotTakeIsRefusedByName)
{
    State state = test::validationRing("double-bend-sextupoles");
    const struct
    {
        int element; // B at 6, SD at 8
        const char* text;
    } cases[] = {
        {6, "the tracker cannot take element 'B' (6): a skew gradient k1s of a bend"},
        {8, "the tracker cannot take element 'SD' (8): a skew gradient k1s of a sextupole"},
    };
    for (const auto& c : cases) {
        State work = state;
        work.line.at(c.element).k1s = 0.01;
        test::FakeMessages messages;
        TrackingRequest request;
        request.model = TrackingModel::Symplectic;
        EXPECT_FALSE(checkTracking(work, request, messages));
        ASSERT_EQ(messages.errors.size(), 1u);
        EXPECT_EQ(messages.errors[0], c.text);
        EXPECT_EQ(closedOrbit(work).refusal, std::string("no closed orbit: ") + c.text);
    }
    // a roll is tracked, but not by the linear maps
    state.line.at(6).tilt = 0.01;
    test::FakeMessages messages;
    TrackingRequest request;
    request.model = TrackingModel::Symplectic;
    EXPECT_TRUE(checkTracking(state, request, messages));
    request.model = TrackingModel::LinearMaps;
    EXPECT_FALSE(checkTracking(state, request, messages));
}

} // namespace
} // namespace kestrune
