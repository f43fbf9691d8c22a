#pragma once

#include "app/Windows.h"
#include "core/State.h"

#include <QMainWindow>

namespace kestrune {

/// The beam-dynamics window: lattice drawing, curves and the editing of the beam line.
class MagStructWindow : public QMainWindow
{
    Q_OBJECT
public:
    MagStructWindow(State& state, Windows& windows, QWidget* parent = nullptr);

    /// Shows or hides the menu entry "ring design" (hidden for a transport line).
    void setRingDesignVisible(bool visible);
    /// Replaces the title of the lattice chart by one line.
    void setChartTitle(const QString& title);

private:
    State& m_state;
    Windows& m_windows;
};

} // namespace kestrune
