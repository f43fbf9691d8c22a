// The beam-dynamics window over the generated ring of 100 006 elements, offscreen, in a window of
// 1200 x 760: one step of the tuning bar (k of a quadrupole, the line pass into the curves and the
// list, the scaling and the redraw; with the periodic solution found again or not), one zoom and one pan
// step, and the memory after 1000 bar steps.
#include "../GeneratedRing.h"
#include "TuningScene.h"
#include "core/Drawing.h"
#include "core/io/Listing.h"
#include "gui/QtMessages.h"
#include "gui/Windows.h"
#include "gui/editor/LatticeChart.h"
#include "gui/editor/MagStructWindow.h"
#include "gui/editor/TuningPanel.h"
#include "gui/io/ListingWindow.h"
#include "support/FakeMessages.h"

#include <QApplication>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <benchmark/benchmark.h>
#include <fstream>
#include <memory>
#include <string>

namespace kestrune {
namespace {

using benchsupport::resident;
using benchsupport::Resident;

class LargeRingScene : public benchsupport::WindowScene
{
public:
    LargeRingScene()
    {
        benchsupport::makeLargeRing(state);
        BeamLine& line = state.line;
        for (int i = 1; i <= line.count; ++i) {
            applyKindExtent(line.shape(i), kindOf(line.at(i).code), state.drawBaseline, state.drawScale);
            if (familyOf(line.at(i).code) == static_cast<int>(Family::Quadrupole))
                applyQuadrupoleSign(line.shape(i), line.at(i).k, state.drawBaseline, state.drawScale);
            placeShape(line, i);
            line.shape(i).title = std::to_string(i);
        }
        state.run.showBetaFunctions = true;
        state.listing.replaceList = true;
        window->resize(1200, 760);
        window->show();
        window->chart()->setBottomMax(bottomAxisMaximum(state.line));
        QApplication::processEvents();
        window->mnPerSolClick(); // the periodic solution as start values
        window->beamDynamics();
        QApplication::processEvents();
        window->tuningPanel()->startTuning(2);
        bar = window->tuningPanel()->findChild<QScrollBar*>("sbTuning");
    }

    bool ready() const { return bar && window->chart()->seriesCreated() && state.line.count > 100000; }
};

LargeRingScene& scene()
{
    static LargeRingScene made;
    return made;
}

void BM_LargeRingTuningStep(benchmark::State& run)
{
    LargeRingScene& s = scene();
    if (!s.ready()) {
        run.SkipWithError("the large ring's window could not be built");
        return;
    }
    s.window->chart()->showFullLine();
    s.state.run.recomputePeriodic = run.range(0) != 0;
    for (auto _ : run)
        s.step();
    s.state.run.recomputePeriodic = false;
    run.counters["points"] = s.window->chart()->pointCount(1);
}
// 0: the line pass from the start values; 1: the periodic solution found again before it
BENCHMARK(BM_LargeRingTuningStep)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_LargeRingZoomStep(benchmark::State& run)
{
    LargeRingScene& s = scene();
    LatticeChart& chart = *s.window->chart();
    const double at = chart.fullRange().upper * 0.4;
    chart.showFullLine();
    double factor = 0.8;
    for (auto _ : run) {
        chart.zoomAt(at, factor);
        factor = 1 / factor;
    }
    chart.showFullLine();
}
BENCHMARK(BM_LargeRingZoomStep)->Unit(benchmark::kMillisecond);

void BM_LargeRingPanStep(benchmark::State& run)
{
    LargeRingScene& s = scene();
    LatticeChart& chart = *s.window->chart();
    chart.showFullLine();
    chart.zoomAt(chart.fullRange().upper * 0.4, 0.1);
    double ds = chart.shownRange().width() * 0.05;
    for (auto _ : run) {
        chart.panBy(ds);
        ds = -ds;
    }
    chart.showFullLine();
}
BENCHMARK(BM_LargeRingPanStep)->Unit(benchmark::kMillisecond);

// The list window showing the lattice-function list of the large ring (100 008 lines).
void BM_LargeRingListWindow(benchmark::State& run)
{
    LargeRingScene& s = scene();
    ListingWindow listing(s.state, s.windows);
    listing.resize(937, 500);
    for (auto _ : run) {
        listing.showList();
        QCoreApplication::sendPostedEvents();
    }
    run.counters["lines"] = static_cast<double>(listLines(s.state).size());
}
BENCHMARK(BM_LargeRingListWindow)->Unit(benchmark::kMillisecond);

// The same until the memo holds every line (the event loop feeding it the blocks after the first).
void BM_LargeRingListWindowFilled(benchmark::State& run)
{
    LargeRingScene& s = scene();
    ListingWindow listing(s.state, s.windows);
    listing.resize(937, 500);
    auto* memo = listing.findChild<QPlainTextEdit*>("mList");
    const int lines = static_cast<int>(listLines(s.state).size());
    for (auto _ : run) {
        listing.showList();
        while (memo->blockCount() < lines)
            QCoreApplication::processEvents();
    }
    run.counters["lines"] = lines;
}
BENCHMARK(BM_LargeRingListWindowFilled)->Unit(benchmark::kMillisecond);

// VmRSS after the window opened the ring, after 10 and after 1000 bar steps, and the peak (VmHWM).
void BM_LargeRingMemory(benchmark::State& run)
{
    const Resident opened = resident();
    LargeRingScene& s = scene();
    Resident after10;
    Resident after1000;
    for (auto _ : run) {
        for (int i = 0; i < 10; ++i)
            s.step();
        after10 = resident();
        for (int i = 10; i < 1000; ++i)
            s.step();
        after1000 = resident();
    }
    run.counters["openedMB"] = opened.now;
    run.counters["rss10MB"] = after10.now;
    run.counters["rss1000MB"] = after1000.now;
    run.counters["peakMB"] = after1000.peak;
}
BENCHMARK(BM_LargeRingMemory)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace
} // namespace kestrune
