#include "GeneratedRing.h"
#include "core/nonlinear/AmplitudeDetuning.h"
#include "core/nonlinear/ChromaticTunes.h"
#include "core/nonlinear/DrivingTerms.h"
#include "core/nonlinear/SextupoleKnobs.h"

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

// One step of a sextupole knob on the same ring: k2 of one of its two families set in the design, then
// everything the knob window draws with the step (driving terms, detuning, the ring's chromaticities and
// the tracked tunes at 11 momenta of +-0.5 % with their cubic fit), the steps sharing the window's cache.
void BM_SextupoleKnobStep(benchmark::State& bench)
{
    State state;
    benchsupport::makeRingOfCells(state, 150);
    for (int i = 1; i <= state.line.count; ++i)
        if (state.line.at(i).code == code::kSextupoleF)
            state.line.at(i).name = "SF";
    const std::vector<SextupoleFamily> families = familiesByName(state.line);
    benchsupport::YesMessages messages;
    ChromaticScan scan;
    scan.points = 11;
    KnobCache cache;
    double k2 = 25;
    for (auto _ : bench) {
        k2 = k2 > 26 ? 24 : k2 + 0.1;
        setFamilyStrength(state, families.back(), k2, messages);
        const KnobOptics optics = knobOptics(state, scan, cache);
        if (!optics.terms || !optics.chromaticityKnown || !optics.tunes) {
            bench.SkipWithError("no periodic solution");
            break;
        }
        benchmark::DoNotOptimize(optics.tunes->residual);
    }
    bench.counters["families"] = static_cast<double>(families.size());
}
BENCHMARK(BM_SextupoleKnobStep)->Unit(benchmark::kMillisecond);

// The momentum scan of that ring (11 momenta of +-0.5 %) on its own, from nothing (the first step of a
// knob, or a new momentum range).
void BM_KnobMomentumScan(benchmark::State& bench)
{
    State state;
    benchsupport::makeRingOfCells(state, 150);
    ChromaticScan scan;
    scan.points = 11;
    for (auto _ : bench) {
        const std::optional<ChromaticTunes> tunes = chromaticTunes(state, scan);
        if (!tunes) {
            bench.SkipWithError("no scan");
            break;
        }
        benchmark::DoNotOptimize(tunes->qx[1]);
    }
}
BENCHMARK(BM_KnobMomentumScan)->Unit(benchmark::kMillisecond);

} // namespace

} // namespace kestrune
