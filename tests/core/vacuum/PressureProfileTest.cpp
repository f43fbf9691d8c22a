#include "core/vacuum/PressureProfile.h"

#include "core/io/Listing.h"
#include "core/vacuum/VacuumLines.h"
#include "support/FakeMessages.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <numeric>
#include <random>

namespace kestrune {
namespace {

using test::LineBuilder;

VacuumResult calculate(const State& state, const VacuumInput& input = {})
{
    test::FakeMessages messages;
    auto result = pressureDistribution(state, input, messages);
    EXPECT_TRUE(result) << (messages.errors.empty() ? "" : messages.errors.front());
    return result ? *result : VacuumResult{};
}

double totalLoad(const VacuumResult& r)
{
    double sum = 0;
    for (double q : r.load)
        sum += r.photodesorption * q + r.thermal;
    return sum;
}

double removed(const VacuumResult& r)
{
    double sum = 0;
    for (const PumpStation& s : r.stations)
        sum += s.pressure * s.speed;
    return sum;
}

// ---- the fast sums against the direct ones --------------------------------------------------------

TEST(LoadSums, EqualTheDirectSumsOverEveryRange)
{
    std::mt19937 random(7);
    std::uniform_real_distribution<double> value(1e-12, 3e-11);
    std::vector<double> w(60);
    for (double& x : w)
        x = value(random);
    const LoadSums sums(w);
    for (int from = 0; from < 60; ++from) {
        for (int to = from; to < 60; ++to) {
            double load = 0;
            for (int m = from; m <= to; ++m)
                load += w[static_cast<std::size_t>(m)];
            EXPECT_NEAR(sums.load(from, to), load, 1e-12 * load);
            for (int origin : {from - 1, to + 1, 0, 59}) {
                double moment = 0;
                for (int m = from; m <= to; ++m)
                    moment += (m - origin) * w[static_cast<std::size_t>(m)];
                EXPECT_NEAR(sums.moment(from, to, origin), moment, 1e-12 * std::fabs(moment));
            }
        }
    }
    EXPECT_DOUBLE_EQ(sums.load(5, 4), 0);
    EXPECT_DOUBLE_EQ(sums.moment(5, 4, 0), 0);
}

/// The bisection and the profile with the direct sums, from the loads, stations and conversion factors
/// of a result: the pressure rise is summed link by link, each link between neighbouring steps carrying
/// the gas of every step behind it up to the flow divide.
struct DirectProfile
{
    std::vector<int> divides;
    std::vector<double> pumpPressures;
    std::vector<double> profile; // P_1..P_M
};

DirectProfile directProfile(const VacuumResult& r, int iterations)
{
    const int m = r.steps;
    const double ds = r.stepLength;
    const auto w = [&](int k) {
        return r.photodesorption * r.load[static_cast<std::size_t>(((k - 1) % m + m) % m)] + r.thermal;
    };
    const auto flow = [&](int from, int to) {
        double sum = 0;
        for (int j = from; j <= to; ++j)
            sum += w(j);
        return sum;
    };
    // rise at k from the pump at n backwards (n <= k <= d) and forwards (d <= k <= n)
    const auto backward = [&](int n, int k, int d) {
        double rise = 0;
        for (int j = n + 1; j <= k; ++j)
            rise += flow(j, d) * ds;
        return rise / r.radiusCm3;
    };
    const auto forward = [&](int d, int k, int n) {
        double rise = 0;
        for (int j = k; j <= n - 1; ++j)
            rise += flow(d + 1, j) * ds;
        return rise / r.radiusCm3;
    };
    const std::size_t n = r.stations.size();
    std::vector<int> step(n + 1);
    std::vector<double> x(n + 1), speed(n + 1);
    for (std::size_t p = 0; p < n; ++p) {
        step[p] = r.stations[p].step;
        x[p] = r.stations[p].x;
        speed[p] = r.stations[p].speed;
    }
    step[n] = step[0] + m;
    x[n] = x[0] + m * ds;
    std::vector<double> a(x.begin(), x.end() - 1), b(x.begin() + 1, x.end()), e(n, 1 + 1e-5), pressure(n + 1);
    std::vector<int> d(n);
    for (int it = 0; it < iterations; ++it) {
        for (std::size_t p = 0; p < n; ++p)
            d[p] = std::clamp(static_cast<int>((a[p] + b[p]) / 2 / ds + 0.5), step[p], step[p + 1]);
        for (std::size_t p = 0; p < n; ++p) {
            const double gas =
                p == 0 ? flow(step[0] + 1, d[0]) + flow(d[n - 1] + 1, m + step[0]) : flow(d[p - 1] + 1, d[p]);
            pressure[p] = gas / speed[p];
        }
        pressure[n] = pressure[0];
        for (std::size_t p = 0; p < n; ++p) {
            if (e[p] <= 1e-5)
                continue;
            const double left = backward(step[p], d[p], d[p]) + pressure[p];
            const double right = forward(d[p], d[p], step[p + 1]) + pressure[p + 1];
            e[p] = std::fabs(right - left) / ((left + right) / 2);
            if (e[p] > 1e-5 && left > right)
                b[p] -= (b[p] - a[p]) / 2;
            else if (e[p] > 1e-5)
                a[p] += (b[p] - a[p]) / 2;
        }
    }
    DirectProfile out;
    out.divides = d;
    out.pumpPressures.assign(pressure.begin(), pressure.end() - 1);
    std::vector<double> ext(static_cast<std::size_t>(m + step[0] + 1));
    std::size_t q = 1;
    for (int k = step[0]; k <= m + step[0]; ++k) {
        while (q < n && k > step[q])
            ++q;
        const int dq = d[q - 1];
        ext[static_cast<std::size_t>(k)] =
            k > dq ? forward(dq, k, step[q]) + pressure[q] : backward(step[q - 1], k, dq) + pressure[q - 1];
    }
    for (int k = 1; k <= m; ++k)
        out.profile.push_back(ext[static_cast<std::size_t>(k <= step[0] ? k + m : k)]);
    return out;
}

TEST(PressureProfile, FastSumsGiveTheDirectSumsResult)
{
    State state = test::electronState();
    test::pumpedCell(state.line);
    VacuumInput input;
    input.steps = 97;
    input.iterations = 60;
    const VacuumResult r = calculate(state, input);
    ASSERT_EQ(r.stations.size(), 3u);
    const DirectProfile direct = directProfile(r, input.iterations);
    for (std::size_t p = 0; p < r.stations.size(); ++p) {
        EXPECT_EQ(r.stations[p].divide, direct.divides[p]);
        EXPECT_NEAR(r.stations[p].pressure, direct.pumpPressures[p], 1e-12 * direct.pumpPressures[p]);
    }
    ASSERT_EQ(r.pressure.size(), direct.profile.size());
    for (std::size_t k = 0; k < r.pressure.size(); ++k)
        EXPECT_NEAR(r.pressure[k], direct.profile[k], 1e-12 * direct.profile[k]) << "step " << k + 1;
}

TEST(PressureProfile, FastSumsMatchWithAPumpAtTheStartOfThePeriod)
{
    State state = test::electronState();
    LineBuilder(state.line)
        .pump(120)
        .drift(2.0)
        .bend(1.2, 4.0)
        .drift(1.5)
        .pump(80)
        .drift(1.0)
        .bend(1.2, 4.0)
        .drift(0.7);
    VacuumInput input;
    input.steps = 53;
    input.iterations = 40;
    const VacuumResult r = calculate(state, input);
    ASSERT_EQ(r.stations.size(), 2u);
    EXPECT_EQ(r.stations[0].step, 0);
    const DirectProfile direct = directProfile(r, input.iterations);
    for (std::size_t k = 0; k < r.pressure.size(); ++k)
        EXPECT_NEAR(r.pressure[k], direct.profile[k], 1e-12 * direct.profile[k]) << "step " << k + 1;
}

TEST(PressureProfile, BisectionStopsWhereNoDivideMovesWithTheResultOfAllItsIterations)
{
    State state = test::electronState();
    test::pumpedCell(state.line);
    VacuumInput input;
    input.steps = 97;
    input.iterations = 200;
    const VacuumResult r200 = calculate(state, input);
    input.iterations = kMaxVacuumIterations;
    const VacuumResult rMax = calculate(state, input);
    // bounds that stopped moving stay where they are: the same numbers to the last bit
    EXPECT_EQ(r200.pressure, rMax.pressure);
    for (std::size_t p = 0; p < r200.stations.size(); ++p)
        EXPECT_EQ(r200.stations[p].divide, rMax.stations[p].divide);
}

// ---- physics ----------------------------------------------------------------------------------------

TEST(PressureProfile, PumpsRemoveAllTheGasOfThePeriod)
{
    State state = test::electronState();
    test::pumpedCell(state.line);
    const VacuumResult r = calculate(state);
    EXPECT_NEAR(removed(r), totalLoad(r), 1e-12 * totalLoad(r));
}

TEST(PressureProfile, ProfileIsPositiveAndPeriodic)
{
    State state = test::electronState();
    test::pumpedCell(state.line);
    const VacuumResult r = calculate(state);
    ASSERT_EQ(r.pressure.size(), 2000u);
    double largestJump = 0;
    for (std::size_t k = 0; k < r.pressure.size(); ++k) {
        EXPECT_TRUE(std::isfinite(r.pressure[k]));
        EXPECT_GT(r.pressure[k], 0);
        if (k > 0)
            largestJump = std::max(largestJump, std::fabs(r.pressure[k] - r.pressure[k - 1]));
    }
    // across the end of the period the profile continues like anywhere inside it
    EXPECT_LE(std::fabs(r.pressure.front() - r.pressure.back()), largestJump);
    const double mean = std::accumulate(r.pressure.begin(), r.pressure.end(), 0.0) / r.steps;
    EXPECT_NEAR(r.averagePressure, mean, 1e-12 * mean);
}

TEST(PressureProfile, JumpAtTheFlowDividesShrinksWithTheStep)
{
    // the divide sits on a whole step, so the two sides meet to within what moving it by one step
    // changes: about 2 / (steps from pump to divide) of the rise, 1 / M
    State state = test::electronState();
    test::pumpedCell(state.line);
    for (const auto& [steps, tolerance] : {std::pair{2000, 0.02}, std::pair{10000, 0.004}}) {
        VacuumInput input;
        input.steps = steps;
        const VacuumResult r = calculate(state, input);
        for (const PumpStation& s : r.stations) {
            const int k = (s.divide - 1 + r.steps) % r.steps;
            const double here = r.pressure[static_cast<std::size_t>(k)];
            const double next = r.pressure[static_cast<std::size_t>((k + 1) % r.steps)];
            EXPECT_LT(std::fabs(next - here), tolerance * here) << steps << " steps, divide " << s.divide;
        }
    }
}

TEST(PressureProfile, PressureIsLowestAtThePumps)
{
    State state = test::electronState();
    test::pumpedCell(state.line);
    const VacuumResult r = calculate(state);
    for (const PumpStation& s : r.stations) {
        const int k = (s.step - 1 + r.steps) % r.steps + 1;
        EXPECT_NEAR(r.pressure[static_cast<std::size_t>(k - 1)], s.pressure, 1e-12 * s.pressure);
        for (int j = k - 5; j <= k + 5; ++j) {
            const int wrapped = (j - 1 + r.steps) % r.steps;
            EXPECT_GE(r.pressure[static_cast<std::size_t>(wrapped)], s.pressure * (1 - 1e-12));
        }
    }
}

TEST(PressureProfile, DoublingEveryPumpSpeedLowersTheAveragePressure)
{
    State state = test::electronState();
    test::pumpedCell(state.line);
    const VacuumResult before = calculate(state);
    for (int i = 1; i <= state.line.count; ++i)
        state.line.at(i).pumpSpeed *= 2;
    const VacuumResult after = calculate(state);
    EXPECT_LT(after.averagePressure, before.averagePressure);
    // the pumps' own pressures halve; the rise along the chamber stays
    for (std::size_t p = 0; p < before.stations.size(); ++p)
        EXPECT_NEAR(after.stations[p].pressure, before.stations[p].pressure / 2,
                    0.05 * before.stations[p].pressure);
}

TEST(PressureProfile, DoublingTheCurrentDoublesThePhotodesorptionLoad)
{
    State state = test::electronState(3.0, 0.1);
    test::pumpedCell(state.line);
    const VacuumResult low = calculate(state);
    state.beamCurrent = 0.2;
    const VacuumResult high = calculate(state);
    const double lowLoad = std::accumulate(low.load.begin(), low.load.end(), 0.0);
    const double highLoad = std::accumulate(high.load.begin(), high.load.end(), 0.0);
    EXPECT_GT(lowLoad, 0);
    EXPECT_NEAR(highLoad, 2 * lowLoad, 1e-12 * lowLoad);
    EXPECT_GT(high.averagePressure, low.averagePressure);
}

TEST(PressureProfile, ThermalOutgassingAloneGivesTheParabolicProfile)
{
    // two equal pumps 10 m apart, no light: q' = theta 2 pi r per metre, rise q' x^2 / 2 / r^3 to the
    // divide halfway, average rise 2/3 of that
    State state = test::electronState();
    LineBuilder(state.line).drift(5.0).pump(100).drift(10.0).pump(100).drift(4.999);
    VacuumInput input;
    input.steps = 10000;
    const VacuumResult r = calculate(state, input);
    ASSERT_EQ(r.warnings.size(), 1u);
    const double radiusCm = 3.0;
    const double perMetre = 1e-12 * 2 * M_PI * radiusCm * 100; // Torr l/s per m
    const double pump = perMetre * r.period / 2 / 100;
    const double rise = perMetre * 5.0 * 5.0 / 2 / (radiusCm * radiusCm * radiusCm);
    EXPECT_NEAR(r.stations[0].pressure, pump, 1e-3 * pump);
    const double highest = *std::max_element(r.pressure.begin(), r.pressure.end());
    EXPECT_NEAR(highest, pump + rise, 0.01 * rise);
    EXPECT_NEAR(r.averagePressure, pump + 2 * rise / 3, 0.01 * rise);
}

TEST(PressureProfile, SinglePumpTakesTheGasOfTheWholePeriod)
{
    State state = test::electronState();
    LineBuilder(state.line)
        .drift(1.0)
        .pump(200)
        .drift(1.0)
        .bend(2.0, 6.0)
        .drift(2.0)
        .bend(2.0, 6.0)
        .drift(1.0);
    const VacuumResult r = calculate(state);
    ASSERT_EQ(r.stations.size(), 1u);
    EXPECT_NEAR(r.stations[0].pressure * 200, totalLoad(r), 1e-12 * totalLoad(r));
    EXPECT_GT(r.stations[0].divide, r.stations[0].step);
    EXPECT_LT(r.stations[0].divide, r.stations[0].step + r.steps);
    for (double p : r.pressure)
        EXPECT_GE(p, r.stations[0].pressure * (1 - 1e-12));
}

// ---- refusals and warnings -----------------------------------------------------------------------

TEST(PressureProfile, LineWithoutPumpsIsRefusedAndTheAverageStays)
{
    State state = test::electronState();
    LineBuilder(state.line).drift(1.0).bend(1.0, 5.0).drift(1.0);
    state.averagePressure = 2e-9;
    test::FakeMessages messages;
    EXPECT_FALSE(calculateVacuum(state, VacuumInput{}, messages));
    ASSERT_EQ(messages.errors.size(), 1u);
    EXPECT_EQ(messages.errors[0], "there are no pumps in your lattice!");
    EXPECT_DOUBLE_EQ(state.averagePressure, 2e-9);
}

TEST(PressureProfile, PumpWithoutSpeedIsRefused)
{
    State state = test::electronState();
    LineBuilder(state.line).drift(1.0).pump(100).bend(1.0, 5.0).pump(0, "PX").drift(1.0);
    test::FakeMessages messages;
    EXPECT_FALSE(calculateVacuum(state, VacuumInput{}, messages));
    ASSERT_EQ(messages.errors.size(), 1u);
    EXPECT_EQ(messages.errors[0], "pump 2 (element 4, PX) needs a pumping speed above 0 l/s!");
    EXPECT_DOUBLE_EQ(state.averagePressure, 0);
}

TEST(PressureProfile, LineWithoutBendsWarnsAndHasOnlyOutgassing)
{
    State state = test::electronState();
    LineBuilder(state.line).drift(3.0).pump(100).drift(3.0);
    const VacuumResult r = calculate(state);
    ASSERT_EQ(r.warnings.size(), 1u);
    EXPECT_EQ(r.warnings[0],
              "there are no bending magnets in your lattice: only thermal outgassing loads the pumps!");
    for (double q : r.load)
        EXPECT_DOUBLE_EQ(q, 0);
    for (double p : r.pressure)
        EXPECT_TRUE(std::isfinite(p) && p > 0);
    EXPECT_TRUE(std::isfinite(r.averagePressure));
}

TEST(PressureProfile, PumpsOnOneStepActAsOnePump)
{
    State state = test::electronState();
    LineBuilder(state.line)
        .drift(2.0)
        .pump(100)
        .pump(50)
        .drift(2.0)
        .bend(1.0, 5.0)
        .drift(1.0)
        .pump(80)
        .drift(1.0);
    const VacuumResult r = calculate(state);
    ASSERT_EQ(r.stations.size(), 2u);
    EXPECT_DOUBLE_EQ(r.stations[0].speed, 150);
    ASSERT_EQ(r.warnings.size(), 1u);
    EXPECT_EQ(r.warnings[0], "pumps 1 and 2 fall on the same step and act as one pump of  150.000 l/s!");
    ASSERT_EQ(r.pumps.size(), 3u);
    EXPECT_DOUBLE_EQ(r.pumps[0].pressure, r.pumps[1].pressure);
    EXPECT_NEAR(removed(r), totalLoad(r), 1e-12 * totalLoad(r));
    for (double p : r.pressure)
        EXPECT_TRUE(std::isfinite(p) && p > 0);
}

TEST(PressureProfile, PumpsAtBothEndsOfThePeriodActAsOne)
{
    State state = test::electronState();
    LineBuilder(state.line).pump(100).drift(2.0).bend(1.0, 5.0).drift(3.0).pump(60);
    VacuumInput input;
    input.steps = 500;
    const VacuumResult r = calculate(state, input);
    ASSERT_EQ(r.stations.size(), 1u);
    EXPECT_DOUBLE_EQ(r.stations[0].speed, 160);
    ASSERT_EQ(r.warnings.size(), 1u);
    EXPECT_EQ(r.warnings[0], "pumps 2 and 1 fall on the same step and act as one pump of  160.000 l/s!");
    EXPECT_NEAR(removed(r), totalLoad(r), 1e-12 * totalLoad(r));
}

TEST(PressureProfile, RandomLinesGiveFinitePositiveBalancedProfiles)
{
    std::mt19937 random(2024);
    std::uniform_real_distribution<double> length(0.0, 3.0), radius(1.0, 30.0), speed(20, 500);
    std::uniform_int_distribution<int> kind(0, 3), steps(5, 3000);
    for (int trial = 0; trial < 40; ++trial) {
        State state = test::electronState(0.5 + 0.1 * trial, 0.3);
        LineBuilder line(state.line);
        line.pump(speed(random));
        for (int e = 0; e < 15; ++e) {
            switch (kind(random)) {
            case 0:
                line.drift(length(random));
                break;
            case 1:
                line.bend(0.05 + length(random), radius(random));
                break;
            case 2:
                line.pump(speed(random));
                break;
            default:
                line.quad(0.3, 1.0);
            }
        }
        VacuumInput input;
        input.steps = steps(random);
        input.chamberRadius = 0.01 + 0.01 * (trial % 5);
        const VacuumResult r = calculate(state, input);
        for (double p : r.pressure)
            ASSERT_TRUE(std::isfinite(p) && p > 0) << "trial " << trial;
        for (double q : r.load)
            ASSERT_TRUE(std::isfinite(q) && q >= 0) << "trial " << trial;
        EXPECT_NEAR(removed(r), totalLoad(r), 1e-10 * totalLoad(r)) << "trial " << trial;
    }
}

// ---- state and list -------------------------------------------------------------------------------

TEST(PressureProfile, CalculationLeavesTheAverageForTheLifetime)
{
    State state = test::electronState();
    test::pumpedCell(state.line);
    test::FakeMessages messages;
    const auto r = calculateVacuum(state, VacuumInput{}, messages);
    ASSERT_TRUE(r);
    EXPECT_DOUBLE_EQ(state.averagePressure, r->averagePressure);
    // a few nTorr for 200 mA on a small ring with 450 l/s
    EXPECT_GT(state.averagePressure, 1e-11);
    EXPECT_LT(state.averagePressure, 1e-7);
}

TEST(PressureProfile, PumpListShowsEveryPumpAndTheAverage)
{
    State state = test::electronState();
    test::pumpedCell(state.line);
    const VacuumResult r = calculate(state);
    const std::vector<std::string> lines = pumpListLines(r);
    ASSERT_EQ(lines.size(), 7u + 3u + 3u);
    EXPECT_EQ(lines[2], "Vacuum pressure at pumps ");
    EXPECT_EQ(lines[3], std::string(90, '-'));
    EXPECT_EQ(lines[4], "pump#   PS(lt/sec)    P(nTorr)      s(m)");
    char expected[100];
    std::snprintf(expected, sizeof expected, "%5d    %8.3f    %8.3f    %8.3f", 2, 200.0,
                  r.pumps[1].pressure * 1e9, 4.3);
    EXPECT_EQ(lines[8], expected);
    std::snprintf(expected, sizeof expected, "avg.vacuum pressure: %8.3f nTorr", r.averagePressure * 1e9);
    EXPECT_EQ(lines[11], expected);

    clearList(state);
    addList(state, {"kept"});
    pumpPressureList(state, r);
    pumpPressureList(state, r);
    EXPECT_EQ(listLines(state).size(), 1 + 2 * lines.size());
    state.listing.replaceList = true;
    pumpPressureList(state, r);
    EXPECT_EQ(listLines(state), lines);
}

} // namespace
} // namespace kestrune
