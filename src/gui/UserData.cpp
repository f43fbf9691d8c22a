#include "gui/UserData.h"

#include "core/io/SafeFile.h"

#include <QDir>
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
    // an empty file, so that a scratch line can be reopened before anything was saved
    QuietMessages quiet;
    return writeTextFileSafely(QDir(directory).filePath("temp.lat").toStdString(), std::string(), quiet);
}

} // namespace kestrune
