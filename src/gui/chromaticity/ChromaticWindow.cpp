#include "gui/chromaticity/ChromaticWindow.h"

#include "core/Design.h"
#include "core/Format.h"
#include "core/NumberInput.h"
#include "core/ring/Parameter.h"
#include "gui/BusyCursor.h"
#include "gui/GraphExport.h"
#include "gui/ListPrinter.h"
#include "gui/QtMessages.h"
#include "gui/chromaticity/TrackingChart.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QEvent>
#include <QFontDatabase>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPrinter>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <cstring>

namespace kestrune {

namespace {

// "spcl.sext.": the special sextupoles, the third family
const char* const kHeading = "chromaticities:   natural     wanted   spcl.sext.  SF,SD 's   actual"
                             "                                     SF,SD (1/m^3)";
// character columns of the heading's words, where the values below them start
constexpr int kNaturalColumn = 18;
constexpr int kWantedColumn = 30;
constexpr int kSpecialColumn = 39;
constexpr int kFamiliesColumn = 51;
constexpr int kActualColumn = 62;
constexpr int kButtonColumn = 78;
constexpr int kStrengthColumn = 105;

// Turns tracked between two looks at the clock: about two million element passes.
constexpr double kElementTurnsPerBlock = 2e6;
// Shortest time (ms) between two redraws of a long run.
constexpr qint64 kRedrawInterval = 100;

// A long run: after a short while a progress dialog with "stop" comes up. Until then the run takes no
// input at all; afterwards the dialog is application-modal, so that nothing but "stop" (or Esc) can reach
// the program while the run goes on, and the chart keeps drawing.
class RunProgress
{
public:
    RunProgress(QWidget* parent, int turns, int showAfterMs)
        : m_dialog("tracking ...", "stop", 0, std::max(turns, 1), parent), m_showAfterMs(showAfterMs)
    {
        m_dialog.setObjectName("dlgTrackingProgress");
        m_dialog.setWindowTitle("tracking");
        m_dialog.setWindowModality(Qt::ApplicationModal);
        m_dialog.setAutoClose(false);
        m_dialog.setAutoReset(false);
        m_dialog.reset();
        m_dialog.hide();
        m_clock.start();
    }

    /// Shows what was done; false once the user has pressed "stop".
    bool keepGoing(int turn)
    {
        if (!m_dialog.isVisible()) {
            if (m_clock.elapsed() < m_showAfterMs) {
                QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
                return true;
            }
            m_dialog.show();
        }
        m_dialog.setValue(turn);
        QCoreApplication::processEvents();
        return !m_dialog.wasCanceled();
    }

private:
    QProgressDialog m_dialog;
    QElapsedTimer m_clock;
    int m_showAfterMs;
};

// Advances a run in blocks of turns: the first kTuneTurns points are kept for the tunes, the points go to
// show() at most every kRedrawInterval and at the end; "stop" ends the run after the block under way.
template <class Run, class Point, class Show>
void trackInBlocks(Run& run, int block, std::vector<Point>& kept, RunProgress& progress, Show show)
{
    std::vector<Point> points;
    QElapsedTimer clock;
    clock.start();
    while (!run.finished()) {
        const std::size_t from = points.size();
        run.advance(block, points);
        for (std::size_t i = from; i < points.size() && kept.size() < static_cast<std::size_t>(kTuneTurns);
             ++i)
            kept.push_back(points[i]);
        if (clock.elapsed() >= kRedrawInterval) {
            show(points);
            points.clear();
            if (!progress.keepGoing(run.turn()))
                break;
            clock.restart();
        }
    }
    show(points);
}

std::string text(const QLineEdit* edit)
{
    return edit->text().toStdString();
}

QString q(const std::string& s)
{
    return QString::fromStdString(s);
}

QLineEdit* box(const char* name, const char* value, QWidget* parent)
{
    auto* edit = new QLineEdit(value, parent);
    edit->setObjectName(name);
    return edit;
}

QLabel* label(const char* name, const QString& caption, QWidget* parent)
{
    auto* l = new QLabel(caption, parent);
    l->setObjectName(name);
    return l;
}

QRadioButton* radio(const char* name, const char* caption, QWidget* parent)
{
    auto* r = new QRadioButton(caption, parent);
    r->setObjectName(name);
    return r;
}

} // namespace

ChromaticWindow::ChromaticWindow(State& state, Windows& windows, QWidget* parent)
    : QMainWindow(parent), m_state(state), m_windows(windows)
{
    setObjectName("TfChromatic");
    setWindowTitle("chromaticity correction and particle tracking");
    auto* central = new QWidget(this);
    setCentralWidget(central);
    auto* layout = new QVBoxLayout(central);
    buildCorrectionGroup();
    layout->addWidget(m_gbCorrection);
    auto* lower = new QHBoxLayout;
    auto* left = new QVBoxLayout;
    buildParticleGroup();
    left->addWidget(m_gbParticle);
    left->addWidget(buildScaleGroup());
    left->addStretch(1);
    lower->addLayout(left);
    // the tunes on one line under the chart, where they neither wrap nor move the controls
    auto* right = new QVBoxLayout;
    m_chart = new TrackingChart(central);
    m_chart->setMinimumSize(480, 400);
    right->addWidget(m_chart, 1);
    m_lTunes = label("lTunes", "", central);
    m_lTunes->setFixedHeight(m_lTunes->fontMetrics().lineSpacing() + 4);
    right->addWidget(m_lTunes);
    lower->addLayout(right, 1);
    layout->addLayout(lower, 1);
    buildMenu();
    resize(1080, 720);
}

Messages& ChromaticWindow::messages()
{
    return *m_windows.messages;
}

// The values stand under the words of the heading, in a fixed-pitch font, as the form placed them.
void ChromaticWindow::buildCorrectionGroup()
{
    m_gbCorrection = new QGroupBox("chromaticity correction", this);
    m_gbCorrection->setObjectName("gbChromaticity");
    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    m_gbCorrection->setFont(mono);
    const QFontMetrics metrics(mono);
    const int cw = metrics.horizontalAdvance('x');
    const int line = metrics.height() + 8;
    const int top = metrics.height() + 6;
    const auto place = [&](QWidget* w, int column, int row, int width) {
        w->setGeometry(8 + column * cw, top + row * line, width * cw, line - 4);
    };
    place(label("lHeading", kHeading, m_gbCorrection), 0, 0, static_cast<int>(std::strlen(kHeading)) + 6);
    m_edxiwx = box("edxiwx", "0.0", m_gbCorrection);
    m_edxiwy = box("edxiwy", "0.0", m_gbCorrection);
    struct Row
    {
        const char* caption;
        QLabel*& natural;
        QLineEdit* wanted;
        QLabel*& special;
        QLabel*& families;
        QLabel*& actual;
        QLabel*& strength;
        const char* names[5];
    };
    const Row rows[2] = {
        {"wanted, x = ",
         m_lxixo,
         m_edxiwx,
         m_lxisx,
         m_ldxix,
         m_lxix,
         m_lSF,
         {"lxixo", "lxisx", "ldxix", "lxix", "lSF"}},
        {"wanted, y = ",
         m_lxiyo,
         m_edxiwy,
         m_lxisy,
         m_ldxiy,
         m_lxiy,
         m_lSD,
         {"lxiyo", "lxisy", "ldxiy", "lxiy", "lSD"}},
    };
    for (int r = 0; r < 2; ++r) {
        const Row& row = rows[r];
        place(label(r == 0 ? "lWantedX" : "lWantedY", row.caption, m_gbCorrection), 0, r + 1, 15);
        row.natural = label(row.names[0], "", m_gbCorrection);
        row.special = label(row.names[1], "", m_gbCorrection);
        row.families = label(row.names[2], "", m_gbCorrection);
        row.actual = label(row.names[3], "", m_gbCorrection);
        row.strength = label(row.names[4], "", m_gbCorrection);
        place(row.natural, kNaturalColumn - 2, r + 1, 10);
        place(row.wanted, kWantedColumn - 1, r + 1, 8);
        place(row.special, kSpecialColumn, r + 1, 10);
        place(row.families, kFamiliesColumn - 1, r + 1, 10);
        place(row.actual, kActualColumn - 2, r + 1, 10);
        place(row.strength, kStrengthColumn, r + 1, 12);
    }
    auto* update = new QPushButton("update", m_gbCorrection);
    update->setObjectName("bbUpdate");
    place(update, kButtonColumn, 1, 16);
    update->setGeometry(update->x(), update->y(), update->width(), 2 * line - 4);
    connect(update, &QPushButton::clicked, this, &ChromaticWindow::bbUpdateClick);
    m_gbCorrection->setMinimumSize(16 + (kStrengthColumn + 18) * cw, top + 3 * line + 4);
}

void ChromaticWindow::buildParticleGroup()
{
    m_gbParticle = new QGroupBox("single particle  ", this);
    m_gbParticle->setObjectName("gbSingleParticle");
    auto* grid = new QGridLayout(m_gbParticle);
    m_lxo = label("lxo", "", m_gbParticle);
    m_lxpo = label("lxpo", "", m_gbParticle);
    m_lyo = label("lyo", "", m_gbParticle);
    m_lypo = label("lypo", "", m_gbParticle);
    m_llo = label("llo", "l_o, mm", m_gbParticle);
    m_edXo = box("edXo", "10.0", m_gbParticle);
    m_edXPo = box("edXPo", "0.0", m_gbParticle);
    m_edYo = box("edYo", "0.0", m_gbParticle);
    m_edYPo = box("edYPo", "0.0", m_gbParticle);
    m_edLo = box("edLo", "0.0", m_gbParticle);
    const std::pair<QLabel*, QLineEdit*> starts[] = {
        {m_lxo, m_edXo}, {m_lxpo, m_edXPo}, {m_lyo, m_edYo}, {m_lypo, m_edYPo}, {m_llo, m_edLo}};
    int row = 0;
    for (const auto& [caption, edit] : starts) {
        grid->addWidget(caption, row, 0);
        grid->addWidget(edit, row++, 1);
    }
    rbMMClick();
    grid->addWidget(label("lNumTurns", "# of turns:", m_gbParticle), row, 0);
    m_edNumTurns = box("edNumTurns", "400", m_gbParticle);
    grid->addWidget(m_edNumTurns, row++, 1);

    const auto pair = [&](QRadioButton*& first, const char* firstName, const char* firstCaption,
                          QRadioButton*& second, const char* secondName, const char* secondCaption) {
        first = radio(firstName, firstCaption, m_gbParticle);
        second = radio(secondName, secondCaption, m_gbParticle);
        auto* group = new QButtonGroup(m_gbParticle);
        group->addButton(first);
        group->addButton(second);
        first->setChecked(true);
        grid->addWidget(first, row, 0);
        grid->addWidget(second, row++, 1);
        return group;
    };
    pair(m_rbAdd, "rbAdd", "add to graph", m_rbReplace, "rbReplace", "new graph");
    grid->addWidget(label("lModel", "tracking model", m_gbParticle), row++, 0, 1, 2);
    pair(m_rbSymplectic, "rbSymplectic", "symplectic", m_rbLinearMaps, "rbLinearMaps", "linear maps");
    connect(m_rbSymplectic, &QRadioButton::toggled, this, &ChromaticWindow::rbModelClick);
    grid->addWidget(label("lPhaseSpace", "phase space display", m_gbParticle), row++, 0, 1, 2);
    QButtonGroup* planes = pair(m_rbXXp, "rbXXp", "x-x'", m_rbYYP, "rbYYP", "y-y'");
    m_rbZDelta = radio("rbZDelta", "z-\u03b4", m_gbParticle);
    planes->addButton(m_rbZDelta);
    grid->addWidget(m_rbZDelta, row++, 0);
    pair(m_rbMM, "rbMM", "mm,mr", m_rbSigma, "rbSigma", "sigma's");
    connect(m_rbMM, &QRadioButton::clicked, this, &ChromaticWindow::rbMMClick);
    connect(m_rbSigma, &QRadioButton::clicked, this, &ChromaticWindow::rbSigmaClick);

    const auto option = [&](QCheckBox*& check, const char* name, const char* caption, QLineEdit*& edit,
                            const char* editName, const char* value, const char* unit) {
        check = new QCheckBox(caption, m_gbParticle);
        check->setObjectName(name);
        edit = box(editName, value, m_gbParticle);
        auto* line = new QHBoxLayout;
        line->addWidget(edit);
        line->addWidget(new QLabel(unit, m_gbParticle));
        grid->addWidget(check, row, 0);
        grid->addLayout(line, row++, 1);
    };
    option(m_cbOffMom, "cbOffMom", "off mom.", m_edOffMom, "edOffMom", "1.0", "%");
    option(m_cbAperture, "cbAperture", "aperture", m_edAperture, "edAperture", "30.0", "mm");
    m_cbRf = new QCheckBox("rf cavity", m_gbParticle);
    m_cbRf->setObjectName("cbRf");
    m_cbRf->setChecked(true);
    grid->addWidget(m_cbRf, row++, 0, 1, 2);

    auto* track = new QPushButton("track", m_gbParticle);
    track->setObjectName("bbTrack");
    connect(track, &QPushButton::clicked, this, &ChromaticWindow::bbTrackClick);
    grid->addWidget(track, row++, 0, 1, 2);
}

QGroupBox* ChromaticWindow::buildScaleGroup()
{
    auto* group = new QGroupBox("scale graph ", this);
    group->setObjectName("gbScale");
    auto* grid = new QGridLayout(group);
    grid->addWidget(new QLabel("axis:     min       max", group), 0, 0, 1, 3);
    m_edWidthMin = box("edWidthMin", "-5.0", group);
    m_edWidthMax = box("edWidthMax", " 5.0", group);
    m_edHeightMin = box("edHeightMin", " -5.0", group);
    m_edHeightMax = box("edHeightMax", " 5.0", group);
    grid->addWidget(new QLabel("x, mm", group), 1, 0);
    grid->addWidget(m_edWidthMin, 1, 1);
    grid->addWidget(m_edWidthMax, 1, 2);
    grid->addWidget(new QLabel("y, mr", group), 2, 0);
    grid->addWidget(m_edHeightMin, 2, 1);
    grid->addWidget(m_edHeightMax, 2, 2);
    auto* automatic = new QPushButton("automatic scaling", group);
    automatic->setObjectName("btAuto");
    connect(automatic, &QPushButton::clicked, this, &ChromaticWindow::btAutoClick);
    auto* use = new QPushButton("&Use", group);
    use->setObjectName("bbUse");
    connect(use, &QPushButton::clicked, this, &ChromaticWindow::bbUseClick);
    grid->addWidget(automatic, 3, 0, 1, 2);
    grid->addWidget(use, 3, 2);
    return group;
}

void ChromaticWindow::buildMenu()
{
    QMenu* print = menuBar()->addMenu("print");
    print->setObjectName("mnPrint");
    QAction* save = print->addAction("Save graph as MetaFile, tracking.wmf");
    save->setObjectName("mnSaveGraphWmf");
    connect(save, &QAction::triggered, this, &ChromaticWindow::saveGraphWmfClick);
    QAction* graph = print->addAction("print graph");
    graph->setObjectName("mnGraph");
    connect(graph, &QAction::triggered, this, &ChromaticWindow::printGraphClick);
}

void ChromaticWindow::bbUpdateClick()
{
    showingConversionErrors(messages(), [this] {
        const double wantedX = wantedChromaticity(text(m_edxiwx));
        const double wantedY = wantedChromaticity(text(m_edxiwy));
        // the ring window leaves the natural chromaticities; where it has not run yet they are computed here
        const RingParameters& ring = m_state.ringParams;
        if (!ring.computed || ring.stamp != latticeStamp(m_state) || !std::isfinite(ring.chromaticityX) ||
            !std::isfinite(ring.chromaticityY))
            radiationIntegrals(m_state, messages());
        m_state.history.absorb(m_state);
        const std::optional<ChromaticityCorrection> c =
            correctChromaticity(m_state, messages(), wantedX, wantedY);
        m_state.history.commit(m_state, "sextupole correction");
        emit historyChanged(); // the beam-dynamics window's Edit menu and title follow the step at once
        if (c)
            showCorrection(*c);
    });
}

void ChromaticWindow::showCorrection(const ChromaticityCorrection& c)
{
    const std::pair<QLabel*, double> values[] = {
        {m_lSF, c.mF},          {m_lSD, c.mD},          {m_lxixo, c.naturalX},   {m_lxiyo, c.naturalY},
        {m_lxisx, c.specialX},  {m_lxisy, c.specialY},  {m_ldxix, c.sextupoleX}, {m_ldxiy, c.sextupoleY},
        {m_lxix, c.correctedX}, {m_lxiy, c.correctedY},
    };
    for (const auto& [l, value] : values)
        l->setText(q(fmtOrNa("%8.3f", value)));
    m_correctionLattice = latticeStamp(m_state);
    m_correctionSextupoles = sextupoleStamp(m_state);
}

void ChromaticWindow::designChanged()
{
    if (m_correctionLattice == 0 ||
        (m_correctionLattice == latticeStamp(m_state) && m_correctionSextupoles == sextupoleStamp(m_state)))
        return;
    for (QLabel* l : {m_lSF, m_lSD, m_lxixo, m_lxiyo, m_lxisx, m_lxisy, m_ldxix, m_ldxiy, m_lxix, m_lxiy})
        l->setText("n/a");
    m_correctionLattice = 0;
}

bool ChromaticWindow::event(QEvent* event)
{
    if (event->type() == QEvent::WindowActivate)
        designChanged();
    return QMainWindow::event(event);
}

std::optional<TrackingRequest> ChromaticWindow::readRequest()
{
    TrackingRequest request;
    const PhasePoint typed{parseDouble(text(m_edXo)), parseDouble(text(m_edXPo)), parseDouble(text(m_edYo)),
                           parseDouble(text(m_edYPo))};
    request.start = typed;
    request.turns = parseInt(text(m_edNumTurns));
    request.aperture = m_cbAperture->isChecked();
    if (request.aperture)
        request.apertureMm = parseDouble(text(m_edAperture));
    request.offMomentum = m_cbOffMom->isChecked();
    if (request.offMomentum)
        request.delta = parseDouble(text(m_edOffMom)) / 100;
    request.plane = m_rbYYP->isChecked() ? PhasePlane::Y : PhasePlane::X;
    request.model = m_rbSymplectic->isChecked() ? TrackingModel::Symplectic : TrackingModel::LinearMaps;
    if (!checkTracking(m_state, request, messages()))
        return std::nullopt;
    if (m_rbSigma->isChecked()) {
        const std::optional<PhasePoint> start = sigmaStart(m_state, messages(), typed);
        if (!start)
            return std::nullopt;
        request.start = *start;
    }
    return request;
}

void ChromaticWindow::bbTrackClick()
{
    showingConversionErrors(messages(), [this] {
        const std::optional<TrackingRequest> request = readRequest();
        if (!request)
            return;
        const bool symplectic = m_rbSymplectic->isChecked();
        const double lengthMm = symplectic ? parseDouble(text(m_edLo)) : 0;
        if (m_rbReplace->isChecked())
            m_chart->clear();
        if (symplectic)
            runSymplectic(*request, lengthMm);
        else
            runTracking(*request);
    });
}

// A long run stays visible: the points go to the chart in blocks, redrawn at most ten times a second.
void ChromaticWindow::runTracking(const TrackingRequest& request)
{
    TrackingRun run(m_state.line, request);
    std::vector<PhasePoint> kept;
    {
        const BusyCursor busy;
        const double ringElements =
            std::max(1.0, static_cast<double>(m_state.line.count) * m_state.line.superPeriods);
        const int block = static_cast<int>(std::clamp(kElementTurnsPerBlock / ringElements, 1.0, 1e6));
        RunProgress progress(this, request.turns, m_progressDelayMs);
        trackInBlocks(run, block, kept, progress, [&](const std::vector<PhasePoint>& points) {
            m_chart->addPoints(points, request.plane);
            m_chart->refresh();
        });
    }
    m_lTunes->setText(q(tunesText(linearTunes(kept), false)));
    finishTracking(m_state, messages(), run);
}

void ChromaticWindow::runSymplectic(const TrackingRequest& request, double lengthMm)
{
    const RfCavity rf = m_cbRf->isChecked() ? trackingRfCavity(m_state, messages()) : RfCavity{};
    SymplecticRun run = symplecticRun(m_state, messages(), request, lengthMm, rf);
    const bool longitudinal = m_rbZDelta->isChecked();
    std::vector<PhaseVector> kept;
    {
        const BusyCursor busy;
        const double ringElements = std::max(1.0, static_cast<double>(run.lattice().ringElements()));
        // the symplectic maps take about ten times the time of the linear ones
        const int block = static_cast<int>(std::clamp(kElementTurnsPerBlock / 10 / ringElements, 1.0, 1e6));
        std::vector<PhasePoint> shown;
        RunProgress progress(this, request.turns, m_progressDelayMs);
        trackInBlocks(run, block, kept, progress, [&](const std::vector<PhaseVector>& points) {
            if (longitudinal) {
                m_chart->addLongitudinalPoints(points);
            } else {
                shown.clear();
                for (const PhaseVector& p : points)
                    shown.push_back(transversePoint(p));
                m_chart->addPoints(shown, request.plane);
            }
            m_chart->refresh();
        });
    }
    m_lTunes->setText(q(tunesText(trackedTunes(kept, rf.on), rf.on)));
    finishSymplecticTracking(m_state, messages(), run);
}

void ChromaticWindow::rbMMClick()
{
    m_lxo->setText("x_o, mm");
    m_lxpo->setText("xp_o, mr");
    m_lyo->setText("y_o, mm");
    m_lypo->setText("yp_o, mr");
}

void ChromaticWindow::rbSigmaClick()
{
    m_lxo->setText("n_x");
    m_lxpo->setText("n_xp");
    m_lyo->setText("n_y");
    m_lypo->setText("n_yp");
}

void ChromaticWindow::rbModelClick()
{
    const bool symplectic = m_rbSymplectic->isChecked();
    if (!symplectic && m_rbZDelta->isChecked())
        m_rbXXp->setChecked(true);
    for (QWidget* w : std::initializer_list<QWidget*>{m_rbZDelta, m_edLo, m_llo, m_cbRf})
        w->setEnabled(symplectic);
}

void ChromaticWindow::btAutoClick()
{
    m_chart->setAutomatic();
    m_chart->refresh();
}

void ChromaticWindow::bbUseClick()
{
    showingConversionErrors(messages(), [this] {
        const double xMin = parseDouble(text(m_edWidthMin));
        const double xMax = parseDouble(text(m_edWidthMax));
        const double yMin = parseDouble(text(m_edHeightMin));
        const double yMax = parseDouble(text(m_edHeightMax));
        m_chart->useScale(xMin, xMax, yMin, yMax);
        m_chart->refresh();
    });
}

void ChromaticWindow::printGraphClick()
{
    QPrinter printer(QPrinter::ScreenResolution);
    if (!askPrinter(printer, this))
        return;
    printer.setPageOrientation(QPageLayout::Landscape);
    m_chart->setVectorPoints(true);
    const bool printed = printChart(m_chart->plot(), printer, QMarginsF(10, 5, 10, 5));
    m_chart->setVectorPoints(false);
    if (!printed)
        messages().error("the graph could not be printed");
}

void ChromaticWindow::saveGraphWmfClick()
{
    m_chart->setVectorPoints(true);
    exportChartDialog(this, m_chart->plot(), messages());
    m_chart->setVectorPoints(false);
}

} // namespace kestrune
