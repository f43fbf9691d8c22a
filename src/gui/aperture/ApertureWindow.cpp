#include "gui/aperture/ApertureWindow.h"

#include "core/Format.h"
#include "core/NumberInput.h"
#include "core/aperture/ApertureList.h"
#include "core/aperture/ScanLimits.h"
#include "core/io/Listing.h"
#include "core/orbit/SeedApertures.h"
#include "gui/Controls.h"
#include "gui/GraphExport.h"
#include "gui/ListPrinter.h"
#include "gui/QtMessages.h"
#include "gui/aperture/ApertureCharts.h"

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
#include <QSplitter>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <memory>

namespace kestrune {

namespace {

// Why every ray found no surviving amplitude: the closed orbit of the momentum deviation is missing or
// outside the aperture, or the motion around it is unstable; empty when some ray has an aperture.
std::string zeroApertureReason(const DynamicAperture& da, const DynamicApertureSettings& s)
{
    if (da.radius.empty() ||
        !std::all_of(da.radius.begin(), da.radius.end(), [](double r) { return r == 0; }))
        return {};
    const std::string delta = "delta = " + fmt("%.2f", s.delta * 100) + " %";
    if (!std::isfinite(da.orbit.x) || !std::isfinite(da.orbit.y))
        return "there is no closed orbit at " + delta;
    if (std::fabs(da.orbit.x) >= s.aperture.x || std::fabs(da.orbit.y) >= s.aperture.y)
        return "the closed orbit at " + delta + " lies outside the aperture";
    return "no amplitude of " + fmt("%.3g", s.resolution * 1000) + " mm survives " + std::to_string(s.turns) +
           " turns at " + delta + ": the motion there is unstable";
}

constexpr int kPollInterval = 50; // ms between two looks at the progress
// Steps of the progress bar: a long scan of many points moves it by a share of a point, every pixel a
// step reaches drawn, and its percentage says what the pixels cannot yet
constexpr int kProgressSteps = 100000;

QString q(const std::string& text)
{
    return QString::fromStdString(text);
}

QPushButton* addButton(QGridLayout* grid, const char* name, const QString& caption)
{
    auto* button = new QPushButton(caption, grid->parentWidget());
    button->setObjectName(name);
    grid->addWidget(button, grid->rowCount(), 0, 1, 2);
    return button;
}

} // namespace

ApertureWindow::ApertureWindow(State& state, Windows& windows, QWidget* parent)
    : QMainWindow(parent), m_state(state), m_windows(windows)
{
    setObjectName("TfAperture");
    setWindowTitle("dynamic aperture and momentum acceptance");
    auto* central = new QWidget(this);
    setCentralWidget(central);
    auto* layout = new QHBoxLayout(central);
    auto* controls = new QVBoxLayout;
    controls->addWidget(buildApertureGroup());
    controls->addWidget(buildDynamicGroup());
    controls->addWidget(buildAcceptanceGroup());
    controls->addWidget(buildRunPanel());
    controls->addStretch(1);
    layout->addLayout(controls);
    auto* charts = new QSplitter(Qt::Vertical, central);
    m_dynamicChart = new DynamicApertureChart(charts);
    m_acceptanceChart = new AcceptanceChart(state.line, charts);
    m_dynamicChart->setMinimumSize(480, 260);
    m_acceptanceChart->setMinimumSize(480, 260);
    charts->addWidget(m_dynamicChart);
    charts->addWidget(m_acceptanceChart);
    layout->addWidget(charts, 1);
    buildMenus();
    m_poll = new QTimer(this);
    m_poll->setInterval(kPollInterval);
    connect(m_poll, &QTimer::timeout, this, [this] {
        const double done = m_progress;
        m_pbRun->setValue(static_cast<int>(kProgressSteps * done));
        m_pbRun->setFormat(q(fmt(done < 0.1 ? "%.2f %%" : "%.1f %%", 100 * done)));
    });
    choosePrinter = [this](QPrinter& printer) { return askPrinter(printer, this); };
    m_dynamicChart->showApertures(30, 15, NAN, NAN);
    resize(1100, 760);
}

ApertureWindow::~ApertureWindow()
{
    if (m_worker) {
        m_cancel = true;
        m_worker->disconnect(this);
        m_worker->wait();
        delete m_worker;
    }
}

Messages& ApertureWindow::messages()
{
    return *m_windows.messages;
}

QGroupBox* ApertureWindow::buildApertureGroup()
{
    auto* group = new QGroupBox("physical aperture", this);
    group->setObjectName("gbAperture");
    auto* grid = new QGridLayout(group);
    m_edApertureX = addCaptionedBox(grid, "edApertureX", "half aperture x, mm", "30.0");
    m_edApertureY = addCaptionedBox(grid, "edApertureY", "half aperture y, mm", "15.0");
    group->setToolTip("tested after every element, for both scans");
    return group;
}

QGroupBox* ApertureWindow::buildDynamicGroup()
{
    auto* group = new QGroupBox("dynamic aperture", this);
    group->setObjectName("gbDynamic");
    auto* grid = new QGridLayout(group);
    m_edAngles = addCaptionedBox(grid, "edAngles", "rays from 0 to pi", "21");
    m_edDaTurns = addCaptionedBox(grid, "edDaTurns", "turns", "1000");
    m_edDaDelta = addCaptionedBox(grid, "edDaDelta", "momentum deviation, %", "0.0");
    m_edDaResolution = addCaptionedBox(grid, "edDaResolution", "resolution, mm", "0.1");
    m_rbRadial = new QRadioButton("radial search", group);
    m_rbRadial->setObjectName("rbRadial");
    m_rbRadial->setChecked(true);
    m_rbGrid = new QRadioButton("grid", group);
    m_rbGrid->setObjectName("rbGrid");
    grid->addWidget(m_rbRadial, grid->rowCount(), 0);
    grid->addWidget(m_rbGrid, grid->rowCount() - 1, 1);
    m_edGridX = addCaptionedBox(grid, "edGridX", "grid points in x", "41");
    m_edGridY = addCaptionedBox(grid, "edGridY", "grid points in y", "20");
    m_bbDynamic = addButton(grid, "bbDynamic", "dynamic aperture");
    connect(m_bbDynamic, &QPushButton::clicked, this, [this] { bbDynamicClick(); });
    return group;
}

QGroupBox* ApertureWindow::buildAcceptanceGroup()
{
    auto* group = new QGroupBox("momentum acceptance", this);
    group->setObjectName("gbAcceptance");
    auto* grid = new QGridLayout(group);
    m_edMaTurns = addCaptionedBox(grid, "edMaTurns", "turns", "512");
    m_edMaResolution = addCaptionedBox(grid, "edMaResolution", "resolution, %", "0.01");
    m_edEvery = addCaptionedBox(grid, "edEvery", "every k-th element", "1");
    m_bbAcceptance = addButton(grid, "bbAcceptance", "momentum acceptance");
    connect(m_bbAcceptance, &QPushButton::clicked, this, [this] { bbAcceptanceClick(); });
    return group;
}

QWidget* ApertureWindow::buildRunPanel()
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
    grid->addWidget(m_pbRun, 0, 0);
    grid->addWidget(m_bbCancel, 0, 1);
    grid->addWidget(m_lResult, 1, 0, 1, 2);
    return panel;
}

void ApertureWindow::buildMenus()
{
    QMenuBar* bar = menuBar();
    const auto item = [this](QMenu* menu, const char* name, const QString& text,
                             void (ApertureWindow::*handler)()) {
        QAction* action = menu->addAction(text);
        action->setObjectName(name);
        connect(action, &QAction::triggered, this, [this, handler] { (this->*handler)(); });
    };
    QMenu* print = bar->addMenu("&print");
    print->setObjectName("mnPrintMenu");
    item(print, "mnPrintDynamic", "print dynamic aperture", &ApertureWindow::printDynamicClick);
    item(print, "mnPrintAcceptance", "print momentum acceptance", &ApertureWindow::printAcceptanceClick);
    item(print, "mnSaveDynamic", "save dynamic aperture graph", &ApertureWindow::saveDynamicClick);
    item(print, "mnSaveAcceptance", "save momentum acceptance graph", &ApertureWindow::saveAcceptanceClick);
    QMenu* lists = bar->addMenu("&lists");
    lists->setObjectName("mnLists");
    item(lists, "mnListDynamic", "dynamic aperture", &ApertureWindow::listDynamicClick);
    item(lists, "mnListAcceptance", "momentum acceptance", &ApertureWindow::listAcceptanceClick);
}

std::optional<Aperture> ApertureWindow::readAperture()
{
    const std::optional<double> x =
        limitedBoxValue(m_edApertureX, "half aperture x, mm", kApertureLimit, false, messages());
    if (!x)
        return std::nullopt;
    const std::optional<double> y =
        limitedBoxValue(m_edApertureY, "half aperture y, mm", kApertureLimit, false, messages());
    if (!y)
        return std::nullopt;
    return Aperture{*x / 1000, *y / 1000};
}

void ApertureWindow::bbDynamicClick()
{
    if (running())
        return;
    showingConversionErrors(messages(), [this] {
        Messages& m = messages();
        const std::optional<Aperture> aperture = readAperture();
        const std::optional<double> turns =
            aperture ? limitedBoxValue(m_edDaTurns, "dynamic aperture: turns", kTurnsLimit, true, m)
                     : std::nullopt;
        const std::optional<double> delta =
            turns ? limitedBoxValue(m_edDaDelta, "momentum deviation, %", kDeltaPercentLimit, false, m)
                  : std::nullopt;
        if (!delta)
            return;
        const bool grid = m_rbGrid->isChecked();
        std::optional<double> first, second;
        if (grid) {
            first = limitedBoxValue(m_edGridX, "grid points in x", kGridPointsLimit, true, m);
            second = first ? limitedBoxValue(m_edGridY, "grid points in y", kGridPointsLimit, true, m)
                           : std::nullopt;
        } else {
            first = limitedBoxValue(m_edAngles, "rays from 0 to pi", kAnglesLimit, true, m);
            second =
                first ? limitedBoxValue(m_edDaResolution, "resolution, mm", kRadialResolutionLimit, false, m)
                      : std::nullopt;
        }
        if (!second)
            return;
        std::optional<ApertureRing> ring = apertureScanRing(m_state, m);
        if (!ring)
            return;
        m_ring = ring;
        if (grid) {
            ApertureGridSettings s;
            s.nx = static_cast<int>(*first);
            s.ny = static_cast<int>(*second);
            s.xMax = aperture->x;
            s.yMax = aperture->y;
            s.turns = static_cast<int>(*turns);
            s.delta = *delta / 100;
            s.aperture = *aperture;
            m_gridSettings = s;
            auto result = std::make_shared<ApertureGrid>();
            runScan([ring = *ring, s, result](const ScanControl& c) { *result = apertureGrid(ring, s, c); },
                    [this, result] {
                        m_grid = *result;
                        showGrid();
                    });
            return;
        }
        DynamicApertureSettings s;
        s.angles = static_cast<int>(*first);
        s.resolution = *second / 1000;
        s.turns = static_cast<int>(*turns);
        s.delta = *delta / 100;
        s.aperture = *aperture;
        m_dynamicSettings = s;
        auto result = std::make_shared<DynamicAperture>();
        runScan([ring = *ring, s, result](const ScanControl& c) { *result = dynamicAperture(ring, s, c); },
                [this, result] {
                    m_dynamic = *result;
                    showDynamicAperture();
                });
    });
}

void ApertureWindow::bbAcceptanceClick()
{
    if (running())
        return;
    showingConversionErrors(messages(), [this] {
        Messages& m = messages();
        const std::optional<Aperture> aperture = readAperture();
        const std::optional<double> turns =
            aperture ? limitedBoxValue(m_edMaTurns, "momentum acceptance: turns", kTurnsLimit, true, m)
                     : std::nullopt;
        const std::optional<double> resolution =
            turns ? limitedBoxValue(m_edMaResolution, "resolution, %", kMomentumResolutionLimit, false, m)
                  : std::nullopt;
        const std::optional<double> every =
            resolution ? limitedBoxValue(m_edEvery, "every k-th element", kEveryLimit, true, m)
                       : std::nullopt;
        if (!every)
            return;
        std::optional<ApertureRing> ring = apertureScanRing(m_state, m);
        if (!ring || !checkAcceptanceRing(*ring, m))
            return;
        m_ring = ring;
        MomentumAcceptanceSettings s;
        s.turns = static_cast<int>(*turns);
        s.resolution = *resolution / 100;
        s.every = static_cast<int>(*every);
        s.aperture = *aperture;
        m_acceptanceSettings = s;
        const std::uint64_t lattice = trackingFingerprint(m_state);
        m_acceptance.reset();
        m_acceptanceChart->showAcceptance({}, {}, {}, NAN, 0, "local momentum acceptance: running ...");
        auto result = std::make_shared<MomentumAcceptance>();
        runScan([ring = *ring, s, result](const ScanControl& c) { *result = momentumAcceptance(ring, s, c); },
                [this, result, lattice] {
                    m_acceptance = *result;
                    m_acceptanceLattice = lattice;
                    showAcceptance();
                });
    });
}

void ApertureWindow::bbCancelClick()
{
    if (!running())
        return;
    m_cancel = true;
    m_lResult->setText("cancelling ...");
}

void ApertureWindow::runScan(std::function<void(const ScanControl&)> work, std::function<void()> finish)
{
    m_cancel = false;
    m_progress = 0;
    m_finish = std::move(finish);
    ScanControl control;
    control.cancel = &m_cancel;
    control.progress = [this](double fraction) { m_progress = fraction; };
    m_worker = QThread::create([work = std::move(work), control] { work(control); });
    connect(m_worker, &QThread::finished, this, [this] { scanDone(); });
    setRunning(true);
    m_pbRun->setValue(0);
    m_pbRun->setFormat(q(fmt("%.2f %%", 0.0)));
    m_pbRun->setTextVisible(true);
    m_lResult->setText("running ...");
    m_worker->start();
    m_poll->start();
}

void ApertureWindow::scanDone()
{
    m_poll->stop();
    m_worker->wait();
    m_worker->deleteLater();
    m_worker = nullptr;
    setRunning(false);
    m_pbRun->setValue(0); // the result line tells how the run ended
    m_pbRun->setTextVisible(false);
    const std::function<void()> finish = std::move(m_finish);
    m_finish = nullptr;
    if (finish)
        finish();
    emit scanFinished();
}

void ApertureWindow::setRunning(bool running)
{
    m_bbDynamic->setEnabled(!running);
    m_bbAcceptance->setEnabled(!running);
    m_bbCancel->setEnabled(running);
}

void ApertureWindow::designChanged()
{
    if (running() || !(m_dynamic || m_grid || m_acceptance) || m_shownLattice == trackingFingerprint(m_state))
        return;
    if (m_dynamic || m_grid) {
        m_dynamicChart->showApertures(NAN, NAN, NAN, NAN);
        m_dynamicChart->showBoundary({}, {}, "dynamic aperture: n/a");
    }
    if (m_acceptance)
        m_acceptanceChart->showAcceptance({}, {}, {}, NAN, 0, "local momentum acceptance: n/a");
    m_dynamic.reset();
    m_grid.reset();
    m_acceptance.reset();
    m_lResult->setText("n/a: the results were of another design");
}

void ApertureWindow::showDynamicAperture()
{
    const DynamicAperture& da = *m_dynamic;
    const DynamicApertureSettings& s = m_dynamicSettings;
    const ApertureBox box = linearAperture(*m_ring, s.aperture.x, s.aperture.y);
    std::vector<double> x, y;
    for (std::size_t i = 0; i < da.angles.size(); ++i) {
        x.push_back(da.radius[i] * std::cos(da.angles[i]) * 1000);
        y.push_back(da.radius[i] * std::sin(da.angles[i]) * 1000);
    }
    m_dynamicChart->showApertures(s.aperture.x * 1000, s.aperture.y * 1000, box.x * 1000, box.y * 1000);
    m_dynamicChart->showBoundary(x, y,
                                 q("dynamic aperture, " + std::to_string(s.turns) +
                                   " turns, delta = " + fmt("%.2f", s.delta * 100) + " %"));
    m_shownLattice = trackingFingerprint(m_state);
    const double area = apertureArea(da.angles, da.radius);
    std::string text = da.cancelled ? "cancelled: " : "";
    const std::string reason = zeroApertureReason(da, s);
    if (!reason.empty()) {
        m_lResult->setText(q(text + "no dynamic aperture: " + reason));
        return;
    }
    // a beam size in units of which the radius is said, or why there is none
    const auto inSigmas = [](double radius, double sigma, const char* plane) -> std::string {
        if (std::isfinite(sigma) && sigma > 0)
            return " = " + fmt("%.1f", radius / sigma) + " sigma_" + plane;
        return std::string(" (no sigma_") + plane + ": the " + (*plane == 'y' ? "vertical" : "horizontal") +
               " emittance is 0" + (*plane == 'y' ? ", the coupling of the ring window 0)" : ")");
    };
    const double across = da.radius.front(), up = da.radius[da.radius.size() / 2];
    text += "area = " + fmtOrNa("%.1f", area * 1e6) + " mm^2; at y = 0: " + fmtOrNa("%.2f", across * 1000) +
            " mm" + inSigmas(across, da.sigmaX, "x") + "; at x = 0: " + fmtOrNa("%.2f", up * 1000) + " mm" +
            inSigmas(up, da.sigmaY, "y");
    m_lResult->setText(q(text));
}

void ApertureWindow::showGrid()
{
    const ApertureGrid& g = *m_grid;
    const ApertureGridSettings& s = m_gridSettings;
    const ApertureBox box = linearAperture(*m_ring, s.aperture.x, s.aperture.y);
    std::vector<double> x, y;
    for (std::size_t k = 0; k < g.x.size(); ++k) {
        x.push_back(g.x[k] * 1000);
        y.push_back(g.y[k] * 1000);
    }
    m_dynamicChart->showApertures(s.aperture.x * 1000, s.aperture.y * 1000, box.x * 1000, box.y * 1000);
    m_shownLattice = trackingFingerprint(m_state);
    m_dynamicChart->showGrid(x, y, g.turns, g.lost,
                             q("dynamic aperture grid, " + std::to_string(s.turns) +
                               " turns, delta = " + fmt("%.2f", s.delta * 100) + " %"));
    std::string text = g.cancelled ? "cancelled: " : "";
    text += "area of the survivors = " + fmtOrNa("%.1f", gridArea(g, s) * 1e6) + " mm^2";
    m_lResult->setText(q(text));
}

void ApertureWindow::showAcceptance()
{
    const MomentumAcceptance& ma = *m_acceptance;
    std::vector<double> plus, minus;
    double smallest = INFINITY;
    std::size_t at = 0;
    for (std::size_t k = 0; k < ma.s.size(); ++k) {
        plus.push_back(ma.deltaPlus[k] * 100);
        minus.push_back(ma.deltaMinus[k] * 100);
        const double a = std::min(ma.deltaPlus[k], -ma.deltaMinus[k]);
        if (a < smallest) {
            smallest = a;
            at = k;
        }
    }
    m_shownLattice = trackingFingerprint(m_state);
    const double period =
        m_ring->elementStart.empty() ? 0 : m_ring->elementStart.back() + m_ring->elementLength.back();
    const auto computed = static_cast<std::size_t>(
        std::count_if(ma.deltaPlus.begin(), ma.deltaPlus.end(), [](double d) { return std::isfinite(d); }));
    std::string title = "local momentum acceptance, " + std::to_string(m_acceptanceSettings.turns) + " turns";
    if (ma.cancelled)
        title += ": cancelled after " + std::to_string(computed) + " of " + std::to_string(ma.s.size()) +
                 " points";
    m_acceptanceChart->showAcceptance(ma.s, plus, minus, ma.rfAcceptance * 100, period, q(title));
    if (ma.cancelled || ma.s.empty()) {
        m_lResult->setText("cancelled: the momentum acceptance is not kept for the lifetime");
        return;
    }
    m_state.localAcceptance = {ma.elements, ma.s, ma.deltaPlus, ma.deltaMinus, m_acceptanceLattice};
    const int element = ma.elements[at];
    m_lResult->setText(q("smallest acceptance " + fmtOrNa("%.3f", smallest * 100) + " % at element " +
                         std::to_string(element) + " (" + m_state.line.at(element).name +
                         "); rf acceptance " + fmtOrNa("%.3f", ma.rfAcceptance * 100) + " %"));
}

void ApertureWindow::listDynamicClick()
{
    if (!m_dynamic) {
        messages().error("compute the dynamic aperture by radial search first!");
        return;
    }
    addList(m_state, dynamicApertureLines(*m_dynamic, m_dynamicSettings));
    messages().showList();
}

void ApertureWindow::listAcceptanceClick()
{
    if (!m_acceptance) {
        messages().error("compute the momentum acceptance first!");
        return;
    }
    addList(m_state, momentumAcceptanceLines(m_state.line, *m_acceptance, m_acceptanceSettings));
    messages().showList();
}

void ApertureWindow::print(QCustomPlot* plot)
{
    QPrinter printer(QPrinter::ScreenResolution);
    if (!choosePrinter(printer))
        return;
    printer.setPageOrientation(QPageLayout::Landscape);
    if (!printChart(plot, printer, QMarginsF(10, 5, 10, 5)))
        messages().error("the graph could not be printed");
}

void ApertureWindow::printDynamicClick()
{
    print(m_dynamicChart->plot());
}

void ApertureWindow::printAcceptanceClick()
{
    print(m_acceptanceChart->plot());
}

void ApertureWindow::saveDynamicClick()
{
    exportChartDialog(this, m_dynamicChart->plot(), messages(), m_state);
}

void ApertureWindow::saveAcceptanceClick()
{
    exportChartDialog(this, m_acceptanceChart->plot(), messages(), m_state);
}

} // namespace kestrune
