#include "core/orbit/ErrorSeeds.h"

#include "CorrectorRing.h"
#include "core/orbit/OrbitOptics.h"

#include <atomic>
#include <cmath>
#include <gtest/gtest.h>

namespace kestrune {
namespace {

ErrorSet quadrupoleOffsets(double sigma)
{
    ErrorSet set;
    ErrorRule rule;
    rule.families = {static_cast<int>(Family::Quadrupole)};
    rule.component = ErrorComponent::Dx;
    rule.distribution = ErrorDistribution::Gaussian;
    rule.value = sigma;
    set.rules.push_back(rule);
    return set;
}

TEST(ErrorSeedsTest, RmsOrbitOfRandomQuadrupoleOffsetsIsTheirExpectedAmplification)
{
    // Offsets dx of sigma give kicks K1 L dx; their closed orbit at a place of beta is
    // sqrt(beta)/(2 sin pi Q) sum sqrt(beta_k) theta_k cos(...), whose mean square over seeds and over the
    // phases is beta/(8 sin^2 pi Q) sum beta_k (K1 L)^2 sigma^2.
    const State state = test::correctorRing(false);
    const double sigma = 1e-5;
    const std::vector<SeedOutcome> seeds =
        runErrorSeeds(state, quadrupoleOffsets(sigma), 1, 200, std::nullopt);
    State design = state;
    const OrbitOptics optics = orbitOptics(design);
    ASSERT_TRUE(optics.computed) << optics.refusal;
    double sum = 0, monitorBeta = 0;
    int monitors = 0;
    for (int i = 1; i <= state.line.count; ++i) {
        const LatticeElement& e = state.line.at(i);
        const std::size_t k = static_cast<std::size_t>(i);
        const double beta = (optics.betaX[k - 1] + optics.betaX[k]) / 2;
        if (familyOf(e.code) == static_cast<int>(Family::Quadrupole))
            sum += beta * std::pow(e.k * e.length, 2);
        if (e.code == code::kMonitor) {
            monitorBeta += beta;
            ++monitors;
        }
    }
    const double expected = std::sqrt(monitorBeta / monitors * sum) * sigma /
                            (2 * std::sqrt(2.0) * std::fabs(std::sin(kPi * optics.tune1)));
    double squares = 0;
    for (const SeedOutcome& s : seeds) {
        ASSERT_TRUE(s.computed) << s.refusal;
        squares += s.xRms * s.xRms;
        EXPECT_LT(s.yRms, 1e-15);
    }
    EXPECT_NEAR(std::sqrt(squares / 200), expected, 0.1 * expected);
}

TEST(ErrorSeedsTest, ASeedGivesTheSameResultWhereverItRunsAndTheCorrectionIsCounted)
{
    const State state = test::correctorRing(false);
    OrbitCorrectionSettings svd;
    const std::vector<SeedOutcome> whole = runErrorSeeds(state, quadrupoleOffsets(1e-4), 3, 3, svd);
    const std::vector<SeedOutcome> part = runErrorSeeds(state, quadrupoleOffsets(1e-4), 5, 1, svd);
    ASSERT_EQ(whole.size(), 3u);
    ASSERT_EQ(part.size(), 1u);
    EXPECT_EQ(whole[2].seed, 5u);
    EXPECT_EQ(whole[2].xRms, part[0].xRms);
    EXPECT_EQ(whole[2].xRmsAfter, part[0].xRmsAfter);
    EXPECT_EQ(whole[2].betaBeatXRms, part[0].betaBeatXRms);
    const SeedStatistics stats = seedStatistics(whole);
    EXPECT_EQ(stats.computed, 3);
    for (const auto& [name, q] : stats.quantities) {
        if (name == "corrected_x_rms_m" || name == "x_rms_m") {
            EXPECT_GT(q.rms, 0) << name;
        }
    }
    EXPECT_LT(whole[0].xRmsAfter, 1e-3 * whole[0].xRms);
    // the second of two parts runs the second seed of the three alone
    SeedStudy second;
    second.part = {2, 2};
    const std::vector<SeedOutcome> other = runErrorSeeds(state, quadrupoleOffsets(1e-4), 3, 3, svd, second);
    ASSERT_EQ(other.size(), 1u);
    EXPECT_EQ(other[0].seed, 4u);
    EXPECT_EQ(other[0].xRmsAfter, whole[1].xRmsAfter);
    // a study cancelled after its first seed keeps that one
    std::atomic<bool> stop{false};
    SeedStudy cancelled;
    cancelled.cancel = &stop;
    cancelled.progress = [&stop](double) { stop = true; };
    EXPECT_EQ(runErrorSeeds(state, quadrupoleOffsets(1e-4), 3, 3, svd, cancelled).size(), 1u);
}

} // namespace
} // namespace kestrune
