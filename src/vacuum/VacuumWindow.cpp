#include "vacuum/VacuumWindow.h"

namespace kestrune {

VacuumWindow::VacuumWindow(State& state, Windows& windows, QWidget* parent)
    : QMainWindow(parent), m_state(state), m_windows(windows)
{
    setObjectName("TfVacuum");
    setWindowTitle("vacuum pressure distribution");
    resize(760, 540);
}

} // namespace kestrune
