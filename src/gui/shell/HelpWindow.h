#pragma once

#include "core/State.h"
#include "gui/UserData.h"
#include "gui/Windows.h"

#include <QMainWindow>
#include <functional>

class QPlainTextEdit;
class QPrinter;

namespace kestrune {

class Messages;

/// The unedited help text: an installed HelpOrig.doc when there is one, else the built-in copy.
QString originalHelpPath(const QString& dataDirectory);

/// The help window: the user's editable help text "Help.doc", which is made from the unedited
/// "HelpOrig.doc" when it is missing, can be saved back, restored and printed.
class HelpWindow : public QMainWindow
{
    Q_OBJECT
public:
    HelpWindow(State& state, Windows& windows, QWidget* parent = nullptr,
               const QString& dataDirectory = userDataDirectory());

    /// Full path of the user's help file.
    QString helpFilePath() const;

    /// Replaces the print dialog: returns false when printing is cancelled.
    void setPrinterChoice(std::function<bool(QPrinter&)> choose) { m_choosePrinter = std::move(choose); }

    void getOrigHelpFileClick();
    void saveHelpFileClick();
    void printClick();
    void exitClick();

private:
    void buildMenu();
    /// Puts the lines of the file into the memo; a message and the memo unchanged when it cannot.
    bool loadInto(const QString& path);
    Messages& messages();

    State& m_state;
    Windows& m_windows;
    QString m_dataDirectory;
    QPlainTextEdit* m_mHelp = nullptr;
    std::function<bool(QPrinter&)> m_choosePrinter;
};

} // namespace kestrune
