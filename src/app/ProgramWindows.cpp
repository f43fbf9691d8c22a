#include "app/ProgramWindows.h"

#include "core/StartValues.h"
#include "gui/Shortcuts.h"
#include "gui/aperture/ApertureWindow.h"
#include "gui/chromaticity/ChromaticWindow.h"
#include "gui/editor/MagStructWindow.h"
#include "gui/io/ListingWindow.h"
#include "gui/lifetime/LifeTimeWindow.h"
#include "gui/matching/MatchWindow.h"
#include "gui/nonlinear/FrequencyMapWindow.h"
#include "gui/nonlinear/SextupoleKnobWindow.h"
#include "gui/orbit/ErrorsOrbitWindow.h"
#include "gui/particle/PartTypeWindow.h"
#include "gui/resonance/ResonanceWindow.h"
#include "gui/rf/RfWindow.h"
#include "gui/ring/RingWindow.h"
#include "gui/shell/EnterTextDialog.h"
#include "gui/shell/HelpWindow.h"
#include "gui/shell/StartWindow.h"
#include "gui/vacuum/VacuumWindow.h"

#include <QCoreApplication>

namespace kestrune {

void connectWindows(const Windows& windows)
{
    if (windows.start && windows.magStruct) {
        QObject::connect(windows.start, &StartWindow::beamDynamicsAsked, windows.magStruct,
                         &MagStructWindow::openAs);
        QObject::connect(windows.magStruct, &MagStructWindow::quitAsked, windows.start,
                         &StartWindow::closeProgramClick);
        MagStructWindow* magStruct = windows.magStruct;
        windows.start->setEndCheck([magStruct] { return magStruct->saveChangesFirst(); });
    }
    if (!windows.magStruct)
        return;
    if (windows.ring) {
        QObject::connect(windows.ring, &RingWindow::historyChanged, windows.magStruct,
                         &MagStructWindow::showHistory);
        QObject::connect(windows.magStruct, &MagStructWindow::designMayHaveChanged, windows.ring,
                         &RingWindow::designChanged);
    }
    if (windows.rf) {
        QObject::connect(windows.rf, &RfWindow::historyChanged, windows.magStruct,
                         &MagStructWindow::showHistory);
        QObject::connect(windows.magStruct, &MagStructWindow::designMayHaveChanged, windows.rf,
                         &RfWindow::designChanged);
    }
    if (windows.vacuum)
        QObject::connect(windows.magStruct, &MagStructWindow::designMayHaveChanged, windows.vacuum,
                         &VacuumWindow::designChanged);
    if (windows.chromatic)
        QObject::connect(windows.magStruct, &MagStructWindow::designMayHaveChanged, windows.chromatic,
                         &ChromaticWindow::designChanged);
    if (windows.aperture)
        QObject::connect(windows.magStruct, &MagStructWindow::designMayHaveChanged, windows.aperture,
                         &ApertureWindow::designChanged);
    if (windows.frequencyMap)
        QObject::connect(windows.magStruct, &MagStructWindow::designMayHaveChanged, windows.frequencyMap,
                         &FrequencyMapWindow::designChanged);
    if (windows.sextupoleKnobs) {
        QObject::connect(windows.sextupoleKnobs, &SextupoleKnobWindow::historyChanged, windows.magStruct,
                         &MagStructWindow::showHistory);
        QObject::connect(windows.magStruct, &MagStructWindow::designMayHaveChanged, windows.sextupoleKnobs,
                         &SextupoleKnobWindow::designChanged);
    }
    if (windows.resonance)
        QObject::connect(windows.magStruct, &MagStructWindow::designMayHaveChanged, windows.resonance,
                         &ResonanceWindow::designChanged);
    if (windows.frequencyMap && windows.resonance)
        QObject::connect(windows.frequencyMap, &FrequencyMapWindow::footprintChanged, windows.resonance,
                         &ResonanceWindow::showFootprint);
    if (windows.errorsOrbit) {
        QObject::connect(windows.errorsOrbit, &ErrorsOrbitWindow::historyChanged, windows.magStruct,
                         &MagStructWindow::showHistory);
        QObject::connect(windows.magStruct, &MagStructWindow::designMayHaveChanged, windows.errorsOrbit,
                         &ErrorsOrbitWindow::designChanged);
    }
    if (windows.lifeTime)
        QObject::connect(windows.magStruct, &MagStructWindow::designMayHaveChanged, windows.lifeTime,
                         &LifeTimeWindow::designChanged);
    if (windows.chromatic)
        QObject::connect(windows.chromatic, &ChromaticWindow::historyChanged, windows.magStruct,
                         &MagStructWindow::showHistory);
    if (windows.match) {
        QObject::connect(windows.match, &MatchWindow::historyChanged, windows.magStruct,
                         &MagStructWindow::showHistory);
        QObject::connect(windows.match, &MatchWindow::designChanged, windows.magStruct,
                         &MagStructWindow::graphFunctions);
        QObject::connect(windows.magStruct, &MagStructWindow::designMayHaveChanged, windows.match,
                         &MatchWindow::followDesign);
    }
}

ProgramWindows::ProgramWindows(State& state, Windows& windows, const QString& dataDirectory,
                               const std::function<void(const QString&)>& created)
    : m_registry(windows)
{
    setStartValues(state);
    // registers a window the moment it exists, so that the next one can already reach it
    const auto keep = [&](auto* window, WindowId id, auto*& slot, const char* name) {
        m_windows.emplace_back(window);
        windows.enter(id, slot, window);
        if (created)
            created(name);
    };
    keep(new StartWindow(state, windows, nullptr, dataDirectory), WindowId::Start, windows.start, "TfStart");
    keep(new MagStructWindow(state, windows), WindowId::MagStruct, windows.magStruct, "TfMagStruct");
    keep(new ListingWindow(state, windows), WindowId::Listing, windows.listing, "TfListing");
    keep(new EnterTextDialog(state, windows), WindowId::EnterText, windows.enterText, "TfEnterText");
    keep(new ChromaticWindow(state, windows), WindowId::Chromatic, windows.chromatic, "TfChromatic");
    keep(new HelpWindow(state, windows, nullptr, dataDirectory), WindowId::Help, windows.help, "TfHelp");
    keep(new LifeTimeWindow(state, windows), WindowId::LifeTime, windows.lifeTime, "TfLifeTime");
    keep(new PartTypeWindow(state, windows), WindowId::PartType, windows.partType, "TfPartType");
    keep(new ResonanceWindow(state, windows), WindowId::Resonance, windows.resonance, "TfResonance");
    keep(new RfWindow(state, windows), WindowId::Rf, windows.rf, "TfRF");
    keep(new RingWindow(state, windows), WindowId::Ring, windows.ring, "TfRing");
    keep(new VacuumWindow(state, windows), WindowId::Vacuum, windows.vacuum, "TfVacuum");
    keep(new MatchWindow(state, windows), WindowId::Match, windows.match, "TfMatch");
    keep(new ApertureWindow(state, windows), WindowId::Aperture, windows.aperture, "TfAperture");
    keep(new FrequencyMapWindow(state, windows), WindowId::FrequencyMap, windows.frequencyMap,
         "TfFrequencyMap");
    keep(new SextupoleKnobWindow(state, windows), WindowId::SextupoleKnobs, windows.sextupoleKnobs,
         "TfSextupoleKnobs");
    keep(new ErrorsOrbitWindow(state, windows), WindowId::ErrorsOrbit, windows.errorsOrbit, "TfErrorsOrbit");

    connectWindows(windows);
    const QList<QWidget*> toolWindows = {
        windows.listing,   windows.chromatic,    windows.help,           windows.lifeTime,   windows.partType,
        windows.resonance, windows.rf,           windows.ring,           windows.vacuum,     windows.match,
        windows.aperture,  windows.frequencyMap, windows.sextupoleKnobs, windows.errorsOrbit};
    for (QWidget* window : toolWindows)
        addCloseKeys(window);
    keepAltKeysOutOfBoxes(QCoreApplication::instance());
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
