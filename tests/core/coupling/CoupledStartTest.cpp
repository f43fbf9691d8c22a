#include "core/coupling/CoupledStart.h"

#include "core/io/LatticeFile.h"
#include "support/ExampleLattice.h"

#include <cmath>
#include <gtest/gtest.h>

namespace kestrune {
namespace {

EdwardsTeng et(double bx, double ax, double by, double ay, double r11, double r12, double r21, double r22)
{
    EdwardsTeng e;
    e.betaX = bx;
    e.alphaX = ax;
    e.betaY = by;
    e.alphaY = ay;
    e.r11 = r11;
    e.r12 = r12;
    e.r21 = r21;
    e.r22 = r22;
    return e;
}

TEST(CoupledStart, BeamMatrixAndBackGivesTheEdwardsTengValues)
{
    const struct
    {
        EdwardsTeng et;
        double eps1, eps2;
    } cases[] = {
        {et(10, 0, 4, 0, 0, 0, 0, 0), 1e-9, 2e-11},
        {et(3.2, -1.4, 17, 2.5, 0.3, -1.2, 0.05, -0.4), 5e-9, 1e-9},
        {et(0.8, 0.2, 1.5, -0.7, -0.9, 0.4, 0.6, 0.2), 1e-10, 3e-9}, // mode 2 the larger emittance
    };
    for (const auto& c : cases) {
        const BeamMatrix sigma = beamMatrix(c.et, c.eps1, c.eps2);
        std::string refusal;
        const std::optional<BeamStart> back = beamStart(sigma, refusal);
        ASSERT_TRUE(back) << refusal;
        const double got[] = {back->et.betaX, back->et.alphaX, back->et.betaY, back->et.alphaY,
                              back->et.r11,   back->et.r12,    back->et.r21,   back->et.r22};
        const double want[] = {c.et.betaX, c.et.alphaX, c.et.betaY, c.et.alphaY,
                               c.et.r11,   c.et.r12,    c.et.r21,   c.et.r22};
        for (int k = 0; k < 8; ++k)
            EXPECT_NEAR(got[k], want[k], 1e-12 * (1 + std::fabs(want[k]))) << k;
        EXPECT_NEAR(back->emittance1, c.eps1, 1e-12 * c.eps1);
        EXPECT_NEAR(back->emittance2, c.eps2, 1e-12 * c.eps2);
    }
    // without coupling each plane is eps (beta, -alpha; -alpha, gamma), the other blocks 0
    const BeamMatrix plain = beamMatrix(et(10, 1, 4, -2, 0, 0, 0, 0), 2, 3);
    EXPECT_NEAR(plain[0][1], -2, 1e-14);
    EXPECT_NEAR(plain[1][1], 2 * 2.0 / 10, 1e-14);
    EXPECT_NEAR(plain[3][3], 3 * 5.0 / 4, 1e-14);
    EXPECT_NEAR(plain[0][2], 0, 1e-14);
}

TEST(CoupledStart, MatricesThatAreNoBeamAreRefusedNamingTheBox)
{
    BeamMatrix notDefinite = beamMatrix(et(10, 0, 4, 0, 0, 0, 0, 0), 1e-9, 2e-9);
    notDefinite[2][2] = -1e-9;
    BeamMatrix crossTooLarge = notDefinite;
    crossTooLarge[2][2] = 4e-9;
    crossTooLarge[0][2] = crossTooLarge[2][0] = 1e-7;
    const struct
    {
        BeamMatrix sigma;
        const char* refusal;
    } cases[] = {
        {notDefinite,
         "the beam matrix is not positive definite: its leading 3 x 3 part (up to box S33) has no "
         "positive determinant"},
        {crossTooLarge,
         "the beam matrix is not positive definite: its leading 3 x 3 part (up to box S33) has "
         "no positive determinant"},
        {beamMatrix(et(10, 0, 4, 0, 0, 0, 0, 0), 1e-9, 1e-9),
         "the two mode emittances of the beam matrix (boxes S11 .. S44) are equal: its modes cannot be told "
         "apart"},
    };
    for (const auto& c : cases) {
        std::string refusal;
        EXPECT_FALSE(beamStart(c.sigma, refusal));
        EXPECT_EQ(refusal, c.refusal);
    }
}

TEST(CoupledStart, LineFromThePeriodicStartHasTheRingsCouplingEverywhere)
{
    // the coupling matrix from the carried modes against Sagan and Rubin's from the local one-turn map
    State state;
    startParticle(state);
    test::FakeMessages messages;
    ASSERT_TRUE(
        readLatticeFile(state, messages, std::string(KESTRUNE_VALIDATION) + "/coupled-double-bend.lat"));
    const CoupledRing ring = coupledRing(state);
    ASSERT_TRUE(ring.computed) << ring.refusal;
    std::vector<Map5> maps;
    std::vector<double> lengths;
    for (int i = 1; i <= state.line.count; ++i) {
        maps.push_back(elementMap(state.line.at(i)));
        lengths.push_back(state.line.at(i).length);
    }
    const CoupledFunctions& f0 = ring.functions.front();
    RunSettings run;
    run.betaX0 = f0.et.betaX;
    run.alphaX0 = f0.et.alphaX;
    run.betaY0 = f0.et.betaY;
    run.alphaY0 = f0.et.alphaY;
    run.r11 = f0.et.r11;
    run.r12 = f0.et.r12;
    run.r21 = f0.et.r21;
    run.r22 = f0.et.r22;
    std::string refusal;
    const auto line = coupledLineFunctions(maps, lengths, run, refusal);
    ASSERT_TRUE(line) << refusal;
    ASSERT_EQ(line->size(), ring.functions.size());
    for (std::size_t i = 0; i < line->size(); ++i) {
        const EdwardsTeng& a = (*line)[i].et;
        const EdwardsTeng& b = ring.functions[i].et;
        EXPECT_NEAR(a.betaX, b.betaX, 1e-9 * b.betaX) << i;
        EXPECT_NEAR(a.betaY, b.betaY, 1e-9 * b.betaY) << i;
        EXPECT_NEAR(a.r11, b.r11, 1e-9) << i;
        EXPECT_NEAR(a.r12, b.r12, 1e-9) << i;
        EXPECT_NEAR(a.r21, b.r21, 1e-9) << i;
        EXPECT_NEAR(a.r22, b.r22, 1e-9) << i;
        EXPECT_NEAR((*line)[i].mr.beta12, ring.functions[i].mr.beta12, 1e-9 * b.betaX) << i;
    }
}

} // namespace
} // namespace kestrune
