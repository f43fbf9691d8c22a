#include "core/coupling/CoupledStart.h"

#include "core/Kinematics.h"
#include "core/io/LatticeFile.h"
#include "support/ExampleLattice.h"
#include "support/FakeMessages.h"

#include <Eigen/Dense>
#include <cmath>
#include <gtest/gtest.h>
#include <vector>

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

// The modes of a one-turn map from its eigenvectors: those of v^H S v = +i|n|, normalised to 2i, mode 1
// the one with the larger share of its invariant in x.
ModePair eigenModes(const Map5& m)
{
    Eigen::Matrix4d t, s = Eigen::Matrix4d::Zero();
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            t(r, c) = m[static_cast<std::size_t>(r)][static_cast<std::size_t>(c)];
    s(0, 1) = s(2, 3) = 1;
    s(1, 0) = s(3, 2) = -1;
    Eigen::EigenSolver<Eigen::Matrix4d> solver(t);
    std::vector<ModeVector> found;
    for (int k = 0; k < 4; ++k) {
        const Eigen::Vector4cd v = solver.eigenvectors().col(k);
        const double n = (v.adjoint() * s.cast<std::complex<double>>() * v)(0, 0).imag();
        if (n > 0) {
            ModeVector w;
            for (int i = 0; i < 4; ++i)
                w[static_cast<std::size_t>(i)] = v(i) * std::sqrt(2 / n);
            found.push_back(w);
        }
    }
    EXPECT_EQ(found.size(), 2u);
    const auto xShare = [](const ModeVector& v) { return std::imag(std::conj(v[0]) * v[1]); };
    if (xShare(found[1]) > xShare(found[0]))
        std::swap(found[0], found[1]);
    return {found[0], found[1]};
}

TEST(CoupledStart, MaisRipkenStartOfAOneTurnMapGivesItsEdwardsTengValues)
{
    // the coupled validation ring and the example DBA ring with its quadrupoles rolled by 0.2 rad: the
    // Mais-Ripken values and phases of the one-turn map's eigenvectors against Sagan and Rubin's
    // Edwards-Teng decomposition of the map itself
    State coupled;
    startParticle(coupled);
    test::FakeMessages fake;
    ASSERT_TRUE(
        readLatticeFile(coupled, fake, std::string(KESTRUNE_VALIDATION) + "/coupled-double-bend.lat"));
    State rolled = test::exampleState("dba-cell.lat");
    for (int i = 1; i <= rolled.line.count; ++i)
        if (familyOf(rolled.line.at(i).code) == static_cast<int>(Family::Quadrupole))
            rolled.line.at(i).tilt = 0.2;
    for (const State* state : {&coupled, &rolled}) {
        const CoupledRing ring = coupledRing(*state);
        ASSERT_TRUE(ring.computed) << ring.refusal;
        const std::optional<EdwardsTeng> want = edwardsTeng(ring.oneTurn);
        ASSERT_TRUE(want);
        const MaisRipkenStart start = maisRipkenStartOf(eigenModes(ring.oneTurn));
        ASSERT_GT(start.mr.beta12, 1e-3); // coupled enough to test the cross-plane parts
        std::string refusal;
        const std::optional<EdwardsTeng> got = edwardsTengOfMaisRipken(start, refusal);
        ASSERT_TRUE(got) << refusal;
        const double g[] = {got->betaX, got->alphaX, got->betaY, got->alphaY,
                            got->r11,   got->r12,    got->r21,   got->r22};
        const double w[] = {want->betaX, want->alphaX, want->betaY, want->alphaY,
                            want->r11,   want->r12,    want->r21,   want->r22};
        for (int k = 0; k < 8; ++k)
            EXPECT_NEAR(g[k], w[k], 1e-8 * (1 + std::fabs(w[k]))) << k;
        // a phase of other modes, a cross-plane part alone: no two modes of a beam
        MaisRipkenStart turned = start;
        turned.nu1 += 0.3;
        MaisRipkenStart half = start;
        half.mr.beta21 = half.mr.alpha21 = 0;
        for (const MaisRipkenStart& wrong : {turned, half})
            EXPECT_FALSE(edwardsTengOfMaisRipken(wrong, refusal));
    }
}

} // namespace
} // namespace kestrune
