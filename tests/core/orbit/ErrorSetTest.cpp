#include "core/orbit/ErrorSet.h"

#include "support/FakeMessages.h"

#include <cmath>
#include <gtest/gtest.h>

namespace kestrune {
namespace {

using test::FakeMessages;

// n quadrupoles Q1..Qn of 0.5 m with drifts between them
BeamLine quadrupoles(int n)
{
    BeamLine line;
    for (int i = 1; i <= n; ++i) {
        line.at(++line.count) = LatticeElement{"Q" + std::to_string(i), code::kQuadrupole};
        line.at(line.count).length = 0.5;
        line.at(line.count).k = 2;
        line.at(++line.count) = LatticeElement{"D", code::kDrift};
        line.at(line.count).length = 1;
    }
    line.chainPositions();
    return line;
}

ErrorSet setOf(const std::string& text)
{
    FakeMessages messages;
    const std::optional<ErrorSet> set = parseErrorSet(text, messages);
    EXPECT_TRUE(set) << (messages.errors.empty() ? "" : messages.errors[0]);
    return set.value_or(ErrorSet{});
}

TEST(ErrorSet, ASeedGivesItsErrorsWhateverElseTheRulesTake)
{
    const ErrorSet set = setOf(R"({"rules": [
        {"elements": {"family": "quadrupole"}, "error": "dx", "sigma": 1e-4, "cut": 3},
        {"elements": {"pattern": "^Q[1-3]$"}, "error": "dkn", "order": 2, "half_width": 0.5}]})");
    BeamLine line = quadrupoles(6);
    const std::vector<ElementErrors> a = drawErrors(set, line, 7);
    EXPECT_EQ(a[5].dx, drawErrors(set, line, 7)[5].dx);
    EXPECT_NE(a[5].dx, drawErrors(set, line, 8)[5].dx);
    EXPECT_EQ(a[2].dx, 0) << "drifts take no errors";
    EXPECT_EQ(a[5].dkn.size(), 3u);
    EXPECT_TRUE(a[7].dkn.empty()) << "Q4 is not one of Q1..Q3";
    // the element an error goes to draws alike when an element before it is no longer taken
    line.at(1).name = "X";
    const std::vector<ElementErrors> b = drawErrors(set, line, 7);
    EXPECT_EQ(b[5].dx, a[5].dx);
    EXPECT_EQ(b[5].dkn, a[5].dkn);
    EXPECT_TRUE(b[1].dkn.empty());
}

TEST(ErrorSet, DistributionsHaveTheirWidthAndTheCutHolds)
{
    // the standard deviation of a normal distribution cut at c sigma is
    // sigma sqrt(1 - 2 c phi(c) / (2 Phi(c) - 1)): 0.87957 sigma at c = 2; a uniform one of half width w
    // has w / sqrt(3); with 4000 draws the sample's deviation is within 1.2 % (one sigma) of it
    const struct
    {
        const char* draw;
        double bound;  // largest |dx|, 0: none
        double spread; // expected standard deviation
    } cases[] = {
        {R"("sigma": 1e-4)", 0, 1e-4},
        {R"("sigma": 1e-4, "cut": 2)", 2e-4, 0.87957e-4},
        {R"("half_width": 3e-4)", 3e-4, 3e-4 / std::sqrt(3.0)},
    };
    const BeamLine line = quadrupoles(4000);
    for (const auto& c : cases) {
        const ErrorSet set =
            setOf(std::string(R"({"rules": [{"elements": {}, "error": "dy", )") + c.draw + "}]}");
        const std::vector<ElementErrors> errors = drawErrors(set, line, 12345);
        double sum = 0;
        double squares = 0;
        double largest = 0;
        for (int i = 1; i <= line.count; i += 2) {
            const double dy = errors[static_cast<std::size_t>(i)].dy;
            sum += dy;
            squares += dy * dy;
            largest = std::max(largest, std::fabs(dy));
        }
        const double n = 4000;
        const double mean = sum / n;
        EXPECT_NEAR(std::sqrt(squares / n - mean * mean), c.spread, 0.05 * c.spread) << c.draw;
        EXPECT_NEAR(mean, 0, 0.1 * c.spread) << c.draw;
        EXPECT_LE(largest, c.bound > 0 ? c.bound : 10 * c.spread) << c.draw;
    }
}

TEST(ErrorSet, RulesAddOrReplaceAndTheLineGetsItsOwnErrorsBack)
{
    BeamLine line = quadrupoles(2);
    line.at(1).errors.dx = 1e-3;
    line.at(1).errors.dkn = {0, 0.01};
    const ErrorSet set = setOf(R"({"rules": [
        {"elements": {"names": ["Q1"]}, "error": "dx", "value": 2e-4},
        {"elements": {"names": ["Q1", "Q2"]}, "error": "dkn", "order": 1, "value": 0.5, "mode": "replace"},
        {"elements": {"names": ["Q2"]}, "error": "dks", "order": 2, "radius": 0.02, "value": 1e-3}]})");
    const ElementErrors permanent = line.at(1).errors;
    FakeMessages messages;
    const std::vector<ElementErrors> previous = applyErrorSet(line, set, 1, messages).value();
    EXPECT_DOUBLE_EQ(line.at(1).errors.dx, 1.2e-3);
    EXPECT_EQ(line.at(1).errors.dkn, (std::vector<double>{0, 0.5}));
    EXPECT_EQ(line.at(3).errors.dkn, (std::vector<double>{0, 0.5}));
    // 1e-3 of the quadrupole's field k L = 1 /m at 2 cm: B_2 r^2 / 2 = 1e-3 B_1 r, dK2 L = 0.1 /m^2
    ASSERT_EQ(line.at(3).errors.dks.size(), 3u);
    EXPECT_NEAR(line.at(3).errors.dks[2], 0.1, 1e-15);
    restoreErrors(line, previous);
    EXPECT_EQ(line.at(1).errors.dx, permanent.dx);
    EXPECT_EQ(line.at(1).errors.dkn, permanent.dkn);
    EXPECT_FALSE(line.at(3).errors.any());
    // errors an element cannot take leave the line as it was
    EXPECT_FALSE(applyErrorSet(line, setOf(R"({"rules": [{"elements": {}, "error": "ds", "value": 2}]})"), 1,
                               messages));
    ASSERT_EQ(messages.errors.size(), 1u);
    EXPECT_EQ(messages.errors[0].rfind(
                  "the error set gives element 1 (Q1) errors it cannot take: the misalignment", 0),
              0u)
        << messages.errors[0];
    EXPECT_EQ(line.at(1).errors.ds, 0);
}

TEST(ErrorSet, BadEntriesAreRefusedByRuleAndKey)
{
    const std::string rule = R"({"elements": {}, "error": "dx", "value": 1e-4)";
    const struct
    {
        std::string text;
        std::string error;
    } cases[] = {
        {"[1]", "error set, the error set must be a JSON object"},
        {R"({"rules": [], "colour": 1})", "error set, the error set: unknown key \"colour\""},
        {R"({"seed": -1, "rules": []})", "error set, the error set: \"seed\" must be a whole number from 0"},
        {R"({"rules": [)" + rule + R"(, "error": "dz"}]})",
         "error set, rule 1: unknown error \"dz\" (dx, dy, ds, dtheta, dphi, dpsi, dkn, dks)"},
        {R"({"rules": [)" + rule + "}, " + rule + R"(, "sigma": 1}]})",
         "error set, rule 2: exactly one of \"value\", \"sigma\" and \"half_width\" expected"},
        {R"({"rules": [{"elements": {"family": "drift"}, "error": "dx", "value": 1}]})",
         "error set, rule 1: unknown family \"drift\" (bend, quadrupole, sextupole, pump, alpha magnet, "
         "multipole, kicker, diagnostic, cavity; drifts take no errors)"},
        {R"({"rules": [{"elements": {"pattern": "Q[1"}, "error": "dx", "value": 1}]})",
         "error set, rule 1: the pattern \"Q[1\" is not one: '[' without ']'"},
        {R"({"rules": [{"elements": {}, "error": "dkn", "order": 10, "value": 1}]})",
         "error set, rule 1: \"order\" must be a whole number from 0 to 9"},
        {R"({"rules": [{"elements": {}, "error": "dkn", "value": 1}]})",
         "error set, rule 1: a field error needs its \"order\""},
        {R"({"rules": [{"elements": {}, "error": "dx", "sigma": 1, "cut": 0}]})",
         "error set, rule 1: \"cut\" must be from 0.1 to 30 (sigma)"},
        {R"({"rules": [{"elements": {}, "error": "dx", "half_width": -1}]})",
         "error set, rule 1: \"half_width\" must not be negative"},
        {R"({"rules": [{"elements": {}, "error": "dx", "value": 1e300}]})",
         "error set, rule 1: \"value\" must be a number of magnitude at most 1e6"},
        {R"({"rules": [{"elements": {"names": "Q1"}, "error": "dx", "value": 1}]})",
         "error set, rule 1: \"names\" must be a list of element names"},
    };
    for (const auto& c : cases) {
        FakeMessages messages;
        EXPECT_FALSE(parseErrorSet(c.text, messages)) << c.text;
        ASSERT_EQ(messages.errors.size(), 1u) << c.text;
        EXPECT_EQ(messages.errors[0], c.error);
    }
}

} // namespace
} // namespace kestrune
