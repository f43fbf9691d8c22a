#include "lifetime/LifeTimeWindow.h"

namespace kestrune {

LifeTimeWindow::LifeTimeWindow(State& state, Windows& windows, QWidget* parent)
    : QMainWindow(parent), m_state(state), m_windows(windows)
{
    setObjectName("TfLifeTime");
    setWindowTitle("Beam Lifetime");
    resize(720, 520);
}

} // namespace kestrune
