#include "core/matching/MatchPreview.h"

namespace kestrune {

namespace {

MatchDefinition definition(MatchStart start, std::vector<MatchVariable> variables,
                           std::vector<MatchConstraint> constraints)
{
    MatchDefinition d;
    d.start = start;
    d.variables = std::move(variables);
    d.constraints = std::move(constraints);
    return d;
}

// A constraint every line resolves, coupled or not (beta_1 at its end): the partner of a variable
// previewed alone.
MatchConstraint anyConstraint()
{
    MatchConstraint c;
    c.quantity = MatchQuantity::Beta1;
    c.value = 1;
    return c;
}

// A variable that changes nothing: the length of the first element that has one, left as it is; the
// partner of the constraints previewed without the variables typed.
std::optional<MatchVariable> neutralVariable(const State& state, MatchStart start)
{
    QuietMessages quiet;
    for (int i = 1; i <= state.line.count; ++i) {
        MatchVariable v;
        v.element = ElementRef{ElementRef::Kind::Index, "", i};
        v.field = MatchField::Length;
        if (resolveMatch(state, definition(start, {v}, {anyConstraint()}), quiet))
            return v;
    }
    return std::nullopt;
}

// The constraints' quantities in the design, all in one pass; nothing when any does not fit.
std::optional<std::vector<ConstraintOutcome>> designQuantities(const State& state, MatchStart start,
                                                               const MatchVariable& neutral,
                                                               std::vector<MatchConstraint> constraints)
{
    QuietMessages quiet;
    const std::unique_ptr<Matcher> matcher =
        Matcher::start(state, definition(start, {neutral}, std::move(constraints)), quiet);
    if (!matcher)
        return std::nullopt;
    return matcher->result().constraints;
}

} // namespace

MatchPreview previewMatch(const State& state, MatchStart start,
                          const std::vector<std::optional<MatchVariable>>& variables,
                          const std::vector<std::optional<MatchConstraint>>& constraints)
{
    MatchPreview p;
    p.variableStart.resize(variables.size());
    p.constraints.resize(constraints.size());
    QuietMessages quiet;
    for (std::size_t row = 0; row < variables.size(); ++row) {
        if (!variables[row])
            continue;
        // the design's value, also where it lies outside the bounds typed or the step is still wrong
        MatchVariable v = *variables[row];
        v.min = -kNoBound;
        v.max = kNoBound;
        v.step = 0;
        if (const std::optional<MatchSetup> setup =
                resolveMatch(state, definition(start, {v}, {anyConstraint()}), quiet))
            p.variableStart[row] = setup->variables.front().start;
    }
    std::vector<MatchConstraint> typed;
    std::vector<std::size_t> rows;
    for (std::size_t row = 0; row < constraints.size(); ++row)
        if (constraints[row]) {
            typed.push_back(*constraints[row]);
            rows.push_back(row);
        }
    const std::optional<MatchVariable> neutral = typed.empty() ? std::nullopt : neutralVariable(state, start);
    if (!neutral)
        return p;
    if (const auto all = designQuantities(state, start, *neutral, typed)) {
        for (std::size_t k = 0; k < rows.size(); ++k)
            p.constraints[rows[k]] = (*all)[k];
        return p;
    }
    // some row does not fit: each on its own
    for (std::size_t k = 0; k < rows.size(); ++k)
        if (const auto one = designQuantities(state, start, *neutral, {typed[k]}))
            p.constraints[rows[k]] = one->front();
    return p;
}

} // namespace kestrune
