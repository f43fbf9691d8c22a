#include "GeneratedRing.h"
#include "core/aperture/DynamicAperture.h"
#include "core/aperture/MomentumAcceptance.h"
#include "core/nonlinear/FrequencyMap.h"
#include "core/ring/RingGeometry.h"

#include <benchmark/benchmark.h>
#include <optional>

namespace kestrune {

namespace {

// The generated ring (a cell of 31 elements, 28 superperiods: 868 elements per turn) closed, with an rf
// system of 2 MV at 500 MHz.
ApertureRing generatedRing()
{
    State state;
    benchsupport::makeGeneratedRing(state, 1);
    state.rf.voltage = 2e6;
    state.rf.frequency = 500e6;
    benchsupport::YesMessages messages;
    ringGeometry(state, messages, {"28", "500"});
    return apertureRing(state, messages).value_or(ApertureRing{});
}

// 21 rays from 0 to pi, 1000 turns, to 0.1 mm, on one thread and on two (wall clock); the radii are the
// same.
void BM_DynamicAperture(benchmark::State& bench)
{
    const ApertureRing ring = generatedRing();
    if (ring.lattice.cell.empty())
        bench.SkipWithError("ring not closed");
    DynamicApertureSettings settings;
    ScanControl control;
    control.threads = static_cast<int>(bench.range(0));
    double area = 0;
    for (auto _ : bench) {
        const DynamicAperture da = dynamicAperture(ring, settings, control);
        area = apertureArea(da.angles, da.radius);
        benchmark::DoNotOptimize(area);
    }
    bench.counters["area_mm2"] = area * 1e6;
}
BENCHMARK(BM_DynamicAperture)->Arg(1)->Arg(2)->UseRealTime()->Unit(benchmark::kMillisecond);

// The momentum acceptance at the start of every element of one period, 512 turns, to 0.01 %.
void BM_MomentumAcceptance(benchmark::State& bench)
{
    const ApertureRing ring = generatedRing();
    if (ring.lattice.cell.empty() || !ring.lattice.rf.on)
        bench.SkipWithError("ring without rf");
    MomentumAcceptanceSettings settings;
    ScanControl control;
    control.threads = static_cast<int>(bench.range(0));
    double smallest = 0;
    for (auto _ : bench) {
        const MomentumAcceptance ma = momentumAcceptance(ring, settings, control);
        smallest = ma.deltaMinus.empty() ? 0 : ma.deltaMinus[0];
        benchmark::DoNotOptimize(smallest);
    }
    bench.counters["points"] = ring.cellElements();
}
BENCHMARK(BM_MomentumAcceptance)->Arg(1)->Arg(2)->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace

// A frequency map of N x N amplitudes out to 10 mm x 5 mm, 2 x 512 turns, on one thread, of the
// generated ring (868 elements per turn): 30 x 30, and the full map of 100 x 100, on a ring seven times
// the 121-element cell the aim of a minute is set for. The counter per_particle_element_turn (ns) gives
// any other map: 100 x 100 points of a 121-element ring take 1e4 x 1024 x 121 times it.
void BM_FrequencyMap(benchmark::State& bench)
{
    const ApertureRing ring = generatedRing();
    if (ring.lattice.cell.empty())
        bench.SkipWithError("ring not closed");
    FrequencyMapSettings settings;
    settings.nx = settings.ny = static_cast<int>(bench.range(0));
    ScanControl control;
    control.threads = 1;
    int lost = 0;
    for (auto _ : bench) {
        const FrequencyMap map = frequencyMap(ring, settings, control);
        lost = 0;
        for (const FrequencyMapPoint& p : map.points)
            lost += p.lost ? 1 : 0;
        benchmark::DoNotOptimize(lost);
    }
    const double work = static_cast<double>(settings.nx) * settings.ny * 2 * settings.turns *
                        ring.lattice.ringElements() * static_cast<double>(bench.iterations());
    bench.counters["per_particle_element_turn"] =
        benchmark::Counter(work, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    bench.counters["lost"] = lost;
}
BENCHMARK(BM_FrequencyMap)->Arg(30)->Arg(100)->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace kestrune
