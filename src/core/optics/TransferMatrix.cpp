#include "core/optics/TransferMatrix.h"

#include "core/Kinematics.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <tuple>
#include <utility>

namespace kestrune {

namespace {

using Matrix = double[6][6];

void setIdentity(Matrix& a)
{
    for (int row = 0; row < 6; ++row)
        for (int col = 0; col < 6; ++col)
            a[row][col] = row == col ? 1.0 : 0.0;
}

// One plane's block for x'' = -K x over ds: cos and sin for K > 0, cosh and sinh for K < 0; K = 0
// keeps the drift.
void planeBlock(Matrix& r, int pos, int slope, double kk, double ds)
{
    double c = 0;
    double s = 0;
    if (kk > 0) {
        const double sq = std::sqrt(kk);
        c = std::cos(sq * ds);
        s = std::sin(sq * ds) / sq;
    } else if (kk < 0) {
        const double sq = std::sqrt(-kk);
        c = std::cosh(sq * ds);
        s = std::sinh(sq * ds) / sq;
    } else {
        return;
    }
    r[pos][pos] = c;
    r[slope][slope] = c;
    r[pos][slope] = s;
    r[slope][pos] = -kk * s;
}

// Bend body: x'' = -(h^2 + k) x + h delta; the vertical block follows the gradient alone, with no
// h^2 term. Without curvature the horizontal plane stays a drift.
void bendMatrix(Matrix& r, double h, double k, double ds)
{
    if (h != 0) {
        const double kk = h * h + k;
        if (kk == 0) {
            r[kXp][kDelta] = ds * h;
        } else {
            planeBlock(r, kX, kXp, kk, ds);
            r[kX][kDelta] = (1 - r[kX][kX]) * h / kk;
            r[kXp][kDelta] = r[kX][kXp] * h;
        }
    }
    planeBlock(r, kY, kYp, -k, ds);
}

// k > 0 focuses horizontally and defocuses vertically; k < 0 the other way round.
void quadrupoleMatrix(Matrix& r, double k, double ds)
{
    planeBlock(r, kX, kXp, k, ds);
    planeBlock(r, kY, kYp, -k, ds);
}

// A thin multipole's quadrupole component q = knl[1] (1/m), kicking px -= q x, py += q y, at the centre of
// the slice: D(a) K D(a) with a = ds / 2 gives R11 = R22 = 1 - a q, R12 = a (2 - a q), R21 = -q, and the
// same with -q vertically; for the thin element itself (ds = 0) R21 = -k1l, R43 = +k1l, MAD-X's thin
// QUADRUPOLE. The higher components have no linear effect on the design orbit.
void thinMultipoleMatrix(Matrix& r, const std::vector<double>& knl, double ds)
{
    const double q = knl.size() > 1 ? knl[1] : 0;
    if (q == 0)
        return;
    const double a = ds / 2;
    for (const auto& [pos, slope, kick] : {std::tuple{kX, kXp, q}, std::tuple{kY, kYp, -q}}) {
        r[pos][pos] = 1 - a * kick;
        r[pos][slope] = a * (2 - a * kick);
        r[slope][pos] = -kick;
        r[slope][slope] = 1 - a * kick;
    }
}

struct AlphaColumn
{
    double r11, r12, r16, r21, r22, r26, r33, r34, r43, r44;
};

// Alpha-magnet matrices for unit strength; the entries scale with s = sqrt(k) as 1/s or s.
constexpr AlphaColumn kAlphaFirstHalf{0, 0.4169954844, -0.9089085575, -2.398107503, -2.78306339,
                                      0, 0.0753176505, 2.18263982,    -0.397938789, 1.745181272};
constexpr AlphaColumn kAlphaSecondHalf{-2.78306339,  0.4169954844, -2.529550131, -2.398107503, 0,
                                       -2.179660432, 1.745181272,  2.18263982,   -0.397938789, 0.0753176505};
constexpr AlphaColumn kAlphaFull{
    -1, -2.3210497, 0, 0, -1, 0, -0.7371140937, 7.618204274, -0.0599436293, -0.7371140937};

void alphaMatrix(Matrix& r, int elementCode, double k)
{
    const AlphaColumn* a = nullptr;
    switch (elementCode) {
    case code::kAlphaFirstHalf:
        a = &kAlphaFirstHalf;
        break;
    case code::kAlphaSecondHalf:
        a = &kAlphaSecondHalf;
        break;
    case code::kAlphaFull:
        a = &kAlphaFull;
        break;
    default:
        return;
    }
    const double s = std::sqrt(std::fabs(k));
    r[kX][kX] = a->r11;
    r[kX][kXp] = a->r12 / s;
    r[kX][kDelta] = a->r16 / s;
    r[kXp][kX] = a->r21 * s;
    r[kXp][kXp] = a->r22;
    r[kXp][kDelta] = a->r26;
    r[kY][kY] = a->r33;
    r[kY][kYp] = a->r34 / s;
    r[kYp][kY] = a->r43 * s;
    r[kYp][kYp] = a->r44;
}

// Linac section: x' shrinks as 1/r with the momentum ratio r = 1 + d l, d = Ea / (beta pc).
void linacMatrix(State& state, double field, double ds)
{
    BeamParameters& beam = state.beam;
    const double d = field / (beam.beta * beam.momentum);
    if (field == 0 || !std::isfinite(d))
        return;
    const double ratio = 1 + d * ds;
    if (!(ratio > 0))
        return; // the particle would stop inside the slice: no linear matrix exists
    Matrix& r = state.matrix.r;
    const double length = -std::log(1 / ratio) / d;
    r[kX][kXp] = length;
    r[kY][kYp] = length;
    r[kXp][kXp] = 1 / ratio;
    r[kYp][kYp] = 1 / ratio;
    updateKinematics(beam, EnergyKind::Momentum, beam.momentum * ratio);
    // adiabatic damping
    state.lf.epsX /= ratio;
    state.lf.epsY /= ratio;
    state.lf.delta /= ratio;
}

// Electrostatic lenses are round: both planes get the same block.
void roundLens(Matrix& r, double r11, double r12, double r21, double r22)
{
    for (const auto& [pos, slope] : {std::pair{kX, kXp}, std::pair{kY, kYp}}) {
        r[pos][pos] = r11;
        r[pos][slope] = r12;
        r[slope][pos] = r21;
        r[slope][slope] = r22;
    }
}

bool haveKineticEnergy(State& state, Messages& messages)
{
    if (state.beam.kineticEnergy > 0)
        return true;
    messages.error("Specify Ion energy!");
    messages.askParticle();
    return false;
}

void einzelLensMatrix(State& state, Messages& messages, double voltage, double ds)
{
    if (!haveKineticEnergy(state, messages))
        return;
    const double g2 = voltage / state.beam.kineticEnergy + 1;
    if (!(g2 > 0))
        return;
    const double g = std::sqrt(g2);
    const double focus = 4 - 1.5 * g - 1.5 / g;
    roundLens(state.matrix.r, focus, ds * (3 - 1 / g) / (1 + g),
              (1 - g * g) * 3 * (g - 1) * (3 / g - 1) / 4 / ds, focus);
}

void electrostaticGapMatrix(State& state, Messages& messages, double voltage, double ds)
{
    if (!haveKineticEnergy(state, messages))
        return;
    BeamParameters& beam = state.beam;
    const double g2 = voltage / beam.kineticEnergy + 1;
    if (!(g2 > 0)) {
        messages.error("Voltage < than kinetic energy!");
        return;
    }
    const double g = std::sqrt(g2);
    updateKinematics(beam, EnergyKind::Kinetic, beam.kineticEnergy + voltage);
    roundLens(state.matrix.r, 1.5 - 0.5 * g, 2 * ds / (1 + g), (1 - g * g) * 3 * (g - 1) / (8 * ds * g * g),
              1.5 / g - 0.5 / (g * g));
    // the slopes shrink with the momentum ratio g
    state.lf.epsX /= g;
    state.lf.epsY /= g;
    state.lf.delta /= g;
}

} // namespace

void resetTotal(TransferMatrix& t)
{
    setIdentity(t.m);
}

void driftMatrix(TransferMatrix& t, double length)
{
    setIdentity(t.r);
    t.r[kX][kXp] = length;
    t.r[kY][kYp] = length;
}

void magnetMatrix(TransferMatrix& t, int elementCode, double h, double k, double sliceLength)
{
    driftMatrix(t, sliceLength);
    if (familyOf(elementCode) == static_cast<int>(Family::Bend))
        bendMatrix(t.r, h, k, sliceLength);
    else if (familyOf(elementCode) == static_cast<int>(Family::Quadrupole))
        quadrupoleMatrix(t.r, k, sliceLength);
}

namespace {

// The matrix of a bend or quadrupole slice is a function of (family, curvature, k, slice length) alone,
// and a ring repeats a few magnets many times: the last matrices made are kept, under the bits of their
// arguments, and a slice of the same arguments gets a copy, bit for bit what the functions give. A few
// kilobytes per thread, nothing allocated.
class MagnetMemo
{
public:
    // the memo's matrix for these arguments, or nullptr
    const Matrix* find(int family, double h, double k, double ds)
    {
        const Entry& e = m_entries[slot(family, h, k, ds)];
        return e.used && e.family == family && e.h == bits(h) && e.k == bits(k) && e.ds == bits(ds) ? &e.r
                                                                                                    : nullptr;
    }
    void keep(int family, double h, double k, double ds, const Matrix& r)
    {
        Entry& e = m_entries[slot(family, h, k, ds)];
        e.used = true;
        e.family = family;
        e.h = bits(h);
        e.k = bits(k);
        e.ds = bits(ds);
        std::memcpy(e.r, r, sizeof(Matrix));
    }

private:
    static constexpr std::size_t kEntries = 16;
    struct Entry
    {
        bool used = false;
        int family = 0;
        std::uint64_t h = 0, k = 0, ds = 0;
        Matrix r = {};
    };
    static std::uint64_t bits(double x)
    {
        std::uint64_t w = 0;
        std::memcpy(&w, &x, sizeof x);
        return w;
    }
    static std::size_t slot(int family, double h, double k, double ds)
    {
        std::uint64_t w = bits(h) * 0x9e3779b97f4a7c15ULL;
        w = (w ^ bits(k)) * 0xbf58476d1ce4e5b9ULL;
        w = (w ^ bits(ds) ^ static_cast<std::uint64_t>(family)) * 0x94d049bb133111ebULL;
        return static_cast<std::size_t>(w >> 60) % kEntries;
    }
    Entry m_entries[kEntries];
};

// a bend or quadrupole slice into r: from the memo, or made and kept
template <typename Make> void memoisedMagnet(Matrix& r, int family, double h, double k, double ds, Make make)
{
    thread_local MagnetMemo memo;
    if (const Matrix* known = memo.find(family, h, k, ds)) {
        std::memcpy(r, *known, sizeof(Matrix));
        return;
    }
    make();
    memo.keep(family, h, k, ds, r);
}

} // namespace

void elementMatrix(State& state, Messages& messages, int i, double sliceLength)
{
    const LatticeElement& e = state.line.at(i);
    Matrix& r = state.matrix.r;
    driftMatrix(state.matrix, sliceLength);
    // codes read from files may lie outside the families: those keep the drift
    switch (familyOf(e.code)) {
    case static_cast<int>(Family::Drift):
        if (e.code == code::kLinac)
            linacMatrix(state, e.linacField, sliceLength);
        else if (e.code == code::kEinzelLens)
            einzelLensMatrix(state, messages, e.k, sliceLength);
        else if (e.code == code::kElectrostatic)
            electrostaticGapMatrix(state, messages, e.k, sliceLength);
        break;
    case static_cast<int>(Family::Bend):
        memoisedMagnet(r, familyOf(e.code), e.curvature, e.k, sliceLength,
                       [&] { bendMatrix(r, e.curvature, e.k, sliceLength); });
        break;
    case static_cast<int>(Family::Quadrupole):
        memoisedMagnet(r, familyOf(e.code), 0, e.k, sliceLength,
                       [&] { quadrupoleMatrix(r, e.k, sliceLength); });
        break;
    case static_cast<int>(Family::AlphaMagnet):
        alphaMatrix(r, e.code, e.k);
        break;
    case static_cast<int>(Family::Multipole):
        // octupoles, and solenoids without field (the optics refuse a field), are drifts on the design orbit
        if (e.code == code::kThinMultipole)
            thinMultipoleMatrix(r, e.knl, sliceLength);
        break;
    default: // sextupoles, pumps, kickers without kick, markers, monitors and rf cavities: no linear effect
        break;
    }
}

double fringeAngle(double h, double psi, double gap)
{
    const double sinPsi = std::sin(psi);
    return h * gap / 3 * (1 + sinPsi * sinPsi) / std::cos(psi);
}

void edgeMatrix(TransferMatrix& t, double h, double psi, double gap)
{
    setIdentity(t.r);
    t.r[kXp][kX] = h * std::tan(psi);
    // the fringe field turns the particle while it crosses the face: the vertical focusing is that of a
    // face of angle psi - phi, weaker than the hard edge's for a positive angle (K. Brown, SLAC-75)
    t.r[kYp][kY] = -h * std::tan(psi - fringeAngle(h, psi, gap));
}

// The hard edge to second order. Take the entrance, in the Cartesian frame of the face: Z along the orbit,
// X outward; the body's curved frame starts on the plane Z = 0, and the field h + k X (b_x = k y) fills
// Z > X t, t = tan(psi). The face map is: drift from Z = 0 to the field boundary, the kick of the
// boundary, then the field region followed back to Z = 0 (the sector body follows from there).
//  - The drift meets the boundary at Z_b = t x (1 + t x'), x' = px to this order: x_b = x + t x px,
//    y_b = y + t x py.
//  - Across the boundary the field rises by h + k x_b; curl B = 0 gives the field B_n = y dB_y/dn along
//    the face normal n, whose kick on a particle crossing at the angle psi + theta to n (theta = px, the
//    slope in the field-free region) is py -= (h + k x) y tan(psi + theta)
//    = -h t y - k t x y - h t^2 x py - h sec^2(psi) px y.
//  - Back through the field over Z_b: px += (h + k x) Z_b = h t x + k t x^2 + h t^2 x px, py -= k y Z_b,
//    x -= px Z_b - h Z_b^2 / 2 (so x <- x - h t^2 x^2 / 2), y -= py_new Z_b (y <- y + h t^2 x y).
// The canonical momenta are those of the design momentum: the field integral h x t is the same for every
// particle, so delta enters only through the drifts and the body. The terms in y^2 and y py follow from
// the symplectic condition. At the exit the field region comes first, the boundary is Z_b = -t x(Z_b)
// with x(Z) = x + px Z - h Z^2 / 2 on the curved path (Z_b = -t x + t^2 x px + h t^3 x^2 / 2, whence
// -h^2 t^3 / 2 in t211), the angle at the boundary is psi - theta with theta the slope after the field
// (px + h t x, whence h^2 t sec^2 psi in t413), and the drift follows. These are the coefficients of
// the TRANSPORT second-order edge map without a curved pole face (MAD-X's TMFRNG).
EdgeMap edgeMap(double h, double k, double psi, double gap, Face face)
{
    const double t = std::tan(psi);
    const double t2 = t * t;
    const double sec2 = 1 + t2;
    TransferMatrix linear;
    edgeMatrix(linear, h, psi, gap);
    EdgeMap m;
    m.r21 = linear.r[kXp][kX];
    m.r43 = linear.r[kYp][kY];
    const double sign = face == Face::Entrance ? 1 : -1;
    m.t111 = -sign * h * t2 / 2;
    m.t133 = sign * h * sec2 / 2;
    m.t212 = sign * h * t2;
    m.t234 = -sign * h * t2;
    m.t313 = sign * h * t2;
    m.t414 = -sign * h * t2;
    m.t423 = -sign * h * sec2;
    if (face == Face::Entrance) {
        m.t211 = k * t;
        m.t233 = -k * t + h * h * t * (1 + 2 * t2) / 2;
        m.t413 = -2 * k * t;
    } else {
        m.t211 = k * t - h * h * t * t2 / 2;
        m.t233 = -k * t - h * h * t * t2 / 2;
        m.t413 = -2 * k * t + h * h * t * sec2;
    }
    return m;
}

void applyEdgeMap(const EdgeMap& m, double& x, double& px, double& y, double& py)
{
    const double x1 = x + m.t111 * x * x + m.t133 * y * y;
    const double px1 = px + m.r21 * x + m.t211 * x * x + m.t212 * x * px + m.t233 * y * y + m.t234 * y * py;
    const double y1 = y + m.t313 * x * y;
    const double py1 = py + m.r43 * y + m.t413 * x * y + m.t414 * x * py + m.t423 * px * y;
    x = x1;
    px = px1;
    y = y1;
    py = py1;
}

void multiplyTotal(TransferMatrix& t)
{
    const Matrix& r = t.r;
    Matrix& m = t.m;
    const double mxx = m[kX][kX], mxxp = m[kX][kXp], mxd = m[kX][kDelta];
    const double mxpx = m[kXp][kX], mxpxp = m[kXp][kXp], mxpd = m[kXp][kDelta];
    const double myy = m[kY][kY], myyp = m[kY][kYp];
    const double mypy = m[kYp][kY], mypyp = m[kYp][kYp];
    const double mll = m[kL][kL];
    const double mdd = m[kDelta][kDelta];
    for (auto& row : m)
        for (double& v : row)
            v = 0;
    m[kX][kX] = r[kX][kX] * mxx + r[kX][kXp] * mxpx;
    m[kX][kXp] = r[kX][kX] * mxxp + r[kX][kXp] * mxpxp;
    m[kXp][kX] = r[kXp][kX] * mxx + r[kXp][kXp] * mxpx;
    m[kXp][kXp] = r[kXp][kX] * mxxp + r[kXp][kXp] * mxpxp;
    m[kX][kDelta] = r[kX][kX] * mxd + r[kX][kXp] * mxpd + r[kX][kDelta] * mdd;
    m[kXp][kDelta] = r[kXp][kX] * mxd + r[kXp][kXp] * mxpd + r[kXp][kDelta] * mdd;
    m[kY][kY] = r[kY][kY] * myy + r[kY][kYp] * mypy;
    m[kY][kYp] = r[kY][kY] * myyp + r[kY][kYp] * mypyp;
    m[kYp][kY] = r[kYp][kY] * myy + r[kYp][kYp] * mypy;
    m[kYp][kYp] = r[kYp][kY] * myyp + r[kYp][kYp] * mypyp;
    m[kL][kL] = mll;
    m[kDelta][kDelta] = mdd;
}

void addEdgeToTotal(TransferMatrix& t)
{
    const double r21 = t.r[kXp][kX];
    const double r43 = t.r[kYp][kY];
    Matrix& m = t.m;
    m[kXp][kX] += r21 * m[kX][kX];
    m[kXp][kXp] += r21 * m[kX][kXp];
    m[kXp][kDelta] += r21 * m[kX][kDelta];
    m[kYp][kY] += r43 * m[kY][kY];
    m[kYp][kYp] += r43 * m[kY][kYp];
}

} // namespace kestrune
