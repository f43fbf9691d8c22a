#pragma once

#include "core/Messages.h"
#include "core/State.h"
#include "core/rf/ChartLimits.h"
#include "gui/HistoryStep.h"
#include "gui/Windows.h"

#include <QMainWindow>
#include <cstdint>
#include <functional>
#include <memory>

class QAction;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QRadioButton;

namespace kestrune {

class RfChartPanel;
class ToolWindowMessages;
struct RfBeamInput;
struct RfParameterView;

/// The rf window `TfRF`: rf parameters of the ring, the power budget of its cavities, and the graphs
/// of the longitudinal phase space, the rf potential and energy scans.
class RfWindow : public QMainWindow
{
    Q_OBJECT
public:
    /// What the chart shows.
    enum class Graph { None, EnergyScan, PhaseSpace, Potential };

    RfWindow(State& state, Windows& windows, QWidget* parent = nullptr);
    ~RfWindow() override;

    /// The save dialog of "Save &As...": the chosen file name, empty when cancelled (tests replace it).
    void setSaveLatticeDialog(std::function<QString()> dialog) { m_saveLatticeDialog = std::move(dialog); }

    RfChartPanel* chartPanel() const { return m_chartPanel; }
    Graph graph() const { return m_graph; }

    // the parameter panel and the power budget
    void formActivate();
    /// Results of another design (a lattice opened since, a step undone) are cleared to "n/a" and the
    /// boxes take the design's values.
    void designChanged();
    void bbUpdateClick();
    void rfSystemClick();
    void bbRfUpdateClick();
    void rbScaleImpedanceClick();
    void rbSelectImpedanceClick();
    void saveAsClick();
    // the graphs
    void mnEscanClick();
    void mnGraphsClick();
    void graphEscanClick(int tag);
    void phaseSpaceClick();
    void rfPotentialClick();
    void printGraphClick();
    void saveGraphWmfClick();

signals:
    /// A step was added to the design's history (momentum, current, voltage, power, cavities changed).
    void historyChanged();

protected:
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildPanels();
    QFrame* buildRfPanel();
    QGroupBox* buildBeamGroup();
    QFrame* buildParameterPanel();
    QFrame* buildRangePanel();
    QGroupBox* buildCavityGroup();
    QGroupBox* buildImpedanceGroup();
    void buildMenus();
    void showParameters(const RfParameterView& view);
    /// The boxes of the beam and the rf settings from the state.
    void fillBoxes();
    /// The momentum, current and rf settings an action stores make one step of the design's history.
    HistoryStep recordedStep();

    /// `Calcparameter`: the parameter update from the boxes; false when it was refused.
    bool calcparameter();
    RfBeamInput beamInput() const;
    /// Shows the chart panel and hides the power budget, as every graph does.
    void showChart();
    void enableGraphMenus();
    Messages& messages();

    State& m_state;
    Windows& m_windows;
    std::unique_ptr<ToolWindowMessages> m_messages;
    std::function<QString()> m_saveLatticeDialog;

    Graph m_graph = Graph::None;
    ProposedLimits m_proposed; // of the last energy scan
    double m_scanMinGeV = 0;   // range of the last energy scan
    double m_scanMaxGeV = 0;

    std::uint64_t m_shownStamp = 0; // rfStamp of the design and settings the results shown belong to

    QFrame* m_pnRF = nullptr;
    QLineEdit* m_edRFVolt = nullptr;
    QLineEdit* m_edRfPow = nullptr;
    QLineEdit* m_edAddlLoss = nullptr;
    QLabel* m_lRFF = nullptr;
    QLabel* m_lHarm = nullptr;
    QLabel* m_lELoss = nullptr;
    QGroupBox* m_gbEnCur = nullptr;
    QLineEdit* m_edEnergy = nullptr;
    QLineEdit* m_edCurrent = nullptr;
    QFrame* m_pnParam = nullptr;
    QLabel* m_lEnAcc = nullptr;
    QLabel* m_lOverVolt = nullptr;
    QLabel* m_lPhase = nullptr;
    QLabel* m_lSynFreq = nullptr;
    QLabel* m_lBunLen = nullptr;
    QLabel* m_lSynTune = nullptr;
    QPushButton* m_bbUpdate = nullptr;
    QFrame* m_pnEvar = nullptr;
    QLineEdit* m_edEmin = nullptr;
    QLineEdit* m_edEmax = nullptr;

    QGroupBox* m_gbCavity = nullptr;
    QLabel* m_lRff1 = nullptr;
    QLineEdit* m_edNumCav = nullptr;
    QLabel* m_lRfWL = nullptr;
    QLabel* m_lRfCavL = nullptr;
    QGroupBox* m_gbImpedance = nullptr;
    QRadioButton* m_rbScaleImpedance = nullptr;
    QRadioButton* m_rbSelectImpedance = nullptr;
    QGroupBox* m_rgMaterial = nullptr;
    QRadioButton* m_rbAluminum = nullptr;
    QGroupBox* m_rgShunt = nullptr;
    QLabel* m_lImpperm = nullptr;
    QLabel* m_ltotImp = nullptr;
    QLabel* m_lShuntImpedance = nullptr;
    QLineEdit* m_edShuntImpedance = nullptr;
    QLabel* m_lCavVolt = nullptr;
    QLabel* m_ltotavail = nullptr;
    QLabel* m_lCavLoss = nullptr;
    QLabel* m_lmisLoss = nullptr;
    QLineEdit* m_edMiscLoss = nullptr;
    QLabel* m_lRemPow = nullptr;

    RfChartPanel* m_chartPanel = nullptr;
    QMenu* m_mnGraphs = nullptr;
    QAction* m_mnPhaseSpace = nullptr;
    QAction* m_mnRfPotential = nullptr;
};

} // namespace kestrune
