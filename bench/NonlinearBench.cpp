#include "GeneratedRing.h"
#include "core/nonlinear/AmplitudeDetuning.h"
#include "core/nonlinear/DrivingTerms.h"

#include <benchmark/benchmark.h>

namespace kestrune {

namespace {

// A ring of 150 generated cells in one period (4650 elements, 600 thick sextupoles): the driving terms
// with their chromatic terms and build-up, and the amplitude detuning from the closed forms.
void BM_DrivingTermsAndDetuning(benchmark::State& bench)
{
    State state;
    benchsupport::makeRingOfCells(state, 150);
    double sum = 0;
    for (auto _ : bench) {
        const std::optional<DrivingTerms> h = drivingTerms(state);
        const std::optional<DetuningCoefficients> d = h ? detuning(state, *h) : std::nullopt;
        if (!d) {
            bench.SkipWithError("no periodic solution");
            break;
        }
        sum = std::abs(h->ring[0]) + d->xx;
        benchmark::DoNotOptimize(sum);
    }
    bench.counters["elements"] = state.line.count;
}
BENCHMARK(BM_DrivingTermsAndDetuning)->Unit(benchmark::kMillisecond);

} // namespace

} // namespace kestrune
