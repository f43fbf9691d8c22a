#include "core/io/SafeFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace kestrune {

namespace {

namespace fs = std::filesystem;

std::string systemReason(int error)
{
    return std::strerror(error);
}

std::string megabytes(std::size_t bytes)
{
    return bytes >= (std::size_t{1} << 20) ? std::to_string(bytes >> 20) + " MB"
                                           : std::to_string(bytes) + " bytes";
}

/// Closes a descriptor when it goes out of scope.
class Descriptor
{
public:
    explicit Descriptor(int fd) : m_fd(fd) {}
    ~Descriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return m_fd; }
    /// Closes now; false when the close reported an error (a write that did not reach the disk).
    bool close()
    {
        const int fd = m_fd;
        m_fd = -1;
        return ::close(fd) == 0;
    }

private:
    int m_fd;
};

// The file a name leads to: symbolic links followed (also dangling ones, to the name they point at).
fs::path finalTarget(const fs::path& name, std::string& problem)
{
    fs::path path = name;
    for (int hops = 0; hops < 40; ++hops) {
        std::error_code error;
        if (!fs::is_symlink(fs::symlink_status(path, error)))
            return path;
        const fs::path link = fs::read_symlink(path, error);
        if (error) {
            problem = error.message();
            return {};
        }
        path = link.is_absolute() ? link : path.parent_path() / link;
    }
    problem = systemReason(ELOOP);
    return {};
}

// A fresh file beside target, opened for writing: O_EXCL with a random suffix, never through a link.
int createTemporary(const fs::path& target, fs::path& temporary, std::string& problem)
{
    static thread_local std::mt19937_64 random{std::random_device{}()};
    const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
    for (int attempt = 0; attempt < 100; ++attempt) {
        char suffix[17];
        std::snprintf(suffix, sizeof suffix, "%016llx", static_cast<unsigned long long>(random()));
        temporary = folder / ("." + target.filename().string() + "." + suffix + ".tmp");
        const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd >= 0)
            return fd;
        if (errno != EEXIST) {
            problem = systemReason(errno);
            return -1;
        }
    }
    problem = "no temporary file could be created beside it";
    return -1;
}

} // namespace

FileText readTextFile(const std::string& fileName, std::size_t limit)
{
    FileText result;
    // O_NONBLOCK: opening a pipe without a writer must not wait for one
    const Descriptor fd(::open(fileName.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (fd.get() < 0) {
        result.problem = systemReason(errno);
        return result;
    }
    struct stat info
    {
    };
    if (::fstat(fd.get(), &info) != 0) {
        result.problem = systemReason(errno);
        return result;
    }
    if (S_ISDIR(info.st_mode)) {
        result.problem = "it is a directory";
        return result;
    }
    if (!S_ISREG(info.st_mode)) {
        result.problem = "it is not a regular file (a device, a pipe or a socket)";
        return result;
    }
    if (static_cast<std::size_t>(info.st_size) > limit) {
        result.problem = "it is larger than " + megabytes(limit);
        return result;
    }
    result.text.resize(static_cast<std::size_t>(info.st_size));
    std::size_t done = 0;
    for (;;) {
        // a file that grows while it is read is read up to the limit, and refused beyond it
        if (done == result.text.size()) {
            if (done > limit) {
                result.text.clear();
                result.problem = "it is larger than " + megabytes(limit);
                return result;
            }
            result.text.resize(done + 4096);
        }
        const ssize_t n = ::read(fd.get(), &result.text[done], result.text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            result.text.clear();
            result.problem = systemReason(errno);
            return result;
        }
        if (n == 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    result.text.resize(done);
    return result;
}

bool writeFileSafely(const std::string& fileName, const FileWriter& write, Messages& messages)
{
    std::string problem;
    const auto refuse = [&](const std::string& reason) {
        messages.error("cannot write file " + fileName + ": " + reason);
        return false;
    };
    const fs::path target = finalTarget(fs::path(fileName), problem);
    if (!problem.empty())
        return refuse(problem);
    struct stat existing
    {
    };
    const bool exists = ::stat(target.c_str(), &existing) == 0;
    if (exists && S_ISDIR(existing.st_mode))
        return refuse("it is a directory");
    if (exists && !S_ISREG(existing.st_mode))
        return refuse("it is not a regular file");
    // a file nobody may write (or this user may not) was made read-only on purpose
    const bool readOnly = exists && ((existing.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 ||
                                     ::access(target.c_str(), W_OK) != 0);
    if (readOnly && !messages.confirm("the file " + fileName + " is read-only. Replace it?"))
        return false;

    fs::path temporary;
    Descriptor fd(createTemporary(target, temporary, problem));
    if (fd.get() < 0)
        return refuse(problem);
    // the new file keeps the permissions of the one it replaces (a private file stays private)
    bool ok = !exists || ::fchmod(fd.get(), existing.st_mode & 07777) == 0;
    if (!ok)
        problem = systemReason(errno);
    ok = ok && write(temporary.string(), problem);
    if (!fd.close() && ok) {
        problem = systemReason(errno);
        ok = false;
    }
    if (ok && std::rename(temporary.c_str(), target.c_str()) != 0) {
        problem = systemReason(errno);
        ok = false;
    }
    if (!ok) {
        ::unlink(temporary.c_str());
        return refuse(problem.empty() ? "the file could not be written" : problem);
    }
    return true;
}

bool writeTextFileSafely(const std::string& fileName, const std::string& text, Messages& messages)
{
    return writeFileSafely(
        fileName,
        [&text](const std::string& path, std::string& problem) {
            // the temporary file was created empty by the caller; opened again by name, never created
            const Descriptor fd(::open(path.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC));
            if (fd.get() < 0) {
                problem = systemReason(errno);
                return false;
            }
            std::size_t done = 0;
            while (done < text.size()) {
                const ssize_t n = ::write(fd.get(), text.data() + done, text.size() - done);
                if (n < 0 && errno == EINTR)
                    continue;
                if (n < 0) {
                    problem = systemReason(errno);
                    return false;
                }
                done += static_cast<std::size_t>(n);
            }
            return true;
        },
        messages);
}

bool sameFile(const std::string& a, const std::string& b)
{
    std::error_code error;
    if (fs::exists(a, error) && fs::exists(b, error))
        return fs::equivalent(a, b, error);
    const fs::path x = fs::weakly_canonical(fs::absolute(a, error), error);
    const fs::path y = fs::weakly_canonical(fs::absolute(b, error), error);
    return !error && x == y;
}

} // namespace kestrune
