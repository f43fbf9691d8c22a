#include "cli/ChromaticityBatch.h"

#include "cli/RingReport.h"
#include "core/Format.h"
#include "core/InputRanges.h"
#include "core/NumberInput.h"
#include "core/chromaticity/Tracking.h"
#include "core/optics/BetaFunctions.h"
#include "core/resonance/Resonance.h"
#include "core/ring/Parameter.h"

#include <cmath>

namespace kestrune {

namespace {

/// A number typed for an option, or the option's usage error.
template <typename Parse> auto typed(const char* option, const std::string& text, Parse parse)
{
    try {
        return parse(text);
    } catch (const ConversionError& e) {
        throw BatchUsageError(std::string(option) + ": " + e.what());
    }
}

double real(const char* option, const std::string& text)
{
    return typed(option, text, [](const std::string& t) { return parseDouble(t); });
}

/// The tracking request of the command line; the start as typed (mm, mrad or sigmas).
TrackingRequest trackingRequest(const ChromaticityRequest& request)
{
    TrackingRequest r;
    r.turns = typed("--track", request.track.at(0), [](const std::string& t) { return parseInt(t); });
    r.start = {real("--track", request.track.at(1)), real("--track", request.track.at(2)),
               real("--track", request.track.at(3)), real("--track", request.track.at(4))};
    r.offMomentum = !request.offMomentumPercent.empty();
    if (r.offMomentum)
        r.delta = real("--off-momentum", request.offMomentumPercent) / 100;
    r.aperture = !request.apertureMm.empty();
    if (r.aperture)
        r.apertureMm = real("--aperture", request.apertureMm);
    r.plane = PhasePlane::X;
    return r;
}

// Turns tracked between two writes of their rows.
constexpr int kTurnsPerBlock = 4096;

std::string csvRow(int turn, const PhasePoint& p)
{
    return std::to_string(turn) + ',' + fmt("%.12g,%.12g,%.12g,%.12g", p.x, p.xp, p.y, p.yp) + '\n';
}

Json wantedValue(const std::vector<std::string>& wanted, std::size_t i)
{
    return wanted.size() == 2 ? reportNumber(wantedChromaticity(wanted[i])) : Json(nullptr);
}

} // namespace

void checkChromaticityUsage(const ChromaticityRequest& request)
{
    for (const std::string& text : request.wanted)
        typed("--chromaticity", text, [](const std::string& t) { return wantedChromaticity(t); });
    if (request.track.empty()) {
        if (!request.offMomentumPercent.empty() || !request.apertureMm.empty() || request.sigmas)
            throw BatchUsageError("--off-momentum, --aperture and --sigmas go with --track");
        return;
    }
    const TrackingRequest r = trackingRequest(request);
    if (const std::optional<std::string> refusal = rangeRefusal(ranges::kTrackingTurns, r.turns))
        throw BatchUsageError("--track: " + *refusal);
    if (r.offMomentum && !(1 + r.delta > 0))
        throw BatchUsageError("--off-momentum: the momentum deviation must be above -100 %");
    if (r.aperture && !(r.apertureMm > 0))
        throw BatchUsageError("--aperture: the aperture must be larger than 0 mm");
}

std::optional<ChromaticityCorrection> runChromaticityCorrection(State& state, Messages& messages,
                                                                const ChromaticityRequest& request)
{
    // the correction's own ring pass would leave the periodic solution as start values: only the
    // strengths and the chromaticities it found are taken over
    State ring = state;
    radiationIntegrals(ring, messages);
    const std::optional<ChromaticityCorrection> c = correctChromaticity(
        ring, messages, wantedChromaticity(request.wanted.at(0)), wantedChromaticity(request.wanted.at(1)));
    if (!c)
        return std::nullopt;
    for (int i = 1; i <= lastRingRecord(ring); ++i)
        state.line.at(i).m = ring.line.at(i).m;
    state.ringParams.chromaticityX = ring.ringParams.chromaticityX;
    state.ringParams.chromaticityY = ring.ringParams.chromaticityY;
    state.ringParams.correctedChromaticityX = c->correctedX;
    state.ringParams.correctedChromaticityY = c->correctedY;
    return c;
}

bool runTrackingCsv(State& state, Messages& messages, const ChromaticityRequest& request,
                    const BatchInputs& inputs, std::ostream& out)
{
    TrackingRequest r = trackingRequest(request);
    if (!checkTracking(state, r, messages))
        return false;
    if (request.sigmas) {
        // the equilibrium beam as the ring window leaves it
        State ring = state;
        computeRing(ring, messages, inputs);
        const std::optional<PhasePoint> start = sigmaStart(ring, messages, r.start);
        if (!start)
            return false;
        r.start = *start;
    }
    if (!checkTracking(state, r, messages))
        return false;
    // the rows go out as they are computed: the memory does not grow with the turns
    TrackingRun run(state.line, r);
    out << "turn,x_mm,xp_mrad,y_mm,yp_mrad\n" << csvRow(0, r.start);
    std::vector<PhasePoint> block;
    int turn = 0;
    while (!run.finished()) {
        block.clear();
        run.advance(kTurnsPerBlock, block);
        for (const PhasePoint& p : block)
            out << csvRow(++turn, p);
    }
    finishTracking(state, messages, run);
    if (run.lost())
        out << "# particle was lost during turn # " << run.turn() << " after element " << run.lostElement()
            << '\n';
    out.flush();
    return true;
}

Json chromaticitySection(const State& state, const std::optional<ChromaticityCorrection>& correction,
                         const std::vector<std::string>& wanted, Messages& messages)
{
    std::optional<ChromaticityCorrection> c = correction;
    if (!c) {
        State ring = state;
        radiationIntegrals(ring, messages);
        c = latticeChromaticity(ring, messages);
    }
    if (!c)
        return nullptr;
    return {{"wanted_x", wantedValue(wanted, 0)},
            {"wanted_y", wantedValue(wanted, 1)},
            {"natural_x", reportNumber(c->naturalX)},
            {"natural_y", reportNumber(c->naturalY)},
            {"special_sextupoles_x", reportNumber(c->specialX)},
            {"special_sextupoles_y", reportNumber(c->specialY)},
            {"sf_sd_x", reportNumber(c->sextupoleX)},
            {"sf_sd_y", reportNumber(c->sextupoleY)},
            {"corrected_x", reportNumber(c->correctedX)},
            {"corrected_y", reportNumber(c->correctedY)},
            {"mf_per_m3", reportNumber(c->mF)},
            {"md_per_m3", reportNumber(c->mD)}};
}

Json resonanceSection(const State& state, Messages& messages)
{
    State ring = state;
    if (!periodicSolution(ring, messages) || !ring.run.periodicStable ||
        !betaFunctions(ring, messages, nullptr))
        return nullptr;
    const ResonanceDiagram d = resonanceDiagram(ring.lf.tuneX, ring.lf.tuneY);
    return {
        {"tune_x", reportNumber(d.working.qx)},
        {"tune_y", reportNumber(d.working.qy)},
        {"square",
         {{"tune_x_min", d.nx}, {"tune_x_max", d.nx + 1}, {"tune_y_min", d.ny}, {"tune_y_max", d.ny + 1}}}};
}

void addChromaticitySections(Json& report, const State& state,
                             const std::optional<ChromaticityCorrection>& correction,
                             const ChromaticityRequest& request, StderrMessages& messages)
{
    report.erase("messages");
    report["chromaticity"] = chromaticitySection(state, correction, request.wanted, messages);
    report["resonance"] = resonanceSection(state, messages);
    report["messages"] = messages.shown();
}

} // namespace kestrune
