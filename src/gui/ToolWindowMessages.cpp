#include "gui/ToolWindowMessages.h"

#include <QString>
#include <chrono>

namespace kestrune {

namespace {

/// A message box of the window hands the activation back within this time: no activation of its own.
constexpr std::int64_t kOwnBoxActivationMs = 1000;

ToolWindowMessages::Clock& clock()
{
    static ToolWindowMessages::Clock clock;
    return clock;
}

std::int64_t nowMs()
{
    if (clock())
        return clock()();
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

ToolWindowMessages::ToolWindowMessages(Windows& windows) : m_windows(windows), m_screen(windows) {}

void ToolWindowMessages::setClock(Clock clock)
{
    kestrune::clock() = std::move(clock);
}

void ToolWindowMessages::error(const std::string& text)
{
    target().error(QString::fromStdString(text).replace('\r', '\n').toStdString());
    boxClosed();
}

bool ToolWindowMessages::confirm(const std::string& question, std::optional<ScreenPoint> position)
{
    const bool yes = target().confirm(question, position);
    boxClosed();
    return yes;
}

bool ToolWindowMessages::confirmDefaultNo(const std::string& question)
{
    const bool yes = target().confirmDefaultNo(question);
    boxClosed();
    return yes;
}

void ToolWindowMessages::askParticle()
{
    target().askParticle();
    boxClosed();
}

bool ToolWindowMessages::userActivation()
{
    const bool ownBox = m_boxPending && nowMs() - m_boxClosed < kOwnBoxActivationMs;
    m_boxPending = false;
    return !ownBox;
}

Messages& ToolWindowMessages::target()
{
    return m_windows.messages ? static_cast<Messages&>(*m_windows.messages) : m_screen;
}

void ToolWindowMessages::boxClosed()
{
    m_boxPending = true;
    m_boxClosed = nowMs();
}

} // namespace kestrune
