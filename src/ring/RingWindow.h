#pragma once

#include "app/Windows.h"
#include "core/State.h"

#include <QMainWindow>

namespace kestrune {

/// The ring window: closes the cell into a ring, expands it and leads to the ring's tool windows.
class RingWindow : public QMainWindow
{
    Q_OBJECT
public:
    RingWindow(State& state, Windows& windows, QWidget* parent = nullptr);

private:
    State& m_state;
    Windows& m_windows;
};

} // namespace kestrune
