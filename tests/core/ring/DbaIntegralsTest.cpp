// The radiation integrals of the example double-bend achromat against a fine-sliced integration with
// matrices and a periodic solution of this test's own.
#include "core/io/LatticeFile.h"
#include "core/ring/Parameter.h"
#include "core/ring/RingGeometry.h"
#include "support/FakeMessages.h"

#include <cmath>
#include <gtest/gtest.h>
#include <vector>

namespace kestrune {
namespace {

// One plane of a thick element of focusing K over length s: C, S, C', S', and the dispersion D, D'
// that a curvature h drives.
struct Block
{
    double c = 1, s = 0, cp = 0, sp = 1, d = 0, dp = 0;
};

Block block(double kk, double length, double h)
{
    Block b;
    if (kk > 0) {
        const double q = std::sqrt(kk);
        b = {std::cos(q * length), std::sin(q * length) / q, -q * std::sin(q * length), std::cos(q * length)};
    } else if (kk < 0) {
        const double q = std::sqrt(-kk);
        b = {std::cosh(q * length), std::sinh(q * length) / q, q * std::sinh(q * length),
             std::cosh(q * length)};
    } else {
        b.s = length;
    }
    b.d = kk != 0 ? h * (1 - b.c) / kk : h * length * length / 2;
    b.dp = h * b.s;
    return b;
}

struct Functions
{
    double betaX, alphaX, betaY, alphaY, eta, etaP;
    double gammaX() const { return (1 + alphaX * alphaX) / betaX; }
};

void carry(double& beta, double& alpha, const Block& b)
{
    const double gamma = (1 + alpha * alpha) / beta;
    const double beta1 = b.c * b.c * beta - 2 * b.c * b.s * alpha + b.s * b.s * gamma;
    alpha = -b.c * b.cp * beta + (b.c * b.sp + b.s * b.cp) * alpha - b.s * b.sp * gamma;
    beta = beta1;
}

void carry(Functions& f, const Block& x, const Block& y)
{
    carry(f.betaX, f.alphaX, x);
    carry(f.betaY, f.alphaY, y);
    const double eta = x.c * f.eta + x.s * f.etaP + x.d;
    f.etaP = x.cp * f.eta + x.sp * f.etaP + x.dp;
    f.eta = eta;
}

// a thin pole face: x' += h tan(psi) x, y' -= h (tan(psi) + h gap / (3 cos^2 psi)) y
std::pair<Block, Block> face(const LatticeElement& e, double psi)
{
    Block x, y;
    x.cp = e.curvature * std::tan(psi);
    y.cp = -e.curvature * (std::tan(psi) + e.curvature * e.gap / (3 * std::cos(psi) * std::cos(psi)));
    return {x, y};
}

bool hasFaces(const LatticeElement& e)
{
    return e.code == code::kRectangularBend || e.code == code::kWedgeBend;
}

std::pair<Block, Block> body(const LatticeElement& e, double length)
{
    switch (familyOf(e.code)) {
    case static_cast<int>(Family::Bend):
        return {block(e.curvature * e.curvature + e.k, length, e.curvature), block(-e.k, length, 0)};
    case static_cast<int>(Family::Quadrupole):
        return {block(e.k, length, 0), block(-e.k, length, 0)};
    default:
        return {block(0, length, 0), block(0, length, 0)};
    }
}

// Each plane's one-cell matrix from unit start vectors; the periodic functions from it.
Functions periodicFunctions(const BeamLine& line)
{
    // track the three columns (x, x', dispersion source) and the two vertical columns as functions
    double mx[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    double my[2][2] = {{1, 0}, {0, 1}};
    const auto apply = [&](const Block& x, const Block& y) {
        for (int col = 0; col < 3; ++col) {
            const double a = mx[0][col], b = mx[1][col], d = mx[2][col];
            mx[0][col] = x.c * a + x.s * b + x.d * d;
            mx[1][col] = x.cp * a + x.sp * b + x.dp * d;
        }
        for (int col = 0; col < 2; ++col) {
            const double a = my[0][col], b = my[1][col];
            my[0][col] = y.c * a + y.s * b;
            my[1][col] = y.cp * a + y.sp * b;
        }
    };
    for (int i = 1; i <= line.count; ++i) {
        const LatticeElement& e = line.at(i);
        if (hasFaces(e))
            apply(face(e, e.ain).first, face(e, e.ain).second);
        const auto [x, y] = body(e, e.length);
        apply(x, y);
        if (hasFaces(e))
            apply(face(e, e.aout).first, face(e, e.aout).second);
    }
    const auto twiss = [](double m11, double m12, double m22, double& beta, double& alpha) {
        const double cosMu = (m11 + m22) / 2;
        const double sinMu = (m12 > 0 ? 1 : -1) * std::sqrt(1 - cosMu * cosMu);
        beta = m12 / sinMu;
        alpha = (m11 - m22) / (2 * sinMu);
    };
    Functions f{};
    twiss(mx[0][0], mx[0][1], mx[1][1], f.betaX, f.alphaX);
    twiss(my[0][0], my[0][1], my[1][1], f.betaY, f.alphaY);
    // (1 - M) (eta, eta') = (M13, M23)
    const double a = 1 - mx[0][0], b = -mx[0][1], c = -mx[1][0], d = 1 - mx[1][1];
    const double det = a * d - b * c;
    f.eta = (d * mx[0][2] - b * mx[1][2]) / det;
    f.etaP = (-c * mx[0][2] + a * mx[1][2]) / det;
    return f;
}

struct Integrals
{
    double i[5] = {};
    double slicingError[5] = {}; // the trapezoid error of the pass's slices, L l^2 max|f''| / 12
};

// Simpson's rule on fine slices through every bend; straight elements are only carried.
Integrals fineIntegrals(const BeamLine& line, int superPeriods)
{
    constexpr int kFine = 4000;
    Integrals result;
    Functions f = periodicFunctions(line);
    for (int i = 1; i <= line.count; ++i) {
        const LatticeElement& e = line.at(i);
        const double h = e.curvature;
        const bool bend = familyOf(e.code) == static_cast<int>(Family::Bend);
        if (bend && hasFaces(e)) {
            result.i[3] -= f.eta * h * h * std::tan(e.ain);
            const auto [x, y] = face(e, e.ain);
            carry(f, x, y);
        }
        if (!bend) {
            const auto [x, y] = body(e, e.length);
            carry(f, x, y);
            continue;
        }
        const double ds = e.length / kFine;
        const auto [x, y] = body(e, ds);
        std::vector<std::array<double, 5>> samples;
        for (int j = 0; j <= kFine; ++j) {
            if (j > 0)
                carry(f, x, y);
            const double curlyH =
                f.gammaX() * f.eta * f.eta + 2 * f.alphaX * f.eta * f.etaP + f.betaX * f.etaP * f.etaP;
            samples.push_back({f.eta * h, h * h, std::fabs(h * h * h), f.eta * h * (h * h + 2 * e.k),
                               curlyH * std::fabs(h * h * h)});
        }
        const int coarse = static_cast<int>(10 * e.length) + 1;
        const double l = e.length / coarse;
        for (int q = 0; q < 5; ++q) {
            double sum = samples[0][q] + samples[kFine][q];
            double maxCurvature = 0;
            for (int j = 1; j < kFine; ++j) {
                sum += (j % 2 ? 4 : 2) * samples[j][q];
                const double second = (samples[j + 1][q] - 2 * samples[j][q] + samples[j - 1][q]) / (ds * ds);
                maxCurvature = std::max(maxCurvature, std::fabs(second));
            }
            result.i[q] += sum * ds / 3;
            result.slicingError[q] += e.length * l * l * maxCurvature / 12;
        }
        if (hasFaces(e)) {
            result.i[3] -= f.eta * h * h * std::tan(e.aout);
            const auto [xo, yo] = face(e, e.aout);
            carry(f, xo, yo);
        }
    }
    for (int q = 0; q < 5; ++q) {
        result.i[q] *= superPeriods;
        result.slicingError[q] *= superPeriods;
    }
    return result;
}

void compare(const State& state, const Integrals& fine)
{
    const RingParameters& r = state.ringParams;
    const double pass[5] = {r.i1, r.i2, r.i3, r.i4, r.i5};
    for (int q = 0; q < 5; ++q) {
        SCOPED_TRACE("I" + std::to_string(q + 1));
        // the pass's mean over a slice of a product differs from the trapezoid of the product by the
        // same order as the trapezoid's own error: twice the trapezoid bound covers both
        EXPECT_NEAR(pass[q], fine.i[q], 2 * fine.slicingError[q] + 1e-12 * std::fabs(fine.i[q]));
    }
}

State dbaRing(test::FakeMessages& messages)
{
    State state;
    EXPECT_TRUE(readLatticeFile(state, messages, std::string(KESTRUNE_EXAMPLES) + "/dba-cell.lat"));
    state.ringParams.circumference = lSup(state.line) * state.line.superPeriods;
    return state;
}

TEST(DbaIntegrals, ExampleRingMatchesFineIntegration)
{
    test::FakeMessages messages;
    State state = dbaRing(messages);
    radiationIntegrals(state, messages);
    ASSERT_TRUE(messages.errors.empty());
    const Integrals fine = fineIntegrals(state.line, state.line.superPeriods);
    compare(state, fine);
    // the cell is an achromat with 15 deg bends: I1 small but positive, I4 = I1 h^2 of the bends
    EXPECT_GT(state.ringParams.i1, 0);
    EXPECT_GT(state.ringParams.i5, 0);
}

TEST(DbaIntegrals, RectangularBendsMatchFineIntegrationWithTheirFaces)
{
    test::FakeMessages messages;
    State state = dbaRing(messages);
    for (int i = 1; i <= state.line.count; ++i) {
        LatticeElement& e = state.line.at(i);
        if (e.code == code::kSectorBend) {
            e.code = code::kRectangularBend;
            e.ain = e.aout = e.length * e.curvature / 2;
        }
    }
    radiationIntegrals(state, messages);
    ASSERT_TRUE(messages.errors.empty());
    compare(state, fineIntegrals(state.line, state.line.superPeriods));
}

} // namespace
} // namespace kestrune
