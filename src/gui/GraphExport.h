#pragma once

#include "core/Messages.h"
#include "core/State.h"

#include <QMarginsF>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <vector>

class QCustomPlot;
class QPrinter;
class QWidget;

namespace kestrune {

/// Asks for a file name; returns it, or an empty text when cancelled.
using SaveGraphHook = std::function<QString(QWidget* owner)>;

/// The file types the graph-save dialog offers, as name filters ("PNG image (*.png)"), the metafile first.
QStringList graphFileFilters();

/// The "save graph as metafile" dialog (the types of graphFileFilters, default extension "wmf"),
/// owned by the calling window and opened in startFolder (the working folder when empty); returns the
/// chosen file name, empty when cancelled.
QString saveGraphDialog(QWidget* owner, const QString& startFolder = QString());
/// Puts hook in the place of the dialog (tests); an empty hook brings the dialog back.
void setSaveGraphDialogHook(SaveGraphHook hook);

/// The chart, as drawn at its own size, as the bytes of a placeable Windows metafile.
std::vector<std::uint8_t> chartToWmf(QCustomPlot* plot);

/// Writes the chart at its own size to fileName by its extension: .svg, .pdf, .png, anything
/// else a Windows metafile. The file is written beside the target and renamed into place, so a
/// failure leaves an existing file as it was; failures are reported through messages with the
/// file name. Returns true when the file was written.
bool saveChart(QCustomPlot* plot, const QString& fileName, Messages& messages);

/// The metafile export of a chart window: asks with saveGraphDialog(owner), then saveChart.
/// False when cancelled or when the file could not be written.
bool exportChartDialog(QWidget* owner, QCustomPlot* plot, Messages& messages);
/// The same, with the dialog opened where the user saved last (state.lastSaveFolder, else the working
/// folder); a written file's folder becomes the last save folder.
bool exportChartDialog(QWidget* owner, QCustomPlot* plot, Messages& messages, State& state);

/// Prints the chart on one page, stretched into the page less the margins (per cent of the page
/// width for left and right, of its height for top and bottom). False when the printer failed.
bool printChart(QCustomPlot* plot, QPrinter& printer, const QMarginsF& marginsPercent);

} // namespace kestrune
