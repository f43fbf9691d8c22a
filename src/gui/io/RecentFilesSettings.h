#pragma once

#include "core/io/RecentFiles.h"

class QSettings;

namespace kestrune {

/// The settings the program keeps between runs (organisation and program "kestrune", the platform's
/// place for user settings).
QSettings& programSettings();

/// The recent-files list kept in settings; an empty list when none was stored.
RecentFiles loadRecentFiles(QSettings& settings);
/// Keeps the list in settings and writes it out.
void storeRecentFiles(QSettings& settings, const RecentFiles& recent);
/// Puts a lattice file opened or saved at the front of the list kept in the program's settings.
void rememberRecentFile(const std::string& fileName);

} // namespace kestrune
