#pragma once

// Reading JSON inputs (match, part and validation files) so that no text can crash the program or keep
// it busy without bound: the shape of the text is checked before a value is built, and files are read as
// every other input is (a regular file of bounded size).

#include "core/io/SafeFile.h"

#include <cstddef>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

namespace kestrune {

/// Deepest nesting of arrays and objects a JSON input may have (the program's files use fewer than ten).
constexpr int kMaxJsonDepth = 100;
/// Most members one JSON object of an input may have (the program's files use fewer than fifty).
constexpr std::size_t kMaxJsonMembers = 10000;

/// Why text cannot be taken as JSON before it is parsed, empty when it can: "it nests arrays and objects
/// deeper than 100 levels" or "an object in it has more than 10000 members". Runs in time linear in the
/// text, without recursion.
std::string jsonShapeProblem(const std::string& text);

/// The JSON value of text, or nothing with the reason in problem (the shape's problem or the parser's
/// "syntax error ... at line L, column C", without the parser's tag).
std::optional<nlohmann::ordered_json> parseJsonText(const std::string& text, std::string& problem);

/// The JSON value of a file read as readTextFile reads it (a regular file of at most limit bytes), or
/// nothing with the reason in problem.
std::optional<nlohmann::ordered_json> readJsonFile(const std::string& fileName, std::string& problem,
                                                   std::size_t limit = kMaxInputFileBytes);

} // namespace kestrune
