#include "GeneratedRing.h"
#include "core/Kinematics.h"
#include "core/orbit/ErrorSeeds.h"
#include "core/orbit/OrbitResponse.h"

#include <benchmark/benchmark.h>

namespace kestrune {

namespace {

// The generated cell 50 times (1550 elements), each cell followed by six monitors and four kickers of
// both planes 0.1 m apart: 300 monitors, 200 kickers (400 columns).
State orbitRing(int kCells = 50)
{
    State state;
    startParticle(state);
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

// An error study of 100 seeds on the generated ring of 78 cells (3978 elements, 468 monitors, 312
// kickers): Gaussian quadrupole offsets of 10 um, the closed orbit, three passes of SVD correction with
// the design's tracked response (found once for the study) and the optics about the corrected orbit.
void BM_ErrorSeed(benchmark::State& bench)
{
    const State state = orbitRing(78);
    ErrorSet set;
    ErrorRule rule;
    rule.families = {static_cast<int>(Family::Quadrupole)};
    rule.distribution = ErrorDistribution::Gaussian;
    rule.value = 1e-5;
    set.rules.push_back(rule);
    for (auto _ : bench) {
        const std::vector<SeedOutcome> seeds = runErrorSeeds(state, set, 1, 100, OrbitCorrectionSettings{});
        if (!seeds.back().computed) {
            bench.SkipWithError(seeds.back().refusal.c_str());
            return;
        }
    }
    bench.counters["elements"] = state.line.count;
    bench.counters["seeds"] = 100;
}
BENCHMARK(BM_ErrorSeed)->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace

} // namespace kestrune
