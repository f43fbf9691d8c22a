// Small inputs that once ran for minutes: each must be read or refused in well under a second.
#include "core/Kinematics.h"
#include "core/io/madx/MadxReader.h"
#include "core/optics/BetaFunctions.h"
#include "core/vacuum/PressureProfile.h"

#include <benchmark/benchmark.h>
#include <string>

namespace kestrune {

namespace {

class KeptMessages : public Messages
{
public:
    void error(const std::string& text) override { last = text; }
    bool confirm(const std::string&, std::optional<ScreenPoint>) override { return false; }
    void askParticle() override {}
    std::string last;
};

// Imports text once per iteration; the label says whether it was read or refused.
void importEach(benchmark::State& bench, const std::string& text)
{
    State start;
    startParticle(start);
    bool read = false;
    for (auto _ : bench) {
        State state = start;
        KeptMessages messages;
        read = readMadxText(state, messages, text, "bench.madx");
        benchmark::DoNotOptimize(state.line.count);
    }
    bench.SetLabel(read ? "read" : "refused");
}

// 30 levels that each use the level below twice: 2^30 evaluations without a memo.
void BM_DeferredDoublingChain30(benchmark::State& bench)
{
    std::string text = "a0 := 1;\n";
    for (int i = 1; i <= 30; ++i)
        text += "a" + std::to_string(i) + " := a" + std::to_string(i - 1) + " + a" + std::to_string(i - 1) +
                ";\n";
    importEach(bench, text + "q: quadrupole, l=1, k1:=a30/2^30;\nbl: line=(q);\n");
}
BENCHMARK(BM_DeferredDoublingChain30)->Unit(benchmark::kMillisecond);

// 10^18 repetitions of an empty group.
void BM_EmptyRepetitions1e18(benchmark::State& bench)
{
    importEach(bench, "d: drift, l=1;\nbl: line=(d, 1000000*(1000000*(1000000*())));\n");
}
BENCHMARK(BM_EmptyRepetitions1e18)->Unit(benchmark::kMillisecond);

// 30 nested sequences, each placed by the centre of an element of the one inside.
void BM_NestedRefposSequences30(benchmark::State& bench)
{
    std::string text = "q: quadrupole, l=0.2, k1=1;\ns0: sequence, l=1; q, at=0.5; endsequence;\n";
    for (int i = 1; i <= 30; ++i)
        text += "s" + std::to_string(i) + ": sequence, l=1, refpos=q; s" + std::to_string(i - 1) +
                ", at=0.5; endsequence;\n";
    importEach(bench, text);
}
BENCHMARK(BM_NestedRefposSequences30)->Unit(benchmark::kMillisecond);

// 40 000 nodes, each placed from the one before.
void BM_FromChain40000(benchmark::State& bench)
{
    std::string text = "m: marker;\ns: sequence, l=40001, refer=entry;\nn0: m, at=0;\n";
    for (int i = 1; i < 40000; ++i)
        text += "n" + std::to_string(i) + ": m, at=1, from=n" + std::to_string(i - 1) + ";\n";
    importEach(bench, text + "endsequence;\n");
}
BENCHMARK(BM_FromChain40000)->Unit(benchmark::kMillisecond);

// A flat sum of 50 000 terms.
void BM_FlatSum50000(benchmark::State& bench)
{
    std::string text = "x = 1";
    for (int i = 1; i < 50000; ++i)
        text += "+1";
    importEach(bench, text + ";\nq: quadrupole, l=1, k1=x;\nbl: line=(q);\n");
}
BENCHMARK(BM_FlatSum50000)->Unit(benchmark::kMillisecond);

// A line of 100 km elements asking for two billion steps of a micrometre: every pass is capped.
void BM_LongElementsEveryPass(benchmark::State& bench)
{
    State state;
    startParticle(state);
    for (int i = 1; i <= 100; ++i) {
        LatticeElement& e = state.line.at(i);
        e.code = i % 2 == 0 ? code::kQuadrupole : code::kDrift;
        e.length = 1e5;
        e.k = 1e-10;
        e.s = (i - 1) * 1e5;
    }
    state.line.count = 100;
    state.line.length = 1e7;
    state.run.stepAtElementEnds = false;
    state.run.maxStep = 1e-6;
    state.run.maxSteps = 2000000000;
    for (auto _ : bench) {
        State pass = state;
        KeptMessages messages;
        linePass(pass, messages, nullptr, nullptr);
        periodicSolution(pass, messages);
        benchmark::DoNotOptimize(pass.lf.betaX);
    }
}
BENCHMARK(BM_LongElementsEveryPass)->Unit(benchmark::kMillisecond);

// The vacuum calculation asked for the largest number of iterations a box takes.
void BM_VacuumMostIterations(benchmark::State& bench)
{
    State state;
    startParticle(state);
    updateKinematics(state.beam, EnergyKind::Total, 3e9);
    state.beamCurrent = 0.3;
    double s = 0;
    for (int i = 1; i <= 40; ++i) {
        LatticeElement& e = state.line.at(i);
        e.code = i % 4 == 0 ? code::kPump : i % 4 == 2 ? code::kSectorBend : code::kDrift;
        e.length = e.code == code::kPump ? 0 : 1.5;
        e.curvature = e.code == code::kSectorBend ? 0.2 : 0;
        e.pumpSpeed = e.code == code::kPump ? 100 : 0;
        e.s = s;
        s += e.length;
    }
    state.line.count = 40;
    state.line.length = s;
    VacuumInput input;
    input.iterations = kMaxVacuumIterations;
    for (auto _ : bench) {
        KeptMessages messages;
        benchmark::DoNotOptimize(pressureDistribution(state, input, messages));
    }
}
BENCHMARK(BM_VacuumMostIterations)->Unit(benchmark::kMillisecond);

} // namespace

} // namespace kestrune
