#include "gui/Application.h"

#include "core/NumberInput.h"

#include <cstdio>
#include <exception>
#include <string>

namespace kestrune {

namespace {

void report(Messages* messages, const std::string& text)
{
    if (messages)
        messages->error(text);
    else
        std::fprintf(stderr, "kestrune: %s\n", text.c_str());
}

} // namespace

Application::Application(int& argc, char** argv) : QApplication(argc, argv) {}

bool Application::notify(QObject* receiver, QEvent* event)
{
    return deliverGuarded(m_messages, [&] { return QApplication::notify(receiver, event); });
}

bool Application::deliverGuarded(Messages* messages, const std::function<bool()>& deliver)
{
    try {
        return deliver();
    } catch (const ConversionError& e) {
        report(messages, e.what());
    } catch (const std::exception& e) {
        // a broken invariant or a failed file operation: the action stops, the program goes on
        report(messages, e.what());
    }
    return false;
}

} // namespace kestrune
