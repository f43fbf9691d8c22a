#include "cli/MatchBatch.h"

#include "core/matching/MatchFile.h"

#include <iostream>

namespace kestrune {

namespace {

const char* endName(MatchEnd end)
{
    switch (end) {
    case MatchEnd::Running:
        return "running";
    case MatchEnd::Converged:
        return "converged";
    case MatchEnd::IterationLimit:
        return "iteration_limit";
    case MatchEnd::NoProgress:
        return "no_progress";
    case MatchEnd::Cancelled:
        return "cancelled";
    }
    return "";
}

Json placeJson(const ElementRef& ref)
{
    if (ref.kind == ElementRef::Kind::Index)
        return ref.index;
    return refText(ref);
}

} // namespace

std::optional<BatchMatch> runMatchFile(State& state, Messages& messages, const std::string& fileName)
{
    const std::optional<MatchDefinition> definition = readMatchFile(fileName, messages);
    if (!definition)
        return std::nullopt;
    const std::optional<MatchResult> result = matchDesign(state, *definition, messages);
    if (!result)
        return std::nullopt;
    for (const std::string& line : matchSummary(*definition, *result))
        std::cerr << "match: " << line << '\n';
    return BatchMatch{*definition, *result};
}

Json matchSection(const BatchMatch& match)
{
    const MatchDefinition& d = match.definition;
    const MatchResult& r = match.result;
    Json variables = Json::array();
    for (std::size_t j = 0; j < r.variables.size(); ++j) {
        const VariableOutcome& v = r.variables[j];
        variables.push_back({{"element", placeJson(d.variables[j].element)},
                             {"field", fieldName(d.variables[j].field)},
                             {"start", reportNumber(v.start)},
                             {"final", reportNumber(v.final)},
                             {"at_bound", v.atLower || v.atUpper}});
    }
    Json constraints = Json::array();
    for (std::size_t i = 0; i < r.constraints.size(); ++i) {
        const MatchConstraint& c = d.constraints[i];
        const ConstraintOutcome& o = r.constraints[i];
        Json entry = {
            {"quantity", quantityName(c.quantity)},
            {"at", takesPlace(c.quantity) || isPhase(c.quantity) ? placeJson(c.at) : Json(nullptr)}};
        if (isPhase(c.quantity))
            entry["from"] = placeJson(c.from);
        entry["relation"] = relationText(c.relation);
        entry["target"] = reportNumber(o.target);
        entry["weight"] = reportNumber(c.weight);
        entry["start"] = reportNumber(o.start);
        entry["final"] = reportNumber(o.final);
        entry["met"] = o.met;
        constraints.push_back(entry);
    }
    return {{"converged", r.converged},
            {"end", endName(r.end)},
            {"start", d.start == MatchStart::Periodic ? "periodic" : "initial"},
            {"iterations", r.iterations},
            {"optics_passes", r.opticsPasses},
            {"start_residual", reportNumber(r.startResidual)},
            {"residual", reportNumber(r.residual)},
            {"variables", variables},
            {"constraints", constraints}};
}

void addMatchSection(Json& report, const std::optional<BatchMatch>& match)
{
    Json messages = report["messages"];
    report.erase("messages");
    report["match"] = match ? matchSection(*match) : Json(nullptr);
    report["messages"] = messages;
}

} // namespace kestrune
