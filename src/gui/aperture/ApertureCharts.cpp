#include "gui/aperture/ApertureCharts.h"

#include "gui/ChartText.h"
#include "gui/editor/MagShapePlottable.h"

#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <qcustomplot.h>

namespace kestrune {

namespace {

const QColor kBoundary(200, 0, 0);
const QColor kChamber(128, 128, 128);
const QColor kSurvivor(0, 150, 0);
const QColor kPlus(200, 0, 0);
const QColor kMinus(0, 0, 200);

// The share of the acceptance chart's height the lattice drawing takes at its bottom, and the gap above it.
constexpr double kDrawingBand = 0.14;
constexpr double kDrawingGap = 0.05;

QCPCurve* makeCurve(QCustomPlot* plot, const QPen& pen, const QString& name)
{
    auto* curve = new QCPCurve(plot->xAxis, plot->yAxis);
    curve->setPen(pen);
    curve->setName(name);
    return curve;
}

void setRectangle(QCPCurve* curve, double x, double y)
{
    curve->setData({-x, x, x, -x, -x}, {-y, -y, y, y, -y});
}

} // namespace

DynamicApertureChart::DynamicApertureChart(QWidget* parent) : QWidget(parent)
{
    setObjectName("chDynamicAperture");
    m_plot = addChart(this, bareChartLayout(this), "chDynamicAperturePlot");
    m_title = addChartTitle(m_plot, "dynamic aperture at the ring's start");
    m_plot->xAxis->setLabel("x (mm)");
    m_plot->yAxis->setLabel("y (mm)");
    m_chamber = makeCurve(m_plot, QPen(kChamber, 1, Qt::DashLine), "physical aperture");
    m_linear = makeCurve(m_plot, QPen(kChartNavy, 1, Qt::DashDotLine), "linear limit");
    m_boundary = makeCurve(m_plot, QPen(kBoundary, 2), "dynamic aperture");
    m_boundary->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssDisc, 5));
    m_mirror = makeCurve(m_plot, QPen(kBoundary, 1, Qt::DotLine), "");
    m_mirror->removeFromLegend();
    m_survivors = m_plot->addGraph();
    m_survivors->setLineStyle(QCPGraph::lsNone);
    m_survivors->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssDisc, kSurvivor, 5));
    m_survivors->setName("survived");
    m_lost = m_plot->addGraph();
    m_lost->setLineStyle(QCPGraph::lsNone);
    m_lost->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssCross, QColor(230, 150, 150), 4));
    m_lost->setName("lost");
    legendBelow(m_plot);
    showInLegend(true);
    m_plot->xAxis->setRange(-30, 30);
    m_plot->yAxis->setRange(-15, 15);
}

void DynamicApertureChart::showApertures(double apertureX, double apertureY, double linearX, double linearY)
{
    if (std::isfinite(apertureX) && std::isfinite(apertureY))
        setRectangle(m_chamber, apertureX, apertureY);
    else
        m_chamber->data()->clear();
    if (std::isfinite(linearX) && std::isfinite(linearY))
        setRectangle(m_linear, linearX, linearY);
    else
        m_linear->data()->clear();
    fitAxes();
}

void DynamicApertureChart::showBoundary(const std::vector<double>& xMm, const std::vector<double>& yMm,
                                        const QString& title)
{
    QVector<double> x, y, mirrored;
    for (std::size_t i = 0; i < xMm.size() && i < yMm.size(); ++i) {
        if (!std::isfinite(xMm[i]) || !std::isfinite(yMm[i]))
            continue;
        x.append(xMm[i]);
        y.append(yMm[i]);
        mirrored.append(-yMm[i]);
    }
    m_boundary->setData(x, y);
    m_mirror->setData(x, mirrored);
    m_survivors->data()->clear();
    m_lost->data()->clear();
    showInLegend(true);
    m_title->setText(title);
    fitAxes();
}

void DynamicApertureChart::showGrid(const std::vector<double>& xMm, const std::vector<double>& yMm,
                                    const std::vector<int>& turns, const std::vector<bool>& lost,
                                    const QString& title)
{
    m_boundary->data()->clear();
    m_mirror->data()->clear();
    m_survivors->data()->clear();
    m_lost->data()->clear();
    for (std::size_t k = 0; k < xMm.size(); ++k) {
        if (turns[k] < 0)
            continue;
        (lost[k] ? m_lost : m_survivors)->addData(xMm[k], yMm[k]);
    }
    showInLegend(false);
    m_title->setText(title);
    fitAxes();
}

void DynamicApertureChart::showInLegend(bool boundary)
{
    for (QCPAbstractPlottable* p :
         {static_cast<QCPAbstractPlottable*>(m_survivors), static_cast<QCPAbstractPlottable*>(m_lost)})
        boundary ? p->removeFromLegend() : p->addToLegend();
    boundary ? m_boundary->addToLegend() : m_boundary->removeFromLegend();
}

void DynamicApertureChart::fitAxes()
{
    bool found = false;
    double x = 1, y = 1;
    for (QCPAbstractPlottable* p :
         {static_cast<QCPAbstractPlottable*>(m_chamber), static_cast<QCPAbstractPlottable*>(m_boundary),
          static_cast<QCPAbstractPlottable*>(m_survivors), static_cast<QCPAbstractPlottable*>(m_lost)}) {
        const QCPRange keys = p->getKeyRange(found);
        if (found)
            x = std::max({x, std::fabs(keys.lower), std::fabs(keys.upper)});
        const QCPRange values = p->getValueRange(found);
        if (found)
            y = std::max({y, std::fabs(values.lower), std::fabs(values.upper)});
    }
    m_plot->xAxis->setRange(-1.1 * x, 1.1 * x);
    m_plot->yAxis->setRange(-1.25 * y, 1.25 * y);
    m_plot->replot();
}

int DynamicApertureChart::boundaryPoints() const
{
    return m_boundary->dataCount();
}

int DynamicApertureChart::survivorPoints() const
{
    return m_survivors->dataCount();
}

QString DynamicApertureChart::title() const
{
    return m_title->text();
}

AcceptanceChart::AcceptanceChart(const BeamLine& line, QWidget* parent) : QWidget(parent), m_line(line)
{
    setObjectName("chAcceptance");
    m_plot = addChart(this, bareChartLayout(this), "chAcceptancePlot");
    m_title = addChartTitle(m_plot, "local momentum acceptance");
    m_plot->xAxis->setLabel("s (m)");
    m_plot->yAxis->setLabel("momentum acceptance (%)");
    // the lattice drawing on an axis of its own, in a band at the bottom
    m_shapes = new MagShapePlottable(line, m_plot->xAxis, m_plot->yAxis2);
    m_shapes->setSelectable(QCP::stNone);
    m_shapes->removeFromLegend();
    const auto graph = [this](const QPen& pen, const QString& name) {
        QCPGraph* g = m_plot->addGraph();
        g->setPen(pen);
        g->setName(name);
        g->setLineStyle(QCPGraph::lsStepLeft);
        return g;
    };
    m_plus = graph(QPen(kPlus, 2), "delta+");
    m_minus = graph(QPen(kMinus, 2), "delta-");
    m_rfPlus = graph(QPen(kChartMaroon, 1, Qt::DashLine), "rf acceptance");
    m_rfMinus = graph(QPen(kChartMaroon, 1, Qt::DashLine), "");
    m_rfMinus->removeFromLegend();
    legendBelow(m_plot);
    m_plot->xAxis->setRange(0, std::max(line.length, 1.0));
    m_plot->yAxis->setRange(-1.5, 1.5);
}

void AcceptanceChart::showAcceptance(const std::vector<double>& s, const std::vector<double>& plusPercent,
                                     const std::vector<double>& minusPercent, double rfPercent, double period,
                                     const QString& title)
{
    // without a period (no result) the axis spans the line, so that its drawing keeps its proportions
    if (!(period > 0))
        period = std::max(m_line.endPosition(), 1.0);
    double largest = std::isfinite(rfPercent) ? rfPercent : 0;
    const std::size_t n = std::min(s.size(), std::min(plusPercent.size(), minusPercent.size()));
    // a point holds until the next one; a point not computed leaves a gap
    const auto fill = [&](QCPGraph* graph, const std::vector<double>& values) {
        graph->data()->clear();
        for (std::size_t k = 0; k < n; ++k) {
            if (!std::isfinite(values[k]))
                continue;
            graph->addData(s[k], values[k]);
            largest = std::max(largest, std::fabs(values[k]));
            if (k + 1 == n || !std::isfinite(values[k + 1])) {
                const double end = k + 1 < n ? s[k + 1] : period;
                graph->addData(end, values[k]);
                graph->addData(end, std::nan(""));
            }
        }
    };
    fill(m_plus, plusPercent);
    fill(m_minus, minusPercent);
    m_points = static_cast<int>(std::count_if(plusPercent.begin(),
                                              plusPercent.begin() + static_cast<std::ptrdiff_t>(n),
                                              [](double v) { return std::isfinite(v); }));
    m_rfPlus->data()->clear();
    m_rfMinus->data()->clear();
    if (std::isfinite(rfPercent)) {
        m_rfPlus->setData({0, period}, {rfPercent, rfPercent});
        m_rfMinus->setData({0, period}, {-rfPercent, -rfPercent});
    }
    m_title->setText(title);
    if (!(largest > 0))
        largest = 1;
    // the curves above the drawing band: the axis reaches below the lowest curve by the band
    const double below = kDrawingBand + kDrawingGap;
    const double top = 1.15 * largest, bottom = -largest - (top + largest) * below / (1 - below);
    m_plot->xAxis->setRange(0, period);
    m_plot->yAxis->setRange(bottom, top);
    // the shapes' own extent fills the band
    double low = 0, high = 0;
    bool any = false;
    for (int i = 1; i <= m_line.count; ++i) {
        const ElementShape& shape = m_line.shape(i);
        low = any ? std::min({low, shape.y0, shape.y1}) : std::min(shape.y0, shape.y1);
        high = any ? std::max({high, shape.y0, shape.y1}) : std::max(shape.y0, shape.y1);
        any = true;
    }
    const double height = high > low ? high - low : 1;
    m_plot->yAxis2->setRange(low - 0.1 * height, low - 0.1 * height + 1.2 * height / kDrawingBand);
    m_plot->replot();
}

QString AcceptanceChart::title() const
{
    return m_title->text();
}

} // namespace kestrune
