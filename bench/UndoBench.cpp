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

constexpr int kLineBefore = 4000; // elements before the paste
constexpr int kPasted = 1000;     // elements cut and pasted: the line has 5000 after it

struct PastedLine
{
    State state;
    UndoHistory before; // its shadow is the line before the paste, no step yet
};

// A line of 4000 mixed elements; elements 1001..2000 cut and pasted in front of element 3000 (the
// operation writes its backup file, so it runs in a folder of its own).
const PastedLine& pastedLine()
{
    static const std::unique_ptr<PastedLine> line = [] {
        auto made = std::make_unique<PastedLine>();
        State& state = made->state;
        YesMessages messages;
        EditorState editor;
        startParticle(state);
        static const int kinds[] = {0, 1, 0, 2, 3};
        for (int i = 0; i < kLineBefore; ++i)
            addElement(state, kinds[i % 5], messages);
        state.history.reset(state);
        made->before = state.history;

        const std::filesystem::path previous = std::filesystem::current_path();
        const std::filesystem::path folder = std::filesystem::temp_directory_path() / "kestrune-undo-bench";
        std::filesystem::create_directories(folder);
        std::filesystem::current_path(folder);
        startCutPaste(state, editor, messages);
        clickElement(state, editor, 1001, messages);
        clickElement(state, editor, 1000 + kPasted, messages);
        clickElement(state, editor, 3000, messages);
        insertClick(state, editor, messages);
        std::filesystem::current_path(previous);
        std::filesystem::remove_all(folder);
        return made;
    }();
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
    State state = pastedLine().state;
    state.history = pastedLine().before;
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
BENCHMARK(BM_UndoCutAndPaste)->Unit(benchmark::kMillisecond);

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
