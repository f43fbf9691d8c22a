#include "core/NamePattern.h"

#include <gtest/gtest.h>

namespace kestrune {
namespace {

TEST(NamePattern, MatchesAsMadxSelectDoes)
{
    const struct
    {
        const char* pattern;
        const char* name;
        bool matches;
    } cases[] = {
        {"^q[df]$", "QF", true},  {"^q[df]$", "qf1", false},  {"qf", "mqf.1", true},
        {"^qf", "mqf", false},    {"qf.*1$", "qf.a.1", true}, {"qf\\.1", "qfx1", false},
        {"qf\\.1", "qf.1", true}, {"^[^q]", "mb", true},      {"^[^q]", "qd", false},
        {"^a*b$", "aaab", true},  {"^a*b$", "b", true},       {"^a*b$", "aab.", false},
        {"x*", "", true},         {"^.$", "", false},         {"[a-c]1", "B1", true},
    };
    for (const auto& c : cases) {
        std::string problem;
        const std::optional<NamePattern> p = compileNamePattern(c.pattern, problem);
        ASSERT_TRUE(p) << c.pattern << ": " << problem;
        EXPECT_EQ(matchesName(*p, c.name), c.matches) << c.pattern << " on " << c.name;
    }
    for (const char* bad : {"q[df", "*q", "q**", "q\\"}) {
        std::string problem;
        EXPECT_FALSE(compileNamePattern(bad, problem)) << bad;
    }
}

} // namespace
} // namespace kestrune
