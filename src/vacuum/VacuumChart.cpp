#include "vacuum/VacuumChart.h"

#include "core/Format.h"

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

/// value written by a label mask of the form "##0.0###": as many decimals as there are digit places after
/// the point, trailing zeros dropped down to the '0' places.
QString maskFormat(double value, const std::string& mask)
{
    const std::size_t point = mask.find('.');
    const std::string fraction = point == std::string::npos ? std::string() : mask.substr(point + 1);
    const auto fixed = static_cast<std::size_t>(std::count(fraction.begin(), fraction.end(), '0'));
    const auto places = fixed + static_cast<std::size_t>(std::count(fraction.begin(), fraction.end(), '#'));
    std::string text = fmt("%.*f", static_cast<int>(places), value);
    if (places > fixed) {
        std::size_t keep = text.size();
        while (keep > text.find('.') + 1 + fixed && text[keep - 1] == '0')
            --keep;
        if (text[keep - 1] == '.')
            --keep;
        text.resize(keep);
    }
    // a negative value that rounds to zero is shown as zero
    if (text[0] == '-' && text.find_first_not_of("-0.") == std::string::npos)
        text.erase(0, 1);
    return QString::fromStdString(text);
}

/// Tick labels written by a label mask ("##0.0###"), with a smallest step between ticks.
class MaskTicker : public QCPAxisTicker
{
public:
    MaskTicker(std::string mask, double smallestStep) : m_mask(std::move(mask)), m_smallestStep(smallestStep)
    {
    }

    QString label(double tick) const { return maskFormat(tick, m_mask); }

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
