#include "GeneratedRing.h"
#include "core/Kinematics.h"
#include "core/coupling/CoupledOptics.h"

#include <benchmark/benchmark.h>

namespace kestrune {

namespace {

// The generated cell 129 times (3999 elements), its middle quadrupoles rolled by 10 mrad.
State coupledRingOf4000()
{
    State state;
    startParticle(state);
    state.ringClosed = true;
    constexpr int kCells = 129;
    for (int c = 0; c < kCells; ++c)
        benchsupport::appendGeneratedCell(state, kCells);
    for (int i = 1; i <= state.line.count; ++i)
        if (state.line.at(i).code == code::kQuadrupole && state.line.at(i).k == 1.0)
            state.line.at(i).tilt = 0.01;
    state.line.chainPositions();
    return state;
}

// the periodic coupled solution with the Edwards-Teng and Mais-Ripken functions at every element
void BM_CoupledRingPass(benchmark::State& bench)
{
    const State state = coupledRingOf4000();
    for (auto _ : bench) {
        const CoupledRing ring = coupledRing(state);
        if (!ring.computed)
            bench.SkipWithError(ring.refusal.c_str());
        benchmark::DoNotOptimize(ring.tune1);
    }
    bench.counters["elements"] = state.line.count;
}
BENCHMARK(BM_CoupledRingPass)->Unit(benchmark::kMillisecond);

} // namespace

} // namespace kestrune
