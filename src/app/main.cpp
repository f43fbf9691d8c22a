#include "app/ProgramWindows.h"
#include "core/State.h"
#include "gui/Application.h"
#include "gui/QtMessages.h"
#include "gui/Windows.h"
#include "gui/shell/StartWindow.h"

int main(int argc, char** argv)
{
    kestrune::Application app(argc, argv);
    QCoreApplication::setApplicationName("kestrune");
    QApplication::setApplicationDisplayName("Kestrune");

    kestrune::State state;
    kestrune::Windows windows;
    kestrune::QtMessages messages(windows);
    windows.messages = &messages;
    app.setMessages(&messages);

    kestrune::ProgramWindows programWindows(state, windows);
    // the program ends with the start window, whatever else is still open
    QObject::connect(windows.start, &kestrune::StartWindow::programEnded, &app, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    windows.start->show();
    const int result = app.exec();
    app.setMessages(nullptr);
    return result;
}
