#pragma once

#include <QString>
#include <QWidget>
#include <optional>
#include <vector>

class QCustomPlot;
class QCPTextElement;

namespace kestrune {

/// The chart `chVacuum`: the pressure profile along one period as one maroon line series, with title,
/// foot, axis titles and label masks.
class VacuumChart : public QWidget
{
    Q_OBJECT
public:
    explicit VacuumChart(QWidget* parent = nullptr);

    QCustomPlot* plot() const { return m_plot; }

    /// Removes every series, sets the titles and plots the points (s in m, pressure in nTorr).
    void showProfile(const std::vector<double>& s, const std::vector<double>& pressureNTorr);
    /// Removes every series.
    void removeSeries();

    int seriesCount() const;
    /// Points of the profile series (0 without one).
    int pointCount() const;
    /// Smallest and largest pressure plotted (nTorr); nothing without points.
    std::optional<double> seriesMin() const;
    std::optional<double> seriesMax() const;

    QString title() const;
    QString footText() const;
    QString leftAxisTitle() const;
    QString bottomAxisTitle() const;
    /// The texts the axes write at their ticks.
    QString leftTickLabel(double value) const;
    QString bottomTickLabel(double value) const;

private:
    QCustomPlot* m_plot = nullptr;
    QCPTextElement* m_title = nullptr;
    QCPTextElement* m_foot = nullptr;
};

} // namespace kestrune
