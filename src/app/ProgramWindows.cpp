#include "app/ProgramWindows.h"

#include "gui/chromaticity/ChromaticWindow.h"
#include "gui/editor/MagStructWindow.h"
#include "gui/io/ListingWindow.h"
#include "gui/lifetime/LifeTimeWindow.h"
#include "gui/matching/MatchWindow.h"
#include "gui/particle/PartTypeWindow.h"
#include "gui/resonance/ResonanceWindow.h"
#include "gui/rf/RfWindow.h"
#include "gui/ring/RingWindow.h"
#include "gui/shell/EnterTextDialog.h"
#include "gui/shell/HelpWindow.h"
#include "gui/shell/StartWindow.h"
#include "gui/vacuum/VacuumWindow.h"

namespace kestrune {

ProgramWindows::ProgramWindows(State& state, Windows& windows, const QString& dataDirectory,
                               const std::function<void(const QString&)>& created)
    : m_registry(windows)
{
    // registers a window the moment it exists, so that the next one can already reach it
    const auto keep = [&](auto* window, auto*& slot, const char* name) {
        m_windows.emplace_back(window);
        slot = window;
        if (created)
            created(name);
    };
    keep(new StartWindow(state, windows, nullptr, dataDirectory), windows.start, "TfStart");
    keep(new MagStructWindow(state, windows), windows.magStruct, "TfMagStruct");
    keep(new ListingWindow(state, windows), windows.listing, "TfListing");
    keep(new EnterTextDialog(state, windows), windows.enterText, "TfEnterText");
    keep(new ChromaticWindow(state, windows), windows.chromatic, "TfChromatic");
    keep(new HelpWindow(state, windows, nullptr, dataDirectory), windows.help, "TfHelp");
    keep(new LifeTimeWindow(state, windows), windows.lifeTime, "TfLifeTime");
    keep(new PartTypeWindow(state, windows), windows.partType, "TfPartType");
    keep(new ResonanceWindow(state, windows), windows.resonance, "TfResonance");
    keep(new RfWindow(state, windows), windows.rf, "TfRF");
    keep(new RingWindow(state, windows), windows.ring, "TfRing");
    keep(new VacuumWindow(state, windows), windows.vacuum, "TfVacuum");
    keep(new MatchWindow(state, windows), windows.match, "TfMatch");
    // the beam-dynamics window's optics › matching
    QObject::connect(windows.magStruct, &MagStructWindow::matchingRequested, windows.match,
                     &MatchWindow::bringUp);
}

ProgramWindows::~ProgramWindows()
{
    while (!m_windows.empty())
        m_windows.pop_back();
    QtMessages* messages = m_registry.messages;
    m_registry = Windows{};
    m_registry.messages = messages;
}

} // namespace kestrune
