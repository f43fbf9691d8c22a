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
    state.ringElementCount = 12 * kMaxLineElements;
    FakeMessages messages;
    EXPECT_TRUE(correctChromaticity(state, messages, 0, 0));
    EXPECT_EQ(lastRingRecord(state), state.line.slotCount());
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

TEST(ChromaticityCorrection, StrengthsOfADoubleBendAchromatAreThoseOfTheThickSextupoles)
{
    State state = test::dbaRing();
    state.ringParams.chromaticityX = -25;
    state.ringParams.chromaticityY = -20;
    const std::vector<Entrance> at = entrances(state);

    // eta beta integrated over each sextupole in closed form: eta linear, beta quadratic in s
    std::array<double, 4> thick{}; // aFx, aFy, aDx, aDy
    for (int i = 1; i <= state.line.count; ++i) {
        const LatticeElement& e = state.line.at(i);
        if (e.code != code::kSextupoleF && e.code != code::kSextupoleD)
            continue;
        const Entrance& a = at[static_cast<std::size_t>(i - 1)];
        const double l = e.length;
        const auto integral = [&](double beta, double alpha) {
            const double gamma = (1 + alpha * alpha) / beta;
            const double cubic[4] = {a.eta * beta, a.etaP * beta - 2 * a.eta * alpha,
                                     a.eta * gamma - 2 * a.etaP * alpha, a.etaP * gamma};
            double sum = 0;
            for (int n = 0; n < 4; ++n)
                sum += cubic[n] * std::pow(l, n + 1) / (n + 1);
            return sum / (2 * kTwoPi);
        };
        const std::size_t k = e.code == code::kSextupoleF ? 0 : 2;
        thick[k] += integral(a.betaX, a.alphaX);
        thick[k + 1] += integral(a.betaY, a.alphaY);
    }

    FakeMessages messages;
    const auto c = correctChromaticity(state, messages, 0, 0);
    ASSERT_TRUE(c);
    const std::array<double, 4> sums{c->sums.aFx, c->sums.aFy, c->sums.aDx, c->sums.aDy};
    for (std::size_t k = 0; k < 4; ++k)
        EXPECT_NEAR(sums[k], thick[k], 1e-12 * std::fabs(thick[k])) << "sum " << k;

    // with those integrals the strengths found cancel the natural chromaticity of each cell
    const double nsp = state.line.superPeriods;
    EXPECT_NEAR(-25 / nsp + thick[0] * c->mF + thick[2] * c->mD, 0, 1e-10 * 25 / nsp);
    EXPECT_NEAR(-20 / nsp - thick[1] * c->mF - thick[3] * c->mD, 0, 1e-10 * 20 / nsp);
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
