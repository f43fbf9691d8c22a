#include "gui/vacuum/VacuumWindow.h"

#include "core/Design.h"
#include "core/Format.h"
#include "core/NumberInput.h"
#include "gui/BusyCursor.h"
#include "gui/GraphExport.h"
#include "gui/ListPrinter.h"
#include "gui/NormalCursorMessages.h"
#include "gui/QtMessages.h"
#include "gui/vacuum/VacuumChart.h"

#include <QEvent>
#include <QFrame>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMarginsF>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPrinter>
#include <QVBoxLayout>

namespace kestrune {

VacuumWindow::VacuumWindow(State& state, Windows& windows, QWidget* parent)
    : QMainWindow(parent), m_state(state), m_windows(windows)
{
    setObjectName("TfVacuum");
    setWindowTitle("vacuum pressure distribution");

    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->setSpacing(4);
    setCentralWidget(central);

    auto* panel = new QFrame(central);
    panel->setObjectName("pnInput");
    panel->setFrameShape(QFrame::StyledPanel);
    auto* grid = new QGridLayout(panel);
    grid->setContentsMargins(6, 4, 6, 4);
    buildInputs(grid);
    layout->addWidget(panel);

    m_chart = new VacuumChart(central);
    m_chart->setMinimumSize(400, 260);
    layout->addWidget(m_chart, 1);

    m_mVacuum = new QPlainTextEdit(central);
    m_mVacuum->setObjectName("mVacuum");
    m_mVacuum->setReadOnly(true);
    m_mVacuum->setLineWrapMode(QPlainTextEdit::NoWrap);
    QFont font("Courier New", 9);
    font.setStyleHint(QFont::TypeWriter);
    font.setFixedPitch(true);
    m_mVacuum->setFont(font);
    m_mVacuum->setMinimumHeight(150);
    m_mVacuum->viewport()->installEventFilter(this);
    m_mVacuum->setToolTip("double click hides the pump list");
    m_mVacuum->hide();
    layout->addWidget(m_mVacuum);

    buildMenus();
    choosePrinter = [this](QPrinter& printer) { return askPrinter(printer, this); };
    resize(820, 600);
}

Messages& VacuumWindow::messages()
{
    return *m_windows.messages;
}

QLineEdit* VacuumWindow::addBox(QGridLayout* grid, int row, const QString& objectName, const QString& label,
                                const QString& text, const QString& unit, const QString& hint)
{
    const int column = (row % 3) * 3;
    auto* caption = new QLabel(label, grid->parentWidget());
    auto* box = new QLineEdit(text, grid->parentWidget());
    box->setObjectName(objectName);
    box->setMaximumWidth(90);
    if (!hint.isEmpty()) {
        caption->setToolTip(hint);
        box->setToolTip(hint);
    }
    grid->addWidget(caption, row / 3, column, Qt::AlignRight);
    grid->addWidget(box, row / 3, column + 1);
    grid->addWidget(new QLabel(unit, grid->parentWidget()), row / 3, column + 2);
    return box;
}

void VacuumWindow::buildInputs(QGridLayout* grid)
{
    const VacuumBoxes defaults;
    m_edM =
        addBox(grid, 0, "edM", "# of steps along beam line: ", QString::fromStdString(defaults.steps), "");
    m_edMrep = addBox(grid, 1, "edMrep", "# of iterations", QString::fromStdString(defaults.iterations), "");
    m_edW = addBox(grid, 2, "edW", "chamber radius", QString::fromStdString(defaults.radiusCm), "cm");
    m_edThD = addBox(grid, 3, "edThD", "therm.desorpt.coeff.", QString::fromStdString(defaults.thermal), "",
                     "thermal desorption coefficient, Tlt/sec/cm^2 (default=1e-12)");
    m_edEta = addBox(grid, 4, "edEta", "eta", QString::fromStdString(defaults.yield), "",
                     "photo desorption probability, gas atom/photoelectron");
    m_edEta->setToolTip("molecule per photoelectron, (default=1e-6)");
    m_edAvgPr = addBox(grid, 5, "edAvgPr", "avg.pressure", "", "nTorr");
    m_edAvgPr->setReadOnly(true);
}

void VacuumWindow::buildMenus()
{
    QMenuBar* bar = menuBar();
    QAction* calculate = bar->addAction("ca&lculate");
    calculate->setObjectName("mnCalculate");
    connect(calculate, &QAction::triggered, this, [this] { presCalcClick(); });

    QMenu* lists = bar->addMenu("lists");
    lists->setObjectName("mnLists");
    QAction* pumps = lists->addAction("pump pressures");
    pumps->setObjectName("mnPumpPressures");
    connect(pumps, &QAction::triggered, this, [this] { pumpPressuresClick(); });

    QMenu* print = bar->addMenu("&print");
    print->setObjectName("mnPrintMenu");
    QAction* printGraph = print->addAction("print");
    printGraph->setObjectName("mnPrint");
    connect(printGraph, &QAction::triggered, this, [this] { printClick(); });
    QAction* wmf = print->addAction("print as *.wmf");
    wmf->setObjectName("mnPrintWmf");
    connect(wmf, &QAction::triggered, this, [this] { printwmfClick(); });

    QAction* close = bar->addAction("&close");
    close->setObjectName("mnClose");
    connect(close, &QAction::triggered, this, [this] { closeClick(); });
}

VacuumBoxes VacuumWindow::readBoxes() const
{
    return {m_edM->text().toStdString(), m_edMrep->text().toStdString(), m_edW->text().toStdString(),
            m_edThD->text().toStdString(), m_edEta->text().toStdString()};
}

void VacuumWindow::writeBoxes(const VacuumBoxes& boxes)
{
    m_edM->setText(QString::fromStdString(boxes.steps));
    m_edMrep->setText(QString::fromStdString(boxes.iterations));
    m_edW->setText(QString::fromStdString(boxes.radiusCm));
    m_edThD->setText(QString::fromStdString(boxes.thermal));
    m_edEta->setText(QString::fromStdString(boxes.yield));
}

void VacuumWindow::presCalcClick()
{
    VacuumBoxes boxes = readBoxes();
    std::optional<VacuumInput> input;
    try {
        input = readVacuumInput(boxes, messages());
    } catch (const ConversionError& e) {
        writeBoxes(boxes);
        messages().error(e.what());
        return;
    }
    writeBoxes(boxes);
    if (!input)
        return;
    NormalCursorMessages boxMessages(messages());
    std::optional<VacuumResult> result;
    {
        BusyCursor busy;
        result = calculateVacuum(m_state, *input, boxMessages);
    }
    if (!result)
        return;
    m_result = std::move(result);
    m_edAvgPr->setText(QString::fromStdString(fmt("%8.4g", m_result->averagePressure * 1e9)));
    std::vector<double> s(m_result->pressure.size()), nTorr(m_result->pressure.size());
    for (std::size_t k = 0; k < s.size(); ++k) {
        s[k] = m_result->position(static_cast<int>(k) + 1);
        nTorr[k] = m_result->pressure[k] * 1e9;
    }
    m_chart->showProfile(s, nTorr);
    for (const std::string& warning : m_result->warnings)
        messages().error(warning);
}

void VacuumWindow::pumpPressuresClick()
{
    m_mVacuum->show();
    if (!m_result || m_state.averagePressure == 0)
        presCalcClick();
    if (!m_result)
        return;
    const QString block = toStringList(pumpListLines(*m_result)).join('\n');
    if (m_mVacuum->document()->isEmpty())
        m_mVacuum->setPlainText(block);
    else
        m_mVacuum->appendPlainText(block);
    pumpPressureList(m_state, *m_result);
}

void VacuumWindow::printClick()
{
    QPrinter printer(QPrinter::ScreenResolution);
    if (!choosePrinter(printer))
        return;
    if (!printChart(m_chart->plot(), printer, QMarginsF(10, 5, 10, 5)))
        messages().error("the graph could not be printed");
}

void VacuumWindow::printwmfClick()
{
    exportChartDialog(this, m_chart->plot(), messages());
}

void VacuumWindow::designChanged()
{
    if (!m_result || m_state.pressureStamp == designStamp(m_state))
        return;
    m_result.reset();
    m_chart->removeSeries();
    m_mVacuum->clear();
    m_edAvgPr->setText("n/a");
}

bool VacuumWindow::event(QEvent* event)
{
    if (event->type() == QEvent::WindowActivate)
        designChanged();
    return QMainWindow::event(event);
}

void VacuumWindow::closeClick()
{
    m_chart->removeSeries();
    close();
}

bool VacuumWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_mVacuum->viewport() && event->type() == QEvent::MouseButtonDblClick) {
        m_mVacuum->hide(); // mVacuumDblClick
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

} // namespace kestrune
