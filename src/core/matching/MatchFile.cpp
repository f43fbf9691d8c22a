#include "core/matching/MatchFile.h"

#include "core/Format.h"
#include "core/io/JsonInput.h"
#include "core/io/LatticeFile.h"
#include "core/io/SafeFile.h"

#include <initializer_list>
#include <nlohmann/json.hpp>

namespace kestrune {

namespace {

using Json = nlohmann::ordered_json;

constexpr std::size_t kMaxMatchFileBytes = std::size_t{1} << 20;

/// A refused entry: its text is the message.
struct BadEntry
{
    std::string text;
};

std::string quoted(const std::string& text)
{
    return "\"" + text + "\"";
}

void onlyKeys(const Json& object, std::initializer_list<const char*> keys, const std::string& where)
{
    for (auto it = object.begin(); it != object.end(); ++it) {
        bool known = false;
        for (const char* key : keys)
            known = known || it.key() == key;
        if (!known)
            throw BadEntry{where + ": unknown key " + quoted(it.key())};
    }
}

double number(const Json& object, const char* key, double fallback, const std::string& where)
{
    if (!object.contains(key))
        return fallback;
    const Json& value = object.at(key);
    if (!value.is_number())
        throw BadEntry{where + ": " + quoted(key) + " must be a number"};
    return value.get<double>();
}

std::string text(const Json& object, const char* key, const std::string& fallback, const std::string& where)
{
    if (!object.contains(key))
        return fallback;
    const Json& value = object.at(key);
    if (!value.is_string())
        throw BadEntry{where + ": " + quoted(key) + " must be a text"};
    return value.get<std::string>();
}

// A place: an element name, "start", "end", or an element index as a whole number.
ElementRef place(const Json& object, const char* key, const std::string& where)
{
    if (!object.contains(key))
        return key == std::string("from") ? ElementRef{ElementRef::Kind::Start, "", 0} : ElementRef{};
    const Json& value = object.at(key);
    if (value.is_number_integer() && value.get<long long>() >= 0 &&
        value.get<long long>() <= kMaxLineElements)
        return ElementRef{ElementRef::Kind::Index, "", value.get<int>()};
    if (value.is_string() && !value.get<std::string>().empty())
        return elementRef(value.get<std::string>());
    throw BadEntry{where + ": " + quoted(key) + " must be an element name, an element index or \"end\""};
}

std::string fieldNames()
{
    std::string names;
    for (MatchField f : allFields())
        names += (names.empty() ? "" : ", ") + std::string(fieldName(f));
    return names;
}

MatchVariable variableFrom(const Json& entry, const std::string& where)
{
    if (!entry.is_object())
        throw BadEntry{where + ": must be an object"};
    onlyKeys(entry, {"element", "field", "min", "max", "step"}, where);
    if (!entry.contains("element"))
        throw BadEntry{where + ": \"element\" is missing"};
    MatchVariable v;
    v.element = place(entry, "element", where);
    if (v.element.kind != ElementRef::Kind::Name && v.element.kind != ElementRef::Kind::Index)
        throw BadEntry{where + ": \"element\" must be an element name or index"};
    const std::string field = text(entry, "field", "k", where);
    const std::optional<MatchField> f = fieldNamed(field);
    if (!f)
        throw BadEntry{where + ": unknown field " + quoted(field) + " (" + fieldNames() + ")"};
    v.field = *f;
    v.min = number(entry, "min", -kNoBound, where);
    v.max = number(entry, "max", kNoBound, where);
    v.step = number(entry, "step", 0, where);
    return v;
}

MatchConstraint constraintFrom(const Json& entry, const std::string& where)
{
    if (!entry.is_object())
        throw BadEntry{where + ": must be an object"};
    onlyKeys(entry, {"quantity", "at", "from", "to", "relation", "value", "weight"}, where);
    if (!entry.contains("quantity") || !entry.contains("value"))
        throw BadEntry{where + ": " + (entry.contains("quantity") ? "\"value\"" : "\"quantity\"") +
                       " is missing"};
    MatchConstraint c;
    const std::string name = text(entry, "quantity", "", where);
    const std::optional<MatchQuantity> q = quantityNamed(name);
    if (!q)
        throw BadEntry{where + ": unknown quantity " + quoted(name)};
    c.quantity = *q;
    if (isPhase(c.quantity)) {
        if (entry.contains("at"))
            throw BadEntry{where + ": a phase advance takes \"from\" and \"to\", not \"at\""};
        c.from = place(entry, "from", where);
        c.at = place(entry, "to", where);
    } else {
        for (const char* key : {"from", "to"})
            if (entry.contains(key))
                throw BadEntry{where + ": " + quoted(key) + " belongs to phase advances"};
        if (entry.contains("at") && !takesPlace(c.quantity))
            throw BadEntry{where + ": " + name + " is not taken at a place and takes no \"at\""};
        c.at = place(entry, "at", where);
    }
    const std::string relation = text(entry, "relation", "=", where);
    const std::optional<MatchRelation> r = relationNamed(relation);
    if (!r)
        throw BadEntry{where + ": unknown relation " + quoted(relation) + " (=, <=, >=)"};
    c.relation = *r;
    c.value = number(entry, "value", 0, where);
    c.weight = number(entry, "weight", 1, where);
    return c;
}

MatchDefinition definitionFrom(const Json& json)
{
    if (!json.is_object())
        throw BadEntry{"the match must be a JSON object"};
    onlyKeys(json, {"start", "variables", "constraints", "tolerance", "max_iterations"}, "the match");
    MatchDefinition d;
    const std::string start = text(json, "start", "periodic", "the match");
    if (start != "periodic" && start != "initial")
        throw BadEntry{"the match: \"start\" must be \"periodic\" or \"initial\""};
    d.start = start == "periodic" ? MatchStart::Periodic : MatchStart::Initial;
    for (const char* list : {"variables", "constraints"})
        if (!json.contains(list) || !json.at(list).is_array())
            throw BadEntry{std::string("the match: \"") + list + "\" must be a list"};
    const Json& variables = json.at("variables");
    for (std::size_t i = 0; i < variables.size(); ++i)
        d.variables.push_back(variableFrom(variables[i], "variable " + std::to_string(i + 1)));
    const Json& constraints = json.at("constraints");
    for (std::size_t i = 0; i < constraints.size(); ++i)
        d.constraints.push_back(constraintFrom(constraints[i], "constraint " + std::to_string(i + 1)));
    d.tolerance = number(json, "tolerance", d.tolerance, "the match");
    if (json.contains("max_iterations")) {
        const Json& n = json.at("max_iterations");
        if (!n.is_number_integer() || n.get<long long>() < 1 || n.get<long long>() > kMaxMatchIterations)
            throw BadEntry{"the match: \"max_iterations\" must be a whole number from 1 to " +
                           std::to_string(kMaxMatchIterations)};
        d.maxIterations = n.get<int>();
    }
    return d;
}

Json placeJson(const ElementRef& ref)
{
    if (ref.kind == ElementRef::Kind::Index)
        return ref.index;
    return refText(ref);
}

} // namespace

std::optional<MatchDefinition> parseMatchDefinition(const std::string& text, Messages& messages)
{
    std::string problem;
    const std::optional<Json> json = parseJsonText(text, problem);
    if (!json) {
        messages.error("the match file is not valid JSON: " + printableText(problem));
        return std::nullopt;
    }
    MatchDefinition definition;
    try {
        definition = definitionFrom(*json);
    } catch (const BadEntry& bad) {
        messages.error("match file, " + printableText(bad.text));
        return std::nullopt;
    }
    // the values a match takes, whatever the line: a file that holds others is refused as it is read
    if (const std::optional<std::string> refusal = matchValueRefusal(definition)) {
        messages.error("match file, " + printableText(*refusal));
        return std::nullopt;
    }
    return definition;
}

std::string matchDefinitionText(const MatchDefinition& d)
{
    Json json;
    json["start"] = d.start == MatchStart::Periodic ? "periodic" : "initial";
    json["variables"] = Json::array();
    for (const MatchVariable& v : d.variables) {
        Json entry;
        entry["element"] = placeJson(v.element);
        entry["field"] = fieldName(v.field);
        if (v.min > -kNoBound)
            entry["min"] = v.min;
        if (v.max < kNoBound)
            entry["max"] = v.max;
        if (v.step > 0)
            entry["step"] = v.step;
        json["variables"].push_back(entry);
    }
    json["constraints"] = Json::array();
    for (const MatchConstraint& c : d.constraints) {
        Json entry;
        entry["quantity"] = quantityName(c.quantity);
        if (isPhase(c.quantity)) {
            entry["from"] = placeJson(c.from);
            entry["to"] = placeJson(c.at);
        } else if (takesPlace(c.quantity)) {
            entry["at"] = placeJson(c.at);
        }
        entry["relation"] = relationText(c.relation);
        entry["value"] = c.value;
        entry["weight"] = c.weight;
        json["constraints"].push_back(entry);
    }
    json["tolerance"] = d.tolerance;
    json["max_iterations"] = d.maxIterations;
    return json.dump(2) + "\n";
}

std::optional<MatchDefinition> readMatchFile(const std::string& fileName, Messages& messages)
{
    // a match of the largest size is a few tens of kilobytes: anything far beyond is no match file
    const FileText file = readTextFile(fileName, kMaxMatchFileBytes);
    if (file.problem.rfind("it is larger than", 0) == 0) {
        messages.error("the match file " + fileName + " is too large for a match");
        return std::nullopt;
    }
    if (!file.problem.empty()) {
        messages.error("cannot open the match file " + fileName + ": " + file.problem);
        return std::nullopt;
    }
    return parseMatchDefinition(file.text, messages);
}

bool writeMatchFile(const std::string& fileName, const MatchDefinition& definition, Messages& messages)
{
    return writeTextFileSafely(fileName, matchDefinitionText(definition), messages);
}

} // namespace kestrune
