#pragma once

#include "app/Windows.h"
#include "core/State.h"

#include <QMainWindow>

namespace kestrune {

/// The resonance window: the working point among the resonance lines up to third order.
class ResonanceWindow : public QMainWindow
{
    Q_OBJECT
public:
    ResonanceWindow(State& state, Windows& windows, QWidget* parent = nullptr);

private:
    State& m_state;
    Windows& m_windows;
};

} // namespace kestrune
