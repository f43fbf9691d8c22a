#include "core/io/RecentFiles.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace kestrune {
namespace {

std::string inWorkingFolder(const std::string& name)
{
    return (std::filesystem::current_path() / name).lexically_normal().string();
}

TEST(RecentFiles, MostRecentComesFirstAndEachPathOnce)
{
    RecentFiles recent;
    addRecentFile(recent, "/lat/a.lat");
    addRecentFile(recent, "/lat/b.lat");
    addRecentFile(recent, "/lat/c.lat");
    EXPECT_EQ(recent.paths, (std::vector<std::string>{"/lat/c.lat", "/lat/b.lat", "/lat/a.lat"}));

    addRecentFile(recent, "/lat/a.lat"); // opened again: moves to the front, not listed twice
    EXPECT_EQ(recent.paths, (std::vector<std::string>{"/lat/a.lat", "/lat/c.lat", "/lat/b.lat"}));
}

TEST(RecentFiles, KeepsTheLastTen)
{
    RecentFiles recent;
    for (int i = 1; i <= 14; ++i)
        addRecentFile(recent, "/lat/f" + std::to_string(i) + ".lat");
    ASSERT_EQ(recent.paths.size(), kRecentFileCount);
    EXPECT_EQ(recent.paths.front(), "/lat/f14.lat");
    EXPECT_EQ(recent.paths.back(), "/lat/f5.lat");

    addRecentFile(recent, "/lat/f9.lat"); // a listed file moved to the front drops nothing
    EXPECT_EQ(recent.paths.size(), kRecentFileCount);
    EXPECT_EQ(recent.paths.back(), "/lat/f5.lat");
}

TEST(RecentFiles, SpellingsOfOnePathAreOneEntry)
{
    RecentFiles recent;
    addRecentFile(recent, "/lat/./ring.lat");
    addRecentFile(recent, "/lat/old/../ring.lat");
    addRecentFile(recent, "//lat//ring.lat");
    ASSERT_EQ(recent.paths.size(), 1u);
    EXPECT_EQ(recent.paths[0], "/lat/ring.lat");

    addRecentFile(recent, "cell.lat"); // relative: taken against the working folder
    EXPECT_EQ(recent.paths[0], inWorkingFolder("cell.lat"));
    addRecentFile(recent, "");
    EXPECT_EQ(recent.paths.size(), 2u);
}

TEST(RecentFiles, RemoveTakesOffTheNamedFileOnly)
{
    RecentFiles recent;
    for (const char* name : {"/a.lat", "/b.lat", "/c.lat"})
        addRecentFile(recent, name);
    EXPECT_TRUE(removeRecentFile(recent, "/x/../b.lat"));
    EXPECT_EQ(recent.paths, (std::vector<std::string>{"/c.lat", "/a.lat"}));
    EXPECT_FALSE(removeRecentFile(recent, "/b.lat"));
    EXPECT_EQ(recent.paths.size(), 2u);
}

TEST(RecentFiles, StoredListIsCleanedInItsOrder)
{
    std::vector<std::string> stored{"/b.lat", "", "/a.lat", "/./b.lat"};
    for (int i = 0; i < 12; ++i)
        stored.push_back("/more" + std::to_string(i) + ".lat");
    const RecentFiles recent = recentFilesFromStored(stored);
    ASSERT_EQ(recent.paths.size(), kRecentFileCount);
    EXPECT_EQ(recent.paths[0], "/b.lat");
    EXPECT_EQ(recent.paths[1], "/a.lat");
    EXPECT_EQ(recent.paths[2], "/more0.lat");
    EXPECT_EQ(recent.paths[9], "/more7.lat");
}

TEST(RecentFiles, MissingFileMessageNamesTheFile)
{
    const std::string text = missingRecentFileMessage("/lat/gone.lat");
    EXPECT_NE(text.find("\"/lat/gone.lat\""), std::string::npos);
    EXPECT_NE(text.find("recent files"), std::string::npos);
}

} // namespace
} // namespace kestrune
