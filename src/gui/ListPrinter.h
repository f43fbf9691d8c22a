#pragma once

#include <QFont>
#include <QStringList>
#include <functional>
#include <string>
#include <vector>

class QPrinter;
class QWidget;

namespace kestrune {

/// Lets the user set up the printer; true to print.
using PrintDialogHook = std::function<bool(QPrinter& printer, QWidget* owner)>;

/// Shows the print dialog for printer; true when confirmed.
bool askPrinter(QPrinter& printer, QWidget* owner);
/// Puts hook in the place of the print dialog (tests); an empty hook brings the dialog back.
void setPrintDialogHook(PrintDialogHook hook);

/// Prints lines on printer in font, one printer line per text line, each after five blanks,
/// starting a new page when one is full. False when the printer could not be opened.
bool printList(QPrinter& printer, const QStringList& lines, const QFont& font);

/// Shows the print dialog and, when confirmed, prints lines in font with printList. False when
/// cancelled or when the printer failed.
bool printListDialog(QWidget* owner, const QStringList& lines, const QFont& font);

/// The lines of a list as Qt texts.
QStringList toStringList(const std::vector<std::string>& lines);

} // namespace kestrune
