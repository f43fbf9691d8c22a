#include "core/coupling/CoupledPass.h"

#include "core/Format.h"
#include "core/Kinematics.h"
#include "core/coupling/CoupledOptics.h"
#include "core/editor/InitialConditions.h"
#include "core/io/LatticeFile.h"
#include "core/optics/Samples.h"
#include "support/FakeMessages.h"

#include <cmath>
#include <gtest/gtest.h>
#include <vector>

namespace kestrune {
namespace {

class Rows : public ListSink
{
public:
    void row(int, double, const LatticeFunctions& lf) override { rows.push_back(lf); }
    std::vector<LatticeFunctions> rows;
};

State coupledRingState()
{
    State state;
    startParticle(state);
    test::FakeMessages messages;
    EXPECT_TRUE(
        readLatticeFile(state, messages, std::string(KESTRUNE_VALIDATION) + "/coupled-double-bend.lat"));
    return state;
}

TEST(CoupledPassTest, PeriodicStartCarriedAlongTheLineIsThePeriodicSolutionEverywhere)
{
    // The line pass carries the two mode vectors from the start and reads the Edwards-Teng and
    // Mais-Ripken functions off them; the ring's own functions come from the decomposition of the
    // one-turn map at each place. The two must agree wherever the start is the periodic one.
    for (const bool maisRipken : {false, true}) {
        State state = coupledRingState();
        ASSERT_TRUE(coupledPassApplies(state.line));
        const CoupledRing ring = coupledRing(state);
        ASSERT_TRUE(ring.computed) << ring.refusal;
        test::FakeMessages messages;
        ASSERT_TRUE(opticsPeriodicSolution(state, messages));
        state.run.coupledMaisRipken = maisRipken;
        Rows list;
        opticsLinePass(state, messages, nullptr, &list);
        ASSERT_TRUE(messages.errors.empty()) << messages.errors.front();
        ASSERT_EQ(list.rows.size(), ring.functions.size());
        for (std::size_t i = 0; i < list.rows.size(); ++i) {
            const LatticeFunctions& lf = list.rows[i];
            const CoupledFunctions& f = ring.functions[i];
            const double bx = maisRipken ? f.mr.beta11 : f.et.betaX;
            const double by = maisRipken ? f.mr.beta22 : f.et.betaY;
            const double ax = maisRipken ? f.mr.alpha11 : f.et.alphaX;
            const double ay = maisRipken ? f.mr.alpha22 : f.et.alphaY;
            EXPECT_NEAR(lf.betaX, bx, 1e-9 * bx) << i;
            EXPECT_NEAR(lf.betaY, by, 1e-9 * by) << i;
            EXPECT_NEAR(lf.alphaX, ax, 1e-8) << i;
            EXPECT_NEAR(lf.alphaY, ay, 1e-8) << i;
            EXPECT_NEAR(lf.phiX, f.phase1, 1e-10) << i;
            EXPECT_NEAR(lf.phiY, f.phase2, 1e-10) << i;
            EXPECT_NEAR(lf.eta, f.eta[0], 1e-9) << i;
        }
    }
}

// The curves follow the functions inside the elements: a pass in short slices (the faces of a bend with
// its first and last slice, a solenoid's body in canonical momenta) comes to the element ends with the
// functions of the pass that steps from end to end, and has a point inside every thick element.
TEST(CoupledPassTest, SlicedPassMeetsTheElementEndsOfTheWholeElements)
{
    class Points : public PlotSink
    {
    public:
        void point(double s, const LatticeFunctions& lf) override { points.emplace_back(s, lf); }
        std::vector<std::pair<double, LatticeFunctions>> points;
    };
    State state = coupledRingState();
    for (int i = 1; i <= state.line.count; ++i) {
        LatticeElement& e = state.line.at(i);
        if (e.code == code::kSectorBend) {
            e.code = code::kRectangularBend;
            e.ain = 0.05;
            e.aout = 0.03;
            e.gap = 0.02;
        }
    }
    test::FakeMessages messages;
    ASSERT_TRUE(opticsPeriodicSolution(state, messages));
    state.run.stepAtElementEnds = true;
    Rows ends;
    ASSERT_EQ(opticsLinePass(state, messages, nullptr, &ends), LinePassKind::Coupled);
    state.run.stepAtElementEnds = false;
    state.run.maxStep = 0.05;
    state.run.maxSteps = 200;
    Rows sliced;
    Points curve;
    ASSERT_EQ(opticsLinePass(state, messages, &curve, &sliced), LinePassKind::Coupled);
    ASSERT_TRUE(messages.errors.empty()) << messages.errors.front();
    ASSERT_EQ(sliced.rows.size(), ends.rows.size());
    for (std::size_t i = 0; i < ends.rows.size(); ++i) {
        const LatticeFunctions &a = sliced.rows[i], &b = ends.rows[i];
        for (const auto& [x, y] : {std::pair{a.betaX, b.betaX},
                                   {a.betaY, b.betaY},
                                   {a.alphaX, b.alphaX},
                                   {a.alphaY, b.alphaY},
                                   {a.phiX, b.phiX},
                                   {a.phiY, b.phiY},
                                   {a.eta, b.eta}})
            EXPECT_NEAR(x, y, 1e-9 * (1 + std::fabs(y))) << i;
    }
    int thick = 0;
    for (int i = 1; i <= state.line.count; ++i)
        thick += state.line.at(i).length > 0.1 ? 1 : 0;
    EXPECT_GT(curve.points.size(), ends.rows.size() + static_cast<std::size_t>(thick));
    for (const auto& [s, lf] : curve.points)
        EXPECT_TRUE(lf.betaX > 0 && lf.betaY > 0 && std::isfinite(lf.phiX + lf.phiY + lf.eta)) << s;
}

TEST(CoupledPassTest, TypedCoupledStartValuesAndTheFileCarryThePeriodicSolution)
{
    // the periodic start typed into the boxes, and kept through a file, gives the ring's own functions
    // at its end; the same start through the line with its coupling sources off stays coupled
    const State periodic = [] {
        State s = coupledRingState();
        test::FakeMessages messages;
        EXPECT_TRUE(opticsPeriodicSolution(s, messages));
        return s;
    }();
    const RunSettings& p = periodic.run;
    InitialBoxes boxes;
    for (const auto& [text, value] : {std::pair{&boxes.edBetax0, p.betaX0},
                                      {&boxes.edAlphax0, p.alphaX0},
                                      {&boxes.edBetay0, p.betaY0},
                                      {&boxes.edAlphay0, p.alphaY0},
                                      {&boxes.edEtax0, p.etaX0},
                                      {&boxes.edEtapx0, p.etaPX0},
                                      {&boxes.edEtay0, p.etaY0},
                                      {&boxes.edEtapy0, p.etaPY0},
                                      {&boxes.edR11, p.r11},
                                      {&boxes.edR12, p.r12},
                                      {&boxes.edR21, p.r21},
                                      {&boxes.edR22, p.r22}})
        *text = fmt("%.17g", value);
    State typed = coupledRingState();
    test::FakeMessages messages;
    typed.run.showBetaFunctions = true;
    ASSERT_TRUE(useLatticeFunctions(typed, boxes, messages));
    State filed = coupledRingState();
    ASSERT_TRUE(readLatticeText(filed, messages, latticeFileText(typed), "typed.lat"));
    const CoupledRing ring = coupledRing(periodic);
    const CoupledFunctions& end = ring.functions.back();
    for (State* state : {&typed, &filed}) {
        Rows list;
        ASSERT_EQ(opticsLinePass(*state, messages, nullptr, &list), LinePassKind::Coupled);
        ASSERT_TRUE(messages.errors.empty()) << messages.errors.front();
        EXPECT_NEAR(list.rows.back().betaX, end.et.betaX, 1e-9 * end.et.betaX);
        EXPECT_NEAR(list.rows.back().betaY, end.et.betaY, 1e-9 * end.et.betaY);
        EXPECT_NEAR(list.rows.back().alphaY, end.et.alphaY, 1e-8);
    }
    for (int i = 1; i <= typed.line.count; ++i) {
        LatticeElement& e = typed.line.at(i);
        e.ks = e.k1s = e.tilt = 0;
    }
    Rows list;
    EXPECT_EQ(opticsLinePass(typed, messages, nullptr, &list), LinePassKind::Coupled);
    // a file without the coupling record has none, whatever the state had before
    typed.run.r11 = typed.run.r12 = typed.run.r21 = typed.run.r22 = typed.run.etaY0 = typed.run.etaPY0 = 0;
    ASSERT_TRUE(readLatticeText(filed, messages, latticeFileText(typed), "uncoupled.lat"));
    EXPECT_EQ(filed.run.r12, 0);
    EXPECT_EQ(filed.run.etaY0, 0);

    boxes.edR11 = boxes.edR22 = "0";
    boxes.edR12 = "2";
    boxes.edR21 = "1";
    EXPECT_FALSE(useLatticeFunctions(typed, boxes, messages));
    EXPECT_EQ(messages.errors.back(), "the start coupling R11 R22 - R12 R21 must be above -1!");
}

TEST(CoupledPassTest, StartsThatHaveNoModesAreRefused)
{
    struct Case
    {
        double r11, r12, r21, r22, betaX;
        const char* message;
    } cases[] = {
        {0, 2, 1, 0, 10, "the start coupling matrix R has det R <= -1: no Edwards-Teng modes"},
        {0, 0, 0, 0, -1, "select valid betatron functions!"},
    };
    for (const Case& c : cases) {
        State state = coupledRingState();
        state.run.r11 = c.r11;
        state.run.r12 = c.r12;
        state.run.r21 = c.r21;
        state.run.r22 = c.r22;
        state.run.betaX0 = c.betaX;
        state.run.showBetaFunctions = true;
        test::FakeMessages messages;
        Rows list;
        opticsLinePass(state, messages, nullptr, &list);
        ASSERT_EQ(messages.errors.size(), 1u);
        EXPECT_EQ(messages.errors.front(), c.message);
        EXPECT_TRUE(list.rows.empty());
    }
}

} // namespace
} // namespace kestrune
