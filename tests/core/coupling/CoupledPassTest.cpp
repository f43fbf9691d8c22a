#include "core/coupling/CoupledPass.h"

#include "core/Kinematics.h"
#include "core/coupling/CoupledOptics.h"
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
