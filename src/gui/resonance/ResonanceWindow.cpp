#include "gui/resonance/ResonanceWindow.h"

#include "core/Format.h"
#include "core/resonance/Resonance.h"
#include "core/resonance/WorkingPoint.h"
#include "gui/ChartText.h"
#include "gui/DiffusionPoints.h"
#include "gui/GraphExport.h"
#include "gui/QtMessages.h"

#include <QMenuBar>
#include <QPrinter>
#include <qcustomplot.h>

namespace kestrune {

namespace {

const QColor kPointColour(0, 0, 255);

/// Ticks every 0.25 with labels in the mask "#,##0.##".
class TuneTicker : public QCPAxisTickerFixed
{
public:
    TuneTicker()
    {
        setTickStep(0.25);
        setScaleStrategy(QCPAxisTickerFixed::ssNone);
    }

protected:
    QString getTickLabel(double tick, const QLocale&, QChar, int) override
    {
        return QString::fromStdString(tuneLabel(tick));
    }
};

void addPoints(QCPGraph* graph, const std::vector<TunePoint>& points)
{
    QVector<double> keys;
    QVector<double> values;
    for (const TunePoint& p : points) {
        keys.push_back(p.qx);
        values.push_back(p.qy);
    }
    graph->addData(keys, values);
}

} // namespace

ResonanceWindow::ResonanceWindow(State& state, Windows& windows, QWidget* parent)
    : QMainWindow(parent), m_state(state), m_windows(windows)
{
    setObjectName("TfResonance");
    setWindowTitle("tune resonance diagram");
    buildChart();
    QMenu* print = menuBar()->addMenu("print");
    print->setObjectName("mnPrint");
    QAction* save = print->addAction("Save as MetaFile, resonance.wmf");
    save->setObjectName("mnSaveGraphWmf");
    connect(save, &QAction::triggered, this, &ResonanceWindow::saveGraphWmfClick);
    QAction* graph = print->addAction("print graph");
    graph->setObjectName("mnGraph");
    connect(graph, &QAction::triggered, this, &ResonanceWindow::printGraphClick);
    resize(620, 620);
}

Messages& ResonanceWindow::messages()
{
    return *m_windows.messages;
}

// Every point is blue; the series keep their shapes and sizes and show their colour in the rim.
void ResonanceWindow::buildChart()
{
    m_chart = new QCustomPlot(this);
    m_chart->setObjectName("chResonance");
    setCentralWidget(m_chart);
    // which points are which order, and the working point with its tunes
    m_chart->legend->setVisible(true);
    m_chart->legend->setBrush(QColor(255, 255, 255, 200));
    m_chart->axisRect()->insetLayout()->setInsetAlignment(0, Qt::AlignTop | Qt::AlignRight);
    QLinearGradient yellow(0, 0, 0, 1);
    yellow.setCoordinateMode(QGradient::ObjectMode);
    yellow.setColorAt(0, Qt::white);
    yellow.setColorAt(1, QColor(255, 255, 0));
    m_chart->setBackground(QBrush(yellow));
    addChartTitle(m_chart, "Resonance Diagram");
    styleChartAxes(m_chart);
    for (QCPAxis* axis : {m_chart->xAxis, m_chart->yAxis})
        axis->setTicker(QSharedPointer<QCPAxisTicker>(new TuneTicker));
    m_chart->xAxis->setLabel("horizontal tune, Q_x");
    m_chart->yAxis->setLabel("vertical tune, Q_y");

    struct Style
    {
        const char* name;
        const char* legend;
        QCPScatterStyle::ScatterShape shape;
        QColor colour;
        double size;
    };
    const QColor red(255, 0, 0);
    const Style styles[4] = {{"Series1", "first order", QCPScatterStyle::ssSquare, Qt::black, 3},
                             {"Series2", "second order", QCPScatterStyle::ssSquare, QColor(0, 128, 128), 3},
                             {"Series3", "third order", QCPScatterStyle::ssDiamond, QColor(128, 0, 0), 4},
                             {"Series4", "working point", QCPScatterStyle::ssCircle, red, 9}};
    for (std::size_t n = 0; n < m_series.size(); ++n) {
        QCPGraph* graph = m_chart->addGraph();
        graph->setObjectName(styles[n].name);
        graph->setName(styles[n].legend);
        graph->setLineStyle(QCPGraph::lsNone);
        // the working point is red all through; the resonances blue with their order's colour in the rim
        const QBrush fill(n + 1 == m_series.size() ? red : kPointColour);
        graph->setScatterStyle(
            QCPScatterStyle(styles[n].shape, QPen(styles[n].colour, 1), fill, styles[n].size));
        m_series[n] = graph;
    }
    m_footprintPoints = new DiffusionPoints(m_chart->xAxis, m_chart->yAxis);
    m_footprintPoints->setName("frequency map tunes");
    m_footprintPoints->setDiscSize(4);
    m_footprintPoints->removeFromLegend();
    m_scale = new QCPColorScale(m_chart);
    m_scale->setType(QCPAxis::atRight);
    m_scale->setGradient(diffusionGradient());
    m_scale->setBarWidth(12);
    m_scale->axis()->setLabel("diffusion index");
    m_scale->axis()->setLabelFont(chartFont(9));
    m_scale->axis()->setLabelColor(kChartNavy);
    m_scale->axis()->setTickLabelFont(chartFont(8));
    m_chart->plotLayout()->take(m_scale);
    m_scale->setVisible(false);
}

void ResonanceWindow::showFootprint(const TuneFootprint& footprint)
{
    m_footprint = footprint;
    drawFootprint();
    if (isVisible())
        formActivate();
}

int ResonanceWindow::footprintPoints() const
{
    return m_footprintPoints->pointCount();
}

void ResonanceWindow::designChanged()
{
    if (m_footprint.fractional.empty() || m_footprint.lattice == trackingFingerprint(m_state))
        return;
    m_footprint = {};
    drawFootprint();
    m_chart->replot();
}

// The footprint's fractional tunes as ring tunes beside the working point, with the colour scale at the
// right.
void ResonanceWindow::drawFootprint()
{
    if (!m_footprint.fractional.empty() && m_footprint.lattice != trackingFingerprint(m_state))
        m_footprint = {};
    QVector<double> qx, qy, d;
    for (std::size_t k = 0; k < m_footprint.fractional.size(); ++k) {
        const TunePoint& p = m_footprint.fractional[k];
        const double x = ringTune(p.qx, m_tune1, 1);
        const double y = ringTune(p.qy, m_tune2, 1);
        if (!std::isfinite(x) || !std::isfinite(y))
            continue;
        qx.push_back(x);
        qy.push_back(y);
        d.push_back(m_footprint.diffusion[k]);
    }
    const QCPRange range = diffusionRange(d);
    m_footprintPoints->setPoints(qx, qy, d);
    m_footprintPoints->setColours(diffusionGradient(), range);
    m_scale->setDataRange(range);
    const bool shown = !qx.isEmpty();
    if (shown && !m_scale->visible()) {
        m_chart->plotLayout()->addElement(1, 1, m_scale);
        m_scale->setVisible(true);
        m_footprintPoints->addToLegend();
    } else if (!shown && m_scale->visible()) {
        m_chart->plotLayout()->take(m_scale);
        m_chart->plotLayout()->simplify();
        m_scale->setVisible(false);
        m_footprintPoints->removeFromLegend();
    }
}

bool ResonanceWindow::event(QEvent* event)
{
    if (event->type() == QEvent::WindowActivate)
        formActivate();
    return QMainWindow::event(event);
}

void ResonanceWindow::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    formActivate();
}

void ResonanceWindow::formActivate()
{
    for (QCPGraph* graph : m_series)
        graph->data()->clear();
    // a coupled ring's working point is its eigentunes; without them (modes not separable) none is drawn
    const WorkingPoint point = workingPoint(m_state);
    m_tune1 = point.computed ? point.tune1 : 0;
    m_tune2 = point.computed ? point.tune2 : 0;
    const ResonanceDiagram d = resonanceDiagram(m_tune1, m_tune2);
    std::string name = "no eigentunes: " + point.refusal;
    if (point.computed) {
        m_series[3]->addData(d.working.qx, d.working.qy);
        name = point.eigentunes
                   ? "eigentunes Q_1 = " + fmt("%.3f", m_tune1) + ", Q_2 = " + fmt("%.3f", m_tune2)
                   : "working point Q_x = " + fmt("%.3f", m_tune1) + ", Q_y = " + fmt("%.3f", m_tune2);
    }
    m_series[3]->setName(QString::fromStdString(name));
    m_chart->xAxis->setLabel(point.eigentunes ? "mode 1 (mostly horizontal), Q_1" : "horizontal tune, Q_x");
    m_chart->yAxis->setLabel(point.eigentunes ? "mode 2 (mostly vertical), Q_2" : "vertical tune, Q_y");
    addPoints(m_series[0], d.first);
    addPoints(m_series[1], d.second);
    addPoints(m_series[2], d.third);
    drawFootprint();
    m_chart->rescaleAxes();
    for (QCPAxis* axis : {m_chart->xAxis, m_chart->yAxis})
        axis->scaleRange(1.04, axis->range().center());
    m_chart->replot();
}

void ResonanceWindow::printGraphClick()
{
    QPrinter printer(QPrinter::ScreenResolution);
    printer.setPageOrientation(QPageLayout::Portrait);
    if (m_printerSetup)
        m_printerSetup(printer);
    if (!printChart(m_chart, printer, QMarginsF(10, 5, 10, 5)))
        messages().error("the graph could not be printed");
}

void ResonanceWindow::saveGraphWmfClick()
{
    exportChartDialog(this, m_chart, messages());
}

} // namespace kestrune
