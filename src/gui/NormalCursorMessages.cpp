#include "gui/NormalCursorMessages.h"

#include <QApplication>
#include <QCursor>

namespace kestrune {

namespace {

/// Takes the busy cursor away for the life of a message box and puts it back afterwards.
class NormalCursor
{
public:
    NormalCursor() : m_busy(QApplication::overrideCursor() != nullptr)
    {
        if (m_busy)
            QApplication::restoreOverrideCursor();
    }
    ~NormalCursor()
    {
        if (m_busy)
            QApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
    }
    NormalCursor(const NormalCursor&) = delete;
    NormalCursor& operator=(const NormalCursor&) = delete;

private:
    bool m_busy;
};

} // namespace

void NormalCursorMessages::error(const std::string& text)
{
    NormalCursor normal;
    m_target.error(text);
}

bool NormalCursorMessages::confirm(const std::string& question, std::optional<ScreenPoint> position)
{
    NormalCursor normal;
    return m_target.confirm(question, position);
}

bool NormalCursorMessages::confirmDefaultNo(const std::string& question)
{
    NormalCursor normal;
    return m_target.confirmDefaultNo(question);
}

void NormalCursorMessages::askParticle()
{
    NormalCursor normal;
    m_target.askParticle();
}

} // namespace kestrune
