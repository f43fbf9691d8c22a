#include "core/optics/TransferMatrix.h"

#include "core/Kinematics.h"

#include <cmath>
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
        bendMatrix(r, e.curvature, e.k, sliceLength);
        break;
    case static_cast<int>(Family::Quadrupole):
        quadrupoleMatrix(r, e.k, sliceLength);
        break;
    case static_cast<int>(Family::AlphaMagnet):
        alphaMatrix(r, e.code, e.k);
        break;
    default: // sextupoles and pumps have no linear effect
        break;
    }
}

void edgeMatrix(TransferMatrix& t, double h, double psi, double gap)
{
    setIdentity(t.r);
    const double sinPsi = std::sin(psi);
    t.r[kXp][kX] = h * std::tan(psi);
    // vertical focusing of the face, weakened by the fringe field of the full gap G (K. L. Brown's
    // TRANSPORT form, MAD-X's with HGAP = G/2 and FINT = 1/3): R43 = -h tan(psi - phi),
    // phi = (h G / 3) (1 + sin^2 psi) / cos psi
    const double phi = h * gap / 3 * (1 + sinPsi * sinPsi) / std::cos(psi);
    t.r[kYp][kY] = -h * std::tan(psi - phi);
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
