#include "core/orbit/ErrorSeeds.h"

#include "core/orbit/ClosedOrbit.h"
#include "core/orbit/OrbitOptics.h"
#include "core/orbit/OrbitResponse.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <utility>

namespace kestrune {

namespace {

SeedOutcome runSeed(const State& state, const ErrorSet& set, std::uint64_t seed,
                    const std::optional<OrbitCorrectionSettings>& correction, double designTune1,
                    double designTune2)
{
    SeedOutcome out;
    out.seed = seed;
    State work = state;
    FirstErrorMessages messages;
    if (!applyErrorSet(work.line, set, seed, messages)) {
        out.refusal = messages.first;
        return out;
    }
    const ClosedOrbit orbit = closedOrbit(work);
    if (!orbit.found) {
        out.refusal = orbit.refusal;
        return out;
    }
    const OrbitSpread before = orbitSpread(work.line, orbit);
    out.xRms = before.xRms;
    out.yRms = before.yRms;
    out.xMax = before.xMax;
    out.yMax = before.yMax;
    if (correction) {
        const OrbitCorrection c = correctOrbit(work, *correction);
        if (!c.done) {
            out.refusal = c.refusal;
            return out;
        }
        out.corrected = true;
        out.xRmsAfter = c.rmsAfterX;
        out.yRmsAfter = c.rmsAfterY;
        out.xMaxAfter = c.maxAfterX;
        out.yMaxAfter = c.maxAfterY;
        out.kickRms = c.kickRms;
        out.kickMax = c.kickMax;
    }
    const OrbitOptics optics = orbitOptics(work);
    if (!optics.computed) {
        out.refusal = optics.refusal;
        return out;
    }
    out.tuneShift1 = optics.tune1 - designTune1;
    out.tuneShift2 = optics.tune2 - designTune2;
    out.betaBeatXRms = optics.betaBeatXRms;
    out.betaBeatYRms = optics.betaBeatYRms;
    out.dispersionYRms = optics.dispersionYRms;
    out.computed = true;
    return out;
}

} // namespace

std::vector<SeedOutcome> runErrorSeeds(const State& state, const ErrorSet& set, std::uint64_t first,
                                       int count, const std::optional<OrbitCorrectionSettings>& correction,
                                       const std::function<bool(int)>& progress)
{
    // the design's tunes, by the same optics about its (zero) orbit
    State design = state;
    design.line = designLine(state.line);
    const OrbitOptics reference = orbitOptics(design);
    // every seed is corrected with the design's tracked response, found once, as a machine is
    std::optional<OrbitCorrectionSettings> settings = correction;
    if (settings && !settings->response) {
        std::string refusal;
        if (std::optional<OrbitResponse> r = trackedOrbitResponse(design, refusal, settings->orbit))
            settings->response = std::make_shared<const OrbitResponse>(std::move(*r));
    }
    std::vector<SeedOutcome> seeds;
    const int n = std::clamp(count, 0, kMaxErrorSeeds);
    seeds.reserve(static_cast<std::size_t>(n));
    for (int k = 0; k < n; ++k) {
        seeds.push_back(runSeed(state, set, first + static_cast<std::uint64_t>(k), settings,
                                reference.computed ? reference.tune1 : 0,
                                reference.computed ? reference.tune2 : 0));
        if (!reference.computed && seeds.back().computed) {
            seeds.back().computed = false;
            seeds.back().refusal = "the design has no optics to compare with: " + reference.refusal;
        }
        if (progress && !progress(k + 1))
            break;
    }
    return seeds;
}

SeedStatistics seedStatistics(const std::vector<SeedOutcome>& seeds)
{
    using Field = double SeedOutcome::*;
    const std::pair<const char*, Field> fields[] = {
        {"x_rms_m", &SeedOutcome::xRms},
        {"y_rms_m", &SeedOutcome::yRms},
        {"x_max_m", &SeedOutcome::xMax},
        {"y_max_m", &SeedOutcome::yMax},
        {"corrected_x_rms_m", &SeedOutcome::xRmsAfter},
        {"corrected_y_rms_m", &SeedOutcome::yRmsAfter},
        {"corrected_x_max_m", &SeedOutcome::xMaxAfter},
        {"corrected_y_max_m", &SeedOutcome::yMaxAfter},
        {"kick_rms_rad", &SeedOutcome::kickRms},
        {"kick_max_rad", &SeedOutcome::kickMax},
        {"tune_shift_1", &SeedOutcome::tuneShift1},
        {"tune_shift_2", &SeedOutcome::tuneShift2},
        {"beta_beat_x_rms", &SeedOutcome::betaBeatXRms},
        {"beta_beat_y_rms", &SeedOutcome::betaBeatYRms},
        {"dispersion_y_rms_m", &SeedOutcome::dispersionYRms},
    };
    SeedStatistics stats;
    for (const SeedOutcome& s : seeds)
        stats.computed += s.computed ? 1 : 0;
    for (const auto& [name, field] : fields) {
        SeedStatistic q;
        double sum = 0, squares = 0;
        for (const SeedOutcome& s : seeds) {
            if (!s.computed)
                continue;
            const double v = s.*field;
            sum += v;
            squares += v * v;
            q.max = std::max(q.max, std::fabs(v));
        }
        if (stats.computed > 0) {
            q.mean = sum / stats.computed;
            q.rms = std::sqrt(squares / stats.computed);
        }
        stats.quantities.emplace_back(name, q);
    }
    return stats;
}

} // namespace kestrune
