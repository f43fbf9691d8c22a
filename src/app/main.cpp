#include "app/ApplicationQt.h"
#include "app/ProgramWindowsQt.h"
#include "app/QtMessages.h"
#include "app/StartWindow.h"
#include "app/Windows.h"
#include "core/State.h"

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
