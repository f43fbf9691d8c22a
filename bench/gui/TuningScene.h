#pragma once

#include "core/State.h"
#include "gui/QtMessages.h"
#include "gui/Windows.h"
#include "gui/editor/MagStructWindow.h"
#include "support/FakeMessages.h"

#include <QCoreApplication>
#include <QScrollBar>
#include <fstream>
#include <memory>
#include <string>

namespace kestrune::benchsupport {

/// The window parts of the tuning benchmarks: a beam-dynamics window over state, its messages recorded,
/// and the tuning bar once a scene has opened it.
class WindowScene
{
public:
    WindowScene()
    {
        qtMessages = std::make_unique<QtMessages>(windows);
        qtMessages->redirectTo(&fake);
        windows.messages = qtMessages.get();
        window = std::make_unique<MagStructWindow>(state, windows);
    }

    /// The next bar position, back and forth over -10 .. 10, and the chart on the screen: a redraw of
    /// the curve layer alone paints the widget from its buffers when the posted update arrives.
    void step()
    {
        m_position = m_position >= 10 ? -10 : m_position + 1;
        bar->setValue(m_position);
        QCoreApplication::sendPostedEvents();
    }

    State state;
    Windows windows;
    test::FakeMessages fake;
    std::unique_ptr<QtMessages> qtMessages;
    std::unique_ptr<MagStructWindow> window;
    QScrollBar* bar = nullptr;

private:
    int m_position = 0;
};

/// VmRSS and VmHWM of this process, in MB.
struct Resident
{
    double now = 0;
    double peak = 0;
};

inline Resident resident()
{
    std::ifstream status("/proc/self/status");
    Resident r;
    std::string key;
    while (status >> key) {
        double kB = 0;
        if (key == "VmRSS:" && status >> kB)
            r.now = kB / 1024;
        else if (key == "VmHWM:" && status >> kB)
            r.peak = kB / 1024;
    }
    return r;
}

} // namespace kestrune::benchsupport
