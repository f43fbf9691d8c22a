#include "core/coupling/ModeEmittances.h"

#include "core/Format.h"
#include "core/RingRefusals.h"
#include "core/coupling/CoupledOptics.h"
#include "core/optics/TransferMatrix.h"

#include <Eigen/Dense>
#include <algorithm>
#include <cmath>
#include <complex>
#include <unsupported/Eigen/MatrixFunctions>
#include <vector>

namespace kestrune {

// The equilibrium of the three modes (A. Chao, J. Appl. Phys. 50 (1979) 595; K. Ohmi, K. Hirata,
// K. Oide, Phys. Rev. E 49 (1994) 751), to first order in the radiation.
//
// Coordinates X = (x, px, y, py, z, delta): the transverse ones of the coupled optics, z = beta c (t0 - t)
// (ahead of the reference particle is positive) and delta = dp / p0. The linear Hamiltonian of the
// coupled optics gains -h x delta + delta^2 / (2 gamma^2), so dpx/ds gains h delta and
// dz/ds = -h x + delta / gamma^2; over a turn z slips by (1/gamma^2 - alpha_c) C delta, the slip
// factor of the ring. An rf cavity of voltage V at the synchronous phase phi_s gives the energy
// e V sin(phi_s - k_rf z), k_rf = 2 pi h_rf / C; to first order delta += -V k_rf cos(phi_s) z / (beta c p)
// (delta = dE / (beta^2 E)), stable where cos(phi_s) has the sign of the slip factor.
//
// Modes. The one-turn map M (symplectic, S = diag(J, J, J)) has the eigenvectors E_k, M E_k = lambda_k E_k,
// normalised to E_k^H S E_k = 2i; E_k^T S E_k = 0. A particle is X = sum_k (c_k E_k + c.c.) with
// c_k = E_k^H S X / 2i, and J_k = 2 |c_k|^2 = |E_k^H S X|^2 / 2 is the action of mode k: for one uncoupled
// plane E = (sqrt(beta), (i - alpha) / sqrt(beta)) and J is the Courant-Snyder action, so the mode
// emittance is eps_k = <J_k>.
//
// Damping. The radiation adds to the motion a small linear generator P A(s), P = C_gamma E^3 / (2 pi) the
// energy lost per metre and per unit h^2. To first order the one-turn map changes by
// dM = integral of M(s -> end) P A(s) M(start -> s) ds and the eigenvalue by
// d lambda_k = w_k dM E_k / (w_k E_k), with the left eigenvector w_k = E_k^H S (symplecticity gives
// E^H S M = lambda E^H S on the unit circle). With E_k(s) = M(start -> s) E_k and
// E_k^H S M(s -> end) = lambda_k E_k(s)^H S this is d lambda / lambda = P integral of E_k^H S A E_k ds / 2i,
// so the amplitude of mode k shrinks per turn by
//   alpha_k = -Re(d lambda / lambda) = -(P / 2) Im integral of E_k(s)^H S A(s) E_k(s) ds.
// A comes from the loss dE/dl = P E0 (1 + delta)^2 b^2 on dl = (1 + h x) ds, b = h + k x - k1s y the
// midplane field over B rho0 (MAD-X's model with its skew component), and from the momenta shrinking
// with the energy they lose:
//   d delta/ds = -P (h^2 + 2 h^2 delta + (h^3 + 2 h k) x - 2 h k1s y), dpx/ds = -P h^2 px, dpy/ds = -P h^2
//   py.
// A pole face of angle psi takes x tan(psi) of field length from a particle at x: delta += P h^2 tan(psi) x
// there (the face term of I4). The constant loss is made up by the rf and only moves the orbit. The sum of
// the decrements is -P/2 trace A = 2 P I2, the damping partitions J_k = 2 alpha_k / (P I2) add up to 4.
//
// Excitation. Photons kick delta with d<delta^2>/ds = 55/(24 sqrt 3) r_e hbar gamma^5 / (m c |rho|^3)
// = 2 C_q gamma^2 P |h|^3; a kick w in delta changes J_k by |E_k,z|^2 w^2 / 2 (E^H S e_delta is the
// conjugate of E_z). Per turn <J_k> -> (1 - 2 alpha_k) <J_k> + C_q gamma^2 P integral of |E_k,z|^2 |h|^3 ds,
// so
//   eps_k = C_q gamma^2 integral of |E_k,z|^2 |h|^3 ds / (2 alpha_k / P),
// P cancelling. Without coupling |E_1,z|^2 is the dispersion invariant H and 2 alpha_1 / P = J_x I2, so
// eps_1 = C_q gamma^2 I5 / (J_x I2); the vertical mode has no dispersion and eps_2 = 0; for the
// longitudinal mode |E_3,z|^2 = beta_z and, with beta_z constant around the ring (a slow synchrotron
// motion), eps_3 = beta_z sigma_delta^2 = sigma_z sigma_delta.
//
// The integrals over the body of a bend take six Gauss-Legendre points on pieces short against the
// rates of its motion, the eigenvector carried to each point by the body's exact map.

namespace {

using Complex = std::complex<double>;
using Matrix6 = Eigen::Matrix<double, 6, 6>;
using Modes = Eigen::Matrix<Complex, 6, 3>;

// Indices of X.
constexpr int kPx = 1, kPy = 3, kZ = 4, kD = 5;

const char* const kDifferenceResonance =
    "the transverse modes are not separable: on the difference resonance";

// Gauss-Legendre nodes (on 0..1 from the middle) and weights of six points on (-1, 1).
constexpr double kNodes[3] = {0.2386191860831969086, 0.6612093864662645137, 0.9324695142031520278};
constexpr double kWeights[3] = {0.4679139345726910474, 0.3607615730481386076, 0.1713244923791703450};

Matrix6 symplecticForm()
{
    Matrix6 s = Matrix6::Zero();
    for (int k = 0; k < 6; k += 2) {
        s(k, k + 1) = 1;
        s(k + 1, k) = -1;
    }
    return s;
}

// The 6 x 6 map of a transverse map m (on x, px, y, py, delta) with the path-length term r56. Its z row
// follows from symplecticity: with M = [[T, 0, D], [Z, 1, r56], [0, 0, 1]], M^T S M = S asks for
// T^T S4 D + Z^T = 0, i.e. Z = D^T S4 T.
Matrix6 withPathLength(const Map5& m, double r56)
{
    Matrix6 r = Matrix6::Identity();
    Eigen::Matrix4d t, s4 = Eigen::Matrix4d::Zero();
    Eigen::Vector4d d;
    for (int i = 0; i < 4; ++i) {
        for (int j = 0; j < 4; ++j)
            r(i, j) = t(i, j) = m[i][j];
        r(i, kD) = d(i) = m[i][4];
    }
    s4(0, 1) = s4(2, 3) = 1;
    s4(1, 0) = s4(3, 2) = -1;
    const Eigen::RowVector4d z = d.transpose() * s4 * t;
    for (int j = 0; j < 4; ++j)
        r(kZ, j) = z(j);
    r(kZ, kD) = r56;
    return r;
}

// The generator of the body of a bend (curvature h, gradient k1, skew gradient k1s): the coupled
// optics' equations with the longitudinal pair.
Matrix6 bodyGenerator(double h, double k1, double k1s, double invGamma2)
{
    Matrix6 a = Matrix6::Zero();
    a(0, kPx) = 1;
    a(kPx, 0) = -(h * h + k1);
    a(kPx, 2) = k1s;
    a(kPx, kD) = h;
    a(2, kPy) = 1;
    a(kPy, 2) = k1;
    a(kPy, 0) = k1s;
    a(kZ, 0) = -h;
    a(kZ, kD) = invGamma2;
    return a;
}

// The roll into the element's frame, (u, pu, v, pv) of (x, px, y, py).
Matrix6 roll(double t)
{
    const double c = std::cos(t), s = std::sin(t);
    Matrix6 r = Matrix6::Identity();
    for (int k = 0; k < 2; ++k) {
        r(k, k) = c;
        r(k, k + 2) = s;
        r(k + 2, k) = -s;
        r(k + 2, k + 2) = c;
    }
    return r;
}

bool isBend(const LatticeElement& e)
{
    return familyOf(e.code) == static_cast<int>(Family::Bend) && e.curvature != 0 && e.length > 0;
}

bool hasFaces(const LatticeElement& e)
{
    return e.code == code::kRectangularBend || e.code == code::kWedgeBend;
}

// -1/2 Im of E^H S A E and |E_z|^2 |h|^3 summed over the ring, per mode (P = 1).
struct Radiation
{
    std::array<double, 3> damping{}, excitation{};
};

void addFace(const Modes& e, double h, double psi, Radiation& r)
{
    // A has the one entry d delta = h^2 tan(psi) x; E^H S A E = conj(E_z) h^2 tan(psi) E_x
    const double a = h * h * std::tan(psi);
    for (int k = 0; k < 3; ++k)
        r.damping[k] -= 0.5 * std::imag(std::conj(e(kZ, k)) * a * e(0, k));
}

// The body's pieces: the integrands are products of the motion's exponentials of rates up to about
// w = sqrt|h^2 + k1| + sqrt|k1| + sqrt|k1s|; pieces of w l <= 1/2 leave six points far below 1e-12.
int pieces(double h, double k1, double k1s, double length)
{
    const double w = std::sqrt(std::fabs(h * h + k1)) + std::sqrt(std::fabs(k1)) + std::sqrt(std::fabs(k1s));
    const double n = std::ceil(2 * w * length);
    return std::clamp(static_cast<int>(std::isfinite(n) ? std::min(n, 1e4) : 1e4), 1, 10000);
}

// The body from its entrance (e in the element's frame, after the entrance face); e is left at its exit.
void addBody(Modes& e, const LatticeElement& el, double invGamma2, Radiation& r)
{
    const double h = el.curvature, k1 = el.k, k1s = el.k1s;
    const double absH3 = std::fabs(h * h * h);
    const Matrix6 a = bodyGenerator(h, k1, k1s, invGamma2);
    const int n = pieces(h, k1, k1s, el.length);
    const double piece = el.length / n;
    Matrix6 nodes[6];
    double weights[6];
    for (int j = 0; j < 6; ++j) {
        const double node = j < 3 ? -kNodes[2 - j] : kNodes[j - 3];
        weights[j] = (j < 3 ? kWeights[2 - j] : kWeights[j - 3]) * piece / 2;
        nodes[j] = (a * (piece * (1 + node) / 2)).exp();
    }
    const Matrix6 step = (a * piece).exp();
    for (int p = 0; p < n; ++p) {
        for (int j = 0; j < 6; ++j) {
            const Modes v = nodes[j].cast<Complex>() * e;
            for (int k = 0; k < 3; ++k) {
                // S A E has -h^2 E_px in x, -h^2 E_py in y and (A E)_delta in z
                const Complex ad =
                    -2 * h * h * v(kD, k) - (h * h * h + 2 * h * k1) * v(0, k) + 2 * h * k1s * v(2, k);
                const Complex sae =
                    -h * h * (std::conj(v(0, k)) * v(kPx, k) + std::conj(v(2, k)) * v(kPy, k)) +
                    std::conj(v(kZ, k)) * ad;
                r.damping[k] -= 0.5 * weights[j] * sae.imag();
                r.excitation[k] += weights[j] * absH3 * std::norm(v(kZ, k));
            }
        }
        e = step.cast<Complex>() * e;
    }
}

// The radiation of bend el, e the modes at its entrance in the ring's frame; the bend is rolled by its
// tilt and the roll error dpsi of a machine with errors.
void addBend(const LatticeElement& el, const Modes& e, double invGamma2, double dpsi, Radiation& r)
{
    Modes u = roll(el.tilt + dpsi).cast<Complex>() * e;
    const double h = el.curvature;
    const auto face = [&](double psi) {
        if (!hasFaces(el))
            return;
        addFace(u, h, psi, r);
        TransferMatrix t;
        edgeMatrix(t, h, psi, el.gap);
        Matrix6 f = Matrix6::Identity();
        f(kPx, 0) = t.r[kXp][kX];
        f(kPy, 2) = t.r[kYp][kY];
        u = f.cast<Complex>() * u;
    };
    face(el.ain);
    addBody(u, el, invGamma2, r);
    face(el.aout);
}

// The 6 x 6 maps of the cell's elements, the rf kicks included.
struct CellMaps
{
    std::vector<Matrix6> maps; // element i at i - 1
    Matrix6 startKick = Matrix6::Identity();
};

// about: the transverse maps of the elements about a closed orbit in place of the design's
CellMaps cellMaps(const State& state, double invGamma2, double cosPhiS, const std::vector<Map5>* about)
{
    const BeamLine& line = state.line;
    int cavities = 0;
    double cellVoltage = 0;
    for (int i = 1; i <= line.count && i <= kMaxLineElements; ++i)
        if (line.at(i).code == code::kRfCavity) {
            ++cavities;
            cellVoltage += line.at(i).voltage;
        }
    // delta += -q z per kick of voltage v: the ring's voltage as the cavities share it, equally where
    // they hold none, at the cell start for a line without cavities
    const double kRf = kTwoPi * state.ringParams.harmonicNumber / state.ringParams.circumference;
    const double perVolt = kRf * cosPhiS / (state.beam.beta * state.beam.momentum);
    const double share = state.rf.voltage / (line.superPeriods * std::max(cavities, 1));
    const auto kick = [&](double v) {
        Matrix6 k = Matrix6::Identity();
        k(kD, kZ) = -perVolt * v;
        return k;
    };
    CellMaps cell;
    if (cavities == 0)
        cell.startKick = kick(share);
    for (int i = 1; i <= line.count && i <= kMaxLineElements; ++i) {
        const LatticeElement& e = line.at(i);
        if (e.code == code::kRfCavity) {
            const double v =
                cellVoltage > 0 ? e.voltage * state.rf.voltage / (line.superPeriods * cellVoltage) : share;
            Map5 half = identityMap();
            half[0][1] = half[2][3] = e.length / 2;
            const Matrix6 d = withPathLength(half, e.length / 2 * invGamma2);
            cell.maps.push_back(d * kick(v) * d);
            continue;
        }
        double r56 = e.length * invGamma2;
        if (isBend(e))
            r56 = (bodyGenerator(e.curvature, e.k, e.k1s, invGamma2) * e.length).exp()(kZ, kD);
        cell.maps.push_back(
            withPathLength(about ? (*about)[static_cast<std::size_t>(i - 1)] : elementMap(e), r56));
    }
    return cell;
}

// The three normalised modes of the one-turn map m (columns: modes 1, 2 and the longitudinal 3) and
// their eigenvalues; the refusal otherwise.
std::optional<std::string> findModes(const Matrix6& m, Modes& modes, Eigen::Vector3cd& lambdas)
{
    Eigen::EigenSolver<Matrix6> solver(m);
    const char* const unstable = "no stable periodic solution of the motion with the rf focusing";
    if (solver.info() != Eigen::Success)
        return std::string(unstable);
    const Eigen::Matrix<Complex, 6, 6> s = symplecticForm().cast<Complex>();
    std::vector<int> found;
    Modes v;
    for (int k = 0; k < 6; ++k) {
        const Complex lambda = solver.eigenvalues()(k);
        if (std::fabs(std::abs(lambda) - 1) > 1e-9 || std::fabs(lambda.imag()) < 1e-14)
            return std::string(unstable);
        const Eigen::Matrix<Complex, 6, 1> e = solver.eigenvectors().col(k);
        const double n = (e.adjoint() * s * e)(0, 0).imag();
        if (!(n > 0))
            continue;
        if (found.size() == 3)
            return std::string(kDifferenceResonance);
        v.col(static_cast<Eigen::Index>(found.size())) = e * std::sqrt(2 / n);
        lambdas(static_cast<Eigen::Index>(found.size())) = lambda;
        found.push_back(k);
    }
    if (found.size() != 3)
        return std::string(kDifferenceResonance);
    // the share of each plane in a mode's invariant, Im(conj(q) p) of its normalised vector
    const auto share = [&](int mode, int plane) {
        return std::imag(std::conj(v(plane, mode)) * v(plane + 1, mode));
    };
    int order[3] = {0, 1, 2};
    std::sort(order, order + 3, [&](int a, int b) { return share(a, kZ) < share(b, kZ); });
    if (share(order[0], 0) < share(order[1], 0))
        std::swap(order[0], order[1]);
    if (std::fabs(share(order[0], 0) - share(order[1], 0)) < 1e-9)
        return std::string(kDifferenceResonance);
    Modes sorted;
    Eigen::Vector3cd l;
    for (int k = 0; k < 3; ++k) {
        sorted.col(k) = v.col(order[k]);
        l(k) = lambdas(order[k]);
    }
    modes = sorted;
    lambdas = l;
    return std::nullopt;
}

// The energy loss per turn of the bends, U0 = C_gamma E^4 I2 / (2 pi), with the loss the rf window adds
// (as the ring's equilibrium takes it); cellI2 of one cell.
double turnEnergyLoss(const State& state, double cellI2)
{
    const double energyGeV = state.beam.momentum / 1e9;
    return state.beam.cGammaParticle * energyGeV * energyGeV * energyGeV * energyGeV / kTwoPi * cellI2 *
               state.line.superPeriods * 1e9 +
           state.ringParams.additionalLoss;
}

// The slip of one cell without rf: an off-momentum particle on its periodic orbit eta = (1 - M)^-1 M_.d
// of the transverse block gets ahead by dz/ddelta = M56 + M5j eta_j per cell (z the distance ahead of the
// reference particle, as a drift's L / gamma^2 says), so that the slip factor eta_c = 1/gamma^2 - alpha_c
// is that per metre of the cell.
double cellSlip(const State& state, double invGamma2, const std::vector<Map5>* about)
{
    const CellMaps plain = cellMaps(state, invGamma2, 0, about);
    Matrix6 m = Matrix6::Identity();
    for (const Matrix6& e : plain.maps)
        m = e * m;
    const Eigen::Vector4d eta =
        (Eigen::Matrix4d::Identity() - m.topLeftCorner<4, 4>()).partialPivLu().solve(m.block<4, 1>(0, kD));
    return m(kZ, kD) + m.block<1, 4>(kZ, 0).dot(eta);
}

double cellI2(const BeamLine& line)
{
    double i2 = 0;
    for (int i = 1; i <= line.count && i <= kMaxLineElements; ++i)
        if (isBend(line.at(i)))
            i2 += line.at(i).curvature * line.at(i).curvature * line.at(i).length;
    return i2;
}

// cos(phi_s) of the rf system: sin(phi_s) = U0 / V, on the rising slope below transition (a positive
// slip) and the falling one above; nothing where the voltage does not exceed U0.
std::optional<double> synchronousCosine(const State& state, double i2, double invGamma2,
                                        const std::vector<Map5>* about)
{
    const double u0 = turnEnergyLoss(state, i2);
    if (!(state.rf.voltage > u0) || !std::isfinite(state.rf.voltage))
        return std::nullopt;
    const double c = std::sqrt(1 - (u0 / state.rf.voltage) * (u0 / state.rf.voltage));
    return cellSlip(state, invGamma2, about) >= 0 ? c : -c;
}

// The transverse periodic solution of the cell's maps about a closed orbit (elements 1..count).
CoupledRing transverseAbout(const BeamLine& line, const std::vector<Map5>& maps)
{
    std::vector<double> lengths;
    for (int i = 1; i <= line.count && i <= kMaxLineElements; ++i)
        lengths.push_back(line.at(i).length);
    if (maps.size() != lengths.size()) {
        CoupledRing ring;
        ring.refusal = "the maps about the orbit do not match the line";
        return ring;
    }
    return coupledRing(maps, lengths, line.superPeriods);
}

// The equilibrium of the cell with its design maps, or with the maps about a closed orbit.
ModeEmittances equilibrium(const State& state, const std::vector<Map5>* about)
{
    ModeEmittances result;
    const CoupledRing transverse = about ? transverseAbout(state.line, *about) : coupledRing(state);
    if (!transverse.computed) {
        result.refusal = transverse.refusal;
        return result;
    }
    const BeamLine& line = state.line;
    const RingParameters& ring = state.ringParams;
    const double i2 = cellI2(line);
    if (!(i2 > 0)) {
        result.refusal = kNoEnergyLoss;
        return result;
    }
    if (!finitePositive(ring.circumference) || !finitePositive(ring.harmonicNumber)) {
        result.refusal = !finitePositive(ring.circumference) ? kNoCircumference : kNoHarmonic;
        return result;
    }
    const double invGamma2 = 1 / (state.beam.gamma * state.beam.gamma);
    const std::optional<double> cosPhiS = synchronousCosine(state, i2, invGamma2, about);
    if (!cosPhiS) {
        result.refusal = "the rf voltage does not exceed the energy loss per turn: no synchrotron motion";
        return result;
    }
    const CellMaps cell = cellMaps(state, invGamma2, *cosPhiS, about);
    Matrix6 total = cell.startKick;
    for (const Matrix6& m : cell.maps)
        total = m * total;
    Modes e;
    Eigen::Vector3cd lambdas;
    if (std::optional<std::string> refusal = findModes(total, e, lambdas)) {
        result.refusal = *refusal;
        return result;
    }
    const double mu = std::arg(lambdas(2)) / kTwoPi;
    result.synchrotronTune = line.superPeriods * std::fabs(mu);

    Radiation r;
    const double spread3 = std::norm(e(kD, 2)); // |E_3,delta|^2 at the cell start
    e = cell.startKick.cast<Complex>() * e;
    for (int i = 1; i <= line.count && i <= kMaxLineElements; ++i) {
        if (isBend(line.at(i)))
            addBend(line.at(i), e, invGamma2, about ? line.at(i).errors.dpsi : 0.0, r);
        e = cell.maps[static_cast<std::size_t>(i - 1)].cast<Complex>() * e;
    }
    const double cq = state.beam.cQuantumParticle * state.beam.gamma * state.beam.gamma;
    for (int k = 0; k < 3; ++k) {
        result.partition[static_cast<std::size_t>(k)] = 2 * r.damping[static_cast<std::size_t>(k)] / i2;
        const double eps =
            cq * r.excitation[static_cast<std::size_t>(k)] / (2 * r.damping[static_cast<std::size_t>(k)]);
        if (r.damping[static_cast<std::size_t>(k)] > 0 && std::isfinite(eps))
            result.emittance[static_cast<std::size_t>(k)] = eps;
        else if (result.refusal.empty())
            result.refusal =
                "mode " + std::to_string(k + 1) + " is not damped by the radiation: no equilibrium";
    }
    // the spread of delta is that of mode 3: the transverse modes reach delta only through the rf's
    // synchro-betatron coupling where the cavities have dispersion
    if (result.emittance[2])
        result.energySpread = std::sqrt(*result.emittance[2] * spread3);
    result.computed = true;
    return result;
}

} // namespace

ModeEmittances modeEmittances(const State& state)
{
    return equilibrium(state, nullptr);
}

ModeEmittances modeEmittances(const State& state, const std::vector<Map5>& about)
{
    return equilibrium(state, &about);
}

ModeEmittanceView modeEmittanceView(const State& state, const ModeEmittances& modes)
{
    // a mode that the radiation does not excite (the vertical one of a ring without coupling sources)
    // reads 0, not a number of rounding in the smallest prefix
    const double largest = modes.emittance[0].value_or(0.0);
    const auto label = [&](const char* name, std::size_t k, const char* unit) {
        const double value = modes.emittance[k].value_or(std::nan(""));
        if (std::fabs(value) <= 1e-12 * std::fabs(largest))
            return std::string(name) + "0";
        return std::string(name) + siFormatOrNa(value, unit);
    };
    ModeEmittanceView v;
    v.mode1 = label("emittance, mode 1: ", 0, "m");
    v.mode2 = label("emittance, mode 2: ", 1, "m");
    v.mode3 = label("emittance, mode 3 (long.): ", 2, "m");
    if (!modes.computed)
        v.verticalSource = modes.refusal;
    else if (lineCouples(state.line))
        v.verticalSource = "emittance_y: mode 2, from the coupling sources";
    else
        v.verticalSource = "emittance_y: from the typed coupling (no coupling sources)";
    return v;
}

CouplingView couplingView(const State& state)
{
    CouplingView v;
    if (!lineCouples(state.line)) {
        v.eigentunes = "eigentunes: the planes' tunes (no coupling sources)";
        v.closestApproach = "closest tune approach: dQmin = 0 (no coupling sources)";
        return v;
    }
    const CoupledRing ring = coupledRing(state);
    if (!ring.computed) {
        v.eigentunes = "eigentunes: " + ring.refusal;
        v.closestApproach = "closest tune approach: " + ring.refusal;
        return v;
    }
    v.eigentunes = "eigentunes: Q1 = " + fmt("%.6f", ring.tune1) + ", Q2 = " + fmt("%.6f", ring.tune2);
    const TuneApproach approach = closestTuneApproach(state);
    v.closestApproach = approach.computed
                            ? "closest tune approach: dQmin = " + fmt("%.4e", approach.deltaQMin) + " (" +
                                  excerpt(approach.familyA) + ", " + excerpt(approach.familyB) + ")"
                            : "closest tune approach: " + approach.refusal;
    return v;
}

LongitudinalRing longitudinalRing(const State& state)
{
    LongitudinalRing result;
    const CoupledRing transverse = coupledRing(state);
    if (!transverse.computed) {
        result.refusal = transverse.refusal;
        return result;
    }
    const double i2 = cellI2(state.line);
    double cellLength = 0;
    for (int i = 1; i <= state.line.count && i <= kMaxLineElements; ++i)
        cellLength += state.line.at(i).length;
    if (!(i2 > 0) || !finitePositive(cellLength)) {
        result.refusal = kNoEnergyLoss;
        return result;
    }
    const double invGamma2 = 1 / (state.beam.gamma * state.beam.gamma);
    result.energyLoss = turnEnergyLoss(state, i2);
    result.slipFactor = cellSlip(state, invGamma2, nullptr) / cellLength;
    result.momentumCompaction = invGamma2 - result.slipFactor;
    result.computed = std::isfinite(result.slipFactor) && result.slipFactor != 0;
    if (!result.computed)
        result.refusal = "the slip factor of the ring is 0: at transition there is no rf bucket";
    return result;
}

} // namespace kestrune
