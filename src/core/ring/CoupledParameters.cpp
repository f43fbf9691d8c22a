#include "core/ring/CoupledParameters.h"

#include "core/Design.h"
#include "core/RingRefusals.h"
#include "core/coupling/CoupledOptics.h"
#include "core/coupling/ModeEmittances.h"
#include "core/optics/TransferMatrix.h"

#include <Eigen/Dense>
#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <limits>

namespace kestrune {

// The chromaticity of an eigenmode. A change delta X^T G X / 2 of the linear Hamiltonian moves the
// eigenvalue of mode k (vector v normalised to v^H S v = 2i) by d mu = delta / 2 times the integral of
// v^H G v around the ring: first-order perturbation of M v = lambda v with the left vector v^H S, as
// the damping of the modes is found (ModeEmittances.cpp); for one uncoupled plane v^H G v is
// G_xx beta - 2 G_xp alpha + G_pp gamma, the textbook integral. So 4 pi xi_k = integral of v_k^H G v_k.
//
// G is the change per unit delta of the quadratic part of the Hamiltonian around the off-momentum
// orbit (eta delta), with the momenta canonical and normalised to the design momentum, so that the
// fields do not scale with the momentum and only the kinetic part does:
//   everywhere (drifts, quadrupoles, skew parts, the kicks of thin multipoles add nothing)
//       H = (px^2 + py^2) / (2 (1 + delta)):  G = diag(0, -1, 0, -1);
//   a solenoid, K = ks / 2: H = ((px + K y)^2 + (py - K x)^2) / (2 (1 + delta)), v^H G v =
//       -(|px + K y|^2 + |py - K x|^2);
//   the body of a bend in its own frame (MAD-X's Hamiltonian, written out in Parameter.cpp):
//       v^H G v = 2 h k eta |x|^2 + 2 h eta' Re(x* px) + (h eta - 1)(|px|^2 + |py|^2) - h k eta |y|^2
//                 - 2 h k eta_y Re(x* y), eta_y the vertical dispersion in the bend's frame;
//   a pole face or the plane end of a sector body: its second-order map linearised about the orbit
//       changes the face matrix F by delta D; P = F^-1 D gives G = -S P (symmetric part);
//   a sextupole of strength m (the chromaticity with the sextupoles), H = m (x^3 - 3 x y^2) / 6:
//       v^H G v = m (eta (|x|^2 - |y|^2) - 2 eta_y Re(x* y)), a thin one with k2l = knl[2] in m L.
// For a ring without coupling this is the uncoupled pass's chromaticity, whose drift term is written
// as -K beta instead (the same integral around the ring); rolled by a quarter turn its modes swap.
//
// The integrals run over every element by six Gauss-Legendre points on pieces short against the rates
// of its motion, the vectors carried to each point by the element's exact map.

namespace {

using Complex = std::complex<double>;
using Vector4c = Eigen::Matrix<Complex, 4, 1>;

constexpr double kNotAvailable = std::numeric_limits<double>::quiet_NaN();

// Gauss-Legendre nodes (on 0..1 from the middle) and weights of six points on (-1, 1).
constexpr double kNodes[3] = {0.2386191860831969086, 0.6612093864662645137, 0.9324695142031520278};
constexpr double kWeights[3] = {0.4679139345726910474, 0.3607615730481386076, 0.1713244923791703450};

// The two mode vectors and the dispersion (x, px, y, py) at one place.
struct Carried
{
    std::array<Vector4c, 2> v;
    Eigen::Vector4d eta;
};

Carried carry(const Map5& m, const Carried& c)
{
    Eigen::Matrix4d t;
    Eigen::Vector4d d;
    for (int i = 0; i < 4; ++i) {
        for (int j = 0; j < 4; ++j)
            t(i, j) = m[static_cast<std::size_t>(i)][static_cast<std::size_t>(j)];
        d(i) = m[static_cast<std::size_t>(i)][4];
    }
    Carried out;
    for (int k = 0; k < 2; ++k)
        out.v[k] = t.cast<Complex>() * c.v[k];
    out.eta = t * c.eta + d;
    return out;
}

// Into the frame of an element rolled by t: (u, pu, v, pv) = (x cos t + y sin t, ..., -x sin t + y cos t).
Carried rolledInto(const Carried& c, double t)
{
    if (t == 0)
        return c;
    const double cs = std::cos(t), sn = std::sin(t);
    Eigen::Matrix4d r = Eigen::Matrix4d::Identity();
    for (int k = 0; k < 2; ++k) {
        r(k, k) = r(k + 2, k + 2) = cs;
        r(k, k + 2) = sn;
        r(k + 2, k) = -sn;
    }
    Carried out;
    for (int k = 0; k < 2; ++k)
        out.v[k] = r.cast<Complex>() * c.v[k];
    out.eta = r * c.eta;
    return out;
}

// What one cell sums up, per mode (0: mode 1, 1: mode 2).
struct CellSums
{
    double xi[2] = {0, 0};          // 4 pi times the natural chromaticity
    double xiSextupole[2] = {0, 0}; // 4 pi times what the sextupoles add
    double beta[2][2] = {};         // integral of the Mais-Ripken beta of plane p (x, y) and mode j, m^2
    double i1 = 0;                  // integral of h eta in the bends' frame, m
};

double re(const Complex& a, const Complex& b)
{
    return std::real(std::conj(a) * b);
}

double kinetic(const Vector4c& v)
{
    return -(std::norm(v(1)) + std::norm(v(3)));
}

double sextupoleTerm(const Vector4c& v, const Eigen::Vector4d& eta)
{
    return eta(0) * (std::norm(v(0)) - std::norm(v(2))) - 2 * eta(2) * re(v(0), v(2));
}

// The point of an element with quadrature weight w: ring holds the vectors in the ring's frame, own in
// the element's.
void addPoint(const LatticeElement& e, const Carried& ring, const Carried& own, double w, CellSums& sums)
{
    const bool bend = familyOf(e.code) == static_cast<int>(Family::Bend) && e.curvature != 0;
    const double h = e.curvature, k = e.k;
    for (int j = 0; j < 2; ++j) {
        const Vector4c& v = own.v[j];
        double g = kinetic(v);
        if (bend) {
            const double eta = own.eta(0), etaP = own.eta(1), etaY = own.eta(2);
            g = 2 * h * k * eta * std::norm(v(0)) + 2 * h * etaP * re(v(0), v(1)) +
                (h * eta - 1) * (std::norm(v(1)) + std::norm(v(3))) - h * k * eta * std::norm(v(2)) -
                2 * h * k * etaY * re(v(0), v(2));
        } else if (e.code == code::kSolenoid) {
            const double kk = e.ks / 2;
            g = -(std::norm(v(1) + kk * v(2)) + std::norm(v(3) - kk * v(0)));
        }
        sums.xi[j] += w * g;
        if (familyOf(e.code) == static_cast<int>(Family::Sextupole))
            sums.xiSextupole[j] += w * e.m * sextupoleTerm(v, own.eta);
        sums.beta[0][j] += w * std::norm(ring.v[j](0));
        sums.beta[1][j] += w * std::norm(ring.v[j](2));
    }
    if (bend)
        sums.i1 += w * h * own.eta(0);
}

// A pole face (or the plane end of a sector body) of a bend, own the vectors in its frame before it.
void addFace(const EdgeMap& m, const Carried& own, CellSums& sums)
{
    const double x = own.eta(0), px = own.eta(1), y = own.eta(2), py = own.eta(3);
    // z_i += t_ijk z_j z_k linearised about the orbit o: D_ik += t_ijk o_j, D_ij += t_ijk o_k
    Eigen::Matrix4d d = Eigen::Matrix4d::Zero();
    d(0, 0) = 2 * m.t111 * x;
    d(0, 2) = 2 * m.t133 * y;
    d(1, 0) = 2 * m.t211 * x + m.t212 * px;
    d(1, 1) = m.t212 * x;
    d(1, 2) = 2 * m.t233 * y + m.t234 * py;
    d(1, 3) = m.t234 * y;
    d(2, 0) = m.t313 * y;
    d(2, 2) = m.t313 * x;
    d(3, 0) = m.t413 * y + m.t414 * py;
    d(3, 1) = m.t423 * y;
    d(3, 2) = m.t413 * x + m.t423 * px;
    d(3, 3) = m.t414 * x;
    Eigen::Matrix4d inverseF = Eigen::Matrix4d::Identity();
    inverseF(1, 0) = -m.r21;
    inverseF(3, 2) = -m.r43;
    Eigen::Matrix4d s = Eigen::Matrix4d::Zero();
    s(0, 1) = s(2, 3) = 1;
    s(1, 0) = s(3, 2) = -1;
    const Eigen::Matrix4cd g = (-s * inverseF * d).cast<Complex>();
    for (int j = 0; j < 2; ++j)
        sums.xi[j] += std::real((own.v[j].adjoint() * g * own.v[j])(0, 0));
}

// Pieces of a thick element: the integrands are products of the motion's exponentials of rates up to
// about w = sqrt|h^2 + k| + sqrt|k| + sqrt|k1s| + |ks| / 2; pieces of w l <= 1/2 leave six points far
// below 1e-12.
int pieces(const LatticeElement& e)
{
    const double w = std::sqrt(std::fabs(e.curvature * e.curvature + e.k)) + std::sqrt(std::fabs(e.k)) +
                     std::sqrt(std::fabs(e.k1s)) + std::fabs(e.ks) / 2;
    const double n = std::ceil(2 * w * e.length);
    return std::clamp(static_cast<int>(std::isfinite(n) ? std::min(n, 1e4) : 1e4), 1, 10000);
}

// A thick length of element body (its faces left out), from c on: the points on the way, c at its end.
// The body's maps come from the element cut to the piece's length; c is in the ring's frame (body
// rolled as e), or with ownFrame in the element's (body unrolled, a bend's).
void addBody(const LatticeElement& e, const LatticeElement& body, bool ownFrame, Carried& c, CellSums& sums)
{
    const int n = pieces(e);
    const double piece = e.length / n;
    Map5 nodes[6];
    double weights[6];
    LatticeElement cut = body;
    for (int j = 0; j < 6; ++j) {
        const double node = j < 3 ? -kNodes[2 - j] : kNodes[j - 3];
        weights[j] = (j < 3 ? kWeights[2 - j] : kWeights[j - 3]) * piece / 2;
        cut.length = piece * (1 + node) / 2;
        nodes[j] = elementMap(cut);
    }
    cut.length = piece;
    const Map5 step = elementMap(cut);
    for (int p = 0; p < n; ++p) {
        for (int j = 0; j < 6; ++j) {
            const Carried at = carry(nodes[j], c);
            if (ownFrame)
                addPoint(e, rolledInto(at, -e.tilt), at, weights[j], sums);
            else
                addPoint(e, at, rolledInto(at, e.tilt), weights[j], sums);
        }
        c = carry(step, c);
    }
}

Map5 faceMap(double h, double psi, double gap)
{
    TransferMatrix t;
    edgeMatrix(t, h, psi, gap);
    Map5 f = identityMap();
    f[1][0] = t.r[kXp][kX];
    f[3][2] = t.r[kYp][kY];
    return f;
}

// A bend in its own frame: faces (or plane ends), the body, the faces.
void addBend(const LatticeElement& e, const Carried& ring, CellSums& sums)
{
    const bool faces = e.code == code::kRectangularBend || e.code == code::kWedgeBend;
    const double h = e.curvature;
    Carried own = rolledInto(ring, e.tilt);
    addFace(edgeMap(h, e.k, faces ? e.ain : 0, faces ? e.gap : 0, Face::Entrance), own, sums);
    if (faces)
        own = carry(faceMap(h, e.ain, e.gap), own);
    LatticeElement body = e;
    body.code = code::kSectorBend;
    body.tilt = 0;
    addBody(e, body, true, own, sums);
    addFace(edgeMap(h, e.k, faces ? e.aout : 0, faces ? e.gap : 0, Face::Exit), own, sums);
}

void addElement(const LatticeElement& e, const Carried& c, CellSums& sums)
{
    if (familyOf(e.code) == static_cast<int>(Family::Bend) && e.curvature != 0 && e.length > 0) {
        addBend(e, c, sums);
        return;
    }
    if (e.code == code::kThinMultipole) {
        // the coupled optics' thin multipole is its kick alone: only its sextupole component counts
        const double k2l = e.knl.size() > 2 ? e.knl[2] : 0;
        const Carried own = rolledInto(c, e.tilt);
        for (int j = 0; j < 2; ++j)
            sums.xiSextupole[j] += k2l * sextupoleTerm(own.v[j], own.eta);
        return;
    }
    if (e.length > 0) {
        Carried along = c;
        addBody(e, e, false, along, sums);
    }
}

// The modes' equilibrium with the state's rf system, or a weak stand-in where it has none that holds the
// bunch: twice the energy loss at harmonic 1 on the circumference of the cells.
ModeEmittances modesWithRf(const State& state, double energyLoss, double cellLength)
{
    const RingParameters& ring = state.ringParams;
    if (state.rf.voltage > energyLoss && finitePositive(ring.harmonicNumber) &&
        finitePositive(ring.circumference))
        return modeEmittances(state);
    State standIn = state;
    standIn.rf.voltage = 2 * energyLoss;
    if (!finitePositive(ring.harmonicNumber))
        standIn.ringParams.harmonicNumber = 1;
    if (!finitePositive(ring.circumference))
        standIn.ringParams.circumference = state.line.superPeriods * cellLength;
    return modeEmittances(standIn);
}

void setNotAvailable(RingParameters& ring)
{
    ring.i1 = ring.i2 = ring.i3 = ring.i4 = ring.i5 = kNotAvailable;
    ring.chromaticityX = ring.chromaticityY = kNotAvailable;
    ring.correctedChromaticityX = ring.correctedChromaticityY = kNotAvailable;
    ring.averageBetaX = ring.averageBetaY = kNotAvailable;
    ring.tuneX = ring.tuneY = kNotAvailable;
    ring.modes = ModeRadiation{};
    ring.modes.coupled = true;
    ring.modes.partition.fill(kNotAvailable);
    ring.modes.i5.fill(kNotAvailable);
    ring.modes.i3 = kNotAvailable;
}

double ratio(double a, double b)
{
    const double r = a / b;
    return b != 0 && std::isfinite(r) ? r : kNotAvailable;
}

} // namespace

void coupledRadiationIntegrals(State& state)
{
    RingParameters& ring = state.ringParams;
    ring.stamp = latticeStamp(state);
    setNotAvailable(ring);
    const CoupledRing optics = coupledRing(state);
    if (!optics.computed)
        return;
    const BeamLine& line = state.line;
    const CoupledFunctions& start = optics.functions.front();
    // the start vectors from the Edwards-Teng form at the cell start, as the coupled pass builds them
    Carried c;
    {
        const EdwardsTeng& et = start.et;
        const double g = et.gamma;
        const auto plane = [](double beta, double alpha, Complex& q, Complex& p) {
            q = std::sqrt(beta);
            p = Complex(-alpha, 1) / std::sqrt(beta);
        };
        Complex q, p;
        plane(et.betaX, et.alphaX, q, p);
        c.v[0] << g * q, g * p, -g * (et.r11 * q + et.r12 * p), -g * (et.r21 * q + et.r22 * p);
        plane(et.betaY, et.alphaY, q, p);
        c.v[1] << g * (et.r22 * q - et.r12 * p), g * (-et.r21 * q + et.r11 * p), g * q, g * p;
        c.eta << start.eta[0], start.eta[1], start.eta[2], start.eta[3];
    }
    CellSums sums;
    double cellI2 = 0, cellI3 = 0, cellLength = 0;
    for (int i = 1; i <= line.count && i <= kMaxLineElements; ++i) {
        const LatticeElement& e = line.at(i);
        addElement(e, c, sums);
        if (familyOf(e.code) == static_cast<int>(Family::Bend) && e.curvature != 0 && e.length > 0) {
            cellI2 += e.curvature * e.curvature * e.length;
            cellI3 += std::fabs(e.curvature * e.curvature * e.curvature) * e.length;
        }
        cellLength += e.length;
        c = carry(elementMap(e), c);
    }
    const double nsp = line.superPeriods;
    ring.i1 = nsp * sums.i1;
    ring.i2 = nsp * cellI2;
    ring.i3 = nsp * cellI3;
    ring.tuneX = optics.tune1;
    ring.tuneY = optics.tune2;
    ring.chromaticityX = nsp * sums.xi[0] / (4 * kPi);
    ring.chromaticityY = nsp * sums.xi[1] / (4 * kPi);
    ring.correctedChromaticityX = ring.chromaticityX + nsp * sums.xiSextupole[0] / (4 * kPi);
    ring.correctedChromaticityY = ring.chromaticityY + nsp * sums.xiSextupole[1] / (4 * kPi);
    ring.averageBetaX = ratio(nsp * sums.beta[0][0], ring.circumference);
    ring.averageBetaY = ratio(nsp * sums.beta[1][1], ring.circumference);
    ring.modes.averageBeta12 = ratio(nsp * sums.beta[0][1], ring.circumference);
    ring.modes.averageBeta21 = ratio(nsp * sums.beta[1][0], ring.circumference);

    // the energy loss of the bends as the equilibrium takes it, for the rf the modes see
    const double energyGeV = state.beam.momentum / 1e9;
    const double energyLoss =
        state.beam.cGammaParticle * energyGeV * energyGeV * energyGeV * energyGeV / kTwoPi * ring.i2 * 1e9 +
        ring.additionalLoss;
    const ModeEmittances modes = modesWithRf(state, energyLoss, cellLength);
    if (!modes.computed)
        return;
    // eps_k = C_q gamma^2 i5_k / (J_k I2) and sigma_delta^2 = C_q gamma^2 i3 / (J_3 I2) hold what the
    // modes found at this energy, so that the equilibrium scales them with the energy as it does the
    // planes' integrals
    const double cq = state.beam.cQuantumParticle * state.beam.gamma * state.beam.gamma;
    ModeRadiation& m = ring.modes;
    for (std::size_t k = 0; k < 3; ++k)
        m.partition[k] = modes.partition[k];
    for (std::size_t k = 0; k < 2; ++k)
        m.i5[k] = modes.emittance[k] ? *modes.emittance[k] * m.partition[k] * ring.i2 / cq : kNotAvailable;
    m.i3 = modes.energySpread * modes.energySpread * m.partition[2] * ring.i2 / cq;
    ring.i4 = (m.partition[2] - 2) * ring.i2;
}

} // namespace kestrune
