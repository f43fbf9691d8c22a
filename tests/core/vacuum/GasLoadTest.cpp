#include "core/vacuum/GasLoad.h"

#include <cmath>
#include <gtest/gtest.h>

namespace kestrune {
namespace {

TEST(GasLoad, YieldTablePoints)
{
    EXPECT_DOUBLE_EQ(photoelectronYield(1.0), 1.0);
    EXPECT_NEAR(photoelectronYield(0.5), 1.6, 1e-12);
    EXPECT_NEAR(photoelectronYield(0.25), 2.3, 1e-12);
    EXPECT_NEAR(photoelectronYield(1.0 / 64), 6.2, 1e-12);
    // halfway between 1/sin = 4 and 8: halfway between 2.3 and 3.1
    EXPECT_NEAR(photoelectronYield(1.0 / 6), 2.7, 1e-12);
    EXPECT_DOUBLE_EQ(photoelectronYield(0.0039), 7.0);
    EXPECT_DOUBLE_EQ(photoelectronYield(1e-6), 7.0);
    // just above the cut the table still reads below 7
    EXPECT_NEAR(photoelectronYield(0.004), 6.8 + 0.2 / 128 * (250 - 128), 1e-12);
    EXPECT_LT(photoelectronYield(0.004), 7.0);
}

TEST(GasLoad, YieldRisesAsTheGrazingAngleFalls)
{
    double previous = 0;
    for (double sinPsi = 1.0; sinPsi >= 0.004; sinPsi *= 0.9) {
        const double y = photoelectronYield(sinPsi);
        EXPECT_GE(y, previous - 1e-12) << sinPsi;
        previous = y;
    }
}

TEST(GasLoad, CriticalEnergyOfAThreeGeVElectronRing)
{
    // 2.218 keV E[GeV]^3 / rho[m] for electrons
    const double epsC = criticalPhotonEnergy(3e9, 511003.4, 10.0);
    EXPECT_NEAR(epsC, 2218 * 27 / 10.0, 0.01 * 2218 * 27 / 10.0);
    EXPECT_NEAR(criticalPhotonEnergy(3e9, 511003.4, 5.0), 2 * epsC, 1e-9 * epsC);
}

TEST(GasLoad, HardSpectrumTermOnlyAboveTheKnee)
{
    const double a = 1.063 - 4.3 * std::pow(1560.0, -0.607);
    // below the knee the load is F Y 8.412e18 A / epsC^(4/3)
    const double below = gasLoad(1.0, 1.0, 1000.0);
    EXPECT_NEAR(below, 8.412e18 * a / std::pow(1000.0, 4.0 / 3.0), 1e-12 * below);
    const double atKnee = gasLoad(1.0, 1.0, 1560.0);
    EXPECT_NEAR(atKnee, 8.412e18 * a / std::pow(1560.0, 4.0 / 3.0), 1e-12 * atKnee);
    // far above, the hard term approaches 554.45 * 1560^-0.797 = 1.581
    const double epsC = 1e12;
    const double g = gasLoad(1.0, 1.0, epsC) * std::pow(epsC, 4.0 / 3.0) / 8.412e18 - a;
    EXPECT_NEAR(g, 554.45 * std::pow(1560.0, -0.797), 1e-6);
    EXPECT_NEAR(554.45 * std::pow(1560.0, -0.797), 1.581, 0.001);
}

TEST(GasLoad, LoadIsLinearInTheFluxAndCurrent)
{
    EXPECT_NEAR(gasLoad(2.0, 0.3, 5000), 2 * gasLoad(1.0, 0.3, 5000), 1e-9);
    const double f1 = photonFlux(0.01, 3e9, 511003.4, 0.1);
    EXPECT_NEAR(photonFlux(0.01, 3e9, 511003.4, 0.2), 2 * f1, 1e-12 * f1);
    EXPECT_NEAR(photonFlux(0.01, 6e9, 511003.4, 0.1), 4 * f1, 1e-12 * f1);
}

} // namespace
} // namespace kestrune
