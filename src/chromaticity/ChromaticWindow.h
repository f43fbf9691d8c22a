#pragma once

#include "app/Windows.h"
#include "core/State.h"

#include <QMainWindow>

namespace kestrune {

/// The chromaticity window: sextupole families for wanted chromaticities and multi-turn tracking.
class ChromaticWindow : public QMainWindow
{
    Q_OBJECT
public:
    ChromaticWindow(State& state, Windows& windows, QWidget* parent = nullptr);

private:
    State& m_state;
    Windows& m_windows;
};

} // namespace kestrune
