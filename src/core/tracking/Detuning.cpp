#include "core/tracking/Detuning.h"

#include "core/optics/BetaFunctions.h"

#include <cmath>

namespace kestrune {

namespace {

// Gauss-Legendre nodes on 0..1 and their weights, three points: exact for the polynomials of degree 5,
// and beta^2 along a drift is of degree 4.
constexpr double kNodes[3] = {0.1127016653792583115, 0.5, 0.8872983346207416885};
constexpr double kWeights[3] = {5.0 / 18, 8.0 / 18, 5.0 / 18};

// The integrals of beta_x^2, beta_x beta_y and beta_y^2 (m^3) along a drift of length l (m) from the
// entrance values, beta(s) = beta - 2 alpha s + gamma s^2.
void addDrift(const LatticeFunctions& lf, double strength, double l, OctupoleDetuning& sums)
{
    for (int j = 0; j < 3; ++j) {
        const double s = kNodes[j] * l;
        const double bx = lf.betaX - 2 * lf.alphaX * s + lf.gammaX * s * s;
        const double by = lf.betaY - 2 * lf.alphaY * s + lf.gammaY * s * s;
        const double w = strength * kWeights[j] * l;
        sums.xx += w * bx * bx;
        sums.xy += w * bx * by;
        sums.yy += w * by * by;
    }
}

} // namespace

// The octupole's Hamiltonian per metre is k3 (x^4 - 6 x^2 y^2 + y^4) / 24 (MAD-X's sign: px -= k3 x^3 / 6).
// With x = sqrt(2 Jx beta_x) cos(phi_x) and the same in y, its average over the betatron phases uses
// <cos^4> = 3/8 and <cos^2 cos^2> = 1/4:
//   <x^4> = 4 Jx^2 beta_x^2 3/8 = (3/2) Jx^2 beta_x^2,  <x^2 y^2> = Jx Jy beta_x beta_y,
//   <H> = k3 / 24 ((3/2) beta_x^2 Jx^2 - 6 beta_x beta_y Jx Jy + (3/2) beta_y^2 Jy^2).
// The phase advance per turn grows by the ring integral of d<H>/dJ, so with Q = mu / (2 pi)
//   dQx/dJx = (1 / 16 pi) integral of k3 beta_x^2,  dQx/dJy = -(1 / 8 pi) integral of k3 beta_x beta_y,
//   dQy/dJy = (1 / 16 pi) integral of k3 beta_y^2,
// to first order in k3 (a thin multipole's knl[3] = k3 L at its centre).
std::optional<OctupoleDetuning> octupoleDetuning(State& state, Messages& messages)
{
    if (!ringStart(state, messages, nullptr) || !state.run.periodicStable)
        return std::nullopt;
    OctupoleDetuning sums;
    for (int i = 1; i <= state.line.count; ++i) {
        const LatticeElement& e = state.line.at(i);
        if (e.code == code::kOctupole && e.k3 != 0)
            addDrift(state.lf, e.k3, e.length, sums);
        if (e.code == code::kThinMultipole && e.knl.size() > 3 && e.knl[3] != 0) {
            // beta is continuous across the kick: the value at the centre of the length
            LatticeFunctions centre = state.lf;
            const double a = e.length / 2;
            centre.betaX = state.lf.betaX - 2 * state.lf.alphaX * a + state.lf.gammaX * a * a;
            centre.betaY = state.lf.betaY - 2 * state.lf.alphaY * a + state.lf.gammaY * a * a;
            sums.xx += e.knl[3] * centre.betaX * centre.betaX;
            sums.xy += e.knl[3] * centre.betaX * centre.betaY;
            sums.yy += e.knl[3] * centre.betaY * centre.betaY;
        }
        ringTrace(state, messages, i, nullptr);
    }
    const double nsp = state.line.superPeriods;
    return OctupoleDetuning{nsp * sums.xx / (16 * kPi), -nsp * sums.xy / (8 * kPi),
                            nsp * sums.yy / (16 * kPi)};
}

} // namespace kestrune
