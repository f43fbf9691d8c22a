#include "core/optics/BetaFunctions.h"

#include "core/Design.h"
#include "core/Format.h"
#include "core/Kinematics.h"
#include "core/optics/Prefetch.h"
#include "core/optics/RingPass.h"
#include "core/optics/TransferMatrix.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace kestrune {

namespace {

enum class Mode { LatticeFunctions, BeamSize, Trajectory };

Mode activeMode(const RunSettings& run)
{
    if (run.showBetaFunctions)
        return Mode::LatticeFunctions;
    if (run.showBeamSize)
        return Mode::BeamSize;
    if (run.showTrajectory)
        return Mode::Trajectory;
    return Mode::LatticeFunctions;
}

// The phase advance (units of 2 pi) of a step from beta to beta1 whose matrix has R12 = r12, cosine being
// beta R11 - alpha R12: from R12 = sqrt(beta beta1) sin(dmu), R11 = sqrt(beta1 / beta) (cos(dmu) + alpha
// sin(dmu)), sin and cos of dmu times sqrt(beta beta1) > 0 are R12 and beta R11 - alpha R12. The quadrant
// is that of arcsin(sin dmu), or pi - arcsin for cos dmu < 0: between -pi/2 and 3 pi/2. No phase (NaN)
// for a beta that is not positive.
inline double phaseAdvance(double beta, double beta1, double r12, double cosine)
{
    if (!(beta1 * beta > 0))
        return std::numeric_limits<double>::quiet_NaN();
    // atan2 of a zero (a marker, a pump) and a positive number is that zero, sign and all
    double dphi = r12 == 0 && cosine > 0 ? r12 : std::atan2(r12, cosine);
    if (dphi < -kPi / 2)
        dphi += kTwoPi;
    return dphi / kTwoPi;
}

// Twiss parameters of one plane through a 2x2 block. Dividing by the determinant keeps beta consistent
// with the emittance an accelerating element shrinks. Without withPhase the phase is left as it is.
template <bool withPhase = true>
inline void carryPlane(double r11, double r12, double r21, double r22, double& beta, double& alpha,
                       double& gamma, double& phi)
{
    const double det = r11 * r22 - r12 * r21;
    const double beta1 = (r11 * r11 * beta - 2 * r11 * r12 * alpha + r12 * r12 * gamma) / det;
    const double alpha1 = (-r11 * r21 * beta + (r11 * r22 + r12 * r21) * alpha - r12 * r22 * gamma) / det;
    if constexpr (withPhase)
        phi += phaseAdvance(beta, beta1, r12, beta * r11 - alpha * r12);
    beta = beta1;
    alpha = alpha1;
    gamma = (1 + alpha1 * alpha1) / beta1;
}

// carryPlane through a drift of length ds (r11 = r22 = 1, r12 = ds, r21 = 0), the same value bit for bit
// for a finite ds: the determinant 1 - ds 0 is 1, dividing by it is exact; 1 times a value is that value,
// and -0 beta + alpha is alpha for any alpha, so beta1 = beta - 2 ds alpha + ds^2 gamma and
// alpha1 = alpha - ds gamma with the products and sums taken in the order carryPlane takes them.
inline void carryDriftPlane(double ds, double& beta, double& alpha, double& gamma, double& phi)
{
    const double beta1 = beta - 2 * ds * alpha + ds * ds * gamma;
    const double alpha1 = alpha - ds * gamma;
    phi += phaseAdvance(beta, beta1, ds, beta - alpha * ds);
    beta = beta1;
    alpha = alpha1;
    gamma = (1 + alpha1 * alpha1) / beta1;
}

void carryFunctions(const double (&r)[6][6], LatticeFunctions& lf, Mode mode)
{
    if (mode == Mode::Trajectory) {
        const double x = r[kX][kX] * lf.x + r[kX][kXp] * lf.xp + r[kX][kDelta] * lf.delta;
        const double xp = r[kXp][kX] * lf.x + r[kXp][kXp] * lf.xp + r[kXp][kDelta] * lf.delta;
        const double y = r[kY][kY] * lf.y + r[kY][kYp] * lf.yp;
        const double yp = r[kYp][kY] * lf.y + r[kYp][kYp] * lf.yp;
        const double d = r[kX][kX] * lf.d + r[kX][kXp] * lf.dp + r[kX][kDelta];
        const double dp = r[kXp][kX] * lf.d + r[kXp][kXp] * lf.dp + r[kXp][kDelta];
        lf.x = x;
        lf.xp = xp;
        lf.y = y;
        lf.yp = yp;
        lf.d = d;
        lf.dp = dp;
        return;
    }
    carryPlane(r[kX][kX], r[kX][kXp], r[kXp][kX], r[kXp][kXp], lf.betaX, lf.alphaX, lf.gammaX, lf.phiX);
    carryPlane(r[kY][kY], r[kY][kYp], r[kYp][kY], r[kYp][kYp], lf.betaY, lf.alphaY, lf.gammaY, lf.phiY);
    const double eta = r[kX][kX] * lf.eta + r[kX][kXp] * lf.etaP + r[kX][kDelta];
    const double etaP = r[kXp][kX] * lf.eta + r[kXp][kXp] * lf.etaP + r[kXp][kDelta];
    lf.eta = eta;
    lf.etaP = etaP;
}

// carryFunctions of the lattice functions through the kept entries of a slice matrix: the same products
void carrySlice(const SliceMatrix& r, LatticeFunctions& lf)
{
    carryPlane(r.xx, r.xxp, r.xpx, r.xpxp, lf.betaX, lf.alphaX, lf.gammaX, lf.phiX);
    carryPlane(r.yy, r.yyp, r.ypy, r.ypyp, lf.betaY, lf.alphaY, lf.gammaY, lf.phiY);
    const double eta = r.xx * lf.eta + r.xxp * lf.etaP + r.xd;
    const double etaP = r.xpx * lf.eta + r.xpxp * lf.etaP + r.xpd;
    lf.eta = eta;
    lf.etaP = etaP;
}

SliceMatrix sliceOf(const double (&r)[6][6])
{
    return {r[kX][kX],  r[kX][kXp], r[kXp][kX],  r[kXp][kXp],   r[kY][kY],
            r[kY][kYp], r[kYp][kY], r[kYp][kYp], r[kX][kDelta], r[kXp][kDelta]};
}

// carryFunctions for a drift of length ds, without building its matrix: the same products, term for term,
// as the drift matrix gives (1 times a value and adding 0 are exact)
void carryDrift(double ds, LatticeFunctions& lf, Mode mode)
{
    if (mode == Mode::Trajectory) {
        lf.x += ds * lf.xp;
        lf.y += ds * lf.yp;
        lf.d += ds * lf.dp;
        return;
    }
    carryDriftPlane(ds, lf.betaX, lf.alphaX, lf.gammaX, lf.phiX);
    carryDriftPlane(ds, lf.betaY, lf.alphaY, lf.gammaY, lf.phiY);
    lf.eta += ds * lf.etaP;
}

// Elements whose linear optics is a drift of their length, whatever their other fields: a pass takes them
// without building their matrix. A field outside its kind (a curvature on a drift from an old file) still
// gets its faces where the generic path gives them, so the caller checks for curvature too.
bool driftOptics(int elementCode, double curvature)
{
    switch (elementCode) {
    case code::kDrift:
    case code::kSextupoleF:
    case code::kSextupoleD:
    case code::kSextupoleSpecial:
    case code::kPump:
    case code::kOctupole:
    case code::kHorizontalKicker:
    case code::kVerticalKicker:
    case code::kKicker:
    case code::kMarker:
    case code::kHorizontalMonitor:
    case code::kVerticalMonitor:
    case code::kMonitor:
    case code::kRfCavity:
        return curvature == 0;
    default:
        return false;
    }
}

bool driftOptics(const LatticeElement& e)
{
    return driftOptics(e.code, e.curvature);
}

// M <- D(length) M for the block form of the total matrix: rows x and y gain length times rows x', y'.
void driftTotal(TransferMatrix& t, double length)
{
    auto& m = t.m;
    m[kX][kX] += length * m[kXp][kX];
    m[kX][kXp] += length * m[kXp][kXp];
    m[kX][kDelta] += length * m[kXp][kDelta];
    m[kY][kY] += length * m[kYp][kY];
    m[kY][kYp] += length * m[kYp][kYp];
}

} // namespace

void startFunctions(const RunSettings& run, LatticeFunctions& lf)
{
    lf.betaX = run.betaX0;
    lf.alphaX = run.alphaX0;
    lf.gammaX = run.gammaX0;
    lf.betaY = run.betaY0;
    lf.alphaY = run.alphaY0;
    lf.gammaY = run.gammaY0;
    lf.eta = run.etaX0;
    lf.etaP = run.etaPX0;
    lf.phiX = 0;
    lf.phiY = 0;
    lf.epsX = run.epsXIn;
    lf.epsY = run.epsYIn;
    lf.delta = run.delta;
}

namespace {

void startTrajectory(const RunSettings& run, LatticeFunctions& lf)
{
    lf.x = run.x0;
    lf.xp = run.xp0;
    lf.y = run.y0;
    lf.yp = run.yp0;
    lf.d = run.d0;
    lf.dp = run.dp0;
    lf.epsX = run.epsXIn;
    lf.epsY = run.epsYIn;
    lf.delta = run.delta;
}

void plotPoint(PlotSink* plot, const LatticeFunctions& lf, double s)
{
    if (plot != nullptr)
        plot->point(s, lf);
}

bool hasEdges(int elementCode)
{
    return elementCode == code::kRectangularBend || elementCode == code::kWedgeBend;
}

// Slices of element i in the beam-line pass; 0 for an electrostatic accelerator without a gap.
int lineSliceCount(State& state, Messages& messages, const LatticeElement& e)
{
    RunSettings& run = state.run;
    if (run.maxSteps <= 0)
        run.maxSteps = 20;
    int n = run.maxSteps;
    // a thin multipole kicks once, at the centre of whatever length it has
    if (run.stepAtElementEnds || e.code == code::kEinzelLens || e.code == code::kThinMultipole) {
        n = 1;
    } else {
        const double q = e.length / run.maxStep;
        if (q < run.maxSteps)
            n = std::max(1, q > 0 ? static_cast<int>(q) : 0);
        n = std::min(n, state.line.sliceCap());
    }
    if (e.code == code::kElectrostatic) {
        const double gaps = std::nearbyint(e.electrodes) - 1;
        if (gaps > 10000) {
            messages.error(fmt("%8.3f", e.electrodes) +
                           " electrodes! reduce! Number of electrodes set to 10!");
            return 9;
        }
        return gaps >= 1 ? static_cast<int>(gaps) : 0;
    }
    return n;
}

} // namespace

int lineSteps(State& state, Messages& messages, int i)
{
    return lineSliceCount(state, messages, state.line.at(i));
}

namespace {

// uncoupledOpticsRefusal for element i, after its text; the elements without any of the fields it looks
// at (every element of the first kinds) are passed over without building its answer.
__attribute__((noinline)) bool refusalOf(const LatticeElement& e, int i, Messages& messages)
{
    const std::optional<std::string> refusal = uncoupledOpticsRefusal(e, i);
    if (refusal)
        messages.error(*refusal);
    return refusal.has_value();
}

inline bool elementRefused(const LatticeElement& e, int i, Messages& messages)
{
    const bool fieldsSet = e.hkick != 0 || e.vkick != 0 || e.k1s != 0 || e.ks != 0 || e.tilt != 0 ||
                           !e.knl.empty() || !e.ksl.empty();
    return fieldsSet && refusalOf(e, i, messages);
}

} // namespace

bool opticsRefused(const BeamLine& line, Messages& messages)
{
    for (int i = 1; i <= line.count; ++i)
        if (elementRefused(line.at(i), i, messages))
            return true;
    return false;
}

int periodicSteps(const RunSettings& run, const LatticeElement& e, int cap)
{
    if (run.stepAtElementEnds || e.code == code::kThinMultipole)
        return 1;
    const double q = e.length / (1 + run.maxStep);
    // more slices than the cap is a broken length or step setting, not a request
    if (!(q < cap))
        return cap;
    return q > 0 ? std::min(static_cast<int>(q) + 1, cap) : 1;
}

void propagateFunctions(State& state, Messages& messages, bool recompute, int i, double sliceLength)
{
    if (recompute)
        elementMatrix(state, messages, i, sliceLength);
    carryFunctions(state.matrix.r, state.lf, activeMode(state.run));
}

void edgeStep(State& state, double h, double psi, double gap)
{
    // a face without curvature is the identity and changes nothing
    if (h == 0)
        return;
    edgeMatrix(state.matrix, h, psi, gap);
    // nor does a face of no angle in a magnet without gap
    if (state.matrix.r[kXp][kX] == 0 && state.matrix.r[kYp][kY] == 0)
        return;
    carryFunctions(state.matrix.r, state.lf, activeMode(state.run));
    addEdgeToTotal(state.matrix);
}

void edgeStep(State& state, Messages& /*messages*/, int i, double psi)
{
    const LatticeElement& e = state.line.at(i);
    edgeStep(state, e.curvature, psi, e.gap);
}

namespace {

// The linac, the einzel lens and the electrostatic gap change the particle's energy: a pass over them
// cannot be kept, as their matrices depend on the energy each pass brings.
bool changesEnergy(int elementCode)
{
    return elementCode == code::kLinac || elementCode == code::kEinzelLens ||
           elementCode == code::kElectrostatic;
}

} // namespace

ElementOptics elementOptics(const LatticeElement& e, int slices)
{
    ElementOptics o;
    o.code = e.code;
    o.slices = slices;
    o.length = e.length;
    o.curvature = e.curvature;
    o.ain = e.ain;
    o.aout = e.aout;
    o.gap = e.gap;
    o.k = e.k;
    o.q = e.knl.size() > 1 ? e.knl[1] : 0;
    o.k2l = e.knl.size() > 2 ? e.knl[2] : 0;
    o.m = e.m;
    return o;
}

namespace {

// The state's ring pass, its own: one a copy of the state still shares is left to the copy.
RingPass& ownRingPass(State& state)
{
    if (!state.ringPass || state.ringPass.use_count() > 1)
        state.ringPass = std::make_shared<RingPass>();
    return *state.ringPass;
}

void forgetTotal(RingPass& pass)
{
    pass.totalKnown = false;
    pass.solved = false;
    pass.stampKnown = false;
    pass.traced = false;
}

// The sweep of totalMatrix over a line whose elements the ring pass holds: the refusals and the pole
// faces' changes of the running values as the sweep makes them, and the total matrix from the pass. False,
// with the state as it was, at the first element that differs from the pass's.
bool keptTotal(State& state, Messages& messages, RingPass& pass, bool& refused)
{
    const BeamLine& line = state.line;
    const int cap = line.sliceCap();
    const LatticeFunctions lf = state.lf;
    const TransferMatrix matrix = state.matrix;
    for (int i = 1; i <= line.count; ++i) {
        prefetchElement(line, i + kPrefetchAhead);
        const LatticeElement& e = line.at(i);
        refused = elementRefused(e, i, messages);
        ElementOptics& kept = pass.elements[static_cast<std::size_t>(i - 1)];
        if (refused || !kept.sameOptics(elementOptics(e, periodicSteps(state.run, e, cap)))) {
            state.lf = lf;
            state.matrix = matrix;
            return false;
        }
        kept.m = e.m;
        // the slices between the faces change only M, which the pass has
        if (!driftOptics(e) && e.code != code::kSectorBend) {
            edgeStep(state, messages, i, e.ain);
            edgeStep(state, messages, i, e.aout);
        }
    }
    state.matrix = pass.afterTotal;
    return true;
}

// The total matrix of one period; false, after the refusal, at the first element the optics refuse, with
// what the elements before it changed (the matrices, and the particle's energy in accelerating elements)
// put back. The refusal is tested in this sweep, so that a long line is read once. The elements, their
// slice matrices and the result go into the state's ring pass; a line that is the pass's already takes
// the total matrix from there.
bool totalMatrix(State& state, Messages& messages)
{
    const TransferMatrix matrix = state.matrix;
    const BeamParameters beam = state.beam;
    const LatticeFunctions lf = state.lf;
    RingPass& pass = ownRingPass(state);
    const BeamLine& line = state.line;
    RunSettings& run = state.run;
    if (pass.totalKnown && pass.elements.size() == static_cast<std::size_t>(line.count)) {
        bool refused = false;
        if (keptTotal(state, messages, pass, refused)) {
            pass.stepAtElementEnds = run.stepAtElementEnds;
            pass.maxStep = run.maxStep;
            return true;
        }
        if (refused) {
            forgetTotal(pass);
            return false;
        }
    }
    forgetTotal(pass);
    pass.elements.resize(static_cast<std::size_t>(line.count));
    pass.matrices.clear();
    pass.sextupoles.clear();
    bool kept = true;
    const int cap = line.sliceCap();
    resetTotal(state.matrix);
    for (int i = 1; i <= line.count; ++i) {
        prefetchElement(line, i + kPrefetchAhead);
        const LatticeElement& e = line.at(i);
        if (elementRefused(e, i, messages)) {
            state.matrix = matrix;
            state.beam = beam;
            state.lf = lf;
            return false;
        }
        const int n = periodicSteps(run, e, cap);
        pass.elements[static_cast<std::size_t>(i - 1)] = elementOptics(e, n);
        if (familyOf(e.code) == static_cast<int>(Family::Sextupole) || e.code == code::kThinMultipole)
            pass.sextupoles.push_back(i);
        const double ds = e.length / n;
        if (driftOptics(e)) {
            for (int j = 0; j < n; ++j)
                driftTotal(state.matrix, ds);
            continue;
        }
        kept = kept && !changesEnergy(e.code);
        const bool faces = e.code != code::kSectorBend;
        if (faces)
            edgeStep(state, messages, i, e.ain);
        for (int j = 0; j < n; ++j) {
            elementMatrix(state, messages, i, ds);
            multiplyTotal(state.matrix);
            // the slices of an element that keeps the energy share one matrix
            if (j == 0)
                pass.matrices.push_back(sliceOf(state.matrix.r));
        }
        if (faces)
            edgeStep(state, messages, i, e.aout);
    }
    pass.totalKnown = kept;
    pass.afterTotal = state.matrix;
    pass.stepAtElementEnds = run.stepAtElementEnds;
    pass.maxStep = run.maxStep;
    return true;
}

// The ring pass of state vouched for by stamp, the latticeStamp of the design now: its total matrix is
// the one a sweep would give, with the same settings, and the sweep's changes of the running values are
// undone by the start of the pass (a sweep in the trajectory mode changes other values).
RingPass* stampedPass(const State& state, std::uint64_t stamp)
{
    RingPass* pass = state.ringPass.get();
    if (pass == nullptr || state.ringPass.use_count() > 1 || !pass->totalKnown || !pass->solved ||
        !pass->stampKnown || pass->stamp != stamp ||
        pass->elements.size() != static_cast<std::size_t>(state.line.count))
        return nullptr;
    const RunSettings& run = state.run;
    if (pass->stepAtElementEnds != run.stepAtElementEnds || !sameValue(pass->maxStep, run.maxStep) ||
        activeMode(run) == Mode::Trajectory)
        return nullptr;
    return pass;
}

struct Twiss
{
    double beta, alpha, gamma;
};

// Periodic Twiss parameters of a stable 2x2 block (half trace inside (-1, 1)).
Twiss periodicTwiss(double m11, double m12, double m22)
{
    double mu = std::acos((m11 + m22) / 2);
    if (m12 < 0)
        mu = kTwoPi - mu;
    const double sinMu = std::sin(mu);
    const double beta = m12 / sinMu;
    const double alpha = (m11 - std::cos(mu)) / sinMu;
    return {beta, alpha, (1 + alpha * alpha) / beta};
}

// The periodic solution of the same cell comes out a few units of the last digit apart from one pass to
// the next when the step (and with it the slicing of the transfer matrix) differs. Start values stored
// with the design are kept when the new solution is the same to that noise, so that looking at a ring
// never changes what its file holds.
constexpr double kSolutionNoise = 1e-12;

// a and b agree to the noise, relative to scale (a length in m for the betas, 1 for alphas and the
// dispersion, whose values pass through zero)
bool withinNoise(double a, double b, double scale)
{
    return std::fabs(a - b) <= kSolutionNoise * std::max({scale, std::fabs(a), std::fabs(b)});
}

void keepUnlessMoved(const Twiss& computed, double& beta, double& alpha, double& gamma)
{
    if (withinNoise(beta, computed.beta, 1) && withinNoise(alpha, computed.alpha, 1) &&
        withinNoise(gamma, computed.gamma, 1))
        return;
    beta = computed.beta;
    alpha = computed.alpha;
    gamma = computed.gamma;
}

bool solveTotal(State& state, Messages& messages);

// The periodic solution; refused, with nothing changed, when the optics refuse the line. With stamp, the
// latticeStamp of the design, a ring pass of the same design gives the total matrix without a sweep.
bool solvePeriodic(State& state, Messages& messages, bool& refused, const std::uint64_t* stamp = nullptr)
{
    if (stamp != nullptr) {
        if (RingPass* pass = stampedPass(state, *stamp)) {
            refused = false;
            state.matrix = pass->afterTotal;
            return solveTotal(state, messages);
        }
    }
    refused = !totalMatrix(state, messages);
    if (refused)
        return false;
    const bool solved = solveTotal(state, messages);
    RingPass& pass = *state.ringPass;
    pass.solved = solved && pass.totalKnown;
    if (stamp != nullptr && pass.totalKnown) {
        pass.stamp = *stamp;
        pass.stampKnown = true;
    }
    return solved;
}

// The periodic solution from the total matrix in state.matrix.m.
bool solveTotal(State& state, Messages& messages)
{
    const double(&m)[6][6] = state.matrix.m;
    RunSettings& run = state.run;

    // Stability from the half trace: M[x][x] alone differs from it unless the cell starts at a
    // symmetry point.
    const double halfTraceX = (m[kX][kX] + m[kXp][kXp]) / 2;
    const double halfTraceY = (m[kY][kY] + m[kYp][kYp]) / 2;
    run.periodicStable = std::fabs(halfTraceX) < 1 && std::fabs(halfTraceY) < 1;
    if (!run.periodicStable) {
        messages.error("no periodic solution for at least one beta-function!");
    } else {
        const Twiss x = periodicTwiss(m[kX][kX], m[kX][kXp], m[kXp][kXp]);
        const Twiss y = periodicTwiss(m[kY][kY], m[kY][kYp], m[kYp][kYp]);
        keepUnlessMoved(x, run.betaX0, run.alphaX0, run.gammaX0);
        keepUnlessMoved(y, run.betaY0, run.alphaY0, run.gammaY0);
    }

    // periodic dispersion: (1 - M) (eta, eta') = (M16, M26)
    const double denominator = (1 - m[kXp][kXp]) * (1 - m[kX][kX]) - m[kX][kXp] * m[kXp][kX];
    if (m[kX][kX] == 1 || denominator == 0) {
        messages.error("no solution for eta-function! ");
        run.etaX0 = 0;
        run.etaPX0 = 0;
        return false;
    }
    const double etaP = (m[kXp][kX] * m[kX][kDelta] + (1 - m[kX][kX]) * m[kXp][kDelta]) / denominator;
    const double eta = (m[kX][kXp] * etaP + m[kX][kDelta]) / (1 - m[kX][kX]);
    if (!withinNoise(run.etaX0, eta, 1) || !withinNoise(run.etaPX0, etaP, 1)) {
        run.etaX0 = eta;
        run.etaPX0 = etaP;
    }
    // the window shows the lattice functions from now on; the graph modes exclude each other
    run.showBetaFunctions = true;
    run.showBeamSize = false;
    run.showTrajectory = false;
    run.periodicAvailable = true;
    return true;
}

bool startRing(State& state, Messages& messages, ListSink* list, bool& refused,
               const std::uint64_t* stamp = nullptr)
{
    const bool solved = solvePeriodic(state, messages, refused, stamp);
    if (refused)
        return false;
    state.lf.s = 0;
    if (!solved)
        return false;
    startFunctions(state.run, state.lf);
    if (list != nullptr) {
        list->begin(PassKind::Ring);
        list->row(0, 0, state.lf);
    }
    return true;
}

std::array<double, 8> startKey(const RunSettings& run)
{
    return {run.betaX0,  run.alphaX0, run.gammaX0, run.betaY0,
            run.alphaY0, run.gammaY0, run.etaX0,   run.etaPX0};
}

// ringTrace of every element of the pass's line, step for step the same products, from its slice matrices
// and with the lattice functions at each entrance kept; R is left as the last matrix ringTrace makes.
void tracePass(State& state, Messages& messages, RingPass& pass)
{
    LatticeFunctions& lf = state.lf;
    const Mode mode = activeMode(state.run);
    const std::size_t count = pass.elements.size();
    pass.entry.resize(count);
    std::size_t next = 0;
    int lastMagnet = 0;      // the last element ringTrace makes a matrix of
    bool lastIsFace = false; // and whether that is its exit face
    for (std::size_t i = 0; i < count; ++i) {
        const ElementOptics& o = pass.elements[i];
        pass.entry[i] = {lf.betaX, lf.alphaX, lf.gammaX, lf.betaY, lf.alphaY, lf.gammaY, lf.eta, lf.etaP};
        const double ds = o.length / o.slices;
        if (driftOptics(o.code, o.curvature)) {
            for (int j = 0; j < o.slices; ++j) {
                lf.s += ds;
                carryDrift(ds, lf, mode);
            }
            continue;
        }
        const bool faces = hasEdges(o.code);
        if (faces)
            edgeStep(state, o.curvature, o.ain, o.gap);
        const SliceMatrix& r = pass.matrices[next++];
        for (int j = 0; j < o.slices; ++j) {
            lf.s += ds;
            carrySlice(r, lf);
        }
        if (faces)
            edgeStep(state, o.curvature, o.aout, o.gap);
        lastMagnet = static_cast<int>(i) + 1;
        lastIsFace = faces && o.curvature != 0;
    }
    if (lastMagnet > 0 && !lastIsFace) {
        const ElementOptics& o = pass.elements[static_cast<std::size_t>(lastMagnet - 1)];
        elementMatrix(state, messages, lastMagnet, o.length / o.slices);
    }
    pass.traced = true;
    pass.start = startKey(state.run);
    pass.end = lf;
    pass.afterTrace = state.matrix;
}

} // namespace

const RingPass* keptRingPass(State& state, Messages& messages, bool& refused, bool& started,
                             const std::uint64_t* stamp)
{
    started = startRing(state, messages, nullptr, refused, stamp);
    RingPass* pass = state.ringPass.get();
    if (!started || pass == nullptr || !pass->totalKnown || !pass->solved)
        return nullptr;
    const std::array<double, 8> key = startKey(state.run);
    const bool sameStart = std::equal(key.begin(), key.end(), pass->start.begin(),
                                      [](double a, double b) { return sameValue(a, b); });
    if (!pass->traced || !sameStart) {
        const LatticeFunctions lf = state.lf;
        const TransferMatrix matrix = state.matrix;
        tracePass(state, messages, *pass);
        state.lf = lf;
        state.matrix = matrix;
    }
    return pass;
}

void finishRingPass(State& state, const RingPass& pass)
{
    LatticeFunctions& lf = state.lf;
    const LatticeFunctions& end = pass.end;
    lf.betaX = end.betaX;
    lf.alphaX = end.alphaX;
    lf.gammaX = end.gammaX;
    lf.betaY = end.betaY;
    lf.alphaY = end.alphaY;
    lf.gammaY = end.gammaY;
    lf.phiX = end.phiX;
    lf.phiY = end.phiY;
    lf.eta = end.eta;
    lf.etaP = end.etaP;
    lf.s = end.s;
    state.matrix = pass.afterTrace;
}

bool ringPassOf(const State& state, std::uint64_t stamp)
{
    const RingPass* pass = stampedPass(state, stamp);
    return pass != nullptr && pass->traced;
}

void driftFunctions(double length, LatticeFunctions& lf)
{
    carryPlane<false>(1, length, 0, 1, lf.betaX, lf.alphaX, lf.gammaX, lf.phiX);
    carryPlane<false>(1, length, 0, 1, lf.betaY, lf.alphaY, lf.gammaY, lf.phiY);
    lf.eta += length * lf.etaP;
}

bool periodicSolution(State& state, Messages& messages)
{
    bool refused = false;
    return solvePeriodic(state, messages, refused);
}

void linePass(State& state, Messages& messages, PlotSink* plot, ListSink* list)
{
    if (!opticsRefused(state.line, messages))
        acceptedLinePass(state, messages, plot, list);
}

namespace {

// The slice matrices of the sector bends and quadrupoles a line pass has made, found again for the next
// magnet of the same strength and slice: a long line has few different ones.
class LineSlices
{
public:
    const SliceMatrix* find(int family, double h, double k, double ds) const
    {
        const Key key = keyOf(family, h, k, ds);
        for (std::size_t j = 0; j < m_count; ++j)
            if (m_entries[j].key == key)
                return &m_entries[j].r;
        return nullptr;
    }
    const SliceMatrix& keep(int family, double h, double k, double ds, const SliceMatrix& r)
    {
        Entry& e = m_entries[m_next];
        m_next = (m_next + 1) % m_entries.size();
        m_count = std::max(m_count, m_next == 0 ? m_entries.size() : m_next);
        e.key = keyOf(family, h, k, ds);
        e.r = r;
        return e.r;
    }

private:
    using Key = std::array<std::uint64_t, 4>;
    struct Entry
    {
        Key key{};
        SliceMatrix r;
    };
    static Key keyOf(int family, double h, double k, double ds)
    {
        Key key{static_cast<std::uint64_t>(family), 0, 0, 0};
        std::memcpy(&key[1], &h, sizeof h);
        std::memcpy(&key[2], &k, sizeof k);
        std::memcpy(&key[3], &ds, sizeof ds);
        return key;
    }
    std::array<Entry, 8> m_entries{};
    std::size_t m_count = 0;
    std::size_t m_next = 0;
};

} // namespace

void acceptedLinePass(State& state, Messages& messages, PlotSink* plot, ListSink* list)
{
    updateKinematics(state.beam, EnergyKind::Momentum, state.beam.referenceMomentum);
    RunSettings& run = state.run;
    LatticeFunctions& lf = state.lf;
    const Mode mode = activeMode(run);
    if (mode == Mode::Trajectory)
        startTrajectory(run, lf);
    else
        startFunctions(run, lf);
    if (run.maxSteps <= 0)
        run.maxSteps = 20;

    if (list != nullptr) {
        list->begin(PassKind::Line);
        list->row(0, 0, lf);
    }
    double s = 0;
    plotPoint(plot, lf, s);

    // the elements whose optics is a drift are carried without their matrix (carryDrift), the trajectory
    // through one drift matrix of which only the two lengths change: the same products as their own
    // matrices give; R is left as the last matrix the elements make, a drift's included
    TransferMatrix drift;
    driftMatrix(drift, 0);
    bool endsInDrift = false;
    // the sector bends and quadrupoles go through the kept entries of their slice matrix, made once for
    // each strength and slice (carrySlice: the same products); R is made for the last one at the end
    LineSlices slices;
    int lastMagnet = 0;
    double lastSlice = 0;
    for (int i = 1; i <= state.line.count; ++i) {
        prefetchElement(state.line, i + kPrefetchAhead);
        const LatticeElement& e = state.line.at(i);
        endsInDrift = driftOptics(e);
        lastMagnet = 0;
        if (endsInDrift) {
            const int n = lineSliceCount(state, messages, e);
            const double ds = e.length / n;
            drift.r[kX][kXp] = ds;
            drift.r[kY][kYp] = ds;
            for (int j = 0; j < n; ++j) {
                s += ds;
                if (mode == Mode::Trajectory)
                    carryFunctions(drift.r, lf, mode);
                else
                    carryDrift(ds, lf, mode);
                plotPoint(plot, lf, s);
            }
            if (list != nullptr)
                list->row(i, s, lf);
            continue;
        }
        const bool faces = hasEdges(e.code);
        const int family = familyOf(e.code);
        if (!faces && mode != Mode::Trajectory &&
            (family == static_cast<int>(Family::Bend) || family == static_cast<int>(Family::Quadrupole))) {
            const int n = lineSliceCount(state, messages, e);
            const double ds = e.length / n;
            const double h = family == static_cast<int>(Family::Bend) ? e.curvature : 0;
            const SliceMatrix* r = slices.find(family, h, e.k, ds);
            if (r == nullptr) {
                elementMatrix(state, messages, i, ds);
                r = &slices.keep(family, h, e.k, ds, sliceOf(state.matrix.r));
            } else {
                lastMagnet = i;
                lastSlice = ds;
            }
            for (int j = 0; j < n; ++j) {
                s += ds;
                carrySlice(*r, lf);
                plotPoint(plot, lf, s);
            }
            if (list != nullptr)
                list->row(i, s, lf);
            continue;
        }
        if (faces) {
            edgeStep(state, messages, i, e.ain);
            plotPoint(plot, lf, s);
        }
        const int n = lineSliceCount(state, messages, e);
        if (n == 0) {
            // an accelerator with fewer than two electrodes has no gap: its length is a drift
            s += e.length;
            driftMatrix(state.matrix, e.length);
            carryFunctions(state.matrix.r, lf, mode);
            plotPoint(plot, lf, s);
        } else {
            const double ds = e.length / n;
            // the slices of an element share one matrix, except where the particle's energy changes
            // from slice to slice (linac sections, electrostatic gaps)
            const bool sameSlices = e.code != code::kLinac && e.code != code::kElectrostatic;
            for (int j = 0; j < n; ++j) {
                s += ds;
                if (j == 0 || !sameSlices)
                    elementMatrix(state, messages, i, ds);
                carryFunctions(state.matrix.r, lf, mode);
                plotPoint(plot, lf, s);
            }
        }
        if (faces) {
            edgeStep(state, messages, i, e.aout);
            plotPoint(plot, lf, s);
        }
        if (list != nullptr)
            list->row(i, s, lf);
    }
    if (endsInDrift)
        std::memcpy(state.matrix.r, drift.r, sizeof drift.r);
    if (lastMagnet > 0)
        elementMatrix(state, messages, lastMagnet, lastSlice);
    lf.s = s;
}

bool ringStart(State& state, Messages& messages, ListSink* list)
{
    bool refused = false;
    return startRing(state, messages, list, refused);
}

bool ringStart(State& state, Messages& messages, ListSink* list, bool& refused)
{
    return startRing(state, messages, list, refused);
}

void ringTrace(State& state, Messages& messages, int i, ListSink* list)
{
    prefetchElement(state.line, i + kPrefetchAhead);
    const LatticeElement& e = state.line.at(i);
    const int n = periodicSteps(state.run, e, state.line.sliceCap());
    const double ds = e.length / n;
    const Mode mode = activeMode(state.run);
    LatticeFunctions& lf = state.lf;
    if (driftOptics(e)) {
        for (int j = 0; j < n; ++j) {
            lf.s += ds;
            carryDrift(ds, lf, mode);
            if (list != nullptr)
                list->row(i, lf.s, lf);
        }
        return;
    }
    const bool faces = hasEdges(e.code);
    if (faces)
        edgeStep(state, messages, i, e.ain);
    for (int j = 0; j < n; ++j) {
        lf.s += ds;
        elementMatrix(state, messages, i, ds);
        carryFunctions(state.matrix.r, lf, mode);
        if (list != nullptr)
            list->row(i, lf.s, lf);
    }
    if (faces)
        edgeStep(state, messages, i, e.aout);
}

bool betaFunctions(State& state, Messages& messages, ListSink* list)
{
    // the ring pass's start solves for the periodic functions; a refused line has its own message, not
    // the one of a missing solution
    bool refused = false;
    bool started = false;
    // without a list the pass is the kept one, made once for the design and its settings
    const RingPass* pass = nullptr;
    if (list == nullptr)
        pass = keptRingPass(state, messages, refused, started);
    else
        started = startRing(state, messages, list, refused);
    if (!started) {
        if (refused)
            return false;
        messages.error("define desired solution: \rsymmetric solution or trace with beta_o etc.");
        return false;
    }
    if (pass != nullptr) {
        finishRingPass(state, *pass);
    } else {
        for (int i = 1; i <= state.line.count; ++i)
            ringTrace(state, messages, i, list);
    }
    const double superPeriods = state.line.superPeriods;
    state.lf.tuneX = superPeriods * state.lf.phiX;
    state.lf.tuneY = superPeriods * state.lf.phiY;
    if (list != nullptr)
        list->ringTunes(state.lf.tuneX, state.lf.tuneY);
    return true;
}

} // namespace kestrune
