#include "cli/ApertureBatch.h"

#include "cli/BatchProgress.h"
#include "cli/RingReport.h"
#include "cli/SeedsBatch.h"
#include "cli/VacuumLifetimeBatch.h"
#include "core/Format.h"
#include "core/NumberInput.h"
#include "core/aperture/Bisection.h"
#include "core/aperture/ScanLimits.h"
#include "core/lifetime/LocalTouschek.h"
#include "core/nonlinear/FrequencyMapCsv.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <set>
#include <stdexcept>

namespace kestrune {

namespace {

constexpr ScanLimit kThreadsLimit{0, 256}; // beyond the cores of any machine the scans run on

// Most particle turns one run plans: a turn of one particle through a ring of a few hundred elements
// takes about a microsecond on one core, so that this is a run of a few hours; larger studies go in parts.
constexpr double kMaxParticleTurns = 1e10;

// The refusal of scans that plan more particle turns (particles, the part's share, times turns) than
// a run takes; empty when they fit.
std::string workRefusal(const std::string& options, double particles, int turns, int parts)
{
    const double work = particles / parts * turns;
    if (work <= kMaxParticleTurns)
        return {};
    return options + ": " + fmt("%.3g", work) + " particle turns, more than the " +
           fmt("%.0e", kMaxParticleTurns) + " of one run (a few hours); split the study with --part K/N";
}

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
const SectionKeys kMapKeys{{"lost", "lost_turn", "qx1", "qy1", "qx2", "qy2", "diffusion"}, {}};

// What a part file's field must hold for the merge to take it.
enum class Field {
    Number,      // a number
    NumberOrNull // a number, or null where the scan found none
};
struct FieldRule
{
    const char* key;
    Field kind;
};
const FieldRule kRadialFields[] = {{"delta", Field::Number},
                                   {"resolution_mm", Field::Number},
                                   {"aperture_x_mm", Field::Number},
                                   {"aperture_y_mm", Field::Number},
                                   {"orbit_x_mm", Field::NumberOrNull},
                                   {"orbit_px_mrad", Field::NumberOrNull},
                                   {"orbit_y_mm", Field::NumberOrNull},
                                   {"orbit_py_mrad", Field::NumberOrNull},
                                   {"sigma_x_mm", Field::NumberOrNull},
                                   {"sigma_y_mm", Field::NumberOrNull}};
const FieldRule kGridFields[] = {{"delta", Field::Number},
                                 {"x_max_mm", Field::Number},
                                 {"y_max_mm", Field::Number},
                                 {"aperture_x_mm", Field::Number},
                                 {"aperture_y_mm", Field::Number},
                                 {"orbit_x_mm", Field::NumberOrNull},
                                 {"orbit_px_mrad", Field::NumberOrNull},
                                 {"orbit_y_mm", Field::NumberOrNull},
                                 {"orbit_py_mrad", Field::NumberOrNull}};
const FieldRule kMapFields[] = {{"delta", Field::Number},
                                {"x_max_mm", Field::Number},
                                {"y_max", Field::Number},
                                {"aperture_x_mm", Field::Number},
                                {"aperture_y_mm", Field::Number}};
const FieldRule kAcceptanceFields[] = {{"resolution", Field::Number},
                                       {"aperture_x_mm", Field::Number},
                                       {"aperture_y_mm", Field::Number},
                                       {"rf_acceptance", Field::NumberOrNull}};

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

const char* planeName(FrequencyMapPlane plane)
{
    return plane == FrequencyMapPlane::XY ? "xy" : "x-delta";
}

Json mapSection(const FrequencyMap& map, const FrequencyMapSettings& s)
{
    const bool xy = s.plane == FrequencyMapPlane::XY;
    Json section = {{"turns", s.turns},
                    {"plane", planeName(s.plane)},
                    {"per_turn", s.perTurn},
                    {"delta", reportNumber(xy ? s.delta : 0.0)},
                    {"nx", s.nx},
                    {"ny", s.ny},
                    {"x_max_mm", reportNumber(s.xMax * 1000)},
                    {"y_max", reportNumber(xy ? s.yMax * 1000 : s.yMax)}};
    section.update(apertureKeys(s.aperture));
    Json x = Json::array(), y = Json::array(), lost = Json::array(), lostTurn = Json::array();
    Json qx1 = Json::array(), qy1 = Json::array(), qx2 = Json::array(), qy2 = Json::array();
    Json diffusion = Json::array();
    for (const FrequencyMapPoint& p : map.points) {
        x.push_back(reportNumber(p.x * 1000));
        y.push_back(reportNumber(xy ? p.y * 1000 : p.y));
        lost.push_back(p.computed ? Json(p.lost) : Json(nullptr));
        lostTurn.push_back(p.computed && p.lost ? Json(p.lostTurn) : Json(nullptr));
        const bool tunes = p.computed && !p.lost && p.tunesFound;
        qx1.push_back(tunes ? reportNumber(p.qx1) : Json(nullptr));
        qy1.push_back(tunes ? reportNumber(p.qy1) : Json(nullptr));
        qx2.push_back(tunes ? reportNumber(p.qx2) : Json(nullptr));
        qy2.push_back(tunes ? reportNumber(p.qy2) : Json(nullptr));
        diffusion.push_back(tunes ? reportNumber(p.diffusion) : Json(nullptr));
    }
    section["x_mm"] = x;
    section[xy ? "y_mm" : "delta_at"] = y;
    section["lost"] = lost;
    section["lost_turn"] = lostTurn;
    section["qx1"] = qx1;
    section["qy1"] = qy1;
    section["qx2"] = qx2;
    section["qy2"] = qy2;
    section["diffusion"] = diffusion;
    return section;
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
        const Json& section = parts[p][key];
        if (described(section, keys) != scan)
            throw std::runtime_error(names[p] + ": its " + key + " is not a part of the same scan");
        const ScanPart part{parts[p]["part"].get<int>(),
                            parts[p]["parts"].get<int>()}; // checked by checkPart
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

/// A part file that the merge refuses: its name and what is wrong with it.
[[noreturn]] void refusePart(const std::string& name, const std::string& what)
{
    throw std::runtime_error(name + ": not a part written by --part (" + what + ")");
}

bool wholeIn(const Json& v, long long lower, long long upper)
{
    // read through the widest types, so that 2^32 + 1 is not taken for 1
    if (v.is_number_unsigned())
        return v.get<unsigned long long>() <= static_cast<unsigned long long>(upper) &&
               static_cast<long long>(v.get<unsigned long long>()) >= lower;
    return v.is_number_integer() && v.get<long long>() >= lower && v.get<long long>() <= upper;
}

long long checkedWhole(const Json& section, const std::string& name, const std::string& key,
                       const ScanLimit& limit)
{
    const auto lower = static_cast<long long>(limit.lower), upper = static_cast<long long>(limit.upper);
    if (!section.contains(key) || !wholeIn(section[key], lower, upper))
        refusePart(name, "\"" + key + "\" is not a whole number from " + std::to_string(lower) + " to " +
                             std::to_string(upper));
    return section[key].get<long long>();
}

void checkFields(const Json& section, const std::string& name, const FieldRule* begin, const FieldRule* end)
{
    for (const FieldRule* f = begin; f != end; ++f) {
        const bool present = section.contains(f->key);
        const bool number = present && section[f->key].is_number();
        if (!number && !(f->kind == Field::NumberOrNull && present && section[f->key].is_null()))
            refusePart(name, "\"" + std::string(f->key) + "\" is not a number");
    }
}

/// An array of count entries, each a number, or null where allowed (or a true/false flag where asked).
void checkList(const Json& section, const std::string& name, const std::string& key, std::size_t count,
               bool nulls, bool flags = false)
{
    const auto fits = [&](const Json& v) {
        return (nulls && v.is_null()) || (flags ? v.is_boolean() : v.is_number());
    };
    if (!section.contains(key) || !section[key].is_array() || section[key].size() != count ||
        !std::all_of(section[key].begin(), section[key].end(), fits))
        refusePart(name, "\"" + key + "\" is not a list of " + std::to_string(count) + " " +
                             (flags ? "flags" : "numbers"));
}

std::size_t listSize(const Json& section, const std::string& name, const char* key)
{
    if (!section.contains(key) || !section[key].is_array() || section[key].empty())
        refusePart(name, "\"" + std::string(key) + "\" is not a list");
    return section[key].size();
}

// The fields of a section that the merge reads, each with its type and the lists with the sizes the
// section's own counts give.
void checkSection(const Json& section, const std::string& name, const std::string& key)
{
    if (!section.is_object())
        refusePart(name, "\"" + key + "\" holds no scan");
    const long long turns = checkedWhole(section, name, "turns", kTurnsLimit);
    if (key == "dynamic_aperture") {
        checkFields(section, name, std::begin(kRadialFields), std::end(kRadialFields));
        const std::size_t rays = listSize(section, name, "angles_rad");
        checkList(section, name, "angles_rad", rays, false);
        checkList(section, name, "radius_mm", rays, true);
    } else if (key == "dynamic_aperture_grid") {
        checkFields(section, name, std::begin(kGridFields), std::end(kGridFields));
        const auto nx = static_cast<std::size_t>(checkedWhole(section, name, "nx", kGridPointsLimit));
        const auto ny = static_cast<std::size_t>(checkedWhole(section, name, "ny", kGridPointsLimit));
        checkList(section, name, "x_mm", nx * ny, false);
        checkList(section, name, "y_mm", nx * ny, false);
        checkList(section, name, "turns_survived", nx * ny, true);
        checkList(section, name, "lost", nx * ny, true, true);
        for (const Json& t : section["turns_survived"])
            if (!t.is_null() && !wholeIn(t, 0, turns))
                refusePart(name, "\"turns_survived\" holds " + t.dump());
    } else if (key == "frequency_map") {
        checkFields(section, name, std::begin(kMapFields), std::end(kMapFields));
        const auto nx = static_cast<std::size_t>(checkedWhole(section, name, "nx", kGridPointsLimit));
        const auto ny = static_cast<std::size_t>(checkedWhole(section, name, "ny", kGridPointsLimit));
        const std::size_t n = nx * ny;
        checkList(section, name, "x_mm", n, false);
        checkList(section, name, section.contains("y_mm") ? "y_mm" : "delta_at", n, false);
        checkList(section, name, "lost", n, true, true);
        checkList(section, name, "lost_turn", n, true);
        for (const char* item : {"qx1", "qy1", "qx2", "qy2", "diffusion"})
            checkList(section, name, item, n, true);
        for (const Json& t : section["lost_turn"])
            if (!t.is_null() && !wholeIn(t, 0, 2 * turns))
                refusePart(name, "\"lost_turn\" holds " + t.dump());
    } else {
        checkFields(section, name, std::begin(kAcceptanceFields), std::end(kAcceptanceFields));
        checkedWhole(section, name, "every", kEveryLimit);
        const std::size_t points = listSize(section, name, "s_m");
        checkList(section, name, "elements", points, false);
        checkList(section, name, "s_m", points, false);
        checkList(section, name, "delta_plus", points, true);
        checkList(section, name, "delta_minus", points, true);
    }
}

const char* const kSections[] = {"dynamic_aperture", "dynamic_aperture_grid", "momentum_acceptance",
                                 "frequency_map", "seeds"};

// Every field of a part that the merge reads: the piece and the count, the fingerprint of the lattice
// and the scans, the same sections as the first part, each complete.
void checkPart(const Json& d, const Json& first, const std::string& name)
{
    if (!d.is_object())
        refusePart(name, "it is no JSON object");
    const long long count = checkedWhole(d, name, "parts", kPartsLimit);
    const long long index = checkedWhole(d, name, "part", {1, static_cast<double>(count)});
    if (!d.contains("fingerprint") || !d["fingerprint"].is_string())
        refusePart(name, "it has no \"fingerprint\"");
    for (const auto& [key, value] : d.items()) {
        if (key == "seeds")
            checkSeedsPart(value, name, {static_cast<int>(index), static_cast<int>(count)});
        else if (std::find(std::begin(kSections), std::end(kSections), key) != std::end(kSections))
            checkSection(value, name, key);
        else if (key != "part" && key != "parts" && key != "fingerprint")
            refusePart(name, "it holds \"" + excerpt(key) + "\"");
    }
    if (&d == &first)
        return;
    if (d["fingerprint"] != first["fingerprint"])
        throw std::runtime_error(name + ": a part of scans of another lattice or with other settings");
    if (d["parts"] != first["parts"])
        throw std::runtime_error(name + ": a part of " + d["parts"].dump() + " parts, not of " +
                                 first["parts"].dump());
    for (const char* key : kSections)
        if (d.contains(key) != first.contains(key))
            throw std::runtime_error(name + ": its " + key + " is not a part of the same scan");
}

} // namespace

// The fingerprint of a part: the design as tracked (trackingFingerprint) and every setting of the scans
// that changes a number, so that parts of other scans are told apart before their items are joined.
std::string partFingerprint(const State& ring, const ApertureScans& s, const ApertureRequest& request,
                            const std::vector<double>& words)
{
    std::uint64_t h = trackingFingerprint(ring);
    const auto add = [&h](double v) {
        std::uint64_t bits = 0;
        std::memcpy(&bits, &v, sizeof bits);
        h = (h ^ bits) * 0x100000001b3ULL; // FNV-1a step over whole words
    };
    for (double v : {static_cast<double>(request.dynamicAperture),
                     static_cast<double>(!request.grid.empty()),
                     static_cast<double>(request.momentumAcceptance),
                     static_cast<double>(s.radial.angles),
                     static_cast<double>(s.radial.turns),
                     s.radial.delta,
                     s.radial.resolution,
                     s.radial.aperture.x,
                     s.radial.aperture.y,
                     static_cast<double>(s.grid.nx),
                     static_cast<double>(s.grid.ny),
                     s.grid.xMax,
                     s.grid.yMax,
                     static_cast<double>(s.acceptance.turns),
                     s.acceptance.resolution,
                     static_cast<double>(s.acceptance.every),
                     static_cast<double>(s.part.count),
                     static_cast<double>(!request.frequencyMap.empty()),
                     static_cast<double>(s.frequencyMap.plane),
                     static_cast<double>(s.frequencyMap.nx),
                     static_cast<double>(s.frequencyMap.ny),
                     s.frequencyMap.xMax,
                     s.frequencyMap.yMax,
                     static_cast<double>(s.frequencyMap.turns),
                     s.frequencyMap.delta,
                     static_cast<double>(s.frequencyMap.perTurn)})
        add(v);
    for (double v : words)
        add(v);
    return fmt("%016llx", static_cast<unsigned long long>(h));
}

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
    FrequencyMapSettings& map = s.frequencyMap;
    if (request.fmPlane != "xy" && request.fmPlane != "x-delta")
        throw BatchUsageError("--fm-plane: '" + excerpt(request.fmPlane) + "' is neither xy nor x-delta");
    map.plane = request.fmPlane == "xy" ? FrequencyMapPlane::XY : FrequencyMapPlane::XDelta;
    map.turns = whole("--fm-turns", request.fmTurns, kHalfTurnsLimit);
    map.perTurn = request.fmPerTurn;
    map.delta = delta;
    map.aperture = aperture;
    if (!request.frequencyMap.empty()) {
        map.nx = whole("--frequency-map", request.frequencyMap.at(0), kGridPointsLimit);
        map.ny = whole("--frequency-map", request.frequencyMap.at(1), kGridPointsLimit);
        map.xMax = number("--frequency-map", request.frequencyMap.at(2), kGridExtentLimit) / 1000;
        map.yMax = map.plane == FrequencyMapPlane::XY
                       ? number("--frequency-map", request.frequencyMap.at(3), kGridExtentLimit) / 1000
                       : number("--frequency-map", request.frequencyMap.at(3), kDeltaExtentLimit) / 100;
    } else if (!request.fmCsv.empty() && request.merge.empty()) {
        throw BatchUsageError("--fm-csv goes with --frequency-map");
    }
    s.threads = whole("--threads", request.threads, kThreadsLimit);
    if (!request.part.empty()) {
        if (!request.anyScan() && !request.errorStudy)
            throw BatchUsageError("--part goes with --dynamic-aperture, --da-grid, --momentum-acceptance, "
                                  "--frequency-map or --seeds");
        s.part = parsePart(request.part);
        if (!request.fmCsv.empty())
            throw BatchUsageError("--fm-csv: a scan in parts writes its points with --merge");
    }
    s.radial.part = s.grid.part = s.acceptance.part = map.part = s.part;
    std::string refusal;
    if (request.dynamicAperture)
        refusal = workRefusal("--da-angles with --da-turns",
                              s.radial.angles * static_cast<double>(plannedTrials(
                                                    std::hypot(aperture.x, aperture.y), s.radial.resolution)),
                              turns, s.part.count);
    if (refusal.empty() && !request.grid.empty())
        refusal = workRefusal("--da-grid with --da-turns", static_cast<double>(s.grid.nx) * s.grid.ny, turns,
                              s.part.count);
    if (refusal.empty() && !request.frequencyMap.empty())
        refusal = workRefusal("--frequency-map with --fm-turns", static_cast<double>(map.nx) * map.ny,
                              2 * map.turns, s.part.count);
    if (!refusal.empty())
        throw BatchUsageError(refusal);
    return s;
}

bool runApertureScans(State& state, Messages& messages, const BatchInputs& inputs, const ApertureScans& scans,
                      const ApertureRequest& request, Json& sections, std::string& fingerprint,
                      const ScanControl& watch)
{
    State ring = state;
    QuietMessages quiet; // the ring section says what the ring computation found
    computeRing(ring, quiet, inputs);
    fingerprint = partFingerprint(ring, scans, request);
    const std::optional<ApertureRing> r = apertureRing(ring, messages);
    // a caller without a progress callback of its own gets the batch tool's progress lines
    const auto control = [&scans, &watch](const char* what) {
        ScanControl c = watch;
        c.threads = scans.threads;
        if (!c.progress)
            c.progress = BatchProgress(what);
        return c;
    };
    bool done = r.has_value();
    if (request.dynamicAperture)
        sections["dynamic_aperture"] =
            r ? radialSection(dynamicAperture(*r, scans.radial, control("the dynamic aperture")),
                              scans.radial)
              : Json(nullptr);
    if (!request.grid.empty())
        sections["dynamic_aperture_grid"] =
            r ? gridSection(apertureGrid(*r, scans.grid, control("the dynamic aperture grid")), scans.grid)
              : Json(nullptr);
    if (request.momentumAcceptance) {
        sections["momentum_acceptance"] = nullptr;
        const std::string refusal =
            r ? workRefusal("--momentum-acceptance with --ma-turns",
                            2.0 *
                                static_cast<double>(
                                    acceptancePoints(r->cellElements(), scans.acceptance.every).size()) *
                                plannedTrials(r->rfAcceptance, scans.acceptance.resolution),
                            scans.acceptance.turns, scans.part.count)
              : std::string();
        if (!refusal.empty())
            messages.error(refusal);
        if (r && refusal.empty() && checkAcceptanceRing(*r, messages)) {
            const MomentumAcceptance ma =
                momentumAcceptance(*r, scans.acceptance, control("the momentum acceptance"));
            sections["momentum_acceptance"] = acceptanceSection(ma, scans.acceptance);
            state.localAcceptance = {ma.elements, ma.s, ma.deltaPlus, ma.deltaMinus,
                                     trackingFingerprint(ring)};
        } else {
            done = false;
        }
    }
    if (!request.frequencyMap.empty())
        sections["frequency_map"] =
            r ? mapSection(frequencyMap(*r, scans.frequencyMap, control("the frequency map")),
                           scans.frequencyMap)
              : Json(nullptr);
    return done;
}

Json partDocument(const ApertureScans& scans, const Json& sections, const std::string& fingerprint)
{
    Json document = {{"part", scans.part.index}, {"parts", scans.part.count}, {"fingerprint", fingerprint}};
    document.update(sections);
    return document;
}

Json mergeParts(const std::vector<Json>& parts, const std::vector<std::string>& names)
{
    if (parts.empty())
        return Json::object();
    std::set<long long> seen;
    for (std::size_t p = 0; p < parts.size(); ++p) {
        checkPart(parts[p], parts[0], names[p]);
        if (!seen.insert(parts[p]["part"].get<long long>()).second)
            throw std::runtime_error(names[p] + ": piece " + parts[p]["part"].dump() + " is there twice");
    }
    const long long count = parts[0]["parts"].get<long long>();
    for (long long k = 1; k <= count; ++k)
        if (!seen.count(k))
            throw std::runtime_error("piece " + std::to_string(k) + " of " + std::to_string(count) +
                                     " is missing");
    Json merged = Json::object();
    if (parts[0].contains("dynamic_aperture"))
        merged["dynamic_aperture"] =
            withRadialBoundary(joinSection(parts, names, "dynamic_aperture", kRadialKeys));
    if (parts[0].contains("dynamic_aperture_grid"))
        merged["dynamic_aperture_grid"] =
            withGridArea(joinSection(parts, names, "dynamic_aperture_grid", kGridKeys));
    if (parts[0].contains("momentum_acceptance"))
        merged["momentum_acceptance"] =
            withAcceptanceSummary(joinSection(parts, names, "momentum_acceptance", kAcceptanceKeys));
    if (parts[0].contains("frequency_map"))
        merged["frequency_map"] = joinSection(parts, names, "frequency_map", kMapKeys);
    if (parts[0].contains("seeds"))
        merged["seeds"] = joinSeedsParts(parts, names);
    return merged;
}

std::string frequencyMapSectionCsv(const Json& section)
{
    const char* const items[] = {"x_mm", "lost", "lost_turn", "qx1", "qy1", "qx2", "qy2", "diffusion"};
    if (!section.is_object() || !(section.contains("y_mm") || section.contains("delta_at")))
        return {};
    const bool xy = section.contains("y_mm");
    const Json& y = section.at(xy ? "y_mm" : "delta_at");
    if (!y.is_array())
        return {};
    for (const char* key : items)
        if (!section.contains(key) || !section.at(key).is_array() || section.at(key).size() != y.size())
            return {};
    // the section holds what the map's points hold, x and y in mm (y of the x-delta plane a fraction)
    const auto number = [&section](const char* key, std::size_t i) {
        const Json& v = section.at(key).at(i);
        return v.is_number() ? v.get<double>() : 0.0;
    };
    FrequencyMap map;
    map.points.resize(y.size());
    for (std::size_t i = 0; i < y.size(); ++i) {
        FrequencyMapPoint& p = map.points[i];
        p.x = number("x_mm", i) / 1000;
        p.y = y.at(i).is_number() ? y.at(i).get<double>() / (xy ? 1000 : 1) : 0.0;
        const Json& lost = section.at("lost").at(i);
        p.computed = lost.is_boolean();
        p.lost = p.computed && lost.get<bool>();
        const Json& turn = section.at("lost_turn").at(i);
        p.lostTurn = turn.is_number_integer() ? turn.get<int>() : 0;
        p.tunesFound = section.at("qx1").at(i).is_number();
        p.qx1 = number("qx1", i);
        p.qy1 = number("qy1", i);
        p.qx2 = number("qx2", i);
        p.qy2 = number("qy2", i);
        p.diffusion = number("diffusion", i);
    }
    return frequencyMapCsv(map, xy ? FrequencyMapPlane::XY : FrequencyMapPlane::XDelta);
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
