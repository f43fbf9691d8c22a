#include "core/nonlinear/AmplitudeDetuning.h"

#include "core/Constants.h"
#include "core/nonlinear/DrivingTerms.h"
#include "core/nonlinear/TrackedCell.h"
#include "core/optics/BetaFunctions.h"
#include "core/tracking/Detuning.h"
#include "core/tracking/ParticleTracker.h"
#include "core/tracking/SymplecticLattice.h"
#include "core/tracking/TuneAnalysis.h"

#include <Eigen/Dense>
#include <array>
#include <cmath>
#include <complex>

namespace kestrune {

// The tracked detuning. A particle of action Jx at the cell start, where the periodic solution has
// beta and alpha, starts at x = sqrt(2 Jx beta), px = -alpha x / beta (its largest x), and the same in
// y. Its tunes are those of its turn-by-turn motion; the ring of N identical cells has N times the tune
// shift of one cell, so one cell is tracked. The tune shift is smooth in J: the parabola
// Q(J) = Q0 + a J + b J^2 through the points at 0 and at J = k Jmax / 4 (k = 1..4) takes out the
// curvature, and a is dQ/dJ at J = 0 (the first-order octupole terms, the second-order sextupole ones).
// The second plane starts at 1e-6 of the action, far below where it moves the tunes; a large action in
// one plane gives the cross term in the other plane's tune (dQy/dJx, equal to dQx/dJy).

namespace {

constexpr int kActions = 4;
constexpr double kOtherPlane = 1e-6;

double slopeAtZero(const std::array<double, kActions + 1>& j, const std::array<double, kActions + 1>& q)
{
    Eigen::Matrix<double, kActions + 1, 3> a;
    Eigen::Matrix<double, kActions + 1, 1> b;
    for (int k = 0; k <= kActions; ++k) {
        a(k, 0) = 1;
        a(k, 1) = j[static_cast<std::size_t>(k)];
        a(k, 2) = j[static_cast<std::size_t>(k)] * j[static_cast<std::size_t>(k)];
        b(k) = q[static_cast<std::size_t>(k)];
    }
    return a.colPivHouseholderQr().solve(b)(1);
}

} // namespace

// The second-order detuning of sextupoles (Bengtsson's normal form of the thin-sextupole ring, as
// elegant and the Accelerator Toolbox give it; their b3 L is K2 L / 2, whence 1/64 pi for their 1/16 pi).
// The first-order terms of a sextupole average to zero over the betatron phases; the second order
// comes from the first-order generating function F, whose terms h_jklm e^{i(...)} / (1 - e^{i 2 pi
// (..) Q}) give the Poisson bracket {F, H1} averaged over the phases. For two points i, j of the ring
// with strengths S = K2 w and phase distance Ax = |phi_xi - phi_xj| (rad, 0 .. 2 pi Qx) every pair of
// harmonics n contributes cos(n Ax - n pi Qx) / sin(n pi Q_n), the periodic response at distance Ax
// of a kick of harmonic n:
//   dQx/dJx = -1/(64 pi) sum_ij S_i S_j bx_i^3/2 bx_j^3/2 [3 c(Ax; Qx) + c(3 Ax; 3 Qx)],
//   dQx/dJy =  1/(32 pi) sum_ij S_i S_j sqrt(bx_i bx_j) by_i [2 bx_j c(Ax; Qx)
//               - by_j c(Ax + 2 Ay; Qx + 2 Qy) + by_j c(Ax - 2 Ay; Qx - 2 Qy)],
//   dQy/dJy = -1/(64 pi) sum_ij S_i S_j sqrt(bx_i bx_j) by_i by_j [4 c(Ax; Qx)
//               + c(Ax + 2 Ay; Qx + 2 Qy) + c(Ax - 2 Ay; Qx - 2 Qy)],
// c(A; Q) = cos(A - pi Q) / sin(pi Q), over the ordered pairs of the ring (i = j included).
// The double sums cost one pass: the ring's points (the cell's, at phi + n mu in cell n) come in the
// order of s, in which both phases grow, so for a before b the distances are Ax = phi_xb - phi_xa and
// Ay = phi_yb - phi_ya and n Ax + m Ay = theta_b - theta_a with theta = n phi_x + m phi_y. A sum
// sum_ab U_a V_b c(n Ax + m Ay; Q) is then
//   sum_{a<b} (U_a V_b + U_b V_a) Re(e^{i(theta_b - pi Q)} e^{-i theta_a}) / sin(pi Q) + sum_a U_a V_a c(0;
//   Q),
// the sums over a < b carried along as running sums of U_a e^{-i theta_a} and V_a e^{-i theta_a}.

namespace {

// A point of the ring: S = K2 w, the functions and e^{i theta} of the four harmonics (n, m) = (1, 0),
// (3, 0), (1, 2), (1, -2), theta = n phi_x + m phi_y (rad), as powers of the two phase factors.
struct RingPoint
{
    double x3 = 0, xy = 0, xx = 0; // S bx^3/2, S sqrt(bx) by, S sqrt(bx) bx
    std::complex<double> harmonic[4];
};

// sum over the ordered pairs of U_a V_b c(n Ax + m Ay; q) for the harmonic h of q = n Qx + m Qy.
template <typename U, typename V>
double pairSum(const std::vector<RingPoint>& points, U u, V v, int h, double q)
{
    const std::complex<double> shift = std::polar(1.0, -kPi * q);
    std::complex<double> runningU = 0, runningV = 0;
    double sum = 0, same = 0;
    for (const RingPoint& p : points) {
        const double ub = u(p), vb = v(p);
        const std::complex<double> e = p.harmonic[h];
        sum += (e * shift * (vb * runningU + ub * runningV)).real();
        same += ub * vb;
        const std::complex<double> back = std::conj(e);
        runningU += ub * back;
        runningV += vb * back;
    }
    return (sum + same * std::cos(kPi * q)) / std::sin(kPi * q);
}

bool offResonance(double q)
{
    return std::fabs(std::sin(kPi * q)) > 1e-9;
}

} // namespace

std::optional<DetuningCoefficients> detuning(const State& state, std::string* refusal)
{
    const std::optional<DrivingTerms> terms = drivingTerms(state, refusal);
    if (!terms)
        return std::nullopt;
    return detuning(state, *terms, refusal);
}

std::optional<DetuningCoefficients> detuning(const State& /*state the terms are of*/,
                                             const DrivingTerms& terms, std::string* refusal)
{
    const double qx = terms.tuneX, qy = terms.tuneY;
    if (!offResonance(qx) || !offResonance(3 * qx) || !offResonance(qx + 2 * qy) ||
        !offResonance(qx - 2 * qy)) {
        if (refusal != nullptr)
            *refusal =
                "the ring sits on a third-order resonance or an integer tune: no second-order detuning!";
        return std::nullopt;
    }
    const int cells = terms.cells;
    std::vector<RingPoint> points;
    points.reserve(terms.sextupoles.size() * static_cast<std::size_t>(cells));
    std::vector<std::complex<double>> ex, ey;
    ex.reserve(terms.sextupoles.size());
    ey.reserve(terms.sextupoles.size());
    for (const SextupolePoint& p : terms.sextupoles) {
        ex.push_back(std::polar(1.0, kTwoPi * p.phiX));
        ey.push_back(std::polar(1.0, kTwoPi * p.phiY));
    }
    for (int c = 0; c < cells; ++c) {
        // cell c: the phases of the cell start moved on by c cell tunes
        const std::complex<double> cx = std::polar(1.0, kTwoPi * c * qx / cells);
        const std::complex<double> cy = std::polar(1.0, kTwoPi * c * qy / cells);
        for (std::size_t i = 0; i < terms.sextupoles.size(); ++i) {
            const SextupolePoint& s = terms.sextupoles[i];
            const std::complex<double> x = ex[i] * cx, y = ey[i] * cy, y2 = y * y;
            const double rx = std::sqrt(s.betaX);
            RingPoint p;
            p.x3 = s.k2 * s.betaX * rx;
            p.xy = s.k2 * rx * s.betaY;
            p.xx = s.k2 * rx * s.betaX;
            p.harmonic[0] = x;
            p.harmonic[1] = x * x * x;
            p.harmonic[2] = x * y2;
            p.harmonic[3] = x * std::conj(y2);
            points.push_back(p);
        }
    }
    const auto x3 = [](const RingPoint& p) { return p.x3; };
    const auto xy = [](const RingPoint& p) { return p.xy; };
    const auto xx = [](const RingPoint& p) { return p.xx; };
    const double sxx = 3 * pairSum(points, x3, x3, 0, qx) + pairSum(points, x3, x3, 1, 3 * qx);
    const double sxy = 2 * pairSum(points, xy, xx, 0, qx) - pairSum(points, xy, xy, 2, qx + 2 * qy) +
                       pairSum(points, xy, xy, 3, qx - 2 * qy);
    const double syy = 4 * pairSum(points, xy, xy, 0, qx) + pairSum(points, xy, xy, 2, qx + 2 * qy) +
                       pairSum(points, xy, xy, 3, qx - 2 * qy);
    // the octupoles' first-order terms from the same optics
    const OctupoleDetuning& o = terms.octupoles;
    return DetuningCoefficients{-sxx / (64 * kPi) + o.xx, sxy / (32 * kPi) + o.xy, -syy / (64 * kPi) + o.yy};
}

std::optional<DetuningCoefficients> trackedDetuning(const State& state, const DetuningScan& scan,
                                                    std::string* refusal)
{
    const auto refuse = [&](const std::string& text) -> std::optional<DetuningCoefficients> {
        if (refusal != nullptr)
            *refusal = text;
        return std::nullopt;
    };
    if (!(scan.largestAction > 0 && scan.largestAction <= 1e-3))
        return refuse("the largest action must be above 0 and at most 1e-3 m!");
    if (scan.turns < kFewestTuneTurns || scan.turns > 100000)
        return refuse("the turns of the detuning must be " + std::to_string(kFewestTuneTurns) +
                      " .. 100000!");
    std::string why;
    std::optional<TrackedCell> cell = trackedCell(state, why);
    if (!cell)
        return refuse(why);
    if (cell->coupled)
        return refuse("the tracked detuning takes a ring whose planes are independent");
    // its particles start about the design axis
    if (cell->kicked)
        return refuse("the tracked detuning takes a ring whose correctors do not kick");
    const SymplecticLattice& lattice = cell->lattice;
    const int cells = cell->cells;
    const State& pass = cell->pass;

    const RunSettings& run = pass.run;
    const auto start = [&](double jx, double jy) {
        PhaseVector p;
        p.x = std::sqrt(2 * jx * run.betaX0);
        p.px = -run.alphaX0 * p.x / run.betaX0;
        p.y = std::sqrt(2 * jy * run.betaY0);
        p.py = -run.alphaY0 * p.y / run.betaY0;
        return p;
    };
    std::array<double, kActions + 1> actions{};
    std::vector<PhaseVector> starts;
    for (int k = 0; k <= kActions; ++k) {
        actions[static_cast<std::size_t>(k)] = scan.largestAction * k / kActions;
        const double small = scan.largestAction * kOtherPlane;
        starts.push_back(start(std::max(actions[static_cast<std::size_t>(k)], small), small));
    }
    for (int k = 1; k <= kActions; ++k)
        starts.push_back(start(scan.largestAction * kOtherPlane, actions[static_cast<std::size_t>(k)]));

    std::vector<std::vector<PhaseVector>> turns(starts.size());
    for (std::vector<PhaseVector>& t : turns)
        t.resize(static_cast<std::size_t>(scan.turns));
    TrackingOptions options;
    options.turns = scan.turns;
    options.threads = 1;
    options.turnRecorder = [&turns](int particle, int turn, const PhaseVector& z) {
        turns[static_cast<std::size_t>(particle)][static_cast<std::size_t>(turn - 1)] = z;
    };
    const TrackingOutcome out = trackParticles(lattice, starts, options);
    std::vector<TrackedTunes> tunes;
    for (std::size_t i = 0; i < starts.size(); ++i) {
        if (out.particles[i].lost)
            return refuse("a particle of the detuning scan is lost: take a smaller largest action!");
        tunes.push_back(trackedTunes(turns[i], false));
        if (!std::isfinite(tunes.back().x) || !std::isfinite(tunes.back().y))
            return refuse("a particle of the detuning scan has no clear tune!");
    }
    // the cell's tune shifts from the smallest action's, across the wrap of the fractional tunes
    std::array<double, kActions + 1> qx{}, qyx{}, qy{};
    for (int k = 0; k <= kActions; ++k) {
        const auto i = static_cast<std::size_t>(k);
        qx[i] = std::remainder(tunes[i].x - tunes[0].x, 1.0);
        qyx[i] = std::remainder(tunes[i].y - tunes[0].y, 1.0);
        const TrackedTunes& v = k == 0 ? tunes[0] : tunes[kActions + i];
        qy[i] = std::remainder(v.y - tunes[0].y, 1.0);
    }
    DetuningCoefficients d;
    d.xx = cells * slopeAtZero(actions, qx);
    // the cross term from the small vertical motion beside a large horizontal one: its equation is
    // linear in y, while a large y drives x by the sextupoles' y^2 at 2 Qy, a line above the small free
    // x oscillation of the other scan
    d.xy = cells * slopeAtZero(actions, qyx);
    d.yy = cells * slopeAtZero(actions, qy);
    if (!std::isfinite(d.xx) || !std::isfinite(d.xy) || !std::isfinite(d.yy))
        return refuse("a particle of the detuning scan has no clear tune!");
    return d;
}

} // namespace kestrune
