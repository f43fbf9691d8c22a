#include "gui/ToolWindowMessages.h"

#include <QString>

namespace kestrune {

namespace {

/// A message box of the window hands the activation back within this time: no activation of its own.
constexpr qint64 kOwnBoxActivationMs = 1000;

} // namespace

ToolWindowMessages::ToolWindowMessages(Windows& windows) : m_windows(windows), m_screen(windows)
{
    m_boxClosed.start();
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

void ToolWindowMessages::askParticle()
{
    target().askParticle();
    boxClosed();
}

bool ToolWindowMessages::userActivation()
{
    const bool ownBox = m_boxPending && m_boxClosed.elapsed() < kOwnBoxActivationMs;
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
    m_boxClosed.restart();
}

} // namespace kestrune
