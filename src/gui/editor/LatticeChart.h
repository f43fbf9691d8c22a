#pragma once

#include "core/BeamLine.h"
#include "core/editor/AxisZoom.h"
#include "core/optics/Samples.h"

#include <QString>
#include <QStringList>
#include <QVector>
#include <QWidget>
#include <array>
#include <memory>
#include <optional>

class QCPAbstractPlottable;
class QCustomPlot;
class QCPGraph;
class QCPTextElement;
class QMouseEvent;
class QWheelEvent;
class QPushButton;

namespace kestrune {

class MagShapePlottable;

/// The chart `chLattice`: three curve series over a drawing of the lattice, with title, foot, axis
/// titles and the dispersion toggle `Button2` at its lower left.
class LatticeChart : public QWidget
{
    Q_OBJECT
public:
    /// Curve series titles, one per plot kind.
    static constexpr const char* kBeta = "beta";
    static constexpr const char* kBeam = "beam";
    static constexpr const char* kTraj = "traj";
    static constexpr const char* kPath = "path";

    LatticeChart(const BeamLine& line, QWidget* parent = nullptr);
    ~LatticeChart() override;

    QCustomPlot* plot() const { return m_plot; }
    MagShapePlottable* shapes() const { return m_shapes; }

    /// True once the three curve series exist.
    bool seriesCreated() const { return m_graphs[0] != nullptr; }
    /// Creates the three curve series, or retitles them, with the given kind; removes their points.
    void prepareSeries(const QString& kind);
    /// Removes the three curve series; the next prepareSeries makes new ones.
    void removeSeries();
    /// Title of curve series 1..3 ("" when they do not exist).
    QString seriesTitle(int series) const;
    /// Number of points of curve series 1..3 the last pass gave (the graphs hold those the pixels show).
    int pointCount(int series) const;
    /// Largest / smallest value of curve series 1..3; nothing when it has no points.
    std::optional<double> seriesMax(int series) const;
    std::optional<double> seriesMin(int series) const;

    /// Collects the points of a pass; commitPoints hands them to the series in one go.
    PlotSink& sink(const RunSettings& run);
    void commitPoints();

    /// The closed orbit's two curves (x, y in mm, from the trajectory's places of the points) on the right
    /// axis, from the next pass on; off, they and the right axis are hidden.
    void setOrbitShown(bool shown);
    bool orbitShown() const;
    /// Number of points of the orbit's curve 1 (x) or 2 (y) the last pass gave (0 when not shown).
    int orbitPointCount(int curve) const;
    /// Largest magnitude of the orbit's curve 1 (x) or 2 (y), mm; nothing when it has no points.
    std::optional<double> orbitMax(int curve) const;

    /// Scales the left axis to the curves shown and places the lattice drawing below them as the
    /// design's chart settings say.
    void fitLeftAxis(State& state);
    /// Shows the lattice drawing offset (left-axis units) below the shapes' own extents.
    void setDrawingOffset(double offset);
    double drawingOffset() const;

    QStringList titleLines() const { return m_titleLines; }
    void setTitleLines(const QStringList& lines);
    QStringList footLines() const { return m_footLines; }
    void setFootLines(const QStringList& lines);
    QString leftAxisTitle() const;
    void setLeftAxisTitle(const QString& text);
    QString bottomAxisTitle() const;
    void setBottomAxisTitle(const QString& text);

    /// Left (value) axis range.
    void setLeftRange(double lower, double upper);
    double leftLower() const;
    double leftUpper() const;
    /// Bottom axis: the whole line is 0 … upper. Shown whole unless zoomed; a zoomed view keeps its
    /// width and is moved inside the new range where it would leave it.
    void setBottomMax(double upper);
    double bottomUpper() const;
    double bottomLower() const;

    /// Zoom and pan along s: the mouse wheel zooms about the pointer, a drag pans, a double click
    /// away from the shapes shows the whole line. Each step changes the bottom axis and redraws; the
    /// curves are not computed again.
    KeyRange shownRange() const;
    KeyRange fullRange() const { return m_full; }
    bool zoomed() const;
    /// Scales the shown width by factor about s (m), which keeps its place.
    void zoomAt(double s, double factor);
    /// Moves the shown range by ds (m).
    void panBy(double ds);
    /// Shows the whole line and redraws.
    void showFullLine();
    /// Shows the whole line from the next redraw on (the window's reset).
    void resetZoom();

    /// The dispersion button: hides or shows series 3; does nothing before the series exist.
    void toggleDispersion();
    bool dispersionShown() const;
    QPushButton* dispersionButton() const { return m_dispersionButton; }

    /// The plot area (axis rectangle) in chart pixels.
    QRect plotArea() const;
    /// Pixel position (in the chart widget) of the centre of element i's shape.
    QPoint shapeCentre(int i) const;
    /// Redraws at once.
    void refresh();
    /// Redraws after the curves changed and nothing else: only the curve layer when the axes, the
    /// texts and the size are those of the last redraw, else everything (the lattice drawing then
    /// comes from its picture when its shapes did not move).
    void refreshCurves();

signals:
    /// A click on a series: its title (a curve kind, or the element index of a shape).
    void seriesClicked(const QString& title);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    class Buffer;

    void placeButton();
    /// Hands the graphs the points of the shown range that its pixel columns can show (first, lowest,
    /// highest and last of each column), when range, width or points changed since the last time.
    void showColumns();
    void onPlottableClick(QCPAbstractPlottable* plottable, int dataIndex);
    void showRange(const KeyRange& range);
    void onWheel(QWheelEvent* event);
    void onPress(QMouseEvent* event);
    void onMove(QMouseEvent* event);
    void onDoubleClick(QMouseEvent* event);

    const BeamLine& m_line;
    QCustomPlot* m_plot = nullptr;
    QCPTextElement* m_title = nullptr;
    QCPTextElement* m_foot = nullptr;
    MagShapePlottable* m_shapes = nullptr;
    std::array<QCPGraph*, 3> m_graphs{};
    std::array<QCPGraph*, 2> m_orbitGraphs{}; // x and y of the closed orbit, on the right axis
    QPushButton* m_dispersionButton = nullptr;
    QStringList m_titleLines;
    QStringList m_footLines;
    std::unique_ptr<Buffer> m_buffer;
    KeyRange m_full{0, 20}; // the whole line on the bottom axis
    // a drag along s: where it started, the range shown then, and whether it has moved far enough to
    // be a drag rather than a click
    struct Drag
    {
        bool pressed = false;
        bool panning = false;
        QPoint start;
        KeyRange range;
    } m_drag;
    /// Smallest and largest value of a series.
    struct Span
    {
        double lower = 0;
        double upper = 0;
    };
    std::array<std::optional<Span>, 3> m_valueSpans; // of each curve series, kept as its points come

    /// What a full redraw shows besides the curves and the drawing: axis ranges, size and texts.
    struct Drawn
    {
        double keyLower = 0, keyUpper = 0, valueLower = 0, valueUpper = 0;
        QSize size;
        QString texts;
        bool operator==(const Drawn& o) const
        {
            return keyLower == o.keyLower && keyUpper == o.keyUpper && valueLower == o.valueLower &&
                   valueUpper == o.valueUpper && size == o.size && texts == o.texts;
        }
    };
    Drawn drawnNow() const;
    /// What the graphs' points were reduced for.
    struct Columns
    {
        double lower = 0, upper = 0;
        int columns = 0;
        unsigned long revision = 0;
        bool operator==(const Columns& o) const
        {
            return lower == o.lower && upper == o.upper && columns == o.columns && revision == o.revision;
        }
    };
    Columns m_columns{0, 0, 0, ~0UL};
    Drawn m_drawn; // as the last full redraw showed it
};

} // namespace kestrune
