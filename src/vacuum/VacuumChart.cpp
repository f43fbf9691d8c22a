#include "vacuum/VacuumChart.h"

#include "core/LabelMask.h"

#include <QVBoxLayout>
#include <algorithm>
#include <qcustomplot.h>

namespace kestrune {

namespace {

const QColor kMaroon(128, 0, 0);
const QColor kNavy(0, 0, 128);

QFont arial(int pointSize, bool bold = false)
{
    QFont font("Arial", pointSize);
    font.setBold(bold);
    return font;
}

/// Tick labels written by a label mask ("##0.0###"), with a smallest step between ticks.
class MaskTicker : public QCPAxisTicker
{
public:
    MaskTicker(std::string mask, double smallestStep) : m_mask(std::move(mask)), m_smallestStep(smallestStep)
    {
    }

    QString label(double tick) const { return QString::fromStdString(maskFormat(tick, m_mask)); }

protected:
    QString getTickLabel(double tick, const QLocale&, QChar, int) override { return label(tick); }
    double getTickStep(const QCPRange& range) override
    {
        return std::max(QCPAxisTicker::getTickStep(range), m_smallestStep);
    }

private:
    std::string m_mask;
    double m_smallestStep;
};

} // namespace

VacuumChart::VacuumChart(QWidget* parent) : QWidget(parent)
{
    setObjectName("chVacuum");
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_plot = new QCustomPlot(this);
    m_plot->setObjectName("chVacuumPlot");
    m_plot->setBackground(Qt::white);
    layout->addWidget(m_plot);

    m_title = new QCPTextElement(m_plot, "vacuum pressure distribution", arial(11, true));
    m_title->setTextColor(kNavy);
    m_plot->plotLayout()->insertRow(0);
    m_plot->plotLayout()->addElement(0, 0, m_title);
    m_foot = new QCPTextElement(m_plot, "", arial(9));
    m_foot->setTextColor(kMaroon);
    m_plot->plotLayout()->addElement(2, 0, m_foot);

    for (QCPAxis* axis : {m_plot->xAxis, m_plot->yAxis}) {
        axis->setLabelFont(arial(9));
        axis->setLabelColor(kNavy);
        axis->setTickLabelFont(arial(8));
    }
    m_plot->yAxis->setLabel("vacuum pressure distribution (nTorr)");
    m_plot->yAxis->setTicker(QSharedPointer<QCPAxisTicker>(new MaskTicker("##0.0###", 0.1)));
    m_plot->xAxis->setLabel("z (m)");
    m_plot->xAxis->setTicker(QSharedPointer<QCPAxisTicker>(new MaskTicker("##0.0", 0)));
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
    graph->setPen(QPen(kMaroon, 1));
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
    return static_cast<MaskTicker*>(m_plot->yAxis->ticker().data())->label(value);
}

QString VacuumChart::bottomTickLabel(double value) const
{
    return static_cast<MaskTicker*>(m_plot->xAxis->ticker().data())->label(value);
}

} // namespace kestrune
