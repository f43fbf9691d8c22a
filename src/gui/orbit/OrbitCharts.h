#pragma once

#include "core/BeamLine.h"
#include "core/orbit/ClosedOrbit.h"
#include "core/orbit/OrbitCorrection.h"

#include <QColor>
#include <QString>
#include <QWidget>
#include <vector>

class QCustomPlot;
class QCPBars;
class QCPGraph;
class QCPTextElement;

namespace kestrune {

class MagShapePlottable;

/// The chart `chClosedOrbit`: the closed orbit x and y (mm) along the cell above the lattice drawing, the
/// orbit before a correction thin and the corrected one thick.
class ClosedOrbitChart : public QWidget
{
    Q_OBJECT
public:
    ClosedOrbitChart(const BeamLine& line, QWidget* parent = nullptr);

    QCustomPlot* plot() const { return m_plot; }

    /// The orbit before and after a correction; an orbit not found is left out (title says why).
    void showOrbits(const ClosedOrbit* before, const ClosedOrbit* after, const QString& title);

    /// Points of the curves shown: before, after (x and y alike).
    int pointsBefore() const;
    int pointsAfter() const;
    QString title() const;

private:
    void fill(QCPGraph* x, QCPGraph* y, const ClosedOrbit* orbit, double& largest);

    QCustomPlot* m_plot = nullptr;
    QCPTextElement* m_title = nullptr;
    QCPGraph* m_xBefore = nullptr;
    QCPGraph* m_yBefore = nullptr;
    QCPGraph* m_xAfter = nullptr;
    QCPGraph* m_yAfter = nullptr;
    MagShapePlottable* m_shapes = nullptr;
    const BeamLine& m_line;
};

/// The charts of a correction: `chKicks`, the kick of every kicker plane (mrad) as bars in line order,
/// capped ones marked; `chSingularValues`, the response's singular values on a log scale, those used
/// filled.
class CorrectionCharts : public QWidget
{
    Q_OBJECT
public:
    explicit CorrectionCharts(QWidget* parent = nullptr);

    QCustomPlot* kicksPlot() const { return m_kicks; }
    QCustomPlot* singularValuesPlot() const { return m_values; }

    void showCorrection(const OrbitCorrection& correction);
    void clear();

    int kickBars() const;
    int singularValues() const;

private:
    QCustomPlot* m_kicks = nullptr;
    QCustomPlot* m_values = nullptr;
    QCPBars* m_xBars = nullptr;
    QCPBars* m_yBars = nullptr;
    QCPBars* m_cappedBars = nullptr;
    QCPGraph* m_used = nullptr;
    QCPGraph* m_unused = nullptr;
};

/// A histogram of one quantity over the seeds of a study.
class SeedHistogram : public QWidget
{
    Q_OBJECT
public:
    SeedHistogram(const char* objectName, const QColor& colour, QWidget* parent = nullptr);

    QCustomPlot* plot() const { return m_plot; }

    /// Values in the units of label; values that are not finite are left out.
    void showValues(const std::vector<double>& values, const QString& title, const QString& label);
    /// The seeds counted in the bars.
    int counted() const;

private:
    QCustomPlot* m_plot = nullptr;
    QCPTextElement* m_title = nullptr;
    QCPBars* m_bars = nullptr;
};

} // namespace kestrune
