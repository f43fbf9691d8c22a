#pragma once

#include "core/Messages.h"
#include "core/matching/MatchProblem.h"

#include <optional>
#include <string>

namespace kestrune {

/// The match definition in a JSON text:
///   {"start": "periodic" | "initial",
///    "variables": [{"element": NAME | INDEX, "field": "k" | "m" | "h" | "length" | "k3" | "k1s" | "ks" |
///    "tilt",
///                   "min": X, "max": X, "step": X}],
///    "constraints": [{"quantity": NAME, "at": NAME | INDEX | "end", "from": ..., "to": ...,
///                     "relation": "=" | "<=" | ">=", "value": X, "weight": X}],
///    "tolerance": X, "max_iterations": N}
/// Phase advances take "from" and "to", the other quantities of a place "at"; the bounds, step, relation
/// ("="), weight (1), start ("periodic"), tolerance and iterations may be left out. Nothing, after a message
/// naming the entry, for text that is not such a definition (an unknown key or name, a wrong type).
std::optional<MatchDefinition> parseMatchDefinition(const std::string& text, Messages& messages);

/// The definition as parseMatchDefinition reads it back, indented, numbers at full precision.
std::string matchDefinitionText(const MatchDefinition& definition);

/// Reads a match file; nothing after the message when it cannot be read or is no definition.
std::optional<MatchDefinition> readMatchFile(const std::string& fileName, Messages& messages);
/// Writes a match file (through a temporary file, so that a failed write keeps the old one).
bool writeMatchFile(const std::string& fileName, const MatchDefinition& definition, Messages& messages);

} // namespace kestrune
