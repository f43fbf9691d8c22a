#include "gui/vacuum/VacuumChart.h"

#include "gui/ChartText.h"
#include "gui/MaskTicker.h"

#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <qcustomplot.h>

namespace kestrune {

VacuumChart::VacuumChart(QWidget* parent) : QWidget(parent)
{
    setObjectName("chVacuum");
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_plot = new QCustomPlot(this);
    m_plot->setObjectName("chVacuumPlot");
    m_plot->setBackground(Qt::white);
    layout->addWidget(m_plot);

    m_title = addChartTitle(m_plot, "vacuum pressure distribution");
    m_foot = addChartFoot(m_plot, "");
    styleChartAxes(m_plot);
    m_plot->yAxis->setLabel("vacuum pressure distribution (nTorr)");
    // automatic scale with an increment of at least 0.1
    m_plot->yAxis->setTicker(makeMaskTicker("##0.0###", 0.1));
    m_plot->xAxis->setLabel("z (m)");
    m_plot->xAxis->setTicker(makeMaskTicker("##0.0"));
    m_plot->xAxis->setRange(0, 10);
    m_plot->yAxis->setRange(0, 1);
}

void VacuumChart::showProfile(const std::vector<double>& s, const std::vector<double>& pressureNTorr)
{
    removeSeries();
    m_title->setText("vacuum pressure distribution");
    m_plot->yAxis->setLabel("vacuum pressure distribution (nTorr)");
    m_foot->setText("");
    m_plot->xAxis->setLabel("z (m)");
    QCPGraph* graph = m_plot->addGraph(m_plot->xAxis, m_plot->yAxis);
    graph->setPen(QPen(kChartMaroon, 1));
    graph->setAdaptiveSampling(true);
    graph->setData(QVector<double>(s.begin(), s.end()),
                   QVector<double>(pressureNTorr.begin(), pressureNTorr.end()), true);
    // automatic scales: the data's extent, the pressure axis from a little below its lowest value
    graph->rescaleAxes();
    const QCPRange range = m_plot->yAxis->range();
    const double margin = std::max(0.05 * range.size(), 1e-3 * std::max(std::fabs(range.upper), 1e-12));
    m_plot->yAxis->setRange(range.lower - margin, range.upper + margin);
    m_plot->replot();
}

void VacuumChart::removeSeries()
{
    m_plot->clearGraphs();
    m_plot->replot();
}

int VacuumChart::seriesCount() const
{
    return m_plot->graphCount();
}

int VacuumChart::pointCount() const
{
    return m_plot->graphCount() > 0 ? m_plot->graph(0)->dataCount() : 0;
}

std::optional<double> VacuumChart::seriesMin() const
{
    if (pointCount() == 0)
        return std::nullopt;
    bool found = false;
    const QCPRange range = m_plot->graph(0)->data()->valueRange(found);
    return found ? std::optional<double>(range.lower) : std::nullopt;
}

std::optional<double> VacuumChart::seriesMax() const
{
    if (pointCount() == 0)
        return std::nullopt;
    bool found = false;
    const QCPRange range = m_plot->graph(0)->data()->valueRange(found);
    return found ? std::optional<double>(range.upper) : std::nullopt;
}

QString VacuumChart::title() const
{
    return m_title->text();
}

QString VacuumChart::footText() const
{
    return m_foot->text();
}

QString VacuumChart::leftAxisTitle() const
{
    return m_plot->yAxis->label();
}

QString VacuumChart::bottomAxisTitle() const
{
    return m_plot->xAxis->label();
}

QString VacuumChart::leftTickLabel(double value) const
{
    return maskTickLabel(*m_plot->yAxis->ticker(), value);
}

QString VacuumChart::bottomTickLabel(double value) const
{
    return maskTickLabel(*m_plot->xAxis->ticker(), value);
}

} // namespace kestrune
