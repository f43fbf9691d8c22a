#include "gui/FileDialog.h"

#include <QFileDialog>
#include <QStringList>

namespace kestrune {

QString qtFilter(const char* filter)
{
    const QStringList parts = QString(filter).split('|');
    if (parts.size() < 2)
        return QString(filter);
    QStringList entries;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        QStringList patterns;
        for (QString pattern : parts[i + 1].split(';', Qt::SkipEmptyParts)) {
            pattern = pattern.trimmed();
            if (!pattern.contains('*'))
                pattern = "*." + pattern; // a bare extension
            patterns << pattern;
        }
        entries << QString("%1 (%2)").arg(parts[i].trimmed(), patterns.join(' '));
    }
    return entries.join(";;");
}

QString askSaveFileName(QWidget* parent, const QString& title, const QString& filter, const QString& suffix,
                        const QString& preset)
{
    QFileDialog dialog(parent, title, preset, filter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(suffix);
    return dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()
               ? dialog.selectedFiles().first()
               : QString();
}

QString askSaveFileName(QWidget* parent, const FileDialogText& dialog, const QString& preset)
{
    return askSaveFileName(parent, dialog.title, qtFilter(dialog.filter), dialog.defaultExtension, preset);
}

} // namespace kestrune
