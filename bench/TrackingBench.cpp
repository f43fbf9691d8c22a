#include "GeneratedRing.h"
#include "core/Kinematics.h"
#include "core/optics/BetaFunctions.h"
#include "core/tracking/ElementKernels.h"
#include "core/tracking/LinearMapTracking.h"
#include "core/tracking/ParticleTracker.h"

#include <benchmark/benchmark.h>
#include <cmath>

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

// The generated ring in the symplectic model with a 2 MV cavity at harmonic 500.
SymplecticLattice symplecticRing()
{
    State state;
    makeRing(state);
    QuietMessages messages;
    RfCavity rf;
    rf.on = true;
    rf.voltage = 2e6;
    rf.harmonic = 500;
    rf.phase = 2.8;
    rf.energyLoss = rf.voltage * std::sin(rf.phase);
    return buildSymplecticLattice(state, messages, rf);
}

// One turn per iteration, as the window tracks a particle.
void turnByTurn(benchmark::State& bench, SymplecticRun& run)
{
    std::vector<PhaseVector> points;
    points.reserve(1);
    for (auto _ : bench) {
        points.clear();
        if (run.advance(1, points) != 1)
            bench.SkipWithError("particle lost");
        benchmark::DoNotOptimize(points.data());
    }
    const double elements = static_cast<double>(run.lattice().ringElements());
    bench.counters["elements"] = elements;
    bench.counters["per_element_turn"] = nanosecondsPer(elements);
}

// The symplectic model: one particle, one turn at a time as the window tracks it, rf on.
void BM_SymplecticTurn(benchmark::State& bench)
{
    SymplecticRun run(symplecticRing(), {1e-3, 5e-5, 5e-4, 0, 1e-3, 0}, 1 << 30, Aperture{});
    turnByTurn(bench, run);
}
BENCHMARK(BM_SymplecticTurn)->Unit(benchmark::kMicrosecond);

// The same on the strong ring: gradient bends of 0.9 rad and strong quadrupoles, rf off.
void BM_SymplecticTurnStrongRing(benchmark::State& bench)
{
    State state;
    benchsupport::makeStrongRing(state);
    QuietMessages messages;
    SymplecticRun run(buildSymplecticLattice(state, messages, {}), {1e-3, 5e-5, 5e-4, 0, 1e-3, 0}, 1 << 30,
                      Aperture{});
    turnByTurn(bench, run);
}
BENCHMARK(BM_SymplecticTurnStrongRing)->Unit(benchmark::kMicrosecond);

// 1000 particles spread over 10 mm by 5 mm and +-1 %, 20 turns on range(0) threads, rf on, with the
// kernels of instruction set range(1) of kernelInstructionSets() (-1: the default, the widest)
void BM_Symplectic1000Particles(benchmark::State& bench)
{
    const std::vector<std::string> sets = kernelInstructionSets();
    const auto set = bench.range(1);
    if (set >= static_cast<long>(sets.size())) {
        bench.SkipWithError("instruction set not on this processor");
        return;
    }
    const std::string widest = kernelInstructionSet();
    if (set >= 0) {
        useKernelInstructionSet(sets[static_cast<std::size_t>(set)]);
        bench.SetLabel(sets[static_cast<std::size_t>(set)]);
    }
    const SymplecticLattice lattice = symplecticRing();
    std::vector<PhaseVector> start;
    for (int i = 0; i < 1000; ++i)
        start.push_back({1e-5 * (i % 100), 0, 5e-6 * (i / 100), 0, 2e-5 * (i % 101 - 50), 0});
    TrackingOptions options;
    options.turns = 20;
    options.threads = static_cast<int>(bench.range(0));
    for (auto _ : bench) {
        const TrackingOutcome outcome = trackParticles(lattice, start, options);
        benchmark::DoNotOptimize(outcome.particles.data());
    }
    bench.counters["per_particle_element_turn"] =
        nanosecondsPer(1000.0 * options.turns * lattice.ringElements());
    useKernelInstructionSet(widest);
}
BENCHMARK(BM_Symplectic1000Particles)->Args({1, -1})->Unit(benchmark::kMillisecond);
// two threads on the wall clock: the results are those of one thread
BENCHMARK(BM_Symplectic1000Particles)->Args({2, -1})->UseRealTime()->Unit(benchmark::kMillisecond);
// every instruction set the kernels are built for, on one thread
BENCHMARK(BM_Symplectic1000Particles)
    ->Args({1, 0})
    ->Args({1, 1})
    ->Args({1, 2})
    ->Unit(benchmark::kMillisecond);

} // namespace

} // namespace kestrune
