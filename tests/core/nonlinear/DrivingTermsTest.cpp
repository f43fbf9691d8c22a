// The driving terms against the program's chromaticity passes, closed forms of a thin-lens ring, MAD-X's
// PTC and the spectral lines of particles tracked with the symplectic tracker.
#include "core/nonlinear/DrivingTerms.h"

#include "core/chromaticity/Chromaticity.h"
#include "core/chromaticity/TestRings.h"
#include "core/ring/Parameter.h"
#include "core/tracking/TrackingRings.h"
#include "support/ExampleLattice.h"

#include <complex>

namespace kestrune {
namespace {

using Complex = std::complex<double>;
using test::append;

// A ring of cells without bends: thick quadrupoles, thick sextupoles mF and mD beside them.
State fodoRing(double mF, double mD, int cells)
{
    State state;
    startParticle(state);
    for (double sign : {1, -1}) {
        append(state, code::kQuadrupole, 0.2).k = 1.6 * sign;
        append(state, code::kDrift, 0.3);
        append(state, code::kSextupoleF, 0.2).m = sign > 0 ? mF : mD;
        append(state, code::kDrift, 1.1);
    }
    state.line.superPeriods = cells;
    return state;
}

DrivingTerms terms(const State& state)
{
    std::string refusal;
    const std::optional<DrivingTerms> t = drivingTerms(state, &refusal);
    EXPECT_TRUE(t.has_value()) << refusal;
    return t.value_or(DrivingTerms{});
}

// h11001 = -pi xi_x and h00111 = -pi xi_y: the quadrupoles' part against the radiation-integral pass
// (closed-form integrals) on a ring without bends, the sextupoles' part against the chromaticity
// window's sums on the example double-bend achromat. Simpson on 5 cm slices (at least 8 in a magnet) of
// beta ~ cosh(2 sqrt(k) s) leaves about 4e-8.
TEST(DrivingTerms, ChromaticTermsAreMinusPiTimesTheChromaticities)
{
    test::FakeMessages messages;
    State fodo = fodoRing(0, 0, 6);
    radiationIntegrals(fodo, messages);
    const DrivingTerms f = terms(fodo);
    const RingParameters& ring = fodo.ringParams;
    EXPECT_NEAR(f[DrivingTerm::H11001].real(), -kPi * ring.chromaticityX,
                1e-6 * std::fabs(ring.chromaticityX));
    EXPECT_NEAR(f[DrivingTerm::H00111].real(), -kPi * ring.chromaticityY,
                1e-6 * std::fabs(ring.chromaticityY));

    State dba = test::exampleState("dba-cell.lat");
    const std::optional<ChromaticityCorrection> c = latticeChromaticity(dba, messages);
    ASSERT_TRUE(c.has_value() && std::fabs(c->sextupoleX) > 1);
    const DrivingTerms with = terms(dba);
    test::setSextupoles(dba, 0);
    const DrivingTerms without = terms(dba);
    const double x = c->sextupoleX + c->specialX, y = c->sextupoleY + c->specialY;
    EXPECT_NEAR((with[DrivingTerm::H11001] - without[DrivingTerm::H11001]).real(), -kPi * x,
                1e-7 * std::fabs(x));
    EXPECT_NEAR((with[DrivingTerm::H00111] - without[DrivingTerm::H00111]).real(), -kPi * y,
                1e-7 * std::fabs(y));
}

// Thin lenses 1/f (with a thin sextupole S) and -1/f as thin multipoles: beta_+- = 2 L (1 +- sin(mu/2)) /
// sin(mu) at the lenses, phases 0 at the first, and the cells add up as sum exp(i n p mu), one cell
// repeated or all written out.
TEST(DrivingTerms, ThinSextupoleRingHasTheClosedForms)
{
    const double length = 2.5, focal = 2.0, s = 0.7;
    const int cells = 7;
    State ring;
    startParticle(ring);
    for (int c = 0; c < cells; ++c) {
        append(ring, code::kThinMultipole, 0).knl = {0, 1 / focal, s};
        append(ring, code::kDrift, length);
        append(ring, code::kThinMultipole, 0).knl = {0, -1 / focal};
        append(ring, code::kDrift, length);
    }
    const DrivingTerms written = terms(ring);
    ring.line.count = 4;
    ring.line.superPeriods = cells;
    const DrivingTerms repeated = terms(ring);
    const double half = length / (2 * focal), mu = 2 * std::asin(half); // sin(mu/2)
    const double bx = 2 * length * (1 + half) / std::sin(mu), by = 2 * length * (1 - half) / std::sin(mu);
    const auto series = [&](int p) {
        Complex sum = 0;
        for (int n = 0; n < cells; ++n)
            sum += std::polar(1.0, p * n * mu);
        return sum;
    };
    const struct
    {
        DrivingTerm term;
        Complex expected;
    } rows[] = {{DrivingTerm::H21000, -s / 16 * std::pow(bx, 1.5) * series(1)},
                {DrivingTerm::H30000, -s / 48 * std::pow(bx, 1.5) * series(3)},
                {DrivingTerm::H10110, s / 8 * std::sqrt(bx) * by * series(1)},
                {DrivingTerm::H10020, s / 16 * std::sqrt(bx) * by * series(-1)},
                {DrivingTerm::H10200, s / 16 * std::sqrt(bx) * by * series(3)}};
    for (const auto& row : rows) {
        SCOPED_TRACE(drivingTermName(row.term));
        EXPECT_LT(std::abs(repeated[row.term] - row.expected), 1e-10 * std::abs(row.expected));
        EXPECT_LT(std::abs(written[row.term] - repeated[row.term]), 1e-10 * std::abs(row.expected));
    }
}

// Against MAD-X's PTC (TRACKRDTS, validation/madx-jobs/double-bend-sextupoles-rdt.madx, ten digits),
// with the sextupoles the linear tracking test below drives, and their lines in the spectrum of a
// tracked particle: f = h / (1 - exp(2 pi i ((j - k) Qx + (l - m) Qy))) makes a line at
// (1 - j + k) Qx + (m - l) Qy in x - i (beta px + alpha x), over sqrt(beta), of amplitude
// 2 j |f| (2 Jx)^((j+k-1)/2) (2 Jy)^((l+m)/2).
TEST(DrivingTerms, GeometricTermsAgreeWithPtcAndTrackedSpectra)
{
    const struct
    {
        DrivingTerm term;
        int j, k, l, m;
        Complex ptc; // GNFC + i GNFS at the ring start
        double x, y; // m, start of the tracked particle
    } rows[] = {
        {DrivingTerm::H21000, 2, 1, 0, 0, {0, -1.320102171}, 0, 0},
        {DrivingTerm::H30000, 3, 0, 0, 0, {0, 0.5603552422}, 1e-3, 0},
        {DrivingTerm::H10110, 1, 0, 1, 1, {0, -4.281644074}, 0, 0},
        {DrivingTerm::H10020, 1, 0, 0, 2, {0, 2.472124405}, 0, 1e-3},
        {DrivingTerm::H10200, 1, 0, 2, 0, {0, 2.535481975}, 0, 1e-3},
    };
    const DrivingTerms ptcRing = terms(test::validationRing("double-bend-sextupoles"));
    State fodo = fodoRing(6.0, -9.0, 6);
    const DrivingTerms h = terms(fodo);
    test::FakeMessages messages;
    ASSERT_TRUE(betaFunctions(fodo, messages, nullptr));
    const LatticeFunctions o = fodo.lf;
    const SymplecticLattice lattice = buildSymplecticLattice(fodo, messages, RfCavity{});
    const auto f = [](const DrivingTerms& t, const auto& row) {
        return t[row.term] /
               (1.0 - std::polar(1.0, kTwoPi * ((row.j - row.k) * t.tuneX + (row.l - row.m) * t.tuneY)));
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(drivingTermName(row.term));
        EXPECT_LT(std::abs(f(ptcRing, row) - row.ptc), 1e-9 * std::abs(row.ptc));
        if (row.x == 0 && row.y == 0)
            continue;
        PhaseVector p0;
        p0.x = row.x;
        p0.y = row.y;
        const int turns = 2048;
        SymplecticRun run(lattice, p0, turns, Aperture{});
        std::vector<PhaseVector> points;
        ASSERT_EQ(run.advance(turns, points), turns);
        // a plane without oscillation has no tune of its own: the optics' then
        const TrackedTunes tracked = trackedTunes(points, false);
        const double qx = row.x != 0 ? tracked.x : h.tuneX - std::floor(h.tuneX);
        const double qy = row.y != 0 ? tracked.y : h.tuneY - std::floor(h.tuneY);
        // the line at frequency nu of z, Hann window
        const auto line = [&](bool x, double nu) {
            Complex sum = 0;
            for (int t = 0; t < turns; ++t) {
                const PhaseVector& p = points[t];
                const double b = x ? o.betaX : o.betaY, u = x ? p.x : p.y, pu = x ? p.px : p.py;
                const Complex z(u, -(b * pu + (x ? o.alphaX : o.alphaY) * u));
                sum += (1 - std::cos(kTwoPi * (t + 0.5) / turns)) * z / std::sqrt(b) *
                       std::polar(1.0, -kTwoPi * nu * t);
            }
            return std::abs(sum) / turns;
        };
        const double ax = row.x != 0 ? line(true, qx) : 0, ay = row.y != 0 ? line(false, qy) : 0;
        const double measured = line(true, (1 - row.j + row.k) * qx + (row.m - row.l) * qy);
        const double expected =
            2 * row.j * std::abs(f(h, row)) * std::pow(ax, row.j + row.k - 1) * std::pow(ay, row.l + row.m);
        EXPECT_NEAR(measured, expected, 5e-4 * expected); // second order in the amplitude: about 1e-5
    }
}

} // namespace
} // namespace kestrune
