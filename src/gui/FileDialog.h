#pragma once

#include "core/io/LatticeFile.h"

#include <QString>
#include <functional>

class QWidget;

namespace kestrune {

/// A save dialog as windows hold it (tests put their own in its place): title, filter (Qt's form), default
/// suffix and preset (a file name or a folder) in, the chosen file name out, empty when cancelled.
using SaveFileDialog = std::function<QString(const QString& title, const QString& filter,
                                             const QString& defaultSuffix, const QString& preset)>;

/// A dialog filter of the program's form "description|patterns|description|patterns" as Qt writes it:
/// "description (patterns);;..."; a bare extension ("txt") becomes "*.txt".
QString qtFilter(const char* filter);

/// The save dialog with title, filter (Qt's form) and default suffix, opened with preset (a file name or
/// a folder): the file name chosen, or an empty text when the dialog was cancelled.
QString askSaveFileName(QWidget* parent, const QString& title, const QString& filter, const QString& suffix,
                        const QString& preset);

/// The save dialog of a FileDialogText.
QString askSaveFileName(QWidget* parent, const FileDialogText& dialog, const QString& preset);

} // namespace kestrune
