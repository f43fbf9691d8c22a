#pragma once

#include "io/RecentFiles.h"

class QSettings;

namespace kestrune {

/// The settings the program keeps between runs (organisation and program "kestrune", the platform's
/// place for user settings).
QSettings& programSettings();

/// The recent-files list kept in settings; an empty list when none was stored.
RecentFiles loadRecentFiles(QSettings& settings);
/// Keeps the list in settings and writes it out.
void storeRecentFiles(QSettings& settings, const RecentFiles& recent);

} // namespace kestrune
