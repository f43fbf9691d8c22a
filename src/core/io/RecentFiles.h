#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace kestrune {

/// How many lattice files the recent-files list keeps.
constexpr std::size_t kRecentFileCount = 10;

/// The lattice files opened or saved last, most recent first, each path once.
struct RecentFiles
{
    std::vector<std::string> paths; // absolute and lexically normal
};

/// The path as the list keeps it: absolute (against the working folder) and lexically normal, so that
/// "lat/./a.lat" and "lat/b/../a.lat" name one entry.
std::string normalisedPath(const std::string& path);

/// Puts path at the front (moving it there when it is already listed) and keeps the first
/// kRecentFileCount entries. An empty path changes nothing.
void addRecentFile(RecentFiles& recent, const std::string& path);

/// Takes path off the list; false when it was not listed.
bool removeRecentFile(RecentFiles& recent, const std::string& path);

/// A list as it was stored: normalised, without empty entries and repeats, at most kRecentFileCount
/// long, in the stored order.
RecentFiles recentFilesFromStored(const std::vector<std::string>& stored);

/// The message for a listed file that is no longer there.
std::string missingRecentFileMessage(const std::string& path);

} // namespace kestrune
