#include "core/orbit/ErrorSeeds.h"

#include "core/coupling/ModeEmittances.h"
#include "core/orbit/ClosedOrbit.h"
#include "core/orbit/OrbitOptics.h"
#include "core/orbit/OrbitResponse.h"
#include "core/orbit/OrbitRing.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <utility>

namespace kestrune {

namespace {

SeedOutcome runSeed(const State& state, const ErrorSet& set, std::uint64_t seed,
                    const std::optional<OrbitCorrectionSettings>& correction, double designTune1,
                    double designTune2, const std::function<void(const State&, SeedOutcome&)>& measure)
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
        OrbitCorrectionSettings settings = *correction;
        settings.seed = seed;
        const OrbitCorrection c = correctOrbit(work, settings);
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
    const ModeEmittances modes = orbitModeEmittances(work, optics);
    out.modeEmittance = modes.emittance;
    out.modeRefusal = modes.refusal;
    out.computed = true;
    if (measure)
        measure(work, out);
    return out;
}

} // namespace

std::vector<SeedOutcome> runErrorSeeds(const State& state, const ErrorSet& set, std::uint64_t first,
                                       int count, const std::optional<OrbitCorrectionSettings>& correction,
                                       const SeedStudy& study)
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
    const int n = std::clamp(count, 0, kMaxErrorSeeds);
    const int parts = std::max(study.part.count, 1);
    const int ours = n / parts + (study.part.index - 1 < n % parts ? 1 : 0);
    std::vector<SeedOutcome> seeds;
    seeds.reserve(static_cast<std::size_t>(std::max(ours, 0)));
    for (int k = 0; k < n; ++k) {
        if (study.cancel && study.cancel->load())
            break;
        if (!study.part.holds(k))
            continue;
        SeedOutcome outcome = runSeed(state, set, first + static_cast<std::uint64_t>(k), settings,
                                      reference.computed ? reference.tune1 : 0,
                                      reference.computed ? reference.tune2 : 0, study.measure);
        if (!reference.computed && outcome.computed) {
            outcome.computed = false;
            outcome.refusal = "the design has no optics to compare with: " + reference.refusal;
        }
        // a seed whose measurement was cut short is left out
        if (study.cancel && study.cancel->load())
            break;
        seeds.push_back(std::move(outcome));
        if (study.progress)
            study.progress(static_cast<double>(seeds.size()) / ours);
    }
    return seeds;
}

std::vector<SeedOutcome> runErrorSeeds(const State& state, const ErrorSet& set, std::uint64_t first,
                                       int count, const std::optional<OrbitCorrectionSettings>& correction,
                                       const std::function<bool(int)>& progress)
{
    std::atomic<bool> stop{false};
    SeedStudy study;
    study.cancel = &stop;
    study.progress = [&](double fraction) {
        if (progress &&
            !progress(static_cast<int>(std::lround(fraction * std::clamp(count, 0, kMaxErrorSeeds)))))
            stop = true;
    };
    return runErrorSeeds(state, set, first, count, correction, study);
}

std::vector<SeedQuantity> seedQuantities(const SeedOutcome& s)
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
    std::vector<SeedQuantity> list;
    for (const auto& [name, field] : fields) {
        const std::string key = name;
        const bool afterCorrection = key.rfind("corrected_", 0) == 0 || key.rfind("kick_", 0) == 0;
        const bool has = s.computed && (s.corrected || !afterCorrection);
        list.push_back({name, has ? std::optional<double>(s.*field) : std::nullopt});
    }
    const char* const modes[3] = {"emittance_1_m", "emittance_2_m", "emittance_3_m"};
    for (std::size_t k = 0; k < 3; ++k)
        list.push_back({modes[k], s.computed ? s.modeEmittance[k] : std::nullopt});
    for (const SeedQuantity& q : s.measured)
        list.push_back({q.name, s.computed ? q.value : std::nullopt});
    return list;
}

SeedStatistics seedStatistics(const std::vector<std::vector<SeedQuantity>>& computedSeeds)
{
    SeedStatistics stats;
    stats.computed = static_cast<int>(computedSeeds.size());
    // sums in the order of the seeds, so that the statistics of a study run in parts are those of one run
    std::vector<std::pair<double, double>> sums;
    for (const std::vector<SeedQuantity>& seed : computedSeeds)
        for (const SeedQuantity& q : seed) {
            auto at = std::find_if(stats.quantities.begin(), stats.quantities.end(),
                                   [&q](const auto& named) { return named.first == q.name; });
            if (at == stats.quantities.end()) {
                stats.quantities.emplace_back(q.name, SeedStatistic{});
                sums.emplace_back(0.0, 0.0);
                at = stats.quantities.end() - 1;
            }
            if (!q.value || !std::isfinite(*q.value))
                continue;
            const auto k = static_cast<std::size_t>(at - stats.quantities.begin());
            SeedStatistic& stat = at->second;
            sums[k].first += *q.value;
            sums[k].second += *q.value * *q.value;
            stat.max = std::max(stat.max, std::fabs(*q.value));
            ++stat.count;
        }
    for (std::size_t k = 0; k < sums.size(); ++k) {
        SeedStatistic& stat = stats.quantities[k].second;
        if (stat.count > 0) {
            stat.mean = sums[k].first / stat.count;
            stat.rms = std::sqrt(sums[k].second / stat.count);
        }
    }
    return stats;
}

SeedStatistics seedStatistics(const std::vector<SeedOutcome>& seeds)
{
    std::vector<std::vector<SeedQuantity>> computed;
    for (const SeedOutcome& s : seeds)
        if (s.computed)
            computed.push_back(seedQuantities(s));
    return seedStatistics(computed);
}

} // namespace kestrune
