#include "core/io/SafeFile.h"

#include "support/FakeMessages.h"
#include "support/TestFolder.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace kestrune {
namespace {

namespace fs = std::filesystem;
using test::FakeMessages;

std::string slurp(const fs::path& path)
{
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

void put(const fs::path& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

unsigned mode(const fs::path& path)
{
    struct stat info
    {
    };
    ::stat(path.c_str(), &info);
    return info.st_mode & 07777;
}

std::size_t entries(const fs::path& folder)
{
    return static_cast<std::size_t>(std::distance(fs::directory_iterator(folder), {}));
}

class SafeFile : public ::testing::Test
{
protected:
    test::ScopedTestFolder folder{"kestrune-safe"};
    fs::path at(const char* name) const { return folder.path() / name; }
    FakeMessages messages;
};

TEST_F(SafeFile, ReplacesATargetKeepingItsPermissions)
{
    put(at("private.lat"), "old");
    ::chmod(at("private.lat").c_str(), 0600);
    ASSERT_TRUE(writeTextFileSafely(at("private.lat"), "new", messages));
    EXPECT_EQ(slurp(at("private.lat")), "new");
    EXPECT_EQ(mode(at("private.lat")), 0600u) << "a private file must stay private";
    EXPECT_EQ(entries(folder.path()), 1u) << "no temporary file left";
}

TEST_F(SafeFile, AReadOnlyTargetIsReplacedOnlyWhenTheUserSaysSo)
{
    put(at("frozen.lat"), "old");
    ::chmod(at("frozen.lat").c_str(), 0444);
    messages.answers = {false};
    EXPECT_FALSE(writeTextFileSafely(at("frozen.lat"), "new", messages));
    EXPECT_EQ(slurp(at("frozen.lat")), "old");
    ASSERT_EQ(messages.questions.size(), 1u);
    EXPECT_NE(messages.questions[0].find("is read-only"), std::string::npos);
    EXPECT_TRUE(messages.errors.empty()) << "the answer No is the end of it";

    messages.answers = {true};
    ASSERT_TRUE(writeTextFileSafely(at("frozen.lat"), "new", messages));
    EXPECT_EQ(slurp(at("frozen.lat")), "new");
    EXPECT_EQ(mode(at("frozen.lat")), 0444u);
}

TEST_F(SafeFile, ASymbolicLinkIsWrittenThroughToItsTarget)
{
    fs::create_directory(at("real"));
    put(at("real/data.lat"), "old");
    fs::create_symlink("real/data.lat", at("link.lat"));
    ASSERT_TRUE(writeTextFileSafely(at("link.lat"), "new", messages));
    EXPECT_TRUE(fs::is_symlink(at("link.lat")));
    EXPECT_EQ(slurp(at("real/data.lat")), "new");
    EXPECT_EQ(entries(at("real")), 1u) << "the temporary file lived in the target's folder";

    // a dangling link is written to the name it points at
    fs::create_symlink("real/fresh.lat", at("dangling.lat"));
    ASSERT_TRUE(writeTextFileSafely(at("dangling.lat"), "made", messages));
    EXPECT_EQ(slurp(at("real/fresh.lat")), "made");
}

TEST_F(SafeFile, APlantedLinkAtAnOldTemporaryNameIsNotFollowed)
{
    put(at("victim"), "keep");
    for (const char* planted : {"out.csv.kestrune-tmp", ".out.csv.tmp"})
        fs::create_symlink(at("victim"), at(planted));
    ASSERT_TRUE(writeTextFileSafely(at("out.csv"), "rows", messages));
    EXPECT_EQ(slurp(at("victim")), "keep");
    EXPECT_EQ(slurp(at("out.csv")), "rows");
}

TEST_F(SafeFile, WhatCannotBeWrittenIsReportedAndLeavesTheTargetAlone)
{
    fs::create_directory(at("folder.lat"));
    put(at("kept.lat"), "old");
    const struct
    {
        fs::path target;
        std::string reason;
    } cases[] = {{at("folder.lat"), "it is a directory"},
                 {at("no/such/file.lat"), "No such file or directory"},
                 {"/dev/null", "it is not a regular file"}};
    for (const auto& c : cases) {
        FakeMessages fake;
        EXPECT_FALSE(writeTextFileSafely(c.target, "x", fake)) << c.target;
        ASSERT_EQ(fake.errors.size(), 1u);
        EXPECT_EQ(fake.errors[0], "cannot write file " + c.target.string() + ": " + c.reason);
    }
    // a writer that fails half-way: the old file stays, no temporary file is left
    const FileWriter failing = [](const std::string& path, std::string& problem) {
        put(path, "half");
        problem = "disk full";
        return false;
    };
    EXPECT_FALSE(writeFileSafely(at("kept.lat"), failing, messages));
    EXPECT_EQ(slurp(at("kept.lat")), "old");
    EXPECT_EQ(messages.errors.back(), "cannot write file " + at("kept.lat").string() + ": disk full");
    EXPECT_EQ(entries(folder.path()), 2u);
}

TEST_F(SafeFile, OnlyRegularFilesOfBoundedSizeAreRead)
{
    put(at("small.madx"), "q: quadrupole;");
    fs::create_directory(at("folder.madx"));
    ASSERT_EQ(::mkfifo(at("pipe.madx").c_str(), 0600), 0);
    EXPECT_EQ(readTextFile(at("small.madx")).text, "q: quadrupole;");
    const struct
    {
        fs::path file;
        std::string problem;
    } cases[] = {{at("folder.madx"), "it is a directory"},
                 {at("pipe.madx"), "it is not a regular file (a device, a pipe or a socket)"},
                 {"/dev/zero", "it is not a regular file (a device, a pipe or a socket)"},
                 {at("none.madx"), "No such file or directory"}};
    for (const auto& c : cases) {
        const FileText read = readTextFile(c.file);
        EXPECT_EQ(read.problem, c.problem) << c.file;
        EXPECT_TRUE(read.text.empty());
    }
    EXPECT_EQ(readTextFile(at("small.madx"), 4).problem, "it is larger than 4 bytes");
}

TEST_F(SafeFile, SameFileSeesThroughLinksAndSpellings)
{
    put(at("a.lat"), "x");
    fs::create_symlink(at("a.lat"), at("b.lat"));
    EXPECT_TRUE(sameFile(at("a.lat"), at("b.lat")));
    EXPECT_TRUE(sameFile(at("a.lat"), folder.path() / "." / "a.lat"));
    EXPECT_TRUE(sameFile(at("new.csv"), folder.path() / "x" / ".." / "new.csv"));
    EXPECT_FALSE(sameFile(at("a.lat"), at("new.csv")));
}

} // namespace
} // namespace kestrune
