// Problems without an exact answer, refused definitions, stopping, and what the design receives.
#include "core/Design.h"
#include "core/matching/MatchLattices.h"
#include "core/matching/Matcher.h"
#include "core/optics/BetaFunctions.h"
#include "core/ring/RingGeometry.h"

#include <cmath>
#include <gtest/gtest.h>

namespace kestrune {

namespace {

using test::constraint;
using test::FakeMessages;
using test::variable;

// The ring pass of the program on a copy with QF and QD set: the tunes.
std::pair<double, double> tunesWith(const State& ring, double kF, double kD)
{
    State copy = ring;
    for (int i = 1; i <= copy.line.count; ++i) {
        LatticeElement& e = copy.line.at(i);
        e.k = e.name == "QF" ? kF : e.name == "QD" ? kD : e.k;
    }
    FakeMessages messages;
    EXPECT_TRUE(betaFunctions(copy, messages, nullptr));
    return {copy.lf.tuneX, copy.lf.tuneY};
}

MatchDefinition tuneMatch(std::vector<MatchVariable> variables, double qx, double qy)
{
    MatchDefinition d;
    d.variables = std::move(variables);
    d.constraints = {constraint(MatchQuantity::TuneX, qx), constraint(MatchQuantity::TuneY, qy)};
    return d;
}

TEST(MatcherLimits, MoreConstraintsThanVariablesGiveTheLeastSquaresCompromise)
{
    const State ring = test::namedFodoRing(8);
    State work = ring;
    FakeMessages messages;
    const std::unique_ptr<Matcher> matcher =
        Matcher::start(work, tuneMatch({variable("QF")}, 2.35, 2.20), messages);
    ASSERT_TRUE(matcher);
    while (matcher->iterate()) {
    }
    const MatchResult result = matcher->result();
    EXPECT_EQ(result.end, MatchEnd::NoProgress);
    EXPECT_FALSE(result.converged);
    EXPECT_FALSE(result.constraints[0].met);
    EXPECT_FALSE(result.constraints[1].met);
    EXPECT_EQ(matchSummary(matcher->setup().definition, result)[1],
              "not met: constraint 1 (tune_x), constraint 2 (tune_y)");
    EXPECT_EQ(designDifference(work, ring), ""); // the design is not touched

    // the compromise is the least-squares minimum: the sum of squares rises on either side
    const double kF = result.variables[0].final;
    const auto squares = [&](double k) {
        const auto [qx, qy] = tunesWith(ring, k, -1.2);
        return (qx - 2.35) * (qx - 2.35) + (qy - 2.20) * (qy - 2.20);
    };
    EXPECT_LT(squares(kF), squares(kF + 1e-5));
    EXPECT_LT(squares(kF), squares(kF - 1e-5));
}

TEST(MatcherLimits, FewerConstraintsThanVariablesTakeTheSmallestChange)
{
    State ring = test::namedFodoRing(8);
    const double target = tunesWith(ring, 1.2, -1.2).first + 0.03;
    MatchDefinition d;
    d.variables = {variable("QF"), variable("QD")};
    d.constraints = {constraint(MatchQuantity::TuneX, target)};
    FakeMessages messages;
    const std::optional<MatchResult> result = matchDesign(ring, d, messages);
    ASSERT_TRUE(result && result->converged);
    const double dF = result->variables[0].final - 1.2;
    const double dD = result->variables[1].final + 1.2;

    // the nearest point of the curve Q_x = target is where the change is parallel to the gradient of Q_x
    // (by central differences of the ring pass); the steps of smallest norm reach it to first order in
    // the change (here 0.5 % of QF). Changing QF alone needs a larger change.
    const double h = 1e-6;
    const double gF = (tunesWith(ring, ring.line.at(1).k + h, ring.line.at(5).k).first -
                       tunesWith(ring, ring.line.at(1).k - h, ring.line.at(5).k).first) /
                      (2 * h);
    const double gD = (tunesWith(ring, ring.line.at(1).k, ring.line.at(5).k + h).first -
                       tunesWith(ring, ring.line.at(1).k, ring.line.at(5).k - h).first) /
                      (2 * h);
    const double sine = (dF * gD - dD * gF) / std::hypot(dF, dD) / std::hypot(gF, gD);
    EXPECT_LT(std::fabs(sine), 1e-2);

    State alone = test::namedFodoRing(8);
    d.variables = {variable("QF")};
    const std::optional<MatchResult> qfOnly = matchDesign(alone, d, messages);
    ASSERT_TRUE(qfOnly && qfOnly->converged);
    EXPECT_LT(std::hypot(dF, dD), std::fabs(qfOnly->variables[0].final - 1.2));
}

TEST(MatcherLimits, BoundsThatForbidTheSolutionStopAtTheBound)
{
    State ring = test::namedFodoRing(8);
    MatchVariable qf = variable("QF");
    qf.max = 1.205; // the solution needs 1.2072
    FakeMessages messages;
    bool within = true;
    const std::optional<MatchResult> result =
        matchDesign(ring, tuneMatch({qf, variable("QD")}, 2.35, 2.20), messages, [&](const MatchResult& r) {
            within = within && r.variables[0].final <= 1.205;
            return true;
        });
    ASSERT_TRUE(result);
    EXPECT_TRUE(within);
    EXPECT_FALSE(result->converged);
    EXPECT_TRUE(result->variables[0].atUpper);
    EXPECT_EQ(ring.line.at(1).k, 1.205);
    const std::vector<std::string> summary =
        matchSummary(tuneMatch({qf, variable("QD")}, 2.35, 2.2), *result);
    EXPECT_EQ(summary.back(), "variable 1 (QF k) stops at its upper bound 1.205");
}

TEST(MatcherLimits, ALengthStopsAtZeroInsteadOfGoingNegative)
{
    // a diverging start, alpha = -1: beta(L) = 10 + 2 L + L^2 / 5 would fall to 5 m at L = -5 m, but a
    // drift's length is never negative, so the match ends at L = 0 with its target not met
    State line;
    test::electronAt(line, 1e9);
    test::addNamed(line, "D", code::kDrift, 2);
    line.run.betaX0 = line.run.betaY0 = 10;
    line.run.alphaX0 = -1;
    MatchDefinition d{
        MatchStart::Initial, {variable("D", MatchField::Length)}, {constraint(MatchQuantity::BetaX, 0.001)}};
    FakeMessages messages;
    const std::optional<MatchResult> result = matchDesign(line, d, messages);
    ASSERT_TRUE(result);
    EXPECT_FALSE(result->converged);
    EXPECT_EQ(line.line.at(1).length, 0.0);
    EXPECT_EQ(matchSummary(d, *result).back(), "variable 1 (D length) stops at its lower bound 0");
}

TEST(MatcherLimits, AStartWithoutPeriodicSolutionIsRefused)
{
    State ring = test::namedFodoRing(8);
    for (int i = 1; i <= ring.line.count; ++i)
        if (ring.line.at(i).name == "QF")
            ring.line.at(i).k = 6;
    const State before = ring;
    FakeMessages messages;
    EXPECT_FALSE(matchDesign(ring, tuneMatch({variable("QF"), variable("QD")}, 2.35, 2.2), messages));
    ASSERT_EQ(messages.errors.size(), 1u);
    EXPECT_EQ(messages.errors[0], "no periodic solution at the start of the match: the cell must be stable "
                                  "before its strengths are matched");
    EXPECT_EQ(designDifference(ring, before), "");
}

TEST(MatcherLimits, ACellLosingItsPeriodicSolutionOnTheWayIsNoError)
{
    // from 36 to 162 degrees per cell: the first full steps leave the stable region
    State cell = test::thinLensFodoCell(2.0, 1e-3, 0.3, 0.3);
    MatchDefinition d;
    d.variables = {variable("QF"), variable("QD")};
    d.constraints = {constraint(MatchQuantity::PhaseX, 0.45), constraint(MatchQuantity::PhaseY, 0.45)};
    FakeMessages messages;
    const std::optional<MatchResult> result = matchDesign(cell, d, messages);
    ASSERT_TRUE(result);
    EXPECT_TRUE(result->converged);
    EXPECT_TRUE(messages.errors.empty());
    EXPECT_NEAR(result->constraints[0].final, 0.45, 1e-10);
}

TEST(MatcherLimits, RefusedDefinitionsNameTheirEntry)
{
    const State ring = test::namedFodoRing(8);
    const MatchConstraint tune = constraint(MatchQuantity::TuneX, 2.3);
    MatchVariable reversed = variable("QF");
    reversed.min = 2;
    reversed.max = 1;
    MatchConstraint weightless = tune;
    weightless.weight = 0;
    MatchVariable shorter = variable("D", MatchField::Length);
    shorter.min = -5;
    shorter.max = -1;
    const struct
    {
        MatchDefinition d;
        std::string message;
    } cases[] = {
        {MatchDefinition{MatchStart::Periodic, {variable("QX")}, {tune}},
         "variable 1 (QX k): there is no element named QX"},
        {MatchDefinition{MatchStart::Periodic, {variable("40")}, {tune}},
         "variable 1 (40 k): there is no element 40; the line has 9"},
        {MatchDefinition{MatchStart::Periodic, {variable("D", MatchField::M)}, {tune}},
         "variable 1 (D m): element 2 (drift space) has no field m; it belongs to sextupoles"},
        {MatchDefinition{MatchStart::Periodic, {variable("QF"), variable("1")}, {tune}},
         "variable 2 (1 k): element 1 is varied by variable 1 already"},
        {MatchDefinition{MatchStart::Periodic, {reversed}, {tune}},
         "variable 1 (QF k): the lower bound 2 is above the upper bound 1"},
        {MatchDefinition{MatchStart::Periodic, {shorter}, {tune}},
         "variable 1 (D length): the bounds -5 to -1 lie outside the range of the path length, 0 to 100000 "
         "m"},
        {MatchDefinition{MatchStart::Periodic, {variable("QF")}, {weightless}},
         "constraint 1 (tune_x): the weight must be a positive number"},
        {MatchDefinition{MatchStart::Periodic, {variable("QF")}, {constraint(MatchQuantity::BetaX, 1, "QQ")}},
         "constraint 1 (beta_x_m at QQ): there is no element named QQ"},
        {MatchDefinition{MatchStart::Periodic, {}, {tune}}, "the match has no variables"},
        {MatchDefinition{MatchStart::Periodic, {variable("QF")}, {}}, "the match has no constraints"},
    };
    for (const auto& c : cases) {
        FakeMessages messages;
        EXPECT_FALSE(Matcher::start(ring, c.d, messages));
        ASSERT_EQ(messages.errors.size(), 1u) << c.message;
        EXPECT_EQ(messages.errors[0], c.message);
    }
}

// The placements of an imported machine carry their own names (QF.1, QF.2, ...): a name no element has
// that holds a pattern character takes the family by MAD-X's patterns; a pattern over elements of
// different values, or one that does not compile, is refused naming the variable.
TEST(MatcherLimits, APatternOfNamesTakesAFamilyOfPlacements)
{
    State ring = test::namedFodoRing(8);
    int n = 0;
    for (int i = 1; i <= ring.line.count; ++i)
        ring.line.at(i).name += "." + std::to_string(++n);
    const MatchConstraint tune = constraint(MatchQuantity::TuneX, 2.3);
    FakeMessages messages;
    const std::optional<MatchSetup> setup =
        resolveMatch(ring, MatchDefinition{MatchStart::Periodic, {variable("^qf\\.")}, {tune}}, messages);
    ASSERT_TRUE(setup) << messages.errors.front();
    int families = 0;
    for (int i = 1; i <= ring.line.count; ++i)
        families += ring.line.at(i).name.rfind("QF.", 0) == 0 ? 1 : 0;
    EXPECT_EQ(setup->variables.front().elements.size(), static_cast<std::size_t>(families));
    const struct
    {
        const char* name;
        std::string message;
    } refused[] = {
        {"^Q", "variable 1 (^Q k): the elements the pattern takes hold different values of k"},
        {"QF", "variable 1 (QF k): there is no element named QF"},
        {"Q[F", "variable 1 (Q[F k): there is no element named Q[F, nor is it a pattern of names"},
    };
    for (const auto& c : refused) {
        FakeMessages m;
        EXPECT_FALSE(
            resolveMatch(ring, MatchDefinition{MatchStart::Periodic, {variable(c.name)}, {tune}}, m));
        ASSERT_EQ(m.errors.size(), 1u) << c.name;
        EXPECT_EQ(m.errors[0].rfind(c.message, 0), 0u) << m.errors[0];
    }
}

TEST(MatcherLimits, StoppingEndsAfterTheIterationUnderWay)
{
    State ring = test::namedFodoRing(8);
    FakeMessages messages;
    const MatchDefinition d = tuneMatch({variable("QF"), variable("QD")}, 2.35, 2.20);
    const std::optional<MatchResult> result =
        matchDesign(ring, d, messages, [](const MatchResult&) { return false; });
    ASSERT_TRUE(result);
    EXPECT_EQ(result->end, MatchEnd::Cancelled);
    EXPECT_EQ(result->iterations, 1);
    EXPECT_EQ(matchSummary(d, *result)[0].rfind("stopped after 1 iterations", 0), 0u);

    // a flag set from outside ends the iteration after the optics pass under way
    const std::unique_ptr<Matcher> matcher = Matcher::start(test::namedFodoRing(8), d, messages);
    ASSERT_TRUE(matcher);
    const std::atomic<bool> cancel{true};
    EXPECT_FALSE(matcher->iterate(&cancel));
    EXPECT_EQ(matcher->result().end, MatchEnd::Cancelled);
    EXPECT_EQ(matcher->result().opticsPasses, 2); // the start and one Jacobian column
}

TEST(MatcherLimits, ValuesReachTheCopiesOfTheFullRingAndTheDrawing)
{
    State ring = test::namedFodoRing(4);
    FakeMessages messages;
    ASSERT_TRUE(expandToFullRing(ring, 4, messages));
    MatchDefinition d;
    d.variables = {variable("QF"), variable("B", MatchField::Length), variable("B", MatchField::H)};
    d.constraints = {constraint(MatchQuantity::TuneX, 1)};
    const std::optional<MatchSetup> setup = resolveMatch(ring, d, messages);
    ASSERT_TRUE(setup);
    EXPECT_TRUE(designUnchanged(ring, *setup));
    ring.line.at(3).code = code::kRectangularBend;
    applyMatchValues(ring, *setup, {1.3, 2.5, 0.2});
    for (int i = 1; i <= ring.ringElementCount; ++i) {
        const LatticeElement& e = ring.line.at(i);
        if (e.name == "QF") {
            EXPECT_EQ(e.k, 1.3) << i;
        }
        if (e.name == "B") {
            EXPECT_EQ(e.length, 2.5) << i;
        }
        if (i > 1) {
            EXPECT_DOUBLE_EQ(e.s, ring.line.at(i - 1).s + ring.line.at(i - 1).length) << i;
        }
    }
    EXPECT_DOUBLE_EQ(ring.line.at(3).ain, 2.5 * 0.2 / 2); // a rectangular magnet's faces follow its angle
    EXPECT_DOUBLE_EQ(ring.line.shape(3).x1 - ring.line.shape(3).x0, 2.5);
    EXPECT_DOUBLE_EQ(ring.line.length, ring.line.endPosition());
    EXPECT_FALSE(designUnchanged(ring, *setup));
}

} // namespace

} // namespace kestrune
