#include "gui/editor/MagStructWindow.h"

#include "core/Drawing.h"
#include "core/NumberInput.h"
#include "core/coupling/CoupledPass.h"
#include "core/editor/ChartSettings.h"
#include "core/io/LatticeFile.h"
#include "core/io/Listing.h"
#include "core/optics/BetaFunctions.h"
#include "core/orbit/OrbitOptics.h"
#include "gui/QtMessages.h"
#include "gui/UserData.h"
#include "gui/editor/ElementPanel.h"
#include "gui/editor/InitialConditionsPanel.h"
#include "gui/editor/LatticeChart.h"
#include "gui/editor/TuningPanel.h"

#include <QCheckBox>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QFrame>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QTemporaryFile>
#include <QVBoxLayout>
#include <QWindow>

namespace kestrune {

namespace {

// the legend of the closed orbit's curves in the optics about it
const QString kOrbitFoot = "closed orbit (right axis, mm): x (magenta, dashed);   y (orange, dashed)";

QPushButton* makeButton(const QString& objectName, const QString& caption, const QString& hint,
                        QWidget* parent)
{
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(objectName);
    if (!hint.isEmpty())
        button->setToolTip(hint);
    return button;
}

} // namespace

/// The window's own messages: every box is handed on to the program's messages, and the window is told
/// when it opens and closes, so that the activation the box gives back does not count as one.
class MagStructWindow::WindowMessages : public Messages
{
public:
    explicit WindowMessages(MagStructWindow& window) : m_window(window), m_screen(window.m_windows) {}

    void error(const std::string& text) override
    {
        m_window.ownBoxOpening();
        target().error(text);
        m_window.ownBoxClosed();
    }
    bool confirm(const std::string& question, std::optional<ScreenPoint> position) override
    {
        m_window.ownBoxOpening();
        const bool yes = target().confirm(question, position);
        m_window.ownBoxClosed();
        return yes;
    }
    void askParticle() override
    {
        // the modal particle window hands the activation back too: the element list shown after it stays
        m_window.ownBoxOpening();
        target().askParticle();
        m_window.ownBoxClosed();
    }
    void showList() override { target().showList(); }

private:
    Messages& target()
    {
        return m_window.m_windows.messages ? static_cast<Messages&>(*m_window.m_windows.messages) : m_screen;
    }

    MagStructWindow& m_window;
    QtMessages m_screen; // without the program's messages: boxes straight on the screen
};

MagStructWindow::MagStructWindow(State& state, Windows& windows, QWidget* parent)
    : QMainWindow(parent), m_state(state), m_windows(windows),
      m_messages(std::make_unique<WindowMessages>(*this))
{
    setObjectName("TfMagStruct");
    // another window of the program taking the focus after a box of this window makes the next
    // activation a real one again
    connect(qGuiApp, &QGuiApplication::focusWindowChanged, this, [this](QWindow* focus) {
        if (!m_ownBoxOpen && focus && focus != windowHandle())
            m_activationOwed = false;
    });

    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->setSpacing(2);
    setCentralWidget(central);

    buildEditButtons();
    layout->addWidget(m_editButtons);
    buildChart();
    layout->addWidget(m_chart, 1);
    buildMagList();
    buildStepGroup();
    buildPanels();
    buildMenus();
    installDefaultDialogs();

    // the views of the start values, the angle unit "radian"
    resetViews();
    resize(1200, 760);
}

MagStructWindow::~MagStructWindow()
{
    if (!m_state.backupFile.empty()) {
        QFile::remove(QString::fromStdString(m_state.backupFile));
        m_state.backupFile.clear();
    }
}

Messages& MagStructWindow::messages()
{
    return *m_messages;
}

void MagStructWindow::buildChart()
{
    m_chart = new LatticeChart(m_state.line, this);
    m_chart->setMinimumSize(400, 300);
    connect(m_chart, &LatticeChart::seriesClicked, this, &MagStructWindow::chLatticeClickSeries);
    connect(m_chart->dispersionButton(), &QPushButton::clicked, this, [this] { showButtons(); });
}

void MagStructWindow::buildMagList()
{
    m_pnMagList = new QFrame(m_chart);
    m_pnMagList->setObjectName("pnMagList");
    m_pnMagList->setFrameShape(QFrame::Panel);
    m_pnMagList->setFrameShadow(QFrame::Raised);
    m_pnMagList->setAutoFillBackground(true);
    auto* layout = new QVBoxLayout(m_pnMagList);
    m_magList = new QListWidget(m_pnMagList);
    m_magList->setObjectName("MagList");
    m_magList->setToolTip("double click to close");
    for (int kind = 0; kind < kKindCount; ++kind)
        m_magList->addItem(kindName(kind));
    m_magList->setFixedHeight(m_magList->sizeHintForRow(0) * kKindCount + 6);
    m_magList->viewport()->installEventFilter(this);
    layout->addWidget(m_magList);
    auto* done = makeButton("bbClose", "Done", "", m_pnMagList);
    layout->addWidget(done);
    connect(m_magList, &QListWidget::itemClicked, this,
            [this](QListWidgetItem* item) { magListClick(m_magList->row(item)); });
    connect(done, &QPushButton::clicked, m_pnMagList, &QWidget::hide);
    m_pnMagList->setFixedWidth(170);
    m_pnMagList->adjustSize();
    m_pnMagList->hide();
}

void MagStructWindow::buildEditButtons()
{
    m_editButtons = new QFrame(this);
    m_editButtons->setObjectName("pnEditButtons");
    auto* layout = new QHBoxLayout(m_editButtons);
    layout->setContentsMargins(4, 2, 4, 2);
    m_cbBLedit = new QCheckBox("BL edit mode", m_editButtons);
    m_cbBLedit->setObjectName("cbBLedit");
    m_cbBLedit->setToolTip("click to make editing of beam line easier");
    m_bbInsert = makeButton("bbInsert", "&insert", "", m_editButtons);
    m_bbCutPaste =
        makeButton("bbCutPaste", "cut and &paste", "cut and paste parts of beam line", m_editButtons);
    m_bbCancelCutPaste =
        makeButton("bbCancelCutPaste", "&cancel cut/paste", "cancel cut and paste", m_editButtons);
    m_bbCopy = makeButton("bbCopy", "copy &element", "", m_editButtons);
    m_bbDelEl = makeButton("bbDelEl", "del element(s)", "", m_editButtons);
    layout->addWidget(m_cbBLedit);
    for (QPushButton* button : {m_bbCopy, m_bbCutPaste, m_bbCancelCutPaste, m_bbInsert, m_bbDelEl})
        layout->addWidget(button);
    layout->addStretch(1);
    connect(m_bbInsert, &QPushButton::clicked, this, &MagStructWindow::bbInsertClick);
    connect(m_bbCutPaste, &QPushButton::clicked, this, &MagStructWindow::btCutPasteClick);
    connect(m_bbCancelCutPaste, &QPushButton::clicked, this, &MagStructWindow::bbCancelCutPasteClick);
    connect(m_bbCopy, &QPushButton::clicked, this, &MagStructWindow::bCopyClick);
    connect(m_bbDelEl, &QPushButton::clicked, this, &MagStructWindow::bbDelElClick);
}

void MagStructWindow::buildStepGroup()
{
    m_gbZstep = new QGroupBox("z-step size", m_chart);
    m_gbZstep->setObjectName("gbZstep");
    m_gbZstep->setAutoFillBackground(true);
    m_gbZstep->installEventFilter(this);
    auto* layout = new QVBoxLayout(m_gbZstep);
    m_rbEndEl = new QRadioButton("end of elements", m_gbZstep);
    m_rbEndEl->setObjectName("rbEndEl");
    m_rbEndEl->setChecked(true);
    m_rbShort = new QRadioButton("short steps", m_gbZstep);
    m_rbShort->setObjectName("rbShort");
    layout->addWidget(m_rbEndEl);
    layout->addWidget(m_rbShort);

    m_pnSStep = new QFrame(m_gbZstep);
    m_pnSStep->setObjectName("pnSStep");
    auto* grid = new QGridLayout(m_pnSStep);
    grid->setContentsMargins(0, 0, 0, 0);
    m_edStep = new QLineEdit("10.0", m_pnSStep);
    m_edStep->setObjectName("edStep");
    m_edMaxSteps = new QLineEdit("200", m_pnSStep);
    m_edMaxSteps->setObjectName("edMaxSteps");
    grid->addWidget(new QLabel("max step, cm", m_pnSStep), 0, 0);
    grid->addWidget(m_edStep, 0, 1);
    grid->addWidget(new QLabel("max # of steps", m_pnSStep), 1, 0);
    grid->addWidget(m_edMaxSteps, 1, 1);
    layout->addWidget(m_pnSStep);
    auto* yes = makeButton("bbStepClose", "Yes", "", m_gbZstep);
    layout->addWidget(yes);

    connect(m_rbShort, &QRadioButton::clicked, this, &MagStructWindow::rbShortClick);
    connect(m_edStep, &QLineEdit::textEdited, this, [this] { m_rbShort->setChecked(true); });
    connect(m_edMaxSteps, &QLineEdit::textEdited, this, [this] { m_rbShort->setChecked(true); });
    connect(yes, &QPushButton::clicked, this, &MagStructWindow::bbStepYesClick);
    m_gbZstep->setFixedWidth(220);
    m_gbZstep->hide();
}

void MagStructWindow::buildPanels()
{
    m_elementPanel = new ElementPanel(m_state, messages(), m_chart);
    m_elementPanel->hide();
    connect(m_elementPanel, &ElementPanel::aboutToStore, this, &MagStructWindow::beginEdit);
    connect(m_elementPanel, &ElementPanel::accepted, this, [this] {
        if (!m_cbBLedit->isChecked())
            m_elementPanel->hide();
        m_state.line.length = m_state.line.endPosition();
        lineChanged();
        if (m_chart->seriesCreated())
            updateCurves(ListWriter::PlotUpdate);
        m_chart->refresh();
        endEdit("element data");
    });
    connect(m_elementPanel, &ElementPanel::insertRequested, this, &MagStructWindow::bbInsertClick);
    connect(m_elementPanel, &ElementPanel::deleteRequested, this, [this] {
        if (!m_cbBLedit->isChecked())
            m_elementPanel->hide();
        recorded("delete element", [this] { applyStep(deleteSelected(m_state, m_editor)); });
    });
    connect(m_elementPanel, &ElementPanel::nextRequested, this,
            [this] { applyStep(nextElement(m_state, m_editor)); });
    connect(m_elementPanel, &ElementPanel::previousRequested, this,
            [this] { applyStep(previousElement(m_state, m_editor)); });
    connect(m_elementPanel, &ElementPanel::typeApplied, this, [this] {
        m_chart->refresh();
        endEdit("element type");
    });
    connect(m_elementPanel, &ElementPanel::tuneRequested, this, [this] {
        m_elementPanel->hide();
        if (m_editor.editOperation == EditOperation::None)
            m_state.history.beginRun(m_state, "tuning");
        m_tuningPanel->startTuning(m_editor.selectedElement);
        m_tuningPanel->raise();
    });

    m_tuningPanel = new TuningPanel(m_state, m_chart);
    m_tuningPanel->hide();
    connect(m_tuningPanel, &TuningPanel::kChanged, this, &MagStructWindow::tuningStep);
    connect(m_tuningPanel, &TuningPanel::aborted, this, [this] {
        m_state.history.endRun(m_state);
        showHistory();
        m_elementPanel->show();
        m_elementPanel->raise();
    });

    m_initialPanel = new InitialConditionsPanel(m_state, messages(), m_chart);
    m_initialPanel->hidePanels();
    connect(m_initialPanel, &InitialConditionsPanel::updateRequested, this, &MagStructWindow::beamDynamics);
    // start values and emittances a file stores: one step each time a "use" button takes them
    connect(m_initialPanel, &InitialConditionsPanel::aboutToStore, this, &MagStructWindow::beginEdit);
    connect(m_initialPanel, &InitialConditionsPanel::storeEnded, this, [this] { endEdit("start values"); });
    connect(m_initialPanel, &InitialConditionsPanel::seriesRetitleRequested, this,
            [this](const QString& kind) {
                getXYSeries(kind);
                m_chart->refresh();
            });
}

void MagStructWindow::placePanels()
{
    // the chart spans the window; its own width is not laid out yet when the window is first resized
    const int w = width();
    const int top = 30;
    m_pnMagList->move(70, top);
    m_gbZstep->adjustSize();
    m_gbZstep->move(260, top);
    for (QWidget* panel : {static_cast<QWidget*>(m_elementPanel), static_cast<QWidget*>(m_tuningPanel)}) {
        panel->adjustSize();
        panel->move(std::max(0, w - panel->width() - 20), top);
    }
    for (QFrame* frame : {m_initialPanel->singleParticleFrame(), m_initialPanel->latticeFunctionFrame()}) {
        frame->adjustSize();
        frame->move(std::max(0, w - frame->width() - 20), top);
    }
}

void MagStructWindow::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
    placePanels();
}

void MagStructWindow::initial()
{
    kestrune::initial(m_state, m_editor);
    resetViews();
}

void MagStructWindow::resetViews()
{
    m_editor = EditorState{};
    m_initialPanel->resetBoxes();
    m_elementPanel->resetAngleUnit();
    m_chart->removeSeries();
    m_chart->setLeftRange(-80, 60);
    m_chart->resetZoom();
    m_pnSStep->hide();
    showButtons();
}

void MagStructWindow::setRingDesignVisible(bool visible)
{
    m_mnRing->setVisible(visible);
}

void MagStructWindow::openAs(bool ringDesign, const QString& title)
{
    setRingDesignVisible(ringDesign);
    show();
    raise();
    activateWindow();
    setChartTitle(title);
}

void MagStructWindow::setChartTitle(const QString& title)
{
    m_chart->setTitleLines({title});
    m_chart->refresh();
}

void MagStructWindow::getXYSeries(const QString& kind)
{
    m_chart->prepareSeries(kind);
    const PlotTexts texts = plotTexts(m_state.run);
    QStringList title;
    for (const std::string& line : texts.title)
        title << QString::fromStdString(line);
    QStringList foot;
    for (const std::string& line : texts.foot)
        foot << QString::fromStdString(line);
    m_chart->setTitleLines(title);
    m_chart->setFootLines(foot);
    if (!texts.leftAxis.empty())
        m_chart->setLeftAxisTitle(QString::fromStdString(texts.leftAxis));
}

void MagStructWindow::beamDynamics()
{
    updateCurves(ListWriter::PlotUpdate);
    m_chart->refresh();
}

void MagStructWindow::updateCurves(ListWriter writer)
{
    const std::string kind = plotKind(m_state.run);
    if (!kind.empty())
        getXYSeries(QString::fromStdString(kind));
    else if (!m_chart->seriesCreated())
        return;
    if (m_state.run.recomputePeriodic) {
        const bool solved = opticsPeriodicSolution(m_state, messages());
        const std::string warning = notPeriodicLine(m_state.run, solved);
        if (!warning.empty())
            m_chart->setTitleLines(m_chart->titleLines() << QString::fromStdString(warning));
    }
    LatticeFunctionList list(m_state, writer);
    if (m_mnAboutOrbit && m_mnAboutOrbit->isChecked() && !m_state.run.showBeamSize) {
        // the orbit itself beside the optics about it, on the right axis
        m_chart->setOrbitShown(true);
        OrbitOptics optics;
        if (orbitOpticsPass(m_state, messages(), &m_chart->sink(m_state.run), &list, &optics)) {
            m_chart->setTitleLines(m_chart->titleLines() << QString::fromStdString(orbitOpticsText(optics)));
            if (!m_chart->footLines().contains(kOrbitFoot))
                m_chart->setFootLines(m_chart->footLines() << kOrbitFoot);
            m_chart->commitPoints();
            setScale();
            return;
        }
        // refused with its message: the choice is taken back and the design's optics drawn
        const QSignalBlocker quiet(m_mnAboutOrbit);
        m_mnAboutOrbit->setChecked(false);
    }
    m_chart->setOrbitShown(false);
    if (m_chart->footLines().contains(kOrbitFoot)) {
        QStringList foot = m_chart->footLines();
        foot.removeAll(kOrbitFoot);
        m_chart->setFootLines(foot);
    }
    if (opticsLinePass(m_state, messages(), &m_chart->sink(m_state.run), &list) == LinePassKind::Coupled) {
        const QString coupled = QString::fromStdString(coupledPassTitle(m_state.run));
        if (!m_chart->titleLines().contains(coupled))
            m_chart->setTitleLines(m_chart->titleLines() << coupled);
    }
    m_chart->commitPoints();
    setScale();
}

void MagStructWindow::graphFunctions()
{
    if (m_chart->seriesCreated())
        beamDynamics();
}

void MagStructWindow::tuningStep()
{
    if (!m_chart->seriesCreated())
        return;
    updateCurves(ListWriter::PlotUpdate);
    m_chart->refreshCurves();
}

void MagStructWindow::ownBoxOpening()
{
    m_ownBoxOpen = true;
    if (m_tuningPanel)
        m_tuningPanel->releaseBar();
}

void MagStructWindow::ownBoxClosed()
{
    m_ownBoxOpen = false;
    m_activationOwed = true;
}

void MagStructWindow::setScale()
{
    m_chart->fitLeftAxis(m_state);
}

void MagStructWindow::lineChanged()
{
    m_chart->setBottomMax(bottomAxisMaximum(m_state.line));
}

void MagStructWindow::applyStep(const EditStep& step)
{
    if (step.hideParameters)
        m_elementPanel->hide();
    if (step.hideElementList)
        m_pnMagList->hide();
    if (step.showElementList) {
        m_pnMagList->show();
        m_pnMagList->raise();
    }
    if (step.lineChanged)
        lineChanged();
    if (step.showParameters) {
        m_elementPanel->showParameter(m_editor.selectedElement,
                                      m_editor.editOperation == EditOperation::Copy);
        m_elementPanel->raise();
    }
    if (step.beamDynamics || (step.updateIfCurves && m_chart->seriesCreated()))
        updateCurves(ListWriter::PlotUpdate);
    showButtons();
    m_chart->refresh();
}

void MagStructWindow::showButtons()
{
    const EditButtons& b = m_editor.buttons;
    m_bbCopy->setVisible(b.copy);
    m_bbCutPaste->setVisible(b.cutPaste);
    m_bbCancelCutPaste->setVisible(b.cancel);
    m_bbCancelCutPaste->setText(m_editor.editOperation == EditOperation::Delete ? "&cancel delete"
                                                                                : "&cancel cut/paste");
    m_bbInsert->setVisible(b.insert);
    m_bbDelEl->setVisible(b.del);
}

void MagStructWindow::chLatticeClickSeries(const QString& title)
{
    for (const char* curve :
         {LatticeChart::kBeta, LatticeChart::kBeam, LatticeChart::kTraj, LatticeChart::kPath})
        if (title == curve)
            return;
    bool ok = false;
    const int e = title.toInt(&ok);
    if (!ok)
        return;
    if (m_editor.editOperation == EditOperation::None) {
        applyStep(clickElement(m_state, m_editor, e, messages()));
    } else {
        // a click that ends an operation makes its step
        const std::string label = m_editor.editOperation == EditOperation::Copy       ? "copy"
                                  : m_editor.editOperation == EditOperation::CutPaste ? "cut and paste"
                                                                                      : "delete range";
        recorded(label, [&] { applyStep(clickElement(m_state, m_editor, e, messages())); });
    }
    if (m_editor.selectedElement >= 1 && m_editor.selectedElement <= m_state.line.count)
        m_tuningPanel->elementClicked(m_editor.selectedElement);
}

void MagStructWindow::addMagnetClick()
{
    if (m_state.beam.momentum <= 0)
        messages().askParticle();
    startAppending(m_editor);
    m_pnMagList->show();
    m_pnMagList->raise();
}

void MagStructWindow::magListClick(int row)
{
    const PanelRoundTrip roundTrip = [this](int p) {
        m_elementPanel->showParameter(p);
        m_elementPanel->getData();
    };
    const std::string label = m_editor.pickAction == PickAction::Insert ? "insert element" : "append element";
    recorded(label, [&] {
        showingConversionErrors(
            messages(), [&] { applyStep(newElement(m_state, m_editor, row, messages(), roundTrip)); });
    });
}

void MagStructWindow::bbInsertClick()
{
    const PanelRoundTrip roundTrip = [this](int p) {
        m_elementPanel->showParameter(p);
        m_elementPanel->getData();
    };
    const std::string label = m_editor.editOperation == EditOperation::Copy       ? "copy"
                              : m_editor.editOperation == EditOperation::CutPaste ? "cut and paste"
                                                                                  : "insert element";
    recorded(label, [&] {
        showingConversionErrors(messages(),
                                [&] { applyStep(insertClick(m_state, m_editor, messages(), roundTrip)); });
    });
}

void MagStructWindow::bCopyClick()
{
    ensureBackupFile();
    recorded("copy", [this] { applyStep(startCopy(m_state, m_editor, messages())); });
}

void MagStructWindow::btCutPasteClick()
{
    ensureBackupFile();
    recorded("cut and paste", [this] { applyStep(startCutPaste(m_state, m_editor, messages())); });
}

void MagStructWindow::bbCancelCutPasteClick()
{
    const bool deleting = m_editor.editOperation == EditOperation::Delete;
    recorded(deleting ? "delete range" : "cut and paste",
             [this] { applyStep(cancelCutPaste(m_state, m_editor)); });
}

void MagStructWindow::bbDelElClick()
{
    ensureBackupFile();
    recorded("delete range", [this] { applyStep(startDelete(m_state, m_editor, messages())); });
}

void MagStructWindow::ensureBackupFile()
{
    if (!m_state.backupFile.empty())
        return;
    // a name of this run's own in the per-user data folder: never a file of the user's
    const QString folder = userDataDirectory();
    if (folder.isEmpty() || !QDir().mkpath(folder))
        return;
    QTemporaryFile file(QDir(folder).filePath("backup-XXXXXX.lat"));
    file.setAutoRemove(false);
    if (file.open())
        m_state.backupFile = file.fileName().toStdString();
}

void MagStructWindow::dispersionButtonClick()
{
    m_chart->toggleDispersion();
}

void MagStructWindow::formActivate()
{
    applyStep(activate(m_editor));
    showHistory();
    m_rbShort->setChecked(true);
    if (m_state.run.stepAtElementEnds) {
        m_rbEndEl->setChecked(true);
    } else {
        ensurePositiveStep(m_state.run);
        m_edStep->setText(QString::fromStdString(stepBoxText(m_state.run)));
    }
}

bool MagStructWindow::event(QEvent* event)
{
    if (event->type() == QEvent::WindowActivate && !m_ownBoxOpen) {
        if (m_activationOwed)
            m_activationOwed = false;
        else
            formActivate();
    }
    return QMainWindow::event(event);
}

void MagStructWindow::hideEvent(QHideEvent* event)
{
    // shown again, the window is activated for real
    m_activationOwed = false;
    QMainWindow::hideEvent(event);
}

void MagStructWindow::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape && m_editor.editOperation != EditOperation::None) {
        bbCancelCutPasteClick();
        return;
    }
    if (event->text() == "f") {
        formKeyPress(event->text());
        return;
    }
    QMainWindow::keyPressEvent(event);
}

bool MagStructWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::MouseButtonDblClick) {
        if (watched == m_magList->viewport()) {
            m_pnMagList->hide();
            return true;
        }
        if (watched == m_gbZstep) {
            m_gbZstep->hide();
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

} // namespace kestrune
