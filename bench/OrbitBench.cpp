#include "GeneratedRing.h"
#include "core/Kinematics.h"
#include "core/orbit/OrbitResponse.h"

#include <benchmark/benchmark.h>

namespace kestrune {

namespace {

// The generated cell 50 times (1550 elements), each cell followed by six monitors and four kickers of
// both planes 0.1 m apart: 300 monitors, 200 kickers (400 columns).
State orbitRing()
{
    State state;
    startParticle(state);
    constexpr int kCells = 50;
    for (int c = 0; c < kCells; ++c) {
        benchsupport::appendGeneratedCell(state, kCells);
        for (int k = 0; k < 10; ++k) {
            benchsupport::appendElement(state, code::kDrift, 0.1);
            benchsupport::appendElement(state, k % 5 < 3 ? code::kMonitor : code::kKicker, 0);
        }
    }
    state.line.chainPositions();
    return state;
}

// The closed-form response at a fixed rf frequency, 600 readings by 400 kicker planes.
void BM_ClosedFormOrbitResponse(benchmark::State& bench)
{
    const State state = orbitRing();
    std::string refusal;
    for (auto _ : bench) {
        const std::optional<OrbitResponse> r =
            closedFormOrbitResponse(state, ResponseMomentum::FixedFrequency, refusal);
        if (!r) {
            bench.SkipWithError(refusal.c_str());
            return;
        }
        benchmark::DoNotOptimize(r->matrix.data());
    }
}
BENCHMARK(BM_ClosedFormOrbitResponse)->Unit(benchmark::kMillisecond);

} // namespace

} // namespace kestrune
