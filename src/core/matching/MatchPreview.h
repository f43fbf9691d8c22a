#pragma once

#include "core/State.h"
#include "core/matching/MatchProblem.h"
#include "core/matching/Matcher.h"

#include <optional>
#include <vector>

namespace kestrune {

/// The design's values of the rows of a match not run yet.
struct MatchPreview
{
    std::vector<std::optional<double>> variableStart;          // per variable row, in the field's unit
    std::vector<std::optional<ConstraintOutcome>> constraints; // per constraint row: start = final
};

/// Each row as far as it fits the line, whatever the other rows hold: a variable's field in the design, a
/// constraint's quantity with the design's strengths (one optics pass for all the constraints that fit
/// together). Rows not typed yet (nothing) and rows that do not fit stay empty; nothing is said.
MatchPreview previewMatch(const State& state, MatchStart start,
                          const std::vector<std::optional<MatchVariable>>& variables,
                          const std::vector<std::optional<MatchConstraint>>& constraints);

} // namespace kestrune
