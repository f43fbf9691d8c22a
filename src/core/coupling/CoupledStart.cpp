#include "core/coupling/CoupledStart.h"

#include "core/Constants.h"

#include <Eigen/Dense>
#include <algorithm>
#include <cmath>

namespace kestrune {

namespace {

using Complex = std::complex<double>;

// The normalised vector of an uncoupled plane: u = (sqrt(beta), (i - alpha) / sqrt(beta)), u^H S u = 2i.
void planeVector(double beta, double alpha, Complex& q, Complex& p)
{
    const double root = std::sqrt(beta);
    q = root;
    p = Complex(-alpha, 1) / root;
}

// E(q, p) = [[Re q, Im q], [Re p, Im p]]: the real 2 x 2 matrix of a plane part of a mode; its
// determinant Im(conj(q) p) is the part's share of the mode's invariant.
Eigen::Matrix2d realPart(const Complex& q, const Complex& p)
{
    Eigen::Matrix2d e;
    e << q.real(), q.imag(), p.real(), p.imag();
    return e;
}

double share(const Complex& q, const Complex& p)
{
    return std::imag(std::conj(q) * p);
}

Eigen::Matrix4d symplecticForm()
{
    Eigen::Matrix4d s = Eigen::Matrix4d::Zero();
    s(0, 1) = s(2, 3) = 1;
    s(1, 0) = s(3, 2) = -1;
    return s;
}

// Phase advance of a mode component through one element, in (-1/4, 3/4] of a turn as the uncoupled pass
// counts it.
double phaseAdvance(const Complex& before, const Complex& after)
{
    double d = std::arg(after / before) / kTwoPi;
    if (d < -0.25)
        d += 1;
    return std::isfinite(d) ? d : 0.0;
}

const char* const kBoxes[] = {"S11", "S22", "S33", "S44"};

} // namespace

std::optional<ModePair> edwardsTengModes(const EdwardsTeng& et)
{
    // With V = [[g I, C], [-C^+, g I]] (C^+ the symplectic conjugate, g^2 + det C = 1) the modes are
    // v1 = V (u1, 0) = (g u1, -C^+ u1) and v2 = V (0, u2) = (C u2, g u2). MAD-X's R = C^+ / g gives
    // v1 = g (u1, -R u1), v2 = g (R^+ u2, u2), and v^H S v = g^2 (1 + det R) 2i (a real 2 x 2 matrix M has
    // M^T S M = det M S): g = 1 / sqrt(1 + det R).
    const double detR = et.r11 * et.r22 - et.r12 * et.r21;
    if (!(et.betaX > 0) || !(et.betaY > 0) || !(1 + detR > 0))
        return std::nullopt;
    const double g = 1 / std::sqrt(1 + detR);
    ModePair m;
    Complex q, p;
    planeVector(et.betaX, et.alphaX, q, p);
    m[0] = {g * q, g * p, -g * (et.r11 * q + et.r12 * p), -g * (et.r21 * q + et.r22 * p)};
    planeVector(et.betaY, et.alphaY, q, p);
    // R^+ = [[r22, -r12], [-r21, r11]]
    m[1] = {g * (et.r22 * q - et.r12 * p), g * (-et.r21 * q + et.r11 * p), g * q, g * p};
    return m;
}

std::optional<EdwardsTeng> edwardsTengOf(const ModePair& modes)
{
    // Going back from v1 = (g u1, -C^+ u1): with E the real matrix of a part, E(x part) = g E(u1), whose
    // determinant is g^2 (E(u) has determinant 1), and E(y part) = -C^+ E(u1) = -R E(x part), so
    // R = -E(y part) E(x part)^-1; beta_1, alpha_1 are those of u1 = (x part) / g. A change of a mode's
    // phase multiplies E from the right by a rotation and changes none of them. Mode 2 gives beta_2,
    // alpha_2 from its y part, g u2, in the same way.
    const ModeVector& a = modes[0];
    const ModeVector& b = modes[1];
    const double g1 = share(a[0], a[1]);
    const double g2 = share(b[2], b[3]);
    if (!(g1 > 1e-12) || !(g2 > 1e-12))
        return std::nullopt;
    EdwardsTeng et;
    et.betaX = std::norm(a[0]) / g1;
    et.alphaX = -std::real(std::conj(a[0]) * a[1]) / g1;
    et.betaY = std::norm(b[2]) / g2;
    et.alphaY = -std::real(std::conj(b[2]) * b[3]) / g2;
    const Eigen::Matrix2d r = -realPart(a[2], a[3]) * realPart(a[0], a[1]).inverse();
    et.r11 = r(0, 0);
    et.r12 = r(0, 1);
    et.r21 = r(1, 0);
    et.r22 = r(1, 1);
    et.gamma = std::sqrt(g1);
    return et;
}

MaisRipken maisRipkenOf(const ModePair& modes)
{
    const auto beta = [](const ModeVector& v, int k) { return std::norm(v[static_cast<std::size_t>(k)]); };
    const auto alpha = [](const ModeVector& v, int k) {
        return -std::real(std::conj(v[static_cast<std::size_t>(k)]) * v[static_cast<std::size_t>(k) + 1]);
    };
    MaisRipken mr;
    mr.beta11 = beta(modes[0], 0);
    mr.beta21 = beta(modes[0], 2);
    mr.beta12 = beta(modes[1], 0);
    mr.beta22 = beta(modes[1], 2);
    mr.alpha11 = alpha(modes[0], 0);
    mr.alpha21 = alpha(modes[0], 2);
    mr.alpha12 = alpha(modes[1], 0);
    mr.alpha22 = alpha(modes[1], 2);
    return mr;
}

MaisRipkenStart maisRipkenStartOf(const ModePair& modes)
{
    MaisRipkenStart start;
    start.mr = maisRipkenOf(modes);
    // a part of no amplitude has no phase: 0
    start.nu1 = std::arg(modes[0][2] * std::conj(modes[0][0]));
    start.nu2 = std::arg(modes[1][0] * std::conj(modes[1][2]));
    return start;
}

namespace {

// The modes of a Mais-Ripken start for a share u of y in mode 1 (edwardsTengOfMaisRipken).
ModePair maisRipkenModes(const MaisRipkenStart& start, double u)
{
    const MaisRipken& m = start.mr;
    // a part sqrt(beta) e^(i theta), (-alpha + i share) e^(i theta) / sqrt(beta); none where beta is 0
    const auto part = [](double beta, double alpha, double share, double theta, Complex& q, Complex& p) {
        if (beta == 0) {
            q = p = 0;
            return;
        }
        const Complex turn = std::polar(1.0, theta);
        q = std::sqrt(beta) * turn;
        p = Complex(-alpha, share) / std::sqrt(beta) * turn;
    };
    ModePair v;
    part(m.beta11, m.alpha11, 1 - u, 0, v[0][0], v[0][1]);
    part(m.beta21, m.alpha21, u, start.nu1, v[0][2], v[0][3]);
    part(m.beta12, m.alpha12, u, start.nu2, v[1][0], v[1][1]);
    part(m.beta22, m.alpha22, 1 - u, 0, v[1][2], v[1][3]);
    return v;
}

// v^T S w and v^H S w with the terms' size: sum of |v_q w_p| + |v_p w_q|.
struct Products
{
    Complex plain, hermitian;
    double size = 0;
};

Products products(const ModeVector& v, const ModeVector& w)
{
    Products r;
    for (std::size_t k = 0; k < 4; k += 2) {
        r.plain += v[k] * w[k + 1] - v[k + 1] * w[k];
        r.hermitian += std::conj(v[k]) * w[k + 1] - std::conj(v[k + 1]) * w[k];
        r.size += 2 * (std::abs(v[k] * w[k + 1]) + std::abs(v[k + 1] * w[k]));
    }
    return r;
}

} // namespace

std::optional<EdwardsTeng> edwardsTengOfMaisRipken(const MaisRipkenStart& start, std::string& refusal)
{
    // The modes v1, v2 (v^H S v = 2i) of Mais-Ripken values: a part (q, p) of a mode, q = sqrt(beta)
    // e^(i theta), has beta = |q|^2, alpha = -Re(conj(q) p) and its share of the mode's invariant
    // Im(conj(q) p), the shares of a mode adding up to 1 (v^H S v = 2i sum of the shares). With the
    // modes' own phases taken so that mode 1's x part and mode 2's y part are real, v1 = (q11, p11, q21,
    // p21) and v2 = (q12, p12, q22, p22) with (b_kj, a_kj the betas and alphas of plane k in mode j)
    //   q11 = sqrt b11, p11 = (-a11 + i (1 - u)) / sqrt b11,
    //   q21 = e^(i nu1) sqrt b21, p21 = e^(i nu1) (-a21 + i u) / sqrt b21,
    //   q12 = e^(i nu2) sqrt b12, p12 = e^(i nu2) (-a12 + i u2) / sqrt b12,
    //   q22 = sqrt b22, p22 = (-a22 + i (1 - u2)) / sqrt b22,
    // u the share of y in mode 1, u2 that of x in mode 2, and a particle of mode 1 alone,
    // Re(sqrt(2 J) v1 e^(-i phi)), moves as sqrt(2 J b21) cos(psi + nu1) in y. The two modes are
    // symplectically orthogonal: v1^T S v2 = 0 and v1^H S v2 = 0. With c = sqrt(b11 / b12),
    // d = sqrt(b21 / b22) these read e^(i nu2) X + e^(i nu1) Y = 0 and e^(i nu2) X' + e^(-i nu1) Y' = 0,
    //   X = c (-a12 + i u2) + (a11 - i (1 - u)) / c,  Y = d (-a22 + i (1 - u2)) + (a21 - i u) / d,
    // X', Y' the same with the signs of (1 - u) and u in the second terms turned; so |X| = |Y| and
    // |X'| = |Y'|, and |X'|^2 - |X|^2 = 4 u2 (1 - u), |Y'|^2 - |Y|^2 = 4 u (1 - u2) give u2 = u. The
    // products are then linear in u, a + b u (a, b complex: their values at u = 0 and the change to
    // u = 1), and u is the least-squares root of the four real equations. The eight betas and alphas
    // with the two phases are two numbers more than the eight that fix two modes: the residual of the
    // equations at that u tells whether they belong together. The Edwards-Teng values follow from the
    // modes (edwardsTengOf).
    const MaisRipken& m = start.mr;
    const double values[] = {m.beta11,  m.beta12,  m.beta21,  m.beta22,  m.alpha11,
                             m.alpha12, m.alpha21, m.alpha22, start.nu1, start.nu2};
    if (!std::all_of(std::begin(values), std::end(values), [](double x) { return std::isfinite(x); })) {
        refusal = "the Mais-Ripken values must be numbers";
        return std::nullopt;
    }
    if (!(m.beta11 > 0) || !(m.beta22 > 0) || m.beta12 < 0 || m.beta21 < 0) {
        refusal = "the Mais-Ripken betas beta11, beta22 must be above 0, beta12, beta21 not below 0";
        return std::nullopt;
    }
    // without a cross-plane part the modes live in their own planes: u = 0, and a part of no beta has no
    // alpha; one cross-plane part alone would share no invariant with the other mode's plane
    if ((m.beta12 == 0) != (m.beta21 == 0) || (m.beta12 == 0 && (m.alpha12 != 0 || m.alpha21 != 0))) {
        refusal = "the Mais-Ripken values are not those of two modes of a beam: beta12 and beta21 are both 0 "
                  "(with alpha12, alpha21 0) or both above 0";
        return std::nullopt;
    }
    double u = 0;
    if (m.beta12 > 0) {
        const ModePair zero = maisRipkenModes(start, 0), one = maisRipkenModes(start, 1);
        const Products a = products(zero[0], zero[1]), b1 = products(one[0], one[1]);
        const Complex bPlain = b1.plain - a.plain, bHermitian = b1.hermitian - a.hermitian;
        const double bb = std::norm(bPlain) + std::norm(bHermitian);
        if (bb > 0)
            u = -std::real(std::conj(bPlain) * a.plain + std::conj(bHermitian) * a.hermitian) / bb;
    }
    const ModePair modes = maisRipkenModes(start, u);
    const Products p = products(modes[0], modes[1]);
    if (!(std::abs(p.plain) + std::abs(p.hermitian) <= 1e-5 * p.size)) {
        refusal = "the Mais-Ripken values are not those of two modes of a beam: their modes are not "
                  "symplectically orthogonal (the phases nu1, nu2 belong to other betas and alphas)";
        return std::nullopt;
    }
    const std::optional<EdwardsTeng> et = edwardsTengOf(modes);
    if (!et || !(u < 1)) {
        refusal = "the modes of the Mais-Ripken values cannot be told apart";
        return std::nullopt;
    }
    return et;
}

BeamMatrix beamMatrix(const EdwardsTeng& et, double eps1, double eps2)
{
    // A particle of mode amplitudes sqrt(2 J_j) and phases phi_j sits at X = sum Re(sqrt(2 J_j) v_j
    // exp(-i phi_j)); averaged over the phases, <X X^T> = sum J_j Re(v_j v_j^H), and <J_j> = eps_j.
    BeamMatrix sigma{};
    const std::optional<ModePair> modes = edwardsTengModes(et);
    if (!modes)
        return sigma;
    const double eps[2] = {eps1, eps2};
    for (int j = 0; j < 2; ++j)
        for (std::size_t r = 0; r < 4; ++r)
            for (std::size_t c = 0; c < 4; ++c)
                sigma[r][c] += eps[j] * std::real((*modes)[static_cast<std::size_t>(j)][r] *
                                                  std::conj((*modes)[static_cast<std::size_t>(j)][c]));
    return sigma;
}

std::optional<BeamStart> beamStart(const BeamMatrix& sigma, std::string& refusal)
{
    Eigen::Matrix4d s;
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            s(r, c) = sigma[static_cast<std::size_t>(r)][static_cast<std::size_t>(c)];
    if (!s.allFinite() || (s - s.transpose()).norm() > 1e-12 * s.norm()) {
        refusal = "the beam matrix must be symmetric and of numbers";
        return std::nullopt;
    }
    // positive definite (every beam has a positive spread in every direction of phase space): the leading
    // parts' determinants all positive (Sylvester)
    for (int k = 1; k <= 4; ++k)
        if (!(s.topLeftCorner(k, k).determinant() > 0)) {
            refusal = "the beam matrix is not positive definite: its leading " + std::to_string(k) + " x " +
                      std::to_string(k) + " part (up to box " + kBoxes[k - 1] +
                      ") has no positive determinant";
            return std::nullopt;
        }
    // With Sigma = sum eps_j Re(v_j v_j^H) = sum eps_j (v_j v_j^H + conj(v_j) v_j^T) / 2 and the modes'
    // symplectic products v_j^H S v_k = 2i delta_jk, v_j^T S v_k = 0:
    //   Sigma S v_k = sum eps_j (v_j 2i delta_jk + conj(v_j) 0) / 2 = i eps_k v_k,
    // so the modes are the eigenvectors of Sigma S of the eigenvalues i eps_k, eps_k > 0, and the
    // emittances the imaginary parts; normalised to v^H S v = 2i the modes' invariants average to eps_k.
    // For a positive definite Sigma, (S v)^H Sigma (S v) = -i eps v^H S v > 0 makes v^H S v a positive
    // multiple of i, so each such eigenvector can be so normalised.
    const Eigen::Matrix4d form = symplecticForm();
    Eigen::EigenSolver<Eigen::Matrix4d> solver(s * form);
    if (solver.info() != Eigen::Success) {
        refusal = "the modes of the beam matrix cannot be found";
        return std::nullopt;
    }
    ModePair found;
    double eps[2] = {0, 0};
    int count = 0;
    for (int k = 0; k < 4 && count <= 2; ++k) {
        const Complex lambda = solver.eigenvalues()(k);
        if (!(lambda.imag() > 0))
            continue;
        if (count == 2) {
            ++count;
            break;
        }
        const Eigen::Vector4cd v = solver.eigenvectors().col(k);
        const Complex n = (v.adjoint() * form.cast<Complex>() * v)(0, 0);
        if (!(n.imag() > 0))
            break;
        const Eigen::Vector4cd w = v * std::sqrt(2 / n.imag());
        for (int i = 0; i < 4; ++i)
            found[static_cast<std::size_t>(count)][static_cast<std::size_t>(i)] = w(i);
        eps[count] = lambda.imag();
        ++count;
    }
    if (count != 2) {
        refusal = "the beam matrix has no two modes with positive emittances";
        return std::nullopt;
    }
    if (std::fabs(eps[0] - eps[1]) <= 1e-9 * (eps[0] + eps[1])) {
        refusal = "the two mode emittances of the beam matrix (boxes S11 .. S44) are equal: its modes cannot "
                  "be told apart";
        return std::nullopt;
    }
    // mode 1 is the mode whose invariant lives mostly in x
    const double a = share(found[0][0], found[0][1]);
    const double b = share(found[1][0], found[1][1]);
    if (std::fabs(a - b) < 1e-9) {
        refusal = "the modes of the beam matrix (boxes S11 .. S44) share the planes equally: they cannot be "
                  "told apart";
        return std::nullopt;
    }
    const int first = a > b ? 0 : 1;
    const ModePair modes = {found[static_cast<std::size_t>(first)],
                            found[static_cast<std::size_t>(1 - first)]};
    const std::optional<EdwardsTeng> et = edwardsTengOf(modes);
    if (!et) {
        refusal = "the modes of the beam matrix cannot be told apart";
        return std::nullopt;
    }
    return BeamStart{*et, eps[first], eps[1 - first]};
}

std::optional<std::vector<CoupledFunctions>> coupledLineFunctions(const std::vector<Map5>& maps,
                                                                  const std::vector<double>& lengths,
                                                                  const RunSettings& run,
                                                                  std::string& refusal)
{
    EdwardsTeng start;
    start.betaX = run.betaX0;
    start.alphaX = run.alphaX0;
    start.betaY = run.betaY0;
    start.alphaY = run.alphaY0;
    start.r11 = run.r11;
    start.r12 = run.r12;
    start.r21 = run.r21;
    start.r22 = run.r22;
    std::optional<ModePair> modes = edwardsTengModes(start);
    if (!modes) {
        refusal = run.betaX0 > 0 && run.betaY0 > 0
                      ? "the start coupling matrix R has det R <= -1: no Edwards-Teng modes"
                      : "select valid betatron functions!";
        return std::nullopt;
    }
    std::vector<CoupledFunctions> out;
    out.reserve(maps.size() + 1);
    CoupledFunctions f;
    f.eta[0] = run.etaX0;
    f.eta[1] = run.etaPX0;
    f.eta[2] = run.etaY0;
    f.eta[3] = run.etaPY0;
    for (std::size_t i = 0; i <= maps.size(); ++i) {
        if (i > 0) {
            const Map5& t = maps[i - 1];
            ModePair next{};
            double eta[4] = {0, 0, 0, 0};
            for (std::size_t r = 0; r < 4; ++r) {
                eta[r] = t[r][4];
                for (std::size_t c = 0; c < 4; ++c) {
                    next[0][r] += t[r][c] * (*modes)[0][c];
                    next[1][r] += t[r][c] * (*modes)[1][c];
                    eta[r] += t[r][c] * f.eta[c];
                }
            }
            f.phase1 += phaseAdvance((*modes)[0][0], next[0][0]);
            f.phase2 += phaseAdvance((*modes)[1][2], next[1][2]);
            std::copy(eta, eta + 4, f.eta);
            f.s += i - 1 < lengths.size() ? lengths[i - 1] : 0.0;
            *modes = next;
        }
        const std::optional<EdwardsTeng> et = edwardsTengOf(*modes);
        if (!et) {
            refusal = i == 0 ? "the transverse modes are not separable at the start"
                             : "the transverse modes are not separable at element " + std::to_string(i);
            return std::nullopt;
        }
        f.et = *et;
        f.mr = maisRipkenOf(*modes);
        out.push_back(f);
    }
    return out;
}

} // namespace kestrune
