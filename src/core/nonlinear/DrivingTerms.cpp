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
// The integrals run over each thick magnet with Simpson's rule on slices of at most 5 cm (at least
// eight, at most 2000 and the line's share of the slices of a pass), the lattice functions carried
// through the slices by the optics' own element matrices; every thick sextupole is sliced, whatever its
// strength, so that the points serve any strength. A thin multipole (code 60) counts with K1 L = knl[1]
// and K2 L = knl[2] where its kick sits, at the centre of its length, with the drift's functions there:
// beta - 2 alpha a + gamma a^2, eta + eta' a and the phase advance atan(a / (beta - alpha a)) / 2 pi of
// a drift a = L / 2 (its kick changes alpha, not beta, eta or the phases). Phases start at the cell's
// start. The ring of N cells sums each cell term with the phase advance of the cells before:
//   h_ring = h_cell sum_{n=0}^{N-1} exp(2 pi i n [(j - k) mu_x + (l - m) mu_y]), mu the cell's tunes.
//
// Octupoles drive none of these terms; their first-order detuning (tracking/Detuning.h:
// dQx/dJx = N/(16 pi) int k3 bx^2, dQx/dJy = -N/(8 pi) int k3 bx by, dQy/dJy = N/(16 pi) int k3 by^2)
// takes the same optics: three Gauss-Legendre points in a thick octupole, exact for beta^2 of a drift
// (degree 4), and the centre of a thin multipole with K3 L = knl[3].
//
// The chromaticities of the sextupole components are the sextupoles' part of -h11001 / pi and
// -h00111 / pi: xi_x = N/(4 pi) int K2 eta bx, xi_y = -N/(4 pi) int K2 eta by, the sums of the
// chromaticity window (Simpson's rule is exact for eta beta, of degree 3 in a sextupole).

namespace {

constexpr double kLongestSlice = 0.05; // m, of the Simpson rule in a magnet
constexpr int kFewestSlices = 8;
constexpr int kMostSlices = 2000;

// Gauss-Legendre nodes on 0..1 and their weights, three points.
constexpr double kGaussNodes[3] = {0.1127016653792583115, 0.5, 0.8872983346207416885};
constexpr double kGaussWeights[3] = {5.0 / 18, 8.0 / 18, 5.0 / 18};

// (j - k, l - m) of every term, in the order of DrivingTerm.
constexpr int kHarmonic[kDrivingTermCount][2] = {{1, 0}, {3, 0}, {1, 0}, {1, -2}, {1, 2},
                                                 {0, 0}, {0, 0}, {2, 0}, {0, 2},  {1, 0}};

const char* const kNames[kDrivingTermCount] = {"h21000", "h30000", "h10110", "h10020", "h10200",
                                               "h11001", "h00111", "h20001", "h00201", "h10002"};

double multipole(const std::vector<double>& knl, std::size_t n)
{
    return knl.size() > n ? knl[n] : 0.0;
}

OpticsPoint point(double weight, const LatticeFunctions& lf)
{
    OpticsPoint p;
    p.weight = weight;
    p.betaX = lf.betaX;
    p.betaY = lf.betaY;
    p.rootBetaX = std::sqrt(lf.betaX);
    p.eta = lf.eta;
    p.phiX = lf.phiX;
    p.phiY = lf.phiY;
    p.ex = std::polar(1.0, kTwoPi * lf.phiX);
    p.ey = std::polar(1.0, kTwoPi * lf.phiY);
    return p;
}

// The functions a drift of length a on from lf.
LatticeFunctions driftOn(const LatticeFunctions& lf, double a)
{
    LatticeFunctions d = lf;
    d.betaX = lf.betaX - 2 * lf.alphaX * a + lf.gammaX * a * a;
    d.betaY = lf.betaY - 2 * lf.alphaY * a + lf.gammaY * a * a;
    d.eta = lf.eta + lf.etaP * a;
    d.phiX = lf.phiX + std::atan2(a, lf.betaX - lf.alphaX * a) / kTwoPi;
    d.phiY = lf.phiY + std::atan2(a, lf.betaY - lf.alphaY * a) / kTwoPi;
    return d;
}

// Thick elements sliced for Simpson's rule: the magnets with a gradient and every sextupole.
bool sliced(const LatticeElement& e)
{
    if (e.length <= 0)
        return false;
    switch (familyOf(e.code)) {
    case static_cast<int>(Family::Bend):
    case static_cast<int>(Family::Quadrupole):
        return e.k != 0;
    case static_cast<int>(Family::Sextupole):
        return true;
    default:
        return false;
    }
}

// The slices of a thick magnet of line, an even number; a line of many elements shares the slices of a
// pass, as the optics do.
int simpsonSlices(const BeamLine& line, const LatticeElement& e)
{
    const int most = std::max(kFewestSlices, std::min(kMostSlices, line.sliceCap()));
    const double wanted = std::ceil(std::min(e.length / (2 * kLongestSlice), 1e9));
    return 2 * std::clamp(static_cast<int>(wanted), kFewestSlices / 2, most / 2);
}

// The points of element e.
std::size_t pointCount(const BeamLine& line, const LatticeElement& e)
{
    if (sliced(e))
        return static_cast<std::size_t>(simpsonSlices(line, e)) + 1;
    if (e.code == code::kThinMultipole)
        return 1;
    return e.code == code::kOctupole && e.length > 0 ? 3 : 0;
}

// Element i of a thick magnet with Simpson's rule, the functions carried as the ring pass carries them.
void addMagnet(State& state, Messages& messages, int i, std::vector<OpticsPoint>& points)
{
    const LatticeElement& e = state.line.at(i);
    const bool faces = e.code == code::kRectangularBend || e.code == code::kWedgeBend;
    if (faces)
        edgeStep(state, messages, i, e.ain);
    const int n = simpsonSlices(state.line, e);
    const double ds = e.length / n;
    points.push_back(point(ds / 3, state.lf));
    for (int j = 1; j <= n; ++j) {
        propagateFunctions(state, messages, true, i, ds);
        state.lf.s += ds;
        points.push_back(point((j == n ? 1.0 : (j % 2 == 1 ? 4.0 : 2.0)) * ds / 3, state.lf));
    }
    if (faces)
        edgeStep(state, messages, i, e.aout);
}

// Gradient, sextupole and octupole strength per unit weight of the points of element e.
void strengths(const LatticeElement& e, double& k1, double& k2, double& k3)
{
    k1 = k2 = k3 = 0;
    switch (familyOf(e.code)) {
    case static_cast<int>(Family::Bend):
    case static_cast<int>(Family::Quadrupole):
        k1 = e.k;
        break;
    case static_cast<int>(Family::Sextupole):
        k2 = e.m;
        break;
    default:
        if (e.code == code::kOctupole) {
            k3 = e.k3;
        } else if (e.code == code::kThinMultipole) {
            k1 = multipole(e.knl, 1);
            k2 = multipole(e.knl, 2);
            k3 = multipole(e.knl, 3);
        }
        break;
    }
}

// One point with k1 = K1 w and k2 = K2 w.
void addTerms(const OpticsPoint& p, double k1, double k2, DrivingTermValues& h)
{
    const double bx = p.betaX;
    const double by = p.betaY;
    const double rx = p.rootBetaX;
    const std::complex<double> ex = p.ex, ey = p.ey;
    const std::complex<double> ex2 = ex * ex, ey2 = ey * ey;
    const double c = k1 - k2 * p.eta;
    h[0] += -k2 * bx * rx / 16 * ex;
    h[1] += -k2 * bx * rx / 48 * (ex2 * ex);
    h[2] += k2 * rx * by / 8 * ex;
    h[3] += k2 * rx * by / 16 * (ex * std::conj(ey2));
    h[4] += k2 * rx * by / 16 * (ex * ey2);
    h[5] += c * bx / 4;
    h[6] += -c * by / 4;
    h[7] += c * bx / 8 * ex2;
    h[8] += -c * by / 8 * ey2;
    h[9] += (k1 - k2 * p.eta / 2) * p.eta * rx / 2 * ex;
}

} // namespace

const char* drivingTermName(DrivingTerm term)
{
    return kNames[static_cast<int>(term)];
}

std::optional<DrivingTermOptics> drivingTermOptics(const State& state, std::string* refusal)
{
    const auto refuse = [&](const std::string& text) -> std::optional<DrivingTermOptics> {
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

    DrivingTermOptics optics;
    const auto n = static_cast<std::size_t>(pass.line.count);
    optics.s.reserve(n);
    optics.ends.reserve(n + 1);
    optics.ends.push_back(0);
    std::size_t points = 0;
    for (int i = 1; i <= pass.line.count; ++i)
        points += pointCount(pass.line, pass.line.at(i));
    optics.points.reserve(points);
    for (int i = 1; i <= pass.line.count; ++i) {
        const LatticeElement& e = pass.line.at(i);
        if (sliced(e)) {
            addMagnet(pass, messages, i, optics.points);
        } else {
            if (e.code == code::kThinMultipole)
                optics.points.push_back(point(1, driftOn(pass.lf, e.length / 2)));
            else if (e.code == code::kOctupole && e.length > 0)
                for (int j = 0; j < 3; ++j)
                    optics.points.push_back(
                        point(kGaussWeights[j] * e.length, driftOn(pass.lf, kGaussNodes[j] * e.length)));
            ringTrace(pass, messages, i, nullptr);
        }
        optics.s.push_back(pass.lf.s);
        optics.ends.push_back(optics.points.size());
    }
    optics.cells = std::max(1, pass.line.superPeriods);
    optics.muX = pass.lf.phiX;
    optics.muY = pass.lf.phiY;
    return optics;
}

DrivingTerms drivingTerms(const DrivingTermOptics& optics, const BeamLine& line)
{
    DrivingTerms terms;
    terms.s = optics.s;
    terms.buildUp.reserve(optics.s.size());
    DrivingTermValues& h = terms.cell;
    double xiX = 0, xiY = 0;
    OctupoleDetuning& o = terms.octupoles;
    for (std::size_t i = 1; i < optics.ends.size(); ++i) {
        const std::size_t first = optics.ends[i - 1], last = optics.ends[i];
        double k1 = 0, k2 = 0, k3 = 0;
        if (first < last)
            strengths(line.at(static_cast<int>(i)), k1, k2, k3);
        if (k1 != 0 || k2 != 0 || k3 != 0) {
            for (std::size_t j = first; j < last; ++j) {
                const OpticsPoint& p = optics.points[j];
                const double w = p.weight;
                if (k1 != 0 || k2 != 0)
                    addTerms(p, k1 * w, k2 * w, h);
                if (k2 != 0) {
                    terms.sextupoles.push_back({k2 * w, p.betaX, p.betaY, p.phiX, p.phiY});
                    xiX += k2 * w * p.eta * p.betaX;
                    xiY -= k2 * w * p.eta * p.betaY;
                }
                if (k3 != 0) {
                    o.xx += k3 * w * p.betaX * p.betaX;
                    o.xy += k3 * w * p.betaX * p.betaY;
                    o.yy += k3 * w * p.betaY * p.betaY;
                }
            }
        }
        terms.buildUp.push_back(h);
    }

    const int cells = optics.cells;
    terms.cells = cells;
    terms.tuneX = cells * optics.muX;
    terms.tuneY = cells * optics.muY;
    for (int t = 0; t < kDrivingTermCount; ++t) {
        const double advance = kTwoPi * (kHarmonic[t][0] * optics.muX + kHarmonic[t][1] * optics.muY);
        std::complex<double> sum = 0;
        for (int n = 0; n < cells; ++n)
            sum += std::polar(1.0, n * advance);
        terms.ring[t] = h[t] * sum;
    }
    terms.chromaticityX = cells * xiX / (2 * kTwoPi);
    terms.chromaticityY = cells * xiY / (2 * kTwoPi);
    o = OctupoleDetuning{cells * o.xx / (16 * kPi), -cells * o.xy / (8 * kPi), cells * o.yy / (16 * kPi)};
    return terms;
}

std::optional<DrivingTerms> drivingTerms(const State& state, std::string* refusal)
{
    const std::optional<DrivingTermOptics> optics = drivingTermOptics(state, refusal);
    if (!optics)
        return std::nullopt;
    return drivingTerms(*optics, state.line);
}

} // namespace kestrune
