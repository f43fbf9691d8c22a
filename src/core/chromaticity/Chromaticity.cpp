#include "core/chromaticity/Chromaticity.h"

#include "core/InputRanges.h"
#include "core/NumberInput.h"
#include "core/optics/BetaFunctions.h"
#include "core/optics/RingPass.h"
#include "core/optics/TransferMatrix.h"

#include <algorithm>
#include <cmath>

namespace kestrune {

namespace {

const char* const kNoFamilies =
    "there are no \"SF\" and \"SD\" sextupoles.\r You must have at least one of each in your lattice.";

const char* const kNoNatural =
    "the natural chromaticities are not available: the ring has no periodic solution!";

// Relative size below which a sum counts as cancelled to rounding.
constexpr double kRounding = 1e-9;
// Dispersion (m) below which a sextupole sits where there is none.
constexpr double kNoDispersion = 1e-12;

bool isSextupole(int elementCode)
{
    return familyOf(elementCode) == static_cast<int>(Family::Sextupole);
}

// Half of a sextupole: a drift in the linear optics.
void halfSextupole(State& state, Messages& messages, int i, double halfLength)
{
    driftMatrix(state.matrix, halfLength);
    propagateFunctions(state, messages, false, i, halfLength);
    state.lf.s += halfLength;
}

// One point of a sextupole with the weight w (m) of its share of the length: the sums take
// w / (4 pi) eta beta there.
void addPoint(int elementCode, double m, const LatticeFunctions& lf, double w, SextupoleSums& sums)
{
    const double wx = w / (2 * kTwoPi) * lf.eta * lf.betaX;
    const double wy = w / (2 * kTwoPi) * lf.eta * lf.betaY;
    switch (elementCode) {
    case code::kSextupoleF:
        sums.aFx += wx;
        sums.aFy += wy;
        sums.fx += wx * m;
        sums.fy -= wy * m;
        sums.magnitudeF += std::fabs(wx);
        sums.weightF += std::fabs(w / (2 * kTwoPi) * lf.betaX);
        break;
    case code::kSextupoleD:
        sums.aDx += wx;
        sums.aDy += wy;
        sums.fx += wx * m;
        sums.fy -= wy * m;
        sums.magnitudeD += std::fabs(wx);
        sums.weightD += std::fabs(w / (2 * kTwoPi) * lf.betaX);
        break;
    default: // every other sextupole code is a special sextupole with its own strength
        sums.sx += wx * m;
        sums.sy -= wy * m;
        break;
    }
}

// A thin multipole's sextupole component k2l = knl[2] (1/m^2) at the centre of its length, with the
// lattice functions there (a drift of half its length from the entrance, beta and eta being continuous
// across the kick): it counts as a special sextupole of strength m and length L with m L = k2l, so that
// xi_x gains eta beta_x k2l / (4 pi) and xi_y loses eta beta_y k2l / (4 pi), the signs of the thick
// sextupoles (MAD-X: xi = (1/4 pi) integral of (K2 D - K1) beta_x, and -(K2 D - K1) beta_y).
void addThinSextupole(double k2l, double length, const LatticeFunctions& lf, SextupoleSums& sums)
{
    if (k2l == 0)
        return;
    const double a = length / 2;
    const double eta = lf.eta + lf.etaP * a;
    const double betaX = lf.betaX - 2 * lf.alphaX * a + lf.gammaX * a * a;
    const double betaY = lf.betaY - 2 * lf.alphaY * a + lf.gammaY * a * a;
    sums.sx += k2l / (2 * kTwoPi) * eta * betaX;
    sums.sy -= k2l / (2 * kTwoPi) * eta * betaY;
}

// A family's sum is no sum at all when its terms cancel to rounding or when it sits where there is no
// dispersion (no sextupole of the family: both scales are 0).
bool vanishes(double sum, double magnitude, double weight)
{
    return std::fabs(sum) <= kRounding * magnitude || magnitude <= kNoDispersion * weight;
}

} // namespace

double wantedChromaticity(const std::string& text)
{
    if (text.find_first_not_of(" \t") == std::string::npos)
        return 0;
    return parseDouble(text);
}

namespace {

// The sums from the kept ring pass: each sextupole and thin multipole from the lattice functions the pass
// has at its entrance, the sextupole's halves carried as the pass below carries them (its phases aside).
SextupoleSums keptSums(State& state, const RingPass& pass)
{
    SextupoleSums sums;
    LatticeFunctions lf = state.lf;
    const std::vector<int>& sextupoles = pass.sextupoles;
    for (std::size_t n = 0; n < sextupoles.size(); ++n) {
        // the records and functions of a sextupole a few ahead are asked for while this one is summed
        constexpr std::size_t kAhead = 8;
        if (n + kAhead < sextupoles.size()) {
            const std::size_t ahead = static_cast<std::size_t>(sextupoles[n + kAhead] - 1);
            __builtin_prefetch(&pass.elements[ahead]);
            __builtin_prefetch(&pass.entry[ahead]);
        }
        const std::size_t i = static_cast<std::size_t>(sextupoles[n] - 1);
        const ElementOptics& o = pass.elements[i];
        const bool sextupole = isSextupole(o.code);
        const EntryFunctions& f = pass.entry[i];
        takeEntry(f, lf);
        if (!sextupole) {
            addThinSextupole(o.k2l, o.length, lf, sums);
            continue;
        }
        // the strengths are the line's: the sweep of the periodic solution has just read them
        addPoint(o.code, o.m, lf, o.length / 6, sums);
        driftFunctions(o.length / 2, lf);
        addPoint(o.code, o.m, lf, 4 * o.length / 6, sums);
        driftFunctions(o.length / 2, lf);
        addPoint(o.code, o.m, lf, o.length / 6, sums);
    }
    finishRingPass(state, pass);
    return sums;
}

} // namespace

std::optional<SextupoleSums> sextupoleSums(State& state, Messages& messages)
{
    // a cell without a stable periodic solution has no chromaticity to correct: nothing stale is used
    bool refused = false;
    bool started = false;
    const RingPass* pass = keptRingPass(state, messages, refused, started);
    if (!started || !state.run.periodicStable)
        return std::nullopt;
    if (pass != nullptr)
        return keptSums(state, *pass);
    SextupoleSums sums;
    for (int i = 1; i <= state.line.count; ++i) {
        const LatticeElement& e = state.line.at(i);
        if (!isSextupole(e.code)) {
            if (e.code == code::kThinMultipole)
                addThinSextupole(e.knl.size() > 2 ? e.knl[2] : 0, e.length, state.lf, sums);
            ringTrace(state, messages, i, nullptr);
            continue;
        }
        // the linear optics of a sextupole is a drift: eta is linear in s and beta quadratic, so
        // Simpson's rule on the ends and the centre integrates eta beta exactly
        addPoint(e.code, e.m, state.lf, e.length / 6, sums);
        halfSextupole(state, messages, i, e.length / 2);
        addPoint(e.code, e.m, state.lf, 4 * e.length / 6, sums);
        halfSextupole(state, messages, i, e.length / 2);
        addPoint(e.code, e.m, state.lf, e.length / 6, sums);
    }
    return sums;
}

std::optional<ChromaticityCorrection> solveChromaticity(const SextupoleSums& sums, double naturalX,
                                                        double naturalY, int superPeriods, double wantedX,
                                                        double wantedY, Messages& messages)
{
    const double d = sums.aFx * sums.aDy - sums.aDx * sums.aFy;
    if (vanishes(sums.aFx, sums.magnitudeF, sums.weightF) ||
        vanishes(sums.aDx, sums.magnitudeD, sums.weightD) ||
        std::fabs(d) <= kRounding * (std::fabs(sums.aFx * sums.aDy) + std::fabs(sums.aDx * sums.aFy))) {
        messages.error(kNoFamilies);
        return std::nullopt;
    }
    const double nsp = superPeriods;
    // per cell: xi_x = nat_x / Nsp + mF aFx + mD aDx + Sx, xi_y = nat_y / Nsp - mF aFy - mD aDy + Sy
    const double rx = wantedX / nsp - sums.sx - naturalX / nsp;
    const double ry = wantedY / nsp - sums.sy - naturalY / nsp;
    ChromaticityCorrection c;
    c.sums = sums;
    c.mF = (sums.aDy * rx + sums.aDx * ry) / d;
    c.mD = -(sums.aFy * rx + sums.aFx * ry) / d;
    c.naturalX = naturalX;
    c.naturalY = naturalY;
    c.specialX = nsp * sums.sx;
    c.specialY = nsp * sums.sy;
    c.sextupoleX = nsp * (sums.aFx * c.mF + sums.aDx * c.mD);
    c.sextupoleY = -nsp * (sums.aFy * c.mF + sums.aDy * c.mD);
    c.correctedX = nsp * (sums.aFx * c.mF + sums.sx + sums.aDx * c.mD) + naturalX;
    c.correctedY = nsp * (sums.sy - sums.aFy * c.mF - sums.aDy * c.mD) + naturalY;
    return c;
}

std::optional<ChromaticityCorrection> latticeChromaticity(State& state, Messages& messages)
{
    const std::optional<SextupoleSums> sums = sextupoleSums(state, messages);
    if (!sums)
        return std::nullopt;
    const double nsp = state.line.superPeriods;
    const RingParameters& ring = state.ringParams;
    ChromaticityCorrection c;
    c.sums = *sums;
    c.mF = std::nan("");
    c.mD = std::nan("");
    c.naturalX = ring.chromaticityX;
    c.naturalY = ring.chromaticityY;
    c.specialX = nsp * sums->sx;
    c.specialY = nsp * sums->sy;
    c.sextupoleX = nsp * sums->fx;
    c.sextupoleY = nsp * sums->fy;
    c.correctedX = c.naturalX + c.specialX + c.sextupoleX;
    c.correctedY = c.naturalY + c.specialY + c.sextupoleY;
    return c;
}

int lastRingRecord(const State& state)
{
    return std::max(state.line.count, std::min(state.ringElementCount, state.line.slotCount()));
}

std::optional<ChromaticityCorrection> correctChromaticity(State& state, Messages& messages, double wantedX,
                                                          double wantedY)
{
    if (state.line.count < 1) {
        messages.error("define a beam line first!");
        return std::nullopt;
    }
    if (state.line.superPeriods < 1) {
        messages.error("the number of superperiods must be at least 1!");
        return std::nullopt;
    }
    if (const std::optional<std::string> refusal = firstRefusal(
            {{&ranges::kWantedChromaticityX, wantedX}, {&ranges::kWantedChromaticityY, wantedY}})) {
        messages.error(*refusal);
        return std::nullopt;
    }
    const std::optional<SextupoleSums> sums = sextupoleSums(state, messages);
    if (!sums)
        return std::nullopt;
    RingParameters& ring = state.ringParams;
    if (!std::isfinite(ring.chromaticityX) || !std::isfinite(ring.chromaticityY)) {
        messages.error(kNoNatural);
        return std::nullopt;
    }
    const std::optional<ChromaticityCorrection> c = solveChromaticity(
        *sums, ring.chromaticityX, ring.chromaticityY, state.line.superPeriods, wantedX, wantedY, messages);
    if (!c)
        return std::nullopt;
    // the full ring is the cell taken superPeriods times: the cell and the copies the table holds
    for (int i = 1; i <= lastRingRecord(state); ++i) {
        LatticeElement& e = state.line.at(i);
        if (e.code == code::kSextupoleF)
            e.m = c->mF;
        else if (e.code == code::kSextupoleD)
            e.m = c->mD;
    }
    ring.correctedChromaticityX = c->correctedX;
    ring.correctedChromaticityY = c->correctedY;
    return c;
}

} // namespace kestrune
