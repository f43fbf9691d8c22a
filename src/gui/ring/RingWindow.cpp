#include "gui/ring/RingWindow.h"

#include "core/Design.h"
#include "core/Format.h"
#include "core/Kinematics.h"
#include "core/NumberInput.h"
#include "core/coupling/CoupledPass.h"
#include "core/coupling/ModeEmittances.h"
#include "core/io/LatticeFile.h"
#include "core/optics/BetaFunctions.h"
#include "core/orbit/ClosedOrbit.h"
#include "core/orbit/OrbitRing.h"
#include "core/ring/Parameter.h"
#include "core/ring/RingGeometry.h"
#include "gui/Controls.h"
#include "gui/ToolWindowMessages.h"

#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

namespace kestrune {

namespace {

// The labels of the beam-parameter group, in the order they are shown, with their form texts.
struct BeamLabel
{
    const char* name;
    const char* text;
};
constexpr BeamLabel kBeamLabels[] = {
    {"lEloss", "energy loss/turn"},
    {"ltotPow", "tot.rad. power"},
    {"ltaux", "damping time,tau_x"},
    {"ltauy", "damping time,tau_y"},
    {"ltaus", "damping time,tau_s"},
    {"leps_x", "emittance_x"},
    {"leps_y", "emittance_y"},
    {"lEpsMode1", "emittance, mode 1"},
    {"lEpsMode2", "emittance, mode 2"},
    {"lEpsMode3", "emittance, mode 3 (long.)"},
    {"lEpsYSource", "emittance_y from"},
    {"lEigentunes", "eigentunes"},
    {"lDeltaQMin", "closest tune approach"},
    {"lsige", "rel. energy spread"},
    {"lCirc", "circumference"},
    {"lMomCompF", "mom.comp. factor,alpha_c"},
    {"lMomComp", "slip factor, eta_c"},
    {"lI1", "I1"},
    {"lI2", "I2"},
    {"lI3", "I3"},
    {"lI4", "I4"},
    {"lI5", "I5"},
    {"lxixo", "nat.chromaticity_x"},
    {"lxiyo", "nat.chromaticity_y"},
    {"lxix", "corr.chromaticity_x"},
    {"lxiy", "corr.chromaticity_y"},
};

// The design values of a machine whose correctors kick are those of its line without the kicks and the
// errors (designLine): the optics on the design orbit take no kick. While an object of this class lives
// the state holds that line; its values about the closed orbit come from orbitRing of the machine.
class DesignLineAside
{
public:
    explicit DesignLineAside(State& state) : m_state(state)
    {
        if (lineKicks(state.line)) {
            m_machine = std::move(state.line);
            state.line = designLine(*m_machine);
        }
    }
    ~DesignLineAside()
    {
        if (m_machine)
            m_state.line = std::move(*m_machine);
    }
    DesignLineAside(const DesignLineAside&) = delete;
    DesignLineAside& operator=(const DesignLineAside&) = delete;

private:
    State& m_state;
    std::optional<BeamLine> m_machine;
};

} // namespace

RingWindow::RingWindow(State& state, Windows& windows, QWidget* parent)
    : QMainWindow(parent), m_state(state), m_windows(windows),
      m_messages(std::make_unique<ToolWindowMessages>(windows))
{
    setObjectName("TfRing");
    setWindowTitle("design a storage ring");

    auto* central = new QWidget(this);
    auto* layout = new QHBoxLayout(central);
    setCentralWidget(central);
    buildGeometryGroup();
    buildBeamGroup();
    buildStepGroup();
    layout->addWidget(m_gbGeometry, 0, Qt::AlignTop);
    layout->addWidget(m_gbBeamPar, 0, Qt::AlignTop);
    layout->addWidget(m_gbZstep, 0, Qt::AlignTop);
    layout->addStretch(1);
    buildToolBar();
    buildMenus();
    installDefaultDialogs();
    resize(760, 640);

    // the boxes of the start values: an open ring of one superperiod, 1 % coupling, cp = 1 GeV, 100 mA
    m_designLoads = m_state.designLoads;
    m_lTotDefl->clear();
    showToolButtons();
    m_edNumSup->clear();
    m_edCoupling->setText("1.0");
    m_edEn->setText("1000");
    m_edCur->setText("100");
    // the box shows a stored frequency as the geometry writes it, so that it counts as not edited
    m_edRFF->setText(m_state.rf.frequency != 0
                         ? QString::fromStdString(fmt("%10.5f", m_state.rf.frequency / 1e6))
                         : QString("500.0"));
}

RingWindow::~RingWindow() = default;

Messages& RingWindow::messages()
{
    return *m_messages;
}

void RingWindow::buildGeometryGroup()
{
    m_gbGeometry = new QGroupBox("ring geometry", this);
    m_gbGeometry->setObjectName("gbGeometry");
    m_gbGeometry->setToolTip("double click to hide");
    m_gbGeometry->installEventFilter(this);
    auto* grid = new QGridLayout(m_gbGeometry);
    m_edNumSup = makeEdit("edNumSup", "1", m_gbGeometry);
    m_lFull = makeLabel("lFull", "", m_gbGeometry);
    m_lTotDefl = makeLabel("lTotDefl", "total deflection angle", m_gbGeometry);
    m_lCircum = makeLabel("lCircum", "ring circumference, m  ", m_gbGeometry);
    m_lFrev = makeLabel("lFrev", "rev frequency, MHz", m_gbGeometry);
    m_edRFF = makeEdit("edRFF", "", m_gbGeometry);
    m_lHarm = makeLabel("lHarm", "harmonic number", m_gbGeometry);
    m_lPerfectRing = makeLabel("lPerfectRing", "this is not yet a perfect ring!", m_gbGeometry);
    auto* bbRing = new QPushButton("study full ring?", m_gbGeometry);
    bbRing->setObjectName("bbRing");
    auto* bbSuperP = new QPushButton("study superperiod?", m_gbGeometry);
    bbSuperP->setObjectName("bbSuperP");
    grid->addWidget(new QLabel("# of superperiods", m_gbGeometry), 0, 0);
    grid->addWidget(m_edNumSup, 0, 1);
    grid->addWidget(m_lFull, 1, 0, 1, 2);
    grid->addWidget(m_lTotDefl, 2, 0, 1, 2);
    grid->addWidget(m_lCircum, 3, 0, 1, 2);
    grid->addWidget(m_lFrev, 4, 0, 1, 2);
    grid->addWidget(makeLabel("lRFF", "rf frequency, MHz", m_gbGeometry), 5, 0);
    grid->addWidget(m_edRFF, 5, 1);
    grid->addWidget(m_lHarm, 6, 0, 1, 2);
    grid->addWidget(m_lPerfectRing, 7, 0, 1, 2);
    grid->addWidget(bbRing, 8, 0);
    grid->addWidget(bbSuperP, 8, 1);
    m_gbGeometry->setMinimumWidth(330);
    connect(bbRing, &QPushButton::clicked, this, &RingWindow::bbRingClick);
    connect(bbSuperP, &QPushButton::clicked, this, &RingWindow::bbSuperPClick);
}

void RingWindow::buildBeamGroup()
{
    m_gbBeamPar = new QGroupBox("beam parameter", this);
    m_gbBeamPar->setObjectName("gbBeamPar");
    m_gbBeamPar->setToolTip("double click to hide");
    m_gbBeamPar->installEventFilter(this);
    auto* grid = new QGridLayout(m_gbBeamPar);
    m_edEn = makeEdit("edEn", "", m_gbBeamPar);
    m_edCur = makeEdit("edCur", "", m_gbBeamPar);
    m_edCoupling = makeEdit("edCoupling", "", m_gbBeamPar);
    int row = 0;
    for (const auto& [text, edit] : {std::pair{"momentum,cp MeV", m_edEn}, std::pair{"current, mA", m_edCur},
                                     std::pair{"coupling, %", m_edCoupling}}) {
        grid->addWidget(new QLabel(text, m_gbBeamPar), row, 0);
        grid->addWidget(edit, row++, 1);
    }
    // a machine with errors or kicks: what its values are about, shown only for such a machine
    m_lOrbitRing = makeLabel("lOrbitRing", "", m_gbBeamPar);
    m_lOrbitChromaticity = makeLabel("lOrbitChromaticity", "", m_gbBeamPar);
    for (QLabel* label : {m_lOrbitRing, m_lOrbitChromaticity}) {
        label->setStyleSheet("color: rgb(128, 0, 0);");
        label->hide();
        grid->addWidget(label, row++, 0, 1, 2);
    }
    for (const BeamLabel& l : kBeamLabels)
        grid->addWidget(makeLabel(l.name, l.text, m_gbBeamPar), row++, 0, 1, 2);
    auto* btUpdate = new QPushButton("recalculate", m_gbBeamPar);
    btUpdate->setObjectName("btUpdate");
    grid->addWidget(btUpdate, row++, 0);
    m_gbBeamPar->setMinimumWidth(330);
    connect(btUpdate, &QPushButton::clicked, this, &RingWindow::btUpdateClick);
    m_gbBeamPar->hide();
}

void RingWindow::buildStepGroup()
{
    m_gbZstep = new QGroupBox("z-step size", this);
    m_gbZstep->setObjectName("gbZstep");
    m_gbZstep->installEventFilter(this);
    auto* layout = new QVBoxLayout(m_gbZstep);
    m_rbEndEl = new QRadioButton("end of elements", m_gbZstep);
    m_rbEndEl->setObjectName("rbEndEl");
    m_rbShort = new QRadioButton("short steps", m_gbZstep);
    m_rbShort->setObjectName("rbShort");
    m_edStep = makeEdit("edStep", "10", m_gbZstep);
    layout->addWidget(m_rbEndEl);
    layout->addWidget(m_rbShort);
    layout->addWidget(new QLabel("max step, cm", m_gbZstep));
    layout->addWidget(m_edStep);
    m_rbEndEl->setChecked(true);
    m_gbZstep->hide();
}

void RingWindow::buildToolBar()
{
    m_toolBar = addToolBar("tools");
    m_toolBar->setObjectName("toolBar");
    m_toolBar->setMovable(false);
    const auto button = [this](const char* name, const QString& text, void (RingWindow::*handler)()) {
        auto* b = new QToolButton(m_toolBar);
        b->setObjectName(name);
        b->setText(text);
        b->setToolButtonStyle(Qt::ToolButtonTextOnly);
        if (handler)
            connect(b, &QToolButton::clicked, this, [this, handler] { (this->*handler)(); });
        QAction* action = m_toolBar->addWidget(b);
        action->setObjectName(QString(name) + "Action");
        return action;
    };
    m_tbRingLat = button("tbRingLat", "geometry", &RingWindow::tbRingLatClick);
    m_tbBeamDynamics = button("tbBeamDynamics", " beam optics ", nullptr);
    m_tbChromaticity = button("tbChromaticity", "tracking", &RingWindow::tbChromaticityClick);
    m_tbRf = button("tbRf", "rf", &RingWindow::tbRfClick);
    m_tbLifeTime = button("tbLifeTime", "life time", &RingWindow::tbLifeTimeClick);
    m_tbVacuum = button("tbVacuum", "vacuum", &RingWindow::tbVacuumClick);
    m_tbAperture = button("tbAperture", "aperture", &RingWindow::tbApertureClick);
    m_tbFrequencyMap = button("tbFrequencyMap", "frequency map", &RingWindow::tbFrequencyMapClick);
    m_tbSextupoleKnobs = button("tbSextupoleKnobs", "sextupole knobs", &RingWindow::tbSextupoleKnobsClick);
    m_tbErrorsOrbit = button("tbErrorsOrbit", "errors and orbit", &RingWindow::tbErrorsOrbitClick);
    m_tbList = button("tbList", "lists", nullptr);
}

bool RingWindow::event(QEvent* event)
{
    // opening the window shows the geometry; activation keeps the group shown and refreshes its numbers
    if (event->type() == QEvent::Show && !event->spontaneous()) {
        m_gbGeometry->show();
        m_gbBeamPar->hide();
    }
    if (event->type() == QEvent::WindowActivate && m_messages->userActivation())
        formActivate();
    return QMainWindow::event(event);
}

bool RingWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::MouseButtonDblClick) {
        if (watched == m_gbGeometry) {
            m_gbGeometry->hide();
            m_tbBeamDynamics->setEnabled(true);
            m_tbList->setEnabled(true);
            return true;
        }
        if (watched == m_gbBeamPar || watched == m_gbZstep) {
            static_cast<QWidget*>(watched)->hide();
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void RingWindow::showToolButtons()
{
    const bool closed = m_state.ringClosed;
    for (QAction* tool : {m_tbChromaticity, m_tbRf, m_tbLifeTime, m_tbVacuum, m_tbAperture, m_tbFrequencyMap,
                          m_tbSextupoleKnobs, m_tbErrorsOrbit})
        tool->setVisible(closed);
}

void RingWindow::formActivate()
{
    m_toolBar->show();
    m_tbRingLat->setEnabled(true);
    designChanged();
    if (m_state.beam.momentum != 0)
        m_edEn->setText(QString::fromStdString(fmt("%8.3f", m_state.beam.momentum / 1e6)));
    m_rbEndEl->setChecked(m_state.run.stepAtElementEnds);
    m_rbShort->setChecked(!m_state.run.stepAtElementEnds);
    m_edCur->setText(QString::fromStdString(fmt("%8.3f", m_state.beamCurrent * 1000)));
    showToolButtons();
    if (!m_state.ringClosed)
        return;
    if (m_state.rf.frequency != 0)
        m_edRFF->setText(QString::fromStdString(fmt("%10.5f", m_state.rf.frequency / 1e6)));
    m_edNumSup->setText(QString::fromStdString(fmt("%5d", m_state.line.superPeriods)));
    showingConversionErrors(messages(), [this] {
        // a look at the window refreshes its numbers and asks nothing: only "geometry" may adjust the
        // rf frequency or scale the dipoles
        QuietMessages quiet;
        geometry(quiet, false);
        if (ringPass())
            updateBPar();
    });
}

void RingWindow::designChanged()
{
    if (m_state.designLoads != m_designLoads) {
        m_designLoads = m_state.designLoads;
        m_edNumSup->setText(QString::number(m_state.line.superPeriods));
        if (m_state.rf.frequency != 0)
            m_edRFF->setText(QString::fromStdString(fmt("%10.5f", m_state.rf.frequency / 1e6)));
    }
    if (m_geometryStamp != latticeStamp(m_state))
        clearGeometry();
    if (m_beamStamp != designStamp(m_state) || m_beamSextupoles != sextupoleStamp(m_state))
        clearBeamParameters();
    showToolButtons();
}

void RingWindow::clearGeometry()
{
    for (QLabel* label : {m_lFull, m_lTotDefl, m_lFrev, m_lHarm})
        label->clear();
    m_lCircum->setText("ring circumference: n/a, press geometry");
    m_lPerfectRing->setText(m_state.ringClosed ? "" : "this is not yet a perfect ring!");
    m_lPerfectRing->setStyleSheet("");
}

void RingWindow::clearBeamParameters()
{
    for (const BeamLabel& l : kBeamLabels)
        if (auto* label = m_gbBeamPar->findChild<QLabel*>(l.name))
            label->setText(l.text);
    for (QLabel* label : {m_lOrbitRing, m_lOrbitChromaticity}) {
        label->clear();
        label->hide();
    }
}

void RingWindow::showGeometry(const GeometryView& view)
{
    m_edNumSup->setText(QString::fromStdString(view.superPeriods));
    if (!view.rfFrequency.empty())
        m_edRFF->setText(QString::fromStdString(view.rfFrequency));
    m_lFull->setText(QString::fromStdString(view.fullRing));
    m_lTotDefl->setText(QString::fromStdString(view.totalDeflection));
    m_lCircum->setText(QString::fromStdString(view.circumference));
    m_lFrev->setText(QString::fromStdString(view.revolution));
    m_lHarm->setText(QString::fromStdString(view.harmonic));
    m_lPerfectRing->setText(QString::fromStdString(view.perfectRing));
    m_lPerfectRing->setStyleSheet(view.perfect ? "color: rgb(0, 128, 128);" : "");
    m_geometryStamp = latticeStamp(m_state);
    showToolButtons();
}

void RingWindow::geometry()
{
    geometry(messages(), true);
}

void RingWindow::geometry(Messages& asking, bool recorded)
{
    bool declined = false;
    const auto run = [this, &asking, &declined]() -> std::optional<GeometryView> {
        // "No" to both closings of a closed ring leaves it as it was: the geometry runs on a copy, which
        // becomes the design only when the ring stays closed or was open before
        const HistoryAside aside(m_state);
        State trial = m_state;
        std::optional<GeometryView> view =
            ringGeometry(trial, asking, {m_edNumSup->text().toStdString(), m_edRFF->text().toStdString()});
        declined = view && m_state.ringClosed && !trial.ringClosed;
        if (!view || declined)
            return std::nullopt;
        m_state = std::move(trial);
        return view;
    };
    std::optional<GeometryView> view;
    if (recorded) {
        view = recordClosing(run);
    } else {
        // the refresh of an activation asks nothing and changes only what follows from the ring as it is
        // (the expanded full ring): no step of the history
        m_state.history.absorb(m_state);
        view = run();
        m_state.history.absorb(m_state);
    }
    if (view)
        showGeometry(*view);
    if (declined)
        m_edNumSup->setText(QString::fromStdString(fmt("%5d", m_state.line.superPeriods)));
    showToolButtons();
}

std::optional<GeometryView> RingWindow::recordClosing(const std::function<std::optional<GeometryView>()>& run)
{
    // closing the ring is one step: the dipoles scaled, the superperiods, the rounded rf frequency and the
    // closed flag, all of which a lattice file stores
    m_state.history.absorb(m_state);
    const double deflection = deflSup(m_state.line);
    const double length = lSup(m_state.line);
    std::optional<GeometryView> view;
    try {
        view = run();
    } catch (...) {
        m_state.history.absorb(m_state);
        throw;
    }
    const bool scaled =
        !sameValue(deflSup(m_state.line), deflection) || !sameValue(lSup(m_state.line), length);
    m_state.history.commit(m_state, scaled ? "closing scale" : "ring closing");
    emit historyChanged(); // the beam-dynamics window's Edit menu and title follow the step at once
    return view;
}

void RingWindow::applySteps()
{
    if (m_rbEndEl->isChecked()) {
        m_state.run.stepAtElementEnds = true;
        return;
    }
    if (m_edStep->text().trimmed().isEmpty()) {
        m_rbEndEl->setChecked(true);
        m_state.run.stepAtElementEnds = true;
        return;
    }
    const double stepCm = parseDouble(m_edStep->text().toStdString());
    m_state.run.stepAtElementEnds = false;
    m_state.run.maxStep = stepCm / 100;
}

bool RingWindow::ringPass(ListSink* list)
{
    // the window's step serves its own pass; the design keeps the step its file holds
    const RunSettings kept = m_state.run;
    applySteps();
    const DesignLineAside design(m_state);
    bool passed = false;
    if (coupledPassApplies(m_state.line)) {
        // a ring whose planes couple: its periodic coupled solution, and the coupled pass into the list
        passed = opticsPeriodicSolution(m_state, messages());
        if (passed && list != nullptr)
            opticsLinePass(m_state, messages(), nullptr, list);
    } else {
        passed = betaFunctions(m_state, messages(), list);
    }
    m_state.run.stepAtElementEnds = kept.stepAtElementEnds;
    m_state.run.maxStep = kept.maxStep;
    return passed;
}

void RingWindow::updateBPar()
{
    const BeamInput input{m_edEn->text().toStdString(), m_edCur->text().toStdString(),
                          m_edCoupling->text().toStdString()};
    {
        const DesignLineAside design(m_state);
        if (!updateBeamParameters(m_state, messages(), input))
            return;
    }
    showBeamParameters();
}

void RingWindow::showModeEmittances()
{
    ModeEmittanceView v;
    CouplingView c;
    {
        const DesignLineAside design(m_state);
        v = modeEmittanceView(m_state, modeEmittances(m_state));
        c = couplingView(m_state);
    }
    // a machine with errors or kicks: its modes and eigentunes about its closed orbit, or why it has none
    // above the design's values
    const OrbitRing orbit = orbitRing(m_state);
    m_lOrbitRing->setVisible(orbit.applies);
    m_lOrbitChromaticity->setVisible(orbit.computed);
    if (orbit.applies) {
        const OrbitRingView o = orbitRingView(m_state, orbit);
        m_lOrbitRing->setText(QString::fromStdString(o.orbit));
        m_lOrbitChromaticity->setText(QString::fromStdString(o.chromaticity));
        if (orbit.computed) {
            v = o.modes;
            c.eigentunes = o.eigentunes;
        }
    }
    const std::pair<const char*, const std::string*> texts[] = {
        {"lEpsMode1", &v.mode1},        {"lEpsMode2", &v.mode2},
        {"lEpsMode3", &v.mode3},        {"lEpsYSource", &v.verticalSource},
        {"lEigentunes", &c.eigentunes}, {"lDeltaQMin", &c.closestApproach}};
    for (const auto& [name, text] : texts)
        if (auto* label = m_gbBeamPar->findChild<QLabel*>(name))
            label->setText(QString::fromStdString(*text));
}

void RingWindow::showBeamParameters()
{
    const BeamParameterView v = beamParameterView(m_state);
    const std::pair<const char*, const std::string*> texts[] = {
        {"lEloss", &v.energyLoss},
        {"ltotPow", &v.power},
        {"ltaux", &v.dampingX},
        {"ltauy", &v.dampingY},
        {"ltaus", &v.dampingS},
        {"leps_x", &v.emittanceX},
        {"leps_y", &v.emittanceY},
        {"lsige", &v.energySpread},
        {"lCirc", &v.circumference},
        {"lMomCompF", &v.compactionFactor},
        {"lMomComp", &v.slipFactor},
        {"lI1", &v.i1},
        {"lI2", &v.i2},
        {"lI3", &v.i3},
        {"lI4", &v.i4},
        {"lI5", &v.i5},
        {"lxixo", &v.naturalChromaticityX},
        {"lxiyo", &v.naturalChromaticityY},
        {"lxix", &v.correctedChromaticityX},
        {"lxiy", &v.correctedChromaticityY},
    };
    for (const auto& [name, text] : texts)
        if (auto* label = m_gbBeamPar->findChild<QLabel*>(name))
            label->setText(QString::fromStdString(*text));
    showModeEmittances();
    m_beamStamp = designStamp(m_state);
    m_beamSextupoles = sextupoleStamp(m_state);
}

void RingWindow::tbRingLatClick()
{
    // the one place besides opening the window where the geometry group takes the beam group's place
    m_gbGeometry->show();
    m_gbBeamPar->hide();
    showingConversionErrors(messages(), [this] { geometry(); });
}

void RingWindow::bbRingClick()
{
    showingConversionErrors(messages(), [this] {
        m_gbGeometry->show();
        m_gbBeamPar->hide();
        const std::optional<GeometryView> view = recordClosing([this] {
            return studyFullRing(m_state, messages(),
                                 {m_edNumSup->text().toStdString(), m_edRFF->text().toStdString()});
        });
        if (view)
            showGeometry(*view);
    });
}

void RingWindow::bbSuperPClick()
{
    m_state.history.absorb(m_state);
    const GeometryView view = studySuperperiod(m_state);
    m_state.history.commit(m_state, "study superperiod");
    emit historyChanged();
    m_edNumSup->setText(QString::fromStdString(view.superPeriods));
    m_lCircum->setText(QString::fromStdString(view.circumference));
    m_lTotDefl->setText(QString::fromStdString(view.totalDeflection));
    m_lHarm->clear();
    m_lFrev->clear();
    m_lPerfectRing->setText(QString::fromStdString(view.perfectRing));
    m_lPerfectRing->setStyleSheet("");
    m_lFull->clear();
    m_geometryStamp = latticeStamp(m_state);
    showToolButtons();
    m_tbChromaticity->setEnabled(true);
}

void RingWindow::tbChromaticityClick()
{
    m_windows.bringToFront(WindowId::Chromatic);
}

void RingWindow::tbRfClick()
{
    m_windows.bringToFront(WindowId::Rf);
}

void RingWindow::tbLifeTimeClick()
{
    m_windows.bringToFront(WindowId::LifeTime);
}

void RingWindow::tbVacuumClick()
{
    m_windows.bringToFront(WindowId::Vacuum);
}

void RingWindow::tbApertureClick()
{
    m_windows.bringToFront(WindowId::Aperture);
}

void RingWindow::tbFrequencyMapClick()
{
    m_windows.bringToFront(WindowId::FrequencyMap);
}

void RingWindow::tbSextupoleKnobsClick()
{
    m_windows.bringToFront(WindowId::SextupoleKnobs);
}

void RingWindow::tbErrorsOrbitClick()
{
    m_windows.bringToFront(WindowId::ErrorsOrbit);
}

} // namespace kestrune
