#include "rf/RfWindow.h"

namespace kestrune {

RfWindow::RfWindow(State& state, Windows& windows, QWidget* parent)
    : QMainWindow(parent), m_state(state), m_windows(windows)
{
    setObjectName("TfRF");
    setWindowTitle("rf system");
    resize(760, 560);
    // a ring without rf settings starts from 1 MV and 100 kW
    if (m_state.rf.voltage == 0)
        m_state.rf.voltage = 1e6;
    if (m_state.rf.power == 0)
        m_state.rf.power = 1e5;
}

} // namespace kestrune
