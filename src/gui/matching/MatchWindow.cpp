#include "gui/matching/MatchWindow.h"

#include "core/Design.h"
#include "core/Drawing.h"
#include "core/Format.h"
#include "core/NumberInput.h"
#include "core/coupling/CoupledPass.h"
#include "core/matching/MatchFile.h"
#include "core/matching/MatchPreview.h"
#include "core/optics/BetaFunctions.h"
#include "gui/FileDialog.h"
#include "gui/MenuItems.h"
#include "gui/ToolWindowMessages.h"
#include "gui/editor/LatticeChart.h"
#include "gui/matching/MatchTables.h"

#include <QApplication>
#include <QEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QSplitter>
#include <QTimer>
#include <QVBoxLayout>

namespace kestrune {

namespace {

const char* const kMatchFilter = "match files (*.json);;all files (*)";
const char* const kChartTitle = "lattice functions with the strengths of the match";
// the status lines' room: a summary, what is not met and two variables at their bounds show without a
// scroll bar, and the tables above never move
constexpr int kStatusLines = 4;

QPushButton* button(const char* name, const QString& caption, QWidget* parent)
{
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(name);
    return b;
}

QString q(const std::string& s)
{
    return QString::fromStdString(s);
}

// The text that names element i in a table: its name, or its index where the name would mean another
// element (a place means the last element of a name) or where it has none.
QString placeText(const BeamLine& line, int i, bool family)
{
    const std::string name = line.at(i).name;
    if (name.find_first_not_of(' ') == std::string::npos)
        return QString::number(i);
    if (family)
        return q(name);
    for (int j = line.count; j > i; --j)
        if (line.at(j).name == name)
            return QString::number(i);
    return q(name);
}

// The row a table reads, or nothing while a cell of it is no number yet.
template <class Read> auto typedRow(Read read) -> std::optional<decltype(read())>
{
    try {
        return read();
    } catch (const ConversionError&) {
        return std::nullopt;
    }
}

} // namespace

MatchWindow::MatchWindow(State& state, Windows& windows, QWidget* parent)
    : QMainWindow(parent), m_state(state), m_windows(windows),
      m_messages(std::make_unique<ToolWindowMessages>(windows)), m_view(std::make_unique<State>())
{
    setObjectName("TfMatch");
    setWindowTitle("matching");
    copyOptics(m_state, *m_view);

    auto* central = new QWidget(this);
    setCentralWidget(central);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(4, 4, 4, 4);
    auto* splitter = new QSplitter(Qt::Vertical, central);
    m_chart = new LatticeChart(m_view->line, splitter);
    m_chart->setMinimumSize(400, 260);
    m_chart->setTitleLines({kChartTitle});
    connect(m_chart, &LatticeChart::seriesClicked, this, [this](const QString& title) {
        bool ok = false;
        const int element = title.toInt(&ok);
        if (ok)
            elementClicked(element);
    });
    splitter->addWidget(m_chart);
    auto* tables = new QWidget(splitter);
    buildTables(tables);
    splitter->addWidget(tables);
    splitter->setStretchFactor(0, 3);
    splitter->setStretchFactor(1, 2);
    layout->addWidget(splitter, 1);
    layout->addWidget(buildControls(central));
    m_pnStatus = new QScrollArea(central);
    m_pnStatus->setObjectName("pnStatus");
    m_pnStatus->setFrameShape(QFrame::NoFrame);
    m_pnStatus->setWidgetResizable(true);
    m_pnStatus->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_lStatus = new QLabel(m_pnStatus);
    m_lStatus->setObjectName("lStatus");
    m_lStatus->setWordWrap(true);
    m_lStatus->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_lStatus->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_pnStatus->setWidget(m_lStatus);
    m_pnStatus->setFixedHeight(m_lStatus->fontMetrics().lineSpacing() * kStatusLines + 4);
    layout->addWidget(m_pnStatus);
    buildMenu();
    installDefaultDialogs();
    showButtons();
    // fits a screen 1000 pixels high with the title bar and the menu
    resize(1180, 800);
}

MatchWindow::~MatchWindow() = default;

Messages& MatchWindow::messages()
{
    return *m_messages;
}

void MatchWindow::buildTables(QWidget* parent)
{
    auto* layout = new QHBoxLayout(parent);
    layout->setContentsMargins(0, 0, 0, 0);
    const auto group = [&](const char* name, const QString& title, QTableWidget* table, const char* add,
                           const char* remove) {
        auto* box = new QGroupBox(title, parent);
        box->setObjectName(name);
        auto* boxLayout = new QVBoxLayout(box);
        table->setParent(box);
        boxLayout->addWidget(table, 1);
        auto* buttons = new QHBoxLayout;
        QPushButton* addButton = button(add, "add", box);
        QPushButton* removeButton = button(remove, "remove", box);
        buttons->addWidget(addButton);
        buttons->addWidget(removeButton);
        buttons->addStretch(1);
        boxLayout->addLayout(buttons);
        // a click on an element goes into the table last worked in, into the row picked there: by a cell,
        // by a list in a cell or by the row's header
        connect(table, &QTableWidget::currentCellChanged, this, [this, table] { m_pickTable = table; });
        connect(table, &QTableWidget::cellPressed, this, [this, table] { m_pickTable = table; });
        connect(table->verticalHeader(), &QHeaderView::sectionPressed, this, [this, table](int row) {
            m_pickTable = table;
            table->setCurrentCell(row, table == m_variables ? int(VariableTable::Element)
                                                            : int(ConstraintTable::At));
        });
        connect(table, &QTableWidget::itemChanged, this, &MatchWindow::previewDesign);
        return std::pair{addButton, removeButton};
    };
    m_variables = new VariableTable(parent);
    m_constraints = new ConstraintTable(parent);
    m_pickTable = m_variables;
    const auto [addVariable, removeVariable] = group("gbVariables", "variables (click an element to pick it)",
                                                     m_variables, "bbAddVariable", "bbRemoveVariable");
    const auto [addConstraint, removeConstraint] =
        group("gbConstraints", "constraints", m_constraints, "bbAddConstraint", "bbRemoveConstraint");
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) { tableFocused(now); });
    connect(m_variables, &VariableTable::rowEdited, this, &MatchWindow::previewDesign);
    connect(m_constraints, &ConstraintTable::rowEdited, this, &MatchWindow::previewDesign);
    connect(addVariable, &QPushButton::clicked, this, &MatchWindow::addVariableClick);
    connect(removeVariable, &QPushButton::clicked, this, &MatchWindow::removeVariableClick);
    connect(addConstraint, &QPushButton::clicked, this, &MatchWindow::addConstraintClick);
    connect(removeConstraint, &QPushButton::clicked, this, &MatchWindow::removeConstraintClick);
    layout->addWidget(m_variables->parentWidget(), 2);
    layout->addWidget(m_constraints->parentWidget(), 3);
}

QWidget* MatchWindow::buildControls(QWidget* parent)
{
    auto* row = new QWidget(parent);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* start = new QGroupBox("start from", row);
    start->setObjectName("gbStart");
    auto* startLayout = new QHBoxLayout(start);
    m_rbPeriodic = new QRadioButton("periodic solution", start);
    m_rbPeriodic->setObjectName("rbPeriodic");
    m_rbInitial = new QRadioButton("initial values", start);
    m_rbInitial->setObjectName("rbInitial");
    m_rbPeriodic->setChecked(true);
    startLayout->addWidget(m_rbPeriodic);
    startLayout->addWidget(m_rbInitial);
    for (QRadioButton* radio : {m_rbPeriodic, m_rbInitial})
        connect(radio, &QRadioButton::toggled, this, [this](bool on) {
            if (on && !running())
                drawCurves();
        });
    layout->addWidget(start);

    auto* settings = new QGridLayout;
    m_edTolerance = new QLineEdit("1e-10", row);
    m_edTolerance->setObjectName("edTolerance");
    m_edIterations = new QLineEdit("100", row);
    m_edIterations->setObjectName("edIterations");
    for (QLineEdit* edit : {m_edTolerance, m_edIterations})
        edit->setMaximumWidth(80);
    settings->addWidget(new QLabel("tolerance", row), 0, 0);
    settings->addWidget(m_edTolerance, 0, 1);
    settings->addWidget(new QLabel("max. iterations", row), 1, 0);
    settings->addWidget(m_edIterations, 1, 1);
    layout->addLayout(settings);
    layout->addStretch(1);

    m_bbMatch = button("bbMatch", "&match", row);
    m_bbStop = button("bbStop", "&stop", row);
    m_bbAccept = button("bbAccept", "&accept", row);
    m_bbReset = button("bbReset", "&reset", row);
    m_bbAccept->setToolTip("the matched strengths go into the design (one step of Edit › Undo)");
    m_bbReset->setToolTip("forget the match: the design as it is");
    for (QPushButton* b : {m_bbMatch, m_bbStop, m_bbAccept, m_bbReset})
        layout->addWidget(b);
    connect(m_bbMatch, &QPushButton::clicked, this, &MatchWindow::bbMatchClick);
    connect(m_bbStop, &QPushButton::clicked, this, &MatchWindow::bbStopClick);
    connect(m_bbAccept, &QPushButton::clicked, this, &MatchWindow::bbAcceptClick);
    connect(m_bbReset, &QPushButton::clicked, this, &MatchWindow::bbResetClick);
    return row;
}

void MatchWindow::buildMenu()
{
    QMenu* file = menuBar()->addMenu("File");
    file->setObjectName("mnFile");
    addMenuItem(file, "mnOpenMatch", "open match...", this, [this] { openMatchClick(); });
    addMenuItem(file, "mnSaveMatch", "save match as...", this, [this] { saveMatchClick(); });
    file->addSeparator();
    addMenuItem(file, {}, "close", this, [this] { close(); });
    addMenuItem(menuBar(), "mnHelp", "Help", this, [this] { m_windows.bringToFront(WindowId::Help); });
}

void MatchWindow::installDefaultDialogs()
{
    m_dialogs.openFile = [this](const QString& title, const QString& filter) {
        return QFileDialog::getOpenFileName(this, title, QString(), filter);
    };
    m_dialogs.saveFile = [this](const QString& title, const QString& filter, const QString& suffix,
                                const QString& preset) {
        return askSaveFileName(this, title, filter, suffix, preset);
    };
}

std::optional<MatchResult> MatchWindow::lastResult() const
{
    return m_matcher ? std::optional<MatchResult>(m_matcher->result()) : std::nullopt;
}

bool MatchWindow::running() const
{
    return m_matcher && !m_matcher->finished();
}

bool MatchWindow::event(QEvent* event)
{
    // the design may have changed in another window (an edit, an undo) while no match result waits here
    const bool shown = event->type() == QEvent::Show ||
                       (event->type() == QEvent::WindowActivate && m_messages->userActivation());
    if (shown)
        followDesign();
    if (shown && !m_matcher)
        viewDesign();
    if (event->type() == QEvent::Hide && running())
        m_stopRequested = true;
    return QMainWindow::event(event);
}

std::optional<MatchDefinition> MatchWindow::readDefinition()
{
    MatchDefinition d;
    const bool read = showingConversionErrors(messages(), [&] {
        d.start = m_rbPeriodic->isChecked() ? MatchStart::Periodic : MatchStart::Initial;
        d.variables = m_variables->variables();
        d.constraints = m_constraints->constraints();
        d.tolerance = parseDouble("tolerance", m_edTolerance->text().toStdString());
        d.maxIterations = parseInt("max. iterations", m_edIterations->text().toStdString());
    });
    return read ? std::optional<MatchDefinition>(d) : std::nullopt;
}

void MatchWindow::showDefinition(const MatchDefinition& d)
{
    m_variables->fill(d.variables);
    m_constraints->fill(d.constraints);
    (d.start == MatchStart::Periodic ? m_rbPeriodic : m_rbInitial)->setChecked(true);
    m_edTolerance->setText(q(shortestFloat(d.tolerance)));
    m_edIterations->setText(QString::number(d.maxIterations));
}

void MatchWindow::bbMatchClick()
{
    if (running())
        return;
    const std::optional<MatchDefinition> d = readDefinition();
    if (!d)
        return;
    if (const std::optional<std::string> refusal = matchValueRefusal(*d)) {
        messages().error(*refusal);
        return;
    }
    m_matcher.reset();
    viewDesign();
    m_matcher = Matcher::start(m_state, *d, messages());
    if (!m_matcher) {
        showButtons();
        return;
    }
    m_stopRequested = false;
    m_iterationLines.clear();
    m_resultShown = true;
    m_resultDesign = designStamps();
    showProgress();
    showButtons();
    QTimer::singleShot(0, this, &MatchWindow::iterate);
}

void MatchWindow::iterate()
{
    if (!running())
        return;
    if (m_stopRequested)
        m_matcher->stop();
    else
        m_matcher->iterate();
    applyMatchValues(*m_view, m_matcher->setup(), m_matcher->values());
    showProgress();
    drawCurves();
    if (running())
        QTimer::singleShot(0, this, &MatchWindow::iterate);
    else
        finish();
}

void MatchWindow::showProgress()
{
    const MatchResult result = m_matcher->result();
    std::vector<double> start;
    for (const VariableOutcome& v : result.variables)
        start.push_back(v.start);
    m_variables->showValues(start, m_matcher->values());
    m_constraints->showOutcome(result.constraints);
    if (!running())
        return;
    // the penalty of every iteration, as a match prints it
    const QString line = q(iterationLine(result));
    if (m_iterationLines.isEmpty() || m_iterationLines.back() != line)
        m_iterationLines << line;
    setStatus(m_iterationLines);
    m_pnStatus->verticalScrollBar()->setValue(m_pnStatus->verticalScrollBar()->maximum());
}

void MatchWindow::finish()
{
    QStringList lines;
    for (const std::string& line : matchSummary(m_matcher->setup().definition, m_matcher->result()))
        lines << q(line);
    lines << "accept puts the values into the design; reset goes back to it";
    // the iterations stay below the summary, to be scrolled to
    setStatus(lines + m_iterationLines);
    m_pnStatus->verticalScrollBar()->setValue(0);
    showButtons();
    m_chart->refresh();
}

void MatchWindow::bbStopClick()
{
    if (running())
        m_stopRequested = true;
}

void MatchWindow::bbAcceptClick()
{
    if (!m_matcher || running())
        return;
    if (!designUnchanged(m_state, m_matcher->setup())) {
        messages().error("the design has changed since the match started: match again");
        return;
    }
    m_state.history.absorb(m_state);
    applyMatchValues(m_state, m_matcher->setup(), m_matcher->values());
    // the curves of the design follow: the start values and the scale they bring belong to the step, so
    // that its undo leaves the design as it was
    emit designChanged();
    m_state.history.commit(m_state, "match");
    m_matcher.reset();
    m_resultDesign = designStamps();
    emit historyChanged();
    setStatus({"accepted: the strengths are in the design (Edit › Undo match takes them back)"});
    showButtons();
}

void MatchWindow::dropResult()
{
    m_matcher.reset();
    m_resultShown = false;
    const QSignalBlocker variables(m_variables);
    const QSignalBlocker constraints(m_constraints);
    m_variables->clearValues();
    m_constraints->clearValues();
}

void MatchWindow::bbResetClick()
{
    if (running())
        return;
    dropResult();
    setStatus({});
    viewDesign();
    showButtons();
}

std::pair<std::uint64_t, std::uint64_t> MatchWindow::designStamps() const
{
    return {designStamp(m_state), sextupoleStamp(m_state)};
}

void MatchWindow::followDesign()
{
    if (running() || !m_resultShown || m_resultDesign == designStamps())
        return;
    dropResult();
    setStatus({"n/a: the results were of another design"});
    viewDesign();
    showButtons();
}

void MatchWindow::previewDesign()
{
    // a row being added announces its cells one by one: only whole rows (their last cell made) are read
    const auto whole = [](const QTableWidget* table, int last) {
        for (int row = 0; row < table->rowCount(); ++row)
            if (!table->item(row, last))
                return false;
        return true;
    };
    if (m_previewing || running() || m_resultShown || !whole(m_variables, VariableTable::Now) ||
        !whole(m_constraints, ConstraintTable::Met))
        return;
    m_previewing = true;
    m_variables->clearValues();
    m_constraints->clearValues();
    const MatchStart start = m_rbPeriodic->isChecked() ? MatchStart::Periodic : MatchStart::Initial;
    // each row as far as it is typed: a row still being typed leaves the others shown
    std::vector<std::optional<MatchVariable>> variables;
    for (int row = 0; row < m_variables->rowCount(); ++row)
        variables.push_back(typedRow([&] { return m_variables->variable(row); }));
    std::vector<std::optional<MatchConstraint>> constraints;
    for (int row = 0; row < m_constraints->rowCount(); ++row)
        constraints.push_back(typedRow([&] { return m_constraints->constraint(row); }));
    const MatchPreview preview = previewMatch(m_state, start, variables, constraints);
    for (std::size_t row = 0; row < preview.variableStart.size(); ++row)
        if (preview.variableStart[row])
            m_variables->showValues(static_cast<int>(row), *preview.variableStart[row],
                                    *preview.variableStart[row]);
    for (std::size_t row = 0; row < preview.constraints.size(); ++row)
        if (preview.constraints[row])
            m_constraints->showOutcome(static_cast<int>(row), *preview.constraints[row]);
    m_previewing = false;
}

void MatchWindow::addVariableClick()
{
    m_variables->addRow(QString());
    m_variables->setCurrentCell(m_variables->rowCount() - 1, VariableTable::Element);
    m_pickTable = m_variables;
}

void MatchWindow::removeVariableClick()
{
    if (m_variables->currentRow() >= 0)
        m_variables->removeRow(m_variables->currentRow());
}

void MatchWindow::addConstraintClick()
{
    m_constraints->addRow(MatchQuantity::BetaX);
    m_constraints->setCurrentCell(m_constraints->rowCount() - 1, ConstraintTable::At);
    m_pickTable = m_constraints;
}

void MatchWindow::removeConstraintClick()
{
    if (m_constraints->currentRow() >= 0)
        m_constraints->removeRow(m_constraints->currentRow());
}

void MatchWindow::tableFocused(QWidget* widget)
{
    for (QTableWidget* table :
         {static_cast<QTableWidget*>(m_variables), static_cast<QTableWidget*>(m_constraints)}) {
        if (!widget || (widget != table && !table->isAncestorOf(widget)))
            continue;
        m_pickTable = table;
        // a list in a cell takes the focus without making its row the table's current one
        const QModelIndex cell =
            widget->parentWidget() == table->viewport() ? table->indexAt(widget->pos()) : QModelIndex();
        if (cell.isValid() && cell.row() != table->currentRow())
            table->setCurrentCell(cell.row(), cell.column());
    }
}

void MatchWindow::elementClicked(int element)
{
    if (running() || element < 1 || element > m_view->line.count)
        return;
    if (m_pickTable == m_constraints) {
        if (m_constraints->currentRow() < 0)
            addConstraintClick();
        const int column = m_constraints->currentColumn() == ConstraintTable::From ? ConstraintTable::From
                                                                                   : ConstraintTable::At;
        m_constraints->item(m_constraints->currentRow(), column)
            ->setText(placeText(m_view->line, element, false));
        return;
    }
    if (m_variables->currentRow() < 0)
        addVariableClick();
    m_variables->item(m_variables->currentRow(), VariableTable::Element)
        ->setText(placeText(m_view->line, element, true));
}

void MatchWindow::openMatchClick()
{
    const QString fileName = m_dialogs.openFile("open match", kMatchFilter);
    if (fileName.isEmpty() || running())
        return;
    const std::optional<MatchDefinition> d = readMatchFile(fileName.toStdString(), messages());
    if (!d)
        return;
    bbResetClick();
    showDefinition(*d);
}

void MatchWindow::saveMatchClick()
{
    const std::optional<MatchDefinition> d = readDefinition();
    if (!d)
        return;
    // the lattice's name offered, as the other save dialogs do
    const std::string lattice = !m_state.documentFile.empty() ? m_state.documentFile : m_state.lastOpenedFile;
    const QString preset =
        lattice.empty() ? QString("match.json") : QFileInfo(q(lattice)).completeBaseName() + "-match.json";
    const QString fileName = m_dialogs.saveFile("save match as", kMatchFilter, "json", preset);
    if (!fileName.isEmpty())
        writeMatchFile(fileName.toStdString(), *d, messages());
}

void MatchWindow::viewDesign()
{
    copyOptics(m_state, *m_view);
    drawCurves();
    m_chart->refresh();
}

void MatchWindow::drawCurves()
{
    State& view = *m_view;
    m_chart->setBottomMax(bottomAxisMaximum(view.line));
    if (view.line.count < 1) {
        m_chart->removeSeries();
        m_chart->refresh();
        return;
    }
    QuietMessages quiet; // the trial passes find nothing to tell the user
    view.run.showBetaFunctions = true;
    view.run.showBeamSize = false;
    view.run.showTrajectory = false;
    const bool periodic = m_rbPeriodic->isChecked();
    // a line that couples the planes shows the functions of its modes, as the beam-dynamics window does
    if (periodic && (!opticsPeriodicSolution(view, quiet) || !view.run.periodicStable)) {
        m_chart->setTitleLines({kChartTitle, "no periodic solution"});
        m_chart->refresh();
        return;
    }
    m_chart->setTitleLines({kChartTitle});
    m_chart->prepareSeries(LatticeChart::kBeta);
    if (opticsLinePass(view, quiet, &m_chart->sink(view.run), nullptr) == LinePassKind::Coupled)
        m_chart->setTitleLines({kChartTitle, QString::fromStdString(coupledPassTitle(view.run))});
    m_chart->commitPoints();
    m_chart->fitLeftAxis(view);
    m_chart->refreshCurves();
}

void MatchWindow::showButtons()
{
    const bool busy = running();
    m_bbMatch->setEnabled(!busy);
    m_bbStop->setEnabled(busy);
    m_bbAccept->setEnabled(m_matcher && !busy);
    m_bbReset->setEnabled(m_matcher && !busy);
    for (QWidget* w : {static_cast<QWidget*>(m_variables->parentWidget()),
                       static_cast<QWidget*>(m_constraints->parentWidget())})
        w->setEnabled(!busy);
    m_rbPeriodic->parentWidget()->setEnabled(!busy);
}

void MatchWindow::setStatus(const QStringList& lines)
{
    m_lStatus->setText(lines.join('\n'));
}

} // namespace kestrune
