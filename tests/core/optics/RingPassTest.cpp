#include "core/Design.h"
#include "core/chromaticity/Chromaticity.h"
#include "core/chromaticity/TestRings.h"
#include "core/optics/BetaFunctions.h"
#include "core/ring/Parameter.h"
#include "support/FakeMessages.h"
#include "support/PassRecorder.h"

#include <cmath>
#include <functional>
#include <gtest/gtest.h>
#include <vector>

namespace kestrune {

namespace {

// What the ring pass, the radiation integrals and the chromaticity give, as the ring windows ask for them.
std::vector<double> ringResults(State& state)
{
    test::FakeMessages messages;
    const bool accepted = betaFunctions(state, messages, nullptr);
    const LatticeFunctions& lf = state.lf;
    std::vector<double> r{accepted ? 1.0 : 0.0, lf.tuneX, lf.tuneY, lf.betaX, lf.alphaY, lf.eta, lf.s,
                          state.matrix.m[1][0]};
    radiationIntegrals(state, messages);
    const RingParameters& p = state.ringParams;
    r.insert(r.end(), {p.i1, p.i2, p.i4, p.i5, p.chromaticityX, p.chromaticityY, p.tuneY, p.i3});
    const std::optional<ChromaticityCorrection> c = latticeChromaticity(state, messages);
    r.push_back(c ? c->correctedX : std::nan(""));
    r.push_back(c ? c->correctedY : std::nan(""));
    // the integrals belong to the design now, or to the one before for a line the optics refuse
    EXPECT_EQ(state.ringParams.stamp == latticeStamp(state), accepted);
    return r;
}

State sextupoleRing()
{
    State state = test::mixedBendRing();
    test::setSextupoles(state, 4);
    return state;
}

} // namespace

// The passes share one ring pass kept in the state: after any edit they give what a state that never kept
// one gives, and without an edit what they gave before.
TEST(KeptRingPass, AnEditBetweenThePassesIsSeen)
{
    struct Edit
    {
        const char* what;
        std::function<void(State&)> apply;
        bool changes; // the results are known to move
    };
    const Edit edits[] = {
        {"nothing", [](State&) {}, false},
        {"quadrupole", [](State& s) { s.line.at(1).k = 1.12; }, true},
        {"drift length", [](State& s) { s.line.at(2).length = 0.32; }, true},
        {"face angle", [](State& s) { s.line.at(7).ain = 0.07; }, true},
        {"gap", [](State& s) { s.line.at(5).gap = 0.08; }, true},
        {"sextupole", [](State& s) { s.line.at(3).m = 9; }, true},
        {"superperiods", [](State& s) { s.line.superPeriods = 15; }, true},
        {"slicing",
         [](State& s) {
             s.run.stepAtElementEnds = false;
             s.run.maxStep = 0.05;
         },
         false},
        {"name", [](State& s) { s.line.at(4).name = "D2"; }, false},
        {"refused kick",
         [](State& s) {
             s.line.at(2).code = code::kKicker;
             s.line.at(2).hkick = 1e-4;
         },
         true},
    };
    for (const Edit& edit : edits) {
        State state = sextupoleRing();
        const std::vector<double> before = ringResults(state);
        edit.apply(state);
        State fresh = state;
        fresh.ringPass.reset();
        const std::vector<double> after = ringResults(state);
        const std::vector<double> expected = ringResults(fresh);
        for (std::size_t k = 0; k < after.size(); ++k)
            EXPECT_TRUE(after[k] == expected[k] || (std::isnan(after[k]) && std::isnan(expected[k])))
                << edit.what << " " << k;
        if (edit.changes) {
            EXPECT_NE(after, before) << edit.what;
        } else if (edit.what == std::string("nothing")) {
            EXPECT_EQ(after, before);
        }
    }
}

// The kept pass carries the functions step for step as ringTrace does: the same bits at the end.
TEST(KeptRingPass, EndsWhereTheTracedPassEnds)
{
    for (const bool sliced : {false, true}) {
        State kept = sextupoleRing();
        kept.run.stepAtElementEnds = !sliced;
        kept.run.maxStep = 0.1;
        State traced = kept;
        test::FakeMessages messages;
        test::RecordingList list;
        ASSERT_TRUE(betaFunctions(kept, messages, nullptr));
        ASSERT_TRUE(betaFunctions(traced, messages, &list));
        const LatticeFunctions& a = kept.lf;
        const LatticeFunctions& b = traced.lf;
        EXPECT_EQ(std::vector<double>({a.betaX, a.alphaX, a.gammaX, a.betaY, a.alphaY, a.phiX, a.phiY, a.eta,
                                       a.etaP, a.s, a.tuneX}),
                  std::vector<double>({b.betaX, b.alphaX, b.gammaX, b.betaY, b.alphaY, b.phiX, b.phiY, b.eta,
                                       b.etaP, b.s, b.tuneX}));
        for (int row = 0; row < 6; ++row)
            for (int col = 0; col < 6; ++col) {
                EXPECT_EQ(kept.matrix.m[row][col], traced.matrix.m[row][col]);
                EXPECT_EQ(kept.matrix.r[row][col], traced.matrix.r[row][col]);
            }
    }
}

} // namespace kestrune
