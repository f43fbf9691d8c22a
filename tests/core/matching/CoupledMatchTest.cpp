#include "core/Kinematics.h"
#include "core/coupling/CoupledOptics.h"
#include "core/matching/MatchLattices.h"
#include "core/matching/Matcher.h"

#include <Eigen/Dense>
#include <cmath>
#include <gtest/gtest.h>

namespace kestrune {

namespace {

using test::addNamed;
using test::constraint;
using test::FakeMessages;
using test::variable;

// Eight cells QF/2 - D - QD - D - QF/2 with split tunes, a skew quadrupole error ERR in the first cell and
// two families of thin skew correctors, SKA beside the QD of cells 3 and 5, SKB in the middle of the drifts
// of cells 2 and 3 (a family of cells four apart would cancel its own C-: their phases differ by
// 4 (mu_x - mu_y) - (Q_x - Q_y - p) / 2 = p / 2 turns, and p = 1 here).
State skewRing()
{
    State state;
    test::electronAt(state, 1e9);
    state.ringClosed = true;
    for (int cell = 1; cell <= 8; ++cell) {
        addNamed(state, "QF", code::kQuadrupole, 0.2, 1.2);
        if (cell == 1)
            addNamed(state, "ERR", code::kQuadrupole, 0.1).k1s = 0.03;
        addNamed(state, "D", code::kDrift, cell == 1 ? 1.9 : 2.0);
        addNamed(state, "QD", code::kQuadrupole, 0.4, -1.0);
        if (cell == 3 || cell == 5)
            addNamed(state, "SKA", code::kThinMultipole, 0).ksl = {0, 0};
        addNamed(state, "D", code::kDrift, 1.0);
        if (cell == 2 || cell == 3)
            addNamed(state, "SKB", code::kThinMultipole, 0).ksl = {0, 0};
        addNamed(state, "D", code::kDrift, 1.0);
        addNamed(state, "QF", code::kQuadrupole, 0.2, 1.2);
    }
    state.line.chainPositions();
    return state;
}

std::complex<double> cMinus(const State& state)
{
    const CouplingCoefficient c = couplingCoefficient(state);
    EXPECT_TRUE(c.computed);
    return {c.re, c.im};
}

// The ring with the families at integrated strengths a and b and the error scaled by e.
State withStrengths(State state, double a, double b, double e)
{
    for (int i = 1; i <= state.line.count; ++i) {
        LatticeElement& el = state.line.at(i);
        if (el.name == "SKA")
            el.ksl[1] = a;
        else if (el.name == "SKB")
            el.ksl[1] = b;
        else if (el.name == "ERR")
            el.k1s *= e;
    }
    return state;
}

TEST(CoupledMatch, TwoSkewFamiliesCancelTheCouplingOfOneErrorAsTheLinearSystemSays)
{
    // C- is linear in the skew strengths (the uncoupled optics it takes do not see them):
    // C-(a, b) = c0 + a cA + b cB, so the correction solves the 2 x 2 real system of Re and Im.
    State ring = skewRing();
    const std::complex<double> c0 = cMinus(ring);
    const std::complex<double> cA = cMinus(withStrengths(ring, 1, 0, 0));
    const std::complex<double> cB = cMinus(withStrengths(ring, 0, 1, 0));
    Eigen::Matrix2d m;
    m << cA.real(), cB.real(), cA.imag(), cB.imag();
    const Eigen::Vector2d expected = m.partialPivLu().solve(Eigen::Vector2d(-c0.real(), -c0.imag()));
    const double dqBefore = closestTuneApproach(ring).deltaQMin;

    MatchDefinition d;
    d.variables = {variable("SKA", MatchField::K1s), variable("SKB", MatchField::K1s)};
    d.constraints = {constraint(MatchQuantity::CMinusRe, 0), constraint(MatchQuantity::CMinusIm, 0)};
    FakeMessages messages;
    const std::optional<MatchResult> result = matchDesign(ring, d, messages);
    ASSERT_TRUE(result && result->converged) << (messages.errors.empty() ? "" : messages.errors[0]);
    EXPECT_NEAR(result->variables[0].final, expected(0), 1e-9);
    EXPECT_NEAR(result->variables[1].final, expected(1), 1e-9);
    EXPECT_LT(std::abs(cMinus(ring)), 1e-6);
    // the exact closest tune approach of the eigentunes falls to what the second order leaves
    EXPECT_LT(closestTuneApproach(ring).deltaQMin, 0.1 * dqBefore) << dqBefore;
}

// The 2 x 2 blocks of the transfer map through the line: R = -M_yx M_xx^-1 at its end for a start
// without coupling, from v1 = M (u1, 0) and R = -E(y part) E(x part)^-1.
Eigen::Matrix2d endCoupling(const State& state)
{
    Map5 m = identityMap();
    for (int i = 1; i <= state.line.count; ++i)
        m = product(elementMap(state.line.at(i)), m);
    Eigen::Matrix2d xx, yx;
    xx << m[0][0], m[0][1], m[1][0], m[1][1];
    yx << m[2][0], m[2][1], m[3][0], m[3][1];
    return -yx * xx.inverse();
}

TEST(CoupledMatch, TransportLineTakesItsCouplingMatrixAtAPlace)
{
    State line;
    test::electronAt(line, 1e9);
    addNamed(line, "D", code::kDrift, 1.0);
    addNamed(line, "SQ1", code::kQuadrupole, 0.2);
    addNamed(line, "D", code::kDrift, 2.0);
    addNamed(line, "QF", code::kQuadrupole, 0.3, 1.0);
    addNamed(line, "D", code::kDrift, 1.0);
    addNamed(line, "SQ2", code::kQuadrupole, 0.2);
    addNamed(line, "D", code::kDrift, 1.5);
    addNamed(line, "M", code::kMarker, 0);
    addNamed(line, "D", code::kDrift, 1.0);
    line.line.chainPositions();
    line.run.betaX0 = 5;
    line.run.betaY0 = 8;
    MatchDefinition d;
    d.start = MatchStart::Initial;
    d.variables = {variable("SQ1", MatchField::K1s), variable("SQ2", MatchField::K1s)};
    d.constraints = {constraint(MatchQuantity::R11, 0.1, "M"), constraint(MatchQuantity::R21, -0.05, "M")};
    FakeMessages messages;
    const std::optional<MatchResult> result = matchDesign(line, d, messages);
    ASSERT_TRUE(result && result->converged) << (messages.errors.empty() ? "" : messages.errors[0]);
    line.line.count = 8; // the map to M
    const Eigen::Matrix2d r = endCoupling(line);
    EXPECT_NEAR(r(0, 0), 0.1, 1e-9);
    EXPECT_NEAR(r(1, 0), -0.05, 1e-9);
}

TEST(CoupledMatch, RefusalsNameTheEntryAndALineWithoutSourcesHasNoCoupling)
{
    const State ring = skewRing();
    const struct
    {
        MatchVariable v;
        MatchConstraint c;
        const char* error;
    } cases[] = {
        {variable("SKA", MatchField::K1s), constraint(MatchQuantity::BetaX, 10, "QD"),
         "constraint 1 (beta_x_m at QD): the planes are coupled here (by the line's skew quadrupoles, "
         "solenoids "
         "or rolls, a variable k1s, ks or tilt, or the coupled start), and this is a quantity of the "
         "uncoupled "
         "optics: take the modes' tune_1, tune_2, beta_1_m ... r22 instead"},
        {variable("SKA", MatchField::K1s), constraint(MatchQuantity::R11, 0, "NOWHERE"),
         "constraint 1 (r11 at NOWHERE): there is no element named NOWHERE"},
        {variable("D", MatchField::K1s), constraint(MatchQuantity::CMinusAbs, 0),
         "variable 1 (D k1s): element 3 (drift space) has no field k1s; it belongs to quadrupoles, bending "
         "magnets and thin multipoles with a skew quadrupole component ksl[1]"},
    };
    for (const auto& c : cases) {
        MatchDefinition d;
        d.variables = {c.v};
        d.constraints = {c.c};
        FakeMessages messages;
        EXPECT_FALSE(Matcher::start(ring, d, messages));
        ASSERT_EQ(messages.errors.size(), 1u);
        EXPECT_EQ(messages.errors[0], c.error);
    }
    // without sources the coupling is 0, the eigentunes are the planes' tunes
    const State plain = test::namedFodoRing(8);
    MatchDefinition d;
    d.variables = {variable("QF")};
    d.constraints = {constraint(MatchQuantity::CMinusAbs, 0), constraint(MatchQuantity::Tune1, 1),
                     constraint(MatchQuantity::TuneX, 1)};
    FakeMessages messages;
    const std::unique_ptr<Matcher> matcher = Matcher::start(plain, d, messages);
    ASSERT_TRUE(matcher) << (messages.errors.empty() ? "" : messages.errors[0]);
    const MatchResult r = matcher->result();
    EXPECT_EQ(r.constraints[0].start, 0.0);
    EXPECT_NEAR(r.constraints[1].start, r.constraints[2].start, 1e-9);
}

} // namespace

} // namespace kestrune
