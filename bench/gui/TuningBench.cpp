// One step of the tuning bar on long lines, offscreen: k of the quadrupole set, the line pass into the
// three curves and the list, the vertical scaling and the replot, as the window runs it on every bar
// movement. The chart is 1196 x 709 pixels (a window of 1200 x 760).
#include "TuningScene.h"
#include "core/Drawing.h"
#include "core/Kinematics.h"
#include "core/State.h"
#include "core/editor/LineEditing.h"
#include "gui/QtMessages.h"
#include "gui/Windows.h"
#include "gui/editor/LatticeChart.h"
#include "gui/editor/MagStructWindow.h"
#include "gui/editor/TuningPanel.h"
#include "support/FakeMessages.h"

#include <QApplication>
#include <QScrollBar>
#include <benchmark/benchmark.h>
#include <fstream>
#include <memory>
#include <unistd.h>

namespace kestrune {
namespace {

/// A beam-dynamics window over a FODO line (quadrupole, drift, quadrupole, drift), every element sliced
/// into the given number of steps, with the lattice-function curves drawn, the list in "add" mode and
/// the tuning panel open on the first quadrupole.
class TuningScene : public benchsupport::WindowScene
{
public:
    TuningScene(int elements, int stepsPerElement)
    {
        updateKinematics(state.beam, EnergyKind::Momentum, 1e9);
        state.beam.referenceMomentum = state.beam.momentum;
        buildLine(elements);
        state.run.stepAtElementEnds = false;
        state.run.maxSteps = stepsPerElement;
        state.run.maxStep = 0.001; // shorter than every element / steps: each gets all its steps
        state.run.showBetaFunctions = true;
        window->resize(1200, 760);
        window->show();
        QApplication::processEvents();
        window->beamDynamics();
        window->tuningPanel()->startTuning(1);
        bar = window->tuningPanel()->findChild<QScrollBar*>("sbTuning");
    }

    bool ready(int elements) const
    {
        return state.line.count == elements && bar && window->chart()->seriesCreated();
    }

private:
    void buildLine(int elements)
    {
        for (int i = 0; i < elements; ++i)
            addElement(state, i % 2 == 0 ? 2 : 0, fake);
        for (int i = 1; i <= state.line.count; ++i) {
            LatticeElement& e = state.line.at(i);
            const bool quad = familyOf(e.code) == static_cast<int>(Family::Quadrupole);
            e.length = quad ? 0.2 : 1.0;
            if (quad)
                e.k = (i % 4 == 1) ? 1.2 : -1.2;
        }
        state.line.chainPositions(1);
        for (int i = 1; i <= state.line.count; ++i) {
            placeShape(state.line, i);
            if (familyOf(state.line.at(i).code) == static_cast<int>(Family::Quadrupole))
                applyQuadrupoleSign(state.line.shape(i), state.line.at(i).k, state.drawBaseline,
                                    state.drawScale);
        }
        window->chart()->setBottomMax(bottomAxisMaximum(state.line));
    }
};

void BM_TuningBarStep(benchmark::State& run)
{
    const int elements = static_cast<int>(run.range(0));
    TuningScene scene(elements, static_cast<int>(run.range(1)));
    if (!scene.ready(elements)) {
        run.SkipWithError("the tuning scene could not be built");
        return;
    }
    for (auto _ : run)
        scene.step();
    run.counters["points"] = scene.window->chart()->pointCount(1);
    run.counters["chartWidth"] = scene.window->chart()->width();
    run.counters["chartHeight"] = scene.window->chart()->height();
}
BENCHMARK(BM_TuningBarStep)
    ->Args({1000, 20})
    ->Args({5000, 20})
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2.0)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

// Resident memory after 10 and after 1000 bar steps at 5000 elements x 20 steps: the list text and the
// curves must not grow with the number of steps.
void BM_TuningMemory(benchmark::State& run)
{
    constexpr int kElements = 5000;
    TuningScene scene(kElements, 20);
    if (!scene.ready(kElements)) {
        run.SkipWithError("the tuning scene could not be built");
        return;
    }
    double after10 = 0;
    double after1000 = 0;
    for (auto _ : run) {
        for (int i = 0; i < 10; ++i)
            scene.step();
        after10 = benchsupport::resident().now * 1024 * 1024;
        for (int i = 10; i < 1000; ++i)
            scene.step();
        after1000 = benchsupport::resident().now * 1024 * 1024;
    }
    run.counters["rss10MB"] = after10 / 1e6;
    run.counters["rss1000MB"] = after1000 / 1e6;
    run.counters["growth"] = after1000 / after10 - 1;
}
BENCHMARK(BM_TuningMemory)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace
} // namespace kestrune
