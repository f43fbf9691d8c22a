#pragma once

#include "cli/Report.h"
#include "core/Messages.h"
#include "core/State.h"
#include "core/matching/MatchProblem.h"
#include "core/matching/Matcher.h"

#include <optional>
#include <string>

namespace kestrune {

/// A match the batch tool ran: its definition and how it ended.
struct BatchMatch
{
    MatchDefinition definition;
    MatchResult result;
};

/// --match FILE.json: reads the match file, runs the match on the state and writes the best values into
/// its line (also when it did not converge: the best compromise), then the summary lines to messages'
/// standard error as "match: ...". Nothing, after the message naming the entry, when the file or the
/// match is refused; the state is then unchanged.
std::optional<BatchMatch> runMatchFile(State& state, Messages& messages, const std::string& fileName);

/// The report's "match" section: converged, end, iterations, optics_passes, start_residual, residual,
/// variables [{element, field, start, final, at_bound}], constraints [{quantity, at, (from,) relation,
/// target, weight, start, final, met}].
Json matchSection(const BatchMatch& match);

/// Adds the "match" section (null without a match) to a report, keeping its messages last.
void addMatchSection(Json& report, const std::optional<BatchMatch>& match);

} // namespace kestrune
