#include "gui/nonlinear/FrequencyMapWindow.h"

#include "core/Format.h"
#include "core/NumberInput.h"
#include "core/aperture/ApertureRing.h"
#include "core/aperture/ScanLimits.h"
#include "core/io/SafeFile.h"
#include "core/nonlinear/FrequencyMapCsv.h"
#include "gui/Controls.h"
#include "gui/FileDialog.h"
#include "gui/GraphExport.h"
#include "gui/ListPrinter.h"
#include "gui/QtMessages.h"
#include "gui/nonlinear/FrequencyMapChart.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPrinter>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

namespace kestrune {

namespace {

constexpr int kPollInterval = 50;      // ms between two looks at the progress
constexpr int kProgressSteps = 100000; // steps of the progress bar, as the aperture window's

QString q(const std::string& text)
{
    return QString::fromStdString(text);
}

} // namespace

FrequencyMapWindow::FrequencyMapWindow(State& state, Windows& windows, QWidget* parent)
    : QMainWindow(parent), m_state(state), m_windows(windows)
{
    setObjectName("TfFrequencyMap");
    setWindowTitle("frequency map");
    auto* central = new QWidget(this);
    setCentralWidget(central);
    auto* layout = new QHBoxLayout(central);
    auto* controls = new QVBoxLayout;
    controls->addWidget(buildInputs());
    controls->addWidget(buildRunPanel());
    controls->addStretch(1);
    layout->addLayout(controls);
    m_chart = new FrequencyMapChart(central);
    m_chart->setMinimumSize(720, 360);
    layout->addWidget(m_chart, 1);
    buildMenus();
    m_poll = new QTimer(this);
    m_poll->setInterval(kPollInterval);
    connect(m_poll, &QTimer::timeout, this, [this] {
        const double done = m_progress;
        m_pbRun->setValue(static_cast<int>(kProgressSteps * done));
        m_pbRun->setFormat(q(fmt(done < 0.1 ? "%.2f %%" : "%.1f %%", 100 * done)));
    });
    choosePrinter = [this](QPrinter& printer) { return askPrinter(printer, this); };
    chooseCsvFile = [this] {
        return askSaveFileName(this, "save the frequency map", "CSV files (*.csv)", "csv",
                               "frequency-map.csv");
    };
    planeClick();
    resize(1150, 560);
}

FrequencyMapWindow::~FrequencyMapWindow()
{
    if (m_worker) {
        m_cancel = true;
        m_worker->disconnect(this);
        m_worker->wait();
        delete m_worker;
    }
}

Messages& FrequencyMapWindow::messages()
{
    return *m_windows.messages;
}

QWidget* FrequencyMapWindow::buildInputs()
{
    auto* group = new QGroupBox("frequency map at the ring's start", this);
    group->setObjectName("gbFrequencyMap");
    auto* grid = new QGridLayout(group);
    m_rbXY = new QRadioButton("x - y", group);
    m_rbXY->setObjectName("rbXY");
    m_rbXY->setChecked(true);
    m_rbXDelta = new QRadioButton("x - delta", group);
    m_rbXDelta->setObjectName("rbXDelta");
    grid->addWidget(m_rbXY, 0, 0);
    grid->addWidget(m_rbXDelta, 0, 1);
    connect(m_rbXY, &QRadioButton::toggled, this, [this] { planeClick(); });
    m_edNx = addCaptionedBox(grid, "edNx", "grid points in x", "21");
    m_edNy = addCaptionedBox(grid, "edNy", "grid points in y or delta", "11");
    m_edXMax = addCaptionedBox(grid, "edXMax", "largest x, mm", "10.0");
    m_edYMax = addCaptionedBox(grid, "edYMax", "largest y, mm", "5.0");
    m_edDeltaMax = addCaptionedBox(grid, "edDeltaMax", "largest |delta|, %", "2.0");
    m_edDelta = addCaptionedBox(grid, "edDelta", "momentum deviation, %", "0.0");
    m_edTurns = addCaptionedBox(grid, "edTurns", "turns of each half", "512");
    m_cbPerTurn = new QCheckBox("diffusion per turn", group);
    m_cbPerTurn->setObjectName("cbPerTurn");
    m_cbPerTurn->setToolTip("log10 of the tune change divided by the turns of a half");
    grid->addWidget(m_cbPerTurn, grid->rowCount(), 0, 1, 2);
    m_edApertureX = addCaptionedBox(grid, "edApertureX", "half aperture x, mm", "30.0");
    m_edApertureY = addCaptionedBox(grid, "edApertureY", "half aperture y, mm", "15.0");
    m_bbRun = new QPushButton("frequency map", group);
    m_bbRun->setObjectName("bbFrequencyMap");
    grid->addWidget(m_bbRun, grid->rowCount(), 0, 1, 2);
    connect(m_bbRun, &QPushButton::clicked, this, [this] { bbRunClick(); });
    return group;
}

QWidget* FrequencyMapWindow::buildRunPanel()
{
    auto* panel = new QWidget(this);
    panel->setObjectName("pnRun");
    auto* grid = new QGridLayout(panel);
    grid->setContentsMargins(0, 0, 0, 0);
    m_pbRun = new QProgressBar(panel);
    m_pbRun->setObjectName("pbRun");
    m_pbRun->setRange(0, kProgressSteps);
    m_pbRun->setValue(0);
    m_pbRun->setTextVisible(false);
    m_bbCancel = new QPushButton("cancel", panel);
    m_bbCancel->setObjectName("bbCancel");
    m_bbCancel->setEnabled(false);
    connect(m_bbCancel, &QPushButton::clicked, this, [this] { bbCancelClick(); });
    m_lResult = new QLabel(panel);
    m_lResult->setObjectName("lResult");
    m_lResult->setWordWrap(true);
    m_lResult->setMinimumWidth(230);
    m_lResult->setMaximumWidth(260);
    grid->addWidget(m_pbRun, 0, 0);
    grid->addWidget(m_bbCancel, 0, 1);
    grid->addWidget(m_lResult, 1, 0, 1, 2);
    return panel;
}

void FrequencyMapWindow::buildMenus()
{
    QMenuBar* bar = menuBar();
    const auto item = [this](QMenu* menu, const char* name, const QString& text,
                             void (FrequencyMapWindow::*handler)()) {
        QAction* action = menu->addAction(text);
        action->setObjectName(name);
        connect(action, &QAction::triggered, this, [this, handler] { (this->*handler)(); });
    };
    QMenu* file = bar->addMenu("&file");
    file->setObjectName("mnFile");
    item(file, "mnSaveCsv", "save map as CSV ...", &FrequencyMapWindow::saveCsvClick);
    QMenu* print = bar->addMenu("&print");
    print->setObjectName("mnPrintMenu");
    item(print, "mnPrint", "print graph", &FrequencyMapWindow::printClick);
    item(print, "mnSaveGraph", "save graph", &FrequencyMapWindow::saveGraphClick);
}

void FrequencyMapWindow::planeClick()
{
    const bool xy = m_rbXY->isChecked();
    m_edYMax->setEnabled(xy);
    m_edDelta->setEnabled(xy);
    m_edDeltaMax->setEnabled(!xy);
}

std::optional<FrequencyMapSettings> FrequencyMapWindow::readSettings()
{
    Messages& m = messages();
    FrequencyMapSettings s;
    s.plane = m_rbXY->isChecked() ? FrequencyMapPlane::XY : FrequencyMapPlane::XDelta;
    const bool xy = s.plane == FrequencyMapPlane::XY;
    const auto nx = limitedBoxValue(m_edNx, "grid points in x", kGridPointsLimit, true, m);
    const auto ny =
        nx ? limitedBoxValue(m_edNy, "grid points in y or delta", kGridPointsLimit, true, m) : std::nullopt;
    const auto xMax =
        ny ? limitedBoxValue(m_edXMax, "largest x, mm", kGridExtentLimit, false, m) : std::nullopt;
    std::optional<double> yMax, delta;
    if (xMax && xy) {
        yMax = limitedBoxValue(m_edYMax, "largest y, mm", kGridExtentLimit, false, m);
        delta = yMax ? limitedBoxValue(m_edDelta, "momentum deviation, %", kDeltaPercentLimit, false, m)
                     : std::nullopt;
    } else if (xMax) {
        yMax = limitedBoxValue(m_edDeltaMax, "largest |delta|, %", kDeltaExtentLimit, false, m);
        delta = yMax ? std::optional<double>(0.0) : std::nullopt;
    }
    const auto turns =
        delta ? limitedBoxValue(m_edTurns, "turns of each half", kHalfTurnsLimit, true, m) : std::nullopt;
    const auto apertureX =
        turns ? limitedBoxValue(m_edApertureX, "half aperture x, mm", kApertureLimit, false, m)
              : std::nullopt;
    const auto apertureY =
        apertureX ? limitedBoxValue(m_edApertureY, "half aperture y, mm", kApertureLimit, false, m)
                  : std::nullopt;
    if (!apertureY)
        return std::nullopt;
    s.nx = static_cast<int>(*nx);
    s.ny = static_cast<int>(*ny);
    s.xMax = *xMax / 1000;
    s.yMax = xy ? *yMax / 1000 : *yMax / 100;
    s.delta = *delta / 100;
    s.turns = static_cast<int>(*turns);
    s.perTurn = m_cbPerTurn->isChecked();
    s.aperture = {*apertureX / 1000, *apertureY / 1000};
    return s;
}

void FrequencyMapWindow::bbRunClick()
{
    if (running())
        return;
    showingConversionErrors(messages(), [this] {
        const std::optional<FrequencyMapSettings> s = readSettings();
        if (!s)
            return;
        std::optional<ApertureRing> ring = apertureRing(m_state, messages());
        if (!ring)
            return;
        m_settings = *s;
        m_lattice = trackingFingerprint(m_state);
        m_running = std::make_shared<FrequencyMap>();
        m_cancel = false;
        m_progress = 0;
        ScanControl control;
        control.cancel = &m_cancel;
        control.progress = [this](double fraction) { m_progress = fraction; };
        m_worker = QThread::create([ring = std::move(*ring), settings = *s, result = m_running, control] {
            *result = frequencyMap(ring, settings, control);
        });
        connect(m_worker, &QThread::finished, this, [this] { scanDone(); });
        setRunning(true);
        m_pbRun->setValue(0);
        m_pbRun->setFormat(q(fmt("%.2f %%", 0.0)));
        m_pbRun->setTextVisible(true);
        m_lResult->setText("running ...");
        m_worker->start();
        m_poll->start();
    });
}

void FrequencyMapWindow::bbCancelClick()
{
    if (!running())
        return;
    m_cancel = true;
    m_lResult->setText("cancelling ...");
}

void FrequencyMapWindow::scanDone()
{
    m_poll->stop();
    m_worker->wait();
    m_worker->deleteLater();
    m_worker = nullptr;
    setRunning(false);
    m_pbRun->setValue(0); // the result line tells how the run ended
    m_pbRun->setTextVisible(false);
    m_map = std::move(*m_running);
    m_running.reset();
    showMap();
    emit scanFinished();
}

void FrequencyMapWindow::setRunning(bool running)
{
    m_bbRun->setEnabled(!running);
    m_bbCancel->setEnabled(running);
}

void FrequencyMapWindow::showMap()
{
    const FrequencyMap& map = *m_map;
    const FrequencyMapSettings& s = m_settings;
    const bool xy = s.plane == FrequencyMapPlane::XY;
    std::string title = "frequency map, 2 x " + std::to_string(s.turns) + " turns";
    if (xy)
        title += ", delta = " + fmt("%.2f", s.delta * 100) + " %";
    m_chart->showMap(map, s, q(title));

    int computed = 0, lost = 0, unclear = 0;
    double least = INFINITY, most = -INFINITY;
    TuneFootprint footprint;
    footprint.lattice = m_lattice;
    for (const FrequencyMapPoint& p : map.points) {
        computed += p.computed;
        if (!p.computed)
            continue;
        lost += p.lost;
        if (p.lost)
            continue;
        if (!p.tunesFound) {
            ++unclear;
            continue;
        }
        least = std::min(least, p.diffusion);
        most = std::max(most, p.diffusion);
        footprint.fractional.push_back({p.qx1, p.qy1});
        footprint.diffusion.push_back(p.diffusion);
    }
    std::string text = map.cancelled ? "cancelled: " : "";
    text += std::to_string(computed) + " of " + std::to_string(map.points.size()) + " points, " +
            std::to_string(lost) + " lost";
    if (unclear > 0)
        text += ", " + std::to_string(unclear) + " without a clear tune";
    if (!footprint.diffusion.empty())
        text += "; diffusion index from " + fmt("%.1f", least) + " to " + fmt("%.1f", most);
    m_lResult->setText(q(text));
    emit footprintChanged(footprint);
}

void FrequencyMapWindow::designChanged()
{
    if (running() || !m_map || m_lattice == trackingFingerprint(m_state))
        return;
    m_map.reset();
    m_chart->clear("frequency map: n/a");
    m_lResult->setText("n/a: the map was of another design");
    emit footprintChanged({});
}

void FrequencyMapWindow::saveCsvClick()
{
    if (!m_map) {
        messages().error("compute the frequency map first!");
        return;
    }
    const QString file = chooseCsvFile();
    if (file.isEmpty())
        return;
    writeTextFileSafely(file.toStdString(), frequencyMapCsv(*m_map, m_settings.plane), messages());
}

void FrequencyMapWindow::printClick()
{
    QPrinter printer(QPrinter::ScreenResolution);
    if (!choosePrinter(printer))
        return;
    printer.setPageOrientation(QPageLayout::Landscape);
    if (!printChart(m_chart->plot(), printer, QMarginsF(10, 5, 10, 5)))
        messages().error("the graph could not be printed");
}

void FrequencyMapWindow::saveGraphClick()
{
    exportChartDialog(this, m_chart->plot(), messages(), m_state);
}

} // namespace kestrune
