// FCC-ee Z from Xsuite's public test data (test_data/fcc_ee/fccee_z.seq), when KESTRUNE_PUBLIC_LATTICES
// names the folder that holds it: the periodic solution with the integrals and the chromaticity, and a
// tune match of two of its quadrupole families (353 and 352 placements). Without the file both skip.
#include "GeneratedRing.h"
#include "core/chromaticity/Chromaticity.h"
#include "core/io/madx/MadxReader.h"
#include "core/matching/Matcher.h"
#include "core/optics/BetaFunctions.h"
#include "core/ring/Parameter.h"

#include <benchmark/benchmark.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>

namespace kestrune {

namespace {

// the machine once per run, or nullopt without the file
const std::optional<State>& fccee()
{
    static const std::optional<State> made = []() -> std::optional<State> {
        const char* folder = std::getenv("KESTRUNE_PUBLIC_LATTICES");
        if (folder == nullptr)
            return std::nullopt;
        const std::filesystem::path seq = std::filesystem::path(folder) / "fccee_z.seq";
        if (!std::filesystem::exists(seq))
            return std::nullopt;
        const std::filesystem::path job =
            std::filesystem::temp_directory_path() / "kestrune-bench-fccee.madx";
        std::ofstream(job) << "call, file=\"" << seq.string()
                           << "\";\nbeam, particle=positron, pc=45.6;\nuse, sequence=fccee_p_ring;\n";
        State state;
        startParticle(state);
        benchsupport::YesMessages messages;
        const bool read = readMadxFile(state, messages, job.string());
        std::filesystem::remove(job);
        if (!read)
            return std::nullopt;
        return state;
    }();
    return made;
}

void BM_FcceeRingIntegralsAndChromaticity(benchmark::State& bench)
{
    if (!fccee()) {
        bench.SkipWithError("KESTRUNE_PUBLIC_LATTICES does not name a folder with fccee_z.seq");
        return;
    }
    State state = *fccee();
    benchsupport::YesMessages messages;
    for (auto _ : bench) {
        betaFunctions(state, messages, nullptr);
        radiationIntegrals(state, messages);
        const std::optional<ChromaticityCorrection> c = latticeChromaticity(state, messages);
        if (!c)
            bench.SkipWithError("FCC-ee has no chromaticity");
        benchmark::DoNotOptimize(c);
    }
    bench.counters["elements"] = state.line.count;
}
BENCHMARK(BM_FcceeRingIntegralsAndChromaticity)->Unit(benchmark::kMillisecond);

void BM_FcceeTuneMatch(benchmark::State& bench)
{
    if (!fccee()) {
        bench.SkipWithError("KESTRUNE_PUBLIC_LATTICES does not name a folder with fccee_z.seq");
        return;
    }
    const State& state = *fccee();
    MatchDefinition d;
    for (const char* family : {"^qf4\\.", "^qd3\\."}) {
        MatchVariable v;
        v.element = elementRef(family);
        d.variables.push_back(v);
    }
    for (const auto& [quantity, value] :
         {std::pair{MatchQuantity::TuneX, 218.17}, {MatchQuantity::TuneY, 222.21}}) {
        MatchConstraint c;
        c.quantity = quantity;
        c.value = value;
        d.constraints.push_back(c);
    }
    QuietMessages messages;
    MatchResult result;
    for (auto _ : bench) {
        const std::unique_ptr<Matcher> matcher = Matcher::start(state, d, messages);
        if (!matcher) {
            bench.SkipWithError("match refused");
            break;
        }
        while (matcher->iterate()) {
        }
        result = matcher->result();
    }
    bench.counters["iterations"] = result.iterations;
    bench.counters["optics_passes"] = result.opticsPasses;
    if (!result.converged)
        bench.SkipWithError("the match did not converge");
}
BENCHMARK(BM_FcceeTuneMatch)->Unit(benchmark::kMillisecond);

} // namespace

} // namespace kestrune
