#include "cli/OrbitBatch.h"

#include "core/orbit/OrbitOptics.h"

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

namespace kestrune {

namespace {

bool kicked(const BeamLine& line)
{
    for (int i = 1; i <= line.count && i <= kMaxLineElements; ++i) {
        const LatticeElement& e = line.at(i);
        if (e.hkick != 0 || e.vkick != 0 || (!e.knl.empty() && e.knl[0] != 0) ||
            (!e.ksl.empty() && e.ksl[0] != 0))
            return true;
    }
    return false;
}

bool withErrors(const BeamLine& line)
{
    for (int i = 1; i <= line.count && i <= kMaxLineElements; ++i)
        if (line.at(i).errors.any())
            return true;
    return false;
}

Json orbitSpreadJson(const BeamLine& line, const ClosedOrbit& orbit)
{
    const OrbitSpread spread = orbitSpread(line, orbit);
    return {{"x_rms_m", reportNumber(spread.xRms)},
            {"y_rms_m", reportNumber(spread.yRms)},
            {"x_max_m", reportNumber(spread.xMax)},
            {"y_max_m", reportNumber(spread.yMax)}};
}

} // namespace

Json closedOrbitSection(const State& state)
{
    if (!kicked(state.line) && !withErrors(state.line))
        return nullptr;
    // with cavities the orbit of the whole turn with the rf on, its momentum deviation and path length
    ClosedOrbit orbit = closedOrbit6D(state);
    const bool rf = orbit.found || orbit.refusal != "no closed orbit: the ring has no rf cavity";
    if (!rf)
        orbit = closedOrbit(state);
    Json section = {{"found", orbit.found}, {"rf_on", rf}};
    if (!orbit.found) {
        section["message"] = orbit.refusal;
        return section;
    }
    const PhaseVector& p = orbit.orbit.front();
    section["at_start"] = Json::array({reportNumber(p.x), reportNumber(p.px), reportNumber(p.y),
                                       reportNumber(p.py), reportNumber(p.delta), reportNumber(p.l)});
    section.update(orbitSpreadJson(state.line, orbit));
    const OrbitOptics optics = orbitOptics(state);
    const auto value = [&optics](double v) { return optics.computed ? reportNumber(v) : Json(nullptr); };
    section["tune_x"] = value(optics.tune1);
    section["tune_y"] = value(optics.tune2);
    section["beta_beat_x_rms"] = value(optics.betaBeatXRms);
    section["beta_beat_y_rms"] = value(optics.betaBeatYRms);
    section["dispersion_y_rms_m"] = value(optics.dispersionYRms);
    section["message"] = optics.computed ? Json(nullptr) : Json(optics.refusal);
    return section;
}

Json orbitSection(const State& state)
{
    if (!kicked(state.line))
        return {{"kicked", false}};
    const ClosedOrbit orbit = closedOrbit(state);
    Json section = {{"kicked", true}, {"found", orbit.found}, {"iterations", orbit.iterations}};
    if (!orbit.found) {
        section["message"] = orbit.refusal;
        return section;
    }
    const PhaseVector& start = orbit.orbit.front();
    section["x_m"] = reportNumber(start.x);
    section["px"] = reportNumber(start.px);
    section["y_m"] = reportNumber(start.y);
    section["py"] = reportNumber(start.py);
    // the readings at the centres of the monitors
    double sumX = 0, sumY = 0, maxX = 0, maxY = 0;
    int monitors = 0;
    for (int i = 1; i <= state.line.count && i <= kMaxLineElements; ++i) {
        const int c = state.line.at(i).code;
        if (c < code::kHorizontalMonitor || c > code::kMonitor)
            continue;
        const std::size_t k = static_cast<std::size_t>(i);
        const double x = (orbit.orbit[k - 1].x + orbit.orbit[k].x) / 2;
        const double y = (orbit.orbit[k - 1].y + orbit.orbit[k].y) / 2;
        sumX += x * x;
        sumY += y * y;
        maxX = std::max(maxX, std::fabs(x));
        maxY = std::max(maxY, std::fabs(y));
        ++monitors;
    }
    section["monitors"] = monitors;
    section["rms_x_m"] = monitors > 0 ? reportNumber(std::sqrt(sumX / monitors)) : Json(nullptr);
    section["rms_y_m"] = monitors > 0 ? reportNumber(std::sqrt(sumY / monitors)) : Json(nullptr);
    section["max_x_m"] = monitors > 0 ? reportNumber(maxX) : Json(nullptr);
    section["max_y_m"] = monitors > 0 ? reportNumber(maxY) : Json(nullptr);
    section["message"] = nullptr;
    return section;
}

namespace {

// The settings of an orbit-correction request; nothing, with the message, for options that do not fit.
std::optional<OrbitCorrectionSettings> correctionSettings(const OrbitCorrectionRequest& request,
                                                          std::string& refusal)
{
    OrbitCorrectionSettings settings;
    settings.kickLimit = request.limit;
    if (request.method == "micado") {
        settings.method = CorrectionMethod::Micado;
        if (request.singularValues >= 0)
            refusal = "--singular-values goes with --correct-orbit svd";
        else if (request.kickers < 1)
            refusal = "--correct-orbit micado needs --kickers N (N at least 1)";
        settings.kickers = request.kickers;
    } else if (request.method == "svd") {
        if (request.kickers >= 0)
            refusal = "--kickers goes with --correct-orbit micado";
        settings.singularValues = std::max(request.singularValues, 0);
    } else {
        if (request.kickers >= 0 || request.singularValues >= 0)
            refusal = "--kickers and --singular-values go with --correct-orbit svd or micado";
        settings.singularValues = std::stoi(request.method);
    }
    if (!refusal.empty())
        return std::nullopt;
    return settings;
}

Json kickerList(const std::vector<KickerKick>& kicks, bool KickerKick::*flag)
{
    Json list = Json::array();
    for (const KickerKick& k : kicks)
        if (k.*flag)
            list.push_back({{"name", k.name}, {"element", k.element}, {"plane", k.horizontal ? "x" : "y"}});
    return list;
}

} // namespace

std::optional<OrbitCorrection> runOrbitCorrection(State& state, Messages& messages,
                                                  const OrbitCorrectionRequest& request)
{
    std::string refusal;
    const std::optional<OrbitCorrectionSettings> settings = correctionSettings(request, refusal);
    if (!settings) {
        messages.error("--correct-orbit: " + refusal);
        return std::nullopt;
    }
    const OrbitCorrection correction = correctOrbit(state, *settings);
    if (!correction.done) {
        messages.error("--correct-orbit: " + correction.refusal);
        return std::nullopt;
    }
    return correction;
}

Json orbitCorrectionSection(const std::optional<OrbitCorrection>& correction)
{
    if (!correction)
        return nullptr;
    const OrbitCorrection& c = *correction;
    Json values = Json::array();
    for (double s : c.singularValues)
        values.push_back(reportNumber(s));
    return {{"method", c.method == CorrectionMethod::Micado ? "micado" : "svd"},
            {"singular_values", values},
            {"used", c.used},
            {"iterations", c.iterations},
            {"monitors", c.monitors},
            {"rms_before_x_m", reportNumber(c.rmsBeforeX)},
            {"rms_before_y_m", reportNumber(c.rmsBeforeY)},
            {"rms_after_x_m", reportNumber(c.rmsAfterX)},
            {"rms_after_y_m", reportNumber(c.rmsAfterY)},
            {"max_before_x_m", reportNumber(c.maxBeforeX)},
            {"max_before_y_m", reportNumber(c.maxBeforeY)},
            {"max_after_x_m", reportNumber(c.maxAfterX)},
            {"max_after_y_m", reportNumber(c.maxAfterY)},
            {"kickers_used", kickerList(c.kicks, &KickerKick::used)},
            {"capped", kickerList(c.kicks, &KickerKick::capped)},
            {"kick_rms_rad", reportNumber(c.kickRms)},
            {"kick_max_rad", reportNumber(c.kickMax)}};
}

Json correctedOrbit(const OrbitCorrection& correction)
{
    return {{"x_rms_m", reportNumber(correction.rmsAfterX)},
            {"y_rms_m", reportNumber(correction.rmsAfterY)},
            {"x_max_m", reportNumber(correction.maxAfterX)},
            {"y_max_m", reportNumber(correction.maxAfterY)},
            {"kick_rms_rad", reportNumber(correction.kickRms)},
            {"kick_max_rad", reportNumber(correction.kickMax)}};
}

std::optional<Json> seedsSection(const State& design, const ErrorSet& set, std::uint64_t first, int count,
                                 const OrbitCorrectionRequest& correction, Messages& messages)
{
    std::optional<OrbitCorrectionSettings> settings;
    if (!correction.method.empty()) {
        std::string refusal;
        settings = correctionSettings(correction, refusal);
        if (!settings) {
            messages.error("--correct-orbit: " + refusal);
            return std::nullopt;
        }
    }
    const std::vector<SeedOutcome> seeds = runErrorSeeds(design, set, first, count, settings);
    Json list = Json::array();
    for (const SeedOutcome& o : seeds) {
        Json one = {{"seed", o.seed}, {"computed", o.computed}, {"message", nullptr}};
        if (!o.computed)
            one["message"] = o.refusal;
        const auto value = [&](double v) { return o.computed ? reportNumber(v) : Json(nullptr); };
        const auto after = [&](double v) {
            return o.computed && o.corrected ? reportNumber(v) : Json(nullptr);
        };
        one["x_rms_m"] = value(o.xRms);
        one["y_rms_m"] = value(o.yRms);
        one["x_max_m"] = value(o.xMax);
        one["y_max_m"] = value(o.yMax);
        one["corrected_x_rms_m"] = after(o.xRmsAfter);
        one["corrected_y_rms_m"] = after(o.yRmsAfter);
        one["corrected_x_max_m"] = after(o.xMaxAfter);
        one["corrected_y_max_m"] = after(o.yMaxAfter);
        one["kick_rms_rad"] = after(o.kickRms);
        one["kick_max_rad"] = after(o.kickMax);
        one["tune_shift_1"] = value(o.tuneShift1);
        one["tune_shift_2"] = value(o.tuneShift2);
        one["beta_beat_x_rms"] = value(o.betaBeatXRms);
        one["beta_beat_y_rms"] = value(o.betaBeatYRms);
        one["dispersion_y_rms_m"] = value(o.dispersionYRms);
        list.push_back(one);
    }
    const SeedStatistics stats = seedStatistics(seeds);
    Json statistics = Json::object();
    for (const auto& [name, q] : stats.quantities) {
        const bool kept = settings || (name.rfind("corrected_", 0) != 0 && name.rfind("kick_", 0) != 0);
        statistics[name] = kept && stats.computed > 0 ? Json{{"mean", reportNumber(q.mean)},
                                                             {"rms", reportNumber(q.rms)},
                                                             {"max", reportNumber(q.max)}}
                                                      : Json(nullptr);
    }
    return Json{{"first", first},
                {"count", static_cast<int>(seeds.size())},
                {"computed", stats.computed},
                {"corrected", settings.has_value()},
                {"per_seed", list},
                {"statistics", statistics}};
}

} // namespace kestrune
