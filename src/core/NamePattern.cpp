#include "core/NamePattern.h"

#include <cctype>

namespace kestrune {

namespace {

unsigned char lowerByte(char c)
{
    return static_cast<unsigned char>(std::tolower(static_cast<unsigned char>(c)));
}

// The set of a bracket expression whose '[' is at text[i]; i ends on its ']'.
std::optional<std::bitset<256>> bracketSet(const std::string& text, std::size_t& i)
{
    std::bitset<256> set;
    std::size_t k = i + 1;
    const bool negated = k < text.size() && text[k] == '^';
    if (negated)
        ++k;
    bool first = true;
    for (; k < text.size() && (first || text[k] != ']'); ++k, first = false) {
        unsigned char from = lowerByte(text[k]);
        if (text[k] == '\\' && k + 1 < text.size())
            from = lowerByte(text[++k]);
        unsigned char to = from;
        if (k + 2 < text.size() && text[k + 1] == '-' && text[k + 2] != ']') {
            to = lowerByte(text[k + 2]);
            k += 2;
        }
        for (unsigned c = from; c <= to; ++c)
            set.set(c);
    }
    if (k >= text.size())
        return std::nullopt;
    i = k;
    return negated ? ~set : set;
}

} // namespace

std::optional<NamePattern> compileNamePattern(const std::string& text, std::string& problem)
{
    NamePattern pattern;
    std::size_t end = text.size();
    std::size_t i = 0;
    if (!text.empty() && text[0] == '^') {
        pattern.atStart = true;
        i = 1;
    }
    // a final '$' anchors unless it is escaped
    if (end > i && text[end - 1] == '$' && !(end >= 2 && text[end - 2] == '\\')) {
        pattern.atEnd = true;
        --end;
    }
    for (; i < end; ++i) {
        const char c = text[i];
        NamePattern::Token token;
        if (c == '*') {
            if (pattern.tokens.empty() || pattern.tokens.back().repeated) {
                problem = "'*' with nothing before it";
                return std::nullopt;
            }
            pattern.tokens.back().repeated = true;
            continue;
        }
        if (c == '.') {
            token.chars.set();
        } else if (c == '[') {
            const std::optional<std::bitset<256>> set = bracketSet(text.substr(0, end), i);
            if (!set) {
                problem = "'[' without ']'";
                return std::nullopt;
            }
            token.chars = *set;
        } else if (c == '\\') {
            if (i + 1 >= end) {
                problem = "'\\' at the end";
                return std::nullopt;
            }
            token.chars.set(lowerByte(text[++i]));
        } else {
            token.chars.set(lowerByte(c));
        }
        pattern.tokens.push_back(token);
    }
    return pattern;
}

bool matchesName(const NamePattern& pattern, const std::string& name)
{
    // the tokens as the states of an automaton: state k has matched tokens 0..k-1; a repeated token may
    // be passed over without a character, so every state also reaches the next ones past repeated tokens
    const std::size_t m = pattern.tokens.size();
    std::vector<char> now(m + 1, 0);
    std::vector<char> next(m + 1, 0);
    const auto close = [&](std::vector<char>& states) {
        for (std::size_t k = 0; k < m; ++k)
            if (states[k] && pattern.tokens[k].repeated)
                states[k + 1] = 1;
    };
    now[0] = 1;
    close(now);
    for (std::size_t j = 0;; ++j) {
        if (now[m] && (!pattern.atEnd || j == name.size()))
            return true;
        if (j == name.size())
            return false;
        const unsigned char c = lowerByte(name[j]);
        std::fill(next.begin(), next.end(), 0);
        for (std::size_t k = 0; k < m; ++k) {
            if (!now[k] || !pattern.tokens[k].chars.test(c))
                continue;
            next[pattern.tokens[k].repeated ? k : k + 1] = 1;
        }
        // without '^' a match may start at any character
        if (!pattern.atStart)
            next[0] = 1;
        close(next);
        now.swap(next);
    }
}

} // namespace kestrune
