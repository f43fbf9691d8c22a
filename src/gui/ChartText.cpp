#include "gui/ChartText.h"

#include <QVBoxLayout>
#include <qcustomplot.h>

namespace kestrune {

QFont chartFont(int pointSize, bool bold)
{
    QFont font("Arial", pointSize);
    font.setBold(bold);
    return font;
}

QCPTextElement* addChartTitle(QCustomPlot* plot, const QString& text)
{
    auto* title = new QCPTextElement(plot, text, chartFont(11, true));
    title->setTextColor(kChartNavy);
    plot->plotLayout()->insertRow(0);
    plot->plotLayout()->addElement(0, 0, title);
    return title;
}

QCPTextElement* addChartFoot(QCustomPlot* plot, const QString& text)
{
    auto* foot = new QCPTextElement(plot, text, chartFont(9));
    foot->setTextColor(kChartMaroon);
    plot->plotLayout()->addElement(plot->plotLayout()->rowCount(), 0, foot);
    return foot;
}

void styleChartAxes(QCustomPlot* plot)
{
    for (QCPAxis* axis : {plot->xAxis, plot->yAxis}) {
        axis->setLabelFont(chartFont(9));
        axis->setLabelColor(kChartNavy);
        axis->setTickLabelFont(chartFont(8));
    }
}

QCustomPlot* addChart(QWidget* owner, QBoxLayout* layout, const char* name, int stretch)
{
    auto* plot = new QCustomPlot(owner);
    plot->setObjectName(name);
    plot->setBackground(Qt::white);
    styleChartAxes(plot);
    layout->addWidget(plot, stretch);
    return plot;
}

QBoxLayout* bareChartLayout(QWidget* owner)
{
    auto* layout = new QVBoxLayout(owner);
    layout->setContentsMargins(0, 0, 0, 0);
    return layout;
}

void legendBelow(QCustomPlot* plot)
{
    QCPLegend* legend = plot->legend;
    legend->setVisible(true);
    legend->setFont(chartFont(8));
    legend->setBorderPen(Qt::NoPen);
    legend->setFillOrder(QCPLegend::foColumnsFirst);
    plot->axisRect()->insetLayout()->take(legend);
    const int row = plot->plotLayout()->rowCount();
    plot->plotLayout()->addElement(row, 0, legend);
    plot->plotLayout()->setRowStretchFactor(row, 0.001);
}

} // namespace kestrune
