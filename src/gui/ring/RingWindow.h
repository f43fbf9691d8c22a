#pragma once

#include "core/Messages.h"
#include "core/State.h"
#include "gui/FileDialog.h"
#include "gui/Windows.h"

#include <QMainWindow>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

class QAction;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPrinter;
class QPushButton;
class QRadioButton;
class QToolBar;
class QToolButton;

namespace kestrune {

class ListSink;
class ToolWindowMessages;
struct GeometryView;

/// The file and print choices of the ring window; tests replace them so that no dialog opens.
struct RingDialogs
{
    /// Save dialog opened with preset (a file name or a folder): the chosen file name, empty when
    /// cancelled.
    SaveFileDialog saveFile;
    /// Print dialog: true when confirmed.
    std::function<bool(QPrinter&)> choosePrinter;
};

/// The ring window: closes the cell into a ring, expands it, shows the equilibrium beam and leads to the
/// ring's tool windows and the lists.
class RingWindow : public QMainWindow
{
    Q_OBJECT
public:
    RingWindow(State& state, Windows& windows, QWidget* parent = nullptr);
    ~RingWindow() override;

    RingDialogs& dialogs() { return m_dialogs; }

    /// Activation: tool bar, beam boxes and step buttons from the state; for a closed ring the geometry,
    /// the ring pass and the beam parameters. The panel shown stays.
    void formActivate();
    /// The design may have changed: results of another design are cleared, and a lattice opened or
    /// imported since brings its superperiods into the box.
    void designChanged();
    /// The tool buttons "tracking", "rf", "life time", "vacuum" and "aperture" are shown exactly when the
    /// ring is closed.
    void showToolButtons();

    // tool bar and the buttons of the geometry group
    void tbRingLatClick();
    void bbRingClick();
    void bbSuperPClick();
    void tbChromaticityClick();
    void tbRfClick();
    void tbLifeTimeClick();
    void tbVacuumClick();
    void tbApertureClick();
    void tbFrequencyMapClick();
    void tbSextupoleKnobsClick();
    void tbErrorsOrbitClick();
    // File
    void saveAsClick();
    // optics
    void betaFunctionsClick();
    void beamParametersClick();
    void resonanceClick();
    void btUpdateClick();
    // lists
    void listShowClick();
    void listAddClick();
    void listReplaceClick();
    void listClearClick();
    void parameterListClick();
    void magnetListsClick();
    void listBetaFunctionsClick();
    void rfParameterClick();
    void saveListClick();
    void printListClick();

signals:
    /// A step went into the undo history (the closing scale).
    void historyChanged();

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildGeometryGroup();
    void buildBeamGroup();
    void buildStepGroup();
    void buildToolBar();
    void buildMenus();
    void installDefaultDialogs();

    /// Geometry: closing, circumference, frequencies, the perfect-ring test; into the labels of the
    /// geometry group, whichever group is shown.
    void geometry();
    /// The geometry with asking answering its questions; recorded: one step of the history (an activation
    /// refreshes without one).
    void geometry(Messages& asking, bool recorded);
    /// The labels of the geometry group and of the beam-parameter group without results.
    void clearGeometry();
    void clearBeamParameters();
    void showGeometry(const GeometryView& view);
    /// Runs a geometry; what it changed in the design (dipoles scaled, superperiods, rf frequency, the
    /// closed flag) is one undoable step.
    std::optional<GeometryView> recordClosing(const std::function<std::optional<GeometryView>()>& run);
    /// The ring pass's step settings from the (hidden) step group.
    void applySteps();
    /// Betafunctions with the window's step, into list when given; the design's step stays. False when
    /// the cell has no periodic solution.
    bool ringPass(ListSink* list = nullptr);
    /// UpdateBPar: the beam boxes, the integrals and the equilibrium, into the beam group's labels.
    void updateBPar();
    void showBeamParameters();
    /// The mode emittances of the ring with the state's particle and rf voltage, and their source label;
    /// for a machine with errors or kicks those about its closed orbit (orbitRing), under the line that
    /// says so, or the line saying why it has none above the design's.
    void showModeEmittances();
    Messages& messages();

    State& m_state;
    Windows& m_windows;
    std::unique_ptr<ToolWindowMessages> m_messages;
    RingDialogs m_dialogs;

    QGroupBox* m_gbGeometry = nullptr;
    QLineEdit* m_edNumSup = nullptr;
    QLineEdit* m_edRFF = nullptr;
    QLabel* m_lTotDefl = nullptr;
    QLabel* m_lCircum = nullptr;
    QLabel* m_lFrev = nullptr;
    QLabel* m_lHarm = nullptr;
    QLabel* m_lPerfectRing = nullptr;
    QLabel* m_lFull = nullptr;

    QGroupBox* m_gbZstep = nullptr;
    QRadioButton* m_rbEndEl = nullptr;
    QRadioButton* m_rbShort = nullptr;
    QLineEdit* m_edStep = nullptr;

    QGroupBox* m_gbBeamPar = nullptr;
    QLineEdit* m_edEn = nullptr;
    QLineEdit* m_edCur = nullptr;
    QLineEdit* m_edCoupling = nullptr;
    QLabel* m_lOrbitRing = nullptr;         // what the values of a machine with errors are about
    QLabel* m_lOrbitChromaticity = nullptr; // its chromaticities about the closed orbit

    // the stamps of the designs the labels were filled for, and the lattice loads seen
    std::uint64_t m_geometryStamp = 0;
    std::uint64_t m_beamStamp = 0;
    std::uint64_t m_beamSextupoles = 0; // the corrected chromaticity follows the sextupoles
    unsigned long m_designLoads = 0;

    QToolBar* m_toolBar = nullptr;
    QAction* m_tbRingLat = nullptr;
    QAction* m_tbBeamDynamics = nullptr;
    QAction* m_tbChromaticity = nullptr;
    QAction* m_tbRf = nullptr;
    QAction* m_tbLifeTime = nullptr;
    QAction* m_tbVacuum = nullptr;
    QAction* m_tbAperture = nullptr;
    QAction* m_tbFrequencyMap = nullptr;
    QAction* m_tbSextupoleKnobs = nullptr;
    QAction* m_tbErrorsOrbit = nullptr;
    QAction* m_tbList = nullptr;
};

} // namespace kestrune
