#include "cli/OrbitBatch.h"

#include "cli/CouplingReport.h"
#include "core/Format.h"
#include "core/NamePattern.h"
#include "core/orbit/OrbitOptics.h"
#include "core/orbit/OrbitRing.h"

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

namespace kestrune {

namespace {

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
    if (!lineKicks(state.line) && !lineHasErrors(state.line))
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
    const OrbitChromaticity chromaticity =
        optics.computed ? orbitChromaticity(state) : OrbitChromaticity{false, optics.refusal};
    const auto slope = [&chromaticity](double v) {
        return chromaticity.computed ? reportNumber(v) : Json(nullptr);
    };
    section["chromaticity_x"] = slope(chromaticity.chromaticity1);
    section["chromaticity_y"] = slope(chromaticity.chromaticity2);
    // the equilibrium of the machine with its errors: the mode emittances about the orbit, as the seeds'
    // study and the ring window have them (null without rf or where a mode is not damped)
    ModeEmittances modes;
    const std::optional<State> ring =
        optics.computed ? modeEmittanceRing(state, modes.refusal) : std::nullopt;
    if (ring)
        modes = orbitModeEmittances(*ring, optics);
    const char* const modeKeys[] = {"emittance_1_m", "emittance_2_m", "emittance_3_m"};
    for (std::size_t k = 0; k < 3; ++k)
        section[modeKeys[k]] =
            modes.computed && modes.emittance[k] ? reportNumber(*modes.emittance[k]) : Json(nullptr);
    section["message"] = optics.computed ? chromaticity.computed ? Json(nullptr) : Json(chromaticity.refusal)
                                         : Json(optics.refusal);
    return section;
}

Json orbitSection(const State& state)
{
    if (!lineKicks(state.line))
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

// The monitors of --monitors-off: the names of the list as given (the correction refuses one the line
// has no monitor of), the line's monitors for an entry with a pattern character.
bool monitorsOff(const std::string& text, const BeamLine& line, std::vector<std::string>& names,
                 std::string& refusal)
{
    std::size_t from = 0;
    while (from <= text.size()) {
        const std::size_t comma = std::min(text.find(',', from), text.size());
        const std::string entry = text.substr(from, comma - from);
        from = comma + 1;
        if (entry.empty())
            continue;
        if (entry.find_first_of("^$.[*\\") == std::string::npos) {
            names.push_back(entry);
            continue;
        }
        std::string problem;
        const std::optional<NamePattern> pattern = compileNamePattern(entry, problem);
        if (!pattern) {
            refusal = "--monitors-off: '" + excerpt(entry) + "': " + problem;
            return false;
        }
        bool matched = false;
        for (int i = 1; i <= line.count && i <= kMaxLineElements; ++i) {
            const LatticeElement& e = line.at(i);
            if (e.code >= code::kHorizontalMonitor && e.code <= code::kMonitor &&
                matchesName(*pattern, e.name)) {
                names.push_back(e.name);
                matched = true;
            }
        }
        if (!matched) {
            refusal = "--monitors-off: '" + excerpt(entry) + "' matches no monitor of the line";
            return false;
        }
    }
    return true;
}

} // namespace

std::optional<OrbitCorrectionSettings> orbitCorrectionSettings(const OrbitCorrectionRequest& request,
                                                               const BeamLine& line, std::uint64_t noiseSeed,
                                                               std::string& refusal)
{
    OrbitCorrectionSettings settings;
    settings.readNoise = request.noise;
    settings.seed = noiseSeed;
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
    if (refusal.empty() && !monitorsOff(request.monitorsOff, line, settings.monitorsOff, refusal))
        return std::nullopt;
    if (!refusal.empty())
        return std::nullopt;
    return settings;
}

namespace {

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
                                                  const OrbitCorrectionRequest& request,
                                                  std::uint64_t noiseSeed)
{
    std::string refusal;
    const std::optional<OrbitCorrectionSettings> settings =
        orbitCorrectionSettings(request, state.line, noiseSeed, refusal);
    if (!settings) {
        messages.error(refusal.rfind("--monitors-off", 0) == 0 ? refusal : "--correct-orbit: " + refusal);
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

} // namespace kestrune
