#include "cli/ApertureBatch.h"

#include "cli/RingReport.h"
#include "cli/VacuumLifetimeBatch.h"
#include "core/NumberInput.h"
#include "core/aperture/ScanLimits.h"
#include "core/lifetime/LocalTouschek.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <set>
#include <stdexcept>

namespace kestrune {

namespace {

constexpr ScanLimit kThreadsLimit{0, 1024};

// The keys of a section that hold one value per item of the scan, and what is derived from them; the
// rest describes the scan and is the same in every part.
struct SectionKeys
{
    std::vector<const char*> items;
    std::vector<const char*> derived;
};
const SectionKeys kRadialKeys{{"radius_mm"}, {"x_mm", "y_mm", "x_sigma", "y_sigma", "area_mm2"}};
const SectionKeys kGridKeys{{"turns_survived", "lost"}, {"area_mm2"}};
const SectionKeys kAcceptanceKeys{{"delta_plus", "delta_minus"}, {"smallest_acceptance"}};

double number(const char* option, const std::string& text, const ScanLimit& limit, bool whole = false)
{
    double value = 0;
    try {
        value = whole ? parseInt(text) : parseDouble(text);
    } catch (const ConversionError& e) {
        throw BatchUsageError(std::string(option) + ": " + e.what());
    }
    if (const std::optional<std::string> refusal = limitRefusal(option, value, limit, whole))
        throw BatchUsageError(*refusal);
    return value;
}

int whole(const char* option, const std::string& text, const ScanLimit& limit)
{
    return static_cast<int>(number(option, text, limit, true));
}

ScanPart parsePart(const std::string& text)
{
    const std::size_t slash = text.find('/');
    if (slash == std::string::npos)
        throw BatchUsageError("--part: '" + text + "' is not K/N");
    ScanPart part;
    part.count = whole("--part", text.substr(slash + 1), kPartsLimit);
    part.index = whole("--part", text.substr(0, slash), {1, static_cast<double>(part.count)});
    return part;
}

double nan()
{
    return std::numeric_limits<double>::quiet_NaN();
}

Json numbers(const std::vector<double>& values, double scale = 1)
{
    Json list = Json::array();
    for (double v : values)
        list.push_back(reportNumber(v * scale));
    return list;
}

std::vector<double> values(const Json& list)
{
    std::vector<double> v;
    for (const Json& x : list)
        v.push_back(x.is_number() ? x.get<double>() : nan());
    return v;
}

Json apertureKeys(const Aperture& a)
{
    return {{"aperture_x_mm", reportNumber(a.x * 1000)}, {"aperture_y_mm", reportNumber(a.y * 1000)}};
}

Json orbitKeys(const PhaseVector& orbit)
{
    return {{"orbit_x_mm", reportNumber(orbit.x * 1000)},
            {"orbit_px_mrad", reportNumber(orbit.px * 1000)},
            {"orbit_y_mm", reportNumber(orbit.y * 1000)},
            {"orbit_py_mrad", reportNumber(orbit.py * 1000)}};
}

// The radial section's boundary, in sigmas and the area, from its numbers as they stand in the JSON, so
// that joined parts give the digits of a run in one piece.
Json withRadialBoundary(Json section)
{
    const std::vector<double> angles = values(section["angles_rad"]);
    const std::vector<double> radius = values(section["radius_mm"]);
    const double sigmaX = section["sigma_x_mm"].is_number() ? section["sigma_x_mm"].get<double>() : nan();
    const double sigmaY = section["sigma_y_mm"].is_number() ? section["sigma_y_mm"].get<double>() : nan();
    std::vector<double> x, y, xs, ys;
    for (std::size_t i = 0; i < radius.size(); ++i) {
        x.push_back(radius[i] * std::cos(angles[i]));
        y.push_back(radius[i] * std::sin(angles[i]));
        xs.push_back(x.back() / sigmaX);
        ys.push_back(y.back() / sigmaY);
    }
    section["x_mm"] = numbers(x);
    section["y_mm"] = numbers(y);
    section["x_sigma"] = numbers(xs);
    section["y_sigma"] = numbers(ys);
    section["area_mm2"] = reportNumber(apertureArea(angles, radius));
    return section;
}

Json radialSection(const DynamicAperture& da, const DynamicApertureSettings& s)
{
    Json section = {{"turns", s.turns},
                    {"delta", reportNumber(s.delta)},
                    {"resolution_mm", reportNumber(s.resolution * 1000)}};
    section.update(apertureKeys(s.aperture));
    section.update(orbitKeys(da.orbit));
    section["sigma_x_mm"] = reportNumber(da.sigmaX * 1000);
    section["sigma_y_mm"] = reportNumber(da.sigmaY * 1000);
    section["angles_rad"] = numbers(da.angles);
    section["radius_mm"] = numbers(da.radius, 1000);
    return withRadialBoundary(section);
}

Json withGridArea(Json section)
{
    ApertureGridSettings s; // in mm: the area comes out in mm^2
    s.nx = section["nx"].get<int>();
    s.ny = section["ny"].get<int>();
    s.xMax = section["x_max_mm"].get<double>();
    s.yMax = section["y_max_mm"].get<double>();
    ApertureGrid grid;
    for (const Json& t : section["turns_survived"])
        grid.turns.push_back(t.is_number() ? t.get<int>() : -1);
    for (const Json& l : section["lost"])
        grid.lost.push_back(l.is_boolean() && l.get<bool>());
    section["area_mm2"] = reportNumber(gridArea(grid, s));
    return section;
}

Json gridSection(const ApertureGrid& grid, const ApertureGridSettings& s)
{
    Json section = {{"turns", s.turns},
                    {"delta", reportNumber(s.delta)},
                    {"nx", s.nx},
                    {"ny", s.ny},
                    {"x_max_mm", reportNumber(s.xMax * 1000)},
                    {"y_max_mm", reportNumber(s.yMax * 1000)}};
    section.update(apertureKeys(s.aperture));
    section.update(orbitKeys(grid.orbit));
    section["x_mm"] = numbers(grid.x, 1000);
    section["y_mm"] = numbers(grid.y, 1000);
    Json turns = Json::array(), lost = Json::array();
    for (std::size_t k = 0; k < grid.turns.size(); ++k) {
        const bool computed = grid.turns[k] >= 0;
        turns.push_back(computed ? Json(grid.turns[k]) : Json(nullptr));
        lost.push_back(computed ? Json(static_cast<bool>(grid.lost[k])) : Json(nullptr));
    }
    section["turns_survived"] = turns;
    section["lost"] = lost;
    return withGridArea(section);
}

Json withAcceptanceSummary(Json section)
{
    const std::vector<double> plus = values(section["delta_plus"]);
    const std::vector<double> minus = values(section["delta_minus"]);
    double smallest = std::numeric_limits<double>::infinity();
    for (std::size_t k = 0; k < plus.size(); ++k)
        smallest = std::min({smallest, plus[k], -minus[k]});
    section["smallest_acceptance"] = plus.empty() ? Json(nullptr) : reportNumber(smallest);
    return section;
}

Json acceptanceSection(const MomentumAcceptance& ma, const MomentumAcceptanceSettings& s)
{
    Json section = {{"turns", s.turns}, {"resolution", reportNumber(s.resolution)}, {"every", s.every}};
    section.update(apertureKeys(s.aperture));
    section["rf_acceptance"] = reportNumber(ma.rfAcceptance);
    section["elements"] = ma.elements;
    section["s_m"] = numbers(ma.s);
    section["delta_plus"] = numbers(ma.deltaPlus);
    section["delta_minus"] = numbers(ma.deltaMinus);
    return withAcceptanceSummary(section);
}

Json described(Json section, const SectionKeys& keys)
{
    for (const std::vector<const char*>* list : {&keys.items, &keys.derived})
        for (const char* key : *list)
            section.erase(key);
    return section;
}

// Joins the item lists of one section over the parts: item i from the part that holds it.
Json joinSection(const std::vector<Json>& parts, const std::vector<std::string>& names, const char* key,
                 const SectionKeys& keys)
{
    Json joined = parts[0][key];
    const Json scan = described(joined, keys);
    for (std::size_t p = 0; p < parts.size(); ++p) {
        const Json& section = parts[p].contains(key) ? parts[p][key] : Json(nullptr);
        if (!section.is_object() || described(section, keys) != scan)
            throw std::runtime_error(names[p] + ": its " + key + " is not a part of the same scan");
        const ScanPart part{parts[p]["part"].get<int>(), parts[p]["parts"].get<int>()};
        for (const char* item : keys.items) {
            if (!section[item].is_array() || section[item].size() != joined[item].size())
                throw std::runtime_error(names[p] + ": its " + key + " is not a part of the same scan");
            for (std::size_t i = 0; i < section[item].size(); ++i)
                if (part.holds(static_cast<int>(i)))
                    joined[item][i] = section[item][i];
        }
    }
    return joined;
}

} // namespace

ApertureScans apertureScans(const ApertureRequest& request)
{
    ApertureScans s;
    const Aperture aperture{number("--physical-aperture", request.aperture.at(0), kApertureLimit) / 1000,
                            number("--physical-aperture", request.aperture.at(1), kApertureLimit) / 1000};
    const int turns = whole("--da-turns", request.turns, kTurnsLimit);
    const double delta = number("--da-delta", request.deltaPercent, kDeltaPercentLimit) / 100;
    s.radial.angles = whole("--da-angles", request.angles, kAnglesLimit);
    s.radial.turns = turns;
    s.radial.delta = delta;
    s.radial.resolution = number("--da-resolution", request.resolutionMm, kRadialResolutionLimit) / 1000;
    s.radial.aperture = aperture;
    if (!request.grid.empty()) {
        s.grid.nx = whole("--da-grid", request.grid.at(0), kGridPointsLimit);
        s.grid.ny = whole("--da-grid", request.grid.at(1), kGridPointsLimit);
        s.grid.xMax = number("--da-grid", request.grid.at(2), kGridExtentLimit) / 1000;
        s.grid.yMax = number("--da-grid", request.grid.at(3), kGridExtentLimit) / 1000;
    }
    s.grid.turns = turns;
    s.grid.delta = delta;
    s.grid.aperture = aperture;
    s.acceptance.turns = whole("--ma-turns", request.maTurns, kTurnsLimit);
    s.acceptance.resolution =
        number("--ma-resolution", request.maResolutionPercent, kMomentumResolutionLimit) / 100;
    s.acceptance.every = whole("--ma-every", request.every, kEveryLimit);
    s.acceptance.aperture = aperture;
    s.threads = whole("--threads", request.threads, kThreadsLimit);
    if (!request.part.empty()) {
        if (!request.anyScan())
            throw BatchUsageError("--part goes with --dynamic-aperture, --da-grid or --momentum-acceptance");
        s.part = parsePart(request.part);
    }
    s.radial.part = s.grid.part = s.acceptance.part = s.part;
    return s;
}

bool runApertureScans(State& state, Messages& messages, const BatchInputs& inputs, const ApertureScans& scans,
                      const ApertureRequest& request, Json& sections, const ScanControl& watch)
{
    State ring = state;
    QuietMessages quiet; // the ring section says what the ring computation found
    computeRing(ring, quiet, inputs);
    const std::optional<ApertureRing> r = apertureRing(ring, messages);
    ScanControl control = watch;
    control.threads = scans.threads;
    bool done = r.has_value();
    if (request.dynamicAperture)
        sections["dynamic_aperture"] =
            r ? radialSection(dynamicAperture(*r, scans.radial, control), scans.radial) : Json(nullptr);
    if (!request.grid.empty())
        sections["dynamic_aperture_grid"] =
            r ? gridSection(apertureGrid(*r, scans.grid, control), scans.grid) : Json(nullptr);
    if (request.momentumAcceptance) {
        sections["momentum_acceptance"] = nullptr;
        if (r && checkAcceptanceRing(*r, messages)) {
            const MomentumAcceptance ma = momentumAcceptance(*r, scans.acceptance, control);
            sections["momentum_acceptance"] = acceptanceSection(ma, scans.acceptance);
            state.localAcceptance = {ma.elements, ma.s, ma.deltaPlus, ma.deltaMinus,
                                     trackingFingerprint(ring)};
        } else {
            done = false;
        }
    }
    return done;
}

Json partDocument(const ApertureScans& scans, const Json& sections)
{
    Json document = {{"part", scans.part.index}, {"parts", scans.part.count}};
    document.update(sections);
    return document;
}

Json mergeParts(const std::vector<Json>& parts, const std::vector<std::string>& names)
{
    std::set<int> seen;
    for (std::size_t p = 0; p < parts.size(); ++p) {
        const Json& d = parts[p];
        if (!d.is_object() || !d.contains("part") || !d.contains("parts") || !d["part"].is_number_integer() ||
            !d["parts"].is_number_integer())
            throw std::runtime_error(names[p] + ": not a part written by --part");
        if (d["parts"] != parts[0]["parts"])
            throw std::runtime_error(names[p] + ": a part of " + d["parts"].dump() + " parts, not of " +
                                     parts[0]["parts"].dump());
        if (!seen.insert(d["part"].get<int>()).second)
            throw std::runtime_error(names[p] + ": piece " + d["part"].dump() + " is there twice");
    }
    const int count = parts.empty() ? 0 : parts[0]["parts"].get<int>();
    for (int k = 1; k <= count; ++k)
        if (!seen.count(k))
            throw std::runtime_error("piece " + std::to_string(k) + " of " + std::to_string(count) +
                                     " is missing");
    Json merged = Json::object();
    if (parts.empty())
        return merged;
    if (parts[0].contains("dynamic_aperture"))
        merged["dynamic_aperture"] =
            withRadialBoundary(joinSection(parts, names, "dynamic_aperture", kRadialKeys));
    if (parts[0].contains("dynamic_aperture_grid"))
        merged["dynamic_aperture_grid"] =
            withGridArea(joinSection(parts, names, "dynamic_aperture_grid", kGridKeys));
    if (parts[0].contains("momentum_acceptance"))
        merged["momentum_acceptance"] =
            withAcceptanceSummary(joinSection(parts, names, "momentum_acceptance", kAcceptanceKeys));
    return merged;
}

void addLocalTouschek(Json& report, const State& state, const BatchInputs& inputs, Messages& messages)
{
    if (state.localAcceptance.empty() || !report.contains("lifetime") || !report["lifetime"].is_object())
        return;
    LifetimeBoxes boxes;
    std::vector<std::string> defaults;
    State s = preparedLifetime(state, inputs, boxes, defaults);
    std::optional<LocalTouschekUpdate> update;
    try {
        update = runLocalTouschekUpdate(s, boxes, messages);
    } catch (const ConversionError& e) {
        messages.error(e.what());
    }
    report["lifetime"]["touschek_local_acceptance_s"] =
        update && update->lifetime ? reportNumber(*update->lifetime) : Json(nullptr);
}

} // namespace kestrune
