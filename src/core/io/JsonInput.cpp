#include "core/io/JsonInput.h"

#include <vector>

namespace kestrune {

namespace {

// The parser's text starts with its own tag in brackets ("[json.exception.parse_error.101] "); the user
// reads what follows.
std::string withoutTag(const std::string& what)
{
    const std::size_t tag = what.find("] ");
    return tag == std::string::npos ? what : what.substr(tag + 2);
}

} // namespace

std::string jsonShapeProblem(const std::string& text)
{
    // one entry per open array or object: the members counted so far, or nothing for an array
    std::vector<std::optional<std::size_t>> open;
    bool inString = false;
    bool escaped = false;
    for (const char c : text) {
        if (inString) {
            if (escaped)
                escaped = false;
            else if (c == '\\')
                escaped = true;
            else if (c == '"')
                inString = false;
            continue;
        }
        if (c == '"') {
            inString = true;
        } else if (c == '{' || c == '[') {
            if (open.size() == kMaxJsonDepth)
                return "it nests arrays and objects deeper than " + std::to_string(kMaxJsonDepth) + " levels";
            open.push_back(c == '{' ? std::optional<std::size_t>(1) : std::nullopt);
        } else if ((c == '}' || c == ']') && !open.empty()) {
            open.pop_back();
        } else if (c == ',' && !open.empty() && open.back() && ++*open.back() > kMaxJsonMembers) {
            return "an object in it has more than " + std::to_string(kMaxJsonMembers) + " members";
        }
    }
    return {};
}

std::optional<nlohmann::ordered_json> parseJsonText(const std::string& text, std::string& problem)
{
    problem = jsonShapeProblem(text);
    if (!problem.empty())
        return std::nullopt;
    try {
        return nlohmann::ordered_json::parse(text);
    } catch (const nlohmann::ordered_json::exception& e) {
        problem = withoutTag(e.what());
    } catch (const std::bad_alloc&) {
        problem = "it does not fit in memory";
    }
    return std::nullopt;
}

std::optional<nlohmann::ordered_json> readJsonFile(const std::string& fileName, std::string& problem,
                                                   std::size_t limit)
{
    FileText file = readTextFile(fileName, limit);
    if (!file.problem.empty()) {
        problem = file.problem;
        return std::nullopt;
    }
    return parseJsonText(file.text, problem);
}

} // namespace kestrune
