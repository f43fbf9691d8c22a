#include "gui/ListPrinter.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>

namespace kestrune {

namespace {

PrintDialogHook& printDialogHook()
{
    static PrintDialogHook hook;
    return hook;
}

// The printer draws no tab stops: tabs become blanks up to the next multiple of eight.
QString expandTabs(const QString& line)
{
    QString out;
    out.reserve(line.size());
    for (const QChar c : line) {
        if (c != '\t') {
            out += c;
            continue;
        }
        do
            out += ' ';
        while (out.size() % 8 != 0);
    }
    return out;
}

} // namespace

bool askPrinter(QPrinter& printer, QWidget* owner)
{
    if (printDialogHook())
        return printDialogHook()(printer, owner);
    QPrintDialog dialog(&printer, owner);
    return dialog.exec() == QDialog::Accepted;
}

void setPrintDialogHook(PrintDialogHook hook)
{
    printDialogHook() = std::move(hook);
}

bool printList(QPrinter& printer, const QStringList& lines, const QFont& font)
{
    QPainter painter;
    if (!painter.begin(&printer))
        return false;
    painter.setFont(font);
    const QFontMetricsF metrics(painter.font(), &printer);
    const double lineHeight = metrics.lineSpacing();
    const double pageHeight = painter.viewport().height();
    double top = 0;
    for (const QString& line : lines) {
        if (top > 0 && top + lineHeight > pageHeight) {
            printer.newPage();
            top = 0;
        }
        painter.drawText(QPointF(0, top + metrics.ascent()), "     " + expandTabs(line));
        top += lineHeight;
    }
    return painter.end();
}

bool printListDialog(QWidget* owner, const QStringList& lines, const QFont& font)
{
    QPrinter printer(QPrinter::ScreenResolution);
    if (!askPrinter(printer, owner))
        return false;
    return printList(printer, lines, font);
}

QStringList toStringList(const std::vector<std::string>& lines)
{
    QStringList list;
    list.reserve(static_cast<qsizetype>(lines.size()));
    for (const std::string& line : lines)
        list << QString::fromStdString(line);
    return list;
}

} // namespace kestrune
