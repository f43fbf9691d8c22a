#include "core/matching/MatchOptics.h"

#include "core/Kinematics.h"
#include "core/chromaticity/TestRings.h"
#include "core/io/LatticeFile.h"
#include "core/matching/MatchLattices.h"
#include "core/optics/BetaFunctions.h"
#include "support/FakeMessages.h"

#include <cmath>
#include <gtest/gtest.h>
#include <map>
#include <vector>

namespace kestrune {

namespace {

using test::FakeMessages;

State example(const char* name)
{
    State state;
    startParticle(state);
    FakeMessages messages;
    EXPECT_TRUE(readLatticeFile(state, messages, std::string(KESTRUNE_EXAMPLES) + "/" + name));
    return state;
}

// The first element with a field k: the one variable that every evaluation here holds at its design value.
MatchVariable anyQuadrupole(const State& state)
{
    for (int i = 1; i <= state.line.count; ++i)
        if (familyOf(state.line.at(i).code) == static_cast<int>(Family::Quadrupole))
            return MatchVariable{ElementRef{ElementRef::Kind::Index, "", i}, MatchField::K};
    ADD_FAILURE() << "no quadrupole";
    return {};
}

// The lattice functions at every element end by the matcher's optics, the design's strengths kept:
// rows of betaX, alphaX, betaY, alphaY, eta, eta', phiX, phiY per end 0..count.
std::vector<std::array<double, 8>> matcherRows(const State& state, MatchStart start)
{
    const MatchQuantity quantities[] = {MatchQuantity::BetaX,  MatchQuantity::AlphaX, MatchQuantity::BetaY,
                                        MatchQuantity::AlphaY, MatchQuantity::EtaX,   MatchQuantity::EtaPX,
                                        MatchQuantity::PhaseX, MatchQuantity::PhaseY};
    std::vector<std::array<double, 8>> rows(static_cast<std::size_t>(state.line.count) + 1);
    for (std::size_t q = 0; q < 8; ++q) {
        MatchDefinition d;
        d.start = start;
        d.variables.push_back(anyQuadrupole(state));
        for (int i = 0; i <= state.line.count; ++i) {
            MatchConstraint c;
            c.quantity = quantities[q];
            c.at = ElementRef{ElementRef::Kind::Index, "", i};
            d.constraints.push_back(c);
        }
        FakeMessages messages;
        const std::optional<MatchSetup> setup = resolveMatch(state, d, messages);
        EXPECT_TRUE(setup) << (messages.errors.empty() ? "" : messages.errors[0]);
        if (!setup)
            return {};
        State work = state;
        MatchOptics optics(work, *setup);
        std::vector<double> values;
        EXPECT_TRUE(optics.evaluate({setup->variables[0].start}, values));
        for (std::size_t i = 0; i < rows.size(); ++i)
            rows[i][q] = values[i];
    }
    return rows;
}

void expectRow(const std::array<double, 8>& got, const std::array<double, 8>& want, int i)
{
    const char* names[] = {"betaX", "alphaX", "betaY", "alphaY", "eta", "etaP", "phiX", "phiY"};
    for (std::size_t q = 0; q < 8; ++q)
        EXPECT_NEAR(got[q], want[q], 1e-10 * std::max(1.0, std::fabs(want[q]))) << names[q] << " at " << i;
}

std::array<double, 8> rowOf(const LatticeFunctions& lf)
{
    return {lf.betaX, lf.alphaX, lf.betaY, lf.alphaY, lf.eta, lf.etaP, lf.phiX, lf.phiY};
}

// The ring pass of the program: periodic solution, then the trace of element after element.
void expectRingPass(State state)
{
    const std::vector<std::array<double, 8>> rows = matcherRows(state, MatchStart::Periodic);
    FakeMessages messages;
    ASSERT_TRUE(ringStart(state, messages, nullptr));
    expectRow(rows[0], rowOf(state.lf), 0);
    for (int i = 1; i <= state.line.count; ++i) {
        ringTrace(state, messages, i, nullptr);
        expectRow(rows[static_cast<std::size_t>(i)], rowOf(state.lf), i);
    }
}

TEST(MatchOptics, AgreesWithTheRingPass)
{
    // every kind of bend (faces with fringe fields, gradients) at element ends and in short steps
    State ring = test::mixedBendRing();
    expectRingPass(ring);
    ring.run.stepAtElementEnds = false;
    ring.run.maxStep = 0.05;
    expectRingPass(ring);
    expectRingPass(example("dba-cell.lat"));
}

class ListRows : public ListSink
{
public:
    void row(int index, double, const LatticeFunctions& lf) override { last[index] = rowOf(lf); }
    std::map<int, std::array<double, 8>> last;
};

// The beam-line pass from the initial values, with the list's rows after each element.
void expectLinePass(State state)
{
    const std::vector<std::array<double, 8>> rows = matcherRows(state, MatchStart::Initial);
    FakeMessages messages;
    state.run.showBetaFunctions = true;
    ListRows list;
    linePass(state, messages, nullptr, &list);
    for (int i = 0; i <= state.line.count; ++i)
        expectRow(rows[static_cast<std::size_t>(i)], list.last[i], i);
}

TEST(MatchOptics, AgreesWithTheBeamLinePass)
{
    // einzel lens, electrostatic accelerator and linac change the energy along the ion line
    expectLinePass(example("ion-line.lat"));
    State dba = example("dba-cell.lat");
    dba.run.betaX0 = 3;
    dba.run.alphaX0 = -0.5;
    dba.run.gammaX0 = (1 + 0.25) / 3;
    dba.run.etaX0 = 0.1;
    expectLinePass(dba);
}

TEST(MatchOptics, RingTunesOfAFodoRing)
{
    State ring = test::mixedBendRing();
    MatchDefinition d;
    d.variables.push_back(anyQuadrupole(ring));
    d.constraints = {test::constraint(MatchQuantity::TuneX, 0), test::constraint(MatchQuantity::TuneY, 0)};
    FakeMessages messages;
    for (MatchStart start : {MatchStart::Periodic, MatchStart::Initial}) {
        d.start = start;
        const std::optional<MatchSetup> setup = resolveMatch(ring, d, messages);
        ASSERT_TRUE(setup);
        State work = ring;
        MatchOptics optics(work, *setup);
        std::vector<double> tunes;
        ASSERT_TRUE(optics.evaluate({setup->variables[0].start}, tunes));
        State program = ring;
        ASSERT_TRUE(betaFunctions(program, messages, nullptr));
        EXPECT_NEAR(tunes[0], program.lf.tuneX, 1e-12);
        EXPECT_NEAR(tunes[1], program.lf.tuneY, 1e-12);
    }
}

// beta inside a focusing slice, sampled finely from its entrance values
double sampledMax(double beta, double alpha, double kk, double ds)
{
    const double gamma = (1 + alpha * alpha) / beta;
    const double sq = std::sqrt(kk);
    double best = -1;
    for (int j = 1; j < 200000; ++j) {
        const double s = ds * j / 200000;
        const double c = std::cos(sq * s), sn = std::sin(sq * s) / sq;
        best = std::max(best, c * c * beta - 2 * c * sn * alpha + sn * sn * gamma);
    }
    return best;
}

TEST(MatchOptics, LargestBetaInsideAFocusingSlice)
{
    const struct
    {
        double beta, alpha, kk, ds;
        bool inside;
    } cases[] = {
        {10, 2, 1.0, 1.0, false},    // converging beam: beta falls from the entrance
        {10, 2, 1.0, 3.0, true},     // and rises again to a maximum further in
        {10, -2, 1.0, 0.3, true},    // diverging: it rises to a maximum inside
        {10, -2, 1.0, 0.01, false},  // too short for the maximum: the exit is the largest
        {2, 0, 0.5, 10.0, true},     // several oscillations
        {1 / 0.8, 0, 0.64, 3, false} // matched (beta = 1/sqrt(K)): constant
    };
    for (const auto& c : cases) {
        const double gamma = (1 + c.alpha * c.alpha) / c.beta;
        const double got = interiorMaxBeta(c.beta, c.alpha, gamma, c.kk, c.ds);
        const double sampled = sampledMax(c.beta, c.alpha, c.kk, c.ds);
        if (c.inside) {
            EXPECT_NEAR(got, sampled, 1e-6 * sampled) << c.beta << " " << c.alpha << " " << c.ds;
        } else {
            EXPECT_TRUE(std::isinf(got)) << got;
        }
    }
}

TEST(MatchOptics, LargestBetaAlongTheLineAgreesWithFineSteps)
{
    State dba = example("dba-cell.lat");
    MatchDefinition d;
    d.variables.push_back(anyQuadrupole(dba));
    d.constraints = {test::constraint(MatchQuantity::MaxBetaX, 0),
                     test::constraint(MatchQuantity::MaxBetaY, 0)};
    FakeMessages messages;
    const std::optional<MatchSetup> setup = resolveMatch(dba, d, messages);
    ASSERT_TRUE(setup);
    State work = dba;
    MatchOptics optics(work, *setup);
    std::vector<double> maxima;
    ASSERT_TRUE(optics.evaluate({setup->variables[0].start}, maxima));

    // the beam-line pass from the periodic solution in 1 mm steps
    class Largest : public PlotSink
    {
    public:
        void point(double, const LatticeFunctions& lf) override
        {
            x = std::max(x, lf.betaX);
            y = std::max(y, lf.betaY);
        }
        double x = 0, y = 0;
    } largest;
    dba.run.stepAtElementEnds = false;
    dba.run.maxStep = 0.001;
    dba.run.maxSteps = 100000;
    ASSERT_TRUE(periodicSolution(dba, messages));
    linePass(dba, messages, &largest, nullptr);
    EXPECT_NEAR(maxima[0], largest.x, 1e-5 * largest.x);
    EXPECT_NEAR(maxima[1], largest.y, 1e-5 * largest.y);
    // the maxima lie inside quadrupoles here: the element ends alone would miss them
    const std::vector<std::array<double, 8>> ends =
        matcherRows(example("dba-cell.lat"), MatchStart::Periodic);
    double endMax = 0;
    for (const auto& row : ends)
        endMax = std::max(endMax, row[2]);
    EXPECT_GT(maxima[1], endMax + 1e-3);
}

} // namespace

} // namespace kestrune
