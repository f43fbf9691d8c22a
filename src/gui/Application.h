#pragma once

#include "core/Messages.h"

#include <QApplication>
#include <functional>

namespace kestrune {

/// The program's QApplication: every event goes through notify(), which is the one place where a
/// conversion error (or any other exception) thrown from a handler is shown to the user. The
/// handler has stopped at the throw; the event loop goes on.
class Application : public QApplication
{
public:
    Application(int& argc, char** argv);

    /// Where the errors are shown; nothing is shown (only written to stderr) until it is set.
    void setMessages(Messages* messages) { m_messages = messages; }

    bool notify(QObject* receiver, QEvent* event) override;

    /// Runs deliver() and shows an exception escaping it through messages; false after an exception.
    static bool deliverGuarded(Messages* messages, const std::function<bool()>& deliver);

private:
    Messages* m_messages = nullptr;
};

} // namespace kestrune
