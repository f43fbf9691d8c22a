#pragma once

#include "app/Windows.h"
#include "core/State.h"

#include <QMainWindow>

class QPlainTextEdit;

namespace kestrune {

/// The list window "List of Parameters": the state's list text in one read-only memo.
class ListingWindow : public QMainWindow
{
    Q_OBJECT
public:
    ListingWindow(State& state, Windows& windows, QWidget* parent = nullptr);

    /// Rewrites the memo from the state's list text and shows the window, scrolled to the first
    /// line that was not there before.
    void showList();

    /// The font of the list text, which the printer takes over.
    QFont listFont() const;
    /// Shows the print dialog of owner and prints the list text; false when cancelled or failed.
    bool printListing(QWidget* owner);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void mListDblClick();
    void closeClick();

    State& m_state;
    Windows& m_windows;
    QPlainTextEdit* m_list = nullptr;
    std::vector<std::string> m_shown; // the lines in the memo
};

} // namespace kestrune
