#pragma once

#include "core/tracking/LinearMapTracking.h"
#include "core/tracking/PhaseVector.h"

#include <QWidget>
#include <array>
#include <vector>

class QCustomPlot;
class QCPGraph;

namespace kestrune {

/// The chart `chTracking`: phase-space points of tracked particles, one point series whose points are
/// amber (x-x'), green (y-y'), teal (z-delta) or maroon (the corner points of a fixed scale).
class TrackingChart : public QWidget
{
    Q_OBJECT
public:
    enum class Colour { Amber = 0, Green = 1, Maroon = 2, Teal = 3 };

    explicit TrackingChart(QWidget* parent = nullptr);

    QCustomPlot* plot() const { return m_plot; }

    /// Adds one point per tracked turn: (x, x') in amber for the x plane, (y, y') in green for the y plane.
    void addPoints(const std::vector<PhasePoint>& points, PhasePlane plane);
    /// Adds one point per tracked turn in teal: the path-length difference l (mm) and the momentum
    /// deviation (1e-3); the axes are labelled for them until transverse points are added again.
    void addLongitudinalPoints(const std::vector<PhaseVector>& points);
    /// Fixes the axes to [xMin, xMax] and [yMin, yMax] and adds the four corner points in maroon.
    void useScale(double xMin, double xMax, double yMin, double yMax);
    /// Both axes follow the points again.
    void setAutomatic();
    bool automatic() const { return m_automatic; }
    /// Removes every point.
    void clear();

    int pointCount() const;
    int pointCount(Colour colour) const;
    double xLower() const;
    double xUpper() const;
    double yLower() const;
    double yUpper() const;

    /// Points as drawn shapes (for files and the printer) or as pictures (on the screen, much faster).
    void setVectorPoints(bool vector);

    /// Rescales automatic axes to the points and redraws at once.
    void refresh();

private:
    QCustomPlot* m_plot = nullptr;
    void labelAxes(bool longitudinal);

    std::array<QCPGraph*, 4> m_series{};
    bool m_automatic = true;
};

} // namespace kestrune
