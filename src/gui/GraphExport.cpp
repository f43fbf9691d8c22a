#include "gui/GraphExport.h"

#include "core/io/Listing.h"
#include "core/io/SafeFile.h"
#include "gui/WmfPaintEngine.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QPrinter>
#include <QSvgGenerator>
#include <qcustomplot.h>

namespace kestrune {

namespace {

SaveGraphHook& saveGraphHook()
{
    static SaveGraphHook hook;
    return hook;
}

/// The extension a filter such as "PNG image (*.png)" names.
QString filterSuffix(const QString& filter)
{
    const qsizetype dot = filter.lastIndexOf("*.");
    return dot < 0 ? QString() : filter.mid(dot + 2).chopped(1);
}

QString askGraphFile(QWidget* owner, const QString& startFolder)
{
    QFileDialog dialog(owner, "save graph as metafile",
                       startFolder.isEmpty() ? QDir::currentPath() : startFolder);
    dialog.setNameFilters(graphFileFilters());
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix("wmf");
    // a name typed without an extension gets the one of the type chosen
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog,
                     [&dialog](const QString& filter) { dialog.setDefaultSuffix(filterSuffix(filter)); });
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().first();
}

void exportModes(QCPPainter& painter)
{
    painter.setMode(QCPPainter::pmVectorized);
    painter.setMode(QCPPainter::pmNoCaching);
}

bool writeSvg(QCustomPlot* plot, const QString& fileName)
{
    QSvgGenerator generator;
    generator.setFileName(fileName);
    generator.setResolution(96);
    generator.setSize(plot->size());
    generator.setViewBox(QRect(QPoint(0, 0), plot->size()));
    QCPPainter painter;
    if (!painter.begin(&generator))
        return false;
    exportModes(painter);
    plot->toPainter(&painter, plot->width(), plot->height());
    return painter.end();
}

bool writeWmf(QCustomPlot* plot, const QString& fileName)
{
    const std::vector<std::uint8_t> bytes = chartToWmf(plot);
    QFile file(fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    const auto size = static_cast<qint64>(bytes.size());
    return file.write(reinterpret_cast<const char*>(bytes.data()), size) == size && file.flush();
}

bool writeByExtension(QCustomPlot* plot, const QString& fileName, const QString& suffix)
{
    if (suffix == "svg")
        return writeSvg(plot, fileName);
    if (suffix == "pdf")
        return plot->savePdf(fileName, plot->width(), plot->height());
    if (suffix == "png")
        return plot->savePng(fileName, plot->width(), plot->height());
    return writeWmf(plot, fileName);
}

} // namespace

QStringList graphFileFilters()
{
    return {"MetaFile (*.wmf)", "SVG image (*.svg)", "PDF document (*.pdf)", "PNG image (*.png)"};
}

QString saveGraphDialog(QWidget* owner, const QString& startFolder)
{
    return saveGraphHook() ? saveGraphHook()(owner) : askGraphFile(owner, startFolder);
}

void setSaveGraphDialogHook(SaveGraphHook hook)
{
    saveGraphHook() = std::move(hook);
}

std::vector<std::uint8_t> chartToWmf(QCustomPlot* plot)
{
    WmfPaintDevice device(plot->size());
    {
        QCPPainter painter(&device);
        exportModes(painter);
        plot->toPainter(&painter, plot->width(), plot->height());
    }
    return device.finish();
}

bool saveChart(QCustomPlot* plot, const QString& fileName, Messages& messages)
{
    const QString suffix = QFileInfo(fileName).suffix().toLower();
    return writeFileSafely(
        fileName.toStdString(),
        [&](const std::string& path, std::string& problem) {
            if (writeByExtension(plot, QString::fromStdString(path), suffix))
                return true;
            problem = "the chart could not be written";
            return false;
        },
        messages);
}

bool exportChartDialog(QWidget* owner, QCustomPlot* plot, Messages& messages)
{
    const QString fileName = saveGraphDialog(owner);
    if (fileName.isEmpty())
        return false;
    return saveChart(plot, fileName, messages);
}

bool exportChartDialog(QWidget* owner, QCustomPlot* plot, Messages& messages, State& state)
{
    const QString folder = QString::fromStdString(saveDialogFolder(state, QDir::currentPath().toStdString()));
    const QString fileName = saveGraphDialog(owner, folder);
    if (fileName.isEmpty() || !saveChart(plot, fileName, messages))
        return false;
    state.lastSaveFolder = QFileInfo(fileName).absolutePath().toStdString();
    return true;
}

bool printChart(QCustomPlot* plot, QPrinter& printer, const QMarginsF& marginsPercent)
{
    // the printer takes its margins in millimetres
    const QSizeF page = printer.pageLayout().fullRect(QPageLayout::Millimeter).size();
    printer.setPageMargins(
        QMarginsF(page.width() * marginsPercent.left() / 100, page.height() * marginsPercent.top() / 100,
                  page.width() * marginsPercent.right() / 100, page.height() * marginsPercent.bottom() / 100),
        QPageLayout::Millimeter);
    QCPPainter painter;
    if (plot->width() <= 0 || plot->height() <= 0 || !painter.begin(&printer))
        return false;
    exportModes(painter);
    const QRect area = painter.viewport();
    painter.scale(area.width() / static_cast<double>(plot->width()),
                  area.height() / static_cast<double>(plot->height()));
    plot->toPainter(&painter, plot->width(), plot->height());
    return painter.end();
}

} // namespace kestrune
