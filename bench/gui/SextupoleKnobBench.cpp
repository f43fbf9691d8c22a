// One step of a sextupole knob in its window, offscreen, on the ring of 150 generated cells in one period
// (4650 elements, 600 sextupoles): k2 of the SF family set in the design and the undo step recorded, the
// driving terms, detuning, chromaticities and the tracked tunes at 11 momenta computed and the three charts
// redrawn, as a slider movement runs it.
#include "../GeneratedRing.h"
#include "core/Drawing.h"
#include "gui/QtMessages.h"
#include "gui/Windows.h"
#include "gui/nonlinear/SextupoleKnobWindow.h"
#include "support/FakeMessages.h"

#include <QApplication>
#include <QSlider>
#include <benchmark/benchmark.h>

namespace kestrune {
namespace {

void BM_SextupoleKnobWindowStep(benchmark::State& run)
{
    State state;
    benchsupport::makeRingOfCells(state, 150);
    BeamLine& line = state.line;
    for (int i = 1; i <= line.count; ++i) {
        LatticeElement& e = line.at(i);
        if (familyOf(e.code) == static_cast<int>(Family::Sextupole))
            e.name = e.code == code::kSextupoleF ? "SF" : "SD";
        applyKindExtent(line.shape(i), kindOf(e.code), state.drawBaseline, state.drawScale);
        placeShape(line, i);
    }
    state.ringClosed = true;
    state.ringElementCount = line.count;
    state.history.reset(state);
    Windows windows;
    test::FakeMessages fake;
    QtMessages messages(windows);
    messages.redirectTo(&fake);
    windows.messages = &messages;
    SextupoleKnobWindow window(state, windows);
    window.resize(1180, 820);
    window.show();
    QApplication::processEvents();
    auto* slider = window.findChild<QSlider*>("sbKnob1");
    if (!slider || window.families().size() != 2 || !window.optics().terms) {
        run.SkipWithError("the knob window could not be built");
        return;
    }
    int position = 0;
    for (auto _ : run) {
        position = position >= 10 ? -10 : position + 1;
        slider->setValue(position);
        QCoreApplication::sendPostedEvents();
    }
    run.counters["errors"] = static_cast<double>(fake.errors.size());
}
BENCHMARK(BM_SextupoleKnobWindowStep)->Unit(benchmark::kMillisecond)->MinTime(2.0);

} // namespace
} // namespace kestrune
