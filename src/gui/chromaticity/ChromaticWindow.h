#pragma once

#include "core/Messages.h"
#include "core/State.h"
#include "core/chromaticity/Chromaticity.h"
#include "core/tracking/LinearMapTracking.h"
#include "core/tracking/SingleParticle.h"
#include "gui/Windows.h"

#include <QMainWindow>
#include <cstdint>
#include <functional>

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace kestrune {

class TrackingChart;

/// The chromaticity window: sextupole families for wanted chromaticities and multi-turn tracking.
class ChromaticWindow : public QMainWindow
{
    Q_OBJECT
public:
    ChromaticWindow(State& state, Windows& windows, QWidget* parent = nullptr);

    TrackingChart* chart() const { return m_chart; }

    /// The sextupole correction for the wanted chromaticities typed.
    void bbUpdateClick();
    /// Tracks one particle from the typed start over the typed number of turns into the chart. A run that
    /// takes longer than a moment shows its progress with "stop"; a stopped run keeps what it drew and
    /// leaves the start values at the particle's last turn.
    void bbTrackClick();
    /// How long (ms) a run goes before its progress dialog comes up.
    void setProgressDelay(int ms) { m_progressDelayMs = ms; }
    /// Relabel the start boxes for millimetres and milliradians, or for numbers of sigmas.
    void rbMMClick();
    void rbSigmaClick();
    /// z-delta, l_o and the rf cavity belong to the symplectic model: enabled with it alone.
    void rbModelClick();
    void btAutoClick();
    /// Fixes the axes to the four scale boxes and adds the corner points.
    void bbUseClick();
    void printGraphClick();
    void saveGraphWmfClick();
    /// A correction shown for another design (a step undone, a lattice opened since) is cleared to "n/a".
    void designChanged();

signals:
    /// A step went into the undo history (the sextupole correction).
    void historyChanged();

protected:
    bool event(QEvent* event) override;

private:
    Messages& messages();
    void buildCorrectionGroup();
    void buildParticleGroup();
    QGroupBox* buildScaleGroup();
    void buildMenu();
    void showCorrection(const ChromaticityCorrection& c);
    /// Reads the single-particle group into a request; nothing when a box was refused.
    std::optional<TrackingRequest> readRequest();
    void runTracking(const TrackingRequest& request);
    void runSymplectic(const TrackingRequest& request, double lengthMm);

    State& m_state;
    Windows& m_windows;
    TrackingChart* m_chart = nullptr;
    int m_progressDelayMs = 700;

    // latticeStamp and sextupoleStamp of the design the correction shown belongs to; 0 while none is shown
    std::uint64_t m_correctionLattice = 0;
    std::uint64_t m_correctionSextupoles = 0;

    QGroupBox* m_gbCorrection = nullptr;
    QLineEdit* m_edxiwx = nullptr;
    QLineEdit* m_edxiwy = nullptr;
    QLabel* m_lxixo = nullptr;
    QLabel* m_lxiyo = nullptr;
    QLabel* m_lxisx = nullptr;
    QLabel* m_lxisy = nullptr;
    QLabel* m_ldxix = nullptr;
    QLabel* m_ldxiy = nullptr;
    QLabel* m_lxix = nullptr;
    QLabel* m_lxiy = nullptr;
    QLabel* m_lSF = nullptr;
    QLabel* m_lSD = nullptr;

    QGroupBox* m_gbParticle = nullptr;
    QLineEdit* m_edXo = nullptr;
    QLineEdit* m_edXPo = nullptr;
    QLineEdit* m_edYo = nullptr;
    QLineEdit* m_edYPo = nullptr;
    QLabel* m_lxo = nullptr;
    QLabel* m_lxpo = nullptr;
    QLabel* m_lyo = nullptr;
    QLabel* m_lypo = nullptr;
    QLineEdit* m_edLo = nullptr;
    QLabel* m_llo = nullptr;
    QLineEdit* m_edNumTurns = nullptr;
    QRadioButton* m_rbSymplectic = nullptr;
    QRadioButton* m_rbLinearMaps = nullptr;
    QRadioButton* m_rbZDelta = nullptr;
    QCheckBox* m_cbRf = nullptr;
    QLabel* m_lTunes = nullptr;
    QRadioButton* m_rbAdd = nullptr;
    QRadioButton* m_rbReplace = nullptr;
    QRadioButton* m_rbXXp = nullptr;
    QRadioButton* m_rbYYP = nullptr;
    QRadioButton* m_rbMM = nullptr;
    QRadioButton* m_rbSigma = nullptr;
    QCheckBox* m_cbOffMom = nullptr;
    QLineEdit* m_edOffMom = nullptr;
    QCheckBox* m_cbAperture = nullptr;
    QLineEdit* m_edAperture = nullptr;

    QLineEdit* m_edWidthMin = nullptr;
    QLineEdit* m_edWidthMax = nullptr;
    QLineEdit* m_edHeightMin = nullptr;
    QLineEdit* m_edHeightMax = nullptr;
};

} // namespace kestrune
