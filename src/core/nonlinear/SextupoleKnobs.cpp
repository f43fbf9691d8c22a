#include "core/nonlinear/SextupoleKnobs.h"

#include "core/Design.h"
#include "core/InputRanges.h"
#include "core/NamePattern.h"
#include "core/chromaticity/Chromaticity.h"
#include "core/ring/Parameter.h"

#include <algorithm>
#include <cmath>
#include <functional>

namespace kestrune {

namespace {

std::vector<int> membersWhere(const BeamLine& line, const std::function<bool(const std::string&)>& takes)
{
    std::vector<int> members;
    for (int i = 1; i <= line.count; ++i)
        if (isKnobSextupole(line.at(i)) && takes(line.at(i).name))
            members.push_back(i);
    return members;
}

} // namespace

bool isKnobSextupole(const LatticeElement& e)
{
    return familyOf(e.code) == static_cast<int>(Family::Sextupole) && e.length > 0;
}

std::vector<std::string> sextupoleNames(const BeamLine& line)
{
    std::vector<std::string> names;
    for (int i = 1; i <= line.count; ++i) {
        const LatticeElement& e = line.at(i);
        if (isKnobSextupole(e) && std::find(names.begin(), names.end(), e.name) == names.end())
            names.push_back(e.name);
    }
    return names;
}

std::vector<SextupoleFamily> familiesByName(const BeamLine& line)
{
    std::vector<SextupoleFamily> families;
    for (const std::string& name : sextupoleNames(line))
        families.push_back({name, membersWhere(line, [&name](const std::string& n) { return n == name; })});
    return families;
}

std::optional<SextupoleFamily> familyByPattern(const BeamLine& line, const std::string& pattern,
                                               std::string& problem)
{
    if (pattern.find_first_not_of(" \t") == std::string::npos) {
        problem = "the name pattern is empty!";
        return std::nullopt;
    }
    std::string why;
    const std::optional<NamePattern> compiled = compileNamePattern(pattern, why);
    if (!compiled) {
        problem = "the name pattern '" + pattern + "' is not valid: " + why;
        return std::nullopt;
    }
    SextupoleFamily family{
        pattern, membersWhere(line, [&compiled](const std::string& n) { return matchesName(*compiled, n); })};
    if (family.members.empty()) {
        problem = "the name pattern '" + pattern + "' matches no sextupole!";
        return std::nullopt;
    }
    return family;
}

std::optional<SextupoleFamily> familyOfNames(const BeamLine& line, const std::vector<std::string>& names,
                                             std::string& problem)
{
    if (names.empty()) {
        problem = "choose the sextupole names of the family first!";
        return std::nullopt;
    }
    SextupoleFamily family;
    for (const std::string& n : names)
        family.name += (family.name.empty() ? "" : ", ") + n;
    family.members = membersWhere(line, [&names](const std::string& n) {
        return std::find(names.begin(), names.end(), n) != names.end();
    });
    if (family.members.empty()) {
        problem = "no sextupole has the names " + family.name + "!";
        return std::nullopt;
    }
    return family;
}

bool familyIsCurrent(const BeamLine& line, const SextupoleFamily& family)
{
    return !family.members.empty() && std::all_of(family.members.begin(), family.members.end(), [&](int i) {
        return i >= 1 && i <= line.count && isKnobSextupole(line.at(i));
    });
}

double familyStrength(const BeamLine& line, const SextupoleFamily& family)
{
    return family.members.empty() ? 0.0 : line.at(family.members.front()).m;
}

bool setFamilyStrength(State& state, const SextupoleFamily& family, double k2, Messages& messages)
{
    if (!familyIsCurrent(state.line, family)) {
        messages.error("the family " + family.name + " holds no sextupole of the line!");
        return false;
    }
    if (const std::optional<std::string> refusal = rangeRefusal(ranges::kSextupoleStrength, k2)) {
        messages.error(*refusal);
        return false;
    }
    // the full ring is the cell taken superPeriods times: record r is a copy of cell element (r - 1) % N + 1
    const int n = state.line.count;
    std::vector<bool> member(static_cast<std::size_t>(n) + 1, false);
    for (int i : family.members)
        member[static_cast<std::size_t>(i)] = true;
    const int last = lastRingRecord(state);
    for (int r = 1; r <= last; ++r) {
        const int cellElement = (r - 1) % n + 1;
        if (member[static_cast<std::size_t>(cellElement)])
            state.line.at(r).m = k2;
    }
    return true;
}

namespace {

std::uint64_t mixed(std::uint64_t a, std::uint64_t b)
{
    return a ^ (b + 0x9e3779b97f4a7c15ull + (a << 6) + (a >> 2));
}

// What the linear optics and the tracked cell depend on besides the nonlinear strengths: the linear
// lattice with the particle, and the settings of the optics' steps.
std::uint64_t linearKey(const State& state)
{
    std::uint64_t key = designStamp(state);
    const RunSettings& run = state.run;
    key = mixed(key, static_cast<std::uint64_t>(run.stepAtElementEnds));
    key = mixed(key, static_cast<std::uint64_t>(run.maxSteps));
    key = mixed(key, std::hash<double>{}(run.maxStep));
    return key == 0 ? 1 : key;
}

// Everything of the cache that the linear lattice of pass gives.
void fillCache(State& pass, KnobCache& cache)
{
    cache = KnobCache{};
    cache.key = linearKey(pass);
    cache.optics = drivingTermOptics(pass, &cache.opticsRefusal);
    FirstErrorMessages messages;
    const RingParameters& ring = pass.ringParams;
    if (ring.stamp != latticeStamp(pass) || !std::isfinite(ring.chromaticityX) ||
        !std::isfinite(ring.chromaticityY))
        radiationIntegrals(pass, messages);
    cache.naturalKnown = std::isfinite(ring.chromaticityX) && std::isfinite(ring.chromaticityY);
    cache.naturalX = ring.chromaticityX;
    cache.naturalY = ring.chromaticityY;
    cache.naturalRefusal =
        messages.first.empty() ? "the ring has no stable periodic solution!" : messages.first;
    cache.cell = trackedCell(pass, cache.cellRefusal);
}

} // namespace

KnobOptics knobOptics(State& state, const ChromaticScan& scan, KnobCache& cache)
{
    // the computations work on copies of the state: the history stays out of them
    const HistoryAside aside(state);
    if (cache.key != linearKey(state)) {
        State pass = state;
        fillCache(pass, cache);
    }
    KnobOptics optics;
    if (cache.optics) {
        optics.terms = drivingTerms(*cache.optics, state.line);
        optics.detuning = detuning(state, *optics.terms, &optics.detuningRefusal);
    } else {
        optics.termsRefusal = optics.detuningRefusal = cache.opticsRefusal;
    }
    // the natural chromaticities and the sextupoles' part, the sums of the chromaticity window
    if (optics.terms && cache.naturalKnown) {
        optics.chromaticityKnown = true;
        optics.chromaticityX = cache.naturalX + optics.terms->chromaticityX;
        optics.chromaticityY = cache.naturalY + optics.terms->chromaticityY;
    } else {
        optics.chromaticityRefusal = optics.terms ? cache.naturalRefusal : cache.opticsRefusal;
    }
    if (cache.cell && !takeNonlinearStrengths(*cache.cell, state.line))
        cache.cell = trackedCell(state, cache.cellRefusal);
    if (cache.cell) {
        optics.tunes =
            chromaticTunes(*cache.cell, scan, cache.tunes ? &*cache.tunes : nullptr, &optics.tunesRefusal);
        cache.tunes = optics.tunes;
    } else {
        optics.tunesRefusal = cache.cellRefusal;
    }
    return optics;
}

} // namespace kestrune
