#include "core/lifetime/Lifetime.h"

#include <cmath>
#include <gtest/gtest.h>

namespace kestrune {
namespace {

/// C(zeta) from the integrals taken with Simpson's rule over t = ln u (smooth integrands), up to
/// zeta + 60: an independent reference for the loss function.
double referenceC(double zeta)
{
    const int n = 200000;
    const double t0 = std::log(zeta), t1 = std::log(zeta + 60), h = (t1 - t0) / n;
    double i1 = 0, i2 = 0;
    for (int k = 0; k <= n; ++k) {
        const double t = t0 + k * h;
        const double weight = (k == 0 || k == n) ? 1 : (k % 2 == 1 ? 4 : 2);
        const double e = std::exp(-std::exp(t)); // e^-u; du / u = dt
        i1 += weight * t * e;
        i2 += weight * e;
    }
    i1 *= h / 3;
    i2 *= h / 3;
    return std::sqrt(zeta) *
           (-1.5 * std::exp(-zeta) + zeta * i1 / 2 + (3 * zeta - zeta * std::log(zeta) + 2) * i2 / 2);
}

TEST(Lifetime, ElasticScatteringOfTheExample)
{
    EXPECT_NEAR(chamberShapeFactor(1.0), M_PI + 2, 1e-12);
    EXPECT_NEAR(chamberShapeFactor(1.0), 5.1416, 1e-4);
    const double tau = elasticLifetime(3e9, 1.0, 10.0, 10.0, 1.0);
    EXPECT_NEAR(tau, 405836, 1);
    EXPECT_NEAR(tau / 3600, 112.7, 0.05);
    // flat chambers scatter out less: G falls with the aspect ratio
    EXPECT_LT(chamberShapeFactor(0.5), chamberShapeFactor(1.0));
    EXPECT_NEAR(elasticLifetime(3e9, 1.0, 10.0, 10.0, 2.0), tau / 2, 1e-9 * tau);
}

TEST(Lifetime, BremsstrahlungOfTheExample)
{
    const double tau = bremsstrahlungLifetime(1.0, 1.0);
    EXPECT_NEAR(tau, 551160 / std::log(100.0), 1e-6);
    EXPECT_NEAR(tau, 119683, 1);
    EXPECT_NEAR(tau / 3600, 33.245, 0.001);
}

TEST(Lifetime, QuantumPlaneBranchAtFifteenSigma)
{
    const QuantumPlane at15 = quantumPlane(15.0, 0.01);
    EXPECT_TRUE(at15.bounded);
    EXPECT_NEAR(at15.lifetime, std::exp(112.5) * 0.005 / 112.5, 1e-12 * at15.lifetime);
    const QuantumPlane below = quantumPlane(std::nextafter(15.0, 0.0), 0.01);
    EXPECT_FALSE(below.bounded);
    EXPECT_NEAR(below.lifetime, at15.lifetime, 1e-12 * at15.lifetime);
    EXPECT_TRUE(quantumPlane(40.0, 0.01).bounded);
    EXPECT_DOUBLE_EQ(quantumPlane(40.0, 0.01).lifetime, at15.lifetime);
    // n = 6: (tau/2) e^18 / 18
    EXPECT_NEAR(quantumPlane(6.0, 0.01).lifetime, 0.005 * std::exp(18.0) / 18, 1e-6);
}

TEST(Lifetime, QuantumLifetimeTakesOnePercentCouplingForAFlatBeam)
{
    QuantumInput in;
    in.energyAcceptancePercent = 0.6;
    in.acceptanceX = 20;
    in.acceptanceY = 10;
    in.energySpread = 0.001;
    in.emittanceX = 1e-6; // 1 mm mrad: n_x = sqrt(20)
    in.emittanceY = 0;
    in.dampingTimeX = in.dampingTimeY = 0.01;
    in.dampingTimeS = 0.005;
    const QuantumLifetime q = quantumLifetime(in);
    EXPECT_TRUE(q.couplingDefault);
    EXPECT_NEAR(q.emittanceY, 1e-8, 1e-20);
    EXPECT_NEAR(q.energy.n, 6.0, 1e-12);
    EXPECT_NEAR(q.x.n, std::sqrt(20.0), 1e-12);
    EXPECT_NEAR(q.y.n, std::sqrt(1000.0), 1e-9);
    EXPECT_TRUE(q.y.bounded);
    EXPECT_NEAR(1 / q.total, 1 / q.energy.lifetime + 1 / q.x.lifetime + 1 / q.y.lifetime, 1e-12 / q.total);
}

TEST(Lifetime, TouschekFunctionAgreesWithTheExactIntegrals)
{
    // C is a difference of terms of order e^-zeta that cancel to order 1/zeta, so the trapezoid rule's
    // error (step 0.02) grows with zeta: 0.3 % per unit of zeta covers it; the integrals cut at u = 15
    // would be 3 % short at zeta = 7 and negative beyond 9.4
    for (double zeta : {0.5, 1.0, 3.0, 7.0, 9.4, 12.0, 20.0}) {
        const double c = touschekFunction(zeta);
        EXPECT_GT(c, 0) << zeta;
        EXPECT_NEAR(c, referenceC(zeta), 3e-3 * zeta * referenceC(zeta)) << zeta;
    }
    EXPECT_NEAR(touschekFunction(7.0), referenceC(7.0), 0.01 * referenceC(7.0));
    // near 0.1 the integrand 1/u e^-u curves strongly: 1 %
    for (double zeta : {0.1, 0.3})
        EXPECT_NEAR(touschekFunction(zeta), referenceC(zeta), 0.01 * referenceC(zeta)) << zeta;
}

TEST(Lifetime, TouschekSeriesBelowOneTenth)
{
    // the series part vanishes at 0.1, so C is continuous there
    EXPECT_NEAR(touschekFunction(0.1 - 1e-12), touschekFunction(0.1), 1e-6);
    for (double zeta : {1e-4, 1e-3, 0.01, 0.05})
        EXPECT_NEAR(touschekFunction(zeta), referenceC(zeta), 0.01 * referenceC(zeta)) << zeta;
    // small zeta: C ~ sqrt(zeta) (ln(1 / (1.781 zeta)) - 3/2)
    const double zeta = 1e-6;
    const double small = std::sqrt(zeta) * (std::log(1 / (1.781 * zeta)) - 1.5);
    EXPECT_NEAR(touschekFunction(zeta), small, 1e-3 * small);
}

TEST(Lifetime, TouschekLifetimeOfATypicalRing)
{
    TouschekInput in;
    in.energyAcceptance = 0.01;
    in.coupling = 0.01;
    in.bunchCurrentMa = 1.0;
    in.bunchLengthMm = 5.0;
    in.averageBetaX = 10;
    in.averageBetaY = 10;
    in.gamma = 3e9 / 511003.4;
    in.emittanceX = 10e-9;
    in.revolutionFrequency = 1e6;
    const TouschekLifetime t = touschekLifetime(in);
    EXPECT_NEAR(t.particles, 1e-3 / 1.602189e-19 / 1e6, 1e-6 * t.particles);
    EXPECT_NEAR(t.zeta, 1e-4 * 10 / (in.gamma * in.gamma) / 10e-9, 1e-12);
    EXPECT_LT(t.zeta, 0.1);
    ASSERT_TRUE(t.lifetime);
    EXPECT_NEAR(*t.lifetime, 1 / t.rate / t.c, 1e-12 * *t.lifetime);
    // tens of hours for a 3 GeV ring with 1 mA bunches
    EXPECT_GT(*t.lifetime / 3600, 1);
    EXPECT_LT(*t.lifetime / 3600, 1000);
    // the lifetime grows as the bunch lengthens
    in.bunchLengthMm = 10;
    EXPECT_NEAR(*touschekLifetime(in).lifetime, 2 * *t.lifetime, 1e-9 * *t.lifetime);
}

TEST(Lifetime, TouschekLifetimeIsNotAvailableWhereTheLossFunctionVanishes)
{
    TouschekInput in;
    in.energyAcceptance = 0.05;
    in.coupling = 0.01;
    in.bunchCurrentMa = 1.0;
    in.bunchLengthMm = 5.0;
    in.averageBetaX = 10;
    in.averageBetaY = 10;
    in.gamma = 1000;
    in.emittanceX = 1e-12;
    in.revolutionFrequency = 1e6;
    const TouschekLifetime t = touschekLifetime(in);
    EXPECT_GT(t.zeta, 1000);
    EXPECT_LE(t.c, 0);
    EXPECT_FALSE(t.lifetime);
}

} // namespace
} // namespace kestrune
