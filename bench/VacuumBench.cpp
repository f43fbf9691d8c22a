#include "core/Kinematics.h"
#include "core/vacuum/PressureProfile.h"

#include <benchmark/benchmark.h>
#include <stdexcept>

namespace kestrune {

namespace {

class ThrowingMessages : public Messages
{
public:
    void error(const std::string& text) override { throw std::runtime_error(text); }
    bool confirm(const std::string&, std::optional<ScreenPoint>) override { return true; }
    void askParticle() override {}
};

LatticeElement& append(State& state, int elementCode, double length)
{
    LatticeElement& e = state.line.at(++state.line.count);
    e = LatticeElement{};
    e.code = elementCode;
    e.length = length;
    e.s = state.line.length;
    state.line.length += length;
    return e;
}

// A period of ten double-bend cells (20 bends of 1.5 m, radius 5 m) with a pump after every bend:
// 20 pumps of 50..240 l/s.
State pumpedPeriod()
{
    State state;
    startParticle(state);
    updateKinematics(state.beam, EnergyKind::Total, 3e9);
    state.beamCurrent = 0.3;
    for (int cell = 0; cell < 10; ++cell) {
        append(state, code::kDrift, 2.0);
        append(state, code::kQuadrupole, 0.3).k = 1.5;
        append(state, code::kDrift, 0.4);
        for (int b = 0; b < 2; ++b) {
            append(state, code::kSectorBend, 1.5).curvature = 0.2;
            append(state, code::kPump, 0).pumpSpeed = 50 + 10 * (2 * cell + b);
            append(state, code::kDrift, 1.1);
            append(state, code::kQuadrupole, 0.3).k = -1.5;
            append(state, code::kDrift, 0.6);
        }
    }
    return state;
}

void pressureProfile(benchmark::State& bench)
{
    const State state = pumpedPeriod();
    VacuumInput input;
    input.steps = static_cast<int>(bench.range(0));
    input.iterations = 100;
    ThrowingMessages messages;
    for (auto _ : bench) {
        std::optional<VacuumResult> result = pressureDistribution(state, input, messages);
        benchmark::DoNotOptimize(result);
    }
}

} // namespace

// M = 10000 steps, 100 iterations, 20 pumps: target below 5 ms
BENCHMARK(pressureProfile)->Arg(2000)->Arg(10000)->Unit(benchmark::kMillisecond);

} // namespace kestrune
