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

KnobOptics knobOptics(State& state)
{
    // the computations work on copies of the state: the history stays out of them
    const HistoryAside aside(state);
    State pass = state;
    KnobOptics optics;
    optics.terms = drivingTerms(pass, &optics.termsRefusal);
    if (optics.terms)
        optics.detuning = detuning(pass, *optics.terms, &optics.detuningRefusal);
    else
        optics.detuningRefusal = optics.termsRefusal;

    FirstErrorMessages messages;
    const RingParameters& ring = pass.ringParams;
    if (ring.stamp != latticeStamp(pass) || !std::isfinite(ring.chromaticityX) ||
        !std::isfinite(ring.chromaticityY))
        radiationIntegrals(pass, messages);
    const std::optional<ChromaticityCorrection> c =
        std::isfinite(ring.chromaticityX) && std::isfinite(ring.chromaticityY)
            ? latticeChromaticity(pass, messages)
            : std::nullopt;
    if (c && std::isfinite(c->correctedX) && std::isfinite(c->correctedY)) {
        optics.chromaticityKnown = true;
        optics.chromaticityX = c->correctedX;
        optics.chromaticityY = c->correctedY;
    } else {
        optics.chromaticityRefusal =
            messages.first.empty() ? "the ring has no stable periodic solution!" : messages.first;
    }
    return optics;
}

} // namespace kestrune
