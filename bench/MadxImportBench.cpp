#include "core/Kinematics.h"
#include "core/io/madx/MadxReader.h"

#include <benchmark/benchmark.h>
#include <sstream>

namespace kestrune {

namespace {

class NullMessages : public Messages
{
public:
    void error(const std::string& text) override { last = text; }
    std::string last;
    bool confirm(const std::string&, std::optional<ScreenPoint>) override { return true; }
    void askParticle() override {}
};

// A ring of cells of ten nodes as MAD-X files write it: variables, deferred strengths, centred positions,
// every element placed with its own label, drifts made from the positions.
std::string ringText(int kCells)
{
    std::ostringstream out;
    out.precision(17);
    out << "beam, particle=electron, energy=3; option, rbarc=false;\n"
           "ncell = "
        << kCells
        << ";\nlq = 0.3; lb = 2.0; ab := twopi/(2*ncell);\n"
           "kqf := 1.2; kqd := -kqf; ksf = 10.0; ksd = -12.0;\n"
           "qf: quadrupole, l=lq, k1:=kqf; qd: quadrupole, l=lq, k1:=kqd;\n"
           "sf: sextupole, l=0.2, k2=ksf; sd: sextupole, l=0.2, k2=ksd;\n"
           "b: sbend, l=lb, angle:=ab; br: rbend, l=lb, angle:=ab, hgap=0.02, fint=0.5;\n"
           "bpm: monitor, l=0.1; d: drift, l=0.25; d2: drift, l=1.55;\n"
           "lcell = 7.0;\n"
           "ring: sequence, l=ncell*lcell, refer=centre;\n";
    for (int c = 0; c < kCells; ++c) {
        const double s0 = c * 7.0;
        auto at = [&](const char* label, const char* cls, double centre) {
            out << label << "." << c << ": " << cls << ", at=" << s0 + centre << ";\n";
        };
        at("qf", "qf", 0.15);
        at("sf", "sf", 0.4);
        at("bpm", "bpm", 0.55);
        at("b", "b", 1.6);
        at("d", "d", 2.725);
        at("qd", "qd", 3.0);
        at("sd", "sd", 3.25);
        at("bpm", "bpm", 3.4);
        at("br", "br", 4.45 + 1e-12);
        at("d2", "d2", 6.225);
    }
    out << "endsequence;\nuse, sequence=ring;\n";
    return out.str();
}

// cells of ten nodes: 5000 and 100 000 elements
void BM_ImportMadxSequence(benchmark::State& bench)
{
    const std::string text = ringText(static_cast<int>(bench.range(0)));
    State state;
    startParticle(state);
    NullMessages messages;
    for (auto _ : bench) {
        State imported = state;
        const bool ok = readMadxText(imported, messages, text, "ring.madx");
        benchmark::DoNotOptimize(ok);
        if (!ok || imported.line.count > kMaxLineElements)
            bench.SkipWithError(messages.last.c_str());
        bench.counters["elements"] = imported.line.count;
    }
}
BENCHMARK(BM_ImportMadxSequence)->Arg(500)->Arg(10000)->Unit(benchmark::kMillisecond);

} // namespace

} // namespace kestrune
