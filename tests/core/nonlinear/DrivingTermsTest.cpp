// The driving terms against the program's chromaticity passes, closed forms of a thin-lens ring, MAD-X's
// PTC, the spectral lines of particles tracked with the symplectic tracker and the linear optics of the
// ring off momentum.
#include "core/nonlinear/DrivingTerms.h"

#include "core/chromaticity/Chromaticity.h"
#include "core/chromaticity/TestRings.h"
#include "core/ring/Parameter.h"
#include "core/tracking/TrackingRings.h"
#include "support/ExampleLattice.h"

#include <complex>
#include <functional>

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

// Thin lenses 1/f (with a thin sextupole S) and -1/f (with a thin octupole O) as thin multipoles:
// beta_+- = 2 L (1 +- sin(mu/2)) / sin(mu) at the lenses, phases 0 at the first and mu/2 at the second,
// and the cells add up as sum exp(i n p mu), one cell repeated, all written out, or with the second lens
// given a length (its kick at the centre, the drifts shorter by half of it each). The octupole's
// first-order detuning is N O beta^2 / 16 pi, -N O bx by / 8 pi, N O by^2 / 16 pi.
TEST(DrivingTerms, ThinSextupoleRingHasTheClosedForms)
{
    const double length = 2.5, focal = 2.0, s = 0.7, o = 40, a = 0.3;
    const int cells = 7;
    State ring;
    startParticle(ring);
    for (int c = 0; c < cells; ++c) {
        append(ring, code::kThinMultipole, 0).knl = {0, 1 / focal, s};
        append(ring, code::kDrift, length);
        append(ring, code::kThinMultipole, 0).knl = {0, -1 / focal, 0, o};
        append(ring, code::kDrift, length);
    }
    const DrivingTerms written = terms(ring);
    ring.line.count = 4;
    ring.line.superPeriods = cells;
    const DrivingTerms repeated = terms(ring);
    ring.line.at(2).length = ring.line.at(4).length = length - a;
    ring.line.at(3).length = 2 * a;
    const DrivingTerms thick = terms(ring);
    const double half = length / (2 * focal), mu = 2 * std::asin(half); // sin(mu/2)
    const double bx = 2 * length * (1 + half) / std::sin(mu), by = 2 * length * (1 - half) / std::sin(mu);
    const auto series = [&](int p) {
        Complex sum = 0;
        for (int n = 0; n < cells; ++n)
            sum += std::polar(1.0, p * n * mu);
        return sum;
    };
    const auto term = [](DrivingTerm t) { return [t](const DrivingTerms& h) { return h[t]; }; };
    const struct
    {
        const char* name;
        std::function<Complex(const DrivingTerms&)> value;
        Complex expected;
    } rows[] = {
        {"h21000", term(DrivingTerm::H21000), -s / 16 * std::pow(bx, 1.5) * series(1)},
        {"h30000", term(DrivingTerm::H30000), -s / 48 * std::pow(bx, 1.5) * series(3)},
        {"h10110", term(DrivingTerm::H10110), s / 8 * std::sqrt(bx) * by * series(1)},
        {"h10020", term(DrivingTerm::H10020), s / 16 * std::sqrt(bx) * by * series(-1)},
        {"h10200", term(DrivingTerm::H10200), s / 16 * std::sqrt(bx) * by * series(3)},
        {"h11001", term(DrivingTerm::H11001), cells * (bx - by) / (4 * focal)},
        {"h20001", term(DrivingTerm::H20001), (bx - by * std::polar(1.0, mu)) / (8 * focal) * series(2)},
        {"octupole xx", [](const DrivingTerms& h) { return Complex(h.octupoles.xx); },
         cells * o * by * by / (16 * kPi)},
        {"octupole xy", [](const DrivingTerms& h) { return Complex(h.octupoles.xy); },
         -cells * o * by * bx / (8 * kPi)},
        {"octupole yy", [](const DrivingTerms& h) { return Complex(h.octupoles.yy); },
         cells * o * bx * bx / (16 * kPi)},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_LT(std::abs(row.value(repeated) - row.expected), 1e-10 * std::abs(row.expected));
        EXPECT_LT(std::abs(row.value(written) - row.expected), 1e-10 * std::abs(row.expected));
        EXPECT_LT(std::abs(row.value(thick) - row.expected), 1e-10 * std::abs(row.expected));
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

// The chromatic terms against the periodic solution of the linear optics of the ring off momentum. At
// delta the quadrupoles' K1 becomes K1 / (1 + delta) and a thin sextupole K2L on the closed orbit
// x_co = eta delta + O(delta^2) adds a thin quadrupole K2L x_co: the focusing error is
// k = -(K1 - K2 eta) delta (bends keep their curvature and faces, which these terms leave out).
// A periodic focusing error k changes the periodic solution at s = 0, where the phases start, by
//   B = dbeta/beta = -1/(2 sin 2 pi Q) int k beta cos(2 phi - 2 pi Q),
//   A = dalpha - alpha B = -beta B'/2 = 1/(2 sin 2 pi Q) int k beta sin(2 phi - 2 pi Q),
// (the kernel is the periodic response of beta to a thin lens; a lens at s alone gives -q beta cot(2 pi
// Q) / 2, the change of M12 / sin mu), so that with h20001 = int (K1 - K2 eta) beta e^(2 i phi) / 8
// and h00201 its vertical mirror (y sees -k):
//   B - i A = 4 delta e^(-2 pi i Q) h / sin(2 pi Q) in either plane.
// The second-order orbit x_co = eta delta + eta2 delta^2 solves eta2'' + K eta2 = (K1 - K2 eta / 2) eta,
// the orbit seeing half the sextupole's feed-down (K2 x^2 / 2 = (K2 x_co / 2) x_co): it is the
// derivative in delta of the dispersion of the line with K1 / (1 + delta) and thin lenses K2L eta delta
// / 2. The periodic response to a force f, w = x / sqrt(beta) = 1/(2 sin pi Q) int f sqrt(beta)
// cos(|phi - phi'| - pi Q), and beta w' = sqrt(beta) x' + alpha x / sqrt(beta) give at s = 0
//   eta2 / sqrt(beta) + i (sqrt(beta) eta2' + alpha eta2 / sqrt(beta)) = e^(-i pi Q) h10002 / sin(pi Q)
// with h10002 = int (K1 - K2 eta / 2) eta sqrt(beta) e^(i phi) / 2. Simpson's rule on the quadrupoles
// leaves a few 1e-7 of each magnet's share, up to 1e-5 of the ring sum where the cells' shares cancel
// (4e-6 here); the central differences leave delta^2 ~ 1e-8.
TEST(DrivingTerms, ChromaticTermsGiveTheOffMomentumOptics)
{
    const State ring = test::validationRing("double-bend-thin-sextupoles");
    const DrivingTerms h = terms(ring);
    test::FakeMessages messages;
    State design = ring;
    ASSERT_TRUE(betaFunctions(design, messages, nullptr));
    const RunSettings o = design.run;
    std::vector<double> eta(static_cast<std::size_t>(ring.line.count) + 1);
    ASSERT_TRUE(ringStart(design, messages, nullptr));
    for (int i = 1; i <= ring.line.count; ++i) {
        ringTrace(design, messages, i, nullptr);
        eta[static_cast<std::size_t>(i)] = design.lf.eta;
    }
    // the periodic solution at delta, the thin sextupoles fed down by feed eta delta
    const auto offMomentum = [&](double delta, double feed) {
        State off = ring;
        for (int i = 1; i <= off.line.count; ++i) {
            LatticeElement& e = off.line.at(i);
            e.k /= 1 + delta;
            if (e.code == code::kThinMultipole && e.knl.size() > 2)
                e.knl[1] =
                    e.knl[1] / (1 + delta) + e.knl[2] * feed * eta[static_cast<std::size_t>(i)] * delta;
        }
        EXPECT_TRUE(periodicSolution(off, messages));
        return off.run;
    };
    const double delta = 1e-4; // central differences: delta^2 ~ 1e-8 of the first order
    const RunSettings plus = offMomentum(delta, 1), minus = offMomentum(-delta, 1);
    const RunSettings orbitPlus = offMomentum(delta, 0.5), orbitMinus = offMomentum(-delta, 0.5);
    const auto beat = [&](double betaPlus, double betaMinus, double alphaPlus, double alphaMinus, double beta,
                          double alpha) {
        const double b = (betaPlus - betaMinus) / (2 * delta) / beta;
        const double a = (alphaPlus - alphaMinus) / (2 * delta) - alpha * b;
        return Complex(b, -a);
    };
    const double eta2 = (orbitPlus.etaX0 - orbitMinus.etaX0) / (2 * delta);
    const double eta2P = (orbitPlus.etaPX0 - orbitMinus.etaPX0) / (2 * delta);
    const double rx = std::sqrt(o.betaX0);
    const struct
    {
        DrivingTerm term;
        Complex optics;
        double tune; // the phase factor's: 2 Q for the beta-beat, Q for the orbit
        double scale;
    } rows[] = {
        {DrivingTerm::H20001,
         beat(plus.betaX0, minus.betaX0, plus.alphaX0, minus.alphaX0, o.betaX0, o.alphaX0), 2 * h.tuneX, 4},
        {DrivingTerm::H00201,
         beat(plus.betaY0, minus.betaY0, plus.alphaY0, minus.alphaY0, o.betaY0, o.alphaY0), 2 * h.tuneY, 4},
        {DrivingTerm::H10002, Complex(eta2 / rx, rx * eta2P + o.alphaX0 * eta2 / rx), h.tuneX, 1},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(drivingTermName(row.term));
        const Complex expected =
            row.scale * std::polar(1.0, -kPi * row.tune) * h[row.term] / std::sin(kPi * row.tune);
        ASSERT_GT(std::abs(expected), 0.1);
        EXPECT_LT(std::abs(row.optics - expected), 2e-5 * std::abs(expected));
    }
}

} // namespace
} // namespace kestrune
