#include "GeneratedRing.h"
#include "SliceFloor.h"
#include "core/Kinematics.h"
#include "core/optics/BetaFunctions.h"
#include "core/optics/TransferMatrix.h"

#include <benchmark/benchmark.h>
#include <cmath>

namespace kestrune {

namespace {

using benchsupport::YesMessages;

constexpr int kCells = 100; // ten elements each: a 1000-element ring

LatticeElement& append(State& state, int elementCode, double length)
{
    ++state.line.count;
    LatticeElement& e = state.line.at(state.line.count);
    e = LatticeElement{};
    e.code = elementCode;
    e.length = length;
    return e;
}

// FODO cells with a sector and a rectangular bend each, sextupoles between; closes to 2 pi.
void makeRing(State& state)
{
    startParticle(state);
    const double bendLength = 2.0;
    const double h = kTwoPi / (2 * kCells) / bendLength;
    for (int c = 0; c < kCells; ++c) {
        append(state, code::kQuadrupole, 0.3).k = 1.2;
        append(state, code::kDrift, 0.5);
        append(state, code::kSectorBend, bendLength).curvature = h;
        append(state, code::kDrift, 0.3);
        append(state, code::kSextupoleF, 0.2).m = 10;
        append(state, code::kQuadrupole, 0.3).k = -1.2;
        append(state, code::kDrift, 0.5);
        LatticeElement& rect = append(state, code::kRectangularBend, bendLength);
        rect.curvature = h;
        rect.ain = h * bendLength / 2;
        rect.aout = h * bendLength / 2;
        rect.gap = 0.04;
        append(state, code::kDrift, 0.3);
        append(state, code::kSextupoleD, 0.2).m = -10;
    }
    state.line.chainPositions();
}

// the line pass with 20 short steps in every element (all are longer than 20 mm), from the periodic
// solution, into no sink
void timeLinePass(benchmark::State& bench, State& state)
{
    YesMessages messages;
    state.run.showBetaFunctions = true;
    state.run.stepAtElementEnds = false;
    state.run.maxStep = 0.001;
    state.run.maxSteps = 20;
    if (!periodicSolution(state, messages))
        bench.SkipWithError("line without periodic solution");
    const double slices = 20.0 * state.line.count;
    for (auto _ : bench) {
        linePass(state, messages, nullptr, nullptr);
        benchmark::DoNotOptimize(state.lf.phiX);
    }
    bench.counters["per_slice"] = benchmark::Counter(slices, benchmark::Counter::kIsIterationInvariantRate |
                                                                 benchmark::Counter::kInvert);
}

void BM_LinePassShortSteps(benchmark::State& bench)
{
    State state;
    makeRing(state);
    timeLinePass(bench, state);
}
BENCHMARK(BM_LinePassShortSteps)->Unit(benchmark::kMicrosecond);

// the same pass over 1000 quadrupoles only: slice for slice comparable with the floor below
void BM_LinePassQuadrupoles(benchmark::State& bench)
{
    State state;
    startParticle(state);
    for (int i = 0; i < 10 * kCells; ++i)
        append(state, code::kQuadrupole, 0.3).k = i % 2 == 0 ? 1.2 : -1.2;
    state.line.chainPositions();
    timeLinePass(bench, state);
}
BENCHMARK(BM_LinePassQuadrupoles)->Unit(benchmark::kMicrosecond);

// periodic solution, then the trace of every element, one step per element
void BM_RingPass(benchmark::State& bench)
{
    State state;
    YesMessages messages;
    makeRing(state);
    state.run.stepAtElementEnds = true;
    const double elements = state.line.count;
    for (auto _ : bench) {
        if (!ringStart(state, messages, nullptr))
            bench.SkipWithError("ring without periodic solution");
        for (int i = 1; i <= state.line.count; ++i)
            ringTrace(state, messages, i, nullptr);
        benchmark::DoNotOptimize(state.lf.phiX);
    }
    bench.counters["per_element"] = benchmark::Counter(
        elements, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_RingPass)->Unit(benchmark::kMicrosecond);

using benchsupport::carryPlane;
using benchsupport::Plane;

// The floor: the bare arithmetic of one focusing quadrupole slice and its lattice-function update,
// without the state, the element table or the matrix storage.
void BM_QuadSliceFloor(benchmark::State& bench)
{
    Plane x{10, 0.3, (1 + 0.09) / 10, 0};
    Plane y{5, -0.2, (1 + 0.04) / 5, 0};
    double eta = 0.5;
    double etaP = 0.01;
    double k = 1.2;
    const double ds = 0.015;
    for (auto _ : bench) {
        benchmark::DoNotOptimize(k);
        const double sq = std::sqrt(std::fabs(k));
        const double psi = sq * ds;
        const double c = std::cos(psi);
        const double s = std::sin(psi) / sq;
        const double ch = std::cosh(psi);
        const double sh = std::sinh(psi) / sq;
        const bool focusing = k > 0;
        const double r11 = focusing ? c : ch;
        const double r12 = focusing ? s : sh;
        const double r33 = focusing ? ch : c;
        const double r34 = focusing ? sh : s;
        carryPlane(r11, r12, -k * r12, r11, x);
        carryPlane(r33, r34, k * r34, r33, y);
        const double eta1 = r11 * eta + r12 * etaP;
        etaP = -k * r12 * eta + r11 * etaP;
        eta = eta1;
        // a slice of each sign keeps the functions bounded
        k = -k;
        benchmark::DoNotOptimize(x);
        benchmark::DoNotOptimize(y);
        benchmark::DoNotOptimize(eta);
    }
    bench.counters["per_slice"] =
        benchmark::Counter(1, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_QuadSliceFloor);

} // namespace

} // namespace kestrune
