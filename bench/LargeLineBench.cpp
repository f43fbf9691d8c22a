#include "GeneratedRing.h"
#include "core/Drawing.h"
#include "core/DrawingColumns.h"
#include "core/chromaticity/Chromaticity.h"
#include "core/io/LatticeFile.h"
#include "core/optics/BetaFunctions.h"
#include "core/ring/Parameter.h"

#include <benchmark/benchmark.h>
#include <cmath>
#include <filesystem>
#include <memory>

namespace kestrune {

namespace {

using benchsupport::YesMessages;

// The generated ring of 100 006 elements, its shapes drawn, made once.
const State& largeRing()
{
    static const std::unique_ptr<State> ring = [] {
        auto state = std::make_unique<State>();
        benchsupport::makeLargeRing(*state);
        BeamLine& line = state->line;
        for (int i = 1; i <= line.count; ++i) {
            applyKindExtent(line.shape(i), kindOf(line.at(i).code), state->drawBaseline, state->drawScale);
            placeShape(line, i);
            line.shape(i).title = std::to_string(i);
        }
        return state;
    }();
    return *ring;
}

void countElements(benchmark::State& bench, const State& state)
{
    bench.counters["elements"] = state.line.count;
}

// the periodic solution and the lattice functions at the end of every element
void BM_LargeRingPass(benchmark::State& bench)
{
    State state = largeRing();
    YesMessages messages;
    for (auto _ : bench) {
        if (!betaFunctions(state, messages, nullptr))
            bench.SkipWithError("the large ring has no periodic solution");
        benchmark::DoNotOptimize(state.lf.phiX);
    }
    countElements(bench, state);
}
BENCHMARK(BM_LargeRingPass)->Unit(benchmark::kMillisecond);

// the ring pass, the radiation integrals and the chromaticity, as the ring and chromaticity windows ask
void BM_LargeRingIntegralsAndChromaticity(benchmark::State& bench)
{
    State state = largeRing();
    YesMessages messages;
    for (auto _ : bench) {
        betaFunctions(state, messages, nullptr);
        radiationIntegrals(state, messages);
        const std::optional<ChromaticityCorrection> c = latticeChromaticity(state, messages);
        if (!c || !std::isfinite(state.ringParams.i5))
            bench.SkipWithError("the large ring has no integrals or chromaticity");
        benchmark::DoNotOptimize(c);
    }
    countElements(bench, state);
}
BENCHMARK(BM_LargeRingIntegralsAndChromaticity)->Unit(benchmark::kMillisecond);

// The same with a quadrupole of the ring changed before every round: the ring pass the three share is made
// again each time, as after an edit in the editor.
void BM_LargeRingAfterAnEdit(benchmark::State& bench)
{
    State state = largeRing();
    YesMessages messages;
    LatticeElement& quadrupole = state.line.at(2);
    const double k = quadrupole.k;
    int round = 0;
    for (auto _ : bench) {
        quadrupole.k = k * (1 + 1e-9 * (++round % 2));
        betaFunctions(state, messages, nullptr);
        if (bench.range(0) == 1) {
            radiationIntegrals(state, messages);
            benchmark::DoNotOptimize(latticeChromaticity(state, messages));
        }
        benchmark::DoNotOptimize(state.lf.phiX);
    }
    countElements(bench, state);
}
BENCHMARK(BM_LargeRingAfterAnEdit)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// The drawing of the whole line in 1100 pixel columns (the window's redraw of it), with its index.
void BM_LargeRingDrawing(benchmark::State& bench)
{
    const State& state = largeRing();
    const double length = state.line.length;
    const PixelMap map{1100 / length, 60, -2.0, 500};
    ShapeIndex index;
    std::size_t drawn = 0;
    for (auto _ : bench) {
        index.rebuild(state.line);
        drawn = drawnShapes(state.line, index, map, 0, length, 3).size();
        benchmark::DoNotOptimize(drawn);
    }
    bench.counters["drawn"] = static_cast<double>(drawn);
    countElements(bench, state);
}
BENCHMARK(BM_LargeRingDrawing)->Unit(benchmark::kMillisecond);

void BM_LargeLatticeFileWrite(benchmark::State& bench)
{
    State state = largeRing();
    YesMessages messages;
    const std::string file = (std::filesystem::temp_directory_path() / "kestrune-large-write.lat").string();
    for (auto _ : bench)
        if (!writeLatticeFile(state, messages, file))
            bench.SkipWithError("the lattice file cannot be written");
    std::filesystem::remove(file);
    countElements(bench, state);
}
BENCHMARK(BM_LargeLatticeFileWrite)->Unit(benchmark::kMillisecond);

void BM_LargeLatticeFileRead(benchmark::State& bench)
{
    State written = largeRing();
    YesMessages messages;
    const std::string file = (std::filesystem::temp_directory_path() / "kestrune-large-read.lat").string();
    writeLatticeFile(written, messages, file);
    for (auto _ : bench) {
        bench.PauseTiming();
        State state;
        bench.ResumeTiming();
        if (!openLattice(state, messages, file) || state.line.count != written.line.count)
            bench.SkipWithError("the lattice file cannot be read back");
    }
    std::filesystem::remove(file);
    countElements(bench, written);
}
BENCHMARK(BM_LargeLatticeFileRead)->Unit(benchmark::kMillisecond);

} // namespace

} // namespace kestrune
