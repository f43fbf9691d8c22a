#include "GeneratedRing.h"
#include "SliceFloor.h"
#include "core/Kinematics.h"
#include "core/optics/BetaFunctions.h"
#include "core/ring/Parameter.h"
#include "core/ring/RingGeometry.h"

#include <benchmark/benchmark.h>
#include <cmath>

namespace kestrune {

namespace {

using benchsupport::kCellElements;
using benchsupport::kRingCells;
using benchsupport::YesMessages;

// The full ring in the table as one period of 868 elements.
void makeFullRing(State& state)
{
    benchsupport::makeGeneratedRing(state, kRingCells);
}

// Slices the four passes of one update take: the periodic solution and the trace of the ring pass, the
// periodic solution and the integral pass. The integral pass takes a bend in pieces, each with six
// Gauss-Legendre points and one step of the running values; these gradient bends are one piece each
// (their phase rates times the length stay below 2), so a bend counts 7 there.
double slicesPerUpdate(const State& state)
{
    double slices = 0;
    for (int i = 1; i <= state.line.count; ++i) {
        const LatticeElement& e = state.line.at(i);
        const bool bend = familyOf(e.code) == static_cast<int>(Family::Bend);
        slices += 3 + (bend ? 7 : 1);
    }
    return slices;
}

// ring pass, radiation integrals and equilibrium parameters, as the ring window's update runs them
void BM_RingUpdateFullRing(benchmark::State& bench)
{
    State state;
    YesMessages messages;
    makeFullRing(state);
    radiationIntegrals(state, messages);
    if (state.line.count != kRingCells * kCellElements || !std::isfinite(state.ringParams.i5))
        bench.SkipWithError("the generated ring is not the stable 868-element ring");
    for (auto _ : bench) {
        betaFunctions(state, messages, nullptr);
        radiationIntegrals(state, messages);
        equilibriumParameters(state);
        benchmark::DoNotOptimize(state.ringParams.emittanceX);
    }
    const auto inverse = benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert;
    bench.counters["per_element"] = benchmark::Counter(state.line.count, inverse);
    bench.counters["per_slice"] = benchmark::Counter(slicesPerUpdate(state), inverse);
}
BENCHMARK(BM_RingUpdateFullRing)->Unit(benchmark::kMicrosecond);

using benchsupport::carryPlane;
using benchsupport::Plane;

// The floor: the bare arithmetic of one gradient-bend slice (its matrix, the lattice functions and the
// dispersion carried through it), without the state, the element table, the integrals or any pass.
void BM_BendSliceFloor(benchmark::State& bench)
{
    Plane x{10, 0.3, (1 + 0.09) / 10, 0};
    Plane y{5, -0.2, (1 + 0.04) / 5, 0};
    double eta = 0.5;
    double etaP = 0.01;
    double h = 0.146;
    const double k = -0.3;
    const double ds = 0.1;
    for (auto _ : bench) {
        benchmark::DoNotOptimize(h);
        const double kx = h * h + k; // here negative: cosh, sinh
        const double qx = std::sqrt(-kx);
        const double r11 = std::cosh(qx * ds);
        const double r12 = std::sinh(qx * ds) / qx;
        const double r21 = -kx * r12;
        const double r16 = (1 - r11) * h / kx;
        const double r26 = r12 * h;
        const double qy = std::sqrt(-k);
        const double r33 = std::cos(qy * ds);
        const double r34 = std::sin(qy * ds) / qy;
        carryPlane(r11, r12, r21, r11, x);
        carryPlane(r33, r34, k * r34, r33, y);
        const double eta1 = r11 * eta + r12 * etaP + r16;
        etaP = r21 * eta + r11 * etaP + r26;
        eta = eta1;
        benchmark::DoNotOptimize(x);
        benchmark::DoNotOptimize(y);
        benchmark::DoNotOptimize(eta);
    }
    bench.counters["per_slice"] =
        benchmark::Counter(1, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_BendSliceFloor);

} // namespace

} // namespace kestrune
