#include "core/orbit/OrbitOptics.h"

#include "core/Format.h"
#include "core/coupling/CoupledOptics.h"
#include "core/tracking/ElementKernels.h"
#include "core/tracking/SymplecticLattice.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace kestrune {

namespace {

// The linear map of one element about the orbit point z (delta 0): the tracker's element moved by central
// differences of +-1e-6 in each of x, px, y, py, delta. The maps are of second order in the small
// quantities at most between their exact linear parts (the sextupoles' kicks are quadratic), so the
// differences are exact in what is quadratic and leave 1e-12 of the third-order terms, above the
// rounding of 1e-16 / 1e-6.
Map5 jacobian(const ElementMap& e, const PhaseVector& z)
{
    constexpr double kStep = 1e-6;
    ParticleBlock block;
    for (int k = 0; k < 5; ++k)
        for (const double sign : {1.0, -1.0}) {
            PhaseVector p = z;
            double* coordinate[5] = {&p.x, &p.px, &p.y, &p.py, &p.delta};
            *coordinate[k] += sign * kStep;
            block.add(p, block.count);
        }
    pushElement(e, block);
    Map5 m = identityMap();
    for (int k = 0; k < 5; ++k) {
        const PhaseVector a = block.at(2 * k), b = block.at(2 * k + 1);
        const double column[4] = {a.x - b.x, a.px - b.px, a.y - b.y, a.py - b.py};
        for (int row = 0; row < 4; ++row)
            m[static_cast<std::size_t>(row)][static_cast<std::size_t>(k)] = column[row] / (2 * kStep);
    }
    return m;
}

// The coupled periodic solution about the closed orbit of state's ring at the momentum deviation delta.
CoupledRing ringAboutOrbit(const State& state, ClosedOrbit& orbit, std::vector<Map5>* kept = nullptr,
                           double delta = 0)
{
    orbit = closedOrbit(state, delta);
    if (!orbit.found) {
        CoupledRing ring;
        ring.refusal = orbit.refusal;
        return ring;
    }
    QuietMessages quiet(true);
    SymplecticLattice lattice = buildSymplecticLattice(state, quiet, RfCavity{});
    switchRfOff(lattice);
    std::vector<Map5> maps;
    std::vector<double> lengths;
    maps.reserve(lattice.cell.size());
    for (std::size_t i = 0; i < lattice.cell.size(); ++i) {
        PhaseVector z = orbit.orbit[i];
        z.delta = delta;
        maps.push_back(jacobian(lattice.cell[i], z));
        lengths.push_back(lattice.cell[i].length);
    }
    CoupledRing ring = coupledRing(maps, lengths, lattice.superPeriods);
    if (kept)
        *kept = std::move(maps);
    return ring;
}

struct Spread
{
    double rms = 0, max = 0;
};

Spread spread(const std::vector<double>& v)
{
    Spread s;
    for (double x : v) {
        s.rms += x * x;
        s.max = std::max(s.max, std::fabs(x));
    }
    s.rms = v.empty() ? 0.0 : std::sqrt(s.rms / static_cast<double>(v.size()));
    return s;
}

} // namespace

BeamLine designLine(const BeamLine& line)
{
    BeamLine design = line;
    for (int i = 1; i <= design.count; ++i) {
        LatticeElement& e = design.at(i);
        e.errors = ElementErrors{};
        if (familyOf(e.code) == static_cast<int>(Family::Kicker))
            e.hkick = e.vkick = 0;
    }
    return design;
}

OrbitOptics orbitOptics(const State& state)
{
    OrbitOptics result;
    std::vector<Map5> maps;
    const CoupledRing ring = ringAboutOrbit(state, result.orbit, &maps);
    if (!ring.computed) {
        result.refusal = ring.refusal;
        return result;
    }
    State design = state;
    design.line = designLine(state.line);
    ClosedOrbit designOrbit;
    const CoupledRing reference = ringAboutOrbit(design, designOrbit);
    if (!reference.computed) {
        result.refusal = "the design machine: " + reference.refusal;
        return result;
    }
    result.tune1 = ring.tune1;
    result.tune2 = ring.tune2;
    std::vector<double> beatX, beatY, etaY;
    for (std::size_t i = 0; i < ring.functions.size(); ++i) {
        const CoupledFunctions& f = ring.functions[i];
        const CoupledFunctions& f0 = reference.functions[i];
        result.betaX.push_back(f.mr.beta11);
        result.betaY.push_back(f.mr.beta22);
        result.etaY.push_back(f.eta[2]);
        if (i == 0)
            continue;
        beatX.push_back((f.mr.beta11 - f0.mr.beta11) / f0.mr.beta11);
        beatY.push_back((f.mr.beta22 - f0.mr.beta22) / f0.mr.beta22);
        etaY.push_back(f.eta[2]);
    }
    const Spread x = spread(beatX), y = spread(beatY);
    result.betaBeatXRms = x.rms;
    result.betaBeatXMax = x.max;
    result.betaBeatYRms = y.rms;
    result.betaBeatYMax = y.max;
    result.dispersionYRms = spread(etaY).rms;
    result.maps = std::move(maps);
    result.functions = ring.functions;
    result.computed = true;
    return result;
}

// The eigentunes Q_k(delta) about the closed orbit at delta = +-h and +-2 h, each from the element maps
// about the orbit of its own momentum (exact to 1e-12), give dQ_k / d delta by the five-point central
// difference (8 (Q(h) - Q(-h)) - (Q(2 h) - Q(-2 h))) / (12 h), whose error is Q^(5) h^4 / 30: with h = 1e-4
// and the fifth-order terms of a strongly focusing ring (Q^(5) / 5! up to 1e9) below 1e-7, and the
// tunes' 1e-12 over 12 h 1e-9. The tunes' differences are taken across the wrap of the fractional parts.
OrbitChromaticity orbitChromaticity(const State& state)
{
    constexpr double kStep = 1e-4;
    OrbitChromaticity result;
    double tunes[4][2] = {};
    const double steps[4] = {kStep, -kStep, 2 * kStep, -2 * kStep};
    for (int k = 0; k < 4; ++k) {
        ClosedOrbit orbit;
        const CoupledRing ring = ringAboutOrbit(state, orbit, nullptr, steps[k]);
        if (!ring.computed) {
            result.refusal = fmt("at delta = %g: ", steps[k]) + ring.refusal;
            return result;
        }
        tunes[k][0] = ring.tune1;
        tunes[k][1] = ring.tune2;
    }
    double slope[2];
    for (int m = 0; m < 2; ++m) {
        const double near = std::remainder(tunes[0][m] - tunes[1][m], 1.0);
        const double far = std::remainder(tunes[2][m] - tunes[3][m], 1.0);
        slope[m] = (8 * near - far) / (12 * kStep);
    }
    result.chromaticity1 = slope[0];
    result.chromaticity2 = slope[1];
    result.computed = std::isfinite(slope[0]) && std::isfinite(slope[1]);
    if (!result.computed)
        result.refusal = "the chromaticity about the closed orbit is not finite";
    return result;
}

bool orbitOpticsPass(const State& state, Messages& messages, PlotSink* plot, ListSink* list,
                     OrbitOptics* kept)
{
    if (state.line.count <= 0) {
        messages.error("no closed orbit: the line has no elements");
        return false;
    }
    OrbitOptics optics = orbitOptics(state);
    if (!optics.computed) {
        messages.error(optics.refusal);
        return false;
    }
    if (list)
        list->begin(PassKind::Line);
    const BeamLine& line = state.line;
    for (std::size_t i = 0; i < optics.functions.size() && i < optics.orbit.orbit.size(); ++i) {
        const CoupledFunctions& f = optics.functions[i];
        const PhaseVector& z = optics.orbit.orbit[i];
        const int element = static_cast<int>(i);
        const double s = element == 0 ? line.at(1).s : line.at(element).s + line.at(element).length;
        LatticeFunctions lf;
        lf.betaX = f.mr.beta11;
        lf.alphaX = f.mr.alpha11;
        lf.gammaX = (1 + lf.alphaX * lf.alphaX) / lf.betaX;
        lf.betaY = f.mr.beta22;
        lf.alphaY = f.mr.alpha22;
        lf.gammaY = (1 + lf.alphaY * lf.alphaY) / lf.betaY;
        lf.phiX = f.phase1;
        lf.phiY = f.phase2;
        lf.eta = lf.d = f.eta[0];
        lf.etaP = lf.dp = f.eta[1];
        // the tracker's slopes are px / P0 = x' on momentum, the pass's trajectory is in mm and mrad
        lf.x = z.x * 1000;
        lf.xp = z.px * 1000;
        lf.y = z.y * 1000;
        lf.yp = z.py * 1000;
        lf.s = s;
        lf.tuneX = optics.tune1;
        lf.tuneY = optics.tune2;
        if (plot)
            plot->point(s, lf);
        if (list)
            list->row(element, s, lf);
    }
    if (list)
        list->ringTunes(optics.tune1, optics.tune2);
    if (kept)
        *kept = std::move(optics);
    return true;
}

std::string orbitOpticsText(const OrbitOptics& optics)
{
    if (!optics.computed)
        return optics.refusal;
    return fmt("about the closed orbit: Q1 = %.5f, Q2 = %.5f; rms beta-beat x %.3g %%, y %.3g %%; rms eta_y "
               "%.3g mm",
               optics.tune1, optics.tune2, optics.betaBeatXRms * 100, optics.betaBeatYRms * 100,
               optics.dispersionYRms * 1000);
}

} // namespace kestrune
