#include "cli/SeedsBatch.h"

#include "cli/BatchProgress.h"
#include "cli/CouplingReport.h"
#include "cli/RingReport.h"
#include "core/Format.h"
#include "core/aperture/ApertureRing.h"
#include "core/orbit/ErrorSeeds.h"
#include "core/orbit/SeedApertures.h"

#include <algorithm>
#include <stdexcept>
#include <utility>
#include <vector>

namespace kestrune {

namespace {

// The keys of a seed's object besides its quantities.
const char* const kSeedKeys[] = {"seed", "computed", "message", "emittance_message", "aperture_message"};

bool isSeedKey(const std::string& key)
{
    return std::find(std::begin(kSeedKeys), std::end(kSeedKeys), key) != std::end(kSeedKeys);
}

Json seedJson(const SeedOutcome& o)
{
    Json one = {
        {"seed", o.seed},
        {"computed", o.computed},
        {"message", o.computed ? Json(nullptr) : Json(o.refusal)},
        {"emittance_message", o.computed && !o.modeRefusal.empty() ? Json(o.modeRefusal) : Json(nullptr)},
        {"aperture_message", nullptr}};
    for (const SeedQuantity& q : seedQuantities(o))
        one[q.name] = q.value ? reportNumber(*q.value) : Json(nullptr);
    return one;
}

// The quantities of a seed's object as the report holds them (a number, or nothing for null).
std::vector<SeedQuantity> quantitiesOf(const Json& seed)
{
    std::vector<SeedQuantity> list;
    for (const auto& [key, value] : seed.items())
        if (!isSeedKey(key))
            list.push_back(
                {key, value.is_number() ? std::optional<double>(value.get<double>()) : std::nullopt});
    return list;
}

// computed and statistics of a seeds section from its per_seed objects, in the order of the seeds.
void addStatistics(Json& section)
{
    std::vector<std::vector<SeedQuantity>> computed;
    std::vector<std::string> names;
    for (const Json& seed : section["per_seed"]) {
        if (!seed.is_object()) // a seed a cancelled study did not reach
            continue;
        if (names.empty())
            for (const SeedQuantity& q : quantitiesOf(seed))
                names.push_back(q.name);
        if (seed["computed"].get<bool>())
            computed.push_back(quantitiesOf(seed));
    }
    const SeedStatistics stats = seedStatistics(computed);
    Json statistics = Json::object();
    for (const std::string& name : names)
        statistics[name] = nullptr;
    for (const auto& [name, q] : stats.quantities)
        if (q.count > 0)
            statistics[name] = {{"mean", reportNumber(q.mean)},
                                {"rms", reportNumber(q.rms)},
                                {"max", reportNumber(q.max)},
                                {"count", q.count}};
    section["computed"] = stats.computed;
    section["statistics"] = statistics;
}

// The ring of every seed's scans: the design's (seedScanRing) after the ring computation of inputs, as
// the aperture scans take it (its periodic solution, beam sizes and rf system). Nothing, with the first
// message, for a design the scans refuse.
std::optional<ApertureRing> designScanRing(const State& design, const BatchInputs& inputs,
                                           std::string& refusal)
{
    State ring = design;
    QuietMessages quiet; // the ring section says what the ring computation found
    computeRing(ring, quiet, inputs);
    FirstErrorMessages messages;
    std::optional<ApertureRing> r = seedScanRing(ring, messages);
    refusal = messages.first;
    return r;
}

// The scans of every seed as the core's study takes them.
SeedApertureScans seedApertureScans(const ApertureRequest& request, const ApertureScans& settings)
{
    SeedApertureScans scans;
    scans.dynamicAperture = request.dynamicAperture;
    scans.momentumAcceptance = request.momentumAcceptance;
    scans.radial = settings.radial;
    scans.acceptance = settings.acceptance;
    return scans;
}

// The words of the study for the fingerprint of its parts: the errors of its first and last seeds as
// the set draws them on the design, the seeds, the correction, the scans of every seed.
std::vector<double> studyWords(const State& design, const ErrorSet& set, const SeedsRequest& seeds,
                               const std::optional<OrbitCorrectionSettings>& c)
{
    std::vector<double> words = {static_cast<double>(seeds.first), static_cast<double>(seeds.count),
                                 static_cast<double>(seeds.part.count),
                                 static_cast<double>(set.rules.size())};
    for (const std::uint64_t seed : {seeds.first, seeds.first + static_cast<std::uint64_t>(seeds.count - 1)})
        for (const ElementErrors& e : drawErrors(set, design.line, seed)) {
            words.insert(words.end(), {e.dx, e.dy, e.ds, e.dtheta, e.dphi, e.dpsi});
            words.insert(words.end(), e.dkn.begin(), e.dkn.end());
            words.push_back(-1);
            words.insert(words.end(), e.dks.begin(), e.dks.end());
            words.push_back(-1);
        }
    words.push_back(c ? 1.0 + static_cast<double>(c->method) : 0.0);
    if (c) {
        words.insert(words.end(), {static_cast<double>(c->singularValues), static_cast<double>(c->kickers),
                                   c->kickLimit, c->readNoise});
        for (const std::string& name : c->monitorsOff) {
            for (const char ch : name)
                words.push_back(static_cast<unsigned char>(ch));
            words.push_back(-1);
        }
    }
    for (const char ch : seeds.aperture)
        words.push_back(static_cast<unsigned char>(ch));
    return words;
}

[[noreturn]] void refuse(const std::string& name, const std::string& what)
{
    throw std::runtime_error(name + ": not a part written by --part (" + what + ")");
}

} // namespace

ApertureRequest seedScans(const std::string& kinds, ApertureRequest scans)
{
    scans.dynamicAperture = kinds == "da" || kinds == "da,ma" || kinds == "ma,da";
    scans.momentumAcceptance = kinds == "ma" || kinds == "da,ma" || kinds == "ma,da";
    if (!scans.dynamicAperture && !scans.momentumAcceptance)
        throw BatchUsageError("--seeds-aperture: '" + excerpt(kinds) + "' is none of da, ma and da,ma");
    scans.grid.clear();
    scans.frequencyMap.clear();
    scans.fmCsv.clear();
    scans.part.clear();
    scans.merge.clear();
    return scans;
}

std::optional<Json> seedsSection(const State& design, const BatchInputs& inputs, const ErrorSet& set,
                                 const SeedsRequest& seeds, const OrbitCorrectionRequest& correction,
                                 const ApertureRequest& scans, Messages& messages, std::string& fingerprint,
                                 const ScanControl& watch)
{
    std::optional<OrbitCorrectionSettings> settings;
    if (!correction.method.empty()) {
        std::string refusal;
        settings = orbitCorrectionSettings(correction, design.line, 1, refusal);
        if (!settings) {
            messages.error(refusal.rfind("--monitors-off", 0) == 0 ? refusal : "--correct-orbit: " + refusal);
            return std::nullopt;
        }
    }
    // the ring with the geometry and the rf system of its mode emittances
    std::string ringRefusal;
    const std::optional<State> ring = modeEmittanceRing(design, ringRefusal);
    const State& machine = ring ? *ring : design;
    SeedStudy study;
    study.part = seeds.part;
    study.cancel = watch.cancel;
    study.progress = watch.progress ? watch.progress : BatchProgress("the error study");
    ApertureRequest seedRequest;
    ApertureScans seedScanSettings;
    std::optional<ApertureRing> scanRing;
    std::string scanRefusal;
    if (!seeds.aperture.empty()) {
        seedRequest = seedScans(seeds.aperture, scans);
        seedScanSettings = apertureScans(seedRequest);
        scanRing = designScanRing(machine, inputs, scanRefusal);
        ScanControl control;
        control.threads = seedScanSettings.threads;
        control.cancel = watch.cancel;
        control.progress = [](double) {}; // the study's progress lines, not the scans'
        study.measure = seedApertureMeasure(std::move(scanRing), scanRefusal,
                                            seedApertureScans(seedRequest, seedScanSettings), control);
    }
    std::vector<SeedOutcome> outcomes =
        runErrorSeeds(machine, set, seeds.first, seeds.count, settings, study);
    Json list(static_cast<std::size_t>(seeds.count), nullptr);
    std::size_t next = 0;
    for (int k = 0; k < seeds.count && next < outcomes.size(); ++k) {
        if (!seeds.part.holds(k))
            continue;
        SeedOutcome& o = outcomes[next++];
        if (!ring && o.computed)
            o.modeRefusal = ringRefusal;
        Json one = seedJson(o);
        if (!seeds.aperture.empty())
            for (const std::string& key : seedApertureNames(seedApertureScans(seedRequest, seedScanSettings)))
                if (!one.contains(key))
                    one[key] = nullptr;
        if (o.computed && !o.measureRefusal.empty())
            one["aperture_message"] = o.measureRefusal;
        list[static_cast<std::size_t>(k)] = one;
    }
    Json section = {{"first", seeds.first},
                    {"count", seeds.count},
                    {"corrected", settings.has_value()},
                    {"aperture", seeds.aperture.empty() ? Json(nullptr) : Json(seeds.aperture)},
                    {"per_seed", list},
                    {"computed", nullptr},
                    {"statistics", nullptr}};
    if (seeds.part.count == 1)
        addStatistics(section);
    const ApertureScans fingerprinted = seeds.aperture.empty() ? ApertureScans{} : seedScanSettings;
    fingerprint =
        partFingerprint(machine, fingerprinted, seedRequest, studyWords(design, set, seeds, settings));
    return section;
}

void checkSeedsPart(const Json& section, const std::string& name, const ScanPart& part)
{
    if (!section.is_object())
        refuse(name, "\"seeds\" holds no study");
    for (const char* key : {"first", "count"})
        if (!section.contains(key) || !section[key].is_number_integer() || section[key] < 0)
            refuse(name, "\"" + std::string(key) + "\" is not a whole number");
    if (!section.contains("corrected") || !section["corrected"].is_boolean())
        refuse(name, "\"corrected\" is not a flag");
    const auto first = section["first"].get<std::uint64_t>();
    const auto count = section["count"].get<std::uint64_t>();
    if (count < 1 || count > static_cast<std::uint64_t>(kMaxErrorSeeds))
        refuse(name, "\"count\" is not from 1 to " + std::to_string(kMaxErrorSeeds));
    const Json& list = section.value("per_seed", Json());
    if (!list.is_array() || list.size() != count)
        refuse(name, "\"per_seed\" is not a list of " + std::to_string(count) + " seeds");
    const Json* model = nullptr;
    for (std::size_t k = 0; k < list.size(); ++k) {
        const Json& seed = list[k];
        const std::string which = "seed " + std::to_string(first + k);
        if (!part.holds(static_cast<int>(k))) {
            if (!seed.is_null())
                refuse(name, which + " belongs to another part");
            continue;
        }
        if (!seed.is_object() || !seed.contains("seed") || seed["seed"] != Json(first + k))
            refuse(name, which + " is missing");
        if (!seed.contains("computed") || !seed["computed"].is_boolean())
            refuse(name, which + ": \"computed\" is not a flag");
        for (const auto& [key, value] : seed.items()) {
            const bool text = key.find("message") != std::string::npos;
            if (key != "seed" && key != "computed" && !(text ? value.is_string() : value.is_number()) &&
                !value.is_null())
                refuse(name, which + ": \"" + excerpt(key) + "\" is not a " + (text ? "text" : "number"));
        }
        if (model && !std::equal(seed.items().begin(), seed.items().end(), model->items().begin(),
                                 model->items().end(),
                                 [](const auto& a, const auto& b) { return a.key() == b.key(); }))
            refuse(name, which + " holds other quantities than seed " + model->at("seed").dump());
        model = &seed;
    }
}

Json joinSeedsParts(const std::vector<Json>& parts, const std::vector<std::string>& names)
{
    Json joined = parts[0]["seeds"];
    const auto described = [](Json s) {
        for (const char* key : {"per_seed", "computed", "statistics"})
            s.erase(key);
        return s;
    };
    for (std::size_t p = 0; p < parts.size(); ++p) {
        const Json& section = parts[p]["seeds"];
        if (described(section) != described(joined))
            throw std::runtime_error(names[p] + ": its seeds are not a part of the same study");
        const ScanPart part{parts[p]["part"].get<int>(), parts[p]["parts"].get<int>()};
        for (std::size_t k = 0; k < section["per_seed"].size(); ++k)
            if (part.holds(static_cast<int>(k)))
                joined["per_seed"][k] = section["per_seed"][k];
    }
    const Json& list = joined["per_seed"];
    for (std::size_t k = 1; k < list.size(); ++k)
        if (!std::equal(list[k].items().begin(), list[k].items().end(), list[0].items().begin(),
                        list[0].items().end(),
                        [](const auto& a, const auto& b) { return a.key() == b.key(); }))
            throw std::runtime_error("the parts' seeds hold other quantities: seed " +
                                     list[k]["seed"].dump() + " and " + list[0]["seed"].dump());
    addStatistics(joined);
    return joined;
}

} // namespace kestrune
