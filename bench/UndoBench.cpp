#include "GeneratedRing.h"
#include "core/Kinematics.h"
#include "core/UndoHistory.h"
#include "core/editor/LineEditing.h"
#include "core/io/LatticeFile.h"

#include <benchmark/benchmark.h>
#include <filesystem>
#include <memory>

namespace kestrune {

namespace {

using benchsupport::YesMessages;

struct PastedLine
{
    State state;
    UndoHistory before; // its shadow is the line before the paste, no step yet
};

// A line of lineBefore mixed elements; elements first..last cut and pasted in front of element `place`
// (the operation writes its backup file, so it runs in a folder of its own).
std::unique_ptr<PastedLine> makePastedLine(int lineBefore, int first, int last, int place)
{
    auto made = std::make_unique<PastedLine>();
    State& state = made->state;
    YesMessages messages;
    EditorState editor;
    startParticle(state);
    static const int kinds[] = {0, 1, 0, 2, 3};
    for (int i = 0; i < lineBefore; ++i)
        addElement(state, kinds[i % 5], messages);
    state.history.reset(state);
    made->before = state.history;

    const std::filesystem::path previous = std::filesystem::current_path();
    const std::filesystem::path folder = std::filesystem::temp_directory_path() / "kestrune-undo-bench";
    std::filesystem::create_directories(folder);
    std::filesystem::current_path(folder);
    startCutPaste(state, editor, messages);
    clickElement(state, editor, first, messages);
    clickElement(state, editor, last, messages);
    clickElement(state, editor, place, messages);
    insertClick(state, editor, messages);
    std::filesystem::current_path(previous);
    std::filesystem::remove_all(folder);
    return made;
}

// 4000 elements with 1000 pasted: 5000 after the paste
const PastedLine& pastedLine()
{
    static const std::unique_ptr<PastedLine> line = makePastedLine(4000, 1001, 2000, 3000);
    return *line;
}

// 60 000 elements with 50 000 pasted: 110 000 after the paste
const PastedLine& largePastedLine()
{
    static const std::unique_ptr<PastedLine> line = makePastedLine(60000, 5001, 55000, 58000);
    return *line;
}

void BM_CommitCutAndPaste(benchmark::State& bench)
{
    const PastedLine& line = pastedLine();
    for (auto _ : bench) {
        bench.PauseTiming();
        UndoHistory history = line.before;
        bench.ResumeTiming();
        benchmark::DoNotOptimize(history.commit(line.state, "cut and paste"));
    }
    bench.counters["elements"] = line.state.line.count;
}
BENCHMARK(BM_CommitCutAndPaste)->Unit(benchmark::kMillisecond);

void BM_UndoCutAndPaste(benchmark::State& bench)
{
    const PastedLine& line = bench.range(0) == 0 ? pastedLine() : largePastedLine();
    State state = line.state;
    state.history = line.before;
    state.history.commit(state, "cut and paste");
    for (auto _ : bench) {
        benchmark::DoNotOptimize(state.history.undo(state));
        bench.PauseTiming();
        state.history.redo(state);
        bench.ResumeTiming();
    }
    bench.counters["elements"] = state.line.count;
    bench.counters["stepKiB"] = static_cast<double>(state.history.storedBytes()) / 1024;
}
BENCHMARK(BM_UndoCutAndPaste)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_RedoCutAndPaste(benchmark::State& bench)
{
    State state = pastedLine().state;
    state.history = pastedLine().before;
    state.history.commit(state, "cut and paste");
    state.history.undo(state);
    for (auto _ : bench) {
        benchmark::DoNotOptimize(state.history.redo(state));
        bench.PauseTiming();
        state.history.undo(state);
        bench.ResumeTiming();
    }
    bench.counters["elements"] = state.line.count;
}
BENCHMARK(BM_RedoCutAndPaste)->Unit(benchmark::kMillisecond);

// The title's unsaved mark of a 5000-element line: the design's lattice-file text against the saved one,
// on every edit and activation of the beam-dynamics window.
void BM_DesignModified5000(benchmark::State& bench)
{
    State state = pastedLine().state;
    markDesignSaved(state, "");
    state.line.at(2500).k += 1e-3;
    for (auto _ : bench)
        benchmark::DoNotOptimize(designModified(state));
}
BENCHMARK(BM_DesignModified5000)->Unit(benchmark::kMillisecond);

} // namespace

} // namespace kestrune
