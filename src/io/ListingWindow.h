#pragma once

#include "app/Windows.h"
#include "core/State.h"

#include <QMainWindow>

class QPlainTextEdit;

namespace kestrune {

/// The list window: shows the list text of the state.
class ListingWindow : public QMainWindow
{
    Q_OBJECT
public:
    ListingWindow(State& state, Windows& windows, QWidget* parent = nullptr);

    /// Rewrites the memo from the state's list text and shows the window.
    void showList();

private:
    State& m_state;
    Windows& m_windows;
    QPlainTextEdit* m_list = nullptr;
};

} // namespace kestrune
