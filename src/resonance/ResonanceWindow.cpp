#include "resonance/ResonanceWindow.h"

namespace kestrune {

ResonanceWindow::ResonanceWindow(State& state, Windows& windows, QWidget* parent)
    : QMainWindow(parent), m_state(state), m_windows(windows)
{
    setObjectName("TfResonance");
    setWindowTitle("tune resonance diagram");
    resize(560, 560);
}

} // namespace kestrune
