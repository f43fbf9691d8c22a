#pragma once

#include "core/Messages.h"
#include "core/rf/ChartLimits.h"
#include "core/rf/PhaseSpace.h"

#include <QFrame>
#include <QPen>
#include <QString>
#include <functional>

class QCPAxis;
class QCPTextElement;
class QCustomPlot;
class QGroupBox;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace kestrune {

/// The chart panel `ChartPnl` of the rf window: the chart `chRF` with title and foot, the linear or
/// logarithmic switches of both axes and the manual axis limits.
class RfChartPanel : public QFrame
{
    Q_OBJECT
public:
    /// Settings of one axis of a graph.
    struct AxisSetup
    {
        QString title;
        QString mask;    // label mask
        double step = 0; // tick increment; 0 for automatic ticks
        double min = 0;  // range, used when max > min
        double max = 0;
    };

    RfChartPanel(Messages& messages, QWidget* parent = nullptr);

    QCustomPlot* plot() const { return m_plot; }

    /// Removes every series; the graphs replace each other.
    void removeSeries();
    /// Number of series on the chart.
    int seriesCount() const;
    /// Adds a series that keeps the order of its points (closed and turning curves).
    void addCurve(const GraphCurve& curve, const QPen& pen);

    void setTitle(const QString& text);
    QString title() const;
    void setFoot(const QString& text);
    QString foot() const;
    void setBottomAxis(const AxisSetup& setup);
    void setLeftAxis(const AxisSetup& setup);
    /// The left axis' title and mask only (the energy scan sets them after its points).
    void setLeftTitle(const QString& title, const QString& mask);

    /// `GetChartLimits`: both axes scale to the series (keeping their increments), the limit boxes show
    /// the proposed limits and the increments of the axes.
    void getChartLimits(const ProposedLimits& proposed);
    /// `bbUpdteClick`: the typed limits and increments become the axes' fixed scales (see manualAxis).
    void bbUpdteClick();
    /// `rgXaxisClick` / `rgYaxisClick`: the bottom / left axis is logarithmic when "logarithmic" is chosen;
    /// its increment box shows the new increment (a factor on a logarithmic axis).
    void rgXaxisClick();
    void rgYaxisClick();

    /// Redraws at once.
    void refresh();

private:
    struct AxisState
    {
        QString mask = "##0.###";
        double step = 0;
        bool logarithmic = false;
    };

    QGroupBox* buildScaleGroup(const QString& objectName, const QString& title, QRadioButton*& logButton);
    QGroupBox* buildLimitsGroup();
    void applyTicker(QCPAxis* axis, const AxisState& state);
    void setAxis(QCPAxis* axis, AxisState& state, const AxisSetup& setup);
    void rescale(QCPAxis* axis);
    double shownStep(QCPAxis* axis) const;

    Messages& m_messages;
    QCustomPlot* m_plot = nullptr;
    QCPTextElement* m_title = nullptr;
    QCPTextElement* m_foot = nullptr;
    AxisState m_bottom;
    AxisState m_left;
    QRadioButton* m_xLog = nullptr;
    QRadioButton* m_yLog = nullptr;
    QLineEdit* m_edxmin = nullptr;
    QLineEdit* m_edxmax = nullptr;
    QLineEdit* m_edymin = nullptr;
    QLineEdit* m_edymax = nullptr;
    QLineEdit* m_edDx = nullptr;
    QLineEdit* m_edDy = nullptr;
    QPushButton* m_bbUpdte = nullptr;
};

} // namespace kestrune
