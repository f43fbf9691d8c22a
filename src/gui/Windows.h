#pragma once

namespace kestrune {

class StartWindow;
class MagStructWindow;
class ListingWindow;
class EnterTextDialog;
class ChromaticWindow;
class HelpWindow;
class LifeTimeWindow;
class MatchWindow;
class PartTypeWindow;
class ResonanceWindow;
class RfWindow;
class RingWindow;
class VacuumWindow;
class QtMessages;

/// The program's windows, one each, created at start in this order and kept until the end.
/// A window reaches another only to show it; data goes through the State.
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
    QtMessages* messages = nullptr; // message boxes and questions of every window
};

} // namespace kestrune
