#pragma once

#include "app/Windows.h"
#include "core/State.h"

#include <QMainWindow>

namespace kestrune {

/// The lifetime window: gas scattering, bremsstrahlung, quantum and Touschek lifetimes combined.
class LifeTimeWindow : public QMainWindow
{
    Q_OBJECT
public:
    LifeTimeWindow(State& state, Windows& windows, QWidget* parent = nullptr);

private:
    State& m_state;
    Windows& m_windows;
};

} // namespace kestrune
