#include "gui/io/RecentFilesSettings.h"

#include <QSettings>
#include <QStringList>

namespace kestrune {

namespace {

const char* const kRecentFilesKey = "recentLatticeFiles";

} // namespace

QSettings& programSettings()
{
    static QSettings settings(QSettings::NativeFormat, QSettings::UserScope, "kestrune", "kestrune");
    return settings;
}

RecentFiles loadRecentFiles(QSettings& settings)
{
    settings.sync(); // another window or run may have written the list since
    std::vector<std::string> stored;
    for (const QString& path : settings.value(kRecentFilesKey).toStringList())
        stored.push_back(path.toStdString());
    return recentFilesFromStored(stored);
}

void storeRecentFiles(QSettings& settings, const RecentFiles& recent)
{
    QStringList paths;
    for (const std::string& path : recent.paths)
        paths << QString::fromStdString(path);
    settings.setValue(kRecentFilesKey, paths);
    settings.sync();
}

void rememberRecentFile(const std::string& fileName)
{
    // the stored list may hold files another window added since this one read it
    RecentFiles recent = loadRecentFiles(programSettings());
    addRecentFile(recent, fileName);
    storeRecentFiles(programSettings(), recent);
}

} // namespace kestrune
