#include "core/matching/Matcher.h"

#include "core/Design.h"
#include "core/chromaticity/Chromaticity.h"
#include "core/matching/MatchLattices.h"
#include "core/nonlinear/AmplitudeDetuning.h"
#include "core/nonlinear/ChromaticTunes.h"
#include "core/nonlinear/DrivingTerms.h"
#include "core/optics/BetaFunctions.h"
#include "core/ring/Parameter.h"

#include <cmath>
#include <gtest/gtest.h>

namespace kestrune {

namespace {

using test::constraint;
using test::FakeMessages;
using test::variable;

MatchResult matched(State& state, const MatchDefinition& d)
{
    FakeMessages messages;
    const std::optional<MatchResult> result = matchDesign(state, d, messages);
    EXPECT_TRUE(result) << (messages.errors.empty() ? "" : messages.errors[0]);
    EXPECT_TRUE(messages.errors.empty());
    return result.value_or(MatchResult{});
}

std::pair<double, double> ringTunes(State state)
{
    FakeMessages messages;
    EXPECT_TRUE(betaFunctions(state, messages, nullptr));
    return {state.lf.tuneX, state.lf.tuneY};
}

TEST(Matcher, ThinLensFodoCellTakesTheClosedFormFocalLengths)
{
    // Thin lenses a = 1/f_F, b = 1/f_D, L apart: the half traces of the cell are
    //   cos mu_x = 1 + L b - L a - L^2 a b / 2,   cos mu_y = 1 - L b + L a - L^2 a b / 2,
    // so a b = (2 - cos mu_x - cos mu_y) / L^2 and b - a = (cos mu_x - cos mu_y) / (2 L).
    const double spacing = 2.0;
    const struct
    {
        double muX, muY; // per cell, units of 2 pi
    } cases[] = {{0.25, 0.25}, {0.25, 1.0 / 6}, {0.1, 0.3}};
    for (const auto& c : cases) {
        State cell = test::thinLensFodoCell(spacing, 1e-6, 0.5, 0.5);
        MatchDefinition d;
        d.variables = {variable("QF"), variable("QD")};
        d.constraints = {constraint(MatchQuantity::PhaseX, c.muX), constraint(MatchQuantity::PhaseY, c.muY)};
        const MatchResult result = matched(cell, d);
        EXPECT_TRUE(result.converged);
        const double cx = std::cos(kTwoPi * c.muX), cy = std::cos(kTwoPi * c.muY);
        const double product = (2 - cx - cy) / (spacing * spacing);
        const double difference = (cx - cy) / (2 * spacing);
        const double a = (-difference + std::sqrt(difference * difference + 4 * product)) / 2;
        const double b = a + difference;
        // lenses of 1 um: the thick-lens correction is (sqrt(k) l)^2 ~ 1e-6 relative
        EXPECT_NEAR(cell.line.at(1).k * 1e-6, a, 2e-6 * a) << c.muX << " " << c.muY;
        EXPECT_NEAR(-cell.line.at(3).k * 1e-6, b, 2e-6 * b) << c.muX << " " << c.muY;
        EXPECT_EQ(cell.line.at(5).k, cell.line.at(1).k); // both halves of QF
    }
}

TEST(Matcher, TunesOfAFodoRingWithTwoFamiliesAgreeWithMadx)
{
    State ring = test::namedFodoRing(8);
    MatchDefinition d;
    d.variables = {variable("QF"), variable("QD")};
    d.constraints = {constraint(MatchQuantity::TuneX, 2.35), constraint(MatchQuantity::TuneY, 2.20)};
    const MatchResult result = matched(ring, d);
    EXPECT_TRUE(result.converged);
    EXPECT_EQ(result.end, MatchEnd::Converged);
    const auto [qx, qy] = ringTunes(ring);
    EXPECT_NEAR(qx, 2.35, 1e-10);
    EXPECT_NEAR(qy, 2.20, 1e-10);
    // MAD-X 5 (match with lmdif, vary k1 of the half QF and of QD, mux = 2.35/8, muy = 2.20/8 at the end
    // of the same cell of sector bends): k1 = 1.207241530804549 and -1.309592538225367
    EXPECT_NEAR(ring.line.at(1).k, 1.207241530804549, 1e-9);
    EXPECT_NEAR(ring.line.at(5).k, -1.309592538225367, 1e-9);
    EXPECT_NEAR(result.variables[0].start, 1.2, 0);
    EXPECT_NEAR(result.constraints[0].final, qx, 1e-12);
}

TEST(Matcher, TransportLineGetsItsPerturbedStrengthsBack)
{
    // three quadrupoles between drifts from fixed initial values; the end values of the design are the
    // targets, the strengths start 10 % off
    State line;
    test::electronAt(line, 1e9);
    const double k[] = {0.8, -1.1, 0.7};
    const char* names[] = {"Q1", "Q2", "Q3"};
    for (int q = 0; q < 3; ++q) {
        test::addNamed(line, "D", code::kDrift, 1.5);
        test::addNamed(line, names[q], code::kQuadrupole, 0.4, k[q]);
    }
    test::addNamed(line, "D", code::kDrift, 2.0);
    line.run.betaX0 = 8;
    line.run.alphaX0 = -1;
    line.run.gammaX0 = 2.0 / 8;
    line.run.betaY0 = 4;
    line.run.alphaY0 = 0.5;
    line.run.gammaY0 = 1.25 / 4;

    MatchDefinition d;
    d.start = MatchStart::Initial;
    d.variables = {variable("Q1"), variable("Q2"), variable("Q3")};
    d.constraints = {constraint(MatchQuantity::BetaX, 0), constraint(MatchQuantity::AlphaX, 0),
                     constraint(MatchQuantity::BetaY, 0), constraint(MatchQuantity::AlphaY, 0)};
    FakeMessages messages;
    LatticeFunctions design;
    {
        State pass = line;
        pass.run.showBetaFunctions = true;
        linePass(pass, messages, nullptr, nullptr);
        design = pass.lf;
    }
    d.constraints[0].value = design.betaX;
    d.constraints[1].value = design.alphaX;
    d.constraints[2].value = design.betaY;
    d.constraints[3].value = design.alphaY;
    for (int q = 0; q < 3; ++q)
        line.line.at(2 * q + 2).k *= q == 1 ? 0.9 : 1.1;

    const MatchResult result = matched(line, d);
    EXPECT_TRUE(result.converged);
    for (int q = 0; q < 3; ++q)
        EXPECT_NEAR(line.line.at(2 * q + 2).k, k[q], 1e-9) << names[q];
}

TEST(Matcher, DoubleBendAchromatFromTheQuadrupolesBetweenTheBends)
{
    // the example DBA with its arc quadrupoles detuned: dispersion leaks into the straights
    State dba = test::exampleLattice("dba-cell.lat");
    for (int i = 1; i <= dba.line.count; ++i)
        if (dba.line.at(i).name == "QM" || dba.line.at(i).name == "QA")
            dba.line.at(i).k *= 0.95;
    MatchDefinition d;
    d.variables = {variable("QM"), variable("QA")};
    d.constraints = {constraint(MatchQuantity::EtaX, 0, "end"), constraint(MatchQuantity::EtaPX, 0, "end")};
    const MatchResult result = matched(dba, d);
    EXPECT_TRUE(result.converged);
    EXPECT_GT(std::fabs(result.constraints[0].start), 1e-3);

    // a second method: the beam-line pass from zero dispersion leaves the cell without dispersion
    State line = dba;
    line.run.etaX0 = 0;
    line.run.etaPX0 = 0;
    line.run.showBetaFunctions = true;
    FakeMessages messages;
    linePass(line, messages, nullptr, nullptr);
    EXPECT_NEAR(line.lf.eta, 0, 1e-9);
    EXPECT_NEAR(line.lf.etaP, 0, 1e-9);
}

TEST(Matcher, PhaseAdvanceCountsEveryTurn)
{
    // ten periodic cells of 100 degrees: 2.78 turns over the line, matched to 2.6 turns (the line as one
    // period: a whole or half turn in all would have no periodic solution)
    State line = test::thinLensFodoCell(2.0, 1e-3, 0.6, 0.6);
    const int cell = line.line.count;
    for (int c = 1; c < 10; ++c)
        for (int i = 1; i <= cell; ++i)
            test::addNamed(line, line.line.at(i).name.c_str(), line.line.at(i).code, line.line.at(i).length,
                           line.line.at(i).k);
    MatchDefinition d;
    d.variables = {variable("QF"), variable("QD")};
    MatchConstraint phase = constraint(MatchQuantity::PhaseX, 2.6);
    d.constraints = {phase};
    phase.quantity = MatchQuantity::PhaseY;
    phase.value = 2.07;
    phase.from = elementRef(std::to_string(cell)); // from the end of the first cell: 9 cells
    d.constraints.push_back(phase);
    const MatchResult result = matched(line, d);
    EXPECT_TRUE(result.converged);
    FakeMessages messages;
    ASSERT_TRUE(betaFunctions(line, messages, nullptr));
    EXPECT_NEAR(line.lf.phiX, 2.6, 1e-10);
    EXPECT_NEAR(line.lf.phiY, 2.3, 1e-10);
}

TEST(Matcher, SextupolesToTheChromaticityTheCorrectionFinds)
{
    State dba = test::exampleLattice("dba-cell.lat");
    MatchDefinition d;
    d.variables = {variable("SF", MatchField::M), variable("SD", MatchField::M)};
    d.constraints = {constraint(MatchQuantity::ChromaticityX, 1),
                     constraint(MatchQuantity::ChromaticityY, 2)};
    const MatchResult result = matched(dba, d);
    EXPECT_TRUE(result.converged);

    // the chromaticity window's two-family correction solves the same linear system its own way
    State corrected = test::exampleLattice("dba-cell.lat");
    FakeMessages messages;
    radiationIntegrals(corrected, messages);
    const std::optional<ChromaticityCorrection> before = latticeChromaticity(corrected, messages);
    const std::optional<ChromaticityCorrection> c = correctChromaticity(corrected, messages, 1, 2);
    ASSERT_TRUE(before && c);
    EXPECT_NEAR(result.variables[0].final, c->mF, 1e-6 * std::fabs(c->mF));
    EXPECT_NEAR(result.variables[1].final, c->mD, 1e-6 * std::fabs(c->mD));
    EXPECT_NEAR(result.constraints[0].start, before->correctedX, 1e-9);
    EXPECT_NEAR(result.constraints[1].start, before->correctedY, 1e-9);
}

TEST(Matcher, LargestBetaKeptBelowALimit)
{
    // the DBA's vertical beta peaks above 13 m; the four quadrupole families bring it to 12 m or less
    // while the straights stay free of dispersion
    State dba = test::exampleLattice("dba-cell.lat");
    MatchDefinition d;
    d.variables = {variable("QM"), variable("QA"), variable("Q1"), variable("Q2")};
    d.constraints = {constraint(MatchQuantity::MaxBetaY, 12, "end", MatchRelation::AtMost),
                     constraint(MatchQuantity::EtaX, 0)};
    const MatchResult result = matched(dba, d);
    EXPECT_TRUE(result.converged);
    EXPECT_GT(result.constraints[0].start, 13);
    EXPECT_LE(result.constraints[0].final, 12 + 1e-9);

    // the beam-line pass from the periodic solution in 1 mm steps finds no larger beta
    class Largest : public PlotSink
    {
    public:
        void point(double, const LatticeFunctions& lf) override { y = std::max(y, lf.betaY); }
        double y = 0;
    } largest;
    dba.run.stepAtElementEnds = false;
    dba.run.maxStep = 0.001;
    dba.run.maxSteps = 100000;
    FakeMessages messages;
    ASSERT_TRUE(periodicSolution(dba, messages));
    linePass(dba, messages, &largest, nullptr);
    EXPECT_LE(largest.y, 12 + 1e-6);
}

// The two sextupole families of the DBA (the first half straight made an octupole) to the chromaticities
// with a nonlinear target each: the horizontal detuning by the octupole, a driving term held below a
// limit, the second order of the tracked Q(delta). The matched design is evaluated again by the
// computations themselves: the chromaticity window's sums, the driving terms and detuning on the design,
// and the tracker's tunes.
TEST(Matcher, SextupoleFamiliesMeetNonlinearTargets)
{
    using Q = MatchQuantity;
    const struct
    {
        const char* name;
        std::vector<MatchVariable> variables;
        std::vector<MatchConstraint> constraints;
        double tolerance;
    } rows[] = {
        {"detuning",
         {variable("SF", MatchField::M), variable("SD", MatchField::M), variable("OC", MatchField::K3)},
         {constraint(Q::ChromaticityX, 1), constraint(Q::ChromaticityY, 1), constraint(Q::DetuningXX, -2000)},
         1e-10},
        {"driving term",
         {variable("SF", MatchField::M), variable("SD", MatchField::M)},
         {constraint(Q::ChromaticityX, 1), constraint(Q::H10020, 15, "end", MatchRelation::AtMost)},
         1e-10},
        {"Q(delta)",
         {variable("SF", MatchField::M), variable("SD", MatchField::M)},
         {constraint(Q::ChromaticityY, 1), constraint(Q::TuneX2, 50)},
         1e-6}, // the tracked q2 carries about 1e-8 of the orbits' and the map's differences
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        State dba = test::exampleLattice("dba-cell.lat");
        dba.line.at(1).code = code::kOctupole;
        dba.line.at(1).name = "OC";
        MatchDefinition d;
        d.variables = row.variables;
        d.constraints = row.constraints;
        d.tolerance = row.tolerance;
        const MatchResult result = matched(dba, d);
        EXPECT_TRUE(result.converged);

        FakeMessages messages;
        radiationIntegrals(dba, messages);
        const std::optional<ChromaticityCorrection> xi = latticeChromaticity(dba, messages);
        const std::optional<DrivingTerms> h = drivingTerms(dba);
        const std::optional<DetuningCoefficients> detuned = detuning(dba);
        ASSERT_TRUE(xi && h && detuned);
        for (const MatchConstraint& c : d.constraints) {
            double value = 0;
            switch (c.quantity) {
            case Q::ChromaticityX:
                value = xi->correctedX;
                break;
            case Q::ChromaticityY:
                value = xi->correctedY;
                break;
            case Q::DetuningXX:
                value = detuned->xx;
                break;
            case Q::H10020:
                value = std::abs((*h)[DrivingTerm::H10020]);
                break;
            default: {
                // q2 against the second difference of the tracked tunes at 0 and +-delta: both are the
                // scan's cubic's q2 but for what the cubic misses, at most the fit residual at each point
                std::string refusal;
                const std::optional<ChromaticTunes> q = chromaticTunes(dba, ChromaticScan{}, &refusal);
                ASSERT_TRUE(q.has_value()) << refusal;
                const std::size_t last = q->delta.size() - 1, centre = last / 2;
                const double delta = q->delta[last];
                value = (q->tuneX[last] + q->tuneX[0] - 2 * q->tuneX[centre]) / (2 * delta * delta);
                EXPECT_NEAR(value, c.value, 2 * q->residual / (delta * delta) + 1e-6);
                continue;
            }
            }
            const double tolerance = 1e-6 * std::max(1.0, std::fabs(c.value));
            if (c.relation == MatchRelation::AtMost)
                EXPECT_LE(value, c.value + tolerance) << result.constraints.back().start; // 35 before
            else
                EXPECT_NEAR(value, c.value, tolerance) << quantityName(c.quantity);
        }
    }
}

} // namespace

} // namespace kestrune
