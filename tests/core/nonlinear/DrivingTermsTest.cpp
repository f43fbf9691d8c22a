// The driving terms against the program's chromaticity passes, closed forms of a thin-lens ring, MAD-X's
// PTC and the spectral lines of particles tracked with the symplectic tracker.
#include "core/nonlinear/DrivingTerms.h"

#include "core/chromaticity/Chromaticity.h"
#include "core/io/LatticeFile.h"
#include "core/optics/BetaFunctions.h"
#include "core/ring/Parameter.h"
#include "core/tracking/ParticleTracker.h"
#include "core/tracking/SymplecticLattice.h"
#include "core/tracking/TuneAnalysis.h"
#include "support/ExampleLattice.h"
#include "support/FakeMessages.h"

#include <cmath>
#include <complex>
#include <gtest/gtest.h>
#include <string>

namespace kestrune {
namespace {

using Complex = std::complex<double>;

LatticeElement& append(State& state, int elementCode, double length)
{
    ++state.line.count;
    LatticeElement& e = state.line.at(state.line.count);
    e = LatticeElement{};
    e.code = elementCode;
    e.length = length;
    state.line.chainPositions();
    return e;
}

// A ring of cells without bends: thick quadrupoles, thick sextupoles mF and mD beside them.
State fodoRing(double mF, double mD, int cells)
{
    State state;
    startParticle(state);
    append(state, code::kQuadrupole, 0.2).k = 1.6;
    append(state, code::kDrift, 0.3);
    append(state, code::kSextupoleF, 0.2).m = mF;
    append(state, code::kDrift, 1.1);
    append(state, code::kQuadrupole, 0.2).k = -1.6;
    append(state, code::kDrift, 0.3);
    append(state, code::kSextupoleD, 0.2).m = mD;
    append(state, code::kDrift, 1.1);
    state.line.superPeriods = cells;
    state.ringClosed = true;
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
// (its closed-form integrals in the quadrupoles) on a ring without bends, the sextupoles' part against
// the chromaticity window's sums on the example double-bend achromat.
TEST(DrivingTerms, ChromaticTermsAreMinusPiTimesTheChromaticities)
{
    test::FakeMessages messages;
    State fodo = fodoRing(0, 0, 6);
    radiationIntegrals(fodo, messages);
    const DrivingTerms f = terms(fodo);
    // Simpson's rule on 2 cm slices of beta ~ cosh(2 sqrt(k) s): relative error about 1e-8
    EXPECT_NEAR(f[DrivingTerm::H11001].real(), -kPi * fodo.ringParams.chromaticityX,
                1e-7 * std::fabs(fodo.ringParams.chromaticityX));
    EXPECT_NEAR(f[DrivingTerm::H00111].real(), -kPi * fodo.ringParams.chromaticityY,
                1e-7 * std::fabs(fodo.ringParams.chromaticityY));
    EXPECT_EQ(f[DrivingTerm::H11001].imag(), 0);

    State dba = test::exampleState("dba-cell.lat");
    const std::optional<ChromaticityCorrection> c = latticeChromaticity(dba, messages);
    ASSERT_TRUE(c.has_value());
    ASSERT_GT(std::fabs(c->sextupoleX), 1);
    const DrivingTerms with = terms(dba);
    for (int i = 1; i <= dba.line.count; ++i)
        if (familyOf(dba.line.at(i).code) == static_cast<int>(Family::Sextupole))
            dba.line.at(i).m = 0;
    const DrivingTerms without = terms(dba);
    const double sextupolesX = c->sextupoleX + c->specialX;
    const double sextupolesY = c->sextupoleY + c->specialY;
    EXPECT_NEAR((with[DrivingTerm::H11001] - without[DrivingTerm::H11001]).real(), -kPi * sextupolesX,
                1e-7 * std::fabs(sextupolesX));
    EXPECT_NEAR((with[DrivingTerm::H00111] - without[DrivingTerm::H00111]).real(), -kPi * sextupolesY,
                1e-7 * std::fabs(sextupolesY));
}

// A FODO ring of (nearly) thin lenses 1/f, -1/f, quadrupoles of length 10 um, with a thin sextupole S at
// the focusing lens's centre: beta_+- = 2 L (1 +- sin(mu/2)) / sin(mu) there (thick-lens corrections of
// relative order 1e-5 / f), phases 0, and the cells add up as the geometric series sum exp(i n p mu),
// whether one cell is repeated or written out.
TEST(DrivingTerms, ThinSextupoleRingHasTheClosedForms)
{
    const double length = 2.5, focal = 2.0, strength = 0.7, lens = 1e-5;
    const int cells = 7;
    State ring;
    startParticle(ring);
    for (int c = 0; c < cells; ++c) {
        append(ring, code::kThinMultipole, 0).knl = {0, 0, strength};
        append(ring, code::kQuadrupole, lens / 2).k = 1 / (focal * lens);
        append(ring, code::kDrift, length - lens);
        append(ring, code::kQuadrupole, lens).k = -1 / (focal * lens);
        append(ring, code::kDrift, length - lens);
        append(ring, code::kQuadrupole, lens / 2).k = 1 / (focal * lens);
    }
    const DrivingTerms written = terms(ring);
    ring.line.count = 6;
    ring.line.superPeriods = cells;
    const DrivingTerms repeated = terms(ring);

    const double half = length / (2 * focal); // sin(mu/2)
    const double mu = 2 * std::asin(half);
    const double bx = 2 * length * (1 + half) / std::sin(mu);
    const double by = 2 * length * (1 - half) / std::sin(mu);
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
    } rows[] = {
        {DrivingTerm::H21000, -strength / 16 * std::pow(bx, 1.5) * series(1)},
        {DrivingTerm::H30000, -strength / 48 * std::pow(bx, 1.5) * series(3)},
        {DrivingTerm::H10110, strength / 8 * std::sqrt(bx) * by * series(1)},
        {DrivingTerm::H10020, strength / 16 * std::sqrt(bx) * by * series(-1)},
        {DrivingTerm::H10200, strength / 16 * std::sqrt(bx) * by * series(3)},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(drivingTermName(row.term));
        EXPECT_NEAR(std::abs(repeated[row.term] - row.expected), 0, 2e-5 * std::abs(row.expected));
        EXPECT_NEAR(std::abs(written[row.term] - repeated[row.term]), 0, 1e-10 * std::abs(row.expected));
    }
}

// MAD-X's PTC (TRACKRDTS, validation/madx-jobs/double-bend-sextupoles-rdt.madx): the generating-function
// terms f = h / (1 - exp(2 pi i ((j - k) Qx + (l - m) Qy))) of the ring at its start, ten digits.
TEST(DrivingTerms, GeometricTermsAgreeWithPtcOnTheDoubleBendRing)
{
    State state;
    startParticle(state);
    test::FakeMessages messages;
    ASSERT_TRUE(
        readLatticeFile(state, messages, std::string(KESTRUNE_VALIDATION) + "/double-bend-sextupoles.lat"));
    const DrivingTerms h = terms(state);
    const struct
    {
        DrivingTerm term;
        int p, q; // (j - k), (l - m)
        Complex ptc;
    } rows[] = {
        {DrivingTerm::H21000, 1, 0, {0, -1.320102171}}, {DrivingTerm::H30000, 3, 0, {0, 0.5603552422}},
        {DrivingTerm::H10110, 1, 0, {0, -4.281644074}}, {DrivingTerm::H10020, 1, -2, {0, 2.472124405}},
        {DrivingTerm::H10200, 1, 2, {0, 2.535481975}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(drivingTermName(row.term));
        const Complex f = h[row.term] / (1.0 - std::polar(1.0, kTwoPi * (row.p * h.tuneX + row.q * h.tuneY)));
        EXPECT_NEAR(std::abs(f - row.ptc), 0, 1e-9 * std::abs(row.ptc));
    }
}

// Harmonic amplitude of the signal z at frequency nu (turns), Hann window.
Complex line(const std::vector<Complex>& z, double nu)
{
    Complex sum = 0;
    double weights = 0;
    const double n = static_cast<double>(z.size());
    for (std::size_t t = 0; t < z.size(); ++t) {
        const double w = 1 - std::cos(kTwoPi * (t + 0.5) / n);
        sum += w * z[t] * std::polar(1.0, -kTwoPi * nu * static_cast<double>(t));
        weights += w;
    }
    return sum / weights;
}

// The spectral lines of a particle tracked at small amplitude: in x - i (beta px + alpha x), over
// sqrt(beta), the term f_jklm = h_jklm / (1 - exp(2 pi i ((j - k) Qx + (l - m) Qy))) makes a line at
// (1 - j + k) Qx + (m - l) Qy of amplitude 2 j |f| (2 Jx)^((j+k-1)/2) (2 Jy)^((l+m)/2).
TEST(DrivingTerms, GeometricTermsAreTheSpectralLinesOfTrackedParticles)
{
    State state = fodoRing(6.0, -9.0, 6);
    const DrivingTerms h = terms(state);
    test::FakeMessages messages;
    State pass = state;
    ASSERT_TRUE(betaFunctions(pass, messages, nullptr));
    const LatticeFunctions start = pass.lf;
    const SymplecticLattice lattice = buildSymplecticLattice(pass, messages, RfCavity{});
    const struct
    {
        DrivingTerm term;
        double x, y; // m, start
        int a, b;    // the line at a Qx + b Qy
        int j, k, l, m;
    } rows[] = {
        {DrivingTerm::H30000, 1e-3, 0, -2, 0, 3, 0, 0, 0},
        {DrivingTerm::H10020, 0, 1e-3, 0, 2, 1, 0, 0, 2},
        {DrivingTerm::H10200, 0, 1e-3, 0, -2, 1, 0, 2, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(drivingTermName(row.term));
        PhaseVector p0;
        p0.x = row.x;
        p0.y = row.y;
        const int turns = 2048;
        SymplecticRun run(lattice, p0, turns, Aperture{});
        std::vector<PhaseVector> points;
        run.advance(turns, points);
        ASSERT_EQ(points.size(), static_cast<std::size_t>(turns));
        std::vector<Complex> zx, zy;
        std::vector<double> x, px, y, py;
        for (const PhaseVector& p : points) {
            zx.emplace_back(p.x / std::sqrt(start.betaX),
                            -(start.betaX * p.px + start.alphaX * p.x) / std::sqrt(start.betaX));
            zy.emplace_back(p.y / std::sqrt(start.betaY),
                            -(start.betaY * p.py + start.alphaY * p.y) / std::sqrt(start.betaY));
            x.push_back(p.x);
            px.push_back(p.px);
            y.push_back(p.y);
            py.push_back(p.py);
        }
        const double qx = row.x != 0 ? fractionalTune(x, px) : h.tuneX - std::floor(h.tuneX);
        const double qy = row.y != 0 ? fractionalTune(y, py) : h.tuneY - std::floor(h.tuneY);
        const double jx = row.x != 0 ? std::abs(line(zx, qx)) : 0; // sqrt(2 Jx)
        const double jy = row.y != 0 ? std::abs(line(zy, qy)) : 0;
        const double measured = std::abs(line(zx, row.a * qx + row.b * qy));
        const Complex denominator =
            1.0 - std::polar(1.0, kTwoPi * ((row.j - row.k) * h.tuneX + (row.l - row.m) * h.tuneY));
        const double f = std::abs(h[row.term] / denominator);
        const double expected = 2 * row.j * f * std::pow(jx, row.j + row.k - 1) * std::pow(jy, row.l + row.m);
        EXPECT_NEAR(measured, expected, 5e-4 * expected); // second order: about 1e-5
    }
}

} // namespace
} // namespace kestrune
