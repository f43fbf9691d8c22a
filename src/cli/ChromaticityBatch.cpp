#include "cli/ChromaticityBatch.h"

#include "cli/BatchProgress.h"
#include "cli/CouplingReport.h"
#include "cli/RingReport.h"
#include "cli/StderrMessages.h"
#include "core/Format.h"
#include "core/InputRanges.h"
#include "core/NumberInput.h"
#include "core/coupling/CoupledOptics.h"
#include "core/coupling/CoupledPass.h"
#include "core/optics/BetaFunctions.h"
#include "core/resonance/Resonance.h"
#include "core/resonance/WorkingPoint.h"
#include "core/rf/CavitySystem.h"
#include "core/ring/Parameter.h"
#include "core/tracking/LinearMapTracking.h"
#include "core/tracking/SingleParticle.h"

#include <algorithm>
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

// Turns tracked between two writes of the rows.
constexpr int kRowBlock = 256;

bool symplectic(const ChromaticityRequest& request)
{
    return request.trackingModel == "symplectic";
}

/// The tracking request of the command line; the start as typed (mm, mrad or sigmas). DELTA of the
/// six-coordinate form is the momentum deviation as --off-momentum gives it.
TrackingRequest trackingRequest(const ChromaticityRequest& request)
{
    TrackingRequest r;
    r.model = symplectic(request) ? TrackingModel::Symplectic : TrackingModel::LinearMaps;
    r.turns = typed("--track", request.track.at(0), [](const std::string& t) { return parseInt(t); });
    r.start = {real("--track", request.track.at(1)), real("--track", request.track.at(2)),
               real("--track", request.track.at(3)), real("--track", request.track.at(4))};
    r.offMomentum = !request.offMomentumPercent.empty() || request.track.size() == 7;
    if (request.track.size() == 7)
        r.delta = real("--track", request.track.at(5)) / 100;
    else if (r.offMomentum)
        r.delta = real("--off-momentum", request.offMomentumPercent) / 100;
    r.aperture = !request.apertureMm.empty();
    if (r.aperture)
        r.apertureMm = real("--aperture", request.apertureMm);
    r.plane = PhasePlane::X;
    return r;
}

/// The path-length difference (mm) of the six-coordinate form, 0 without one.
double startLengthMm(const ChromaticityRequest& request)
{
    return request.track.size() == 7 ? real("--track", request.track.at(6)) : 0;
}

std::string csvRow(int turn, const PhasePoint& p)
{
    return std::to_string(turn) + ',' + fmt("%.12g,%.12g,%.12g,%.12g", p.x, p.xp, p.y, p.yp) + '\n';
}

std::string csvRow(int turn, const PhaseVector& p)
{
    return std::to_string(turn) + ',' +
           fmt("%.12g,%.12g,%.12g,%.12g,%.12g,%.12g", p.x * 1000, p.px * 1000, p.y * 1000, p.py * 1000,
               p.delta * 100, p.l * 1000) +
           '\n';
}

std::string lostLine(int turn, int element)
{
    return "# particle was lost during turn # " + std::to_string(turn) + " after element " +
           std::to_string(element) + '\n';
}

// The linear maps as the window has always tracked them. The rows go out as they are computed: the memory
// holds only the turns the tunes are taken from, whatever the number of turns.
bool linearCsv(State& state, Messages& messages, const TrackingRequest& r, std::ostream& out,
               TrackingSummary& summary)
{
    if (!checkTracking(state, r, messages))
        return false;
    TrackingRun run(state.line, r);
    out << "turn,x_mm,xp_mrad,y_mm,yp_mrad\n" << csvRow(0, r.start);
    std::vector<PhasePoint> rows, kept;
    int turn = 0;
    BatchProgress progress("the tracking");
    while (!run.finished() && out) {
        progress(static_cast<double>(turn) / r.turns);
        rows.clear();
        run.advance(kRowBlock, rows);
        for (const PhasePoint& p : rows) {
            out << csvRow(++turn, p);
            if (kept.size() < static_cast<std::size_t>(kTuneTurns))
                kept.push_back(p);
        }
        out.flush();
    }
    if (!outputWritten(out, messages))
        return false;
    finishTracking(state, messages, run);
    if (run.lost())
        out << lostLine(run.turn(), run.lostElement());
    if (!outputWritten(out, messages))
        return false;
    summary.turnsTracked = run.lost() ? run.turn() - 1 : run.turn();
    summary.lost = run.lost();
    summary.lostTurn = run.lost() ? run.turn() : 0;
    summary.lostElement = run.lostElement();
    summary.tunes = linearTunes(kept);
    return true;
}

// The rf cavity of a closed ring with an rf voltage, as the ring and rf windows compute it (the total
// voltage and harmonic number of the line's rf cavities when it has any).
RfCavity batchRf(const State& state, Messages& messages, const BatchInputs& inputs)
{
    State ring = state;
    takeCavityVoltage(ring);
    if (!ring.ringClosed || !(ring.rf.voltage > 0))
        return {};
    QuietMessages quiet;
    if (!computeRing(ring, quiet, inputs) || !takeCavitySystem(ring, messages))
        return {};
    return trackingRfCavity(ring, messages);
}

bool symplecticCsv(State& state, Messages& messages, const TrackingRequest& r, double startLengthMm,
                   const BatchInputs& inputs, std::ostream& out, TrackingSummary& summary)
{
    if (!checkTracking(state, r, messages))
        return false;
    const RfCavity rf = batchRf(state, messages, inputs);
    SymplecticRun run = symplecticRun(state, messages, r, startLengthMm, rf);
    out << "turn,x_mm,px_mrad,y_mm,py_mrad,delta_percent,l_mm\n" << csvRow(0, run.particle());
    std::vector<PhaseVector> rows, kept;
    int turn = 0;
    BatchProgress progress("the tracking");
    while (!run.finished() && out) {
        progress(static_cast<double>(turn) / r.turns);
        rows.clear();
        run.advance(kRowBlock, rows);
        for (const PhaseVector& p : rows) {
            out << csvRow(++turn, p);
            if (kept.size() < static_cast<std::size_t>(kTuneTurns))
                kept.push_back(p);
        }
        out.flush();
    }
    if (!outputWritten(out, messages))
        return false;
    if (run.lost()) {
        out << lostLine(run.turn(), run.lostElement());
        messages.error(lostParticleText(state.line, run.turn(), run.lostElement()));
    }
    if (!outputWritten(out, messages))
        return false;
    summary.rf = rf.on;
    summary.turnsTracked = run.lost() ? run.turn() - 1 : run.turn();
    summary.lost = run.lost();
    summary.lostTurn = run.lost() ? run.turn() : 0;
    summary.lostElement = run.lostElement();
    summary.tunes = trackedTunes(kept, rf.on);
    return true;
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
    if (request.trackingModel != "symplectic" && request.trackingModel != "linear")
        throw BatchUsageError("--tracking-model: '" + request.trackingModel +
                              "' is neither symplectic nor linear");
    if (request.track.empty()) {
        if (!request.offMomentumPercent.empty() || !request.apertureMm.empty() || request.sigmas)
            throw BatchUsageError("--off-momentum, --aperture and --sigmas go with --track");
        return;
    }
    if (request.track.size() != 5 && request.track.size() != 7)
        throw BatchUsageError("--track takes TURNS X XP Y YP, or TURNS X XP Y YP DELTA L");
    if (request.track.size() == 7 && !request.offMomentumPercent.empty())
        throw BatchUsageError("--off-momentum and the DELTA of --track exclude each other");
    const TrackingRequest r = trackingRequest(request);
    if (const std::optional<std::string> refusal = rangeRefusal(ranges::kTrackingTurns, r.turns))
        throw BatchUsageError("--track: " + *refusal);
    if (r.offMomentum && !(1 + r.delta > 0))
        throw BatchUsageError("--off-momentum: the momentum deviation must be above -100 %");
    if (r.aperture && !(r.apertureMm > 0))
        throw BatchUsageError("--aperture: the aperture must be larger than 0 mm");
    if (!symplectic(request) && startLengthMm(request) != 0)
        throw BatchUsageError("--track: the linear model has no path length L");
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
                    const BatchInputs& inputs, std::ostream& out, TrackingSummary& summary)
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
    summary.model = request.trackingModel;
    summary.turns = r.turns;
    if (symplectic(request))
        return symplecticCsv(state, messages, r, startLengthMm(request), inputs, out, summary);
    return linearCsv(state, messages, r, out, summary);
}

Json trackingSection(const std::optional<TrackingSummary>& summary)
{
    if (!summary)
        return nullptr;
    return {{"model", summary->model},
            {"turns", summary->turns},
            {"turns_tracked", summary->turnsTracked},
            {"lost", summary->lost},
            {"lost_turn", summary->lost ? Json(summary->lostTurn) : Json(nullptr)},
            {"lost_element", summary->lost ? Json(summary->lostElement) : Json(nullptr)},
            {"rf", summary->rf},
            {"tune_x", reportNumber(summary->tunes.x)},
            {"tune_y", reportNumber(summary->tunes.y)},
            {"synchrotron_tune", reportNumber(summary->tunes.synchrotron)}};
}

Json chromaticitySection(const State& state, const std::optional<ChromaticityCorrection>& correction,
                         const std::vector<std::string>& wanted, Messages& messages)
{
    if (coupledPassApplies(state.line))
        return coupledChromaticitySection(state, wantedValue(wanted, 0), wantedValue(wanted, 1),
                                          correction ? reportNumber(correction->mF) : Json(nullptr),
                                          correction ? reportNumber(correction->mD) : Json(nullptr),
                                          messages);
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
    if (!lineCouples(ring.line) && (!periodicSolution(ring, messages) || !ring.run.periodicStable ||
                                    !betaFunctions(ring, messages, nullptr)))
        return nullptr;
    const WorkingPoint point = workingPoint(ring);
    if (!point.computed)
        return nullptr;
    const ResonanceDiagram d = resonanceDiagram(point.tune1, point.tune2);
    return {
        {"tune_x", reportNumber(d.working.qx)},
        {"tune_y", reportNumber(d.working.qy)},
        {"working_point", point.eigentunes ? "eigentunes" : "ring tunes"},
        {"square",
         {{"tune_x_min", d.nx}, {"tune_x_max", d.nx + 1}, {"tune_y_min", d.ny}, {"tune_y_max", d.ny + 1}}}};
}

void addChromaticitySections(Json& report, const State& state,
                             const std::optional<ChromaticityCorrection>& correction,
                             const ChromaticityRequest& request,
                             const std::optional<TrackingSummary>& tracking, StderrMessages& messages)
{
    report.erase("messages");
    report["chromaticity"] = chromaticitySection(state, correction, request.wanted, messages);
    report["resonance"] = resonanceSection(state, messages);
    report["tracking"] = trackingSection(tracking);
    report["messages"] = messages.shown();
}

} // namespace kestrune
