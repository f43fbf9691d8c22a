#include "core/coupling/CoupledStart.h"

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

} // namespace
} // namespace kestrune
