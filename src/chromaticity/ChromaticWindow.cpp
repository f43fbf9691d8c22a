#include "chromaticity/ChromaticWindow.h"

namespace kestrune {

ChromaticWindow::ChromaticWindow(State& state, Windows& windows, QWidget* parent)
    : QMainWindow(parent), m_state(state), m_windows(windows)
{
    setObjectName("TfChromatic");
    setWindowTitle("chromaticity correction and particle tracking");
    resize(820, 600);
}

} // namespace kestrune
