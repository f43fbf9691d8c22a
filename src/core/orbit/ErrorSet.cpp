#include "core/orbit/ErrorSet.h"

#include "core/FieldErrors.h"
#include "core/Format.h"
#include "core/InputRanges.h"
#include "core/io/JsonInput.h"

#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <limits>
#include <nlohmann/json.hpp>
#include <random>

namespace kestrune {

namespace {

using Json = nlohmann::ordered_json;

// An error set is a few kilobytes; anything far beyond it is no error set.
constexpr std::size_t kMaxErrorSetBytes = std::size_t{1} << 22;
// Largest magnitude of a value a rule takes (m, rad, 1/m^n or relative); far beyond any error.
constexpr double kLargestError = 1e6;
// Largest Gaussian cut, in sigma (beyond it the cut makes no difference a double can hold).
constexpr double kLargestCut = 30;

struct BadEntry
{
    std::string text;
};

std::string quoted(const std::string& text)
{
    return "\"" + printableText(cut(text, 40)) + "\"";
}

void onlyKeys(const Json& object, std::initializer_list<const char*> keys, const std::string& where)
{
    for (auto it = object.begin(); it != object.end(); ++it)
        if (std::none_of(keys.begin(), keys.end(), [&](const char* key) { return it.key() == key; }))
            throw BadEntry{where + ": unknown key " + quoted(it.key())};
}

double number(const Json& object, const char* key, const std::string& where)
{
    const Json& value = object.at(key);
    if (!value.is_number() || !std::isfinite(value.get<double>()) ||
        std::fabs(value.get<double>()) > kLargestError)
        throw BadEntry{where + ": " + quoted(key) + " must be a number of magnitude at most 1e6"};
    return value.get<double>();
}

std::string text(const Json& value, const std::string& key, const std::string& where)
{
    if (!value.is_string())
        throw BadEntry{where + ": " + quoted(key) + " must be a text"};
    return value.get<std::string>();
}

const char* const kFamilyNames[] = {"drift",        "bend",      "quadrupole", "sextupole",  "pump",
                                    "alpha magnet", "multipole", "kicker",     "diagnostic", "cavity"};
const char* const kComponentNames[] = {"dx", "dy", "ds", "dtheta", "dphi", "dpsi", "dkn", "dks"};

int familyNamed(const Json& value, const std::string& where)
{
    const std::string name = text(value, "family", where);
    for (int f = 1; f < 10; ++f)
        if (name == kFamilyNames[f])
            return f;
    throw BadEntry{where + ": unknown family " + quoted(name) +
                   " (bend, quadrupole, sextupole, pump, alpha magnet, multipole, kicker, diagnostic, "
                   "cavity; drifts take no errors)"};
}

void readElements(const Json& elements, ErrorRule& rule, const std::string& where)
{
    if (!elements.is_object())
        throw BadEntry{where + ": \"elements\" must be an object"};
    onlyKeys(elements, {"pattern", "family", "names"}, where + ", elements");
    if (elements.contains("pattern")) {
        std::string problem;
        rule.pattern = compileNamePattern(text(elements.at("pattern"), "pattern", where), problem);
        if (!rule.pattern)
            throw BadEntry{where + ": the pattern " + quoted(elements.at("pattern").get<std::string>()) +
                           " is not one: " + problem};
    }
    if (elements.contains("family")) {
        const Json& family = elements.at("family");
        if (family.is_array()) {
            for (const Json& f : family)
                rule.families.push_back(familyNamed(f, where));
        } else {
            rule.families.push_back(familyNamed(family, where));
        }
    }
    if (elements.contains("names")) {
        const Json& names = elements.at("names");
        if (!names.is_array() || names.empty() || names.size() > static_cast<std::size_t>(kMaxLineElements))
            throw BadEntry{where + ": \"names\" must be a list of element names"};
        for (const Json& name : names)
            rule.names.push_back(text(name, "names", where));
    }
}

void readDraw(const Json& entry, ErrorRule& rule, const std::string& where)
{
    const char* const kinds[] = {"value", "sigma", "half_width"};
    const auto given = std::count_if(std::begin(kinds), std::end(kinds),
                                     [&](const char* key) { return entry.contains(key); });
    if (given != 1)
        throw BadEntry{where + ": exactly one of \"value\", \"sigma\" and \"half_width\" expected"};
    for (std::size_t k = 0; k < 3; ++k)
        if (entry.contains(kinds[k])) {
            rule.distribution = static_cast<ErrorDistribution>(k);
            rule.value = number(entry, kinds[k], where);
        }
    if (rule.distribution != ErrorDistribution::Fixed && rule.value < 0)
        throw BadEntry{where + ": " + quoted(kinds[static_cast<int>(rule.distribution)]) +
                       " must not be negative"};
    if (entry.contains("cut")) {
        if (rule.distribution != ErrorDistribution::Gaussian)
            throw BadEntry{where + ": \"cut\" belongs to a Gaussian (\"sigma\")"};
        rule.cut = number(entry, "cut", where);
        if (!(rule.cut >= 0.1 && rule.cut <= kLargestCut))
            throw BadEntry{where + ": \"cut\" must be from 0.1 to 30 (sigma)"};
    }
}

ErrorRule ruleFrom(const Json& entry, const std::string& where)
{
    if (!entry.is_object())
        throw BadEntry{where + ": must be an object"};
    onlyKeys(entry, {"elements", "error", "order", "radius", "value", "sigma", "cut", "half_width", "mode"},
             where);
    ErrorRule rule;
    if (!entry.contains("elements") || !entry.contains("error"))
        throw BadEntry{where + ": " + (entry.contains("elements") ? "\"error\"" : "\"elements\"") +
                       " is missing"};
    readElements(entry.at("elements"), rule, where);
    const std::string error = text(entry.at("error"), "error", where);
    const auto known = std::find(std::begin(kComponentNames), std::end(kComponentNames), error);
    if (known == std::end(kComponentNames))
        throw BadEntry{where + ": unknown error " + quoted(error) +
                       " (dx, dy, ds, dtheta, dphi, dpsi, dkn, dks)"};
    rule.component = static_cast<ErrorComponent>(known - std::begin(kComponentNames));
    const bool field = rule.component == ErrorComponent::Dkn || rule.component == ErrorComponent::Dks;
    if (field != entry.contains("order"))
        throw BadEntry{
            where + (field ? ": a field error needs its \"order\"" : ": \"order\" belongs to dkn and dks")};
    if (field) {
        const Json& order = entry.at("order");
        if (!order.is_number_integer() || order.get<long long>() < 0 ||
            order.get<long long>() > kMaxMultipoleOrder)
            throw BadEntry{where + ": \"order\" must be a whole number from 0 to " +
                           std::to_string(kMaxMultipoleOrder)};
        rule.order = order.get<int>();
    }
    if (entry.contains("radius")) {
        if (!field)
            throw BadEntry{where + ": \"radius\" belongs to dkn and dks"};
        rule.radius = number(entry, "radius", where);
        if (!(rule.radius > 0))
            throw BadEntry{where + ": \"radius\" must be positive (m)"};
    }
    readDraw(entry, rule, where);
    if (entry.contains("mode")) {
        const std::string mode = text(entry.at("mode"), "mode", where);
        if (mode != "add" && mode != "replace")
            throw BadEntry{where + ": \"mode\" must be \"add\" or \"replace\""};
        rule.replace = mode == "replace";
    }
    return rule;
}

ErrorSet setFrom(const Json& json)
{
    if (!json.is_object())
        throw BadEntry{"the error set must be a JSON object"};
    onlyKeys(json, {"seed", "rules"}, "the error set");
    ErrorSet set;
    if (json.contains("seed")) {
        const Json& seed = json.at("seed");
        if (!seed.is_number_unsigned())
            throw BadEntry{"the error set: \"seed\" must be a whole number from 0"};
        set.seed = seed.get<std::uint64_t>();
    }
    if (!json.contains("rules") || !json.at("rules").is_array())
        throw BadEntry{"the error set: \"rules\" must be a list"};
    const Json& rules = json.at("rules");
    if (rules.size() > kMaxErrorRules)
        throw BadEntry{"the error set: more than " + std::to_string(kMaxErrorRules) + " rules"};
    for (std::size_t i = 0; i < rules.size(); ++i)
        set.rules.push_back(ruleFrom(rules[i], "rule " + std::to_string(i + 1)));
    return set;
}

// SplitMix64 (Steele, Lea, Flood 2014): a fixed mixing of 64-bit integers, which turns the seed, the
// rule's and the element's number into the seed of a generator of their own.
std::uint64_t splitMix(std::uint64_t x)
{
    x += 0x9E3779B97F4A7C15ULL;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
    return x ^ (x >> 31);
}

// The generator is std::mt19937_64, whose sequence the C++ standard fixes for a seed; the standard's
// distributions are not (each library draws differently), so the draws are made here: a uniform number
// from the top 53 bits, (x >> 11) 2^-53, in [0, 1), and a normal one by Marsaglia's polar method
// (Marsaglia, Bray 1964): v1, v2 uniform in (-1, 1), s = v1^2 + v2^2 taken when 0 < s < 1, then
// z = v1 sqrt(-2 ln s / s) is standard normal; a cut draws again while |z| > cut. sqrt is exact in IEEE
// arithmetic and the C library's log correctly rounded in practice, so the numbers are the same on every
// machine.
std::mt19937_64 generatorOf(std::uint64_t seed, std::size_t rule, int element)
{
    return std::mt19937_64(splitMix(splitMix(splitMix(seed) ^ rule) ^ static_cast<std::uint64_t>(element)));
}

double uniform(std::mt19937_64& g)
{
    return static_cast<double>(g() >> 11) * 0x1.0p-53;
}

double gaussian(std::mt19937_64& g, double cut)
{
    for (;;) {
        const double v1 = 2 * uniform(g) - 1;
        const double v2 = 2 * uniform(g) - 1;
        const double s = v1 * v1 + v2 * v2;
        if (s <= 0 || s >= 1)
            continue;
        const double z = v1 * std::sqrt(-2 * std::log(s) / s);
        if (cut <= 0 || std::fabs(z) <= cut)
            return z;
    }
}

bool ruleTakes(const ErrorRule& rule, const LatticeElement& e)
{
    if (familyOf(e.code) == static_cast<int>(Family::Drift))
        return false;
    if (!rule.families.empty() &&
        std::find(rule.families.begin(), rule.families.end(), familyOf(e.code)) == rule.families.end())
        return false;
    if (!rule.names.empty() && std::find(rule.names.begin(), rule.names.end(), e.name) == rule.names.end())
        return false;
    return !rule.pattern || matchesName(*rule.pattern, e.name);
}

void applyDraw(const ErrorRule& rule, const LatticeElement& e, double draw, ElementErrors& errors)
{
    if (rule.component == ErrorComponent::Dkn || rule.component == ErrorComponent::Dks) {
        std::vector<double>& components = rule.component == ErrorComponent::Dkn ? errors.dkn : errors.dks;
        double dk = draw;
        if (rule.radius > 0) {
            const int m = mainFieldOrder(e);
            dk = m < 0 ? 0
                       : absoluteFieldError(draw, integratedNormalStrength(e, m), m, rule.order, rule.radius);
        }
        const auto n = static_cast<std::size_t>(rule.order);
        if (rule.replace && components.size() > n)
            components[n] = 0;
        addFieldError(components, rule.order, dk);
        return;
    }
    double* const fields[] = {&errors.dx, &errors.dy, &errors.ds, &errors.dtheta, &errors.dphi, &errors.dpsi};
    double& field = *fields[static_cast<int>(rule.component)];
    field = rule.replace ? draw : field + draw;
}

} // namespace

std::optional<ErrorSet> parseErrorSet(const std::string& text, Messages& messages)
{
    std::string problem;
    const std::optional<Json> json = parseJsonText(text, problem);
    if (!json) {
        messages.error("the error set is not valid JSON: " + printableText(problem));
        return std::nullopt;
    }
    try {
        return setFrom(*json);
    } catch (const BadEntry& bad) {
        messages.error("error set, " + printableText(bad.text));
    } catch (const Json::exception& e) {
        messages.error("error set: " + printableText(e.what()));
    }
    return std::nullopt;
}

std::optional<ErrorSet> readErrorSet(const std::string& fileName, Messages& messages)
{
    const FileText file = readTextFile(fileName, kMaxErrorSetBytes);
    if (!file.problem.empty()) {
        messages.error("cannot open the error set " + fileName + ": " + file.problem);
        return std::nullopt;
    }
    return parseErrorSet(file.text, messages);
}

double uniformDraw(std::uint64_t seed, std::size_t rule, int element)
{
    std::mt19937_64 g = generatorOf(seed, rule, element);
    return uniform(g);
}

double gaussianDraw(std::uint64_t seed, std::size_t rule, int element, double cut)
{
    std::mt19937_64 g = generatorOf(seed, rule, element);
    return gaussian(g, cut);
}

std::vector<ElementErrors> drawErrors(const ErrorSet& set, const BeamLine& line, std::uint64_t seed)
{
    std::vector<ElementErrors> errors(static_cast<std::size_t>(std::max(line.count, 0)) + 1);
    for (int i = 1; i <= line.count; ++i) {
        const LatticeElement& e = line.at(i);
        ElementErrors& out = errors[static_cast<std::size_t>(i)];
        out = e.errors;
        for (std::size_t r = 0; r < set.rules.size(); ++r) {
            const ErrorRule& rule = set.rules[r];
            if (!ruleTakes(rule, e))
                continue;
            double draw = rule.value;
            if (rule.distribution == ErrorDistribution::Gaussian)
                draw *= gaussianDraw(seed, r, i, rule.cut);
            else if (rule.distribution == ErrorDistribution::Uniform)
                draw *= 2 * uniformDraw(seed, r, i) - 1;
            applyDraw(rule, e, draw, out);
        }
    }
    return errors;
}

std::optional<std::vector<ElementErrors>> applyErrorSet(BeamLine& line, const ErrorSet& set,
                                                        std::uint64_t seed, Messages& messages)
{
    std::vector<ElementErrors> drawn = drawErrors(set, line, seed);
    for (int i = 1; i <= line.count; ++i) {
        LatticeElement e = line.at(i);
        e.errors = drawn[static_cast<std::size_t>(i)];
        if (const std::optional<std::string> refusal = elementRefusal(e)) {
            messages.error("the error set gives element " + std::to_string(i) +
                           (e.name.empty() ? std::string() : " (" + excerpt(e.name) + ")") +
                           " errors it cannot take: " + *refusal);
            return std::nullopt;
        }
    }
    for (int i = 1; i <= line.count; ++i)
        std::swap(line.at(i).errors, drawn[static_cast<std::size_t>(i)]);
    return drawn;
}

void restoreErrors(BeamLine& line, const std::vector<ElementErrors>& previous)
{
    for (std::size_t i = 1; i < previous.size() && static_cast<int>(i) <= line.count; ++i)
        line.at(static_cast<int>(i)).errors = previous[i];
}

std::vector<ElementErrors> lineErrors(const BeamLine& line)
{
    std::vector<ElementErrors> errors(static_cast<std::size_t>(std::max(line.count, 0)) + 1);
    for (int i = 1; i <= line.count; ++i)
        errors[static_cast<std::size_t>(i)] = line.at(i).errors;
    return errors;
}

bool sameErrors(const std::vector<ElementErrors>& a, const std::vector<ElementErrors>& b)
{
    const auto same = [](const ElementErrors& x, const ElementErrors& y) {
        return x.dx == y.dx && x.dy == y.dy && x.ds == y.ds && x.dtheta == y.dtheta && x.dphi == y.dphi &&
               x.dpsi == y.dpsi && x.dkn == y.dkn && x.dks == y.dks;
    };
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), same);
}

} // namespace kestrune
