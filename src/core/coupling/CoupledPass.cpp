#include "core/coupling/CoupledPass.h"

#include "core/Format.h"
#include "core/Kinematics.h"
#include "core/coupling/CoupledOptics.h"
#include "core/coupling/CoupledStart.h"
#include "core/optics/BetaFunctions.h"
#include "core/optics/Prefetch.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <optional>

namespace kestrune {

namespace {

using Complex = std::complex<double>;

// A mode's eigenvector on (x, px, y, py), normalised to v^H S v = 2i.
struct PassMode
{
    Complex v[4];
};

// The modes of the start values (CoupledStart: Edwards-Teng's form with the start coupling R).
struct ModeStart
{
    PassMode mode1, mode2;
};

std::optional<ModeStart> startModes(const RunSettings& run, std::string& refusal)
{
    if (!(run.betaX0 > 0) || !(run.betaY0 > 0)) {
        refusal = "select valid betatron functions!";
        return std::nullopt;
    }
    EdwardsTeng et;
    et.betaX = run.betaX0;
    et.alphaX = run.alphaX0;
    et.betaY = run.betaY0;
    et.alphaY = run.alphaY0;
    et.r11 = run.r11;
    et.r12 = run.r12;
    et.r21 = run.r21;
    et.r22 = run.r22;
    const std::optional<ModePair> modes = edwardsTengModes(et);
    if (!modes) {
        refusal = "the start coupling matrix R has det R <= -1: no Edwards-Teng modes";
        return std::nullopt;
    }
    ModeStart m;
    std::copy((*modes)[0].begin(), (*modes)[0].end(), m.mode1.v);
    std::copy((*modes)[1].begin(), (*modes)[1].end(), m.mode2.v);
    return m;
}

PassMode carried(const Map5& t, const PassMode& a)
{
    PassMode b;
    for (int i = 0; i < 4; ++i) {
        b.v[i] = 0;
        for (int j = 0; j < 4; ++j)
            b.v[i] += t[static_cast<std::size_t>(i)][static_cast<std::size_t>(j)] * a.v[j];
    }
    return b;
}

// beta, alpha of the plane part (q, p) of a mode whose invariant there is g2 = Im(conj(q) p).
void planeFunctions(Complex q, Complex p, double g2, double& beta, double& alpha)
{
    beta = std::norm(q) / g2;
    alpha = -std::real(std::conj(q) * p) / g2;
}

// The functions of the pass at one place from the modes, into lf; false where the modes cannot be told
// apart (the x part of mode 1 or the y part of mode 2 carries no invariant).
bool sample(const RunSettings& run, const PassMode& m1, const PassMode& m2, LatticeFunctions& lf)
{
    const double g1 = std::imag(std::conj(m1.v[0]) * m1.v[1]);
    const double g2 = std::imag(std::conj(m2.v[2]) * m2.v[3]);
    if (!(g1 > 1e-9) || !(g2 > 1e-9))
        return false;
    if (run.showBeamSize) {
        // sigma^2 = eps_1 beta_1k + eps_2 beta_2k (Mais-Ripken), in the places of eps beta of the planes
        const double e1 = lf.epsX > 0 ? lf.epsX : 0;
        const double e2 = lf.epsY > 0 ? lf.epsY : 0;
        lf.betaX = std::norm(m1.v[0]) + (e1 > 0 ? e2 / e1 : 0) * std::norm(m2.v[0]);
        lf.betaY = std::norm(m2.v[2]) + (e2 > 0 ? e1 / e2 : 0) * std::norm(m1.v[2]);
        lf.alphaX = -std::real(std::conj(m1.v[0]) * m1.v[1]);
        lf.alphaY = -std::real(std::conj(m2.v[2]) * m2.v[3]);
    } else if (run.coupledMaisRipken) {
        planeFunctions(m1.v[0], m1.v[1], 1, lf.betaX, lf.alphaX);
        planeFunctions(m2.v[2], m2.v[3], 1, lf.betaY, lf.alphaY);
    } else {
        planeFunctions(m1.v[0], m1.v[1], g1, lf.betaX, lf.alphaX);
        planeFunctions(m2.v[2], m2.v[3], g2, lf.betaY, lf.alphaY);
    }
    lf.gammaX = (1 + lf.alphaX * lf.alphaX) / lf.betaX;
    lf.gammaY = (1 + lf.alphaY * lf.alphaY) / lf.betaY;
    return std::isfinite(lf.betaX) && std::isfinite(lf.betaY) && lf.betaX > 0 && lf.betaY > 0;
}

// Phase advance of a mode through one element from its larger component, in (-1/4, 3/4] of a turn as
// the uncoupled pass counts it.
double phaseAdvance(const Complex& before, const Complex& after)
{
    double d = std::arg(after / before) / kTwoPi;
    if (d < -0.25)
        d += 1;
    return std::isfinite(d) ? d : 0.0;
}

void coupledLinePass(State& state, Messages& messages, PlotSink* plot, ListSink* list)
{
    updateKinematics(state.beam, EnergyKind::Momentum, state.beam.referenceMomentum);
    const RunSettings& run = state.run;
    LatticeFunctions& lf = state.lf;
    startFunctions(run, lf);
    const bool trajectory = run.showTrajectory && !run.showBetaFunctions && !run.showBeamSize;
    ModeStart modes;
    if (trajectory) {
        lf.x = run.x0;
        lf.xp = run.xp0;
        lf.y = run.y0;
        lf.yp = run.yp0;
        lf.d = run.d0;
        lf.dp = run.dp0;
    } else {
        std::string refusal;
        const std::optional<ModeStart> start = startModes(run, refusal);
        if (!start) {
            messages.error(refusal);
            return;
        }
        modes = *start;
        if (!sample(run, modes.mode1, modes.mode2, lf)) {
            messages.error("the transverse modes are not separable at the start");
            return;
        }
    }
    double dispersion[4] = {run.etaX0, run.etaPX0, run.etaY0, run.etaPY0};
    lf.eta = dispersion[0];
    lf.etaP = dispersion[1];
    if (list != nullptr) {
        list->begin(PassKind::Line);
        list->row(0, 0, lf);
    }
    double s = 0;
    if (plot != nullptr)
        plot->point(s, lf);
    const BeamLine& line = state.line;
    for (int i = 1; i <= line.count && i <= kMaxLineElements; ++i) {
        const LatticeElement& e = line.at(i);
        // a thick element in the slices of the uncoupled pass, so that the curves follow the functions
        // inside it: the faces with the first and the last, the list's row at its end
        const int n = e.length > 0 ? std::max(1, lineSteps(state, messages, i)) : 1;
        const double start = s;
        const Map5 whole = n == 1 ? elementMap(e) : elementSliceMap(e, e.length / n, true, false);
        const Map5 inside = n > 2 ? elementSliceMap(e, e.length / n, false, false) : whole;
        const Map5 last = n > 1 ? elementSliceMap(e, e.length / n, false, true) : whole;
        for (int j = 0; j < n; ++j) {
            const Map5& t = j == 0 ? whole : j == n - 1 ? last : inside;
            s = j == n - 1 ? start + e.length : start + e.length * (j + 1) / n;
            double next[4];
            for (std::size_t k = 0; k < 4; ++k)
                next[k] = t[k][0] * dispersion[0] + t[k][1] * dispersion[1] + t[k][2] * dispersion[2] +
                          t[k][3] * dispersion[3] + t[k][4];
            std::copy(next, next + 4, dispersion);
            lf.eta = dispersion[0];
            lf.etaP = dispersion[1];
            if (trajectory) {
                // x, x' in mm and mrad with delta as the pass takes it; the dispersion trajectory with 1
                const double q[4] = {lf.x, lf.xp, lf.y, lf.yp};
                double r[4];
                for (std::size_t k = 0; k < 4; ++k)
                    r[k] = t[k][0] * q[0] + t[k][1] * q[1] + t[k][2] * q[2] + t[k][3] * q[3] +
                           t[k][4] * lf.delta;
                lf.x = r[0];
                lf.xp = r[1];
                lf.y = r[2];
                lf.yp = r[3];
                const double d = t[0][0] * lf.d + t[0][1] * lf.dp + t[0][4];
                lf.dp = t[1][0] * lf.d + t[1][1] * lf.dp + t[1][4];
                lf.d = d;
            } else {
                const PassMode w1 = carried(t, modes.mode1);
                const PassMode w2 = carried(t, modes.mode2);
                lf.phiX += phaseAdvance(modes.mode1.v[0], w1.v[0]);
                lf.phiY += phaseAdvance(modes.mode2.v[2], w2.v[2]);
                modes.mode1 = w1;
                modes.mode2 = w2;
                if (!sample(run, w1, w2, lf)) {
                    messages.error("the transverse modes are not separable at element '" + excerpt(e.name) +
                                   "' (" + std::to_string(i) + ")");
                    return;
                }
            }
            if (plot != nullptr)
                plot->point(s, lf);
        }
        if (list != nullptr)
            list->row(i, s, lf);
    }
    lf.s = s;
}

} // namespace

bool coupledPassApplies(const BeamLine& line)
{
    return lineCouples(line) && !coupledOpticsRefusal(line);
}

bool opticsPeriodicSolution(State& state, Messages& messages)
{
    RunSettings& run = state.run;
    if (!lineCouples(state.line)) {
        const bool solved = periodicSolution(state, messages);
        if (solved) {
            run.r11 = run.r12 = run.r21 = run.r22 = 0;
            run.etaY0 = run.etaPY0 = 0;
        }
        return solved;
    }
    const CoupledRing ring = coupledRing(state);
    if (!ring.computed) {
        messages.error(ring.refusal);
        return false;
    }
    const CoupledFunctions& f = ring.functions.front();
    run.betaX0 = f.et.betaX;
    run.alphaX0 = f.et.alphaX;
    run.gammaX0 = (1 + f.et.alphaX * f.et.alphaX) / f.et.betaX;
    run.betaY0 = f.et.betaY;
    run.alphaY0 = f.et.alphaY;
    run.gammaY0 = (1 + f.et.alphaY * f.et.alphaY) / f.et.betaY;
    run.r11 = f.et.r11;
    run.r12 = f.et.r12;
    run.r21 = f.et.r21;
    run.r22 = f.et.r22;
    run.etaX0 = f.eta[0];
    run.etaPX0 = f.eta[1];
    run.etaY0 = f.eta[2];
    run.etaPY0 = f.eta[3];
    run.periodicStable = true;
    run.periodicAvailable = true;
    run.showBetaFunctions = true;
    run.showBeamSize = false;
    run.showTrajectory = false;
    return true;
}

LinePassKind opticsLinePass(State& state, Messages& messages, PlotSink* plot, ListSink* list)
{
    // one sweep over the line: whether it couples, and else the first refusal of the uncoupled optics;
    // the elements without any of the fields either looks at (every element of the first kinds) are
    // passed over at a glance
    const BeamLine& line = state.line;
    bool couples = false;
    std::optional<std::string> refusal;
    for (int i = 1; i <= line.count && i <= kMaxLineElements && !couples; ++i) {
        prefetchElement(line, i + kPrefetchAhead);
        const LatticeElement& e = line.at(i);
        if (e.hkick == 0 && e.vkick == 0 && e.k1s == 0 && e.ks == 0 && e.tilt == 0 && e.knl.empty() &&
            e.ksl.empty())
            continue;
        couples = couplesPlanes(e);
        if (!couples && !refusal)
            refusal = uncoupledOpticsRefusal(e, i);
    }
    // a start beam with coupling stays coupled through a line of uncoupled elements
    const RunSettings& run = state.run;
    const bool coupledStart =
        (run.showBetaFunctions || run.showBeamSize) &&
        (run.r11 != 0 || run.r12 != 0 || run.r21 != 0 || run.r22 != 0 || run.etaY0 != 0 || run.etaPY0 != 0);
    if (couples || (coupledStart && !refusal)) {
        refusal = coupledOpticsRefusal(line);
        if (!refusal) {
            coupledLinePass(state, messages, plot, list);
            return LinePassKind::Coupled;
        }
    }
    if (refusal) {
        messages.error(*refusal);
        return LinePassKind::Refused;
    }
    acceptedLinePass(state, messages, plot, list);
    return LinePassKind::Uncoupled;
}

std::string coupledPassTitle(const RunSettings& run)
{
    if (run.showTrajectory && !run.showBetaFunctions && !run.showBeamSize)
        return "coupled optics: the trajectory through the coupled maps";
    if (run.showBeamSize)
        return "coupled optics: beam sizes of both modes";
    return run.coupledMaisRipken ? "coupled optics: Mais-Ripken beta_11 (x) and beta_22 (y)"
                                 : "coupled optics: Edwards-Teng functions of modes 1 (x) and 2 (y)";
}

} // namespace kestrune
