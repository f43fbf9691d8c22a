#include "gui/chromaticity/TrackingChart.h"

#include "gui/ChartText.h"

#include <QVBoxLayout>
#include <qcustomplot.h>

namespace kestrune {

namespace {

const QColor kPointColours[4] = {QColor(180, 110, 0), QColor(0, 140, 0), QColor(128, 0, 0),
                                 QColor(0, 130, 150)};

// Circles of size 1 in the point colour, with a darker rim; amber, green and teal rather than yellow,
// lime and aqua, so that they stand out on the light background.
QCPScatterStyle pointStyle(const QColor& colour)
{
    return QCPScatterStyle(QCPScatterStyle::ssCircle, QPen(colour.darker(160), 1), QBrush(colour), 4);
}

// The same circle drawn once into a picture: a hundred thousand points redraw in a few milliseconds,
// where each drawn as a curve would take a microsecond or more.
QCPScatterStyle screenPointStyle(const QColor& colour)
{
    QPixmap picture(5, 5);
    picture.fill(Qt::transparent);
    QCPPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    const QCPScatterStyle circle = pointStyle(colour);
    circle.applyTo(&painter, QPen());
    circle.drawShape(&painter, 2.5, 2.5);
    painter.end();
    return QCPScatterStyle(picture);
}

// A range around lower..upper with a twentieth of its width to spare on either side.
QCPRange padded(const QCPRange& range)
{
    const double spare = range.size() > 0 ? range.size() / 20 : 1;
    return {range.lower - spare, range.upper + spare};
}

} // namespace

TrackingChart::TrackingChart(QWidget* parent) : QWidget(parent)
{
    setObjectName("chTracking");
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_plot = new QCustomPlot(this);
    m_plot->setObjectName("chTrackingPlot");
    layout->addWidget(m_plot);
    m_plot->setBackground(QColor(240, 240, 240));
    m_plot->axisRect()->setBackground(Qt::white);
    m_plot->legend->setVisible(false);

    addChartTitle(m_plot, "particle tracking");
    styleChartAxes(m_plot);
    labelAxes(false);
    m_plot->xAxis->setRange(-5, 5);
    m_plot->yAxis->setRange(-5, 5);

    for (std::size_t c = 0; c < m_series.size(); ++c) {
        QCPGraph* graph = m_plot->addGraph();
        graph->setName("Series1");
        graph->setLineStyle(QCPGraph::lsNone);
        graph->setScatterStyle(screenPointStyle(kPointColours[c]));
        m_series[c] = graph;
    }
}

void TrackingChart::setVectorPoints(bool vector)
{
    for (std::size_t c = 0; c < m_series.size(); ++c)
        m_series[c]->setScatterStyle(vector ? pointStyle(kPointColours[c])
                                            : screenPointStyle(kPointColours[c]));
}

void TrackingChart::addPoints(const std::vector<PhasePoint>& points, PhasePlane plane)
{
    QVector<double> keys;
    QVector<double> values;
    keys.reserve(static_cast<int>(points.size()));
    values.reserve(static_cast<int>(points.size()));
    for (const PhasePoint& p : points) {
        keys.push_back(plane == PhasePlane::X ? p.x : p.y);
        values.push_back(plane == PhasePlane::X ? p.xp : p.yp);
    }
    const Colour colour = plane == PhasePlane::X ? Colour::Amber : Colour::Green;
    m_series[static_cast<std::size_t>(colour)]->addData(keys, values);
    labelAxes(false);
}

void TrackingChart::addLongitudinalPoints(const std::vector<PhaseVector>& points)
{
    QVector<double> keys;
    QVector<double> values;
    keys.reserve(static_cast<int>(points.size()));
    values.reserve(static_cast<int>(points.size()));
    for (const PhaseVector& p : points) {
        keys.push_back(p.l * 1000);
        values.push_back(p.delta * 1000);
    }
    m_series[static_cast<std::size_t>(Colour::Teal)]->addData(keys, values);
    labelAxes(true);
}

void TrackingChart::labelAxes(bool longitudinal)
{
    m_plot->xAxis->setLabel(longitudinal ? "path-length difference l, mm" : "oscillation amplitude, mm");
    m_plot->yAxis->setLabel(longitudinal ? "momentum deviation, 1e-3" : "oscillation slope, mr");
}

void TrackingChart::useScale(double xMin, double xMax, double yMin, double yMax)
{
    m_automatic = false;
    m_plot->xAxis->setRange(xMin, xMax);
    m_plot->yAxis->setRange(yMin, yMax);
    m_series[static_cast<std::size_t>(Colour::Maroon)]->addData({xMin, xMin, xMax, xMax},
                                                                {yMin, yMax, yMin, yMax});
}

void TrackingChart::setAutomatic()
{
    m_automatic = true;
}

void TrackingChart::clear()
{
    for (QCPGraph* graph : m_series)
        graph->data()->clear();
}

int TrackingChart::pointCount() const
{
    int n = 0;
    for (const QCPGraph* graph : m_series)
        n += graph->dataCount();
    return n;
}

int TrackingChart::pointCount(Colour colour) const
{
    return m_series[static_cast<std::size_t>(colour)]->dataCount();
}

double TrackingChart::xLower() const
{
    return m_plot->xAxis->range().lower;
}

double TrackingChart::xUpper() const
{
    return m_plot->xAxis->range().upper;
}

double TrackingChart::yLower() const
{
    return m_plot->yAxis->range().lower;
}

double TrackingChart::yUpper() const
{
    return m_plot->yAxis->range().upper;
}

void TrackingChart::refresh()
{
    if (m_automatic && pointCount() > 0) {
        bool any = false;
        QCPRange keys;
        QCPRange values;
        for (const QCPGraph* graph : m_series) {
            bool found = false;
            const QCPRange k = graph->data()->keyRange(found);
            if (!found)
                continue;
            const QCPRange v = graph->data()->valueRange(found);
            keys = any ? QCPRange(std::min(keys.lower, k.lower), std::max(keys.upper, k.upper)) : k;
            values = any ? QCPRange(std::min(values.lower, v.lower), std::max(values.upper, v.upper)) : v;
            any = true;
        }
        m_plot->xAxis->setRange(padded(keys));
        m_plot->yAxis->setRange(padded(values));
    }
    m_plot->replot(QCustomPlot::rpImmediateRefresh);
}

} // namespace kestrune
