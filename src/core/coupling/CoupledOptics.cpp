#include "core/coupling/CoupledOptics.h"

#include "core/Format.h"
#include "core/optics/BetaFunctions.h"
#include "core/optics/Prefetch.h"
#include "core/optics/TransferMatrix.h"

#include <Eigen/Dense>
#include <algorithm>
#include <cmath>
#include <complex>
#include <limits>
#include <unsupported/Eigen/MatrixFunctions>

namespace kestrune {

namespace {

using Complex = std::complex<double>;
using Vector4c = Eigen::Matrix<Complex, 4, 1>;
using Matrix5 = Eigen::Matrix<double, 5, 5>;

// Indices of Map5.
constexpr int kMx = 0, kMpx = 1, kMy = 2, kMpy = 3, kMd = 4;
// The rows and columns of the optics' 6 x 6 matrices that Map5 keeps, in its order.
constexpr int kFromOptics[5] = {kX, kXp, kY, kYp, kDelta};

const char* const kDifferenceResonance =
    "the transverse modes are not separable: on the difference resonance";
const char* const kSumResonance = "the transverse modes are not separable: on the sum resonance";

Map5 fromOptics(const double (&r)[6][6])
{
    Map5 m{};
    for (int i = 0; i < 5; ++i)
        for (int j = 0; j < 5; ++j)
            m[i][j] = r[kFromOptics[i]][kFromOptics[j]];
    return m;
}

Map5 fromEigen(const Matrix5& e)
{
    Map5 m{};
    for (int i = 0; i < 5; ++i)
        for (int j = 0; j < 5; ++j)
            m[i][j] = e(i, j);
    return m;
}

Eigen::Matrix4d transverse(const Map5& m)
{
    Eigen::Matrix4d t;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            t(i, j) = m[i][j];
    return t;
}

// The symplectic form on (x, px, y, py).
Eigen::Matrix4d symplecticForm()
{
    Eigen::Matrix4d s = Eigen::Matrix4d::Zero();
    s(0, 1) = s(2, 3) = 1;
    s(1, 0) = s(3, 2) = -1;
    return s;
}

// The body of a magnet with curvature h, gradient k1, skew gradient k1s and solenoid field ks over the
// length l: the linear equations of motion in the curved frame with canonical momenta, K = ks / 2,
//   x' = px + K y,                 px' = -(h^2 + k1) x + k1s y + K (py - K x) + h delta,
//   y' = py - K x,                 py' = k1 y + k1s x - K (px + K y),
// from H = ((px + K y)^2 + (py - K x)^2) / 2 + (h^2 + k1) x^2 / 2 - k1 y^2 / 2 - k1s x y - h x delta.
// The field is constant along the body, so the map is exp(A l) exactly. The canonical momenta do not jump
// at the hard edges of a solenoid (the kick of the fringe field is the jump of the vector potential), so
// the same map holds from outside to outside, where they are the slopes.
Map5 bodyMap(double h, double k1, double k1s, double ks, double l)
{
    const double kk = ks / 2;
    Matrix5 a = Matrix5::Zero();
    a(kMx, kMpx) = 1;
    a(kMx, kMy) = kk;
    a(kMpx, kMx) = -(h * h + k1) - kk * kk;
    a(kMpx, kMy) = k1s;
    a(kMpx, kMpy) = kk;
    a(kMpx, kMd) = h;
    a(kMy, kMpy) = 1;
    a(kMy, kMx) = -kk;
    a(kMpy, kMy) = k1 - kk * kk;
    a(kMpy, kMx) = k1s;
    a(kMpy, kMpx) = -kk;
    const Matrix5 m = (a * l).exp();
    return fromEigen(m);
}

// The roll of an element by t: coordinates in its own frame (u, pu, v, pv) = rot(t) (x, px, y, py).
Map5 rotation(double t)
{
    const double c = std::cos(t);
    const double s = std::sin(t);
    Map5 r = identityMap();
    r[kMx][kMx] = c;
    r[kMx][kMy] = s;
    r[kMpx][kMpx] = c;
    r[kMpx][kMpy] = s;
    r[kMy][kMx] = -s;
    r[kMy][kMy] = c;
    r[kMpy][kMpx] = -s;
    r[kMpy][kMpy] = c;
    return r;
}

Map5 rolled(const Map5& m, double t)
{
    if (t == 0)
        return m;
    return product(rotation(-t), product(m, rotation(t)));
}

bool hasFaces(int elementCode)
{
    return elementCode == code::kRectangularBend || elementCode == code::kWedgeBend;
}

Map5 face(double h, double psi, double gap)
{
    TransferMatrix t;
    edgeMatrix(t, h, psi, gap);
    return fromOptics(t.r);
}

// The map of a piece of length l of the element's body in its own frame, with the pole faces of its
// entrance and exit where asked (an element whole: both).
Map5 unrolledMap(const LatticeElement& e, double l, bool entrance, bool exit)
{
    TransferMatrix t;
    switch (familyOf(e.code)) {
    case static_cast<int>(Family::Bend): {
        Map5 body;
        if (e.k1s != 0) {
            body = bodyMap(e.curvature, e.k, e.k1s, 0, l);
        } else {
            magnetMatrix(t, e.code, e.curvature, e.k, l);
            body = fromOptics(t.r);
        }
        if (!hasFaces(e.code) || e.curvature == 0)
            return body;
        if (entrance)
            body = product(body, face(e.curvature, e.ain, e.gap));
        return exit ? product(face(e.curvature, e.aout, e.gap), body) : body;
    }
    case static_cast<int>(Family::Quadrupole): {
        if (e.k1s == 0) {
            magnetMatrix(t, e.code, 0, e.k, l);
            return fromOptics(t.r);
        }
        // normal K and skew S components: a normal quadrupole of sqrt(K^2 + S^2) rolled by
        // atan2(-S, K) / 2 (a roll by t turns k into K = k cos 2t, S = -k sin 2t)
        magnetMatrix(t, code::kQuadrupole, 0, std::hypot(e.k, e.k1s), l);
        return rolled(fromOptics(t.r), std::atan2(-e.k1s, e.k) / 2);
    }
    default:
        break;
    }
    if (e.code == code::kSolenoid && e.ks != 0 && e.length > 0)
        return bodyMap(0, 0, 0, e.ks, l);
    Map5 m = identityMap();
    if (e.code == code::kThinMultipole) {
        // px - i py += -(knl1 + i ksl1)(x + i y): px -= knl1 x - ksl1 y, py += knl1 y + ksl1 x
        const double k = e.knl.size() > 1 ? e.knl[1] : 0;
        const double s = e.ksl.size() > 1 ? e.ksl[1] : 0;
        m[kMpx][kMx] = -k;
        m[kMpx][kMy] = s;
        m[kMpy][kMy] = k;
        m[kMpy][kMx] = s;
        return m;
    }
    m[kMx][kMpx] = l;
    m[kMy][kMpy] = l;
    return m;
}

// ----- the modes of a one-turn map

struct Mode
{
    Vector4c v;      // normalised: v^H S v = 2i
    double tune = 0; // arg(lambda) / 2 pi in [0, 1)
};

// The two modes of a stable one-turn map, mode 1 the one mostly in x; the refusal otherwise.
std::optional<std::string> findModes(const Map5& m, Mode (&modes)[2])
{
    const Eigen::Matrix4d t = transverse(m);
    Eigen::EigenSolver<Eigen::Matrix4d> solver(t);
    if (solver.info() != Eigen::Success)
        return std::string("no periodic solution of the coupled optics");
    const Eigen::Matrix4d s = symplecticForm();
    Mode found[4];
    int count = 0;
    bool offCircle = false;
    bool real = false;
    for (int k = 0; k < 4; ++k) {
        const Complex lambda = solver.eigenvalues()(k);
        if (std::fabs(std::abs(lambda) - 1) > 1e-9)
            offCircle = true;
        if (std::fabs(lambda.imag()) < 1e-12)
            real = true;
        const Vector4c v = solver.eigenvectors().col(k);
        const Complex n = (v.adjoint() * s.cast<Complex>() * v)(0, 0);
        if (!(n.imag() > 0) || !std::isfinite(n.imag()))
            continue;
        if (count == 2)
            return std::string(kDifferenceResonance);
        found[count].v = v * std::sqrt(2 / n.imag());
        double mu = std::arg(lambda) / kTwoPi;
        if (mu < 0)
            mu += 1;
        found[count].tune = mu;
        ++count;
    }
    if (real || (offCircle && count < 2))
        return std::string("no stable periodic solution of the coupled optics");
    if (offCircle)
        return std::string(kSumResonance);
    if (count != 2)
        return std::string(kDifferenceResonance);
    // the share of x in each mode's invariant: Im(conj(x) px) of the normalised vector, 1 for a mode
    // wholly in x; modes that share both planes equally cannot be told apart
    const auto xShare = [](const Mode& mode) { return std::imag(std::conj(mode.v(0)) * mode.v(1)); };
    const double a = xShare(found[0]);
    const double b = xShare(found[1]);
    if (std::fabs(a - b) < 1e-9 || std::fabs(found[0].tune - found[1].tune) < 1e-12)
        return std::string(kDifferenceResonance);
    modes[0] = a > b ? found[0] : found[1];
    modes[1] = a > b ? found[1] : found[0];
    return std::nullopt;
}

MaisRipken maisRipken(const Mode (&modes)[2])
{
    const auto beta = [](const Vector4c& v, int k) { return std::norm(v(k)); };
    const auto alpha = [](const Vector4c& v, int k) { return -std::real(std::conj(v(k)) * v(k + 1)); };
    MaisRipken mr;
    mr.beta11 = beta(modes[0].v, 0);
    mr.beta21 = beta(modes[0].v, 2);
    mr.beta12 = beta(modes[1].v, 0);
    mr.beta22 = beta(modes[1].v, 2);
    mr.alpha11 = alpha(modes[0].v, 0);
    mr.alpha21 = alpha(modes[0].v, 2);
    mr.alpha12 = alpha(modes[1].v, 0);
    mr.alpha22 = alpha(modes[1].v, 2);
    mr.gamma11 = beta(modes[0].v, 1);
    mr.gamma21 = beta(modes[0].v, 3);
    mr.gamma12 = beta(modes[1].v, 1);
    mr.gamma22 = beta(modes[1].v, 3);
    return mr;
}

// The symplectic conjugate of a 2 x 2 block: [[d, -b], [-c, a]].
Eigen::Matrix2d conjugate(const Eigen::Matrix2d& m)
{
    Eigen::Matrix2d c;
    c << m(1, 1), -m(0, 1), -m(1, 0), m(0, 0);
    return c;
}

// beta, alpha of a stable 2 x 2 block.
std::optional<std::pair<double, double>> twiss(const Eigen::Matrix2d& u)
{
    const double cosMu = (u(0, 0) + u(1, 1)) / 2;
    if (!(std::fabs(cosMu) < 1))
        return std::nullopt;
    const double sinMu = std::copysign(std::sqrt(1 - cosMu * cosMu), u(0, 1));
    return std::pair{u(0, 1) / sinMu, (u(0, 0) - u(1, 1)) / (2 * sinMu)};
}

} // namespace

Map5 identityMap()
{
    Map5 m{};
    for (int i = 0; i < 5; ++i)
        m[i][i] = 1;
    return m;
}

Map5 product(const Map5& a, const Map5& b)
{
    Map5 c{};
    for (int i = 0; i < 5; ++i)
        for (int k = 0; k < 5; ++k) {
            const double aik = a[i][k];
            if (aik == 0)
                continue;
            for (int j = 0; j < 5; ++j)
                c[i][j] += aik * b[k][j];
        }
    return c;
}

bool couplesPlanes(const LatticeElement& e)
{
    const bool field = familyOf(e.code) == static_cast<int>(Family::Bend) ||
                       familyOf(e.code) == static_cast<int>(Family::Quadrupole) ||
                       e.code == code::kThinMultipole || e.code == code::kSolenoid;
    return e.k1s != 0 || (e.code == code::kSolenoid && e.ks != 0) || (e.ksl.size() > 1 && e.ksl[1] != 0) ||
           (field && e.tilt != 0);
}

bool lineCouples(const BeamLine& line)
{
    // an element without any of the fields couplesPlanes looks at (most of a long line) at a glance, the
    // records a few places ahead asked for meanwhile
    for (int i = 1; i <= line.count && i <= kMaxLineElements; ++i) {
        prefetchElement(line, i + kPrefetchAhead);
        const LatticeElement& e = line.at(i);
        if (e.k1s == 0 && e.ks == 0 && e.tilt == 0 && e.ksl.empty())
            continue;
        if (couplesPlanes(e))
            return true;
    }
    return false;
}

std::optional<std::string> coupledOpticsRefusal(const BeamLine& line)
{
    for (int i = 1; i <= line.count && i <= kMaxLineElements; ++i) {
        const LatticeElement& e = line.at(i);
        const auto refusal = [&](const std::string& what) {
            return "element '" + excerpt(e.name) + "' (" + std::to_string(i) + ") " + what;
        };
        if (e.hkick != 0 || e.vkick != 0 || (!e.knl.empty() && e.knl[0] != 0) ||
            (!e.ksl.empty() && e.ksl[0] != 0))
            return refusal("has a kick: the optics on the design orbit cannot take it");
        if (e.code == code::kLinac || e.code == code::kEinzelLens || e.code == code::kElectrostatic ||
            familyOf(e.code) == static_cast<int>(Family::AlphaMagnet))
            return refusal("is a " + std::string(kindName(kindOf(e.code))) +
                           ", which the coupled optics do not take");
    }
    return std::nullopt;
}

Map5 elementSliceMap(const LatticeElement& e, double length, bool entranceFace, bool exitFace)
{
    return rolled(unrolledMap(e, length, entranceFace, exitFace), e.tilt);
}

Map5 elementMap(const LatticeElement& e)
{
    const Map5 m = unrolledMap(e, e.length, true, true);
    // a roll of what has no field (a drift, a marker) changes nothing
    return rolled(m, e.tilt);
}

std::optional<EdwardsTeng> edwardsTeng(const Map5& m)
{
    // Sagan and Rubin: with M = [[A, B], [C, D]] and H = B + C^+, t = tr A - tr D,
    // g^2 = 1/2 + 1/2 sqrt(t^2 / (t^2 + 4 det H)), C_V = -H sign(t) / (g sqrt(t^2 + 4 det H)),
    // U = V^-1 M V with V^-1 = [[g I, -C_V], [C_V^+, g I]].
    const Eigen::Matrix4d t = transverse(m);
    const Eigen::Matrix2d a = t.block<2, 2>(0, 0), b = t.block<2, 2>(0, 2);
    const Eigen::Matrix2d c = t.block<2, 2>(2, 0), d = t.block<2, 2>(2, 2);
    const Eigen::Matrix2d h = b + conjugate(c);
    const double trace = a.trace() - d.trace();
    const double disc = trace * trace + 4 * h.determinant();
    if (!(disc > 0) || std::fabs(trace) < 1e-12)
        return std::nullopt;
    const double g = std::sqrt(0.5 + 0.5 * std::sqrt(trace * trace / disc));
    const Eigen::Matrix2d cv = -h * (trace > 0 ? 1.0 : -1.0) / (g * std::sqrt(disc));
    Eigen::Matrix4d v, vInverse;
    v << g * Eigen::Matrix2d::Identity(), cv, -conjugate(cv), g * Eigen::Matrix2d::Identity();
    vInverse << g * Eigen::Matrix2d::Identity(), -cv, conjugate(cv), g * Eigen::Matrix2d::Identity();
    const Eigen::Matrix4d u = vInverse * t * v;
    // U is block-diagonal to rounding for a symplectic M; anything else is a map that is not symplectic.
    // A map found by tracking is symplectic to its own precision e = |M^T S M - S| (1e-10 .. 1e-9 for a
    // long ring), and C_V, which comes from H / t, then carries an error of about e / |t| that leaves
    // |M| e / |t| in the off-diagonal blocks: near the difference resonance, where t is small, that is
    // far above rounding, so the test allows ten times it (e of an exact optics map is 1e-14)
    const Eigen::Matrix4d s = symplecticForm();
    const double defect = (t.transpose() * s * t - s).norm();
    if (!(defect <= 1e-6))
        return std::nullopt;
    const double allowed = (1 + t.norm()) * (1e-9 + 10 * defect / std::fabs(trace));
    if (!(u.block<2, 2>(0, 2).norm() + u.block<2, 2>(2, 0).norm() <= allowed))
        return std::nullopt;
    const auto mode1 = twiss(u.block<2, 2>(0, 0));
    const auto mode2 = twiss(u.block<2, 2>(2, 2));
    if (!mode1 || !mode2)
        return std::nullopt;
    EdwardsTeng et;
    et.betaX = mode1->first;
    et.alphaX = mode1->second;
    et.betaY = mode2->first;
    et.alphaY = mode2->second;
    et.gamma = g;
    const Eigen::Matrix2d r = conjugate(cv) / g;
    et.r11 = r(0, 0);
    et.r12 = r(0, 1);
    et.r21 = r(1, 0);
    et.r22 = r(1, 1);
    return et;
}

CoupledRing coupledRing(const State& state)
{
    const BeamLine& line = state.line;
    if (std::optional<std::string> refusal = coupledOpticsRefusal(line)) {
        CoupledRing ring;
        ring.refusal = *refusal;
        return ring;
    }
    std::vector<Map5> maps;
    std::vector<double> lengths;
    maps.reserve(static_cast<std::size_t>(std::max(line.count, 0)));
    for (int i = 1; i <= line.count && i <= kMaxLineElements; ++i) {
        maps.push_back(elementMap(line.at(i)));
        lengths.push_back(line.at(i).length);
    }
    return coupledRing(maps, lengths, line.superPeriods);
}

CoupledRing coupledRing(const std::vector<Map5>& maps, const std::vector<double>& lengths, int superPeriods)
{
    CoupledRing ring;
    Map5 total = identityMap();
    for (const Map5& m : maps)
        total = product(m, total);
    ring.oneTurn = total;
    Mode modes[2];
    if (std::optional<std::string> refusal = findModes(total, modes)) {
        ring.refusal = *refusal;
        return ring;
    }
    // the periodic dispersion: (I - M) eta = the delta column of M
    const Eigen::Matrix4d m4 = transverse(total);
    Eigen::Vector4d column;
    for (int k = 0; k < 4; ++k)
        column(k) = total[k][kMd];
    const Eigen::Vector4d eta = (Eigen::Matrix4d::Identity() - m4).partialPivLu().solve(column);

    const Eigen::Matrix4d s = symplecticForm();
    Eigen::Matrix4d along = Eigen::Matrix4d::Identity(); // from the start to here
    Eigen::Vector4d dispersion = eta;
    Vector4c v1 = modes[0].v, v2 = modes[1].v;
    double phase1 = 0, phase2 = 0;
    double position = 0;
    ring.functions.reserve(maps.size() + 1);
    const auto sample = [&]() -> bool {
        // the one-turn map here: along M along^-1, along^-1 = -S along^T S for a symplectic map
        Map5 here{};
        const Eigen::Matrix4d local = along * m4 * (-s * along.transpose() * s);
        for (int i = 0; i < 4; ++i)
            for (int j = 0; j < 4; ++j)
                here[i][j] = local(i, j);
        const std::optional<EdwardsTeng> et = edwardsTeng(here);
        if (!et)
            return false;
        CoupledFunctions f;
        f.s = position;
        f.et = *et;
        const Mode now[2] = {{v1, 0}, {v2, 0}};
        f.mr = maisRipken(now);
        f.phase1 = phase1;
        f.phase2 = phase2;
        for (int k = 0; k < 4; ++k)
            f.eta[k] = dispersion(k);
        ring.functions.push_back(f);
        return true;
    };
    if (!sample()) {
        ring.refusal = kDifferenceResonance;
        return ring;
    }
    // phase advance of a mode through one element from its larger component (x for mode 1, y for mode
    // 2), in (-1/4, 3/4] of a turn as the uncoupled pass counts it
    const auto advance = [](const Complex& before, const Complex& after) {
        double d = std::arg(after / before) / kTwoPi;
        if (d < -0.25)
            d += 1;
        return std::isfinite(d) ? d : 0.0;
    };
    for (std::size_t i = 0; i < maps.size(); ++i) {
        const Map5& e = maps[i];
        const Eigen::Matrix4d t = transverse(e);
        const Vector4c w1 = t.cast<Complex>() * v1;
        const Vector4c w2 = t.cast<Complex>() * v2;
        phase1 += advance(v1(0), w1(0));
        phase2 += advance(v2(2), w2(2));
        v1 = w1;
        v2 = w2;
        Eigen::Vector4d next = t * dispersion;
        for (int k = 0; k < 4; ++k)
            next(k) += e[k][kMd];
        dispersion = next;
        along = t * along;
        position += i < lengths.size() ? lengths[i] : 0.0;
        if (!sample()) {
            ring.refusal = kDifferenceResonance;
            ring.functions.clear();
            return ring;
        }
    }
    // the fractional tunes from the eigenvalues, the integer parts from the phases counted along
    const double nsp = superPeriods;
    const auto tune = [nsp](double counted, double fraction) {
        return nsp * (std::round(counted - fraction) + fraction);
    };
    ring.tune1 = tune(phase1, modes[0].tune);
    ring.tune2 = tune(phase2, modes[1].tune);
    ring.computed = true;
    return ring;
}

namespace {

// The ring with every skew part taken out, for the uncoupled optics: rolled quadrupoles and bends keep
// their normal part k cos 2t + k1s sin 2t; skew receives the integrated skew part of each element,
// S L = (k1s cos 2t - k sin 2t) L, or a thin multipole's ksl[1].
State withoutSkewParts(const State& state, std::vector<double>* skew)
{
    State work = state;
    BeamLine& line = work.line;
    if (skew != nullptr)
        skew->assign(static_cast<std::size_t>(std::max(line.count, 0)), 0.0);
    for (int i = 1; i <= line.count; ++i) {
        LatticeElement& e = line.at(i);
        const double c2 = std::cos(2 * e.tilt), s2 = std::sin(2 * e.tilt);
        double source = 0;
        if (familyOf(e.code) == static_cast<int>(Family::Quadrupole) ||
            familyOf(e.code) == static_cast<int>(Family::Bend)) {
            source = (e.k1s * c2 - e.k * s2) * e.length;
            e.k = e.k * c2 + e.k1s * s2;
        } else if (e.code == code::kThinMultipole && e.ksl.size() > 1) {
            source = e.ksl[1];
            e.ksl[1] = 0;
        }
        e.k1s = 0;
        e.tilt = 0;
        if (e.code == code::kSolenoid)
            e.ks = 0;
        if (skew != nullptr)
            (*skew)[static_cast<std::size_t>(i - 1)] = source;
    }
    return work;
}

Map5 oneTurnMap(const BeamLine& line)
{
    Map5 total = identityMap();
    for (int i = 1; i <= line.count && i <= kMaxLineElements; ++i)
        total = product(elementMap(line.at(i)), total);
    return total;
}

// The distance of the eigentunes of one cell, folded into [0, 1/2]: the angles in (0, pi) of the
// eigenvalues of the transverse map; nothing for an unstable cell.
std::optional<double> eigentuneDistance(const Map5& m)
{
    Eigen::EigenSolver<Eigen::Matrix4d> solver(transverse(m), false);
    if (solver.info() != Eigen::Success)
        return std::nullopt;
    double angles[2];
    int count = 0;
    for (int k = 0; k < 4; ++k) {
        const Complex lambda = solver.eigenvalues()(k);
        if (std::fabs(std::abs(lambda) - 1) > 1e-9)
            return std::nullopt;
        if (lambda.imag() > 0 && count < 2)
            angles[count++] = std::arg(lambda);
    }
    if (count != 2)
        return 0.0; // a double eigenvalue: the tunes meet
    return std::fabs(angles[0] - angles[1]) / kTwoPi;
}

} // namespace

CouplingCoefficient couplingCoefficient(const State& state)
{
    std::vector<double> skew;
    State work = withoutSkewParts(state, &skew);
    BeamLine& line = work.line;
    QuietMessages quiet(true);
    CouplingCoefficient result;
    if (!ringStart(work, quiet, nullptr) || !work.run.periodicStable)
        return result;
    // one pass: the functions at both ends of every source, summed once the tunes are known
    struct Sample
    {
        LatticeFunctions lf;
        double weight;
    };
    std::vector<Sample> samples;
    for (int i = 1; i <= line.count; ++i) {
        const double source = skew[static_cast<std::size_t>(i - 1)];
        // trapezoid over the element: half at the entrance, half at the exit
        if (source != 0)
            samples.push_back({work.lf, source / 2});
        ringTrace(work, quiet, i, nullptr);
        if (source != 0)
            samples.push_back({work.lf, source / 2});
    }
    const double qx = work.lf.phiX, qy = work.lf.phiY; // of one cell
    const double cell = work.lf.s;
    const int nsp = line.superPeriods;
    const double delta = nsp * (qx - qy);
    const double p = std::round(delta);
    Complex sum = 0;
    for (const Sample& sample : samples) {
        const LatticeFunctions& lf = sample.lf;
        const double angle = kTwoPi * (lf.phiX - lf.phiY - (delta - p) * lf.s / (nsp * cell));
        sum += sample.weight * std::sqrt(lf.betaX * lf.betaY) * std::polar(1.0, angle);
    }
    // the superperiods: cell m adds its sum turned by 2 pi p m / nsp
    Complex cells = 0;
    for (int m = 0; m < nsp; ++m)
        cells += std::polar(1.0, kTwoPi * p * m / nsp);
    const Complex c = sum * cells / kTwoPi;
    result.re = c.real();
    result.im = c.imag();
    result.abs = std::abs(c);
    result.computed = true;
    return result;
}

} // namespace kestrune

namespace kestrune {

namespace {

struct QuadFamily
{
    std::string name;
    double strength = 0; // sum of k L
    double weight = 0;   // sum of |k| L
};

// Quadrupole families by name (by strength where the names are empty).
std::vector<QuadFamily> quadrupoleFamilies(const BeamLine& line)
{
    std::vector<QuadFamily> families;
    for (int i = 1; i <= line.count && i <= kMaxLineElements; ++i) {
        const LatticeElement& e = line.at(i);
        if (familyOf(e.code) != static_cast<int>(Family::Quadrupole) || e.k == 0)
            continue;
        const std::string name = e.name.empty() ? shortestFloat(e.k) : e.name;
        auto f = std::find_if(families.begin(), families.end(),
                              [&](const QuadFamily& x) { return x.name == name; });
        if (f == families.end()) {
            families.push_back({name, 0, 0});
            f = families.end() - 1;
        }
        f->strength += e.k * e.length;
        f->weight += std::fabs(e.k) * e.length;
    }
    return families;
}

bool inFamily(const LatticeElement& e, const std::string& name)
{
    return familyOf(e.code) == static_cast<int>(Family::Quadrupole) && e.k != 0 &&
           (e.name.empty() ? shortestFloat(e.k) : e.name) == name;
}

// The line with the strengths of families a and b scaled by 1 + sa, 1 + sb.
void scaleFamilies(BeamLine& line, const BeamLine& design, const std::string& a, double sa,
                   const std::string& b, double sb)
{
    for (int i = 1; i <= line.count && i <= kMaxLineElements; ++i) {
        const LatticeElement& d = design.at(i);
        if (inFamily(d, a)) {
            line.at(i).k = d.k * (1 + sa);
            line.at(i).k1s = d.k1s * (1 + sa);
        } else if (inFamily(d, b)) {
            line.at(i).k = d.k * (1 + sb);
            line.at(i).k1s = d.k1s * (1 + sb);
        }
    }
}

} // namespace

TuneApproach closestTuneApproach(const State& state, const std::string& a, const std::string& b)
{
    TuneApproach result;
    if (std::optional<std::string> refusal = coupledOpticsRefusal(state.line)) {
        result.refusal = *refusal;
        return result;
    }
    std::string familyA = a, familyB = b;
    const std::vector<QuadFamily> families = quadrupoleFamilies(state.line);
    if (familyA.empty() || familyB.empty()) {
        const QuadFamily* focusing = nullptr;
        const QuadFamily* defocusing = nullptr;
        for (const QuadFamily& f : families) {
            const QuadFamily*& best = f.strength > 0 ? focusing : defocusing;
            if (best == nullptr || f.weight > best->weight)
                best = &f;
        }
        if (focusing == nullptr || defocusing == nullptr) {
            result.refusal = "the closest tune approach needs a focusing and a defocusing quadrupole family";
            return result;
        }
        familyA = focusing->name;
        familyB = defocusing->name;
    }
    for (const std::string& name : {familyA, familyB})
        if (std::none_of(families.begin(), families.end(),
                         [&](const QuadFamily& f) { return f.name == name; })) {
            result.refusal = "no quadrupole family '" + excerpt(name) + "' for the tune knob";
            return result;
        }
    result.familyA = familyA;
    result.familyB = familyB;

    // the uncoupled tune response to the two scalings, by central differences
    const State plain = withoutSkewParts(state, nullptr);
    QuietMessages quiet(true);
    const auto uncoupledTunes = [&](double sa, double sb) -> std::optional<std::pair<double, double>> {
        State work = plain;
        scaleFamilies(work.line, plain.line, familyA, sa, familyB, sb);
        if (!betaFunctions(work, quiet, nullptr) || !work.run.periodicStable)
            return std::nullopt;
        return std::pair{work.lf.tuneX, work.lf.tuneY};
    };
    constexpr double kStep = 1e-6;
    const auto q0 = uncoupledTunes(0, 0);
    const auto qa = uncoupledTunes(kStep, 0), qa2 = uncoupledTunes(-kStep, 0);
    const auto qb = uncoupledTunes(0, kStep), qb2 = uncoupledTunes(0, -kStep);
    if (!q0 || !qa || !qa2 || !qb || !qb2) {
        result.refusal = "no stable uncoupled optics to move the tunes from";
        return result;
    }
    const double j11 = (qa->first - qa2->first) / (2 * kStep), j21 = (qa->second - qa2->second) / (2 * kStep);
    const double j12 = (qb->first - qb2->first) / (2 * kStep), j22 = (qb->second - qb2->second) / (2 * kStep);
    const double det = j11 * j22 - j12 * j21;
    if (!(std::fabs(det) > 0)) {
        result.refusal = "the two families do not move the tunes apart";
        return result;
    }
    // d(sa, sb) / dt for d(Qx - Qy) = dt, d(Qx + Qy) = 0: J (da, db) = (1/2, -1/2)
    const double da = (j22 * 0.5 + j12 * 0.5) / det;
    const double db = (-j21 * 0.5 - j11 * 0.5) / det;
    const double difference = q0->first - q0->second;
    const double start = std::round(difference) - difference; // t that reaches the resonance
    const double nsp = state.line.superPeriods;
    State work = state;
    const auto distance = [&](double t) {
        scaleFamilies(work.line, state.line, familyA, da * t, familyB, db * t);
        const std::optional<double> d = eigentuneDistance(oneTurnMap(work.line));
        return d ? nsp * *d : std::numeric_limits<double>::infinity();
    };
    // bracket by a scan around the crossing, then golden sections
    const double width = std::max(0.02, 4 * couplingCoefficient(state).abs);
    double best = start, bestValue = distance(start);
    constexpr int kScan = 200;
    for (int n = 0; n <= kScan; ++n) {
        const double t = start - width + 2 * width * n / kScan;
        const double v = distance(t);
        if (v < bestValue) {
            bestValue = v;
            best = t;
        }
    }
    double lo = best - 2 * width / kScan, hi = best + 2 * width / kScan;
    const double ratio = (std::sqrt(5.0) - 1) / 2;
    double x1 = hi - ratio * (hi - lo), x2 = lo + ratio * (hi - lo);
    double f1 = distance(x1), f2 = distance(x2);
    while (hi - lo > 1e-12) {
        if (f1 < f2) {
            hi = x2;
            x2 = x1;
            f2 = f1;
            x1 = hi - ratio * (hi - lo);
            f1 = distance(x1);
        } else {
            lo = x1;
            x1 = x2;
            f1 = f2;
            x2 = lo + ratio * (hi - lo);
            f2 = distance(x2);
        }
    }
    const double t = f1 < f2 ? x1 : x2;
    const double value = std::min({f1, f2, bestValue});
    if (!std::isfinite(value)) {
        result.refusal = "no stable coupled optics along the tune knob";
        return result;
    }
    result.deltaQMin = value;
    result.knob = bestValue < std::min(f1, f2) ? best : t;
    result.scaleA = da * result.knob;
    result.scaleB = db * result.knob;
    result.computed = true;
    return result;
}

} // namespace kestrune
