#pragma once

#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <system_error>
#include <unistd.h>

namespace kestrune::test {

/// A fresh, empty folder under the temporary directory for the running test, named after the test and
/// the process so that tests running at the same time (ctest -j, several build trees) never share one.
inline std::filesystem::path freshTestFolder(const std::string& prefix)
{
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::string test = info != nullptr ? std::string(info->test_suite_name()) + "." + info->name() : "";
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / (prefix + "-" + test + "-" + std::to_string(::getpid()));
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    return folder;
}

/// A freshTestFolder removed with all it holds when the test is done with it.
class ScopedTestFolder
{
public:
    explicit ScopedTestFolder(const std::string& prefix) : m_path(freshTestFolder(prefix)) {}
    ~ScopedTestFolder()
    {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    ScopedTestFolder(const ScopedTestFolder&) = delete;
    ScopedTestFolder& operator=(const ScopedTestFolder&) = delete;

    const std::filesystem::path& path() const { return m_path; }

private:
    std::filesystem::path m_path;
};

} // namespace kestrune::test
