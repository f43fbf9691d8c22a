#include "core/tracking/SymplecticLattice.h"

#include "core/Format.h"
#include "core/optics/BetaFunctions.h"
#include "core/optics/TransferMatrix.h"
#include "core/rf/RfParameter.h"
#include "core/rf/RfUpdate.h"

#include <Eigen/Dense>
#include <algorithm>
#include <cmath>

namespace kestrune {

// The fourth-order composition of H. Yoshida (Phys. Lett. A 150, 1990) and E. Forest and R. Ruth (Physica
// D 43, 1990): w1 = 1 / (2 - 2^(1/3)), w0 = 1 - 2 w1.
const double kYoshidaW1 = 1 / (2 - std::cbrt(2.0));
const double kYoshidaW0 = 1 - 2 * kYoshidaW1;
const double kGaussC1 = 0.5 - std::sqrt(15.0) / 10;
const double kGaussC2 = std::sqrt(15.0) / 10;
const double kGaussD1 = 5.0 / 18;
const double kGaussD2 = 8.0 / 18;

namespace {

// Phase advance (rad) of the on-momentum motion that one step of a magnet may cover, and the longest
// step of a sextupole. The magnets' scheme (below) takes the rest of the Hamiltonian at the three
// Gauss-Legendre nodes of a step along the exact linear flow: for the chromatic terms, which oscillate at
// twice the betatron frequency, the relative error of that quadrature is 1.6e-6 at 0.6 rad, and it falls
// with the sixth power of the step; the validation rings' chromaticities stay within 1e-5 of their
// converged values.
constexpr double kStepPhase = 0.6;
constexpr double kSextupoleStep = 0.25; // m
// A magnet of any length takes at most this many steps.
constexpr int kMostSteps = 1000;

int stepsFor(double phase)
{
    const double n = std::ceil(phase / kStepPhase);
    if (!(n >= 1))
        return 1;
    return n > kMostSteps ? kMostSteps : static_cast<int>(n);
}

// (s - sin(w s) / w) / w^2 for K = w^2 of either sign (sinh for K < 0), by its series where it cancels.
double pathDispersion(double k, double s)
{
    const double ks2 = k * s * s;
    if (std::fabs(ks2) < 1e-2)
        return s * s * s / 6 * (1 - ks2 / 20 * (1 - ks2 / 42 * (1 - ks2 / 72)));
    const double w = std::sqrt(std::fabs(k));
    const double sine = k > 0 ? std::sin(w * s) / w : std::sinh(w * s) / w;
    return (s - sine) / k;
}

// The flow of H0 - h x delta over the length s: the optics' matrices and, with the horizontal focusing
// K = h^2 + k, x'' = -K x + h delta, solved as x = C x0 + S px0 + h D delta with D = (1 - C) / K =
// S^2 / (1 + C) (no cancellation), px = -K S x0 + C px0 + h S delta, and dl/ds = h x integrated:
// l += h S x0 + h D px0 + h^2 (s - S) / K delta.
LinearFlow linearFlow(int elementCode, double h, double k, double length)
{
    TransferMatrix t;
    magnetMatrix(t, elementCode, h, k, length);
    const auto& r = t.r;
    LinearFlow f{{r[kX][kX], r[kX][kXp], r[kXp][kX], r[kXp][kXp]},
                 {r[kY][kY], r[kY][kYp], r[kYp][kY], r[kYp][kYp]}};
    if (h == 0)
        return f;
    const double c = f.x.m11, s = f.x.m12;
    const double d = s * s / (1 + c);
    f.d1 = h * d;
    f.d2 = h * s;
    f.l1 = h * s;
    f.l2 = h * d;
    f.l6 = h * h * pathDispersion(h * h + k, length);
    return f;
}

// Quadrupoles and bends. With px, py normalised to the reference momentum P0 and P = 1 + delta, the
// expanded Hamiltonian of a bend in its curved frame (curvature h), for the midplane field
// B_y(x) = B0 (1 + (k / h) x) of a magnet without sextupole component, is
//   H = -h x delta + (1 + h x) (px^2 + py^2) / (2 P) + (h^2 + k) x^2 / 2 + h k x^3 / 3 - k y^2 / 2
//       - h k x y^2 / 2,
// with l (the path-length difference) conjugate to -delta: dl/ds = -dH/d(delta). The field terms follow
// from a longitudinal vector potential (1 + h x) A_s that is free of curl and divergence to third order:
// its midplane slope gives B_y = h + k x, the y^2 term then follows from curl B = 0. A quadrupole is the
// same with h = 0. Every term of third order is kept, so the second-order map, and with it the
// chromaticity, is that of the full curved-frame Hamiltonian (the square root adds fourth-order terms
// only).
//
// The integration splits H = A + R. A = (px^2 + py^2) / 2 + (h^2 + k) x^2 / 2 - k y^2 / 2 - h x delta
// is the linear motion with its dispersion, solved exactly (linearFlow), so that the linear map is the
// optics' to rounding. The rest R, of second order in the small quantities (delta px^2, x px^2, x^3),
// is split into three flows, each solved exactly:
//   X: (c + b x) px^2 / 2, with c = 1/P - 1, b = h / P: px = px0 / (1 + q), q = b px0 t / 2, and
//      x = x0 + u0 px0 t (1 + q / 2), u0 = c + b x0 (the flow keeps u px^2 and moves u as (1 + q)^2);
//      the path length grows by t px0 (u0 px0 + px) / (2 P);
//   Y: (c + b x) py^2 / 2: px -= b py^2 t / 2, y += (c + b x) py t, l += (1 + h x) py^2 t / (2 P^2);
//   K: h k x^3 / 3 - h k x y^2 / 2, a kick: px -= t h k (x^2 - y^2 / 2), py += t h k x y;
// the symmetric R(t) = K(t/2) Y(t/2) X(t) Y(t/2) K(t/2). With A exact and R small, the step is the
// three-node scheme of J. Laskar and P. Robutel (Celest. Mech. 80, 2001, SABA3):
// A(c1 t) R(d1 t) A(c2 t) R(d2 t) A(c2 t) R(d1 t) A(c1 t), c1 = 1/2 - sqrt(15)/10, c2 = sqrt(15)/10,
// d1 = 5/18, d2 = 8/18: R sampled along the exact flow of A at the Gauss-Legendre nodes, an error of
// sixth order in the step in what is linear in R (the chromaticity and the second-order map) and of
// second order, with the small coefficient 0.006, in what is quadratic in R. The magnet's kernel merges
// the flows of A where two steps meet.
ElementMap magnetMap(const LatticeElement& e, bool bend)
{
    ElementMap map;
    map.kind = StepKind::Magnet;
    map.length = e.length;
    map.h = bend ? e.curvature : 0;
    map.k = e.k;
    const double focusing =
        std::sqrt(std::max({std::fabs(map.h * map.h + map.k), std::fabs(map.k), map.h * map.h}));
    map.slices = stepsFor(focusing * e.length);
    map.step = e.length / map.slices;
    map.end = linearFlow(e.code, map.h, map.k, kGaussC1 * map.step);
    map.inner = linearFlow(e.code, map.h, map.k, kGaussC2 * map.step);
    map.join = linearFlow(e.code, map.h, map.k, 2 * kGaussC1 * map.step);
    return map;
}

// A quadrupole with a skew component: the gradient terms of its Hamiltonian are
//   k (x^2 - y^2) / 2 - k1s x y
// (MAD-X's K1S: px += k1s y ds, py += k1s x ds). A normal quadrupole of strength g rolled by a has, in the
// coordinates of its frame u = x cos a + y sin a, v = -x sin a + y cos a,
//   g (u^2 - v^2) / 2 = g cos 2a (x^2 - y^2) / 2 + g sin 2a x y,
// the same as the above for g cos 2a = k, g sin 2a = -k1s: g = sqrt(k^2 + k1s^2), a = atan2(-k1s, k) / 2.
// The chromatic rest of the magnet's split, (1/P - 1) (pu^2 + pv^2) / 2, does not change under a roll, so
// the quadrupole is the rolled normal one exactly, at every amplitude and momentum; its own roll (TILT)
// adds to a.
ElementMap skewQuadrupoleMap(const LatticeElement& e, double& roll)
{
    LatticeElement normal = e;
    normal.k = std::hypot(e.k, e.k1s);
    roll += std::atan2(-e.k1s, e.k) / 2;
    return magnetMap(normal, false);
}

// Solenoid of field Bs along the orbit, ks = Bs / (B rho), K = ks / 2. In the symmetric gauge the vector
// potential is (a_x, a_y) = K (-y, x) in units of the reference momentum, and with the tracker's expanded
// kinetic energy (that of its drift) the Hamiltonian is
//   H = ((px + K y)^2 + (py - K x)^2) / (2 P),
// px, py canonical. The kinetic momenta pi_x = px + K y, pi_y = py - K x obey x' = pi_x / P, y' = pi_y / P
// and pi_x' = 2 K pi_y / P, pi_y' = -2 K pi_x / P: with pi = pi_x + i pi_y and z = x + i y,
//   pi(s) = pi(0) exp(-i w s),  z(s) = z(0) + pi(0) (1 - exp(-i w s)) / (i w P),  w = 2 K / P = ks / P,
// the Larmor rotation of the particle's own momentum. H, so |pi|^2, is constant along the flow, and
// dl/ds = -dH/d(delta) = |pi|^2 / (2 P^2) integrates to l += L |pi|^2 / (2 P^2). The flow is exact for
// every delta and amplitude; it is symplectic as the flow of a Hamiltonian is.
// The hard edges: entering the field the vector potential jumps from 0 to K (-y, x) while H stays finite,
// so the canonical px, py do not jump (Hamilton's equations have nothing to integrate over an edge of no
// length), and the kinetic momenta do: pi_x jumps by K y, pi_y by -K x, and back at the exit. That jump is
// the kick of the fringe field: to first order in the radius the fringe's radial field is
// B_r = -(r / 2) dBs/ds, whose integral across the edge gives exactly the symmetric gauge's jump. Outside
// the field the canonical momenta are the kinetic ones, so the map taken from outside to outside holds
// both fringes with no map of their own.
ElementMap solenoidMap(const LatticeElement& e)
{
    ElementMap map;
    map.kind = StepKind::Solenoid;
    map.length = e.length;
    map.ks = e.ks;
    return map;
}

// Sextupole: H = (px^2 + py^2) / (2 P) + m (x^3 - 3 x y^2) / 6, the expanded drift and the kick
// px -= m t (x^2 - y^2) / 2, py += m t x y, in the same fourth-order composition of drift-kick-drift.
ElementMap sextupoleMap(const LatticeElement& e)
{
    ElementMap map;
    map.kind = StepKind::Sextupole;
    map.length = e.length;
    map.m = e.m;
    map.slices = std::max(1, std::min(kMostSteps, static_cast<int>(std::ceil(e.length / kSextupoleStep))));
    map.step = e.length / map.slices;
    return map;
}

// The existing maps of the optics: the element's matrix over its slices, as the periodic solution
// multiplies them, on a copy that carries the particle's energy along the line.
ElementMap matrixMap(State& scratch, Messages& messages, int i)
{
    const LatticeElement& e = scratch.line.at(i);
    ElementMap map;
    map.kind = StepKind::Matrix;
    map.length = e.length;
    resetTotal(scratch.matrix);
    const int n = periodicSteps(scratch.run, e);
    for (int j = 0; j < n; ++j) {
        elementMatrix(scratch, messages, i, e.length / n);
        multiplyTotal(scratch.matrix);
    }
    const auto& m = scratch.matrix.m;
    const int index[4] = {kX, kXp, kY, kYp};
    for (int row = 0; row < 4; ++row)
        for (int col = 0; col < 4; ++col)
            map.r[row][col] = m[index[row]][index[col]];
    map.r16 = m[kX][kDelta];
    map.r26 = m[kXp][kDelta];
    return map;
}

ElementMap driftMap(double length)
{
    ElementMap map;
    map.kind = length != 0 ? StepKind::Drift : StepKind::Identity;
    map.length = length;
    return map;
}

// A thin multipole, MAD-X's MULTIPOLE: px - i py += -sum_n (knl[n] + i ksl[n]) (x + i y)^n / n! at the
// centre of its length, the dipole component knl[0] a kick on the design orbit with no curvature of the
// reference (as MAD-X without ANGLE). The coefficients stop at the highest order that is not 0.
ElementMap thinMultipoleMap(const LatticeElement& e)
{
    ElementMap map;
    map.kind = StepKind::ThinMultipole;
    map.length = e.length;
    std::size_t orders = std::max(e.knl.size(), e.ksl.size());
    const auto at = [](const std::vector<double>& v, std::size_t n) { return n < v.size() ? v[n] : 0.0; };
    while (orders > 0 && at(e.knl, orders - 1) == 0 && at(e.ksl, orders - 1) == 0)
        --orders;
    for (std::size_t n = 0; n < orders; ++n) {
        map.knl.push_back(at(e.knl, n));
        map.ksl.push_back(at(e.ksl, n));
    }
    return map;
}

// Octupole: H = (px^2 + py^2) / (2 P) + k3 (x^4 - 6 x^2 y^2 + y^4) / 24, the expanded drift and the kick
// px -= k3 t (x^3 - 3 x y^2) / 6, py += k3 t (3 x^2 y - y^3) / 6 (MAD-X's K3), integrated as the
// sextupoles.
ElementMap octupoleMap(const LatticeElement& e)
{
    ElementMap map = sextupoleMap(e);
    map.kind = StepKind::Octupole;
    map.m = e.k3;
    return map;
}

// A corrector kicks px += hkick, py += vkick (MAD-X's HKICK, VKICK: the angle of the design momentum) at
// the centre of its length.
ElementMap kickerMap(const LatticeElement& e)
{
    ElementMap map;
    map.kind = StepKind::Kicker;
    map.length = e.length;
    const bool h = e.code != code::kVerticalKicker;
    const bool v = e.code != code::kHorizontalKicker;
    map.kickX = h ? e.hkick : 0;
    map.kickY = v ? e.vkick : 0;
    return map;
}

// An rf cavity of the cell: the kick of pushTurnEnd's cavity (see ElementKernels.cpp) at the cavity's
// centre, with its own voltage and phase. MAD-X's convention: the energy gain is
// charge V sin(2 pi lag + omega dt) with dt the delay behind the reference particle, so that the
// reference sees the phase 2 pi lag and a late particle a later one. With the particle's l = v dt,
// omega dt = (omega / c) (e / P) l in the units of the reference momentum (e / P = 1 / beta); omega is
// 2 pi f, or 2 pi h times the revolution frequency beta0 c / C (the cavity taken as synchronous with the
// reference particle). As with the rf window's cavity the reference keeps its energy (the loss that the
// phase replaces is not part of the model): the gain is charge V (sin(phi) - sin(2 pi lag)).
ElementMap cavityMap(const LatticeElement& e, const State& state, double circumference)
{
    ElementMap map;
    map.kind = StepKind::Cavity;
    map.length = e.length;
    const BeamParameters& beam = state.beam;
    const double p0 = beam.momentum;
    const double mu = p0 > 0 ? beam.restEnergy / p0 : 0;
    CavityKick& c = map.cavity;
    c.kick = p0 > 0 ? beam.charge * e.voltage / p0 : 0;
    c.phase = kTwoPi * e.lag;
    c.massRatio2 = mu * mu;
    // omega / c = 2 pi f / c; from the harmonic number 2 pi h beta0 / C with beta0 = 1 / sqrt(1 + mu^2)
    if (e.frequency > 0)
        c.phaseSlope = kTwoPi * e.frequency / kSpeedOfLight;
    else if (circumference > 0)
        c.phaseSlope = kTwoPi * e.harmonic / circumference / std::sqrt(1 + mu * mu);
    return map;
}

// The roll of an element whose map has a transverse field. A roll of a drift, a cavity or a solenoid
// (whose Hamiltonian holds x^2 + y^2, px^2 + py^2 and x py - y px alone) changes nothing and is left out.
void setRoll(ElementMap& map, double roll)
{
    const bool field = map.kind == StepKind::Magnet || map.kind == StepKind::Sextupole ||
                       map.kind == StepKind::Octupole || map.kind == StepKind::ThinMultipole ||
                       map.kind == StepKind::Kicker || map.kind == StepKind::Matrix || map.entrance.present ||
                       map.exit.present;
    if (roll == 0 || !field)
        return;
    map.rolled = true;
    map.rollCos = std::cos(roll);
    map.rollSin = std::sin(roll);
}

bool isCavity(const LatticeElement& e)
{
    return e.code == code::kRfCavity && e.voltage > 0;
}

// The faces as the optics takes them: every element with curvature except the sector bend; the
// second-order terms for bends, whose field model they belong to. A sector bend's ends keep the fringe
// term of a face of angle 0 and no linear part.
void addFaces(ElementMap& map, const LatticeElement& e)
{
    const bool bend = familyOf(e.code) == static_cast<int>(Family::Bend);
    if (e.curvature == 0)
        return;
    const bool faces = e.code != code::kSectorBend;
    if (!faces && !bend)
        return;
    TransferMatrix t;
    const auto face = [&](double psi) {
        double r21 = 0, r43 = 0;
        if (faces) {
            edgeMatrix(t, e.curvature, psi, e.gap);
            r21 = t.r[kXp][kX];
            r43 = t.r[kYp][kY];
        }
        FaceMap f = bend ? faceMap(e.curvature, e.k, faces ? psi : 0, r21, r43) : FaceMap{};
        f.present = true;
        f.r21 = r21;
        f.r43 = r43;
        return f;
    };
    map.entrance = face(e.ain);
    map.exit = face(e.aout);
}

} // namespace

// The hard edge of a bend whose face makes the angle psi with the normal of the reference orbit. Across
// the face the field rises from 0 to B_y = h + k x; the field boundary lies at s = x tan(psi) from the
// sector body's entrance plane. Two effects, each expanded to second order:
// - the wedge between the face and the body's entrance plane, of length x tan(psi), whose body field is
//   missing (or added): to first order the edge focusing px += h tan(psi) x, to second order the
//   gradient's feed-down k tan(psi) x^2 and the curvature terms of the wedge's geometry;
// - the fringe field: its longitudinal component y dB_y/ds turns the particle's horizontal angle into a
//   vertical kick, py -= h (tan(psi) + sec^2(psi) px) y for a face the particle crosses at the angle
//   psi + px (the leading-order hard-edge fringe of E. Forest and J. Milutinovic, NIM A 269, 1988), with
//   the shift x += h sec^2(psi) y^2 / 2 that makes it symplectic.
// Their quadratic terms, those of K. L. Brown's second-order edge map (SLAC-75, the map TRANSPORT and
// MAD-X use), all derive from one cubic generator; with t = tan(psi) at an entrance
//   G = a x (x px - 2 y py) + b px y^2 + cubicX x^3 + cubicXY x y^2,
//   a = -h t^2 / 2, b = h sec^2(psi) / 2, cubicX = -(k t + h^2 t^3 / 2) / 3, cubicXY = k t - h^2 t^3 / 2,
// whose exact flow, followed by the linear edge matrix, reproduces them term by term. The exit is the
// entrance run backwards (x, y kept, px, py reversed): the matrix first, then the flow of G with a and b
// of the opposite sign. The linear matrix is the optics' edge matrix, with its fringe-field correction of
// the vertical focusing for a finite gap.
FaceMap faceMap(double h, double k, double psi, double r21, double r43)
{
    const double t = std::tan(psi);
    FaceMap f;
    f.present = true;
    f.a = -h * t * t / 2;
    f.b = h * (1 + t * t) / 2;
    f.cubicX = -(k * t + h * h * t * t * t / 2) / 3;
    f.cubicXY = k * t - h * h * t * t * t / 2;
    f.r21 = r21;
    f.r43 = r43;
    return f;
}

namespace {

using Rotation = Eigen::Matrix3d;

// MAD-X's survey angles: the element's axes in the design frame, W = Theta(dtheta) Phi(dphi) Psi(dpsi),
// a turn about the vertical axis (x towards s), then about the horizontal one (s towards y), then the
// roll about the beam axis (x towards y).
Rotation surveyRotation(double theta, double phi, double psi)
{
    Rotation t, p, r;
    t << std::cos(theta), 0, std::sin(theta), 0, 1, 0, -std::sin(theta), 0, std::cos(theta);
    p << 1, 0, 0, 0, std::cos(phi), std::sin(phi), 0, -std::sin(phi), std::cos(phi);
    r << std::cos(psi), -std::sin(psi), 0, std::sin(psi), std::cos(psi), 0, 0, 0, 1;
    return t * p * r;
}

} // namespace

// Into a misaligned element. Its frame has its origin at d = (dx, dy, ds) of the design frame at the
// entrance and its axes are the columns of W. A particle at (x, y, 0) with the momentum (px, py, P) of the
// design frame has, in the element's frame, the momentum W^T (px, py, P): px' = w11 px + w21 py + w31 P,
// py' = w12 px + w22 py + w32 P. Its position there is where its line crosses the element's entrance
// plane n . (r - d) = 0, n = W e_s, reached after t = s2 - (w13 x + w23 y) / w33,
// s2 = (w13 dx + w23 dy + w33 ds) / w33; to first order in the errors (the misalignment "in a linear
// approximation", as MAD-X's EALIGN takes it) the particle first drifts s2 with its slopes and is then
// projected: with (X, Y) = (x + s2 px - dx, y + s2 py - dy) the crossing is
//   x' = (w22 X - w12 Y) / w33,  y' = (w11 Y - w21 X) / w33,
// (the cofactors of a rotation are its elements), and the path grows by t: l += s2 - (w13 (x + s2 px) +
// w23 (y + s2 py)) / w33. The rotation angles of a curved bend are about the axes of its entrance frame,
// as MAD-X turns it.
FrameChange misalignmentEntry(const ElementErrors& errors)
{
    const Rotation w = surveyRotation(errors.dtheta, errors.dphi, errors.dpsi);
    const double s2 = (w(0, 2) * errors.dx + w(1, 2) * errors.dy + w(2, 2) * errors.ds) / w(2, 2);
    FrameChange f;
    // the rows of x' and y' on (x, px, y, py): the projection after the drift s2
    const double ax = w(1, 1) / w(2, 2), ay = -w(0, 1) / w(2, 2);
    const double bx = -w(1, 0) / w(2, 2), by = w(0, 0) / w(2, 2);
    const double xRow[4] = {ax, ax * s2, ay, ay * s2};
    const double yRow[4] = {bx, bx * s2, by, by * s2};
    const double pxRow[4] = {0, w(0, 0), 0, w(1, 0)};
    const double pyRow[4] = {0, w(0, 1), 0, w(1, 1)};
    for (int k = 0; k < 4; ++k) {
        f.m[0][k] = xRow[k];
        f.m[1][k] = pxRow[k];
        f.m[2][k] = yRow[k];
        f.m[3][k] = pyRow[k];
    }
    f.c[0] = -(ax * errors.dx + ay * errors.dy);
    f.c[2] = -(bx * errors.dx + by * errors.dy);
    f.c[1] = f.d[1] = w(2, 0);
    f.c[3] = f.d[3] = w(2, 1);
    const double lx = -w(0, 2) / w(2, 2), ly = -w(1, 2) / w(2, 2);
    const double lRow[4] = {lx, lx * s2, ly, ly * s2};
    for (int k = 0; k < 4; ++k)
        f.lz[k] = lRow[k];
    f.lc = s2;
    return f;
}

// Out of a misaligned element at its exit. The element's exit frame is its entrance frame carried along
// its own reference orbit: for a bend of angle a = h L rolled by its tilt t, moved by
// v_e = (L (cos a - 1) / a) (cos t, sin t, 0) + (0, 0, L sin a / a) and turned by W_e = R(t) Y(a) R(t)^T
// (R the roll, Y the bend's turn in its plane); for a straight element v_e = (0, 0, L), W_e = 1. The
// misaligned element's exit lies, in the design's exit frame, at V = W_e^T (d + W v_e - v_e) turned by
// W' = W_e^T W W_e. The change out of it is the entry's change with V and W' in place of d and W, taken
// back: the displacement first, x += (w'22 V1 - w'12 V2) / w'33, y += (w'11 V2 - w'21 V1) / w'33,
// px -= w'31, py -= w'32, then the momentum turned into the design frame,
//   px = (w'22 px - w'21 py) / w'33 + (w'13 / w'33) delta,  py = (w'11 py - w'12 px) / w'33 + (w'23 / w'33)
//   delta,
// the position turned, x = w'11 x + w'12 y, y = w'21 x + w'22 y, and the drift with the new slopes over
// s2 = -(w'13 V1 + w'23 V2 + w'33 V3) / w'33 to the design's exit plane; the path grows by
// s2 - (w'31 x + w'32 y) of the displaced position.
FrameChange misalignmentExit(const ElementErrors& errors, double length, double curvature, double tilt)
{
    const Rotation w = surveyRotation(errors.dtheta, errors.dphi, errors.dpsi);
    Eigen::Vector3d ve(0, 0, length);
    Rotation we = Rotation::Identity();
    const double angle = curvature * length;
    if (std::fabs(angle) >= 1e-13) {
        const double bx = length * (std::cos(angle) - 1) / angle;
        ve << bx * std::cos(tilt), bx * std::sin(tilt), length * std::sin(angle) / angle;
        Rotation r, y;
        r << std::cos(tilt), -std::sin(tilt), 0, std::sin(tilt), std::cos(tilt), 0, 0, 0, 1;
        y << std::cos(angle), 0, -std::sin(angle), 0, 1, 0, std::sin(angle), 0, std::cos(angle);
        we = r * y * r.transpose();
    }
    const Eigen::Vector3d d(errors.dx, errors.dy, errors.ds);
    const Eigen::Vector3d v = we.transpose() * (d + w * ve - ve);
    const Rotation u = we.transpose() * w * we;
    const double s2 = -(u(0, 2) * v(0) + u(1, 2) * v(1) + u(2, 2) * v(2)) / u(2, 2);
    // the shift, then the linear part: z_out = A (z + shift)
    const double shift[4] = {(u(1, 1) * v(0) - u(0, 1) * v(1)) / u(2, 2), -u(2, 0),
                             (u(0, 0) * v(1) - u(1, 0) * v(0)) / u(2, 2), -u(2, 1)};
    const double pxRow[4] = {0, u(1, 1) / u(2, 2), 0, -u(1, 0) / u(2, 2)};
    const double pyRow[4] = {0, -u(0, 1) / u(2, 2), 0, u(0, 0) / u(2, 2)};
    const double pxDelta = u(0, 2) / u(2, 2), pyDelta = u(1, 2) / u(2, 2);
    double a[4][4] = {{u(0, 0), 0, u(0, 1), 0}, {0, 0, 0, 0}, {u(1, 0), 0, u(1, 1), 0}, {0, 0, 0, 0}};
    for (int k = 0; k < 4; ++k) {
        a[1][k] = pxRow[k];
        a[3][k] = pyRow[k];
        a[0][k] += s2 * pxRow[k];
        a[2][k] += s2 * pyRow[k];
    }
    FrameChange f;
    for (int r = 0; r < 4; ++r) {
        f.c[r] = 0;
        for (int k = 0; k < 4; ++k) {
            f.m[r][k] = a[r][k];
            f.c[r] += a[r][k] * shift[k];
        }
    }
    f.d[0] = s2 * pxDelta;
    f.d[1] = pxDelta;
    f.d[2] = s2 * pyDelta;
    f.d[3] = pyDelta;
    f.lz[0] = -u(2, 0);
    f.lz[2] = -u(2, 1);
    f.lc = s2 - u(2, 0) * shift[0] - u(2, 1) * shift[2];
    return f;
}

namespace {

// The lag of a particle whose speed differs from the reference's grows with the distance it travelled
// (pushTurnEnd): with cavities in the cell it is taken up to each cavity's centre before its kick, and
// from the last one to the cell's end there, so that each cavity sees the delay of its own place.
void placeCavities(SymplecticLattice& lattice)
{
    double s = 0;
    double last = 0;
    for (ElementMap& map : lattice.cell) {
        if (map.kind == StepKind::Cavity) {
            map.cavity.slip = s + map.length / 2 - last;
            last = s + map.length / 2;
            lattice.cavityElements = true;
        }
        s += map.length;
    }
    if (!lattice.cavityElements)
        return;
    lattice.cellSlip = s - last;
    lattice.rf = RfCavity{};
}

} // namespace

namespace {

// The map of element i (e itself, or a piece of it cut for its errors) without its errors.
ElementMap bareMap(const LatticeElement& e, const State& state, State& scratch, Messages& messages, int i,
                   double circumference)
{
    ElementMap map;
    double roll = e.tilt;
    switch (familyOf(e.code)) {
    case static_cast<int>(Family::Bend):
        // without curvature a bend's field is a quadrupole's (trackingRefusal: k1s only there)
        map = e.k1s != 0 && e.curvature == 0 ? skewQuadrupoleMap(e, roll) : magnetMap(e, true);
        break;
    case static_cast<int>(Family::Quadrupole):
        map = e.k1s != 0 ? skewQuadrupoleMap(e, roll) : magnetMap(e, false);
        break;
    case static_cast<int>(Family::Sextupole):
        map = sextupoleMap(e);
        break;
    case static_cast<int>(Family::AlphaMagnet):
        map = matrixMap(scratch, messages, i);
        break;
    case static_cast<int>(Family::Multipole):
        map = e.code == code::kThinMultipole                           ? thinMultipoleMap(e)
              : e.code == code::kOctupole                              ? octupoleMap(e)
              : e.code == code::kSolenoid && e.ks != 0 && e.length > 0 ? solenoidMap(e)
                                                                       : driftMap(e.length);
        break;
    case static_cast<int>(Family::Kicker):
        map = kickerMap(e);
        break;
    case static_cast<int>(Family::Cavity):
        map = isCavity(e) ? cavityMap(e, state, circumference) : driftMap(e.length);
        break;
    default: // drifts, pumps and codes outside the families are drifts, as in the optics
        map = e.code == code::kLinac || e.code == code::kEinzelLens || e.code == code::kElectrostatic
                  ? matrixMap(scratch, messages, i)
                  : driftMap(e.length);
        break;
    }
    addFaces(map, e);
    setRoll(map, roll);
    map.aperture = e.aperture;
    return map;
}

// The field errors as MAD-X's thin multipole, in the element's own frame (rolled with it).
ElementMap errorKick(const LatticeElement& e)
{
    LatticeElement kick;
    kick.code = code::kThinMultipole;
    kick.knl = e.errors.dkn;
    kick.ksl = e.errors.dks;
    ElementMap map = thinMultipoleMap(kick);
    setRoll(map, e.tilt);
    return map;
}

// The body of an element with field errors: the kick at its centre between its two halves. The halves
// of a uniform element are the element of half the length, the exit face left out of the first and the
// entrance face of the second; a corrector's own kick stays at the centre beside the errors'; a thin
// multipole takes them into its own coefficients.
std::vector<ElementMap> splitBody(const LatticeElement& e, const ElementMap& whole, const State& state,
                                  State& scratch, Messages& messages, int i, double circumference)
{
    if (whole.kind == StepKind::ThinMultipole) {
        LatticeElement merged = e;
        const std::size_t n =
            std::max({e.knl.size(), e.ksl.size(), e.errors.dkn.size(), e.errors.dks.size()});
        merged.knl.resize(n, 0.0);
        merged.ksl.resize(n, 0.0);
        for (std::size_t k = 0; k < e.errors.dkn.size(); ++k)
            merged.knl[k] += e.errors.dkn[k];
        for (std::size_t k = 0; k < e.errors.dks.size(); ++k)
            merged.ksl[k] += e.errors.dks[k];
        return {bareMap(merged, state, scratch, messages, i, circumference)};
    }
    if (whole.kind == StepKind::Identity)
        return {errorKick(e)};
    if (whole.kind == StepKind::Kicker) {
        LatticeElement thin = e;
        thin.length = 0;
        return {driftMap(e.length / 2), bareMap(thin, state, scratch, messages, i, circumference),
                errorKick(e), driftMap(e.length / 2)};
    }
    LatticeElement half = e;
    half.length = e.length / 2;
    ElementMap first = bareMap(half, state, scratch, messages, i, circumference);
    ElementMap second = first;
    first.exit = FaceMap{};
    second.entrance = FaceMap{};
    return {std::move(first), errorKick(e), std::move(second)};
}

} // namespace

SymplecticLattice buildSymplecticLattice(const State& state, Messages& messages, const RfCavity& rf)
{
    SymplecticLattice lattice;
    lattice.superPeriods = state.line.superPeriods;
    lattice.momentum = state.beam.momentum;
    lattice.massRatio = state.beam.momentum > 0 ? state.beam.restEnergy / state.beam.momentum : 0;
    lattice.rf = rf;
    double cellLength = 0;
    for (int i = 1; i <= state.line.count; ++i)
        cellLength += state.line.at(i).length;
    const double circumference = cellLength * lattice.superPeriods;
    cellLength = 0;
    State scratch = state;
    lattice.cell.reserve(static_cast<std::size_t>(std::max(state.line.count, 0)));
    for (int i = 1; i <= state.line.count; ++i) {
        const LatticeElement& e = state.line.at(i);
        cellLength += e.length;
        lattice.cell.push_back(bareMap(e, state, scratch, messages, i, circumference));
    }
    lattice.circumference = cellLength * lattice.superPeriods;
    placeCavities(lattice);
    // the errors, once the cavities have their places
    for (int i = 1; i <= state.line.count; ++i) {
        const LatticeElement& e = state.line.at(i);
        if (!e.errors.any())
            continue;
        ElementMap& map = lattice.cell[static_cast<std::size_t>(i - 1)];
        auto errors = std::make_shared<ElementErrorMaps>();
        errors->misaligned = e.errors.misaligned();
        if (errors->misaligned) {
            const bool bend = familyOf(e.code) == static_cast<int>(Family::Bend);
            errors->entry = misalignmentEntry(e.errors);
            errors->exit = misalignmentExit(e.errors, e.length, bend ? e.curvature : 0, e.tilt);
        }
        errors->body = e.errors.fieldErrors() ? splitBody(e, map, state, scratch, messages, i, circumference)
                                              : std::vector<ElementMap>{map};
        map.errors = std::move(errors);
    }
    return lattice;
}

namespace {

// Field errors split an element at its centre: not those that take the optics' matrix or an rf cavity.
bool fieldErrorsTracked(const LatticeElement& e)
{
    const int family = familyOf(e.code);
    return family != static_cast<int>(Family::AlphaMagnet) && !isCavity(e) && e.code != code::kLinac &&
           e.code != code::kEinzelLens && e.code != code::kElectrostatic;
}

} // namespace

std::optional<std::string> trackingRefusal(const BeamLine& line)
{
    for (int i = 1; i <= line.count && i <= kMaxLineElements; ++i) {
        const LatticeElement& e = line.at(i);
        const int family = familyOf(e.code);
        const bool quadrupoleField = family == static_cast<int>(Family::Quadrupole) ||
                                     (family == static_cast<int>(Family::Bend) && e.curvature == 0);
        if (e.errors.fieldErrors() && !fieldErrorsTracked(e))
            return "the tracker cannot take element '" + excerpt(e.name) + "' (" + std::to_string(i) +
                   "): field errors of a " + std::string(kindName(kindOf(e.code)));
        if (e.k1s == 0 || quadrupoleField)
            continue;
        const std::string what = family == static_cast<int>(Family::Bend)
                                     ? "a skew gradient k1s of a bend"
                                     : "a skew gradient k1s of a " + std::string(kindName(kindOf(e.code)));
        return "the tracker cannot take element '" + excerpt(e.name) + "' (" + std::to_string(i) +
               "): " + what;
    }
    return std::nullopt;
}

void switchRfOff(SymplecticLattice& lattice)
{
    lattice.rf.on = false;
    const auto off = [](ElementMap& map) {
        if (map.kind == StepKind::Cavity)
            map.kind = map.length != 0 ? StepKind::Drift : StepKind::Identity;
    };
    for (ElementMap& map : lattice.cell) {
        off(map);
        // a misaligned cavity's own map is in the body of its errors
        if (map.errors && map.errors->body.size() == 1 && map.errors->body.front().kind == StepKind::Cavity) {
            auto errors = std::make_shared<ElementErrorMaps>(*map.errors);
            off(errors->body.front());
            map.errors = std::move(errors);
        }
    }
}

RfCavity rfCavity(const State& state)
{
    const RfParameters& rf = state.rf;
    RfCavity cavity;
    if (!state.ringClosed || !rf.computed || !finitePositive(rf.voltage) ||
        !finitePositive(state.ringParams.harmonicNumber) || !finitePositive(state.ringParams.circumference) ||
        !std::isfinite(rf.synchronousPhase))
        return cavity;
    cavity.on = true;
    cavity.voltage = rf.voltage;
    cavity.harmonic = state.ringParams.harmonicNumber;
    cavity.phase = rf.synchronousPhase;
    cavity.energyLoss = rf.voltage * std::sin(rf.synchronousPhase);
    return cavity;
}

RfCavity trackingRfCavity(const State& state, Messages& messages)
{
    // a ring whose results the rf parameters need (the ring window's) has not been computed: no cavity
    if (!state.ringClosed || !finitePositive(state.rf.voltage) || !missingRfInput(state).empty())
        return {};
    State ring = state;
    if (!updateRfParameters(ring, messages))
        return {};
    return rfCavity(ring);
}

} // namespace kestrune
