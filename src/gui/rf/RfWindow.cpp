#include "gui/rf/RfWindow.h"

#include "core/Design.h"
#include "core/Format.h"
#include "core/Kinematics.h"
#include "core/NumberInput.h"
#include "core/io/LatticeFile.h"
#include "core/rf/CavityBudget.h"
#include "core/rf/CavitySystem.h"
#include "core/rf/RfParameter.h"
#include "core/rf/RfUpdate.h"
#include "gui/Controls.h"
#include "gui/FileDialog.h"
#include "gui/ToolWindowMessages.h"
#include "gui/io/RecentFilesSettings.h"
#include "gui/rf/RfChartPanel.h"

#include <QCloseEvent>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace kestrune {

namespace {

const char* const kNavy = "color: rgb(0, 0, 128)";
const char* const kRed = "color: rgb(255, 0, 0)";

/// A core text on screen: its carriage returns break the line.
QString screenText(const std::string& text)
{
    return QString::fromStdString(text).replace('\r', '\n');
}

QString boxText(const char* format, double value)
{
    return QString::fromStdString(fmt(format, value));
}

// the value of a box; text that is no number is refused naming the box by its caption
double typed(const QLineEdit* box)
{
    return parseDouble(box->accessibleName().toStdString(), box->text().toStdString());
}

void name(std::initializer_list<std::pair<QLineEdit*, const char*>> boxes)
{
    for (const auto& [box, caption] : boxes)
        box->setAccessibleName(caption);
}

} // namespace

RfWindow::RfWindow(State& state, Windows& windows, QWidget* parent)
    : QMainWindow(parent), m_state(state), m_windows(windows),
      m_messages(std::make_unique<ToolWindowMessages>(windows))
{
    setObjectName("TfRF");
    setWindowTitle("rf system");
    m_saveLatticeDialog = [this] {
        return askSaveFileName(this, kSaveLatticeDialog, QString::fromStdString(m_state.lastOpenedFile));
    };

    buildPanels();
    buildMenus();
    name({{m_edRFVolt, "rf voltage, kV"},
          {m_edRfPow, "rf power, kW"},
          {m_edAddlLoss, "addl. energy loss/turn [keV]"},
          {m_edEnergy, "momentum cp , GeV"},
          {m_edCurrent, "beam current, mA"},
          {m_edEmin, "cp_min"},
          {m_edEmax, "cp_max"},
          {m_edNumCav, "# of cavity cells/ring"},
          {m_edMiscLoss, "misc.rf losses, %"},
          {m_edShuntImpedance, "shunt impedance in MOhm"}});
    m_edRFVolt->setText(boxText("%8.3f", m_state.rf.voltage / 1000));
    m_edRfPow->setText(boxText("%8.3f", m_state.rf.power / 1000));
    // the numbers padded to the width of their format stand right-aligned, units under units
    for (QLineEdit* box :
         {m_edEnergy, m_edCurrent, m_edRFVolt, m_edRfPow, m_edNumCav, m_edMiscLoss, m_edAddlLoss})
        box->setAlignment(Qt::AlignRight);
    resize(1240, 720);
}

RfWindow::~RfWindow() = default;

Messages& RfWindow::messages()
{
    return *m_messages;
}

void RfWindow::buildPanels()
{
    auto* central = new QWidget(this);
    auto* layout = new QHBoxLayout(central);
    layout->setContentsMargins(4, 4, 4, 4);
    setCentralWidget(central);

    auto* column = new QWidget(central);
    column->setObjectName("pnLeft");
    column->setFixedWidth(340);
    auto* left = new QVBoxLayout(column);
    left->setContentsMargins(0, 0, 0, 0);
    left->addWidget(buildRfPanel());
    left->addWidget(buildBeamGroup());
    left->addWidget(buildParameterPanel());
    m_bbUpdate = new QPushButton("&update calculation", central);
    m_bbUpdate->setObjectName("bbUpdate");
    // it comes and goes with typing: its room stays, so that the boxes below never move
    QSizePolicy keepRoom = m_bbUpdate->sizePolicy();
    keepRoom.setRetainSizeWhenHidden(true);
    m_bbUpdate->setSizePolicy(keepRoom);
    connect(m_bbUpdate, &QPushButton::clicked, this, &RfWindow::bbUpdateClick);
    left->addWidget(m_bbUpdate);
    left->addWidget(buildRangePanel());
    left->addStretch(1);
    layout->addWidget(column);

    layout->addWidget(buildCavityGroup());
    m_chartPanel = new RfChartPanel(messages(), central);
    m_chartPanel->hide();
    layout->addWidget(m_chartPanel, 1);
    layout->addStretch(0); // takes the room of a hidden chart

    // typing into these boxes asks for a new update
    for (QLineEdit* box : {m_edEnergy, m_edCurrent, m_edRFVolt, m_edRfPow, m_edAddlLoss, m_edEmin, m_edEmax})
        connect(box, &QLineEdit::textEdited, m_bbUpdate, &QWidget::show);
    for (QWidget* panel : {static_cast<QWidget*>(m_pnRF), static_cast<QWidget*>(m_gbEnCur),
                           static_cast<QWidget*>(m_pnParam), static_cast<QWidget*>(m_gbCavity)})
        panel->installEventFilter(this);
}

QFrame* RfWindow::buildRfPanel()
{
    m_pnRF = new QFrame(this);
    m_pnRF->setObjectName("pnRF");
    m_pnRF->setFrameShape(QFrame::Panel);
    m_pnRF->setFrameShadow(QFrame::Raised);
    auto* grid = new QGridLayout(m_pnRF);
    m_edRFVolt = makeEdit("edRFVolt", "", m_pnRF);
    m_edRfPow = makeEdit("edRfPow", "", m_pnRF);
    m_edAddlLoss = makeEdit("edAddlLoss", "0.0", m_pnRF);
    grid->addWidget(new QLabel("rf voltage, kV", m_pnRF), 0, 0);
    grid->addWidget(m_edRFVolt, 0, 1);
    grid->addWidget(new QLabel("rf power, kW", m_pnRF), 1, 0);
    grid->addWidget(m_edRfPow, 1, 1);
    grid->addWidget(new QLabel("addl. energy loss/turn [keV]", m_pnRF), 2, 0);
    grid->addWidget(m_edAddlLoss, 2, 1);
    m_lRFF = makeLabel("lRFF", "rf frequency", m_pnRF);
    m_lHarm = makeLabel("lHarm", "harmonic number", m_pnRF);
    m_lELoss = makeLabel("lELoss", "energy loss/turn due synrad ", m_pnRF);
    grid->addWidget(m_lRFF, 3, 0, 1, 2);
    grid->addWidget(m_lHarm, 4, 0, 1, 2);
    grid->addWidget(m_lELoss, 5, 0, 1, 2);
    return m_pnRF;
}

QGroupBox* RfWindow::buildBeamGroup()
{
    m_gbEnCur = new QGroupBox("change beam parameter ?", this);
    m_gbEnCur->setObjectName("gbEnCur");
    auto* grid = new QGridLayout(m_gbEnCur);
    m_edEnergy = makeEdit("edEnergy", "1.0", m_gbEnCur);
    m_edCurrent = makeEdit("edCurrent", "100.0", m_gbEnCur);
    grid->addWidget(new QLabel("momentum cp , GeV", m_gbEnCur), 0, 0);
    grid->addWidget(m_edEnergy, 0, 1);
    grid->addWidget(new QLabel("beam current, mA", m_gbEnCur), 1, 0);
    grid->addWidget(m_edCurrent, 1, 1);
    return m_gbEnCur;
}

QFrame* RfWindow::buildParameterPanel()
{
    m_pnParam = new QFrame(this);
    m_pnParam->setObjectName("pnParam");
    m_pnParam->setFrameShape(QFrame::Panel);
    m_pnParam->setFrameShadow(QFrame::Sunken);
    auto* layout = new QVBoxLayout(m_pnParam);
    m_lEnAcc = makeLabel("lEnAcc", "energy acceptance", m_pnParam);
    m_lOverVolt = makeLabel("lOverVolt", "over voltage factor", m_pnParam);
    m_lPhase = makeLabel("lPhase", "phase", m_pnParam);
    m_lSynFreq = makeLabel("lSynFreq", "synchrotron frequency", m_pnParam);
    m_lBunLen = makeLabel("lBunLen", "bunch length", m_pnParam);
    m_lSynTune = makeLabel("lSynTune", "synchrotron tune", m_pnParam);
    // the results line up in their columns
    const QFont fixed("Courier New", 9);
    for (QLabel* label : {m_lEnAcc, m_lOverVolt, m_lPhase, m_lSynFreq, m_lSynTune, m_lBunLen}) {
        label->setFont(fixed);
        layout->addWidget(label);
    }
    return m_pnParam;
}

QFrame* RfWindow::buildRangePanel()
{
    m_pnEvar = new QFrame(this);
    m_pnEvar->setObjectName("pnEvar");
    m_pnEvar->setFrameShape(QFrame::Panel);
    auto* layout = new QHBoxLayout(m_pnEvar);
    m_edEmin = makeEdit("edEmin", " cp_min", m_pnEvar);
    m_edEmax = makeEdit("edEmax", " cp_max", m_pnEvar);
    layout->addWidget(m_edEmin);
    layout->addWidget(new QLabel("< cp (GeV) < ", m_pnEvar));
    layout->addWidget(m_edEmax);
    return m_pnEvar;
}

QGroupBox* RfWindow::buildCavityGroup()
{
    m_gbCavity = new QGroupBox("RfPower system", this);
    m_gbCavity->setObjectName("gbCavity");
    auto* grid = new QGridLayout(m_gbCavity);
    int row = 0;
    m_lRff1 = makeLabel("lRff1", "", m_gbCavity);
    grid->addWidget(m_lRff1, row++, 0, 1, 3);
    m_edNumCav = makeEdit("edNumCav", "1", m_gbCavity);
    grid->addWidget(makeLabel("lNumCav", "# of cavity cells/ring:", m_gbCavity), row, 0);
    grid->addWidget(m_edNumCav, row++, 1);
    m_lRfWL = makeLabel("lRfWL", "rf wavelength, m", m_gbCavity);
    grid->addWidget(m_lRfWL, row++, 0, 1, 3);
    m_lRfCavL = makeLabel("lRfCavL", "eff. cavity length, m", m_gbCavity);
    grid->addWidget(m_lRfCavL, row++, 0, 1, 3);
    grid->addWidget(buildImpedanceGroup(), row++, 0, 1, 3);
    m_lCavVolt = makeLabel("lCavVolt", "tot. cavity voltage", m_gbCavity);
    grid->addWidget(m_lCavVolt, row++, 0, 1, 3);
    m_ltotavail = makeLabel("ltotavail", "tot.avail. rf power, kW", m_gbCavity);
    grid->addWidget(m_ltotavail, row++, 0, 1, 3);
    m_lCavLoss = makeLabel("lCavLoss", "cavity losses", m_gbCavity);
    grid->addWidget(m_lCavLoss, row++, 0, 1, 3);
    m_lmisLoss = makeLabel("lmisLoss", "misc.rf losses", m_gbCavity);
    m_edMiscLoss = makeEdit("edMiscLoss", "0", m_gbCavity);
    m_edMiscLoss->setMaximumWidth(60);
    grid->addWidget(m_lmisLoss, row, 0);
    grid->addWidget(m_edMiscLoss, row, 1);
    grid->addWidget(makeLabel("lMiscLossUnit", "% of total power", m_gbCavity), row++, 2);
    m_lRemPow = makeLabel("lRemPow", "remaining rf power ", m_gbCavity);
    m_lRemPow->setStyleSheet(kNavy);
    grid->addWidget(m_lRemPow, row++, 0, 1, 3);
    auto* update = new QPushButton("&update", m_gbCavity);
    update->setObjectName("bbRfUpdate");
    connect(update, &QPushButton::clicked, this, &RfWindow::bbRfUpdateClick);
    grid->addWidget(update, row++, 0, 1, 3);
    grid->setRowStretch(row, 1);
    m_gbCavity->setFixedWidth(400);
    m_gbCavity->hide();
    return m_gbCavity;
}

QGroupBox* RfWindow::buildImpedanceGroup()
{
    m_gbImpedance = new QGroupBox("Cavity Impedance", this);
    m_gbImpedance->setObjectName("gbImpedance");
    auto* layout = new QVBoxLayout(m_gbImpedance);
    m_rbScaleImpedance = new QRadioButton("scaled cavity impedance ", m_gbImpedance);
    m_rbScaleImpedance->setObjectName("rbScaleImpedance");
    m_rbScaleImpedance->setToolTip("impedance is scaled from pill box result");
    m_rbScaleImpedance->setChecked(true);
    m_rbSelectImpedance = new QRadioButton("select Impedance", m_gbImpedance);
    m_rbSelectImpedance->setObjectName("rbSelectImpedance");
    m_rbSelectImpedance->setToolTip("insert impedance for single cavity");
    layout->addWidget(m_rbScaleImpedance);
    layout->addWidget(m_rbSelectImpedance);
    connect(m_rbScaleImpedance, &QRadioButton::clicked, this, &RfWindow::rbScaleImpedanceClick);
    connect(m_rbSelectImpedance, &QRadioButton::clicked, this, &RfWindow::rbSelectImpedanceClick);

    m_rgMaterial = new QGroupBox("cavity material", m_gbImpedance);
    m_rgMaterial->setObjectName("rgMaterial");
    auto* materials = new QVBoxLayout(m_rgMaterial);
    auto* copper = new QRadioButton("copper", m_rgMaterial);
    copper->setObjectName("rgMaterialCopper");
    copper->setChecked(true);
    m_rbAluminum = new QRadioButton("aluminum", m_rgMaterial);
    m_rbAluminum->setObjectName("rgMaterialAluminum");
    materials->addWidget(copper);
    materials->addWidget(m_rbAluminum);
    layout->addWidget(m_rgMaterial);

    m_rgShunt = new QGroupBox("pill box shunt impedance", m_gbImpedance);
    m_rgShunt->setObjectName("rgShunt");
    auto* shunt = new QVBoxLayout(m_rgShunt);
    m_lImpperm = makeLabel("lImpperm", "impedance, MOhm/m", m_rgShunt);
    m_ltotImp = makeLabel("ltotImp", "impedance per ring, MOhm", m_rgShunt);
    shunt->addWidget(m_lImpperm);
    shunt->addWidget(m_ltotImp);
    layout->addWidget(m_rgShunt);

    m_lShuntImpedance = makeLabel("lShuntImpedance", "select shunt impedance in MOhm", m_gbImpedance);
    m_edShuntImpedance = makeEdit("edShuntImpedance", "1.0", m_gbImpedance);
    layout->addWidget(m_lShuntImpedance);
    layout->addWidget(m_edShuntImpedance);
    m_lShuntImpedance->hide();
    m_edShuntImpedance->hide();
    layout->addWidget(
        makeLabel("lShuntDefinition", "Shunt impedance is defined by R_s = V*V/P", m_gbImpedance));
    return m_gbImpedance;
}

RfBeamInput RfWindow::beamInput() const
{
    return RfBeamInput{typed(m_edEnergy), typed(m_edCurrent), typed(m_edRFVolt)};
}

void RfWindow::formActivate()
{
    for (QWidget* w :
         {static_cast<QWidget*>(m_pnRF), static_cast<QWidget*>(m_gbEnCur), static_cast<QWidget*>(m_pnParam),
          static_cast<QWidget*>(m_pnEvar), static_cast<QWidget*>(m_bbUpdate)})
        w->show();
    designChanged();
    fillBoxes();
    if (m_state.beam.momentum == 0)
        messages().error("choose beam energy!");
    if (m_state.beamCurrent * 1000 == 0)
        messages().error("choose beam current!");
    // the power budget and the chart take turns in the window's right part: side by side the chart
    // would be squeezed and its limit boxes cut
    if (m_gbCavity->isHidden())
        m_chartPanel->show();
}

void RfWindow::fillBoxes()
{
    // with rf cavities in the line the voltage box shows their total
    takeCavityVoltage(m_state);
    m_edEnergy->setText(boxText("%8.3f", m_state.beam.momentum / 1e9));
    m_edCurrent->setText(boxText("%8.3f", m_state.beamCurrent * 1000));
    m_edRFVolt->setText(boxText("%8.3f", m_state.rf.voltage / 1000));
    m_edRfPow->setText(boxText("%8.3f", m_state.rf.power / 1000));
    m_edNumCav->setText(QString::fromStdString(fmt("%5d", m_state.rf.cavities)));
    m_edMiscLoss->setText(boxText("%8.3f", m_state.rf.miscLoss * 100));
}

void RfWindow::designChanged()
{
    // the parameters belong to the design and the rf settings they were computed with, the budget to
    // those and the cavity settings
    const std::uint64_t stamp = rfStamp(m_state);
    if (m_shownStamp == stamp)
        return;
    fillBoxes();
    for (QLabel* l : {m_lHarm, m_lELoss, m_lEnAcc, m_lOverVolt, m_lPhase, m_lSynFreq, m_lSynTune, m_lBunLen})
        l->clear();
    m_lRFF->setText("n/a: press update calculation");
    if (m_state.rf.budgetStamp != rfBudgetStamp(m_state)) {
        for (QLabel* l : {m_lRfWL, m_lRfCavL, m_lImpperm, m_ltotImp, m_lCavVolt, m_lCavLoss, m_ltotavail,
                          m_lmisLoss, m_lRemPow})
            l->clear();
        m_lRff1->setText("n/a: press update");
    }
    m_bbUpdate->show();
    m_shownStamp = stamp;
}

void RfWindow::showParameters(const RfParameterView& view)
{
    m_lRFF->setText(QString::fromStdString(view.rfFrequency));
    m_lHarm->setText(QString::fromStdString(view.harmonic));
    m_lELoss->setText(QString::fromStdString(view.energyLoss));
    if (view.voltageBox)
        m_edRFVolt->setText(QString::fromStdString(*view.voltageBox));
    m_lEnAcc->setText(QString::fromStdString(view.acceptance));
    m_lOverVolt->setText(QString::fromStdString(view.overVoltage));
    m_lPhase->setText(QString::fromStdString(view.phase));
    m_lSynFreq->setText(QString::fromStdString(view.synchrotronFrequency));
    m_lSynTune->setText(QString::fromStdString(view.synchrotronTune));
    m_lBunLen->setText(QString::fromStdString(view.bunchLength));
    m_shownStamp = rfStamp(m_state);
}

bool RfWindow::calcparameter()
{
    const std::optional<RfParameterView> view = calcParameter(m_state, messages(), beamInput());
    if (view)
        showParameters(*view);
    return view.has_value();
}

void RfWindow::bbUpdateClick()
{
    const HistoryStep step = recordedStep();
    showingConversionErrors(messages(), [this] {
        const RfBeamInput input = beamInput();
        const double powerKw = typed(m_edRfPow);
        const double additionalLossKev = typed(m_edAddlLoss);
        const std::optional<RfParameterView> view =
            updateCalculation(m_state, messages(), input, powerKw, additionalLossKev);
        if (!view)
            return;
        showParameters(*view);
        m_bbUpdate->hide();
        enableGraphMenus();
    });
}

void RfWindow::rfSystemClick()
{
    const HistoryStep step = recordedStep();
    m_chartPanel->hide();
    showingConversionErrors(messages(), [this] {
        if (!calcparameter())
            return;
        m_gbCavity->show();
        m_lRff1->setText(m_lRFF->text());
        m_edRfPow->setText(boxText("%8.3f", m_state.rf.power / 1000));
        if (m_state.rf.cavities == 0)
            m_edNumCav->setText("1");
    });
}

void RfWindow::bbRfUpdateClick()
{
    const HistoryStep step = recordedStep();
    showingConversionErrors(messages(), [this] {
        CavityInput input;
        input.cavities =
            parseInt(m_edNumCav->accessibleName().toStdString(), m_edNumCav->text().toStdString());
        input.miscLossPercent = typed(m_edMiscLoss);
        input.voltageKv = typed(m_edRFVolt);
        input.powerKw = typed(m_edRfPow);
        input.selectImpedance = m_rbSelectImpedance->isChecked();
        input.material = m_rbAluminum->isChecked() ? CavityMaterial::Aluminum : CavityMaterial::Copper;
        if (input.selectImpedance)
            input.shuntImpedanceMohm = typed(m_edShuntImpedance);
        const std::optional<CavityBudgetView> view = cavityPowerBudget(m_state, messages(), input);
        if (!view)
            return;
        m_lRfWL->setText(QString::fromStdString(view->wavelength));
        m_lRfCavL->setText(QString::fromStdString(view->cavityLength));
        if (view->impedancePerMetre)
            m_lImpperm->setText(QString::fromStdString(*view->impedancePerMetre));
        if (view->ringImpedance)
            m_ltotImp->setText(QString::fromStdString(*view->ringImpedance));
        m_lCavVolt->setText(QString::fromStdString(view->cavityVoltage));
        m_lCavLoss->setText(QString::fromStdString(view->cavityLoss));
        m_ltotavail->setText(QString::fromStdString(view->totalAvailable));
        m_lmisLoss->setText(QString::fromStdString(view->miscLoss));
        m_lRemPow->setText(screenText(view->remaining));
        m_lRemPow->setStyleSheet(view->powerLeft ? kNavy : kRed);
    });
}

void RfWindow::rbScaleImpedanceClick()
{
    m_state.rf.budgetStamp = 0; // the budget of the other impedance is no longer the one chosen
    m_lShuntImpedance->hide();
    m_edShuntImpedance->hide();
    m_rgMaterial->show();
    m_rgShunt->show();
    m_rbScaleImpedance->setChecked(true);
}

void RfWindow::rbSelectImpedanceClick()
{
    m_state.rf.budgetStamp = 0;
    m_rgMaterial->hide();
    m_rgShunt->hide();
    m_rbSelectImpedance->setChecked(true);
    m_lShuntImpedance->show();
    m_edShuntImpedance->show();
}

void RfWindow::saveAsClick()
{
    const QString fileName = m_saveLatticeDialog ? m_saveLatticeDialog() : QString();
    if (!fileName.isEmpty() && saveLatticeAs(m_state, messages(), fileName.toStdString())) {
        rememberRecentFile(fileName.toStdString());
    }
}

HistoryStep RfWindow::recordedStep()
{
    return HistoryStep(m_state, "rf settings", [this] { emit historyChanged(); });
}

bool RfWindow::event(QEvent* event)
{
    if (event->type() == QEvent::WindowActivate && m_messages->userActivation())
        formActivate();
    return QMainWindow::event(event);
}

void RfWindow::closeEvent(QCloseEvent* event)
{
    // FormClose: what the boxes hold becomes the shared beam state; a box that is not a number keeps
    // the window open with its message
    bool taken = false;
    showingConversionErrors(messages(), [&] {
        const HistoryStep step = recordedStep();
        taken = takeRfBoxes(m_state, messages(), beamInput(), typed(m_edRfPow));
    });
    if (!taken) {
        event->ignore();
        return;
    }
    if (m_graph == Graph::EnergyScan) {
        m_chartPanel->removeSeries();
        m_graph = Graph::None;
        m_chartPanel->refresh();
    }
    QMainWindow::closeEvent(event);
}

bool RfWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::MouseButtonDblClick) {
        for (QWidget* panel : {static_cast<QWidget*>(m_pnRF), static_cast<QWidget*>(m_gbEnCur),
                               static_cast<QWidget*>(m_pnParam), static_cast<QWidget*>(m_gbCavity)}) {
            if (watched == panel) {
                panel->hide();
                return true;
            }
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

} // namespace kestrune
