#pragma once

#include "core/Messages.h"
#include "gui/QtMessages.h"
#include "gui/Windows.h"

#include <QElapsedTimer>

namespace kestrune {

/// The messages of a tool window that runs its activation on QEvent::WindowActivate. Every call goes on
/// to the program's messages (straight to the screen when there are none), carriage returns of core
/// texts breaking the line; and since a closing message box hands the activation back to the window,
/// that activation is told apart from a user's.
class ToolWindowMessages : public Messages
{
public:
    explicit ToolWindowMessages(Windows& windows);

    void error(const std::string& text) override;
    bool confirm(const std::string& question, std::optional<ScreenPoint> position) override;
    void askParticle() override;
    void showList() override { target().showList(); }

    /// For a QEvent::WindowActivate of the window: false for the one a box of this window handed back
    /// on closing (within a second), true for any other.
    bool userActivation();

private:
    Messages& target();
    void boxClosed();

    Windows& m_windows;
    QtMessages m_screen; // without the program's messages: boxes straight on the screen
    QElapsedTimer m_boxClosed;
    bool m_boxPending = false;
};

} // namespace kestrune
