#pragma once

#include "core/State.h"
#include "gui/UserData.h"
#include "gui/Windows.h"

#include <QString>
#include <functional>
#include <memory>
#include <vector>

class QWidget;

namespace kestrune {

/// Connects what the windows of the registry tell each other beyond showing one another: the start
/// window's choice opens the beam-dynamics window, quitting from it asks the start window, steps
/// recorded in the ring, chromaticity and match windows show in the beam-dynamics window's title at once,
/// an accepted match in its curves, and the tunes of a frequency map on the resonance diagram.
/// Windows not yet entered are left out.
void connectWindows(const Windows& windows);

/// Owns the program's fifteen windows. They are created in their fixed order (each one's creation
/// sets its share of the start values, later ones rely on the earlier ones) and entered into the
/// registry as they come; they are destroyed in the reverse order, leaving the registry empty.
class ProgramWindows
{
public:
    /// created, when given, is told the name of each window right after it was created.
    ProgramWindows(State& state, Windows& windows, const QString& dataDirectory = userDataDirectory(),
                   const std::function<void(const QString&)>& created = {});
    ~ProgramWindows();
    ProgramWindows(const ProgramWindows&) = delete;
    ProgramWindows& operator=(const ProgramWindows&) = delete;

private:
    Windows& m_registry;
    std::vector<std::unique_ptr<QWidget>> m_windows; // in creation order
};

} // namespace kestrune
