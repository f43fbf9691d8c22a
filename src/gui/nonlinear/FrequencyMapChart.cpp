#include "gui/nonlinear/FrequencyMapChart.h"

#include "gui/ChartText.h"
#include "gui/DiffusionPoints.h"

#include <QVBoxLayout>
#include <algorithm>
#include <qcustomplot.h>

namespace kestrune {

namespace {

const QColor kLost(150, 150, 150);

QCPAxisRect* makeRect(QCustomPlot* plot, const QString& xLabel, const QString& yLabel)
{
    auto* rect = new QCPAxisRect(plot);
    for (QCPAxis* axis : {rect->axis(QCPAxis::atBottom), rect->axis(QCPAxis::atLeft)}) {
        axis->setLabelFont(chartFont(9));
        axis->setLabelColor(kChartNavy);
        axis->setTickLabelFont(chartFont(8));
    }
    rect->axis(QCPAxis::atBottom)->setLabel(xLabel);
    rect->axis(QCPAxis::atLeft)->setLabel(yLabel);
    return rect;
}

QCPGraph* makeMarks(QCustomPlot* plot, QCPAxisRect* rect, QCPScatterStyle::ScatterShape shape,
                    const QString& name)
{
    QCPGraph* graph = plot->addGraph(rect->axis(QCPAxis::atBottom), rect->axis(QCPAxis::atLeft));
    graph->setLineStyle(QCPGraph::lsNone);
    graph->setScatterStyle(QCPScatterStyle(shape, QPen(kLost, 1.2), Qt::NoBrush, 6));
    graph->setName(name);
    return graph;
}

// Both axes of a rect around what they show, with a margin of share of their span.
void fit(QCPAxisRect* rect, double share)
{
    for (QCPAxis* axis : {rect->axis(QCPAxis::atBottom), rect->axis(QCPAxis::atLeft)}) {
        axis->rescale(true);
        QCPRange r = axis->range();
        const double margin = r.size() > 0 ? share * r.size() : 0.01;
        axis->setRange(r.lower - margin, r.upper + margin);
    }
}

} // namespace

FrequencyMapChart::FrequencyMapChart(QWidget* parent) : QWidget(parent)
{
    setObjectName("chFrequencyMap");
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_plot = new QCustomPlot(this);
    m_plot->setObjectName("chFrequencyMapPlot");
    m_plot->setBackground(Qt::white);
    layout->addWidget(m_plot);
    m_plot->plotLayout()->clear(); // a title row, the two axis rects and the colour scale, the legend
    m_title = new QCPTextElement(m_plot, "frequency map", chartFont(11, true));
    m_title->setTextColor(kChartNavy);
    m_plot->plotLayout()->addElement(0, 0, m_title);
    auto* row = new QCPLayoutGrid;
    m_plot->plotLayout()->addElement(1, 0, row);
    m_mapRect = makeRect(m_plot, "x (mm)", "y (mm)");
    m_footprintRect = makeRect(m_plot, "Q_x, fractional", "Q_y, fractional");
    m_scale = new QCPColorScale(m_plot);
    m_scale->setType(QCPAxis::atRight);
    m_scale->setGradient(diffusionGradient());
    m_scale->setBarWidth(14);
    m_scale->axis()->setLabelFont(chartFont(9));
    m_scale->axis()->setLabelColor(kChartNavy);
    m_scale->axis()->setTickLabelFont(chartFont(8));
    row->addElement(0, 0, m_mapRect);
    row->addElement(0, 1, m_footprintRect);
    row->addElement(0, 2, m_scale);
    row->setColumnStretchFactor(2, 0.01);
    auto* group = new QCPMarginGroup(m_plot);
    for (QCPLayoutElement* e : std::initializer_list<QCPLayoutElement*>{m_mapRect, m_footprintRect, m_scale})
        e->setMarginGroup(QCP::msTop | QCP::msBottom, group);

    m_map = new DiffusionPoints(m_mapRect->axis(QCPAxis::atBottom), m_mapRect->axis(QCPAxis::atLeft));
    m_map->setName("diffusion index");
    m_footprint =
        new DiffusionPoints(m_footprintRect->axis(QCPAxis::atBottom), m_footprintRect->axis(QCPAxis::atLeft));
    m_footprint->setDiscSize(4);
    m_lost = makeMarks(m_plot, m_mapRect, QCPScatterStyle::ssCross, "lost");
    m_unclear = makeMarks(m_plot, m_mapRect, QCPScatterStyle::ssCircle, "no clear tune");
    auto* legend = new QCPLegend;
    m_plot->plotLayout()->addElement(2, 0, legend);
    legend->setLayer("legend");
    legend->setFont(chartFont(8));
    legend->setBorderPen(Qt::NoPen);
    legend->setFillOrder(QCPLegend::foColumnsFirst);
    for (QCPAbstractPlottable* p : std::initializer_list<QCPAbstractPlottable*>{m_map, m_lost, m_unclear})
        p->addToLegend(legend);
    m_plot->plotLayout()->setRowStretchFactor(0, 0.001);
    m_plot->plotLayout()->setRowStretchFactor(2, 0.001);
    clear("frequency map");
}

void FrequencyMapChart::showMap(const FrequencyMap& map, const FrequencyMapSettings& s, const QString& title)
{
    const bool xy = s.plane == FrequencyMapPlane::XY;
    const double yScale = xy ? 1000 : 100; // mm, or %
    QVector<double> x, y, d, qx, qy;
    m_lost->data()->clear();
    m_unclear->data()->clear();
    for (const FrequencyMapPoint& p : map.points) {
        if (!p.computed)
            continue;
        if (p.lost)
            m_lost->addData(p.x * 1000, p.y * yScale);
        else if (!p.tunesFound)
            m_unclear->addData(p.x * 1000, p.y * yScale);
        else {
            x.push_back(p.x * 1000);
            y.push_back(p.y * yScale);
            d.push_back(p.diffusion);
            qx.push_back(p.qx1);
            qy.push_back(p.qy1);
        }
    }
    const QCPRange range = diffusionRange(d);
    m_map->setPoints(x, y, d);
    m_map->setColours(diffusionGradient(), range);
    // the cells of the grid: x from xMax / nx to xMax, y likewise (x-y) or delta over -yMax .. yMax
    const double height = xy ? s.yMax / std::max(s.ny, 1) : (s.ny > 1 ? 2 * s.yMax / (s.ny - 1) : s.yMax);
    m_map->setCell(s.xMax * 1000 / std::max(s.nx, 1), height * yScale);
    m_footprint->setPoints(qx, qy, d);
    m_footprint->setColours(diffusionGradient(), range);
    m_scale->setDataRange(range);
    m_scale->axis()->setLabel(s.perTurn ? "log10 (|dQ| / turns)" : "diffusion index, log10 |dQ|");
    m_mapRect->axis(QCPAxis::atLeft)->setLabel(xy ? "y (mm)" : "momentum deviation (%)");
    m_title->setText(title);
    fit(m_mapRect, 0.02);
    fit(m_footprintRect, 0.06);
    m_plot->replot();
}

void FrequencyMapChart::clear(const QString& title)
{
    m_map->clear();
    m_footprint->clear();
    m_lost->data()->clear();
    m_unclear->data()->clear();
    m_scale->setDataRange(diffusionRange({}));
    m_scale->axis()->setLabel("diffusion index, log10 |dQ|");
    m_title->setText(title);
    m_mapRect->axis(QCPAxis::atBottom)->setRange(0, 10);
    m_mapRect->axis(QCPAxis::atLeft)->setRange(0, 5);
    m_footprintRect->axis(QCPAxis::atBottom)->setRange(0, 1);
    m_footprintRect->axis(QCPAxis::atLeft)->setRange(0, 1);
    m_plot->replot();
}

int FrequencyMapChart::mapPoints() const
{
    return m_map->pointCount();
}

int FrequencyMapChart::footprintPoints() const
{
    return m_footprint->pointCount();
}

int FrequencyMapChart::lostPoints() const
{
    return m_lost->dataCount();
}

QString FrequencyMapChart::title() const
{
    return m_title->text();
}

} // namespace kestrune
