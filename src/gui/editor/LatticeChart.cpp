#include "gui/editor/LatticeChart.h"

#include "core/Drawing.h"
#include "core/DrawingColumns.h"
#include "core/editor/ChartSettings.h"
#include "gui/editor/MagShapePlottable.h"

#include <QPushButton>
#include <algorithm>
#include <cmath>
#include <limits>
#include <qcustomplot.h>

namespace kestrune {

namespace {

const QColor kSeriesColours[3] = {QColor(255, 0, 0), QColor(0, 128, 0), QColor(0, 0, 255)};
// the closed orbit's x and y, apart from the three series' colours
const QColor kOrbitColours[2] = {QColor(200, 0, 200), QColor(230, 130, 0)};
const QColor kNavy(0, 0, 128);
const QColor kMaroon(128, 0, 0);
const char* const kShowDispersion = "show dispersion";
const char* const kHideDispersion = "do not show dispersion";
const char* const kCurveLayer = "curves";
// Curves with more points than this per pixel of the plot's width are drawn without smoothing.
constexpr int kSmoothPointsPerPixel = 2;

QFont arial(int pointSize, bool bold = false)
{
    QFont font("Arial", pointSize);
    font.setBold(bold);
    return font;
}

} // namespace

/// Points of one pass with the smallest and largest value of each series (NaN values left out, as the
/// graphs leave them out of their ranges). The points of the pass under way fill one set of tables while
/// the chart shows the other, so no table is allocated again; the graphs get of the shown points only
/// what the plot's pixel columns can show (showColumns).
class LatticeChart::Buffer : public PlotSink
{
public:
    void point(double s, const LatticeFunctions& lf) override
    {
        sorted = sorted && !(s < lastKey);
        lastKey = s;
        keys.push_back(s);
        if (orbit) {
            orbitValues[0].push_back(lf.x);
            orbitValues[1].push_back(lf.y);
        }
        const std::array<double, 3> v = curveValues(*run, lf);
        for (std::size_t n = 0; n < 3; ++n) {
            values[n].push_back(v[n]);
            if (std::isnan(v[n]))
                continue;
            lower[n] = std::min(lower[n], v[n]);
            upper[n] = std::max(upper[n], v[n]);
        }
    }
    void clear()
    {
        keys.clear();
        for (std::vector<double>& series : values)
            series.clear();
        for (std::vector<double>& curve : orbitValues)
            curve.clear();
        lower.fill(std::numeric_limits<double>::infinity());
        upper.fill(-std::numeric_limits<double>::infinity());
        sorted = true;
        lastKey = -std::numeric_limits<double>::infinity();
    }
    /// The pass's points become the shown ones, in the order of their keys.
    void commit()
    {
        if (!sorted)
            sortByKey();
        std::swap(keys, shownKeys);
        std::swap(values, shownValues);
        std::swap(orbitValues, shownOrbit);
        ++revision;
        clear();
    }
    void clearShown()
    {
        shownKeys.clear();
        for (std::vector<double>& series : shownValues)
            series.clear();
        for (std::vector<double>& curve : shownOrbit)
            curve.clear();
        ++revision;
    }

    std::array<double, 3> lower{};
    std::array<double, 3> upper{};
    const RunSettings* run = nullptr; // the graph mode of the pass under way
    std::vector<double> shownKeys;
    std::array<std::vector<double>, 3> shownValues;
    bool orbit = false;                            // the points' x, y (mm) are kept as the orbit's curves
    std::array<std::vector<double>, 2> shownOrbit; // at the shown keys, when orbit
    unsigned long revision = 0;                    // counts the commits

private:
    void sortByKey()
    {
        std::vector<std::size_t> order(keys.size());
        for (std::size_t i = 0; i < order.size(); ++i)
            order[i] = i;
        std::stable_sort(order.begin(), order.end(),
                         [this](std::size_t a, std::size_t b) { return keys[a] < keys[b]; });
        const auto permuted = [&order](const std::vector<double>& v) {
            std::vector<double> out(v.size());
            for (std::size_t i = 0; i < order.size(); ++i)
                out[i] = v[order[i]];
            return out;
        };
        keys = permuted(keys);
        for (std::vector<double>& series : values)
            series = permuted(series);
        for (std::vector<double>& curve : orbitValues)
            if (curve.size() == order.size())
                curve = permuted(curve);
    }

    std::vector<double> keys;
    std::array<std::vector<double>, 3> values;
    std::array<std::vector<double>, 2> orbitValues;
    bool sorted = true;
    double lastKey = 0;
};

LatticeChart::LatticeChart(const BeamLine& line, QWidget* parent)
    : QWidget(parent), m_line(line), m_buffer(std::make_unique<Buffer>())
{
    setObjectName("chLattice");
    m_plot = new QCustomPlot(this);
    m_plot->setObjectName("chLatticePlot");
    m_plot->setBackground(Qt::white);
    m_plot->legend->setVisible(false);

    m_title = new QCPTextElement(m_plot, "", arial(11, true));
    m_title->setTextColor(kNavy);
    m_plot->plotLayout()->insertRow(0);
    m_plot->plotLayout()->addElement(0, 0, m_title);
    m_foot = new QCPTextElement(m_plot, "", arial(9));
    m_foot->setTextColor(kMaroon);
    m_plot->plotLayout()->addElement(2, 0, m_foot);
    setFootLines({"beta_x (red);   beta_y (green); 10 x dispersion (blue)"});

    for (QCPAxis* axis : {m_plot->xAxis, m_plot->yAxis}) {
        axis->setLabelFont(arial(9));
        axis->setLabelColor(kNavy);
        axis->setTickLabelFont(arial(8));
        axis->setTickLabelColor(Qt::black);
    }
    m_plot->xAxis->setLabel("z-axis (m)");
    m_plot->xAxis->setRange(0, 20);
    m_plot->yAxis->setLabel("beta_x, y  (m);  eta*10  (m)");
    m_plot->yAxis->setRange(-80, 60);
    m_plot->yAxis2->setLabel("closed orbit x, y  (mm)");
    m_plot->yAxis2->setLabelFont(arial(9));
    m_plot->yAxis2->setLabelColor(kOrbitColours[0]);
    m_plot->yAxis2->setTickLabelFont(arial(8));
    m_plot->yAxis2->setVisible(false);

    // the drawing lies under the curves on a layer of its own, and the curves on theirs, so that a
    // tuning step repaints the curves alone; both on top of the others (which share one paint buffer),
    // above "main", whose axis rect would take any click
    m_plot->layer("overlay")->setMode(QCPLayer::lmLogical); // nothing is drawn there: no buffer of its own
    m_plot->addLayer("shapes", m_plot->layer("overlay"), QCustomPlot::limAbove);
    m_plot->addLayer(kCurveLayer, m_plot->layer("shapes"), QCustomPlot::limAbove);
    m_plot->layer("shapes")->setMode(QCPLayer::lmBuffered);
    m_plot->layer(kCurveLayer)->setMode(QCPLayer::lmBuffered);
    m_shapes = new MagShapePlottable(m_line, m_plot->xAxis, m_plot->yAxis);
    m_shapes->setLayer("shapes");
    m_buffer->clear();

    connect(m_plot, &QCustomPlot::beforeReplot, this, &LatticeChart::showColumns);
    connect(m_plot, &QCustomPlot::mouseWheel, this, &LatticeChart::onWheel);
    connect(m_plot, &QCustomPlot::mousePress, this, &LatticeChart::onPress);
    connect(m_plot, &QCustomPlot::mouseMove, this, &LatticeChart::onMove);
    connect(m_plot, &QCustomPlot::mouseRelease, this, [this] { m_drag.pressed = false; });
    connect(m_plot, &QCustomPlot::mouseDoubleClick, this, &LatticeChart::onDoubleClick);
    connect(m_plot, &QCustomPlot::plottableClick, this,
            [this](QCPAbstractPlottable* plottable, int dataIndex, QMouseEvent*) {
                onPlottableClick(plottable, dataIndex);
            });

    m_dispersionButton = new QPushButton(kHideDispersion, m_plot);
    m_dispersionButton->setObjectName("btDispersion");
    m_dispersionButton->setFont(arial(8));
    connect(m_dispersionButton, &QPushButton::clicked, this, &LatticeChart::toggleDispersion);
    placeButton();
}

LatticeChart::~LatticeChart() = default;

void LatticeChart::prepareSeries(const QString& kind)
{
    if (!seriesCreated()) {
        for (std::size_t n = 0; n < m_graphs.size(); ++n) {
            m_graphs[n] = m_plot->addGraph(m_plot->xAxis, m_plot->yAxis);
            m_graphs[n]->setLayer(kCurveLayer);
            m_graphs[n]->setPen(QPen(kSeriesColours[n], 1));
            // showColumns hands the graphs what the pixels can show, extremes kept
            m_graphs[n]->setAdaptiveSampling(false);
        }
        m_dispersionButton->setText(kHideDispersion);
    }
    for (QCPGraph* graph : m_graphs) {
        graph->setName(kind);
        graph->data()->clear();
    }
    m_valueSpans.fill(std::nullopt);
    m_buffer->clear();
    m_buffer->clearShown();
}

void LatticeChart::removeSeries()
{
    for (QCPGraph*& graph : m_graphs) {
        if (graph)
            m_plot->removeGraph(graph);
        graph = nullptr;
    }
    m_valueSpans.fill(std::nullopt);
    m_buffer->clear();
    m_buffer->clearShown();
}

QString LatticeChart::seriesTitle(int series) const
{
    return seriesCreated() ? m_graphs.at(static_cast<std::size_t>(series - 1))->name() : QString();
}

int LatticeChart::pointCount(int series) const
{
    return seriesCreated()
               ? static_cast<int>(m_buffer->shownValues.at(static_cast<std::size_t>(series - 1)).size())
               : 0;
}

std::optional<double> LatticeChart::seriesMax(int series) const
{
    const std::optional<Span>& span = m_valueSpans.at(static_cast<std::size_t>(series - 1));
    return seriesCreated() && span ? std::optional<double>(span->upper) : std::nullopt;
}

std::optional<double> LatticeChart::seriesMin(int series) const
{
    const std::optional<Span>& span = m_valueSpans.at(static_cast<std::size_t>(series - 1));
    return seriesCreated() && span ? std::optional<double>(span->lower) : std::nullopt;
}

PlotSink& LatticeChart::sink(const RunSettings& run)
{
    m_buffer->run = &run;
    return *m_buffer;
}

void LatticeChart::commitPoints()
{
    if (!seriesCreated())
        return;
    for (std::size_t n = 0; n < m_graphs.size(); ++n) {
        const bool found = m_buffer->lower[n] <= m_buffer->upper[n];
        m_valueSpans[n] =
            found ? std::optional<Span>(Span{m_buffer->lower[n], m_buffer->upper[n]}) : std::nullopt;
    }
    m_buffer->commit();
    if (!orbitShown())
        return;
    // the orbit has a point per element end: every one is drawn, on a range symmetric about the axis
    double largest = 0;
    for (std::size_t n = 0; n < m_orbitGraphs.size(); ++n) {
        const std::vector<double>& values = m_buffer->shownOrbit[n];
        QVector<QCPGraphData> points;
        points.reserve(static_cast<int>(values.size()));
        for (std::size_t k = 0; k < values.size() && k < m_buffer->shownKeys.size(); ++k) {
            points.append(QCPGraphData(m_buffer->shownKeys[k], values[k]));
            if (std::isfinite(values[k]))
                largest = std::max(largest, std::fabs(values[k]));
        }
        m_orbitGraphs[n]->data()->set(points, true);
    }
    const double half = largest > 0 ? 1.2 * largest : 1.0;
    m_plot->yAxis2->setRange(-half, half);
}

void LatticeChart::setOrbitShown(bool shown)
{
    m_buffer->orbit = shown;
    if (shown && !m_orbitGraphs[0]) {
        const char* const names[2] = {"orbit x", "orbit y"};
        for (std::size_t n = 0; n < m_orbitGraphs.size(); ++n) {
            m_orbitGraphs[n] = m_plot->addGraph(m_plot->xAxis, m_plot->yAxis2);
            m_orbitGraphs[n]->setLayer(kCurveLayer);
            m_orbitGraphs[n]->setPen(QPen(kOrbitColours[n], 1.5, Qt::DashLine));
            m_orbitGraphs[n]->setName(names[n]);
        }
    }
    if (!shown && m_orbitGraphs[0]) {
        for (QCPGraph*& graph : m_orbitGraphs) {
            m_plot->removeGraph(graph);
            graph = nullptr;
        }
        for (std::vector<double>& curve : m_buffer->shownOrbit)
            curve.clear();
    }
    m_plot->yAxis2->setVisible(shown);
}

bool LatticeChart::orbitShown() const
{
    return m_orbitGraphs[0] != nullptr;
}

int LatticeChart::orbitPointCount(int curve) const
{
    return orbitShown() ? m_orbitGraphs.at(static_cast<std::size_t>(curve - 1))->dataCount() : 0;
}

std::optional<double> LatticeChart::orbitMax(int curve) const
{
    if (!orbitShown())
        return std::nullopt;
    std::optional<double> largest;
    for (const double v : m_buffer->shownOrbit.at(static_cast<std::size_t>(curve - 1)))
        if (std::isfinite(v))
            largest = std::max(largest.value_or(0.0), std::fabs(v));
    return largest;
}

void LatticeChart::showColumns()
{
    if (!seriesCreated())
        return;
    const int columns = std::max(1, m_plot->axisRect()->width());
    const Columns now{m_plot->xAxis->range().lower, m_plot->xAxis->range().upper, columns,
                      m_buffer->revision};
    if (now == m_columns)
        return;
    m_columns = now;
    std::vector<const std::vector<double>*> curves;
    for (std::size_t n = 0; n < m_graphs.size(); ++n)
        curves.push_back(&m_buffer->shownValues.at(n));
    std::vector<std::vector<std::size_t>> kept;
    columnPoints(m_buffer->shownKeys, curves, now.lower, now.upper, columns, kept);
    for (std::size_t n = 0; n < m_graphs.size(); ++n) {
        const std::vector<double>& values = *curves[n];
        QVector<QCPGraphData> points;
        points.reserve(static_cast<int>(kept[n].size()));
        for (std::size_t k : kept[n])
            points.append(QCPGraphData(m_buffer->shownKeys[k], values[k]));
        // a curve of several points per pixel column shows no smoothing, and smoothing is the slowest
        // part of its redraw: smooth only curves that have the room for it
        m_graphs[n]->setAntialiased(points.size() <= kSmoothPointsPerPixel * columns);
        m_graphs[n]->data()->set(points, true);
    }
}

void LatticeChart::fitLeftAxis(State& state)
{
    SeriesRange ranges[3];
    for (int n = 0; n < 3; ++n) {
        const std::optional<double> lower = seriesMin(n + 1);
        const std::optional<double> upper = seriesMax(n + 1);
        if (lower && upper)
            ranges[n] = SeriesRange{*lower, *upper, false};
    }
    if (const std::optional<AxisRange> axis =
            scaleGraph(state, curveRange(ranges[0], ranges[1], ranges[2]))) {
        setLeftRange(axis->min, axis->max);
        setDrawingOffset(axis->drawingOffset);
    }
}

void LatticeChart::setDrawingOffset(double offset)
{
    m_shapes->setOffset(offset);
}

double LatticeChart::drawingOffset() const
{
    return m_shapes->offset();
}

void LatticeChart::setTitleLines(const QStringList& lines)
{
    m_titleLines = lines;
    m_title->setText(lines.join('\n'));
}

void LatticeChart::setFootLines(const QStringList& lines)
{
    m_footLines = lines;
    m_foot->setText(lines.join('\n'));
}

QString LatticeChart::leftAxisTitle() const
{
    return m_plot->yAxis->label();
}

void LatticeChart::setLeftAxisTitle(const QString& text)
{
    m_plot->yAxis->setLabel(text);
}

QString LatticeChart::bottomAxisTitle() const
{
    return m_plot->xAxis->label();
}

void LatticeChart::setBottomAxisTitle(const QString& text)
{
    m_plot->xAxis->setLabel(text);
}

void LatticeChart::setLeftRange(double lower, double upper)
{
    m_plot->yAxis->setRange(lower, upper);
}

double LatticeChart::leftLower() const
{
    return m_plot->yAxis->range().lower;
}

double LatticeChart::leftUpper() const
{
    return m_plot->yAxis->range().upper;
}

void LatticeChart::setBottomMax(double upper)
{
    const bool wasZoomed = zoomed();
    m_full = KeyRange{0, upper};
    showRange(wasZoomed ? keptInside(shownRange(), m_full) : m_full);
}

double LatticeChart::bottomUpper() const
{
    return m_plot->xAxis->range().upper;
}

double LatticeChart::bottomLower() const
{
    return m_plot->xAxis->range().lower;
}

KeyRange LatticeChart::shownRange() const
{
    return KeyRange{m_plot->xAxis->range().lower, m_plot->xAxis->range().upper};
}

bool LatticeChart::zoomed() const
{
    const KeyRange shown = shownRange();
    return shown.lower != m_full.lower || shown.upper != m_full.upper;
}

void LatticeChart::showRange(const KeyRange& range)
{
    m_plot->xAxis->setRange(range.lower, range.upper);
}

void LatticeChart::zoomAt(double s, double factor)
{
    showRange(zoomedRange(shownRange(), m_full, s, factor));
    refresh();
}

void LatticeChart::panBy(double ds)
{
    showRange(pannedRange(shownRange(), m_full, ds));
    refresh();
}

void LatticeChart::showFullLine()
{
    resetZoom();
    refresh();
}

void LatticeChart::resetZoom()
{
    showRange(m_full);
}

void LatticeChart::onWheel(QWheelEvent* event)
{
    const QPointF pos = event->position();
    if (!plotArea().contains(pos.toPoint()) || event->angleDelta().y() == 0)
        return;
    zoomAt(m_plot->xAxis->pixelToCoord(pos.x()), wheelZoomFactor(event->angleDelta().y()));
    event->accept();
}

void LatticeChart::onPress(QMouseEvent* event)
{
    m_drag = Drag{};
    if (event->button() != Qt::LeftButton || !plotArea().contains(event->pos()))
        return;
    m_drag.pressed = true;
    m_drag.start = event->pos();
    m_drag.range = shownRange();
}

void LatticeChart::onMove(QMouseEvent* event)
{
    if (!m_drag.pressed || !(event->buttons() & Qt::LeftButton))
        return;
    const QPoint moved = event->pos() - m_drag.start;
    // the plot takes a press and release within 3 pixels for a click: a drag starts beyond that
    if (!m_drag.panning && moved.manhattanLength() <= 3)
        return;
    m_drag.panning = true;
    const double metresPerPixel = m_drag.range.width() / std::max(1, plotArea().width());
    showRange(pannedRange(m_drag.range, m_full, -moved.x() * metresPerPixel));
    m_plot->replot(QCustomPlot::rpQueuedReplot);
}

void LatticeChart::onDoubleClick(QMouseEvent* event)
{
    m_drag = Drag{};
    // a double click on a shape is the click that selects it, not a wish to see the whole line
    if (event->button() == Qt::LeftButton && plotArea().contains(event->pos()) &&
        m_shapes->elementAt(event->pos()) == 0)
        showFullLine();
}

void LatticeChart::toggleDispersion()
{
    if (!seriesCreated())
        return;
    const bool show = !m_graphs[2]->visible();
    m_graphs[2]->setVisible(show);
    m_dispersionButton->setText(show ? kHideDispersion : kShowDispersion);
    refresh();
}

bool LatticeChart::dispersionShown() const
{
    return seriesCreated() && m_graphs[2]->visible();
}

QRect LatticeChart::plotArea() const
{
    return m_plot->axisRect()->rect();
}

QPoint LatticeChart::shapeCentre(int i) const
{
    return m_shapes->shapeCentre(i).toPoint();
}

void LatticeChart::refresh()
{
    m_plot->replot();
    m_drawn = drawnNow();
}

void LatticeChart::refreshCurves()
{
    if (!(drawnNow() == m_drawn)) {
        refresh();
        return;
    }
    showColumns();
    m_plot->layer(kCurveLayer)->replot();
}

LatticeChart::Drawn LatticeChart::drawnNow() const
{
    return Drawn{m_plot->xAxis->range().lower,
                 m_plot->xAxis->range().upper,
                 m_plot->yAxis->range().lower,
                 m_plot->yAxis->range().upper,
                 m_plot->size(),
                 m_title->text() + '\n' + m_foot->text() + '\n' + m_plot->xAxis->label() + '\n' +
                     m_plot->yAxis->label() + '\n' +
                     (m_plot->yAxis2->visible() ? QString("%1 %2")
                                                      .arg(m_plot->yAxis2->range().lower, 0, 'g', 17)
                                                      .arg(m_plot->yAxis2->range().upper, 0, 'g', 17)
                                                : QString())};
}

void LatticeChart::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    m_plot->setGeometry(rect());
    placeButton();
}

void LatticeChart::placeButton()
{
    m_dispersionButton->adjustSize();
    m_dispersionButton->move(4, m_plot->height() - m_dispersionButton->height() - 2);
}

void LatticeChart::onPlottableClick(QCPAbstractPlottable* plottable, int dataIndex)
{
    if (plottable == m_shapes) {
        if (dataIndex < 1 || dataIndex > m_line.count)
            return;
        const std::string& title = m_line.shape(dataIndex).title;
        emit seriesClicked(title.empty() ? QString::number(dataIndex) : QString::fromStdString(title));
        return;
    }
    emit seriesClicked(plottable->name());
}

} // namespace kestrune
