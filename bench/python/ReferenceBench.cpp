// The core calls that Design.twiss() and Design.track() of the Python module make, timed in C++ on the
// generated ring read back from a lattice file: the reference of module_bench.py, which times the same
// calls from Python on the same file.

#include "Design.h"
#include "GeneratedRing.h"
#include "core/io/LatticeFile.h"

#include <benchmark/benchmark.h>
#include <cstdlib>
#include <iostream>

namespace kestrune::python {

namespace {

Design g_ring;

/// 1000 particles spread over 10 mm by 5 mm and +-1 %, as the tracking benchmarks start them.
std::vector<PhaseVector> spread()
{
    std::vector<PhaseVector> start;
    for (int i = 0; i < 1000; ++i)
        start.push_back({1e-5 * (i % 100), 0, 5e-6 * (i / 100), 0, 2e-5 * (i % 101 - 50), 0});
    return start;
}

void BM_ModuleTwissCore(benchmark::State& bench)
{
    for (auto _ : bench) {
        const TwissTable table = twiss(g_ring, true, false);
        benchmark::DoNotOptimize(table.q1);
    }
}
BENCHMARK(BM_ModuleTwissCore)->Unit(benchmark::kMicrosecond);

void BM_ModuleTrackCore(benchmark::State& bench)
{
    for (auto _ : bench) {
        std::vector<PhaseVector> particles = spread();
        const TrackResult result = track(g_ring, particles, 100, "symplectic", std::nullopt, 1, {});
        benchmark::DoNotOptimize(result.turn.data());
    }
}
BENCHMARK(BM_ModuleTrackCore)->Unit(benchmark::kMillisecond);

} // namespace

} // namespace kestrune::python

int main(int argc, char** argv)
{
    // the ring is written where the Python side reads it: KESTRUNE_BENCH_RING, else the working folder
    const char* path = std::getenv("KESTRUNE_BENCH_RING");
    const std::string file = path ? path : "generated-ring.lat";
    kestrune::State state;
    kestrune::benchsupport::makeGeneratedRing(state, kestrune::benchsupport::kRingCells);
    kestrune::QuietMessages quiet;
    if (!kestrune::writeLatticeFile(state, quiet, file)) {
        std::cerr << "cannot write " << file << '\n';
        return 1;
    }
    kestrune::python::g_ring = kestrune::python::openDesign(file);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
