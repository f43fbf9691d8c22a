#include "core/matching/MatchFile.h"

#include "support/FakeMessages.h"
#include "support/TestFolder.h"

#include <gtest/gtest.h>

namespace kestrune {

namespace {

using test::FakeMessages;

const char* const kExample = R"({"start": "periodic",
 "variables": [{"element": "QF", "field": "k", "min": 0, "max": 5, "step": 1e-7}],
 "constraints": [{"quantity": "tune_x", "relation": "=", "value": 3.70},
                 {"quantity": "beta_x_m", "at": "QD", "relation": "<=", "value": 20.0, "weight": 1}],
 "tolerance": 1e-10, "max_iterations": 100})";

TEST(MatchFile, ReadsTheDocumentedExample)
{
    FakeMessages messages;
    const std::optional<MatchDefinition> d = parseMatchDefinition(kExample, messages);
    ASSERT_TRUE(d) << messages.errors[0];
    EXPECT_EQ(d->start, MatchStart::Periodic);
    ASSERT_EQ(d->variables.size(), 1u);
    EXPECT_EQ(refText(d->variables[0].element), "QF");
    EXPECT_EQ(d->variables[0].max, 5);
    EXPECT_EQ(d->variables[0].step, 1e-7);
    ASSERT_EQ(d->constraints.size(), 2u);
    EXPECT_EQ(d->constraints[0].quantity, MatchQuantity::TuneX);
    EXPECT_EQ(d->constraints[1].relation, MatchRelation::AtMost);
    EXPECT_EQ(refText(d->constraints[1].at), "QD");
    EXPECT_EQ(d->maxIterations, 100);
}

TEST(MatchFile, WrittenAndReadBackGivesTheSameDefinition)
{
    MatchDefinition d;
    d.start = MatchStart::Initial;
    d.variables.push_back(MatchVariable{elementRef("12"), MatchField::Length, 0.1, kNoBound, 1e-6});
    d.variables.push_back(MatchVariable{elementRef("B1"), MatchField::H, -kNoBound, 0.3, 0});
    MatchConstraint phase;
    phase.quantity = MatchQuantity::PhaseY;
    phase.from = elementRef("QF");
    phase.at = elementRef("7");
    phase.value = 1.0 / 3; // needs all 17 digits
    d.constraints.push_back(phase);
    d.constraints.push_back(MatchConstraint{MatchQuantity::MaxBetaX, {}, {}, MatchRelation::AtMost, 25, 0.5});
    d.variables.push_back(MatchVariable{elementRef("SQ"), MatchField::K1s, -0.1, 0.1, 0});
    d.constraints.push_back(
        MatchConstraint{MatchQuantity::R12, elementRef("M"), {}, MatchRelation::Equal, 0, 1});
    d.tolerance = 1e-12;
    d.maxIterations = 7;

    const test::ScopedTestFolder folder("match-file");
    const std::string file = (folder.path() / "m.json").string();
    FakeMessages messages;
    ASSERT_TRUE(writeMatchFile(file, d, messages));
    const std::optional<MatchDefinition> back = readMatchFile(file, messages);
    ASSERT_TRUE(back);
    EXPECT_EQ(matchDefinitionText(*back), matchDefinitionText(d));
    EXPECT_EQ(back->constraints[0].value, 1.0 / 3);
    EXPECT_EQ(back->variables[0].element.kind, ElementRef::Kind::Index);
    EXPECT_EQ(back->variables[1].min, -kNoBound);
    EXPECT_EQ(back->variables[2].field, MatchField::K1s);
    EXPECT_EQ(refText(back->constraints[2].at), "M");
}

TEST(MatchFile, MalformedTextIsRefusedNamingTheEntry)
{
    const struct
    {
        const char* text;
        const char* message;
    } cases[] = {
        {"[1, 2]", "match file, the match must be a JSON object"},
        {R"({"variables": [], "constraints": [], "tol": 1})", "match file, the match: unknown key \"tol\""},
        {R"({"variables": {}, "constraints": []})", "match file, the match: \"variables\" must be a list"},
        {R"({"start": "ring", "variables": [], "constraints": []})",
         "match file, the match: \"start\" must be \"periodic\" or \"initial\""},
        {R"({"variables": [{"element": "QF", "field": "kl"}], "constraints": []})",
         "match file, variable 1: unknown field \"kl\" (k, m, h, length, k3, k1s, ks, tilt)"},
        {R"({"variables": [{"field": "k"}], "constraints": []})",
         "match file, variable 1: \"element\" is missing"},
        {R"({"variables": [{"element": 2.5}], "constraints": []})",
         "match file, variable 1: \"element\" must be an element name, an element index or \"end\""},
        {R"({"variables": [{"element": "QF", "min": "0"}], "constraints": []})",
         "match file, variable 1: \"min\" must be a number"},
        {R"({"variables": [], "constraints": [{"quantity": "tune_z", "value": 1}]})",
         "match file, constraint 1: unknown quantity \"tune_z\""},
        {R"({"variables": [], "constraints": [{"quantity": "tune_x"}]})",
         "match file, constraint 1: \"value\" is missing"},
        {R"({"variables": [], "constraints": [{"quantity": "phase_x", "at": "QF", "value": 1}]})",
         "match file, constraint 1: a phase advance takes \"from\" and \"to\", not \"at\""},
        {R"({"variables": [], "constraints": [{"quantity": "tune_x", "at": "QF", "value": 1}]})",
         "match file, constraint 1: tune_x is not taken at a place and takes no \"at\""},
        {R"({"variables": [], "constraints": [{"quantity": "beta_x_m", "relation": "<", "value": 1}]})",
         "match file, constraint 1: unknown relation \"<\" (=, <=, >=)"},
        {R"({"variables": [], "constraints": [], "max_iterations": 0})",
         "match file, the match: \"max_iterations\" must be a whole number from 1 to 100000"},
        {"{\"variables\": [",
         "the match file is not valid JSON: parse error at line 1, column 16: syntax error while "
         "parsing value - unexpected end of input; expected '[', '{', or a literal"},
    };
    for (const auto& c : cases) {
        FakeMessages messages;
        EXPECT_FALSE(parseMatchDefinition(c.text, messages)) << c.text;
        ASSERT_EQ(messages.errors.size(), 1u) << c.text;
        EXPECT_EQ(messages.errors[0], c.message);
    }
}

} // namespace

} // namespace kestrune
