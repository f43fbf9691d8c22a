#include "gui/nonlinear/SextupoleKnobCharts.h"

#include "core/Format.h"
#include "gui/ChartText.h"
#include "gui/editor/MagShapePlottable.h"

#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <qcustomplot.h>

namespace kestrune {

namespace {

const QColor kGeometric(0, 0, 160);
const QColor kChromatic(160, 0, 0);
const QColor kTuneX(200, 0, 0);
const QColor kTuneY(0, 0, 200);

constexpr int kGeometricTerms = 5;
// the share of the build-up chart's height the lattice drawing takes at its bottom, and the gap above it
constexpr double kDrawingBand = 0.16;
constexpr double kDrawingGap = 0.04;

QCPAxisRect* styledRect(QCustomPlot* plot, const QString& label)
{
    auto* rect = new QCPAxisRect(plot);
    for (QCPAxis* axis : {rect->axis(QCPAxis::atBottom), rect->axis(QCPAxis::atLeft)}) {
        axis->setLabelFont(chartFont(9));
        axis->setLabelColor(kChartNavy);
        axis->setTickLabelFont(chartFont(8));
    }
    rect->axis(QCPAxis::atLeft)->setLabel(label);
    return rect;
}

QCPBars* makeBars(QCPAxisRect* rect, int first, const QColor& colour)
{
    QCPAxis* keys = rect->axis(QCPAxis::atBottom);
    auto* bars = new QCPBars(keys, rect->axis(QCPAxis::atLeft));
    bars->setPen(QPen(colour));
    bars->setBrush(QColor(colour.red(), colour.green(), colour.blue(), 110));
    bars->setWidth(0.6);
    QSharedPointer<QCPAxisTickerText> ticker(new QCPAxisTickerText);
    for (int t = 0; t < kGeometricTerms; ++t)
        ticker->addTick(t, drivingTermName(static_cast<DrivingTerm>(first + t)));
    keys->setTicker(ticker);
    keys->setRange(-0.6, kGeometricTerms - 0.4);
    return bars;
}

QCPGraph* makeGraph(QCustomPlot* plot, const QPen& pen, const QString& name, bool points)
{
    QCPGraph* g = plot->addGraph();
    g->setPen(pen);
    g->setName(name);
    if (points) {
        g->setLineStyle(QCPGraph::lsNone);
        g->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssCircle, pen.color(), 5));
    }
    return g;
}

// The value axis from 0 (or the lowest value) to above the highest, never an empty span.
void valueRange(QCPAxis* axis, double low, double high)
{
    if (!(high > low))
        high = low + 1;
    axis->setRange(low, high + 0.1 * (high - low));
}

} // namespace

SextupoleKnobCharts::SextupoleKnobCharts(const BeamLine& line, QWidget* parent)
    : QWidget(parent), m_line(line)
{
    setObjectName("chSextupoleKnobs");
    QBoxLayout* layout = bareChartLayout(this);
    m_terms = addChart(this, layout, "chKnobTerms", 1);
    m_buildUp = addChart(this, layout, "chKnobBuildUp", 1);
    m_tunes = addChart(this, layout, "chKnobTunes", 1);
    buildTermsPlot();
    buildBuildUpPlot();
    buildTunesPlot();
}

void SextupoleKnobCharts::buildTermsPlot()
{
    // a title row above the two axis rects of the groups, no legend
    m_terms->setAutoAddPlottableToLegend(false);
    m_terms->plotLayout()->clear();
    m_termsTitle = addChartTitle(m_terms, "driving terms of the ring");
    auto* row = new QCPLayoutGrid;
    m_terms->plotLayout()->addElement(1, 0, row);
    QCPAxisRect* geometric = styledRect(m_terms, "geometric |h|");
    QCPAxisRect* chromatic = styledRect(m_terms, "chromatic |h|");
    row->addElement(0, 0, geometric);
    row->addElement(0, 1, chromatic);
    m_geometric = makeBars(geometric, 0, kGeometric);
    m_chromatic = makeBars(chromatic, kGeometricTerms, kChromatic);
}

void SextupoleKnobCharts::buildBuildUpPlot()
{
    m_buildUpTitle = addChartTitle(m_buildUp, "build-up along the cell");
    m_buildUp->xAxis->setLabel("s (m)");
    m_buildUp->yAxis->setLabel("|h| of the cell up to s");
    m_shapes = new MagShapePlottable(m_line, m_buildUp->xAxis, m_buildUp->yAxis2);
    m_shapes->setSelectable(QCP::stNone);
    m_shapes->removeFromLegend();
    m_term = m_buildUp->addGraph();
    // a thin pen without antialiasing: the cell of a large ring has thousands of steps
    m_term->setPen(QPen(kGeometric, 1));
    m_term->setAntialiased(false);
    m_term->setLineStyle(QCPGraph::lsStepLeft);
}

void SextupoleKnobCharts::buildTunesPlot()
{
    m_tunesTitle = addChartTitle(m_tunes, "tunes over the momentum deviation");
    m_tunes->xAxis->setLabel("delta (%)");
    m_tunes->yAxis->setLabel("Q(delta) - Q(0)");
    m_fitX = makeGraph(m_tunes, QPen(kTuneX, 1.5), "Qx, cubic fit", false);
    m_fitY = makeGraph(m_tunes, QPen(kTuneY, 1.5), "Qy, cubic fit", false);
    m_pointsX = makeGraph(m_tunes, QPen(kTuneX), "Qx tracked", true);
    m_pointsY = makeGraph(m_tunes, QPen(kTuneY), "Qy tracked", true);
    legendBelow(m_tunes);
}

void SextupoleKnobCharts::showTerms(const DrivingTerms* terms, DrivingTerm term, const QString& why)
{
    m_geometric->data()->clear();
    m_chromatic->data()->clear();
    m_term->data()->clear();
    if (!terms) {
        m_termsTitle->setText("driving terms: " + why);
        m_buildUpTitle->setText("build-up: " + why);
        m_terms->replot();
        m_buildUp->replot();
        return;
    }
    m_termsTitle->setText(QString("driving terms of the ring of %1 cells").arg(terms->cells));
    double highest[2] = {0, 0};
    for (int t = 0; t < kDrivingTermCount; ++t) {
        const double value = std::abs(terms->ring[static_cast<std::size_t>(t)]);
        const int group = t < kGeometricTerms ? 0 : 1;
        (group == 0 ? m_geometric : m_chromatic)->addData(t % kGeometricTerms, value);
        highest[group] = std::max(highest[group], value);
    }
    valueRange(m_geometric->valueAxis(), 0, highest[0]);
    valueRange(m_chromatic->valueAxis(), 0, highest[1]);

    // the running sum changes only at magnets: one step point where it changes, and the cell's end
    const auto t = static_cast<std::size_t>(term);
    double largest = 0;
    const std::size_t n = std::min(terms->s.size(), terms->buildUp.size());
    QVector<double> s{0}, h{0};
    for (std::size_t k = 0; k < n; ++k) {
        const double value = std::abs(terms->buildUp[k][t]);
        if (value != h.back() || k + 1 == n) {
            s.push_back(terms->s[k]);
            h.push_back(value);
        }
        largest = std::max(largest, value);
    }
    m_term->setData(s, h, true);
    m_buildUpTitle->setText(QString("build-up of |%1| along the cell").arg(drivingTermName(term)));
    if (!(largest > 0))
        largest = 1;
    // the curve above the drawing band: the axis reaches below zero by the band
    const double below = kDrawingBand + kDrawingGap;
    const double top = 1.1 * largest;
    m_buildUp->xAxis->setRange(0, n > 0 ? std::max(terms->s.back(), 1e-3) : 1.0);
    m_buildUp->yAxis->setRange(-top * below / (1 - below), top);
    double low = 0, high = 0;
    for (int i = 1; i <= m_line.count; ++i) {
        const ElementShape& shape = m_line.shape(i);
        low = i == 1 ? std::min(shape.y0, shape.y1) : std::min({low, shape.y0, shape.y1});
        high = i == 1 ? std::max(shape.y0, shape.y1) : std::max({high, shape.y0, shape.y1});
    }
    const double height = high > low ? high - low : 1;
    m_buildUp->yAxis2->setRange(low - 0.1 * height, low - 0.1 * height + 1.2 * height / kDrawingBand);
    m_terms->replot();
    m_buildUp->replot();
}

void SextupoleKnobCharts::showTunes(const ChromaticTunes* tunes, const QString& why)
{
    for (QCPGraph* g : {m_pointsX, m_pointsY, m_fitX, m_fitY})
        g->data()->clear();
    if (!tunes || tunes->delta.empty()) {
        m_tunesTitle->setText("tunes over the momentum deviation: " + why);
        m_tunes->replot();
        return;
    }
    const auto cubic = [](const std::array<double, 4>& q, double d) {
        return ((q[3] * d + q[2]) * d + q[1]) * d;
    };
    for (std::size_t k = 0; k < tunes->delta.size(); ++k) {
        m_pointsX->addData(100 * tunes->delta[k], tunes->tuneX[k] - tunes->qx[0]);
        m_pointsY->addData(100 * tunes->delta[k], tunes->tuneY[k] - tunes->qy[0]);
    }
    const double first = tunes->delta.front(), last = tunes->delta.back();
    constexpr int kFitPoints = 60;
    for (int k = 0; k <= kFitPoints; ++k) {
        const double d = first + (last - first) * k / kFitPoints;
        m_fitX->addData(100 * d, cubic(tunes->qx, d));
        m_fitY->addData(100 * d, cubic(tunes->qy, d));
    }
    m_tunesTitle->setText(
        QString::fromStdString("tunes over the momentum deviation: Qx(0) = " + fmt("%.4f", tunes->qx[0]) +
                               ", Qy(0) = " + fmt("%.4f", tunes->qy[0])));
    m_tunes->rescaleAxes();
    const QCPRange r = m_tunes->yAxis->range();
    const double margin = r.size() > 0 ? 0.08 * r.size() : 1e-4;
    m_tunes->yAxis->setRange(r.lower - margin, r.upper + margin);
    m_tunes->replot();
}

double SextupoleKnobCharts::barValue(int t) const
{
    const QCPBars* bars = t < kGeometricTerms ? m_geometric : m_chromatic;
    const auto it = bars->data()->findBegin(t % kGeometricTerms, false);
    return it != bars->data()->constEnd() && it->key == t % kGeometricTerms ? it->value : 0.0;
}

int SextupoleKnobCharts::buildUpPoints() const
{
    return m_term->dataCount();
}

int SextupoleKnobCharts::tunePoints() const
{
    return m_pointsX->dataCount() + m_pointsY->dataCount();
}

QString SextupoleKnobCharts::tunesTitle() const
{
    return m_tunesTitle->text();
}

} // namespace kestrune
