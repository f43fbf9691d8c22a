#include "gui/lifetime/LifeTimeWindow.h"

#include "core/Design.h"
#include "core/Format.h"
#include "core/NumberInput.h"
#include "core/lifetime/LocalTouschek.h"
#include "core/ring/Parameter.h"
#include "gui/ToolWindowMessages.h"

#include <QCheckBox>
#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPushButton>
#include <QStatusBar>
#include <QStyle>
#include <algorithm>

namespace kestrune {

namespace {

const char* const kResidualGas = "residual gas (air, 20 deg C,1 atm)";

} // namespace

LifeTimeWindow::LifeTimeWindow(State& state, Windows& windows, QWidget* parent)
    : QMainWindow(parent), m_state(state), m_windows(windows),
      m_messages(std::make_unique<ToolWindowMessages>(windows))
{
    setObjectName("TfLifeTime");
    setWindowTitle("Beam Lifetime");

    m_area = new QWidget(this);
    auto* grid = new QGridLayout(m_area);
    grid->setContentsMargins(6, 6, 6, 6);
    grid->setSpacing(6);
    setCentralWidget(m_area);
    buildElastic();
    buildBrems();
    buildQuantum();
    buildTouschek();
    grid->addWidget(m_gbElastic, 0, 0);
    grid->addWidget(m_gbBrems, 1, 0);
    grid->addWidget(m_gbQuantum, 0, 1, 2, 1);
    grid->addWidget(m_gbTouschek, 2, 0, 1, 2);
    grid->setRowStretch(3, 1);
    buildTotal();
    buildMenus();
    m_results = {{m_gbElastic, m_lCbLife, &Lifetimes::elastic, {}},
                 {m_gbBrems, m_lBrems, &Lifetimes::bremsstrahlung, {}},
                 {m_gbQuantum, m_lqtot, &Lifetimes::quantum, {}},
                 {m_gbTouschek, m_lTouschek, &Lifetimes::touschek, {}}};
    statusBar();
    resize(760, 620);
}

LifeTimeWindow::~LifeTimeWindow() = default;

Messages& LifeTimeWindow::messages()
{
    return *m_messages;
}

QGroupBox* LifeTimeWindow::makeGroup(const QString& objectName, const QString& caption)
{
    auto* group = new QGroupBox(caption, m_area);
    group->setObjectName(objectName);
    auto* grid = new QGridLayout(group);
    grid->setContentsMargins(6, 4, 6, 4);
    grid->setVerticalSpacing(3);
    group->hide();
    return group;
}

QLineEdit* LifeTimeWindow::addBox(QGroupBox* group, int row, const QString& objectName, const QString& label,
                                  std::string LifetimeBoxes::*text, const QString& hint)
{
    auto* grid = static_cast<QGridLayout*>(group->layout());
    auto* caption = new QLabel(label, group);
    auto* edit = new QLineEdit(QString::fromStdString(LifetimeBoxes{}.*text), group);
    edit->setObjectName(objectName);
    edit->setMaximumWidth(100);
    if (!hint.isEmpty())
        edit->setToolTip(hint);
    grid->addWidget(caption, row, 0);
    grid->addWidget(edit, row, 1);
    connect(edit, &QLineEdit::returnPressed, this, [this] {
        if (m_defaultButton)
            m_defaultButton->click();
    });
    m_boxes.push_back({edit, text});
    return edit;
}

QLabel* LifeTimeWindow::addLabel(QGroupBox* group, int row, const QString& objectName, const QString& caption,
                                 bool visible)
{
    auto* label = new QLabel(caption, group);
    label->setObjectName(objectName);
    // a result line keeps its room while hidden, so that showing it moves nothing below
    QSizePolicy keepRoom = label->sizePolicy();
    keepRoom.setRetainSizeWhenHidden(true);
    label->setSizePolicy(keepRoom);
    label->setVisible(visible);
    static_cast<QGridLayout*>(group->layout())->addWidget(label, row, 0, 1, 3);
    return label;
}

QPushButton* LifeTimeWindow::addUpdateButton(QGroupBox* group, int row, const QString& objectName)
{
    auto* button = new QPushButton(style()->standardIcon(QStyle::SP_DialogApplyButton), "update", group);
    button->setObjectName(objectName);
    static_cast<QGridLayout*>(group->layout())->addWidget(button, row, 2, Qt::AlignRight);
    return button;
}

void LifeTimeWindow::buildElastic()
{
    m_gbElastic = makeGroup("gbElastic", "beam lifetime due to elastic, Coulomb scattering");
    QGroupBox* g = m_gbElastic;
    QLineEdit* ratio = addBox(g, 0, "edRatio", "ratio height/width", &LifetimeBoxes::ratio,
                              "general vacuum chamber aspect ratio, height/width");
    QLineEdit* gas = addBox(g, 1, "edGasP1", "gas pressure, nTorr", &LifetimeBoxes::gasPressure1,
                            "avg. vacuum pressure;either tyupe value or get from vacuum program");
    QLineEdit* acc = addBox(g, 2, "edAcc", "vert.accept., mm*mr", &LifetimeBoxes::acceptance,
                            "vertical vacuum chamber acceptance");
    QLineEdit* beta = addBox(g, 3, "edAvgBy", "avg.beta_y, m", &LifetimeBoxes::averageBetaY,
                             "average vertical beta-function");
    addLabel(g, 4, "lGas1", kResidualGas);
    m_lCbLife = addLabel(g, 5, "lCbLife", "Coulomb scattering lifetime is ", false);
    m_bbUpdElast = addUpdateButton(g, 3, "bbUpdElast");
    connect(m_bbUpdElast, &QPushButton::clicked, this, [this] { bbUpdElastClick(); });
    watchTyping({ratio, gas, acc, beta}, m_lCbLife, m_bbUpdElast);
}

void LifeTimeWindow::buildBrems()
{
    m_gbBrems = makeGroup("gbBrems", "beam lifetime due to inelastic scattering, Bremsstrahlung");
    QGroupBox* g = m_gbBrems;
    QLineEdit* acc = addBox(g, 0, "edEnAcc", "energy acceptance, %", &LifetimeBoxes::energyAcceptance);
    QLineEdit* gas = addBox(g, 1, "edGasP2", "gas pressure, nTorr", &LifetimeBoxes::gasPressure2,
                            "gas pressure; type in value or get from vacuum program");
    addLabel(g, 2, "lGas2", kResidualGas);
    m_lBrems = addLabel(g, 3, "lBrems", "Bremsstrahlungs lifetime  ", false);
    m_bbBremsLife = addUpdateButton(g, 1, "bbBremsLife");
    connect(m_bbBremsLife, &QPushButton::clicked, this, [this] { bbBremsLifeClick(); });
    watchTyping({acc, gas}, m_lBrems, m_bbBremsLife);
}

void LifeTimeWindow::buildQuantum()
{
    m_gbQuantum = makeGroup("gbQuantum", "beam lifetime due to quantum effects, clipping of Gaussian tails ");
    QGroupBox* g = m_gbQuantum;
    QLineEdit* acc = addBox(g, 0, "edEnAcc1", "energy acc,%", &LifetimeBoxes::energyAcceptance1,
                            "energy acceptance in %; smaller of rf-limit or dynamic aperture");
    QLineEdit* accX = addBox(g, 1, "edAccx", "horiz. accept., mm*mr", &LifetimeBoxes::acceptanceX,
                             "horizontal ring acceptance, smaller of vac. chamber or dynamic aperture");
    QLineEdit* accY = addBox(g, 2, "edAccy", "vert.  accept., mm*mr", &LifetimeBoxes::acceptanceY,
                             "vertical ring acceptance; smaller of vac. chamber or dynamic aperture");
    m_lSige = addLabel(g, 3, "lSige", "sig_e/E, %");
    m_lEpsx = addLabel(g, 4, "lEpsx", "eps_x, mm*mr");
    m_lepsy = addLabel(g, 5, "lepsy", "eps_y, mm*mr");
    m_lne = addLabel(g, 6, "lne", "n_e");
    m_lnx = addLabel(g, 7, "lnx", "n_x");
    m_lny = addLabel(g, 8, "lny", "n_y");
    m_lqte = addLabel(g, 9, "lqte", "tau_e, hr");
    m_lqtx = addLabel(g, 10, "lqtx", "tau_x, hr");
    m_lqty = addLabel(g, 11, "lqty", "tau_y, hr");
    m_lqtot = addLabel(g, 12, "lqtot", "total quantum lifetime is", false);
    m_bbUpQuantum = addUpdateButton(g, 2, "bbUpQuantum");
    connect(m_bbUpQuantum, &QPushButton::clicked, this, [this] { bbUpQuantumClick(); });
    watchTyping({acc, accX, accY}, m_lqtot, m_bbUpQuantum);
}

void LifeTimeWindow::buildTouschek()
{
    m_gbTouschek = makeGroup("gbTouschek", "Touschek effect");
    QGroupBox* g = m_gbTouschek;
    const QString acceptanceHint = "energy acceptance in %; smaller of rf-limit or dynamic aperture";
    std::vector<QLineEdit*> edits = {
        addBox(g, 0, "edEnAcc2", "energy acceptance, %", &LifetimeBoxes::energyAcceptance2, acceptanceHint),
        addBox(g, 1, "edBunCur", "bunch current, mA", &LifetimeBoxes::bunchCurrent, "bunch current in mA"),
        addBox(g, 2, "edAvgBx", "beta_x avg, m", &LifetimeBoxes::averageBetaX, "avg. beta_x"),
        addBox(g, 3, "edAvgBy1", "beta_y avg, m", &LifetimeBoxes::averageBetaY1, "avg. beta_y"),
        addBox(g, 4, "edCoupling", "coupling, %", &LifetimeBoxes::coupling),
        addBox(g, 5, "edBunLen", "bunch length, mm", &LifetimeBoxes::bunchLength)};
    m_cbLocalAcceptance = new QCheckBox("local momentum acceptance", g);
    m_cbLocalAcceptance->setObjectName("cbLocalAcceptance");
    m_cbLocalAcceptance->setToolTip("the acceptance at every element from the aperture window's momentum "
                                    "acceptance, with the beam sizes there");
    static_cast<QGridLayout*>(g->layout())->addWidget(m_cbLocalAcceptance, 0, 2);
    connect(m_cbLocalAcceptance, &QCheckBox::toggled, this, [this] { m_lTouschek->hide(); });
    m_lTouschek = addLabel(g, 6, "lTouschek", "Touschek lifetime ", false);
    m_bbTouschek = addUpdateButton(g, 5, "bbTouschek");
    connect(m_bbTouschek, &QPushButton::clicked, this, [this] { bbTouschekClick(); });
    watchTyping(edits, m_lTouschek, m_bbTouschek);
}

void LifeTimeWindow::buildTotal()
{
    // not in the layout: the user drags it around the window
    m_gbtotLife = new QGroupBox("total combined beam lifetime", m_area);
    m_gbtotLife->setObjectName("gbtotLife");
    auto* layout = new QGridLayout(m_gbtotLife);
    m_lTot = new QLabel("Combined beam lifetime", m_gbtotLife);
    m_lTot->setObjectName("lTot");
    QFont bold = m_lTot->font();
    bold.setBold(true);
    m_lTot->setFont(bold);
    layout->addWidget(m_lTot, 0, 0);
    m_gbtotLife->setToolTip("drag to move, double click to hide");
    m_gbtotLife->setCursor(Qt::OpenHandCursor);
    m_gbtotLife->installEventFilter(this);
    m_lTot->installEventFilter(this);
    m_gbtotLife->hide();
}

void LifeTimeWindow::buildMenus()
{
    QMenuBar* bar = menuBar();
    const auto item = [&](const QString& objectName, const QString& text, const QString& hint,
                          std::function<void()> handler) {
        QAction* action = bar->addAction(text);
        action->setObjectName(objectName);
        action->setToolTip(hint);
        action->setStatusTip(hint);
        if (handler)
            connect(action, &QAction::triggered, this, [handler = std::move(handler)] { handler(); });
        return action;
    };
    item("mnElastic", "elastic", "elastic scattering in Coulomb field of rest gas atoms",
         [this] { elasticClick(); });
    item("mnInelastic", "inelastic ", "inelastic scattering on nuclei of rest gas atoms",
         [this] { bremsstrahlungClick(); });
    item("mnTouschek", "Touschek", "single interbunch collisions", [this] { touschekClick(); });
    item("mnQuantum", "quantum lifetime", "losses through gaussian tails",
         [this] { quantumLifetimeClick(); });
    item("mnBar", "|", QString(), {});
    item("mnMultiple", "multiple", "multiple elastic scattering angle ", {})->setEnabled(false);
}

void LifeTimeWindow::watchTyping(const std::vector<QLineEdit*>& edits, QLabel* result, QPushButton* button)
{
    for (QLineEdit* edit : edits) {
        connect(edit, &QLineEdit::textEdited, this, [this, result, button] {
            result->hide();
            setDefaultButton(button);
        });
    }
}

void LifeTimeWindow::setDefaultButton(QPushButton* button)
{
    for (QPushButton* b : {m_bbUpdElast, m_bbBremsLife, m_bbUpQuantum, m_bbTouschek})
        b->setDefault(b == button);
    m_defaultButton = button;
}

LifetimeBoxes LifeTimeWindow::readBoxes() const
{
    LifetimeBoxes boxes;
    for (const Box& box : m_boxes)
        boxes.*box.text = box.edit->text().toStdString();
    return boxes;
}

void LifeTimeWindow::writeBoxes(const LifetimeBoxes& boxes)
{
    for (const Box& box : m_boxes) {
        const QString text = QString::fromStdString(boxes.*box.text);
        if (box.edit->text() != text)
            box.edit->setText(text);
    }
}

template <typename Update> void LifeTimeWindow::update(Update&& run)
{
    LifetimeBoxes boxes = readBoxes();
    try {
        run(boxes);
    } catch (const ConversionError& e) {
        writeBoxes(boxes);
        messages().error(e.what());
        return;
    }
    writeBoxes(boxes);
}

void LifeTimeWindow::showGroup(QGroupBox* group)
{
    m_gbtotLife->hide();
    group->show();
}

void LifeTimeWindow::formActivate()
{
    LifetimeBoxes boxes = readBoxes();
    activateLifetime(m_state, boxes, messages());
    writeBoxes(boxes);
    dropChangedResults();
}

void LifeTimeWindow::designChanged()
{
    dropChangedResults();
}

QString LifeTimeWindow::inputsOf(const QGroupBox* group) const
{
    QStringList parts;
    for (std::uint64_t stamp : {designStamp(m_state), latticeStamp(m_state)})
        parts << QString::number(stamp);
    if (group == m_gbTouschek) {
        // the rf results, the chromatic lattice of the local acceptance and the ring's coupling
        for (std::uint64_t stamp :
             {rfStamp(m_state), sextupoleStamp(m_state), m_state.localAcceptance.lattice})
            parts << QString::number(stamp);
        parts << QString::number(m_state.ringParams.coupling, 'g', 17)
              << QString::number(m_cbLocalAcceptance->isChecked());
    }
    // a box counts by its number: the same value written with other digits is the same input
    for (const Box& box : m_boxes) {
        if (box.edit->parentWidget() != group)
            continue;
        const std::string text = box.edit->text().toStdString();
        try {
            parts << QString::fromStdString(shortestFloat(parseDouble(text)));
        } catch (const ConversionError&) {
            parts << box.edit->text();
        }
    }
    return parts.join('\n');
}

void LifeTimeWindow::resultShown(const QGroupBox* group)
{
    for (Result& r : m_results) {
        if (r.group != group)
            continue;
        r.inputs = inputsOf(group);
        m_shown.*r.lifetime = m_state.lifetimes.*r.lifetime;
        if (group == m_gbTouschek)
            m_shown.touschekUnavailable = m_state.lifetimes.touschekUnavailable;
    }
}

void LifeTimeWindow::dropChangedResults()
{
    for (Result& r : m_results) {
        if (r.line->isHidden())
            continue;
        const bool current = r.inputs == inputsOf(r.group);
        if (!current)
            r.line->hide();
        m_state.lifetimes.*r.lifetime = current ? m_shown.*r.lifetime : 0.0;
        if (r.group == m_gbTouschek)
            m_state.lifetimes.touschekUnavailable = current && m_shown.touschekUnavailable;
    }
    if (!m_gbtotLife->isHidden())
        m_lTot->setText(QString::fromStdString(combinedLifetimeText(m_state.lifetimes)));
}

void LifeTimeWindow::elasticClick()
{
    showGroup(m_gbElastic);
}

void LifeTimeWindow::bremsstrahlungClick()
{
    showGroup(m_gbBrems);
}

void LifeTimeWindow::quantumLifetimeClick()
{
    showGroup(m_gbQuantum);
}

void LifeTimeWindow::touschekClick()
{
    showGroup(m_gbTouschek);
    LifetimeBoxes boxes = readBoxes();
    touschekMenu(m_state, boxes);
    writeBoxes(boxes);
}

void LifeTimeWindow::bbUpdElastClick()
{
    // the ring's integrals and averages are brought up to date; the formula needs none of them
    radiationIntegrals(m_state, messages());
    update([this](LifetimeBoxes& boxes) {
        if (const auto label = updateElastic(m_state, boxes, messages())) {
            m_lCbLife->setText(QString::fromStdString(*label));
            m_lCbLife->show();
            writeBoxes(boxes);
            resultShown(m_gbElastic);
            combinealleffects();
        }
    });
}

void LifeTimeWindow::bbBremsLifeClick()
{
    update([this](LifetimeBoxes& boxes) {
        if (const auto label = updateBremsstrahlung(m_state, boxes, messages())) {
            m_lBrems->setText(QString::fromStdString(*label));
            m_lBrems->show();
            writeBoxes(boxes);
            resultShown(m_gbBrems);
            combinealleffects();
        }
    });
}

void LifeTimeWindow::bbUpQuantumClick()
{
    radiationIntegrals(m_state, messages());
    equilibriumParameters(m_state);
    update([this](LifetimeBoxes& boxes) {
        const auto labels = updateQuantum(m_state, boxes, messages());
        if (!labels)
            return;
        const std::pair<QLabel*, const std::string*> texts[] = {{m_lSige, &labels->energySpread},
                                                                {m_lEpsx, &labels->emittanceX},
                                                                {m_lepsy, &labels->emittanceY},
                                                                {m_lne, &labels->nE},
                                                                {m_lnx, &labels->nX},
                                                                {m_lny, &labels->nY},
                                                                {m_lqte, &labels->tauE},
                                                                {m_lqtx, &labels->tauX},
                                                                {m_lqty, &labels->tauY},
                                                                {m_lqtot, &labels->total}};
        for (const auto& [label, text] : texts)
            label->setText(QString::fromStdString(*text));
        m_lqtot->show();
        writeBoxes(boxes);
        resultShown(m_gbQuantum);
        combinealleffects();
    });
}

void LifeTimeWindow::bbTouschekClick()
{
    update([this](LifetimeBoxes& boxes) {
        std::optional<std::string> label;
        if (m_cbLocalAcceptance->isChecked()) {
            if (const auto result = runLocalTouschekUpdate(m_state, boxes, messages()))
                label = result->label;
        } else if (const auto result = runTouschekUpdate(m_state, boxes, messages())) {
            label = result->label;
        }
        if (!label)
            return;
        m_lTouschek->setText(QString::fromStdString(*label));
        m_lTouschek->show();
        writeBoxes(boxes);
        resultShown(m_gbTouschek);
        combinealleffects();
    });
}

void LifeTimeWindow::combinealleffects()
{
    m_lTot->setText(QString::fromStdString(combinedLifetimeText(m_state.lifetimes)));
    m_gbtotLife->adjustSize();
    if (!m_totalMoved) {
        // below the groups, until the user puts it elsewhere
        m_area->layout()->activate();
        int bottom = 0;
        for (QGroupBox* g : {m_gbElastic, m_gbBrems, m_gbQuantum, m_gbTouschek}) {
            if (!g->isHidden())
                bottom = std::max(bottom, g->geometry().bottom());
        }
        m_gbtotLife->move(10, std::min(bottom + 10, std::max(0, m_area->height() - m_gbtotLife->height())));
    }
    m_gbtotLife->show();
    m_gbtotLife->raise();
}

bool LifeTimeWindow::event(QEvent* event)
{
    if (event->type() == QEvent::WindowActivate && m_messages->userActivation())
        formActivate();
    return QMainWindow::event(event);
}

bool LifeTimeWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != m_gbtotLife && watched != m_lTot)
        return QMainWindow::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::MouseButtonDblClick:
        m_gbtotLife->hide(); // gbtotLifeDblClick
        m_dragging = false;
        return true;
    case QEvent::MouseButtonPress: {
        // gbtotLifeMouseDown: the group follows the mouse until the button is released
        auto* mouse = static_cast<QMouseEvent*>(event);
        m_dragging = mouse->button() == Qt::LeftButton;
        m_dragOffset = m_area->mapFromGlobal(mouse->globalPosition().toPoint()) - m_gbtotLife->pos();
        return true;
    }
    case QEvent::MouseMove:
        if (m_dragging) {
            auto* mouse = static_cast<QMouseEvent*>(event);
            QPoint target = m_area->mapFromGlobal(mouse->globalPosition().toPoint()) - m_dragOffset;
            target.setX(std::clamp(target.x(), 0, std::max(0, m_area->width() - m_gbtotLife->width())));
            target.setY(std::clamp(target.y(), 0, std::max(0, m_area->height() - m_gbtotLife->height())));
            m_gbtotLife->move(target);
            m_totalMoved = true;
        }
        return true;
    case QEvent::MouseButtonRelease:
        m_dragging = false;
        return true;
    default:
        return QMainWindow::eventFilter(watched, event);
    }
}

} // namespace kestrune
