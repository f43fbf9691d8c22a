#pragma once

#include "app/Windows.h"
#include "core/State.h"

#include <QMainWindow>

namespace kestrune {

/// The vacuum window: pressure profile along one period from the pumps and the gas load.
class VacuumWindow : public QMainWindow
{
    Q_OBJECT
public:
    VacuumWindow(State& state, Windows& windows, QWidget* parent = nullptr);

private:
    State& m_state;
    Windows& m_windows;
};

} // namespace kestrune
