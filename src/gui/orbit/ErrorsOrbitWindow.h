#pragma once

#include "core/State.h"
#include "core/orbit/ClosedOrbit.h"
#include "core/orbit/ErrorSeeds.h"
#include "core/orbit/ErrorSet.h"
#include "core/orbit/OrbitCorrection.h"
#include "core/orbit/SeedApertures.h"
#include "gui/Windows.h"

#include <QMainWindow>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QTableWidget;
class QTabWidget;
class QThread;
class QTimer;

namespace kestrune {

class ClosedOrbitChart;
class CorrectionCharts;
class Messages;
class SeedHistogram;

/// The errors and orbit window: an error set (a JSON file, its text editable) given to the design's
/// elements with a seed or taken off again, the closed orbit along the cell before and after a correction by
/// the kickers (SVD or MICADO), the kicks and singular values, and a study of many seeds on a worker thread
/// whose statistics and histograms fill in as the seeds come. Applying, removing and correcting are steps
/// of the design's undo history; the results belong to the design they were computed for.
class ErrorsOrbitWindow : public QMainWindow
{
    Q_OBJECT
public:
    ErrorsOrbitWindow(State& state, Windows& windows, QWidget* parent = nullptr);
    ~ErrorsOrbitWindow() override;

    /// Reads the file chooseErrorFile names into the error set box (its seed into the seed box).
    void bbOpenClick();
    /// Gives the design's elements the errors of the set in the box, drawn with the seed of the seed box.
    void bbApplyClick();
    /// Takes every error off the design's elements.
    void bbRemoveClick();
    /// The closed orbit of the design as it is.
    void bbOrbitClick();
    /// Corrects the closed orbit with the settings of the boxes and writes the kicks into the kickers.
    void bbCorrectClick();
    /// Runs the seeds of the seed box on a worker thread.
    void bbSeedsClick();
    void bbCancelClick();

    /// The error set file to open, empty to cancel; tests replace it.
    std::function<QString()> chooseErrorFile;

    /// Results of another design (an undo, a lattice opened, a strength changed) are taken off.
    void designChanged();

    bool running() const { return m_worker != nullptr; }
    ClosedOrbitChart* orbitChart() const { return m_orbitChart; }
    CorrectionCharts* correctionCharts() const { return m_correctionCharts; }
    const std::optional<ClosedOrbit>& orbitBefore() const { return m_before; }
    const std::optional<ClosedOrbit>& orbitAfter() const { return m_after; }
    const std::optional<OrbitCorrection>& correction() const { return m_correction; }
    const std::vector<SeedOutcome>& seeds() const { return m_seeds; }

signals:
    /// A step was recorded in the design's history (the beam-dynamics window follows).
    void historyChanged();
    /// A study of seeds ended (finished or cancelled).
    void seedsFinished();

private:
    struct SeedRun;

    Messages& messages();
    QWidget* buildErrorSet();
    QWidget* buildCorrection();
    QWidget* buildSeeds();
    QWidget* buildResults();
    /// The set of the box; nothing after a message naming the box.
    std::optional<ErrorSet> readSet();
    /// The seed box; nothing after a message naming it.
    std::optional<std::uint64_t> readSeed();
    std::optional<OrbitCorrectionSettings> readCorrection();
    /// The scans of every seed the check boxes ask for, with the turns of their box; nothing after a
    /// message naming the box.
    std::optional<SeedApertureScans> readSeedScans();
    void methodClick();
    /// Takes the orbit of the design now as the orbit before a correction, with none after.
    void showDesignOrbit();
    void showOrbits();
    void showCorrection();
    void clearResults(const QString& why);
    std::uint64_t designNow() const;
    /// The design changed while the seeds ran: the study is cancelled and none of its seeds is kept.
    void dropSeedRun();
    void takeSeeds();
    void seedsDone();
    void showSeeds();

    State& m_state;
    Windows& m_windows;

    QPlainTextEdit* m_mErrorSet = nullptr;
    QLineEdit* m_edSeed = nullptr;
    QRadioButton* m_rbSvd = nullptr;
    QRadioButton* m_rbMicado = nullptr;
    QLineEdit* m_edSingularValues = nullptr;
    QLineEdit* m_edCut = nullptr;
    QLineEdit* m_edKickers = nullptr;
    QLineEdit* m_edKickLimit = nullptr;
    QLineEdit* m_edMonitorsOff = nullptr;
    QLineEdit* m_edSeeds = nullptr;
    QCheckBox* m_cbCorrectSeeds = nullptr;
    QCheckBox* m_cbSeedsDa = nullptr; // the dynamic aperture of every seed
    QCheckBox* m_cbSeedsMa = nullptr; // the momentum acceptance of every seed
    QLineEdit* m_edSeedTurns = nullptr;
    QPushButton* m_bbSeeds = nullptr;
    QPushButton* m_bbCancel = nullptr;
    QProgressBar* m_pbSeeds = nullptr;
    QLabel* m_lResult = nullptr;
    QLabel* m_lOptics = nullptr; // the optics about the orbit
    QTabWidget* m_tabs = nullptr;
    ClosedOrbitChart* m_orbitChart = nullptr;
    CorrectionCharts* m_correctionCharts = nullptr;
    QLabel* m_lCapped = nullptr;
    QTableWidget* m_tbStatistics = nullptr;
    SeedHistogram* m_orbitXHistogram = nullptr;
    SeedHistogram* m_orbitYHistogram = nullptr;
    SeedHistogram* m_beatXHistogram = nullptr;
    SeedHistogram* m_beatYHistogram = nullptr;
    SeedHistogram* m_daHistogram = nullptr;
    SeedHistogram* m_maHistogram = nullptr;

    std::uint64_t m_design = 0; // stamp of the design the results belong to
    // the errors of the elements (0 .. count) before the last "apply" and those it gave them
    std::vector<ElementErrors> m_errorsBeforeSet, m_errorsOfSet;
    std::optional<ClosedOrbit> m_before, m_after;
    std::optional<OrbitCorrection> m_correction;
    std::vector<SeedOutcome> m_seeds;
    bool m_seedsCorrected = false;
    SeedApertureScans m_seedScans; // what the seeds shown were scanned for
    int m_seedsAsked = 0;

    QThread* m_worker = nullptr;
    QTimer* m_poll = nullptr;
    std::shared_ptr<SeedRun> m_run;
};

} // namespace kestrune
