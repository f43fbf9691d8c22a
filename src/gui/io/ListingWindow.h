#pragma once

#include "core/State.h"
#include "gui/Windows.h"

#include <QMainWindow>
#include <string>
#include <vector>

class QLabel;
class QTimer;
class QPlainTextEdit;

namespace kestrune {

/// The list window "List of Parameters": the state's list text in one read-only memo.
class ListingWindow : public QMainWindow
{
    Q_OBJECT
public:
    ListingWindow(State& state, Windows& windows, QWidget* parent = nullptr);

    /// Rewrites the memo from the state's list text and shows the window, scrolled to the newest list.
    void showList();
    /// Shows in the status line whether new lists are added to the text or replace it.
    void showMode();

    /// The font of the list text, which the printer takes over.
    QFont listFont() const;
    /// Shows the print dialog of owner and prints the list text; false when cancelled or failed.
    bool printListing(QWidget* owner);

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    /// The memo from the state's list text, scrolled to the newest list: the lines up to a little past
    /// the newest list's first go in at once, the rest follow in blocks from the event loop, so that a
    /// list of 100 000 lines shows at once and the window stays live while it fills.
    void fillMemo();
    /// Appends the next block of the lines fillMemo left for later.
    void appendBlock();
    void mListDblClick();
    void closeClick();

    State& m_state;
    Windows& m_windows;
    QPlainTextEdit* m_list = nullptr;
    QLabel* m_mode = nullptr;
    unsigned long m_shownRevision = 0; // the list text's revision the memo shows
    std::vector<std::string> m_lines;  // the text's lines as fillMemo formatted them
    std::size_t m_filled = 0;          // how many of them the memo holds
    QTimer* m_feed = nullptr;          // appends the next block
};

} // namespace kestrune
