#pragma once

#include <QColor>
#include <QFont>
#include <QString>

class QCustomPlot;
class QCPTextElement;

namespace kestrune {

/// The colours of the charts' texts: navy titles and axis titles, maroon foot lines.
inline const QColor kChartNavy(0, 0, 128);
inline const QColor kChartMaroon(128, 0, 0);

/// Arial at pointSize, the charts' font.
QFont chartFont(int pointSize, bool bold = false);

/// The chart's title, in a row of its own above the axes (Arial 11 bold, navy).
QCPTextElement* addChartTitle(QCustomPlot* plot, const QString& text);
/// The chart's foot line below the axes (Arial 9, maroon); after addChartTitle.
QCPTextElement* addChartFoot(QCustomPlot* plot, const QString& text);
/// Axis titles in Arial 9 navy and tick labels in Arial 8 on the bottom and left axes.
void styleChartAxes(QCustomPlot* plot);

} // namespace kestrune
