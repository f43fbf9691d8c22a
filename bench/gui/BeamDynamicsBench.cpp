// The beam-dynamics update of the editor window (line pass into the curves and the list, vertical
// scaling and the chart replot) on long lines, offscreen.
#include "core/Drawing.h"
#include "core/Kinematics.h"
#include "core/State.h"
#include "core/editor/LineEditing.h"
#include "gui/QtMessages.h"
#include "gui/Windows.h"
#include "gui/editor/LatticeChart.h"
#include "gui/editor/MagShapePlottable.h"
#include "gui/editor/MagStructWindow.h"
#include "support/FakeMessages.h"

#include <QApplication>
#include <benchmark/benchmark.h>

namespace kestrune {
namespace {

/// A line of n elements of repeating FODO cells with bends: drift, QF, drift, bend, drift, QD.
void buildLine(State& state, int n, Messages& messages)
{
    static const int kKinds[] = {0, 2, 0, 1, 0, 2};
    for (int i = 1; i <= n; ++i) {
        const int kind = kKinds[(i - 1) % 6];
        addElement(state, kind, messages);
        LatticeElement& e = state.line.at(i);
        e.length = kind == 1 ? 1.0 : kind == 2 ? 0.3 : 0.5;
        if (kind == 2)
            e.k = (i - 1) % 6 == 1 ? 1.6 : -1.6;
        if (kind == 2)
            applyQuadrupoleSign(state.line.shape(i), e.k, state.drawBaseline, state.drawScale);
    }
    state.line.chainPositions();
    for (int i = 1; i <= n; ++i)
        placeShape(state.line, i);
}

class Harness
{
public:
    explicit Harness(int elements, int stepsPerElement)
    {
        qtMessages.redirectTo(&fake);
        windows.messages = &qtMessages;
        window = std::make_unique<MagStructWindow>(state, windows);
        updateKinematics(state.beam, EnergyKind::Momentum, 1e9);
        state.beam.referenceMomentum = state.beam.momentum;
        buildLine(state, elements, fake);
        state.run.showBetaFunctions = true;
        state.run.stepAtElementEnds = stepsPerElement <= 1;
        state.run.maxSteps = stepsPerElement;
        state.run.maxStep = 1e-3; // every element longer than maxSteps * maxStep: maxSteps slices
        state.listing.replaceList = true;
        window->resize(1200, 760);
        window->show();
        window->chart()->setBottomMax(bottomAxisMaximum(state.line));
        QApplication::processEvents();
    }

    State state;
    Windows windows;
    test::FakeMessages fake;
    QtMessages qtMessages{windows};
    std::unique_ptr<MagStructWindow> window;
};

void BM_BeamDynamicsUpdate(benchmark::State& bench)
{
    Harness h(static_cast<int>(bench.range(0)), static_cast<int>(bench.range(1)));
    for (auto _ : bench) {
        h.window->beamDynamics(); // line pass, scaling and replot
        benchmark::DoNotOptimize(h.window->chart()->pointCount(1));
    }
    bench.counters["points"] = h.window->chart()->pointCount(1);
    bench.counters["chartWidth"] = h.window->chart()->width();
    bench.counters["chartHeight"] = h.window->chart()->height();
}
BENCHMARK(BM_BeamDynamicsUpdate)->Args({1000, 20})->Args({5000, 1})->Unit(benchmark::kMillisecond);

void BM_ShapeHitTest5000(benchmark::State& bench)
{
    Harness h(5000, 1);
    h.window->beamDynamics();
    const QPoint centre = h.window->chart()->shapeCentre(2500);
    for (auto _ : bench)
        benchmark::DoNotOptimize(h.window->chart()->shapes()->elementAt(centre));
}
BENCHMARK(BM_ShapeHitTest5000)->Unit(benchmark::kMicrosecond);

// One wheel step of the chart's zoom on a 5000-element line: the bottom axis changes and the chart is
// redrawn (drawing and curves), without a pass over the line. In and out alternate so that every
// iteration draws a new range.
void BM_ZoomStep5000(benchmark::State& bench)
{
    Harness h(5000, 1);
    h.window->beamDynamics();
    LatticeChart& chart = *h.window->chart();
    const double s = chart.fullRange().upper * 0.4;
    chart.zoomAt(s, 0.05);
    double factor = 0.8;
    for (auto _ : bench) {
        chart.zoomAt(s, factor);
        factor = 1 / factor;
    }
    bench.counters["shownMetres"] = chart.shownRange().width();
}
BENCHMARK(BM_ZoomStep5000)->Unit(benchmark::kMillisecond);

void BM_PanStep5000(benchmark::State& bench)
{
    Harness h(5000, 1);
    h.window->beamDynamics();
    LatticeChart& chart = *h.window->chart();
    chart.zoomAt(chart.fullRange().upper * 0.4, 0.05);
    double ds = 1.0;
    for (auto _ : bench) {
        chart.panBy(ds);
        ds = -ds;
    }
}
BENCHMARK(BM_PanStep5000)->Unit(benchmark::kMillisecond);

void BM_FullLineRedraw5000(benchmark::State& bench)
{
    Harness h(5000, 1);
    h.window->beamDynamics();
    LatticeChart& chart = *h.window->chart();
    for (auto _ : bench) {
        chart.zoomAt(chart.fullRange().upper * 0.4, 0.5);
        chart.showFullLine();
    }
}
BENCHMARK(BM_FullLineRedraw5000)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace kestrune
