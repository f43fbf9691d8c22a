#pragma once

#include <bitset>
#include <optional>
#include <string>
#include <vector>

namespace kestrune {

/// A pattern of element names as MAD-X's SELECT takes them: "^" at the start and "$" at the end anchor
/// the match, "." is any character, "[abc]", "[a-z]" and "[^a-z]" one character of a set (or outside it),
/// "*" any number of the character before it, "\" makes the next character plain. Without anchors the
/// pattern may match anywhere in a name. Letters match either case (MAD-X keeps names in lower case).
struct NamePattern
{
    struct Token
    {
        std::bitset<256> chars; // the lower-case characters the token takes
        bool repeated = false;  // followed by '*'
    };
    std::vector<Token> tokens;
    bool atStart = false;
    bool atEnd = false;
};

/// The pattern of text, or nothing with the reason in problem ("'[' without ']'", "'*' with nothing
/// before it", "'\' at the end").
std::optional<NamePattern> compileNamePattern(const std::string& text, std::string& problem);

/// True when the pattern matches name (time linear in the lengths of both).
bool matchesName(const NamePattern& pattern, const std::string& name);

} // namespace kestrune
