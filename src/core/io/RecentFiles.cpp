#include "core/io/RecentFiles.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace kestrune {

std::string normalisedPath(const std::string& path)
{
    if (path.empty())
        return path;
    std::error_code error;
    std::filesystem::path absolute = std::filesystem::absolute(path, error);
    if (error)
        absolute = path;
    std::string normal = absolute.lexically_normal().string();
    // a folder's trailing separator is not part of a file's name
    while (normal.size() > 1 && normal.back() == '/')
        normal.pop_back();
    return normal;
}

void addRecentFile(RecentFiles& recent, const std::string& path)
{
    const std::string entry = normalisedPath(path);
    if (entry.empty())
        return;
    removeRecentFile(recent, entry);
    recent.paths.insert(recent.paths.begin(), entry);
    if (recent.paths.size() > kRecentFileCount)
        recent.paths.resize(kRecentFileCount);
}

bool removeRecentFile(RecentFiles& recent, const std::string& path)
{
    const std::string entry = normalisedPath(path);
    const auto found = std::find(recent.paths.begin(), recent.paths.end(), entry);
    if (found == recent.paths.end())
        return false;
    recent.paths.erase(found);
    return true;
}

RecentFiles recentFilesFromStored(const std::vector<std::string>& stored)
{
    RecentFiles recent;
    for (const std::string& path : stored) {
        const std::string entry = normalisedPath(path);
        if (entry.empty() || std::find(recent.paths.begin(), recent.paths.end(), entry) != recent.paths.end())
            continue;
        recent.paths.push_back(entry);
        if (recent.paths.size() == kRecentFileCount)
            break;
    }
    return recent;
}

std::string missingRecentFileMessage(const std::string& path)
{
    return "the file \"" + path + "\" does not exist any more;\nit is taken off the recent files list";
}

} // namespace kestrune
