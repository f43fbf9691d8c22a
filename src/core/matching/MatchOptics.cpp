#include "core/matching/MatchOptics.h"

#include "core/Kinematics.h"
#include "core/chromaticity/Chromaticity.h"
#include "core/coupling/CoupledOptics.h"
#include "core/coupling/CoupledStart.h"
#include "core/nonlinear/AmplitudeDetuning.h"
#include "core/nonlinear/ChromaticTunes.h"
#include "core/nonlinear/DrivingTerms.h"
#include "core/optics/BetaFunctions.h"
#include "core/optics/TransferMatrix.h"
#include "core/ring/Parameter.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

namespace kestrune {

namespace {

constexpr double kNone = -std::numeric_limits<double>::infinity();

/// One step of a pass: the x and y blocks and the dispersion column of a slice, taken repeat times.
struct Step
{
    double r11 = 1, r12 = 0, r21 = 0, r22 = 1; // x, x'
    double r33 = 1, r34 = 0, r43 = 0, r44 = 1; // y, y'
    double r16 = 0, r26 = 0;
    double kx = 0, ky = 0; // 1/m^2, focusing of a magnet body in each plane (beta maximum inside)
    double ds = 0;         // m, slice length
    int repeat = 1;
    bool inTrace = true; // the lattice functions go through it
    bool inTotal = true; // the total matrix of the periodic solution takes it
};

/// The steps of one pass over the line: the ring pass (its slices, and the pole faces the periodic
/// solution's total matrix takes) or the beam-line pass.
struct Pass
{
    bool ring = false;
    std::vector<Step> steps;
    std::vector<int> first; // first step of element i at first[i], i = 1..count; first[count + 1] the end
};

struct Twiss
{
    double beta = 0, alpha = 0, gamma = 0, phi = 0;
};

struct Functions
{
    Twiss x, y;
    double eta = 0, etaP = 0;
};

struct Place
{
    double betaX, alphaX, betaY, alphaY, eta, etaP, phiX, phiY;
};

bool hasEdges(int elementCode)
{
    return elementCode == code::kRectangularBend || elementCode == code::kWedgeBend;
}

bool changesEnergy(int elementCode)
{
    return elementCode == code::kLinac || elementCode == code::kElectrostatic;
}

// The program's carry of one plane (BetaFunctions): beta and alpha through the block divided by its
// determinant, the phase advance from atan2(R12, beta R11 - alpha R12) in (-1/4, 3/4] of a turn, so that
// the phases of all slices add up to the whole advance, every turn counted.
inline void carry(double r11, double r12, double r21, double r22, Twiss& t)
{
    const double det = r11 * r22 - r12 * r21;
    const double beta1 = (r11 * r11 * t.beta - 2 * r11 * r12 * t.alpha + r12 * r12 * t.gamma) / det;
    const double alpha1 =
        (-r11 * r21 * t.beta + (r11 * r22 + r12 * r21) * t.alpha - r12 * r22 * t.gamma) / det;
    double dphi = std::numeric_limits<double>::quiet_NaN();
    if (beta1 * t.beta > 0) {
        dphi = std::atan2(r12, t.beta * r11 - t.alpha * r12);
        if (dphi < -kPi / 2)
            dphi += kTwoPi;
        dphi /= kTwoPi;
    }
    t.beta = beta1;
    t.alpha = alpha1;
    t.gamma = (1 + alpha1 * alpha1) / beta1;
    t.phi += dphi;
}

void bodyFrom(const TransferMatrix& m, const LatticeElement& e, double ds, Step& step)
{
    const auto& r = m.r;
    step.r11 = r[kX][kX];
    step.r12 = r[kX][kXp];
    step.r21 = r[kXp][kX];
    step.r22 = r[kXp][kXp];
    step.r33 = r[kY][kY];
    step.r34 = r[kY][kYp];
    step.r43 = r[kYp][kY];
    step.r44 = r[kYp][kYp];
    step.r16 = r[kX][kDelta];
    step.r26 = r[kXp][kDelta];
    step.ds = ds;
    step.kx = 0;
    step.ky = 0;
    if (familyOf(e.code) == static_cast<int>(Family::Bend)) {
        step.kx = e.curvature * e.curvature + e.k;
        step.ky = -e.k;
    } else if (familyOf(e.code) == static_cast<int>(Family::Quadrupole)) {
        step.kx = e.k;
        step.ky = -e.k;
    }
}

// A thin pole face: R21 = h tan(psi), R43 from the face with its fringe field (the optics' edgeMatrix).
void faceFrom(State& work, const LatticeElement& e, double psi, Step& step)
{
    step = Step{};
    if (e.curvature == 0)
        return;
    edgeMatrix(work.matrix, e.curvature, psi, e.gap);
    step.r21 = work.matrix.r[kXp][kX];
    step.r43 = work.matrix.r[kYp][kY];
}

// Largest beta of both planes inside a step's slices, from the entrance values.
void interiorMaximum(const Step& s, const Functions& f, double& maxX, double& maxY)
{
    if (s.kx > 0)
        maxX = std::max(maxX, interiorMaxBeta(f.x.beta, f.x.alpha, f.x.gamma, s.kx, s.ds));
    if (s.ky > 0)
        maxY = std::max(maxY, interiorMaxBeta(f.y.beta, f.y.alpha, f.y.gamma, s.ky, s.ds));
}

void carryStep(const Step& s, Functions& f)
{
    carry(s.r11, s.r12, s.r21, s.r22, f.x);
    carry(s.r33, s.r34, s.r43, s.r44, f.y);
    const double eta = s.r11 * f.eta + s.r12 * f.etaP + s.r16;
    f.etaP = s.r21 * f.eta + s.r22 * f.etaP + s.r26;
    f.eta = eta;
}

struct Total
{
    double m11 = 1, m12 = 0, m21 = 0, m22 = 1, m16 = 0, m26 = 0;
    double m33 = 1, m34 = 0, m43 = 0, m44 = 1;
};

void multiply(const Step& s, Total& t)
{
    const Total o = t;
    t.m11 = s.r11 * o.m11 + s.r12 * o.m21;
    t.m12 = s.r11 * o.m12 + s.r12 * o.m22;
    t.m21 = s.r21 * o.m11 + s.r22 * o.m21;
    t.m22 = s.r21 * o.m12 + s.r22 * o.m22;
    t.m16 = s.r11 * o.m16 + s.r12 * o.m26 + s.r16;
    t.m26 = s.r21 * o.m16 + s.r22 * o.m26 + s.r26;
    t.m33 = s.r33 * o.m33 + s.r34 * o.m43;
    t.m34 = s.r33 * o.m34 + s.r34 * o.m44;
    t.m43 = s.r43 * o.m33 + s.r44 * o.m43;
    t.m44 = s.r43 * o.m34 + s.r44 * o.m44;
}

// Periodic beta, alpha of a stable block M = [[cos mu + alpha sin mu, beta sin mu], [-gamma sin mu,
// cos mu - alpha sin mu]]: cos mu the half trace, sin mu taking the sign of M12 (beta > 0).
Twiss periodicTwiss(double m11, double m12, double m22)
{
    double mu = std::acos((m11 + m22) / 2);
    if (m12 < 0)
        mu = kTwoPi - mu;
    const double sinMu = std::sin(mu);
    Twiss t;
    t.beta = m12 / sinMu;
    t.alpha = (m11 - std::cos(mu)) / sinMu;
    t.gamma = (1 + t.alpha * t.alpha) / t.beta;
    return t;
}

// The periodic solution of the cell from its total matrix, as the optics' periodicSolution finds it:
// both planes stable (|half trace| < 1), the dispersion from (1 - M) (eta, eta') = (M16, M26).
bool periodicStart(const Total& m, Functions& f)
{
    if (!(std::fabs((m.m11 + m.m22) / 2) < 1) || !(std::fabs((m.m33 + m.m44) / 2) < 1))
        return false;
    const double denominator = (1 - m.m22) * (1 - m.m11) - m.m12 * m.m21;
    if (m.m11 == 1 || denominator == 0)
        return false;
    f.x = periodicTwiss(m.m11, m.m12, m.m22);
    f.y = periodicTwiss(m.m33, m.m34, m.m44);
    f.etaP = (m.m21 * m.m16 + (1 - m.m11) * m.m26) / denominator;
    f.eta = (m.m12 * f.etaP + m.m16) / (1 - m.m11);
    return true;
}

} // namespace

double interiorMaxBeta(double beta, double alpha, double gamma, double kk, double ds)
{
    if (!(kk > 0) || !(ds > 0))
        return kNone;
    // With phi = sqrt(K) s, C = cos phi, S = sin phi / sqrt(K):
    //   beta(s) = beta C^2 - 2 alpha C S + gamma S^2 = A + B cos 2phi - D sin 2phi = A + R cos(2phi + theta)
    // with A = (beta + gamma/K)/2, B = (beta - gamma/K)/2, D = alpha/sqrt(K), R = sqrt(B^2 + D^2),
    // theta = atan2(D, B). The maximum A + R lies at 2 phi = -theta (mod 2 pi): inside the slice when that
    // phi, taken in [0, pi), is below sqrt(K) ds.
    const double sq = std::sqrt(kk);
    const double a = (beta + gamma / kk) / 2;
    const double b = (beta - gamma / kk) / 2;
    const double d = alpha / sq;
    const double r = std::hypot(b, d);
    if (r == 0)
        return kNone;
    double twoPhi = -std::atan2(d, b);
    if (twoPhi < 0)
        twoPhi += kTwoPi;
    return twoPhi / 2 < sq * ds ? a + r : kNone;
}

struct MatchOptics::Impl
{
    Impl(State& state, const MatchSetup& s) : work(state), setup(s) {}

    State& work;
    const MatchSetup& setup;
    FirstErrorMessages quiet;
    std::string problem;
    Pass ringPass;
    Pass linePass;
    std::vector<int> varied;    // elements of every variable, each once
    std::vector<int> probeSlot; // per element end 0..count: its slot in places, or -1
    std::vector<Place> places;
    Functions initial; // the line's initial values
    int passes = 0;
    Failure failure = Failure::None;
    std::string refusal;
    bool needsDetuning = false;   // a constraint on the detuning
    bool needsEigentunes = false; // a constraint on tune_1 or tune_2

    // the coupled optics: the maps and lengths of elements 1..count, and the results of the last
    // evaluation (the functions at every element end 0..count when asked at a place)
    std::vector<Map5> maps;
    std::vector<double> lengths;
    std::vector<CoupledFunctions> coupledFunctions;
    double tune1 = 0, tune2 = 0;
    CouplingCoefficient cMinus;

    // results of the last evaluation
    double maxBetaX = 0, maxBetaY = 0;
    double endPhiX = 0, endPhiY = 0; // phase advances over the whole pass, units of 2 pi

    Pass& mainPass() { return setup.definition.start == MatchStart::Periodic ? ringPass : linePass; }
    // the uncoupled passes: not in a coupled match
    bool needsRing() const
    {
        return !setup.coupled && (setup.definition.start == MatchStart::Periodic || setup.ringQuantities);
    }
    bool needsLine() const { return !setup.coupled && setup.definition.start == MatchStart::Initial; }

    int bodySlices(const Pass& pass, int i)
    {
        return pass.ring ? periodicSteps(work.run, work.line.at(i)) : lineSteps(work, quiet, i);
    }

    // The steps of element i appended to the pass, as the pass takes them: pole faces, then the body's
    // slices, then the exit face. Slices of one matrix are one step taken repeat times, except where the
    // particle's energy changes from slice to slice. Varied elements always get their faces (which may
    // be the identity), so that their steps can be computed anew in place.
    void appendElement(Pass& pass, int i, bool isVaried)
    {
        const LatticeElement& e = work.line.at(i);
        const bool faceInTrace = hasEdges(e.code);
        const bool faceInTotal = pass.ring && e.code != code::kSectorBend;
        const bool faces = (faceInTrace || faceInTotal) && (e.curvature != 0 || isVaried);
        Step face;
        face.inTrace = faceInTrace;
        face.inTotal = faceInTotal;
        if (faces) {
            faceFrom(work, e, e.ain, face);
            face.inTrace = faceInTrace;
            face.inTotal = faceInTotal;
            pass.steps.push_back(face);
        }
        const int n = bodySlices(pass, i);
        Step body;
        if (n == 0) {
            // an accelerator without a gap: a drift over its length
            driftMatrix(work.matrix, e.length);
            bodyFrom(work.matrix, e, e.length, body);
            pass.steps.push_back(body);
        } else if (changesEnergy(e.code)) {
            for (int j = 0; j < n; ++j) {
                elementMatrix(work, quiet, i, e.length / n);
                bodyFrom(work.matrix, e, e.length / n, body);
                pass.steps.push_back(body);
            }
        } else {
            elementMatrix(work, quiet, i, e.length / n);
            bodyFrom(work.matrix, e, e.length / n, body);
            body.repeat = n;
            pass.steps.push_back(body);
        }
        if (faces) {
            faceFrom(work, e, e.aout, face);
            face.inTrace = faceInTrace;
            face.inTotal = faceInTotal;
            pass.steps.push_back(face);
        }
    }

    void build(Pass& pass, bool ring)
    {
        pass.ring = ring;
        pass.steps.clear();
        pass.steps.reserve(static_cast<std::size_t>(work.line.count) + 16);
        pass.first.assign(static_cast<std::size_t>(work.line.count) + 2, 0);
        for (int i = 1; i <= work.line.count; ++i) {
            pass.first[static_cast<std::size_t>(i)] = static_cast<int>(pass.steps.size());
            appendElement(pass, i, std::binary_search(varied.begin(), varied.end(), i));
        }
        pass.first[static_cast<std::size_t>(work.line.count) + 1] = static_cast<int>(pass.steps.size());
    }

    // The steps of a varied element computed again in place from its record.
    void rebuild(Pass& pass, int i)
    {
        const LatticeElement& e = work.line.at(i);
        int k = pass.first[static_cast<std::size_t>(i)];
        const int end = pass.first[static_cast<std::size_t>(i) + 1];
        const bool faces = end - k == 3;
        auto refreshFace = [&](double psi) {
            Step& s = pass.steps[static_cast<std::size_t>(k++)];
            const bool inTrace = s.inTrace;
            const bool inTotal = s.inTotal;
            faceFrom(work, e, psi, s);
            s.inTrace = inTrace;
            s.inTotal = inTotal;
        };
        if (faces)
            refreshFace(e.ain);
        const int n = std::max(1, bodySlices(pass, i));
        Step& body = pass.steps[static_cast<std::size_t>(k++)];
        elementMatrix(work, quiet, i, e.length / n);
        bodyFrom(work.matrix, e, e.length / n, body);
        body.repeat = n;
        if (faces)
            refreshFace(e.aout);
    }

    void prepare()
    {
        for (const ResolvedVariable& v : setup.variables)
            varied.insert(varied.end(), v.elements.begin(), v.elements.end());
        std::sort(varied.begin(), varied.end());
        varied.erase(std::unique(varied.begin(), varied.end()), varied.end());

        const RunSettings& run = work.run;
        initial.x = Twiss{run.betaX0, run.alphaX0, run.gammaX0, 0};
        initial.y = Twiss{run.betaY0, run.alphaY0, run.gammaY0, 0};
        initial.eta = run.etaX0;
        initial.etaP = run.etaPX0;

        // the ring pass runs at the particle's energy as it is; the beam-line pass starts at the design
        // momentum, as its pass does
        if (needsRing())
            build(ringPass, true);
        if (needsLine()) {
            updateKinematics(work.beam, EnergyKind::Momentum, work.beam.referenceMomentum);
            build(linePass, false);
        }
        problem = quiet.first;
        if (setup.coupledFunctions)
            for (int i = 1; i <= work.line.count; ++i) {
                maps.push_back(elementMap(work.line.at(i)));
                lengths.push_back(work.line.at(i).length);
            }

        needsDetuning = std::any_of(setup.constraints.begin(), setup.constraints.end(),
                                    [](const ResolvedConstraint& c) { return isDetuning(c.quantity); });
        needsEigentunes = std::any_of(setup.constraints.begin(), setup.constraints.end(), [](const auto& c) {
            return c.quantity == MatchQuantity::Tune1 || c.quantity == MatchQuantity::Tune2;
        });
        probeSlot.assign(static_cast<std::size_t>(work.line.count) + 1, -1);
        for (const ResolvedConstraint& c : setup.constraints) {
            if (takesPlace(c.quantity) || isPhase(c.quantity))
                probeSlot[static_cast<std::size_t>(c.at)] = 0;
            if (isPhase(c.quantity))
                probeSlot[static_cast<std::size_t>(c.from)] = 0;
        }
        int slots = 0;
        for (int& slot : probeSlot)
            if (slot == 0)
                slot = slots++;
        places.resize(static_cast<std::size_t>(slots));
    }

    void record(int end, const Functions& f)
    {
        const int slot = probeSlot[static_cast<std::size_t>(end)];
        if (slot >= 0)
            places[static_cast<std::size_t>(slot)] =
                Place{f.x.beta, f.x.alpha, f.y.beta, f.y.alpha, f.eta, f.etaP, f.x.phi, f.y.phi};
    }

    // The lattice functions through every step of the pass from f, keeping the places asked for and,
    // when asked, the largest beta of either plane.
    void trace(const Pass& pass, Functions f, bool probes, bool maximum)
    {
        maxBetaX = f.x.beta;
        maxBetaY = f.y.beta;
        if (probes)
            record(0, f);
        for (int i = 1; i <= work.line.count; ++i) {
            const int end = pass.first[static_cast<std::size_t>(i) + 1];
            for (int k = pass.first[static_cast<std::size_t>(i)]; k < end; ++k) {
                const Step& s = pass.steps[static_cast<std::size_t>(k)];
                if (!s.inTrace)
                    continue;
                for (int j = 0; j < s.repeat; ++j) {
                    if (maximum)
                        interiorMaximum(s, f, maxBetaX, maxBetaY);
                    carryStep(s, f);
                    if (maximum) {
                        maxBetaX = std::max(maxBetaX, f.x.beta);
                        maxBetaY = std::max(maxBetaY, f.y.beta);
                    }
                }
            }
            if (probes)
                record(i, f);
        }
        endPhiX = f.x.phi;
        endPhiY = f.y.phi;
    }

    bool periodic(Functions& f) const
    {
        Total total;
        for (const Step& s : ringPass.steps) {
            if (!s.inTotal)
                continue;
            for (int j = 0; j < s.repeat; ++j)
                multiply(s, total);
        }
        return periodicStart(total, f);
    }

    void setValues(const std::vector<double>& x)
    {
        for (std::size_t v = 0; v < setup.variables.size(); ++v)
            for (int i : setup.variables[v].elements) {
                setField(work.line.at(i), setup.variables[v].field, x[v]);
            }
        for (int i : varied) {
            if (needsRing())
                rebuild(ringPass, i);
            if (needsLine())
                rebuild(linePass, i);
            if (!maps.empty()) {
                maps[static_cast<std::size_t>(i - 1)] = elementMap(work.line.at(i));
                lengths[static_cast<std::size_t>(i - 1)] = work.line.at(i).length;
            }
        }
    }

    // Natural and corrected chromaticities of the ring by the chromaticity computations themselves.
    bool chromaticities(double& naturalX, double& naturalY, double& correctedX, double& correctedY)
    {
        radiationIntegrals(work, quiet);
        naturalX = work.ringParams.chromaticityX;
        naturalY = work.ringParams.chromaticityY;
        const std::optional<SextupoleSums> sums = sextupoleSums(work, quiet);
        if (!sums)
            return false;
        const double nsp = work.line.superPeriods;
        correctedX = naturalX + nsp * (sums->sx + sums->fx);
        correctedY = naturalY + nsp * (sums->sy + sums->fy);
        return true;
    }

    const Place& place(int end) const
    {
        return places[static_cast<std::size_t>(probeSlot[static_cast<std::size_t>(end)])];
    }

    struct RingValues
    {
        double tuneX = 0, tuneY = 0;
        double naturalX = 0, naturalY = 0, correctedX = 0, correctedY = 0;
        std::array<double, kDrivingTermCount> drivingTerms{}; // magnitudes
        DetuningCoefficients detuning;
        double tuneX2 = 0, tuneX3 = 0, tuneY2 = 0, tuneY3 = 0;
    };

    // The driving terms of the trial ring (the computation itself, on the trial line) and, when asked,
    // its detuning from them.
    bool nonlinear(RingValues& ring)
    {
        const std::optional<DrivingTerms> terms = drivingTerms(work, &refusal);
        if (!terms)
            return false;
        for (int t = 0; t < kDrivingTermCount; ++t)
            ring.drivingTerms[static_cast<std::size_t>(t)] =
                std::abs(terms->ring[static_cast<std::size_t>(t)]);
        if (!needsDetuning)
            return true;
        const std::optional<DetuningCoefficients> d = detuning(work, *terms, &refusal);
        if (d)
            ring.detuning = *d;
        return d.has_value();
    }

    // The tracked Q(delta) of the trial ring over the default scan, the one the report gives.
    bool trackedTunes(RingValues& ring)
    {
        const std::optional<ChromaticTunes> q = chromaticTunes(work, ChromaticScan{}, &refusal);
        if (!q)
            return false;
        ring.tuneX2 = q->qx[2];
        ring.tuneX3 = q->qx[3];
        ring.tuneY2 = q->qy[2];
        ring.tuneY3 = q->qy[3];
        return true;
    }

    double valueOf(const ResolvedConstraint& c, const RingValues& ring) const
    {
        switch (c.quantity) {
        case MatchQuantity::BetaX:
            return place(c.at).betaX;
        case MatchQuantity::AlphaX:
            return place(c.at).alphaX;
        case MatchQuantity::BetaY:
            return place(c.at).betaY;
        case MatchQuantity::AlphaY:
            return place(c.at).alphaY;
        case MatchQuantity::EtaX:
            return place(c.at).eta;
        case MatchQuantity::EtaPX:
            return place(c.at).etaP;
        case MatchQuantity::PhaseX:
            return place(c.at).phiX - place(c.from).phiX;
        case MatchQuantity::PhaseY:
            return place(c.at).phiY - place(c.from).phiY;
        case MatchQuantity::TuneX:
            return ring.tuneX;
        case MatchQuantity::TuneY:
            return ring.tuneY;
        case MatchQuantity::ChromaticityX:
            return ring.correctedX;
        case MatchQuantity::ChromaticityY:
            return ring.correctedY;
        case MatchQuantity::NaturalChromaticityX:
            return ring.naturalX;
        case MatchQuantity::NaturalChromaticityY:
            return ring.naturalY;
        case MatchQuantity::MaxBetaX:
            return maxBetaX;
        case MatchQuantity::MaxBetaY:
            return maxBetaY;
        case MatchQuantity::DetuningXX:
            return ring.detuning.xx;
        case MatchQuantity::DetuningXY:
            return ring.detuning.xy;
        case MatchQuantity::DetuningYY:
            return ring.detuning.yy;
        case MatchQuantity::TuneX2:
            return ring.tuneX2;
        case MatchQuantity::TuneX3:
            return ring.tuneX3;
        case MatchQuantity::TuneY2:
            return ring.tuneY2;
        case MatchQuantity::TuneY3:
            return ring.tuneY3;
        case MatchQuantity::CMinusAbs:
            return cMinus.abs;
        case MatchQuantity::CMinusRe:
            return cMinus.re;
        case MatchQuantity::CMinusIm:
            return cMinus.im;
        case MatchQuantity::Tune1:
            return tune1;
        case MatchQuantity::Tune2:
            return tune2;
        default:
            break;
        }
        if (isCoupledQuantity(c.quantity))
            return coupledValue(c);
        return ring.drivingTerms[static_cast<std::size_t>(drivingTermIndex(c.quantity))];
    }

    double coupledValue(const ResolvedConstraint& c) const
    {
        const CoupledFunctions& f = coupledFunctions[static_cast<std::size_t>(c.at)];
        switch (c.quantity) {
        case MatchQuantity::Beta1:
            return f.et.betaX;
        case MatchQuantity::Alpha1:
            return f.et.alphaX;
        case MatchQuantity::Beta2:
            return f.et.betaY;
        case MatchQuantity::Alpha2:
            return f.et.alphaY;
        case MatchQuantity::R11:
            return f.et.r11;
        case MatchQuantity::R12:
            return f.et.r12;
        case MatchQuantity::R21:
            return f.et.r21;
        case MatchQuantity::R22:
            return f.et.r22;
        case MatchQuantity::Beta11:
            return f.mr.beta11;
        case MatchQuantity::Beta12:
            return f.mr.beta12;
        case MatchQuantity::Beta21:
            return f.mr.beta21;
        case MatchQuantity::Beta22:
            return f.mr.beta22;
        default:
            break;
        }
        return std::numeric_limits<double>::quiet_NaN();
    }

    // The coupled optics of the trial line: the periodic coupled solution where the match starts from it
    // or the eigentunes are asked for, the coupled functions from the start values of a line match.
    bool coupledValues()
    {
        failure = Failure::Coupled;
        const bool periodicMatch = setup.definition.start == MatchStart::Periodic;
        if (periodicMatch || needsEigentunes) {
            CoupledRing ring = coupledRing(maps, lengths, work.line.superPeriods);
            if (!ring.computed) {
                refusal = ring.refusal;
                return false;
            }
            tune1 = ring.tune1;
            tune2 = ring.tune2;
            if (periodicMatch)
                coupledFunctions = std::move(ring.functions);
        }
        if (!periodicMatch) {
            std::optional<std::vector<CoupledFunctions>> f =
                coupledLineFunctions(maps, lengths, work.run, refusal);
            if (!f)
                return false;
            coupledFunctions = std::move(*f);
        }
        return true;
    }

    // C- of the trial ring by the computation itself.
    bool couplingValues()
    {
        failure = Failure::Coupled;
        cMinus = couplingCoefficient(work);
        if (!cMinus.computed)
            refusal = "C- needs a stable periodic solution of the ring with its skew parts taken out";
        return cMinus.computed;
    }

    bool evaluate(const std::vector<double>& x, std::vector<double>& values)
    {
        ++passes;
        setValues(x);
        RingValues ring;
        if (!setup.coupled && !uncoupledValues(ring))
            return false;
        if (setup.coupledFunctions && !coupledValues())
            return false;
        if (setup.couplingCoefficient && !couplingValues())
            return false;
        failure = Failure::NotFinite;

        values.resize(setup.constraints.size());
        for (std::size_t n = 0; n < setup.constraints.size(); ++n) {
            values[n] = valueOf(setup.constraints[n], ring);
            if (!std::isfinite(values[n]))
                return false;
        }
        failure = Failure::None;
        return true;
    }

    // The uncoupled passes and the quantities computed from them.
    bool uncoupledValues(RingValues& ring)
    {
        failure = Failure::NoPeriodicSolution;
        const bool periodicMatch = setup.definition.start == MatchStart::Periodic;
        const double nsp = work.line.superPeriods;
        Functions start = initial;
        if (needsRing()) {
            Functions periodicFunctions;
            if (!periodic(periodicFunctions))
                return false;
            if (periodicMatch) {
                start = periodicFunctions;
            } else if (setup.ringQuantities) {
                trace(ringPass, periodicFunctions, false, false);
                ring.tuneX = nsp * endPhiX;
                ring.tuneY = nsp * endPhiY;
            }
        }
        trace(mainPass(), start, true, setup.maxBeta);
        if (periodicMatch) {
            ring.tuneX = nsp * endPhiX;
            ring.tuneY = nsp * endPhiY;
        }
        if (setup.chromaticity &&
            !chromaticities(ring.naturalX, ring.naturalY, ring.correctedX, ring.correctedY))
            return false;
        failure = Failure::Nonlinear;
        return !((setup.drivingTerms && !nonlinear(ring)) || (setup.chromaticTunes && !trackedTunes(ring)));
    }
};

MatchOptics::MatchOptics(State& work, const MatchSetup& setup) : m_impl(std::make_unique<Impl>(work, setup))
{
    m_impl->prepare();
}

MatchOptics::~MatchOptics() = default;

const std::string& MatchOptics::problem() const
{
    return m_impl->problem;
}

bool MatchOptics::evaluate(const std::vector<double>& x, std::vector<double>& values)
{
    return m_impl->evaluate(x, values);
}

MatchOptics::Failure MatchOptics::failure() const
{
    return m_impl->failure;
}

const std::string& MatchOptics::refusal() const
{
    return m_impl->refusal;
}

int MatchOptics::passes() const
{
    return m_impl->passes;
}

} // namespace kestrune
