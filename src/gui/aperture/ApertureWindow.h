#pragma once

#include "core/Messages.h"
#include "core/State.h"
#include "core/aperture/ApertureRing.h"
#include "core/aperture/DynamicAperture.h"
#include "core/aperture/MomentumAcceptance.h"
#include "gui/Windows.h"

#include <QMainWindow>
#include <atomic>
#include <functional>
#include <optional>

class QGroupBox;
class QLabel;
class QLineEdit;
class QCustomPlot;
class QPrinter;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QThread;
class QTimer;

namespace kestrune {

class AcceptanceChart;
class DynamicApertureChart;

/// The aperture window: the dynamic aperture and the local momentum acceptance of the closed ring,
/// computed on a worker thread with a progress bar and a cancel button, shown in two charts and listed.
class ApertureWindow : public QMainWindow
{
    Q_OBJECT
public:
    ApertureWindow(State& state, Windows& windows, QWidget* parent = nullptr);
    ~ApertureWindow() override;

    DynamicApertureChart* dynamicChart() const { return m_dynamicChart; }
    AcceptanceChart* acceptanceChart() const { return m_acceptanceChart; }
    /// True while a scan runs on the worker thread.
    bool running() const { return m_worker != nullptr; }
    /// The results shown last.
    const std::optional<DynamicAperture>& dynamicResult() const { return m_dynamic; }
    const std::optional<ApertureGrid>& gridResult() const { return m_grid; }
    const std::optional<MomentumAcceptance>& acceptanceResult() const { return m_acceptance; }

    /// Starts the dynamic aperture (radial search or grid) of the typed settings.
    void bbDynamicClick();
    /// Starts the local momentum acceptance of the typed settings.
    void bbAcceptanceClick();
    /// Asks the running scan to stop; what it found so far is shown.
    void bbCancelClick();
    void listDynamicClick();
    void listAcceptanceClick();
    void printDynamicClick();
    void printAcceptanceClick();
    void saveDynamicClick();
    void saveAcceptanceClick();

    /// The print dialog; tests replace it.
    std::function<bool(QPrinter&)> choosePrinter;

    /// Results of another design (a lattice opened since, a step undone) are taken off the charts.
    void designChanged();

signals:
    /// A scan ended (finished or cancelled) and its results are shown.
    void scanFinished();

private:
    Messages& messages();
    QGroupBox* buildApertureGroup();
    QGroupBox* buildDynamicGroup();
    QGroupBox* buildAcceptanceGroup();
    QWidget* buildRunPanel();
    void buildMenus();
    /// The physical aperture of the boxes (m); nothing after a message.
    std::optional<Aperture> readAperture();
    /// Runs work on the worker thread; finish runs on this thread when it is done.
    void runScan(std::function<void(const ScanControl&)> work, std::function<void()> finish);
    void scanDone();
    void setRunning(bool running);
    void showDynamicAperture();
    void showGrid();
    void showAcceptance();
    void print(QCustomPlot* plot);

    State& m_state;
    Windows& m_windows;
    DynamicApertureChart* m_dynamicChart = nullptr;
    AcceptanceChart* m_acceptanceChart = nullptr;

    QLineEdit* m_edApertureX = nullptr;
    QLineEdit* m_edApertureY = nullptr;
    QLineEdit* m_edAngles = nullptr;
    QLineEdit* m_edDaTurns = nullptr;
    QLineEdit* m_edDaDelta = nullptr;
    QLineEdit* m_edDaResolution = nullptr;
    QRadioButton* m_rbRadial = nullptr;
    QRadioButton* m_rbGrid = nullptr;
    QLineEdit* m_edGridX = nullptr;
    QLineEdit* m_edGridY = nullptr;
    QLineEdit* m_edMaTurns = nullptr;
    QLineEdit* m_edMaResolution = nullptr;
    QLineEdit* m_edEvery = nullptr;
    QPushButton* m_bbDynamic = nullptr;
    QPushButton* m_bbAcceptance = nullptr;
    QPushButton* m_bbCancel = nullptr;
    QProgressBar* m_pbRun = nullptr;
    QLabel* m_lResult = nullptr;

    QThread* m_worker = nullptr;
    QTimer* m_poll = nullptr;
    std::atomic<bool> m_cancel{false};
    std::atomic<double> m_progress{0};
    std::function<void()> m_finish;

    // the last results, with what they were computed for
    std::optional<ApertureRing> m_ring;
    std::optional<DynamicAperture> m_dynamic;
    DynamicApertureSettings m_dynamicSettings;
    std::optional<ApertureGrid> m_grid;
    ApertureGridSettings m_gridSettings;
    std::optional<MomentumAcceptance> m_acceptance;
    MomentumAcceptanceSettings m_acceptanceSettings;
    std::uint64_t m_acceptanceLattice = 0;
    std::uint64_t m_shownLattice = 0; // trackingFingerprint of the design the results shown belong to
};

} // namespace kestrune
