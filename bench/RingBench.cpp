#include "core/Kinematics.h"
#include "optics/BetaFunctions.h"
#include "ring/Parameter.h"
#include "ring/RingGeometry.h"

#include <benchmark/benchmark.h>
#include <cmath>

namespace kestrune {

namespace {

class QuietMessages : public Messages
{
public:
    void error(const std::string&) override {}
    bool confirm(const std::string&, std::optional<ScreenPoint>) override { return true; }
    void askParticle() override {}
};

constexpr int kRingCells = 28;
constexpr int kCellElements = 31;
// gradients: bends 1/m^2, the three quadrupole families; tunes about 11.5 and 6.2
constexpr double kBendK = -0.05, kQ1 = 1.2, kQ2 = -1.8, kQ3 = 1.0;

LatticeElement& add(State& state, int elementCode, double length, double k = 0)
{
    ++state.line.count;
    LatticeElement& e = state.line.at(state.line.count);
    e = LatticeElement{};
    e.code = elementCode;
    e.length = length;
    e.k = k;
    return e;
}

// One cell of 31 elements: three 1.2 m gradient bends between quadrupoles, sextupoles, drifts and
// pumps, bending 360/28 degrees.
void addCell(State& state)
{
    const double bendLength = 1.2;
    const double h = kTwoPi / kRingCells / 3 / bendLength;
    const auto bend = [&] { add(state, code::kSectorBend, bendLength, kBendK).curvature = h; };
    add(state, code::kDrift, 2.0);
    add(state, code::kQuadrupole, 0.25, kQ1);
    add(state, code::kDrift, 0.2);
    add(state, code::kQuadrupole, 0.25, kQ2);
    add(state, code::kDrift, 0.3);
    add(state, code::kPump, 0);
    bend();
    add(state, code::kDrift, 0.2);
    add(state, code::kSextupoleD, 0.15).m = -20;
    add(state, code::kDrift, 0.15);
    add(state, code::kQuadrupole, 0.3, kQ3);
    add(state, code::kDrift, 0.15);
    add(state, code::kSextupoleF, 0.15).m = 25;
    add(state, code::kDrift, 0.2);
    bend();
    add(state, code::kPump, 0);
    add(state, code::kDrift, 0.2);
    add(state, code::kSextupoleF, 0.15).m = 25;
    add(state, code::kDrift, 0.15);
    add(state, code::kQuadrupole, 0.3, kQ3);
    add(state, code::kDrift, 0.15);
    add(state, code::kSextupoleD, 0.15).m = -20;
    add(state, code::kDrift, 0.2);
    bend();
    add(state, code::kPump, 0);
    add(state, code::kDrift, 0.3);
    add(state, code::kQuadrupole, 0.25, kQ2);
    add(state, code::kDrift, 0.2);
    add(state, code::kQuadrupole, 0.25, kQ1);
    add(state, code::kDrift, 1.0);
    add(state, code::kDrift, 1.0);
}

// The full ring in the table as one period of 868 elements.
void makeFullRing(State& state)
{
    startParticle(state);
    updateKinematics(state.beam, EnergyKind::Momentum, 3e9);
    state.beam.referenceMomentum = 3e9;
    for (int c = 0; c < kRingCells; ++c)
        addCell(state);
    state.line.chainPositions();
    state.line.superPeriods = 1;
    state.run.stepAtElementEnds = true;
    state.ringParams.circumference = lSup(state.line);
    state.ringParams.coupling = 0.01;
}

// Slices the four passes of one update take: the periodic solution and the trace of the ring pass, the
// periodic solution and the integral pass with its bend slices trunc(10 L) + 1.
double slicesPerUpdate(const State& state)
{
    double slices = 0;
    for (int i = 1; i <= state.line.count; ++i) {
        const LatticeElement& e = state.line.at(i);
        const bool bend = familyOf(e.code) == static_cast<int>(Family::Bend);
        slices += 3 + (bend ? static_cast<int>(10 * e.length) + 1 : 1);
    }
    return slices;
}

// ring pass, radiation integrals and equilibrium parameters, as the ring window's update runs them
void BM_RingUpdateFullRing(benchmark::State& bench)
{
    State state;
    QuietMessages messages;
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

struct Plane
{
    double beta, alpha, gamma, phi;
};

inline void carryPlane(double r11, double r12, double r21, double r22, Plane& p)
{
    const double beta1 = r11 * r11 * p.beta - 2 * r11 * r12 * p.alpha + r12 * r12 * p.gamma;
    const double alpha1 = -r11 * r21 * p.beta + (r11 * r22 + r12 * r21) * p.alpha - r12 * r22 * p.gamma;
    const double root = std::sqrt(beta1 * p.beta);
    const double sinMu = r12 / root;
    const double cosMu = p.beta / root * r11 - p.alpha * sinMu;
    double dphi = std::asin(sinMu) / kTwoPi;
    if (cosMu < 0)
        dphi = 0.5 - dphi;
    p.beta = beta1;
    p.alpha = alpha1;
    p.gamma = (1 + alpha1 * alpha1) / beta1;
    p.phi += dphi;
}

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
