#include "core/chromaticity/Chromaticity.h"

#include "TestRings.h"
#include "core/NumberInput.h"
#include "core/optics/BetaFunctions.h"
#include "core/ring/Parameter.h"
#include "support/PassRecorder.h"

#include <array>
#include <cmath>
#include <gtest/gtest.h>
#include <vector>

namespace kestrune {
namespace {

using test::FakeMessages;

const char* const kNoFamilies =
    "there are no \"SF\" and \"SD\" sextupoles.\r You must have at least one of each in your lattice.";

std::vector<double> strengths(const State& state, int last)
{
    std::vector<double> m;
    for (int i = 1; i <= last; ++i)
        m.push_back(state.line.at(i).m);
    return m;
}

TEST(WantedChromaticity, ReadsTheNumberTyped)
{
    EXPECT_DOUBLE_EQ(wantedChromaticity("1"), 1.0) << "not 10, as appending a 0 would make it";
    EXPECT_DOUBLE_EQ(wantedChromaticity("-2.5"), -2.5);
    EXPECT_DOUBLE_EQ(wantedChromaticity(" 0.0"), 0.0);
}

TEST(WantedChromaticity, EmptyBoxReadsZero)
{
    EXPECT_EQ(wantedChromaticity(""), 0.0);
    EXPECT_EQ(wantedChromaticity("   "), 0.0);
}

TEST(WantedChromaticity, TextThatIsNoNumberIsTheConversionError)
{
    try {
        wantedChromaticity("1,5");
        FAIL() << "no conversion error";
    } catch (const ConversionError& e) {
        EXPECT_STREQ(e.what(), "'1,5' is not a valid floating point value");
    }
}

TEST(ChromaticityCorrection, WantedEqualToNaturalWithoutSpecialSextupolesNeedsNoStrength)
{
    State state = test::dbaRing();
    state.ringParams.chromaticityX = -23.4;
    state.ringParams.chromaticityY = -17.1;
    FakeMessages messages;
    const auto c = correctChromaticity(state, messages, -23.4, -17.1);
    ASSERT_TRUE(c);
    EXPECT_TRUE(messages.errors.empty());
    EXPECT_NEAR(c->mF, 0, 1e-12);
    EXPECT_NEAR(c->mD, 0, 1e-12);
    EXPECT_NEAR(c->correctedX, -23.4, 1e-12);
    EXPECT_NEAR(c->correctedY, -17.1, 1e-12);
}

TEST(ChromaticityCorrection, ReachesTheWantedValuesAndWritesTheFamilies)
{
    State state = test::dbaRing();
    state.ringParams.chromaticityX = -25;
    state.ringParams.chromaticityY = -20;
    FakeMessages messages;
    const auto c = correctChromaticity(state, messages, 1, 2);
    ASSERT_TRUE(c);
    EXPECT_NEAR(state.ringParams.correctedChromaticityX, 1, 1e-9);
    EXPECT_NEAR(state.ringParams.correctedChromaticityY, 2, 1e-9);
    EXPECT_NEAR(c->naturalX + c->specialX + c->sextupoleX, 1, 1e-9);
    EXPECT_NEAR(c->naturalY + c->specialY + c->sextupoleY, 2, 1e-9);
    // SF corrects a negative horizontal, SD a negative vertical chromaticity
    EXPECT_GT(c->mF, 0);
    EXPECT_LT(c->mD, 0);
    for (int i = 1; i <= state.line.count; ++i) {
        const LatticeElement& e = state.line.at(i);
        if (e.code == code::kSextupoleF) {
            EXPECT_EQ(e.m, c->mF);
        } else if (e.code == code::kSextupoleD) {
            EXPECT_EQ(e.m, c->mD);
        }
    }
}

TEST(ChromaticityCorrection, WithoutAnSdFamilyIsRefusedAndChangesNothing)
{
    State state = test::dbaRing();
    for (int i = 1; i <= state.line.count; ++i)
        if (state.line.at(i).code == code::kSextupoleD)
            state.line.at(i).code = code::kSextupoleSpecial;
    const std::vector<double> before = strengths(state, state.line.count);
    FakeMessages messages;
    EXPECT_FALSE(correctChromaticity(state, messages, 0, 0));
    ASSERT_EQ(messages.errors.size(), 1u);
    EXPECT_EQ(messages.errors[0], kNoFamilies);
    EXPECT_EQ(strengths(state, state.line.count), before);
}

TEST(ChromaticityCorrection, SextupolesWithoutDispersionCountAsNone)
{
    State state = test::dbaRing();
    // the only SD family left is the long straight, where the achromat leaves no dispersion (to rounding)
    for (int i = 1; i <= state.line.count; ++i)
        if (state.line.at(i).code == code::kSextupoleD)
            state.line.at(i).code = code::kSextupoleSpecial;
    ASSERT_EQ(state.line.at(1).code, code::kDrift);
    state.line.at(1).code = code::kSextupoleD;
    state.line.at(state.line.count).code = code::kSextupoleD;
    FakeMessages messages;
    EXPECT_FALSE(correctChromaticity(state, messages, 0, 0));
    ASSERT_EQ(messages.errors.size(), 1u);
    EXPECT_EQ(messages.errors[0], kNoFamilies);
    EXPECT_EQ(state.line.at(1).m, 0);
}

TEST(ChromaticityCorrection, FamiliesThatSeeTheSameOpticsAreRefused)
{
    // mirror-symmetric FODO cell: SF and SD sit at mirror points, so both columns of the system are equal
    State state;
    startParticle(state);
    const double theta = kTwoPi / 20;
    test::append(state, code::kQuadrupole, 0.15).k = 1.2;
    test::append(state, code::kDrift, 0.5);
    test::append(state, code::kSectorBend, 1.5).curvature = theta / 2 / 1.5;
    test::append(state, code::kSextupoleF, 0.2);
    test::append(state, code::kDrift, 0.3);
    test::append(state, code::kQuadrupole, 0.3).k = -1.2;
    test::append(state, code::kDrift, 0.3);
    test::append(state, code::kSextupoleD, 0.2);
    test::append(state, code::kSectorBend, 1.5).curvature = theta / 2 / 1.5;
    test::append(state, code::kDrift, 0.5);
    test::append(state, code::kQuadrupole, 0.15).k = 1.2;
    state.line.superPeriods = 10;
    FakeMessages messages;
    EXPECT_FALSE(correctChromaticity(state, messages, 0, 0));
    ASSERT_EQ(messages.errors.size(), 1u);
    EXPECT_EQ(messages.errors[0], kNoFamilies);
    EXPECT_EQ(state.line.at(4).m, 0);
    EXPECT_EQ(state.line.at(8).m, 0);
}

TEST(ChromaticityCorrection, UnstableCellStopsBeforeAnyStrengthIsWritten)
{
    State state = test::dbaRing();
    state.ringParams.correctedChromaticityX = 7;
    for (int i = 1; i <= state.line.count; ++i)
        if (familyOf(state.line.at(i).code) == static_cast<int>(Family::Quadrupole))
            state.line.at(i).k *= 3;
    const std::vector<double> before = strengths(state, state.line.count);
    FakeMessages messages;
    EXPECT_FALSE(correctChromaticity(state, messages, 0, 0));
    ASSERT_FALSE(messages.errors.empty());
    EXPECT_EQ(messages.errors[0], "no periodic solution for at least one beta-function!");
    EXPECT_EQ(strengths(state, state.line.count), before);
    EXPECT_EQ(state.ringParams.correctedChromaticityX, 7);
}

TEST(ChromaticityCorrection, WritesTheCellAndTheCopiesThatExistButNothingBeyond)
{
    State state = test::dbaRing();
    const int n = state.line.count;
    // two copies of the cell behind it, as an expansion leaves them, and a stray SF after them
    for (int copy = 1; copy <= 2; ++copy)
        for (int j = 1; j <= n; ++j)
            state.line.at(copy * n + j) = state.line.at(j);
    state.ringElementCount = 3 * n;
    state.line.at(3 * n + 1).code = code::kSextupoleF;
    state.line.at(3 * n + 1).m = 99;
    FakeMessages messages;
    const auto c = correctChromaticity(state, messages, 0, 0);
    ASSERT_TRUE(c);
    int sf = 0;
    for (int i = 1; i <= 3 * n; ++i) {
        const LatticeElement& e = state.line.at(i);
        if (e.code == code::kSextupoleF) {
            EXPECT_EQ(e.m, c->mF) << "record " << i;
            ++sf;
        }
        if (e.code == code::kSextupoleD) {
            EXPECT_EQ(e.m, c->mD) << "record " << i;
        }
    }
    EXPECT_EQ(sf, 3);
    EXPECT_EQ(state.line.at(3 * n + 1).m, 99);
}

TEST(ChromaticityCorrection, StaleFullRingCountNeverReachesPastTheTable)
{
    State state = test::dbaRing();
    state.ringElementCount = 12 * kMaxElements;
    FakeMessages messages;
    EXPECT_TRUE(correctChromaticity(state, messages, 0, 0));
    EXPECT_EQ(lastRingRecord(state), kMaxElements);
    state.ringElementCount = 0;
    EXPECT_EQ(lastRingRecord(state), state.line.count);
}

struct Entrance
{
    double betaX, alphaX, eta, etaP, betaY, alphaY;
};

// Twiss values at the entrance of every element of the cell, from the ring pass's list rows.
std::vector<Entrance> entrances(State& state)
{
    test::RecordingList rows;
    FakeMessages messages;
    state.run.stepAtElementEnds = true;
    EXPECT_TRUE(ringStart(state, messages, &rows));
    for (int i = 1; i <= state.line.count; ++i)
        ringTrace(state, messages, i, &rows);
    std::vector<Entrance> e;
    for (const test::RecordedRow& r : rows.rows)
        e.push_back({r.values[0], r.values[1], r.values[3], r.values[4], r.values[5], r.values[6]});
    return e; // e[i - 1] is the entrance of element i
}

// eta(s) beta(s) through a field-free stretch from the entrance values
double etaBeta(double beta0, double alpha0, double eta0, double etaP0, double s)
{
    const double gamma0 = (1 + alpha0 * alpha0) / beta0;
    return (eta0 + etaP0 * s) * (beta0 - 2 * alpha0 * s + gamma0 * s * s);
}

TEST(ChromaticityCorrection, StrengthsOfADoubleBendAchromatAgreeWithAThickSextupoleEstimate)
{
    State state = test::dbaRing();
    state.ringParams.chromaticityX = -25;
    state.ringParams.chromaticityY = -20;
    const std::vector<Entrance> at = entrances(state);

    // thick estimate: eta beta integrated over each sextupole (Simpson's rule, exact for the cubic), and
    // the midpoint rule's error L^3/24 f''(centre), exact for a cubic f
    std::array<double, 4> thick{}; // aFx, aFy, aDx, aDy
    std::array<double, 4> centreError{};
    for (int i = 1; i <= state.line.count; ++i) {
        const LatticeElement& e = state.line.at(i);
        if (e.code != code::kSextupoleF && e.code != code::kSextupoleD)
            continue;
        const Entrance& a = at[static_cast<std::size_t>(i - 1)];
        const double l = e.length;
        const double fourPi = 2 * kTwoPi;
        const auto simpson = [&](double beta, double alpha) {
            return l / 6 *
                   (etaBeta(beta, alpha, a.eta, a.etaP, 0) + 4 * etaBeta(beta, alpha, a.eta, a.etaP, l / 2) +
                    etaBeta(beta, alpha, a.eta, a.etaP, l)) /
                   fourPi;
        };
        const auto curvature = [&](double beta, double alpha) {
            const double gamma = (1 + alpha * alpha) / beta;
            const double s = l / 2;
            return 2 * gamma * (a.eta + a.etaP * s) + 2 * a.etaP * (-2 * alpha + 2 * gamma * s);
        };
        const std::size_t k = e.code == code::kSextupoleF ? 0 : 2;
        thick[k] += simpson(a.betaX, a.alphaX);
        thick[k + 1] += simpson(a.betaY, a.alphaY);
        centreError[k] += l * l * l / 24 * curvature(a.betaX, a.alphaX) / fourPi;
        centreError[k + 1] += l * l * l / 24 * curvature(a.betaY, a.alphaY) / fourPi;
    }

    FakeMessages messages;
    const auto c = correctChromaticity(state, messages, 0, 0);
    ASSERT_TRUE(c);
    const std::array<double, 4> thin{c->sums.aFx, c->sums.aFy, c->sums.aDx, c->sums.aDy};
    for (std::size_t k = 0; k < 4; ++k) {
        // the pass's sums are the thick integrals less exactly the thin-centre error
        EXPECT_NEAR(thick[k] - thin[k], centreError[k], 1e-9 * std::fabs(thick[k])) << "sum " << k;
        EXPECT_GT(std::fabs(centreError[k]), 1e-6 * std::fabs(thick[k])) << "sum " << k;
        EXPECT_LT(std::fabs(centreError[k]), 1e-2 * std::fabs(thick[k])) << "sum " << k;
    }

    FakeMessages quiet;
    SextupoleSums thickSums = c->sums;
    thickSums.aFx = thick[0];
    thickSums.aFy = thick[1];
    thickSums.aDx = thick[2];
    thickSums.aDy = thick[3];
    const auto estimate = solveChromaticity(thickSums, -25, -20, state.line.superPeriods, 0, 0, quiet);
    ASSERT_TRUE(estimate);
    // the sums' thin-centre errors of up to 1 % carry over into the strengths through the 2 x 2 system
    double largest = 0;
    for (std::size_t k = 0; k < 4; ++k)
        largest = std::max(largest, std::fabs(centreError[k] / thick[k]));
    EXPECT_NEAR(c->mF, estimate->mF, 3 * largest * std::fabs(estimate->mF));
    EXPECT_NEAR(c->mD, estimate->mD, 3 * largest * std::fabs(estimate->mD));
}

TEST(ChromaticityCorrection, LatticeAfterACorrectionHasTheCorrectedChromaticities)
{
    State state = test::dbaRing();
    FakeMessages messages;
    radiationIntegrals(state, messages);
    ASSERT_TRUE(std::isfinite(state.ringParams.chromaticityX));
    const auto c = correctChromaticity(state, messages, 2, -1);
    ASSERT_TRUE(c);
    const auto now = latticeChromaticity(state, messages);
    ASSERT_TRUE(now);
    EXPECT_NEAR(now->correctedX, 2, 1e-9);
    EXPECT_NEAR(now->correctedY, -1, 1e-9);
    EXPECT_NEAR(now->sextupoleX, c->sextupoleX, 1e-9);
    EXPECT_TRUE(std::isnan(now->mF));
    // strengths that are no longer one per family still count element by element
    state.line.at(10).m *= 2;
    const auto uneven = latticeChromaticity(state, messages);
    ASSERT_TRUE(uneven);
    EXPECT_GT(std::fabs(uneven->correctedY + 1), 0.5);
}

TEST(ChromaticityCorrection, NaturalChromaticitiesThatAreNotAvailableRefuseTheCorrection)
{
    State state = test::dbaRing();
    state.ringParams.chromaticityX = std::nan("");
    const std::vector<double> before = strengths(state, state.line.count);
    FakeMessages messages;
    EXPECT_FALSE(correctChromaticity(state, messages, 0, 0));
    ASSERT_EQ(messages.errors.size(), 1u);
    EXPECT_EQ(messages.errors[0],
              "the natural chromaticities are not available: the ring has no periodic solution!");
    EXPECT_EQ(strengths(state, state.line.count), before);
}

TEST(ChromaticityCorrection, SpecialSextupolesEnterWithTheirOwnStrength)
{
    State state = test::dbaRing();
    FakeMessages first;
    const auto base = sextupoleSums(state, first);
    ASSERT_TRUE(base);
    // the SD pair becomes special with m = 20: its weights move from the SD sums into Sx, Sy
    for (int i = 1; i <= state.line.count; ++i)
        if (state.line.at(i).code == code::kSextupoleD) {
            state.line.at(i).code = code::kSextupoleSpecial;
            state.line.at(i).m = 20;
        }
    FakeMessages messages;
    const auto special = sextupoleSums(state, messages);
    ASSERT_TRUE(special);
    EXPECT_NEAR(special->sx, 20 * base->aDx, 1e-12);
    EXPECT_NEAR(special->sy, -20 * base->aDy, 1e-12);
    EXPECT_EQ(special->aDx, 0);
}

} // namespace
} // namespace kestrune
