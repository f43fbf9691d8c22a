#pragma once

#include <array>
#include <cstddef>

class QWidget;

namespace kestrune {

class ApertureWindow;
class StartWindow;
class MagStructWindow;
class ListingWindow;
class EnterTextDialog;
class FrequencyMapWindow;
class ErrorsOrbitWindow;
class ChromaticWindow;
class HelpWindow;
class LifeTimeWindow;
class MatchWindow;
class PartTypeWindow;
class ResonanceWindow;
class RfWindow;
class RingWindow;
class SextupoleKnobWindow;
class VacuumWindow;
class QtMessages;

/// The program's windows, as the registry knows them, in the order of their creation.
enum class WindowId {
    Start,
    MagStruct,
    Listing,
    EnterText,
    Chromatic,
    Help,
    LifeTime,
    PartType,
    Resonance,
    Rf,
    Ring,
    Vacuum,
    Match,
    Aperture,
    FrequencyMap,
    SextupoleKnobs,
    ErrorsOrbit
};
constexpr std::size_t kWindowCount = 17;

/// The program's windows, one each, created at start in this order and kept until the end.
/// A window reaches another only to show it (bringToFront); what else windows tell each other goes
/// through signals the program connects, and data through the State. The typed entries serve the
/// program's start and the tests.
struct Windows
{
    StartWindow* start = nullptr;
    MagStructWindow* magStruct = nullptr;
    ListingWindow* listing = nullptr;
    EnterTextDialog* enterText = nullptr;
    ChromaticWindow* chromatic = nullptr;
    HelpWindow* help = nullptr;
    LifeTimeWindow* lifeTime = nullptr;
    PartTypeWindow* partType = nullptr;
    ResonanceWindow* resonance = nullptr;
    RfWindow* rf = nullptr;
    RingWindow* ring = nullptr;
    VacuumWindow* vacuum = nullptr;
    MatchWindow* match = nullptr;
    ApertureWindow* aperture = nullptr;
    FrequencyMapWindow* frequencyMap = nullptr;
    SextupoleKnobWindow* sextupoleKnobs = nullptr;
    ErrorsOrbitWindow* errorsOrbit = nullptr;
    QtMessages* messages = nullptr; // message boxes and questions of every window

    std::array<QWidget*, kWindowCount> widgets{}; // by WindowId, nullptr before the window exists

    /// Enters window as id: into its typed entry slot and the widget table.
    template <class Window> void enter(WindowId id, Window*& slot, Window* window)
    {
        slot = window;
        widgets[static_cast<std::size_t>(id)] = window;
    }

    /// Shows the window, raises it and gives it the focus; nothing before it exists.
    void bringToFront(WindowId id) const;
};

} // namespace kestrune
