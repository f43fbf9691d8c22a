#include "gui/orbit/OrbitCharts.h"

#include "gui/ChartText.h"
#include "gui/editor/MagShapePlottable.h"

#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <qcustomplot.h>

namespace kestrune {

namespace {

const QColor kX(200, 0, 0);
const QColor kY(0, 0, 200);
const QColor kCapped(230, 150, 0);

// The share of the orbit chart's height the lattice drawing takes at its bottom, and the gap above it.
constexpr double kDrawingBand = 0.14;
constexpr double kDrawingGap = 0.05;
// Most bins of a histogram; fewer for few seeds (about the square root of their number).
constexpr int kMostBins = 30;

void legendInside(QCustomPlot* plot)
{
    plot->legend->setVisible(true);
    plot->legend->setFont(chartFont(8));
    plot->legend->setBrush(QColor(255, 255, 255, 200));
}

QCPBars* makeBars(QCustomPlot* plot, const QColor& colour, const QString& name)
{
    auto* bars = new QCPBars(plot->xAxis, plot->yAxis);
    bars->setPen(QPen(colour.darker(120)));
    bars->setBrush(colour);
    bars->setName(name);
    return bars;
}

} // namespace

ClosedOrbitChart::ClosedOrbitChart(const BeamLine& line, QWidget* parent) : QWidget(parent), m_line(line)
{
    setObjectName("chClosedOrbit");
    m_plot = addChart(this, bareChartLayout(this), "chClosedOrbitPlot");
    m_title = addChartTitle(m_plot, "closed orbit");
    m_plot->xAxis->setLabel("s (m)");
    m_plot->yAxis->setLabel("closed orbit (mm)");
    m_shapes = new MagShapePlottable(line, m_plot->xAxis, m_plot->yAxis2);
    m_shapes->setSelectable(QCP::stNone);
    m_shapes->removeFromLegend();
    const auto graph = [this](const QPen& pen, const QString& name) {
        QCPGraph* g = m_plot->addGraph();
        g->setPen(pen);
        g->setName(name);
        return g;
    };
    m_xBefore = graph(QPen(kX.lighter(150), 1, Qt::DashLine), "x");
    m_yBefore = graph(QPen(kY.lighter(150), 1, Qt::DashLine), "y");
    m_xAfter = graph(QPen(kX, 2), "x corrected");
    m_yAfter = graph(QPen(kY, 2), "y corrected");
    legendInside(m_plot);
    m_plot->xAxis->setRange(0, std::max(line.length, 1.0));
    m_plot->yAxis->setRange(-1, 1);
}

void ClosedOrbitChart::fill(QCPGraph* x, QCPGraph* y, const ClosedOrbit* orbit, double& largest)
{
    x->data()->clear();
    y->data()->clear();
    if (!orbit || !orbit->found)
        return;
    // the orbit at the entrance (index 0) and after each element; element ends taken from the line
    const std::size_t n = std::min(orbit->orbit.size(), static_cast<std::size_t>(m_line.count) + 1);
    for (std::size_t k = 0; k < n; ++k) {
        const int i = static_cast<int>(k);
        const double s =
            i == 0 ? (m_line.count > 0 ? m_line.at(1).s : 0) : m_line.at(i).s + m_line.at(i).length;
        const PhaseVector& p = orbit->orbit[k];
        if (!std::isfinite(p.x) || !std::isfinite(p.y))
            continue;
        x->addData(s, p.x * 1000);
        y->addData(s, p.y * 1000);
        largest = std::max({largest, std::fabs(p.x * 1000), std::fabs(p.y * 1000)});
    }
}

void ClosedOrbitChart::showOrbits(const ClosedOrbit* before, const ClosedOrbit* after, const QString& title)
{
    double largest = 0;
    fill(m_xBefore, m_yBefore, before, largest);
    fill(m_xAfter, m_yAfter, after, largest);
    m_title->setText(title);
    if (!(largest > 0))
        largest = 1;
    // the curves above the drawing band: the axis reaches below the lowest curve by the band
    const double below = kDrawingBand + kDrawingGap;
    const double top = 1.15 * largest, bottom = -largest - (top + largest) * below / (1 - below);
    const double end = m_line.count > 0 ? m_line.endPosition() : 0;
    m_plot->xAxis->setRange(m_line.count > 0 ? m_line.at(1).s : 0, std::max(end, 1e-3));
    m_plot->yAxis->setRange(bottom, top);
    double low = 0, high = 0;
    for (int i = 1; i <= m_line.count; ++i) {
        const ElementShape& shape = m_line.shape(i);
        low = i == 1 ? std::min(shape.y0, shape.y1) : std::min({low, shape.y0, shape.y1});
        high = i == 1 ? std::max(shape.y0, shape.y1) : std::max({high, shape.y0, shape.y1});
    }
    const double height = high > low ? high - low : 1;
    m_plot->yAxis2->setRange(low - 0.1 * height, low - 0.1 * height + 1.2 * height / kDrawingBand);
    m_plot->replot();
}

int ClosedOrbitChart::pointsBefore() const
{
    return m_xBefore->dataCount();
}

int ClosedOrbitChart::pointsAfter() const
{
    return m_xAfter->dataCount();
}

QString ClosedOrbitChart::title() const
{
    return m_title->text();
}

CorrectionCharts::CorrectionCharts(QWidget* parent) : QWidget(parent)
{
    setObjectName("pnCorrectionCharts");
    QBoxLayout* layout = bareChartLayout(this);
    m_kicks = addChart(this, layout, "chKicks");
    addChartTitle(m_kicks, "kicks of the correction");
    m_kicks->xAxis->setLabel("kicker plane, in line order");
    m_kicks->yAxis->setLabel("kick (mrad)");
    m_xBars = makeBars(m_kicks, kX, "horizontal");
    m_yBars = makeBars(m_kicks, kY, "vertical");
    m_cappedBars = makeBars(m_kicks, kCapped, "at the limit");
    legendInside(m_kicks);

    m_values = addChart(this, layout, "chSingularValues");
    addChartTitle(m_values, "singular values of the response");
    m_values->xAxis->setLabel("index");
    m_values->yAxis->setLabel("singular value (m/rad)");
    m_values->yAxis->setScaleType(QCPAxis::stLogarithmic);
    m_values->yAxis->setTicker(QSharedPointer<QCPAxisTickerLog>(new QCPAxisTickerLog));
    const auto points = [this](const QBrush& brush, const QString& name) {
        QCPGraph* g = m_values->addGraph();
        g->setLineStyle(QCPGraph::lsNone);
        g->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssCircle, QPen(kChartNavy), brush, 6));
        g->setName(name);
        return g;
    };
    m_used = points(QBrush(kChartNavy), "used");
    m_unused = points(Qt::NoBrush, "left out");
    legendInside(m_values);
    m_values->axisRect()->insetLayout()->setInsetAlignment(0, Qt::AlignTop | Qt::AlignRight);
}

void CorrectionCharts::showCorrection(const OrbitCorrection& correction)
{
    clear();
    double largest = 0;
    for (std::size_t k = 0; k < correction.kicks.size(); ++k) {
        const KickerKick& kick = correction.kicks[k];
        QCPBars* bars = kick.capped ? m_cappedBars : kick.horizontal ? m_xBars : m_yBars;
        bars->addData(static_cast<double>(k + 1), kick.after * 1000);
        largest = std::max(largest, std::fabs(kick.after * 1000));
    }
    m_kicks->xAxis->setRange(0, static_cast<double>(correction.kicks.size()) + 1);
    // room above the bars for the legend
    largest = largest > 0 ? largest : 1;
    m_kicks->yAxis->setRange(-1.1 * largest, 1.7 * largest);
    double least = INFINITY, most = 0;
    for (std::size_t k = 0; k < correction.singularValues.size(); ++k) {
        const double v = correction.singularValues[k];
        if (!(v > 0) || !std::isfinite(v))
            continue;
        const bool used = correction.method == CorrectionMethod::Svd && static_cast<int>(k) < correction.used;
        (used ? m_used : m_unused)->addData(static_cast<double>(k + 1), v);
        least = std::min(least, v);
        most = std::max(most, v);
    }
    m_values->xAxis->setRange(0, static_cast<double>(correction.singularValues.size()) + 1);
    if (most > 0)
        m_values->yAxis->setRange(least / 2, most * 2);
    m_kicks->replot();
    m_values->replot();
}

void CorrectionCharts::clear()
{
    for (QCPBars* bars : {m_xBars, m_yBars, m_cappedBars})
        bars->data()->clear();
    m_used->data()->clear();
    m_unused->data()->clear();
    m_kicks->replot();
    m_values->replot();
}

int CorrectionCharts::kickBars() const
{
    return m_xBars->dataCount() + m_yBars->dataCount() + m_cappedBars->dataCount();
}

int CorrectionCharts::singularValues() const
{
    return m_used->dataCount() + m_unused->dataCount();
}

SeedHistogram::SeedHistogram(const char* objectName, const QColor& colour, QWidget* parent) : QWidget(parent)
{
    setObjectName(objectName);
    m_plot = addChart(this, bareChartLayout(this), (std::string(objectName) + "Plot").c_str());
    m_title = addChartTitle(m_plot, "");
    m_plot->yAxis->setLabel("seeds");
    m_bars = makeBars(m_plot, colour, "");
}

void SeedHistogram::showValues(const std::vector<double>& values, const QString& title, const QString& label)
{
    m_title->setText(title);
    m_plot->xAxis->setLabel(label);
    m_bars->data()->clear();
    double low = INFINITY, high = -INFINITY;
    int finite = 0;
    for (double v : values)
        if (std::isfinite(v)) {
            low = std::min(low, v);
            high = std::max(high, v);
            ++finite;
        }
    if (finite == 0) {
        m_plot->replot();
        return;
    }
    if (!(high > low)) {
        const double half = low != 0 ? std::fabs(low) / 2 : 1;
        low -= half;
        high += half;
    }
    const int bins =
        std::clamp(static_cast<int>(std::ceil(std::sqrt(static_cast<double>(finite)))), 1, kMostBins);
    const double width = (high - low) / bins;
    std::vector<int> n(static_cast<std::size_t>(bins), 0);
    for (double v : values)
        if (std::isfinite(v))
            ++n[static_cast<std::size_t>(std::clamp(static_cast<int>((v - low) / width), 0, bins - 1))];
    int tallest = 1;
    for (int b = 0; b < bins; ++b) {
        m_bars->addData(low + (b + 0.5) * width, n[static_cast<std::size_t>(b)]);
        tallest = std::max(tallest, n[static_cast<std::size_t>(b)]);
    }
    m_bars->setWidth(0.9 * width);
    m_plot->xAxis->setRange(low - 0.1 * width, high + 0.1 * width);
    m_plot->yAxis->setRange(0, 1.15 * tallest);
    m_plot->replot();
}

int SeedHistogram::counted() const
{
    double n = 0;
    for (auto it = m_bars->data()->constBegin(); it != m_bars->data()->constEnd(); ++it)
        n += it->value;
    return static_cast<int>(n);
}

} // namespace kestrune
