#include "gui/ChartText.h"

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

} // namespace kestrune
