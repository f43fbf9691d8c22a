#include "app/QtMessages.h"
#include "app/Windows.h"
#include "core/Kinematics.h"
#include "core/State.h"
#include "editor/Drawing.h"
#include "editor/LatticeChart.h"
#include "editor/LineEditing.h"
#include "editor/MagStructWindow.h"
#include "editor/TuningPanel.h"
#include "support/FakeMessages.h"

#include <QApplication>
#include <QScrollBar>
#include <benchmark/benchmark.h>
#include <memory>
#include <qcustomplot.h>

namespace kestrune {
namespace {

constexpr int kCells = 250; // four elements each: 1000 elements
constexpr int kStepsPerElement = 20;

/// A beam-dynamics window over a FODO line of 1000 elements, sliced into 20 steps each, with the
/// lattice-function curves drawn and the tuning panel open on the first quadrupole.
class TuningScene
{
public:
    TuningScene()
    {
        qtMessages = std::make_unique<QtMessages>(windows);
        qtMessages->redirectTo(&fake);
        windows.messages = qtMessages.get();
        updateKinematics(state.beam, EnergyKind::Momentum, 1e9);
        state.beam.referenceMomentum = state.beam.momentum;
        window = std::make_unique<MagStructWindow>(state, windows);
        buildLine();
        state.run.stepAtElementEnds = false;
        state.run.maxSteps = kStepsPerElement;
        state.run.maxStep = 0.001; // shorter than every element / 20: each gets the full 20 steps
        state.run.showBetaFunctions = true;
        window->resize(1200, 760);
        window->show();
        QApplication::processEvents();
        window->beamDynamics();
        window->tuningPanel()->startTuning(1);
        bar = window->tuningPanel()->findChild<QScrollBar*>("ScrollBar1");
    }

    void buildLine()
    {
        for (int cell = 0; cell < kCells; ++cell)
            for (int kind : {2, 0, 2, 0})
                addElement(state, kind, fake);
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

    State state;
    Windows windows;
    test::FakeMessages fake;
    std::unique_ptr<QtMessages> qtMessages;
    std::unique_ptr<MagStructWindow> window;
    QScrollBar* bar = nullptr;
};

// One position of the tuning bar: k of the quadrupole set, the line pass into the three curves and
// the replot of the chart, as the window runs it on every bar movement.
void BM_TuningBarStep(benchmark::State& run)
{
    TuningScene scene;
    if (scene.state.line.count != 4 * kCells || !scene.bar || !scene.window->chart()->seriesCreated()) {
        run.SkipWithError("the tuning scene could not be built");
        return;
    }
    int position = 0;
    for (auto _ : run) {
        position = position >= 10 ? -10 : position + 1;
        scene.bar->setValue(position);
    }
    run.counters["points"] = scene.window->chart()->pointCount(1);
}
BENCHMARK(BM_TuningBarStep)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(3.0)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

} // namespace
} // namespace kestrune
