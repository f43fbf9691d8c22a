#include "core/orbit/OrbitCorrection.h"

#include "core/orbit/ClosedOrbit.h"
#include "core/orbit/CorrectorRing.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>

namespace kestrune {
namespace {

using test::correctorRing;

// The orbit at the centre of element i of a closed orbit: x, y.
std::pair<double, double> centre(const ClosedOrbit& o, int i)
{
    const std::size_t k = static_cast<std::size_t>(i);
    return {(o.orbit[k - 1].x + o.orbit[k].x) / 2, (o.orbit[k - 1].y + o.orbit[k].y) / 2};
}

// As many kicker planes as readings and every singular value: the closed orbit at the monitors goes to
// the tolerance of the closed orbit. On the same cells as a transport line each kicker sits just before
// its monitor, so the response is triangular with a small diagonal (the kicker 0.35 m from its monitor)
// and a condition of about 1e17: the cut leaves two singular values out and the trajectory stays near
// 1e-7 m.
TEST(OrbitCorrectionTest, SvdWithEverySingularValueTakesTheOrbitAtTheMonitorsAway)
{
    const struct
    {
        OrbitKind kind;
        int used;
        double after; // m
    } cases[] = {{OrbitKind::Closed, 40, 1e-12}, {OrbitKind::Trajectory, 38, 1e-6}};
    for (const auto& [kind, used, after] : cases) {
        State state = correctorRing(true);
        OrbitCorrectionSettings settings;
        settings.orbit = kind;
        settings.iterations = 5; // each pass takes the bends' second-order part to about 1e-2 of it
        const OrbitCorrection c = correctOrbit(state, settings);
        ASSERT_TRUE(c.done) << c.refusal;
        EXPECT_GT(c.rmsBeforeX, 1e-4);
        EXPECT_GT(c.rmsBeforeY, 1e-4);
        EXPECT_LT(c.maxAfterX, after);
        EXPECT_LT(c.maxAfterY, after);
        EXPECT_EQ(c.used, used);
        EXPECT_EQ(c.singularValues.size(), 40U);
        // fewer singular values leave more, never less
        State fewer = correctorRing(true);
        settings.singularValues = 5;
        const OrbitCorrection partial = correctOrbit(fewer, settings);
        ASSERT_TRUE(partial.done) << partial.refusal;
        EXPECT_EQ(partial.used, 5);
        EXPECT_GT(partial.rmsAfterX + partial.rmsAfterY, 1e3 * (c.rmsAfterX + c.rmsAfterY));
    }
}

// One kicker off its setting on a ring otherwise clean: MICADO's one best kicker of each plane is that
// one, and it takes its kick back.
TEST(OrbitCorrectionTest, MicadoPicksTheKickerOfTheError)
{
    State state = correctorRing(false);
    constexpr int kWrong = 4 * 13 + 7;
    state.line.at(kWrong).hkick = 1e-4;
    state.line.at(kWrong).vkick = -5e-5;
    OrbitCorrectionSettings settings;
    settings.method = CorrectionMethod::Micado;
    settings.kickers = 1;
    const OrbitCorrection c = correctOrbit(state, settings);
    ASSERT_TRUE(c.done) << c.refusal;
    EXPECT_EQ(c.used, 2);
    for (const KickerKick& k : c.kicks) {
        EXPECT_EQ(k.used, k.element == kWrong) << k.element;
        EXPECT_NEAR(k.after, 0, 1e-12) << k.element;
    }
    EXPECT_GT(c.maxBeforeX, 1e-4);
    EXPECT_LT(c.maxAfterX + c.maxAfterY, 1e-11);
}

// Dipole errors in three cells: MAD-X 5.09.03 (CORRECT, MODE=MICADO, NCORR=2, PLANE=X, the errors by
// EFCOMP) chooses the second kickers of cells 4 and 6, with kicks of 3.815e-4 and -5.130e-4 rad from its
// linear model; this correction iterates on the tracked orbit, whose bends add a few per cent.
TEST(OrbitCorrectionTest, MicadoChoosesTheKickersMadxChooses)
{
    State state = correctorRing(false);
    const double errors[][2] = {{3, 2e-4}, {6, -3e-4}, {8, 1e-4}}; // cell, knl[0]
    for (const auto& [cell, knl] : errors)
        state.line.at(13 * static_cast<int>(cell) + 12).knl = {knl};
    OrbitCorrectionSettings settings;
    settings.method = CorrectionMethod::Micado;
    settings.kickers = 2;
    const OrbitCorrection c = correctOrbit(state, settings);
    ASSERT_TRUE(c.done) << c.refusal;
    std::vector<int> chosen;
    for (const KickerKick& k : c.kicks)
        if (k.used) {
            chosen.push_back(k.element);
            EXPECT_TRUE(k.horizontal);
        }
    EXPECT_EQ(chosen, (std::vector<int>{13 * 4 + 7, 13 * 6 + 7}));
    // the horizontal columns of the second kickers of cells 4 and 6
    EXPECT_NEAR(c.kicks[18].after, 3.815e-4, 0.05 * 3.815e-4);
    EXPECT_NEAR(c.kicks[26].after, -5.130e-4, 0.05 * 5.130e-4);
}

TEST(OrbitCorrectionTest, KicksPastTheLimitAreCappedAndNamed)
{
    State state = correctorRing(true);
    OrbitCorrectionSettings settings;
    settings.kickLimit = 1e-4;
    const OrbitCorrection c = correctOrbit(state, settings);
    ASSERT_TRUE(c.done) << c.refusal;
    int capped = 0;
    for (const KickerKick& k : c.kicks) {
        EXPECT_LE(std::fabs(k.after), settings.kickLimit * (1 + 1e-15)) << k.name;
        if (k.capped) {
            ++capped;
            const LatticeElement& e = state.line.at(k.element);
            EXPECT_DOUBLE_EQ(std::fabs(k.horizontal ? e.hkick : e.vkick), settings.kickLimit);
        }
    }
    EXPECT_GT(capped, 0);
    EXPECT_LE(c.kickMax, settings.kickLimit);
}

// The correction steers the orbit to the monitors' offsets (their misalignments), one monitor read
// neither way; the orbit itself, found again afterwards, passes the monitors at their offsets.
TEST(OrbitCorrectionTest, OrbitGoesToTheMonitorOffsets)
{
    State state = correctorRing(true);
    const struct
    {
        int monitor;
        double dx, dy; // m
    } offsets[] = {{3, 2e-4, -1e-4}, {9, -3e-4, 0}, {29, 0, 4e-4}};
    for (const auto& o : offsets) {
        state.line.at(o.monitor).errors.dx = o.dx;
        state.line.at(o.monitor).errors.dy = o.dy;
    }
    state.line.at(42).name = "OFF";
    OrbitCorrectionSettings settings;
    settings.monitorsOff = {"OFF"};
    settings.iterations = 5;
    const OrbitCorrection c = correctOrbit(state, settings);
    ASSERT_TRUE(c.done) << c.refusal;
    EXPECT_EQ(c.monitors, 19);
    const ClosedOrbit after = closedOrbit(state);
    ASSERT_TRUE(after.found);
    for (const auto& o : offsets) {
        EXPECT_NEAR(centre(after, o.monitor).first, o.dx, 1e-12);
        EXPECT_NEAR(centre(after, o.monitor).second, o.dy, 1e-12);
    }
    EXPECT_NEAR(centre(after, 16).first, 0, 1e-12);
    EXPECT_GT(std::fabs(centre(after, 42).first), 1e-9);

    settings.monitorsOff = {"NOPE"};
    const State kept = state;
    EXPECT_EQ(correctOrbit(state, settings).refusal, "no monitor named 'NOPE'");
    EXPECT_EQ(state.line.at(1).hkick, kept.line.at(1).hkick);
}

// The read noise: the same seed the same kicks, another seed others; the orbit is left at about the noise.
TEST(OrbitCorrectionTest, ReadNoiseIsSeeded)
{
    OrbitCorrectionSettings settings;
    settings.readNoise = 1e-5;
    double first[2] = {0, 0};
    for (const std::uint64_t seed : {7U, 7U, 8U}) {
        State state = correctorRing(true);
        settings.seed = seed;
        const OrbitCorrection c = correctOrbit(state, settings);
        ASSERT_TRUE(c.done) << c.refusal;
        EXPECT_GT(c.rmsAfterX, 0.3 * settings.readNoise);
        EXPECT_LT(c.rmsAfterX, 3 * settings.readNoise);
        if (seed == 7 && first[0] == 0) {
            first[0] = c.kicks[0].after;
            first[1] = c.kicks[1].after;
        } else if (seed == 7) {
            EXPECT_EQ(c.kicks[0].after, first[0]);
        } else {
            EXPECT_NE(c.kicks[0].after, first[0]);
        }
    }
    // the deviates: mean 0, sigma 1, the tails of a normal distribution
    GaussianNoise noise(1);
    constexpr int kDraws = 40000;
    double sum = 0, sum2 = 0;
    int beyond2 = 0;
    for (int i = 0; i < kDraws; ++i) {
        const double g = noise.next();
        sum += g;
        sum2 += g * g;
        beyond2 += std::fabs(g) > 2;
    }
    EXPECT_NEAR(sum / kDraws, 0, 0.02);
    EXPECT_NEAR(sum2 / kDraws, 1, 0.03);
    EXPECT_NEAR(static_cast<double>(beyond2) / kDraws, 0.0455, 0.004);
}

} // namespace
} // namespace kestrune
