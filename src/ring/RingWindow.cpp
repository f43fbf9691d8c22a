#include "ring/RingWindow.h"

#include "core/Kinematics.h"

namespace kestrune {

RingWindow::RingWindow(State& state, Windows& windows, QWidget* parent)
    : QMainWindow(parent), m_state(state), m_windows(windows)
{
    setObjectName("TfRing");
    setWindowTitle("design a storage ring");
    resize(800, 560);
    // start values of the ring: open, one superperiod, 1 % coupling, cp = 1 GeV, 100 mA
    m_state.ringClosed = false;
    m_state.line.superPeriods = 1;
    m_state.ringParams.coupling = 0.01;
    updateKinematics(m_state.beam, EnergyKind::Momentum, 1e9);
    m_state.beamCurrent = 0.1;
}

} // namespace kestrune
