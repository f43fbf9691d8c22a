#pragma once

#include "core/Messages.h"
#include "gui/QtMessages.h"
#include "gui/Windows.h"

#include <cstdint>
#include <functional>

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
    bool confirmDefaultNo(const std::string& question) override;
    void askParticle() override;
    void showList() override { target().showList(); }

    /// For a QEvent::WindowActivate of the window: false for the one a box of this window handed back
    /// on closing (within a second), true for any other.
    bool userActivation();

    /// Milliseconds of a monotonic clock; every tool window's messages read it.
    using Clock = std::function<std::int64_t()>;
    /// Puts clock in the place of the steady clock (tests step their own); an empty one brings it back.
    static void setClock(Clock clock);

private:
    Messages& target();
    void boxClosed();

    Windows& m_windows;
    QtMessages m_screen;          // without the program's messages: boxes straight on the screen
    std::int64_t m_boxClosed = 0; // ms on the clock
    bool m_boxPending = false;
};

} // namespace kestrune
