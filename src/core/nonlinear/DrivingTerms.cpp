#include "core/nonlinear/DrivingTerms.h"

#include "core/optics/BetaFunctions.h"
#include "core/optics/TransferMatrix.h"

#include <algorithm>
#include <cmath>

namespace kestrune {

// First-order driving terms, Bengtsson's conventions (SLS note SLS-TME-TA-1997-0009).
//
// In the normalised coordinates of each plane, x = sqrt(beta) (h+ + h-) / 2 with h+- = sqrt(2 J)
// e^(+-i phi) (phi the betatron phase, 2 pi times the phase advance from the cell start), the
// perturbation of the linear motion, integrated over the ring, is written
//   V = -sum h_jklmp (h_x+)^j (h_x-)^k (h_y+)^l (h_y-)^m delta^p,
// h_jklmp the integral of minus the coefficient of that monomial (the minus sign is Bengtsson's, and the
// Accelerator Toolbox's and elegant's; the terms of the first-order generating function are
// f_jklmp = h_jklmp / (1 - exp(2 pi i [(j - k) Qx + (l - m) Qy])), Franchi's f, whose spectral line
// in x - i beta px - i alpha x over sqrt(beta) has amplitude 2 j |f| (2 Jx)^((j+k-1)/2) (2 Jy)^((l+m)/2)).
//
// Sextupole of strength K2 (MAD-X K2, px -= K2/2 (x^2 - y^2) per metre): V = K2/6 (x^3 - 3 x y^2).
// Expanding the powers of x = sqrt(beta_x) (h+ + h-)/2 and y alike:
//   x^3:     h+^2 h- has 3 bx^(3/2)/8, h+^3 has bx^(3/2)/8
//   x y^2:   hx+ hy+ hy- has 2 sqrt(bx) by / 8, hx+ hy-^2 and hx+ hy+^2 have sqrt(bx) by / 8
// so that, per metre of sextupole, with MAD-X's K2 (Bengtsson's b3 = K2/2):
//   h21000 = -K2 bx^(3/2) e^(i phx) / 16        h30000 = -K2 bx^(3/2) e^(3 i phx) / 48
//   h10110 =  K2 sqrt(bx) by e^(i phx) / 8      h10020 =  K2 sqrt(bx) by e^(i (phx - 2 phy)) / 16
//   h10200 =  K2 sqrt(bx) by e^(i (phx + 2 phy)) / 16
// Off momentum (x -> x + eta delta, the quadrupole K1 -> K1 / (1 + delta)) the terms quadratic in the
// betatron coordinates and linear in delta are -(K1 - K2 eta) delta (x^2 - y^2) / 2, those linear in x
// and quadratic in delta (the orbit term K1 eta delta x is the dispersion's own) -(K1 - K2 eta / 2)
// eta delta^2 x; hence
//   h11001 =  (K1 - K2 eta) bx / 4              h00111 = -(K1 - K2 eta) by / 4
//   h20001 =  (K1 - K2 eta) bx e^(2 i phx) / 8  h00201 = -(K1 - K2 eta) by e^(2 i phy) / 8
//   h10002 =  (K1 - K2 eta / 2) eta sqrt(bx) e^(i phx) / 2
// These are the Accelerator Toolbox's (computeRDT, b3 = PolynomB(3) = K2/2) and elegant's sums. The
// geometric f_jklm are MAD-X PTC's generating-function terms (PTC_TWISS with TRACKRDTS: GNFC + i GNFS;
// validation/madx-jobs/double-bend-sextupoles-rdt.madx agrees to its ten digits); PTC's chromatic terms
// also hold the bends' curvature terms and differ. The averaged terms give the chromaticities:
// V = -h11001 2 Jx delta moves the phase by dV/dJx per turn, so xi_x = -h11001 / pi and
// xi_y = -h00111 / pi. A bend counts with its gradient k as K1 only: the weak focusing h^2, the terms of
// the curved frame in h eta and the pole faces are left out, as in the Accelerator Toolbox and elegant,
// so that h11001 is -pi times the chromaticity of the gradients and sextupoles alone, not the ring's
// natural chromaticity of the radiation-integral pass.
//
// The integrals run over each thick magnet with Simpson's rule on slices of at most 2 cm (at least
// eight, at most 2000 and the line's share of the slices of a pass), the lattice functions carried
// through the slices by the optics' own element matrices. A thin multipole (code 60) counts with
// K1 L = knl[1] and K2 L = knl[2] at its place (its kick changes alpha, not beta, eta or the phases).
// Octupoles drive no first-order term of these. Phases start at the cell's start. The
// ring of N cells sums each cell term with the phase advance of the cells before:
//   h_ring = h_cell sum_{n=0}^{N-1} exp(2 pi i n [(j - k) mu_x + (l - m) mu_y]), mu the cell's tunes.

namespace {

constexpr double kLongestSlice = 0.05; // m, of the Simpson rule in a magnet
constexpr int kFewestSlices = 8;
constexpr int kMostSlices = 2000;

// (j - k, l - m) of every term, in the order of DrivingTerm.
constexpr int kHarmonic[kDrivingTermCount][2] = {{1, 0}, {3, 0}, {1, 0}, {1, -2}, {1, 2},
                                                 {0, 0}, {0, 0}, {2, 0}, {0, 2},  {1, 0}};

const char* const kNames[kDrivingTermCount] = {"h21000", "h30000", "h10110", "h10020", "h10200",
                                               "h11001", "h00111", "h20001", "h00201", "h10002"};

// One point of a magnet: k1 = K1 w and k2 = K2 w with the weight w (m) of its share of the integral.
void addPoint(const LatticeFunctions& lf, double k1, double k2, DrivingTermValues& h,
              std::vector<SextupolePoint>& points)
{
    if (k1 == 0 && k2 == 0)
        return;
    if (k2 != 0)
        points.push_back({k2, lf.betaX, lf.betaY, lf.phiX, lf.phiY});
    const double bx = lf.betaX;
    const double by = lf.betaY;
    const double rx = std::sqrt(bx);
    const double phx = kTwoPi * lf.phiX;
    const double phy = kTwoPi * lf.phiY;
    // the harmonics as powers of the two phase factors: two sine-cosine pairs per point
    const std::complex<double> ex = std::polar(1.0, phx), ey = std::polar(1.0, phy);
    const std::complex<double> ex2 = ex * ex, ey2 = ey * ey;
    const double c = k1 - k2 * lf.eta;
    h[0] += -k2 * bx * rx / 16 * ex;
    h[1] += -k2 * bx * rx / 48 * (ex2 * ex);
    h[2] += k2 * rx * by / 8 * ex;
    h[3] += k2 * rx * by / 16 * (ex * std::conj(ey2));
    h[4] += k2 * rx * by / 16 * (ex * ey2);
    h[5] += c * bx / 4;
    h[6] += -c * by / 4;
    h[7] += c * bx / 8 * ex2;
    h[8] += -c * by / 8 * ey2;
    h[9] += (k1 - k2 * lf.eta / 2) * lf.eta * rx / 2 * ex;
}

// Gradient and sextupole strength of a thick element; nothing for the kinds without either.
bool thickStrengths(const LatticeElement& e, double& k1, double& k2)
{
    k1 = k2 = 0;
    switch (familyOf(e.code)) {
    case static_cast<int>(Family::Bend):
    case static_cast<int>(Family::Quadrupole):
        k1 = e.k;
        break;
    case static_cast<int>(Family::Sextupole):
        k2 = e.m;
        break;
    default:
        return false;
    }
    return e.length > 0 && (k1 != 0 || k2 != 0);
}

// Element i of a thick magnet with Simpson's rule, the functions carried as the ring pass carries them.
void addMagnet(State& state, Messages& messages, int i, double k1, double k2, DrivingTermValues& h,
               std::vector<SextupolePoint>& points)
{
    const LatticeElement& e = state.line.at(i);
    const bool faces = e.code == code::kRectangularBend || e.code == code::kWedgeBend;
    if (faces)
        edgeStep(state, messages, i, e.ain);
    // a line of many elements shares the slices of a pass, as the optics do
    const int most = std::max(kFewestSlices, std::min(kMostSlices, state.line.sliceCap()));
    const double wanted = std::ceil(std::min(e.length / (2 * kLongestSlice), 1e9));
    const int half = std::clamp(static_cast<int>(wanted), kFewestSlices / 2, most / 2);
    const int n = 2 * half;
    const double ds = e.length / n;
    addPoint(state.lf, k1 * ds / 3, k2 * ds / 3, h, points);
    for (int j = 1; j <= n; ++j) {
        propagateFunctions(state, messages, true, i, ds);
        state.lf.s += ds;
        const double w = (j == n ? 1.0 : (j % 2 == 1 ? 4.0 : 2.0)) * ds / 3;
        addPoint(state.lf, k1 * w, k2 * w, h, points);
    }
    if (faces)
        edgeStep(state, messages, i, e.aout);
}

double multipole(const std::vector<double>& knl, std::size_t n)
{
    return knl.size() > n ? knl[n] : 0.0;
}

} // namespace

const char* drivingTermName(DrivingTerm term)
{
    return kNames[static_cast<int>(term)];
}

std::optional<DrivingTerms> drivingTerms(const State& state, std::string* refusal)
{
    const auto refuse = [&](const std::string& text) -> std::optional<DrivingTerms> {
        if (refusal != nullptr)
            *refusal = text;
        return std::nullopt;
    };
    if (state.line.count < 1)
        return refuse("define a beam line first!");
    if (const std::optional<std::string> r = lineOpticsRefusal(state.line))
        return refuse(*r);
    State pass = state;
    pass.run.showBetaFunctions = true;
    pass.run.showBeamSize = false;
    pass.run.showTrajectory = false;
    FirstErrorMessages messages;
    if (!ringStart(pass, messages, nullptr) || !pass.run.periodicStable)
        return refuse(messages.first.empty() ? "the cell has no stable periodic solution!" : messages.first);

    DrivingTerms terms;
    terms.s.reserve(static_cast<std::size_t>(pass.line.count));
    terms.buildUp.reserve(static_cast<std::size_t>(pass.line.count));
    DrivingTermValues& h = terms.cell;
    for (int i = 1; i <= pass.line.count; ++i) {
        const LatticeElement& e = pass.line.at(i);
        double k1 = 0, k2 = 0;
        if (thickStrengths(e, k1, k2)) {
            addMagnet(pass, messages, i, k1, k2, h, terms.sextupoles);
        } else {
            ringTrace(pass, messages, i, nullptr);
            // a thin multipole's kick leaves beta, eta and the phases as they are at its place
            if (e.code == code::kThinMultipole)
                addPoint(pass.lf, multipole(e.knl, 1), multipole(e.knl, 2), h, terms.sextupoles);
        }
        terms.s.push_back(pass.lf.s);
        terms.buildUp.push_back(h);
    }

    const int cells = std::max(1, pass.line.superPeriods);
    terms.cells = cells;
    const double muX = pass.lf.phiX;
    const double muY = pass.lf.phiY;
    terms.tuneX = cells * muX;
    terms.tuneY = cells * muY;
    for (int t = 0; t < kDrivingTermCount; ++t) {
        const double advance = kTwoPi * (kHarmonic[t][0] * muX + kHarmonic[t][1] * muY);
        std::complex<double> sum = 0;
        for (int n = 0; n < cells; ++n)
            sum += std::polar(1.0, n * advance);
        terms.ring[t] = h[t] * sum;
    }
    return terms;
}

} // namespace kestrune
