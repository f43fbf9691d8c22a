#include "cli/OrbitBatch.h"

#include <algorithm>
#include <cmath>

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

} // namespace

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

std::optional<OrbitCorrection> runOrbitCorrection(State& state, Messages& messages, int count)
{
    const OrbitCorrection correction = correctOrbit(state, count);
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
    Json values = Json::array();
    for (double s : correction->singularValues)
        values.push_back(reportNumber(s));
    return {{"singular_values", values},
            {"used", correction->used},
            {"iterations", correction->iterations},
            {"rms_before_x_m", reportNumber(correction->rmsBeforeX)},
            {"rms_before_y_m", reportNumber(correction->rmsBeforeY)},
            {"rms_after_x_m", reportNumber(correction->rmsAfterX)},
            {"rms_after_y_m", reportNumber(correction->rmsAfterY)}};
}

} // namespace kestrune
