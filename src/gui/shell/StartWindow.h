#pragma once

#include "core/State.h"
#include "gui/UserData.h"
#include "gui/Windows.h"

#include <QMainWindow>
#include <functional>

class QLabel;
class QToolBar;

namespace kestrune {

class Messages;

/// The start window: picks the particle, opens the beam-dynamics window as a transport line or a
/// periodic lattice, and ends the program. Created first; its creation sets the start particle.
class StartWindow : public QMainWindow
{
    Q_OBJECT
public:
    StartWindow(State& state, Windows& windows, QWidget* parent = nullptr,
                const QString& dataDirectory = userDataDirectory());

    void partTypeClick();
    void tbTranspClick();
    void tbPeriodClick();
    /// Asks for the beam-dynamics window; mode "TR" hides its ring design, the chart gets title.
    void setChart(const QString& mode, const QString& title);
    /// Closes the window and so ends the program, unless the end check keeps it running.
    void closeProgramClick();
    /// Asked before the program ends (the design's unsaved changes); false keeps the program running.
    void setEndCheck(std::function<bool()> check) { m_endCheck = std::move(check); }

signals:
    /// The beam-dynamics window is asked for, for a ring design or a transport line.
    void beamDynamicsAsked(bool ringDesign, const QString& title);
    /// The start window was closed: the program ends.
    void programEnded();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildPicture();
    void buildToolBar();
    Messages& messages();

    State& m_state;
    Windows& m_windows;
    std::function<bool()> m_endCheck;
};

} // namespace kestrune
