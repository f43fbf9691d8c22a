#include "GeneratedRing.h"
#include "core/Kinematics.h"
#include "core/chromaticity/Tracking.h"
#include "core/optics/BetaFunctions.h"

#include <benchmark/benchmark.h>

namespace kestrune {

namespace {

using benchsupport::YesMessages;

constexpr int kCells = benchsupport::kRingCells;

// The generated ring as its cell of 31 elements and 28 superperiods: 868 elements per turn.
void makeRing(State& state)
{
    benchsupport::makeGeneratedRing(state, 1);
}

// a counter that Google Benchmark's inverted rate turns into nanoseconds per element and turn
benchmark::Counter nanosecondsPer(double elementTurns)
{
    return benchmark::Counter(elementTurns * 1e-9,
                              benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// one turn of one particle with the maps of the run, as the tracking loop does it every turn
void BM_TrackingTurn(benchmark::State& bench)
{
    State state;
    makeRing(state);
    YesMessages messages;
    if (!betaFunctions(state, messages, nullptr))
        bench.SkipWithError("ring without periodic solution");
    TrackingRequest request;
    request.start = {1.0, 0.05, 0.5, 0.0};
    const TrackingMaps maps = buildTrackingMaps(state.line, 0);
    const LossLimits limits = lossLimits(request);
    PhasePoint p = request.start;
    for (auto _ : bench) {
        if (trackTurn(maps, limits, p) != 0)
            bench.SkipWithError("particle lost");
        benchmark::DoNotOptimize(p);
    }
    bench.counters["elements"] = static_cast<double>(maps.cell.size()) * maps.superPeriods;
    bench.counters["per_element_turn"] =
        nanosecondsPer(static_cast<double>(maps.cell.size()) * maps.superPeriods);
}
BENCHMARK(BM_TrackingTurn)->Unit(benchmark::kMicrosecond);

// a whole run of 1000 turns as the window starts it: maps built once, one point kept per turn
void BM_TrackingRun1000Turns(benchmark::State& bench)
{
    State state;
    makeRing(state);
    TrackingRequest request;
    request.start = {1.0, 0.05, 0.5, 0.0};
    request.turns = 1000;
    request.offMomentum = true;
    request.delta = 0.001;
    std::vector<PhasePoint> points;
    points.reserve(1000);
    for (auto _ : bench) {
        points.clear();
        TrackingRun run(state.line, request);
        run.advance(request.turns, points);
        if (run.lost())
            bench.SkipWithError("particle lost");
        benchmark::DoNotOptimize(points.data());
    }
    bench.counters["per_element_turn"] = nanosecondsPer(1000.0 * state.line.count * kCells);
}
BENCHMARK(BM_TrackingRun1000Turns)->Unit(benchmark::kMillisecond);

// the same turn with the map of every element of the full ring computed anew on the way, as a tracking
// loop without the cache would do: the ring written out as 868 records
void BM_TrackingTurnMapsRecomputed(benchmark::State& bench)
{
    State state;
    makeRing(state);
    const int n = state.line.count;
    for (int copy = 1; copy < kCells; ++copy)
        for (int j = 1; j <= n; ++j)
            state.line.at(copy * n + j) = state.line.at(j);
    state.line.count = n * kCells;
    state.line.superPeriods = 1;
    TrackingRequest request;
    request.start = {1.0, 0.05, 0.5, 0.0};
    const LossLimits limits = lossLimits(request);
    PhasePoint p = request.start;
    for (auto _ : bench) {
        const TrackingMaps maps = buildTrackingMaps(state.line, 0);
        if (trackTurn(maps, limits, p) != 0)
            bench.SkipWithError("particle lost");
        benchmark::DoNotOptimize(p);
    }
    bench.counters["per_element_turn"] = nanosecondsPer(static_cast<double>(state.line.count));
}
BENCHMARK(BM_TrackingTurnMapsRecomputed)->Unit(benchmark::kMicrosecond);

} // namespace

} // namespace kestrune
