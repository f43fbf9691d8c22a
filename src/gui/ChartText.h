#pragma once

#include <QColor>
#include <QFont>
#include <QString>

class QBoxLayout;
class QCustomPlot;
class QWidget;
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

/// A chart of owner named name, white with styled axes, added to layout with stretch.
QCustomPlot* addChart(QWidget* owner, QBoxLayout* layout, const char* name, int stretch = 0);
/// A vertical layout of owner without margins, for the charts that fill it.
QBoxLayout* bareChartLayout(QWidget* owner);
/// The legend in one row below the axes, where it hides no curve (Arial 8, no border).
void legendBelow(QCustomPlot* plot);

} // namespace kestrune
