#pragma once

#include "core/Messages.h"
#include "core/State.h"
#include "core/aperture/ScanThreads.h"
#include "core/nonlinear/FrequencyMap.h"
#include "core/resonance/Resonance.h"
#include "gui/Windows.h"

#include <QMainWindow>
#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPrinter;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QThread;
class QTimer;

namespace kestrune {

class FrequencyMapChart;

/// The frequency map window: a grid of start amplitudes of the closed ring tracked twice N turns on a
/// worker thread (progress bar, cancel), the diffusion index of each point drawn over the amplitudes and
/// over the tunes, the tunes handed to the resonance diagram, the points saved as CSV.
class FrequencyMapWindow : public QMainWindow
{
    Q_OBJECT
public:
    FrequencyMapWindow(State& state, Windows& windows, QWidget* parent = nullptr);
    ~FrequencyMapWindow() override;

    FrequencyMapChart* chart() const { return m_chart; }
    /// True while the map is tracked on the worker thread.
    bool running() const { return m_worker != nullptr; }
    /// The map shown, with the settings it was computed for.
    const std::optional<FrequencyMap>& result() const { return m_map; }
    const FrequencyMapSettings& settings() const { return m_settings; }

    /// Starts the map of the typed settings.
    void bbRunClick();
    /// Asks the running map to stop; the points done so far are shown.
    void bbCancelClick();
    /// Writes the points shown to the file chooseCsvFile names.
    void saveCsvClick();
    void printClick();
    void saveGraphClick();

    /// The file the CSV goes to, empty to cancel; tests replace it.
    std::function<QString()> chooseCsvFile;
    /// The print dialog; tests replace it.
    std::function<bool(QPrinter&)> choosePrinter;

    /// A map of another design (a lattice opened since, a step undone) is taken off the chart.
    void designChanged();

signals:
    /// A map ended (finished or cancelled) and is shown.
    void scanFinished();
    /// The tunes of the map shown, for the resonance diagram; empty when there is none.
    void footprintChanged(const kestrune::TuneFootprint& footprint);

private:
    Messages& messages();
    QWidget* buildInputs();
    QWidget* buildRunPanel();
    void buildMenus();
    void planeClick();
    /// The settings of the boxes; nothing after a message naming the box.
    std::optional<FrequencyMapSettings> readSettings();
    void scanDone();
    void setRunning(bool running);
    void showMap();

    State& m_state;
    Windows& m_windows;
    FrequencyMapChart* m_chart = nullptr;

    QRadioButton* m_rbXY = nullptr;
    QRadioButton* m_rbXDelta = nullptr;
    QLineEdit* m_edNx = nullptr;
    QLineEdit* m_edNy = nullptr;
    QLineEdit* m_edXMax = nullptr;
    QLineEdit* m_edYMax = nullptr;
    QLineEdit* m_edDeltaMax = nullptr;
    QLineEdit* m_edDelta = nullptr;
    QLineEdit* m_edTurns = nullptr;
    QCheckBox* m_cbPerTurn = nullptr;
    QLineEdit* m_edApertureX = nullptr;
    QLineEdit* m_edApertureY = nullptr;
    QPushButton* m_bbRun = nullptr;
    QPushButton* m_bbCancel = nullptr;
    QProgressBar* m_pbRun = nullptr;
    QLabel* m_lResult = nullptr;

    QThread* m_worker = nullptr;
    QTimer* m_poll = nullptr;
    std::atomic<bool> m_cancel{false};
    std::atomic<double> m_progress{0};
    std::shared_ptr<FrequencyMap> m_running; // filled by the worker

    std::optional<FrequencyMap> m_map;
    FrequencyMapSettings m_settings;
    std::uint64_t m_lattice = 0; // trackingFingerprint of the design the map belongs to
};

} // namespace kestrune
