#include "gui/UserData.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

namespace kestrune {

QString userDataDirectory()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
}

bool makeScratchLatticeFile(const QString& directory)
{
    if (directory.isEmpty() || !QDir().mkpath(directory))
        return false;
    QFile file(QDir(directory).filePath("temp.lat"));
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate);
}

} // namespace kestrune
