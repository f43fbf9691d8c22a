#include "core/ring/Parameter.h"

#include "core/Design.h"
#include "core/Format.h"
#include "core/InputRanges.h"
#include "core/Kinematics.h"
#include "core/NumberInput.h"
#include "core/chromaticity/Chromaticity.h"
#include "core/coupling/CoupledPass.h"
#include "core/optics/BetaFunctions.h"
#include "core/optics/RingPass.h"
#include "core/optics/TransferMatrix.h"
#include "core/ring/CoupledParameters.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

namespace kestrune {

namespace {

constexpr double kNotAvailable = std::numeric_limits<double>::quiet_NaN();

// What one pass over the cell sums up, before the scaling to the ring.
struct CellSums
{
    double i1 = 0, i2 = 0, i3 = 0, i4 = 0, i5 = 0;
    double xiX = 0, xiY = 0;                     // 4 pi times the chromaticity of the cell
    double betaIntegralX = 0, betaIntegralY = 0; // m^2
};

// The last few values of a function of a few numbers, under the bits of the numbers: a ring repeats a few
// magnets many times, and the value kept is the one the function gives, bit for bit. Per thread.
template <typename Value, std::size_t Arguments> class RecentValues
{
public:
    using Key = std::array<std::uint64_t, Arguments>;
    static Key keyOf(const std::array<double, Arguments>& arguments)
    {
        Key key{};
        std::memcpy(key.data(), arguments.data(), sizeof key);
        return key;
    }
    template <typename Make> const Value& get(const std::array<double, Arguments>& arguments, Make make)
    {
        const Key key = keyOf(arguments);
        for (Entry& e : m_entries)
            if (e.used && e.key == key)
                return e.value;
        Entry& e = m_entries[m_next];
        m_next = (m_next + 1) % kEntries;
        e.used = true;
        e.key = key;
        e.value = make();
        return e.value;
    }

private:
    static constexpr std::size_t kEntries = 4;
    struct Entry
    {
        bool used = false;
        Key key{};
        Value value{};
    };
    std::array<Entry, kEntries> m_entries{};
    std::size_t m_next = 0;
};

// Integral of beta over a drift of length l from the entrance values.
double driftBetaIntegral(double beta, double alpha, double gamma, double l)
{
    return l * (beta - alpha * l + gamma * l * l / 3);
}

// What the integrals of a quadrupole take of its strength and length: s = sqrt|k|, phi = s L and the
// functions of phi.
struct QuadrupolePhase
{
    double s, phi;
    double sin, sinHalf2;   // sin(phi), sin(2 phi) / 2
    double sinh, sinhHalf2; // sinh(phi), sinh(2 phi) / 2
};

QuadrupolePhase quadrupolePhase(double k, double length)
{
    thread_local RecentValues<QuadrupolePhase, 2> recent;
    return recent.get({k, length}, [&] {
        const double s = std::sqrt(std::fabs(k));
        const double phi = s * length;
        return QuadrupolePhase{
            s, phi, std::sin(phi), std::sin(2 * phi) / 2, std::sinh(phi), std::sinh(2 * phi) / 2};
    });
}

// |k| times the integral of beta through a quadrupole for the focusing plane (cos, sin) or the
// defocusing one (cosh, sinh), from the entrance values; s = sqrt|k|, phi = s L.
double focusingIntegral(double beta, double alpha, double gamma, const QuadrupolePhase& q)
{
    const double s = q.s;
    const double phi = q.phi;
    const double half2 = q.sinHalf2;
    const double sin = q.sin;
    return beta * s / 2 * (phi + half2) - alpha * sin * sin + gamma / (2 * s) * (phi - half2);
}

double defocusingIntegral(double beta, double alpha, double gamma, const QuadrupolePhase& q)
{
    const double s = q.s;
    const double phi = q.phi;
    const double half2 = q.sinhHalf2;
    const double sinh = q.sinh;
    return beta * s / 2 * (phi + half2) - alpha * sinh * sinh + gamma / (2 * s) * (half2 - phi);
}

void addQuadrupole(const LatticeFunctions& lf, double k, double length, CellSums& sums)
{
    const QuadrupolePhase q = quadrupolePhase(k, length);
    if (k > 0) {
        const double fx = focusingIntegral(lf.betaX, lf.alphaX, lf.gammaX, q);
        const double fy = defocusingIntegral(lf.betaY, lf.alphaY, lf.gammaY, q);
        sums.xiX -= fx;
        sums.xiY += fy;
        sums.betaIntegralX += fx / k;
        sums.betaIntegralY += fy / k;
    } else {
        const double fx = defocusingIntegral(lf.betaX, lf.alphaX, lf.gammaX, q);
        const double fy = focusingIntegral(lf.betaY, lf.alphaY, lf.gammaY, q);
        sums.xiX += fx;
        sums.xiY -= fy;
        sums.betaIntegralX -= fx / k;
        sums.betaIntegralY -= fy / k;
    }
}

// The lattice functions of one plane at distance a (m) along a drift from the values (beta, alpha).
struct PlaneTwiss
{
    double beta, alpha;
};

PlaneTwiss driftTwiss(double beta, double alpha, double gamma, double a)
{
    return {beta - 2 * alpha * a + gamma * a * a, alpha - gamma * a};
}

// A thin multipole: the kick of its quadrupole component q = knl[1] at the centre of its length (MAD-X's
// thin quadrupole, px -= q x, py += q y). A thick quadrupole's contribution -k times the integral of beta
// over a length that shrinks to 0 with k L = q kept is -q beta at the kick horizontally and +q beta
// vertically; the kick adds nothing to I1..I5 (no curvature) and to the mean beta only the drifts of its
// length on either side.
void addThinMultipole(const LatticeFunctions& lf, double q, double length, CellSums& sums)
{
    const double a = length / 2;
    const PlaneTwiss x = driftTwiss(lf.betaX, lf.alphaX, lf.gammaX, a);
    const PlaneTwiss y = driftTwiss(lf.betaY, lf.alphaY, lf.gammaY, a);
    sums.xiX -= q * x.beta;
    sums.xiY += q * y.beta;
    if (a == 0)
        return;
    // alpha after the kick: R21 = -q changes alpha by +q beta horizontally, by -q beta vertically
    const double alphaX = x.alpha + q * x.beta;
    const double alphaY = y.alpha - q * y.beta;
    sums.betaIntegralX += driftBetaIntegral(lf.betaX, lf.alphaX, lf.gammaX, a) +
                          driftBetaIntegral(x.beta, alphaX, (1 + alphaX * alphaX) / x.beta, a);
    sums.betaIntegralY += driftBetaIntegral(lf.betaY, lf.alphaY, lf.gammaY, a) +
                          driftBetaIntegral(y.beta, alphaY, (1 + alphaY * alphaY) / y.beta, a);
}

// The chromaticity and the integrals below follow one model of the bend, MAD-X's: in the curved frame of
// curvature h the midplane field is h + k x; the field free of curl and divergence that continues it out
// of the midplane gives the Hamiltonian
//   H = -(1 + h x) sqrt((1 + delta)^2 - px^2 - py^2) + h x + (h^2 + k) x^2 / 2 + h k x^3 / 3
//       - k (1 + h x) y^2 / 2.
// Around the off-momentum orbit x = eta delta, px = eta' delta the quadratic part of H changes by
// delta/2 [(h eta - 1) px^2 + 2 h eta' x px + 2 h k eta x^2] horizontally and
// delta/2 [(h eta - 1) py^2 - h k eta y^2] vertically. A change delta/2 (a px^2 + 2 b x px + c x^2) of H
// moves the tune by delta/(4 pi) of the integral of (a gamma - 2 b alpha + c beta). The -gamma of the
// drift term is -K beta summed over the ring (gamma = K beta - alpha', alpha periodic, a thin kick R21
// counting as K = -R21); -2 h eta' alpha = h eta' beta' is integrated by parts with eta'' = h - (h^2 + k)
// eta. Per bend, 4 pi times the chromaticity is then
//   x: integral of -(2 h^2 + k) beta + h eta gamma + h (h^2 + 3 k) eta beta, plus [h eta' beta] from
//      the body's entrance to its exit,
//   y: integral of k beta + h eta gamma - h k eta beta,
// plus what the ends add (addBendEnd). A midplane field h + k x / (1 + h x), another model, would give
// h (h^2 + k) eta beta horizontally.

// What a thin map adds to 4 pi times the chromaticity of one plane. The map is R = F + delta D with F
// the kick [[1, 0], [r, 1]] and D its change per unit delta; Twiss values are those before the map.
// F counts as K = -r in -K beta. R = F (1 + delta P), P = F^-1 D, changes the trace of the one-turn
// matrix M by delta trace(P M); with trace P = 0 (a symplectic map) the phase moves by
// -delta (beta P21 - gamma P12 + alpha (P11 - P22)) / 2.
double thinMapChromaticity(double r, double d11, double d12, double d21, double d22, double beta,
                           double alpha)
{
    const double gamma = (1 + alpha * alpha) / beta;
    const double p21 = d21 - r * d11;
    const double p22 = d22 - r * d12;
    return r * beta - beta * p21 + gamma * d12 - alpha * (d11 - p22);
}

// One end of a bend: a pole face (psi, gap) or, for a sector magnet, the plane end of the body (psi = 0,
// no gap). The second-order map of the face, linearised around the orbit (eta, eta') delta that enters
// it, changes its matrix by delta D: the off-momentum orbit crossing the face sees the terms in
// h tan^2 psi and the gradient, and its slope turns into vertical focusing (t423). The face's h^2 tan
// term enters I4 (the textbook I4 = integral of eta h (h^2 + 2k) ds - sum of eta h^2 tan(psi) over faces).
void addBendEnd(const LatticeFunctions& lf, const EdgeMap& m, double h, double psi, CellSums& sums)
{
    const double eta = lf.eta;
    const double etaP = lf.etaP;
    sums.xiX += thinMapChromaticity(m.r21, 2 * m.t111 * eta, 0, 2 * m.t211 * eta + m.t212 * etaP,
                                    m.t212 * eta, lf.betaX, lf.alphaX);
    sums.xiY += thinMapChromaticity(m.r43, m.t313 * eta, 0, m.t413 * eta + m.t423 * etaP, m.t414 * eta,
                                    lf.betaY, lf.alphaY);
    sums.i4 -= eta * h * h * std::tan(psi);
}

// Gauss-Legendre nodes (on 0..1 from the middle) and weights of six points on (-1, 1).
constexpr double kNodes[3] = {0.2386191860831969086, 0.6612093864662645137, 0.9324695142031520278};
constexpr double kWeights[3] = {0.4679139345726910474, 0.3607615730481386076, 0.1713244923791703450};
constexpr int kPoints = 6;

// Pieces of the body for the quadrature: the integrands are sums of exponentials whose rates are at most
// nu = max(4 w_x, w_x + 2 w_y) (eta^2 gamma_x in I5, eta beta_y), w = sqrt|K|. Six Gauss-Legendre points
// on a piece of nu L_piece <= 2 leave a relative error below 1e-12. A length beyond 100 km or a broken
// gradient takes a million pieces, not an endless loop.
int bodyPieces(double h, double k, double length)
{
    const double wx = std::sqrt(std::fabs(h * h + k));
    const double wy = std::sqrt(std::fabs(k));
    const double phase = std::max(4 * wx, wx + 2 * wy) * length / 2;
    if (!(phase < 1e6))
        return 1000000;
    return phase > 1 ? static_cast<int>(std::ceil(phase)) : 1;
}

// The lattice functions at a point inside the body, carried from the start of its piece by the body's
// matrix over the distance to the point.
struct BodyPoint
{
    double betaX, alphaX, gammaX, betaY, gammaY, eta, etaP;
};

BodyPoint bodyPoint(const LatticeFunctions& lf, const double (&r)[6][6])
{
    const auto beta = [](double r11, double r12, double b, double a, double g) {
        return r11 * r11 * b - 2 * r11 * r12 * a + r12 * r12 * g;
    };
    BodyPoint p;
    p.betaX = beta(r[kX][kX], r[kX][kXp], lf.betaX, lf.alphaX, lf.gammaX);
    p.gammaX = beta(r[kXp][kX], r[kXp][kXp], lf.betaX, lf.alphaX, lf.gammaX);
    p.alphaX = -r[kX][kX] * r[kXp][kX] * lf.betaX +
               (r[kX][kX] * r[kXp][kXp] + r[kX][kXp] * r[kXp][kX]) * lf.alphaX -
               r[kX][kXp] * r[kXp][kXp] * lf.gammaX;
    p.betaY = beta(r[kY][kY], r[kY][kYp], lf.betaY, lf.alphaY, lf.gammaY);
    p.gammaY = beta(r[kYp][kY], r[kYp][kYp], lf.betaY, lf.alphaY, lf.gammaY);
    p.eta = r[kX][kX] * lf.eta + r[kX][kXp] * lf.etaP + r[kX][kDelta];
    p.etaP = r[kXp][kX] * lf.eta + r[kXp][kXp] * lf.etaP + r[kXp][kDelta];
    return p;
}

// The body of a bend: the lattice functions are known in closed form from the entrance (the body's
// matrix), so the integrals are taken by Gauss-Legendre quadrature on them, without slicing error; the
// running values go through the body piece by piece.
void addBendBody(State& state, Messages& messages, const ElementOptics& e, CellSums& sums)
{
    const double h = e.curvature;
    const double k = e.k;
    const double absH3 = std::fabs(h * h * h);
    // the line's cap bounds the pass whatever the lengths and gradients (a real bend takes a few pieces)
    const int pieces = std::min(bodyPieces(h, k, e.length), state.line.sliceCap());
    const double piece = e.length / pieces;
    double weights[kPoints];
    for (int j = 0; j < kPoints; ++j)
        weights[j] = (j < 3 ? kWeights[2 - j] : kWeights[j - 3]) * piece / 2;
    thread_local RecentValues<std::array<TransferMatrix, kPoints>, 4> recentNodes;
    const std::array<TransferMatrix, kPoints>& nodes =
        recentNodes.get({static_cast<double>(e.code), h, k, piece}, [&] {
            std::array<TransferMatrix, kPoints> made;
            for (int j = 0; j < kPoints; ++j) {
                const double node = j < 3 ? -kNodes[2 - j] : kNodes[j - 3];
                magnetMatrix(made[static_cast<std::size_t>(j)], e.code, h, k, piece * (1 + node) / 2);
            }
            return made;
        });
    sums.i2 += h * h * e.length;
    sums.i3 += absH3 * e.length;
    LatticeFunctions& lf = state.lf;
    for (int n = 0; n < pieces; ++n) {
        for (int j = 0; j < kPoints; ++j) {
            const BodyPoint p = bodyPoint(lf, nodes[static_cast<std::size_t>(j)].r);
            const double w = weights[j];
            sums.xiX += w * (-(k + 2 * h * h) * p.betaX + h * p.eta * p.gammaX +
                             h * (h * h + 3 * k) * p.eta * p.betaX);
            sums.xiY += w * (k * p.betaY + h * p.eta * p.gammaY - h * k * p.eta * p.betaY);
            sums.i1 += w * h * p.eta;
            sums.i4 += w * h * (h * h + 2 * k) * p.eta;
            const double curlyH =
                p.gammaX * p.eta * p.eta + 2 * p.alphaX * p.eta * p.etaP + p.betaX * p.etaP * p.etaP;
            sums.i5 += w * absH3 * curlyH;
            sums.betaIntegralX += w * p.betaX;
            sums.betaIntegralY += w * p.betaY;
        }
        lf.s += piece;
        // the matrix elementMatrix makes of the piece
        if (n == 0) {
            thread_local RecentValues<TransferMatrix, 4> recentPieces;
            const TransferMatrix& r = recentPieces.get({static_cast<double>(e.code), h, k, piece}, [&] {
                TransferMatrix made;
                magnetMatrix(made, e.code, h, k, piece);
                return made;
            });
            std::memcpy(state.matrix.r, r.r, sizeof r.r);
        }
        propagateFunctions(state, messages, false, 0, piece);
    }
}

// edgeMap, the last few kept
EdgeMap faceMap(double h, double k, double psi, double gap, Face face)
{
    thread_local RecentValues<EdgeMap, 5> recent;
    return recent.get({h, k, psi, gap, face == Face::Entrance ? 1.0 : 0.0},
                      [&] { return edgeMap(h, k, psi, gap, face); });
}

void addBend(State& state, Messages& messages, const ElementOptics& e, CellSums& sums)
{
    const double h = e.curvature;
    // the faces the ring pass gives a bend: rectangular and wedge magnets have them, sector magnets none
    const bool faces = e.code == code::kRectangularBend || e.code == code::kWedgeBend;
    const double psiIn = faces ? e.ain : 0;
    const double psiOut = faces ? e.aout : 0;
    const double gap = faces ? e.gap : 0;
    LatticeFunctions& lf = state.lf;
    addBendEnd(lf, faceMap(h, e.k, psiIn, gap, Face::Entrance), h, psiIn, sums);
    if (faces)
        edgeStep(state, h, e.ain, e.gap);
    // the ends of the integration by parts of h eta' beta'
    sums.xiX -= h * lf.etaP * lf.betaX;
    addBendBody(state, messages, e, sums);
    sums.xiX += h * lf.etaP * lf.betaX;
    addBendEnd(lf, faceMap(h, e.k, psiOut, gap, Face::Exit), h, psiOut, sums);
    if (faces)
        edgeStep(state, h, e.aout, e.gap);
}

void addElement(State& state, Messages& messages, int i, CellSums& sums)
{
    const LatticeElement& e = state.line.at(i);
    const LatticeFunctions& lf = state.lf;
    switch (familyOf(e.code)) {
    case static_cast<int>(Family::Multipole):
        if (e.code == code::kThinMultipole) {
            addThinMultipole(lf, e.knl.size() > 1 ? e.knl[1] : 0, e.length, sums);
            ringTrace(state, messages, i, nullptr);
            break;
        }
        [[fallthrough]]; // octupoles and solenoids without field are drifts in the linear optics
    case static_cast<int>(Family::Drift):
    case static_cast<int>(Family::Sextupole):
    case static_cast<int>(Family::Pump):
    case static_cast<int>(Family::Kicker):
    case static_cast<int>(Family::Diagnostic):
    case static_cast<int>(Family::Cavity):
        sums.betaIntegralX += driftBetaIntegral(lf.betaX, lf.alphaX, lf.gammaX, e.length);
        sums.betaIntegralY += driftBetaIntegral(lf.betaY, lf.alphaY, lf.gammaY, e.length);
        ringTrace(state, messages, i, nullptr);
        break;
    case static_cast<int>(Family::Bend):
        addBend(state, messages, elementOptics(e, 1), sums);
        break;
    case static_cast<int>(Family::Quadrupole):
        // a quadrupole without strength is a drift: no chromaticity, but its length counts in the mean beta
        if (e.k != 0) {
            addQuadrupole(lf, e.k, e.length, sums);
        } else {
            sums.betaIntegralX += driftBetaIntegral(lf.betaX, lf.alphaX, lf.gammaX, e.length);
            sums.betaIntegralY += driftBetaIntegral(lf.betaY, lf.alphaY, lf.gammaY, e.length);
        }
        ringTrace(state, messages, i, nullptr);
        break;
    default:
        // alpha magnets and unknown codes add nothing, but the functions must pass through them
        ringTrace(state, messages, i, nullptr);
        break;
    }
}

// addElement from the kept ring pass: the lattice functions at each entrance are the pass's, a bend's body
// is integrated from there as addBend does it; the running values end as the pass ends.
void addKeptElements(State& state, Messages& messages, const RingPass& pass, CellSums& sums)
{
    LatticeFunctions lf = state.lf;
    for (std::size_t i = 0; i < pass.elements.size(); ++i) {
        const ElementOptics& e = pass.elements[i];
        const EntryFunctions& f = pass.entry[i];
        takeEntry(f, lf);
        switch (familyOf(e.code)) {
        case static_cast<int>(Family::Multipole):
            if (e.code == code::kThinMultipole) {
                addThinMultipole(lf, e.q, e.length, sums);
                break;
            }
            [[fallthrough]];
        case static_cast<int>(Family::Drift):
        case static_cast<int>(Family::Sextupole):
        case static_cast<int>(Family::Pump):
        case static_cast<int>(Family::Kicker):
        case static_cast<int>(Family::Diagnostic):
        case static_cast<int>(Family::Cavity):
            sums.betaIntegralX += driftBetaIntegral(lf.betaX, lf.alphaX, lf.gammaX, e.length);
            sums.betaIntegralY += driftBetaIntegral(lf.betaY, lf.alphaY, lf.gammaY, e.length);
            break;
        case static_cast<int>(Family::Bend):
            state.lf = lf;
            addBend(state, messages, e, sums);
            break;
        case static_cast<int>(Family::Quadrupole):
            if (e.k != 0) {
                addQuadrupole(lf, e.k, e.length, sums);
            } else {
                sums.betaIntegralX += driftBetaIntegral(lf.betaX, lf.alphaX, lf.gammaX, e.length);
                sums.betaIntegralY += driftBetaIntegral(lf.betaY, lf.alphaY, lf.gammaY, e.length);
            }
            break;
        default:
            break;
        }
    }
    state.lf = lf;
    finishRingPass(state, pass);
}

void setNotAvailable(RingParameters& ring)
{
    ring.i1 = ring.i2 = ring.i3 = ring.i4 = ring.i5 = kNotAvailable;
    ring.chromaticityX = ring.chromaticityY = kNotAvailable;
    ring.averageBetaX = ring.averageBetaY = kNotAvailable;
    ring.tuneX = ring.tuneY = kNotAvailable;
}

// a / b where b = 0 or the result is not finite: not available
double ratio(double a, double b)
{
    if (b == 0)
        return kNotAvailable;
    const double r = a / b;
    return std::isfinite(r) ? r : kNotAvailable;
}

} // namespace

void radiationIntegrals(State& state, Messages& messages)
{
    // a ring pass kept for this very design was one of the uncoupled optics: the planes do not couple
    const std::uint64_t stamp = latticeStamp(state);
    // a ring whose planes couple has the integrals of its modes
    if (!ringPassOf(state, stamp) && coupledPassApplies(state.line)) {
        coupledRadiationIntegrals(state);
        return;
    }
    RingParameters& ring = state.ringParams;
    // without a stable periodic solution the pass would run from whatever the last one left; a line the
    // optics refuse keeps the results it had
    bool refused = false;
    bool started = false;
    const RingPass* pass = keptRingPass(state, messages, refused, started, &stamp);
    if (refused)
        return;
    ring.stamp = stamp;
    ring.modes = ModeRadiation{};
    if (!started || !state.run.periodicStable) {
        setNotAvailable(ring);
        return;
    }
    CellSums sums;
    if (pass != nullptr) {
        addKeptElements(state, messages, *pass, sums);
    } else {
        for (int i = 1; i <= state.line.count; ++i)
            addElement(state, messages, i, sums);
    }

    const double nsp = state.line.superPeriods;
    ring.i1 = nsp * sums.i1;
    ring.i2 = nsp * sums.i2;
    ring.i3 = nsp * sums.i3;
    ring.i4 = nsp * sums.i4;
    ring.i5 = nsp * sums.i5;
    ring.chromaticityX = nsp * sums.xiX / (4 * kPi);
    ring.chromaticityY = nsp * sums.xiY / (4 * kPi);
    ring.averageBetaX = ratio(nsp * sums.betaIntegralX, ring.circumference);
    ring.averageBetaY = ratio(nsp * sums.betaIntegralY, ring.circumference);
    ring.tuneX = nsp * state.lf.phiX;
    ring.tuneY = nsp * state.lf.phiY;
}

PlaneEmittances planeEmittances(const RingParameters& ring)
{
    if (!ring.modes.coupled)
        return {ring.emittanceX, ring.emittanceY};
    // sigma_x^2 = eps_1 beta_11 + eps_2 beta_12 averaged, over <beta_11>; the same for y with beta_22
    return {ring.emittanceX + ring.emittanceY * ratio(ring.modes.averageBeta12, ring.averageBetaX),
            ring.emittanceY + ring.emittanceX * ratio(ring.modes.averageBeta21, ring.averageBetaY)};
}

double dampingPartitionX(const RingParameters& ring)
{
    return 1 - ratio(ring.i4, ring.i2);
}

namespace {

// The equilibrium of a ring whose planes couple, from the radiation of its modes: the damping time of
// mode k is tau_k = 2 T / (J_k I2) as the planes' are, the emittances of modes 1 and 2 and the energy
// spread of mode 3 are C_q gamma^2 times their integrals over J_k I2 (ModeRadiation).
void modeEquilibrium(State& state)
{
    RingParameters& ring = state.ringParams;
    const BeamParameters& beam = state.beam;
    const ModeRadiation& m = ring.modes;
    const double energyGeV = beam.momentum / 1e9;
    const double gamma2 = beam.gamma * beam.gamma;
    const double cq = beam.cQuantumParticle * gamma2;
    const double c = ring.circumference;
    ring.energyLoss =
        beam.cGammaParticle * realPower(energyGeV, 4) / kTwoPi * ring.i2 * 1e9 + ring.additionalLoss;
    ring.radiationPower = ring.energyLoss * state.beamCurrent;
    const double t =
        c > 0 ? kTwoPi * c / (kSpeedOfLight * beam.cGammaParticle * realPower(beam.totalEnergy, 3)) * 1e27
              : kNotAvailable;
    double* const times[3] = {&ring.dampingTimeX, &ring.dampingTimeY, &ring.dampingTimeS};
    for (std::size_t k = 0; k < 3; ++k)
        *times[k] = m.partition[k] > 0 ? ratio(2 * t, m.partition[k] * ring.i2) : kNotAvailable;
    const auto emittance = [&](std::size_t k) {
        return m.partition[k] > 0 ? ratio(cq * m.i5[k], m.partition[k] * ring.i2) : kNotAvailable;
    };
    ring.emittanceX = emittance(0);
    ring.emittanceY = emittance(1);
    const double spread2 = m.partition[2] > 0 ? ratio(cq * m.i3, m.partition[2] * ring.i2) : kNotAvailable;
    ring.energySpread = spread2 >= 0 ? std::sqrt(spread2) : kNotAvailable;
    ring.momentumCompaction = ratio(ring.i1, c);
    ring.slipFactor = 1 / gamma2 - ring.momentumCompaction;
    ring.computed = true;
}

} // namespace

void equilibriumParameters(State& state)
{
    if (state.ringParams.modes.coupled) {
        modeEquilibrium(state);
        return;
    }
    RingParameters& ring = state.ringParams;
    const BeamParameters& beam = state.beam;
    const double energyGeV = beam.momentum / 1e9;
    const double cGamma = beam.cGammaParticle;
    const double cq = beam.cQuantumParticle;
    const double gamma2 = beam.gamma * beam.gamma;
    const double c = ring.circumference;

    // U0 = C_gamma E^4 I2 / (2 pi) (Sands 1970), in GeV, plus what the RF window adds
    ring.energyLoss = cGamma * realPower(energyGeV, 4) / kTwoPi * ring.i2 * 1e9 + ring.additionalLoss;
    ring.radiationPower = ring.energyLoss * state.beamCurrent;

    const double sumI2I4 = 2 * ring.i2 + ring.i4;
    const double diffI2I4 = ring.i2 - ring.i4;
    ring.energySpread = sumI2I4 > 0 ? std::sqrt(gamma2 * cq * ring.i3 / sumI2I4) : kNotAvailable;

    // amplitude damping times tau_i = 2 E T0 / (J_i U0) = 2 T / (J_i I2), with
    // T = 2 pi C / (c C_gamma E^3) and J_x I2 = I2 - I4, J_y I2 = I2, J_s I2 = 2 I2 + I4
    // a ring of no circumference (the geometry has not run) has no revolution time to damp in
    const double t =
        c > 0 ? kTwoPi * c / (kSpeedOfLight * cGamma * realPower(beam.totalEnergy, 3)) * 1e27 : kNotAvailable;
    ring.dampingTimeX = ratio(2 * t, diffI2I4);
    ring.dampingTimeY = ratio(2 * t, ring.i2);
    ring.dampingTimeS = ratio(2 * t, sumI2I4);

    // natural emittance C_q gamma^2 I5 / (J_x I2); no equilibrium where the horizontal motion is not damped
    const double kappa = ring.coupling;
    const double eps0 = diffI2I4 > 0 ? ratio(gamma2 * cq * ring.i5, diffI2I4) : kNotAvailable;
    ring.emittanceX = eps0 / (1 + kappa);
    ring.emittanceY = eps0 * kappa / (1 + kappa);

    ring.momentumCompaction = ratio(ring.i1, c);
    ring.slipFactor = 1 / gamma2 - ring.momentumCompaction;
    ring.computed = true;
}

namespace {

// The value of a box in SI units: the stored value itself while the box still shows it as the ring
// window writes it ("%8.3f" in the box's unit), so that looking at the window never rounds the design.
double typedOrStored(const std::string& typed, double stored, double unit)
{
    const double value = parseDouble(typed) * unit;
    if (std::isfinite(stored) && value == parseDouble(fmt("%8.3f", stored / unit)) * unit)
        return stored;
    return value;
}

} // namespace

bool updateBeamParameters(State& state, Messages& messages, const BeamInput& input)
{
    const double momentum = typedOrStored(input.momentumMeV, state.beam.momentum, 1e6);
    const double current = typedOrStored(input.currentMa, state.beamCurrent, 1e-3);
    const double coupling = parseDouble(input.couplingPercent) / 100;
    if (!coupledPassApplies(state.line) && opticsRefused(state.line, messages))
        return false;
    if (const std::optional<std::string> refusal =
            firstRefusal({{&ranges::kMomentumMeV, momentum / 1e6},
                          {&ranges::kBeamCurrentMa, current * 1000},
                          {&ranges::kCouplingPercent, coupling * 100}})) {
        messages.error(*refusal);
        return false;
    }
    state.beam.referenceMomentum = momentum;
    updateKinematics(state.beam, EnergyKind::Momentum, momentum);
    state.beamCurrent = current;
    state.ringParams.coupling = coupling;
    radiationIntegrals(state, messages);
    equilibriumParameters(state);
    correctedChromaticity(state);
    return true;
}

void correctedChromaticity(State& state)
{
    // the chromaticity with the sextupoles the lattice holds now, whatever corrected them last
    RingParameters& ring = state.ringParams;
    // the modes' chromaticities with the sextupoles come with their integrals
    if (coupledPassApplies(state.line))
        return;
    ring.correctedChromaticityX = kNotAvailable;
    ring.correctedChromaticityY = kNotAvailable;
    if (!std::isfinite(ring.chromaticityX) || !std::isfinite(ring.chromaticityY))
        return;
    QuietMessages quiet;
    if (const std::optional<ChromaticityCorrection> c = latticeChromaticity(state, quiet)) {
        ring.correctedChromaticityX = c->correctedX;
        ring.correctedChromaticityY = c->correctedY;
    }
}

BeamParameterView beamParameterView(const State& state)
{
    const RingParameters& r = state.ringParams;
    BeamParameterView v;
    v.energyLoss = "energy loss/turn: " + siFormatOrNa(r.energyLoss, "eV");
    v.dampingX = "damping time,tau_x: " + siFormatOrNa(r.dampingTimeX, "s");
    v.dampingY = "damping time,tau_y: " + siFormatOrNa(r.dampingTimeY, "s");
    v.dampingS = "damping time,tau_s: " + siFormatOrNa(r.dampingTimeS, "s");
    v.power = "tot.rad. power: " + siFormatOrNa(r.radiationPower, "W");
    v.emittanceX = "emittance_x: " + siFormatOrNa(r.emittanceX, "m");
    v.emittanceY = "emittance_y: " + siFormatOrNa(r.emittanceY, "m");
    v.energySpread = "rel. energy spread:" + fmtOrNa("%8.3f", 100 * r.energySpread) + " %";
    v.i1 = "I1 = " + fmtOrNa("%10.4g", r.i1) + " m";
    v.i2 = "I2 = " + fmtOrNa("%10.4g", r.i2) + " 1/m";
    v.i3 = "I3 = " + fmtOrNa("%10.4g", r.i3) + " 1/m^2";
    v.i4 = "I4 = " + fmtOrNa("%10.4g", r.i4) + " 1/m";
    v.i5 = "I5 = " + fmtOrNa("%10.4g", r.i5) + " 1/m";
    v.circumference = "circumference:" + fmtOrNa("%8.3f", r.circumference) + " m";
    v.compactionFactor = "mom.comp. factor,alpha_c: " + fmtOrNa("%10.7f", r.momentumCompaction);
    v.slipFactor = "slip factor, eta_c: " + fmtOrNa("%10.7f", r.slipFactor);
    if (r.modes.coupled) {
        // a ring whose planes couple: the planes' places hold its modes' values, and I5 is each mode's own
        v.dampingX = "damping time,tau_1 (mode 1): " + siFormatOrNa(r.dampingTimeX, "s");
        v.dampingY = "damping time,tau_2 (mode 2): " + siFormatOrNa(r.dampingTimeY, "s");
        v.dampingS = "damping time,tau_3 (mode 3): " + siFormatOrNa(r.dampingTimeS, "s");
        v.emittanceX = "emittance_1 (mode 1): " + siFormatOrNa(r.emittanceX, "m");
        v.emittanceY = "emittance_2 (mode 2): " + siFormatOrNa(r.emittanceY, "m");
        v.energySpread = "rel. energy spread (mode 3):" + fmtOrNa("%8.3f", 100 * r.energySpread) + " %";
        v.i4 = "I4 = (J_3 - 2) I2 = " + fmtOrNa("%10.4g", r.i4) + " 1/m";
        v.i5 = "I5 = n/a (coupled: each mode has its own)";
        v.naturalChromaticityX = "nat.chromaticity, mode 1:" + fmtOrNa("%8.3f", r.chromaticityX);
        v.naturalChromaticityY = "nat.chromaticity, mode 2:" + fmtOrNa("%8.3f", r.chromaticityY);
        v.correctedChromaticityX = "corr.chromaticity, mode 1:" + fmtOrNa("%8.3f", r.correctedChromaticityX);
        v.correctedChromaticityY = "corr.chromaticity, mode 2:" + fmtOrNa("%8.3f", r.correctedChromaticityY);
        return v;
    }
    v.naturalChromaticityX = "nat.chromaticity_x:" + fmtOrNa("%8.3f", r.chromaticityX);
    v.naturalChromaticityY = "nat.chromaticity_y:" + fmtOrNa("%8.3f", r.chromaticityY);
    v.correctedChromaticityX = "corr.chromaticity_x:" + fmtOrNa("%8.3f", r.correctedChromaticityX);
    v.correctedChromaticityY = "corr.chromaticity_y:" + fmtOrNa("%8.3f", r.correctedChromaticityY);
    return v;
}

} // namespace kestrune
