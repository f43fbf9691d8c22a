#include "editor/MagStructWindow.h"

namespace kestrune {

MagStructWindow::MagStructWindow(State& state, Windows& windows, QWidget* parent)
    : QMainWindow(parent), m_state(state), m_windows(windows)
{
    setWindowTitle("Magnet Lattice and Beam Dynamics Functions");
}

void MagStructWindow::setRingDesignVisible(bool) {}

void MagStructWindow::setChartTitle(const QString&) {}

} // namespace kestrune
