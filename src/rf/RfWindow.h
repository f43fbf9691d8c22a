#pragma once

#include "app/Windows.h"
#include "core/State.h"

#include <QMainWindow>

namespace kestrune {

/// The RF window: rf parameters of the ring and the power budget of its cavities.
class RfWindow : public QMainWindow
{
    Q_OBJECT
public:
    RfWindow(State& state, Windows& windows, QWidget* parent = nullptr);

private:
    State& m_state;
    Windows& m_windows;
};

} // namespace kestrune
