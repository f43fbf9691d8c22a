#pragma once

#include "core/BeamLine.h"

#include <QString>
#include <QWidget>
#include <vector>

class QCustomPlot;
class QCPCurve;
class QCPGraph;
class QCPTextElement;

namespace kestrune {

class MagShapePlottable;

/// The chart `chDynamicAperture`: the dynamic aperture at the ring's start in the x-y plane (mm) - the
/// boundary through the ray ends with its mirror image below the midplane, or the survivors of a grid -
/// beside the physical aperture there and its image through the linear optics.
class DynamicApertureChart : public QWidget
{
    Q_OBJECT
public:
    explicit DynamicApertureChart(QWidget* parent = nullptr);

    QCustomPlot* plot() const { return m_plot; }

    /// The chamber's half widths at the start and the linear limit (mm); the limit is left out when NaN.
    void showApertures(double apertureX, double apertureY, double linearX, double linearY);
    /// The boundary through the ray ends (mm); rays without a radius are left out.
    void showBoundary(const std::vector<double>& xMm, const std::vector<double>& yMm, const QString& title);
    /// The grid's start points (mm): survivors and lost ones; points not computed are left out.
    void showGrid(const std::vector<double>& xMm, const std::vector<double>& yMm,
                  const std::vector<int>& turns, const std::vector<bool>& lost, const QString& title);

    int boundaryPoints() const;
    int survivorPoints() const;
    QString title() const;

private:
    void fitAxes();
    /// The legend names the boundary, or the grid's survivors and lost points.
    void showInLegend(bool boundary);

    QCustomPlot* m_plot = nullptr;
    QCPTextElement* m_title = nullptr;
    QCPCurve* m_boundary = nullptr;
    QCPCurve* m_mirror = nullptr;
    QCPCurve* m_chamber = nullptr;
    QCPCurve* m_linear = nullptr;
    QCPGraph* m_survivors = nullptr;
    QCPGraph* m_lost = nullptr;
};

/// The chart `chAcceptance`: the local momentum acceptance delta+ and delta- (%) along one period above
/// the lattice drawing, with the rf acceptance as a line on either side.
class AcceptanceChart : public QWidget
{
    Q_OBJECT
public:
    AcceptanceChart(const BeamLine& line, QWidget* parent = nullptr);

    QCustomPlot* plot() const { return m_plot; }

    /// Points at s (m) holding their value up to the next one and to the period's end; NaN values are
    /// left out.
    void showAcceptance(const std::vector<double>& s, const std::vector<double>& plusPercent,
                        const std::vector<double>& minusPercent, double rfPercent, double period,
                        const QString& title);

    /// The points of delta+ drawn: the scan's computed points.
    int pointCount() const { return m_points; }
    QString title() const;

private:
    QCustomPlot* m_plot = nullptr;
    QCPTextElement* m_title = nullptr;
    QCPGraph* m_plus = nullptr;
    int m_points = 0;
    QCPGraph* m_minus = nullptr;
    QCPGraph* m_rfPlus = nullptr;
    QCPGraph* m_rfMinus = nullptr;
    MagShapePlottable* m_shapes = nullptr;
    const BeamLine& m_line;
};

} // namespace kestrune
