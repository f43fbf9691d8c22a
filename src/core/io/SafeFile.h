#pragma once

// Reading and writing files so that no file can stall the program or be lost: inputs are read only when
// they are regular files of bounded size, outputs are written beside their target and renamed into place.

#include "core/Messages.h"

#include <cstddef>
#include <functional>
#include <string>

namespace kestrune {

/// Largest file the readers take, bytes (64 MB: thousands of times a large lattice).
constexpr std::size_t kMaxInputFileBytes = std::size_t{64} << 20;

/// A file's text, or why it was not read.
struct FileText
{
    std::string text;
    std::string problem; // empty when read; else a phrase such as "it is a directory"
};

/// The contents of fileName when it is a regular file of at most limit bytes. Otherwise the problem says
/// why not: the system's reason ("No such file or directory"), "it is a directory", "it is not a regular
/// file (a device, a pipe or a socket)" or "it is larger than 64 MB". Never blocks on a pipe or a device.
FileText readTextFile(const std::string& fileName, std::size_t limit = kMaxInputFileBytes);

/// Writes the contents of a file under the name it is given; false, with the reason in problem, on failure.
using FileWriter = std::function<bool(const std::string& path, std::string& problem)>;

/// Writes fileName as every writer of the program does. A symbolic link is followed: the file it points
/// to is written, in that file's folder. An existing target without write permission is replaced only
/// when messages.confirm says so (the batch tool answers No). write fills a temporary file created
/// afresh (O_CREAT | O_EXCL, random suffix) in the target's folder, which then takes the target's
/// permissions and is renamed over it in one step: a failure at any point leaves the target as it was,
/// and no temporary file behind. A failure is reported through messages.error as
/// "cannot write file <fileName>: <reason>"; true when the file was written.
bool writeFileSafely(const std::string& fileName, const FileWriter& write, Messages& messages);

/// writeFileSafely with text as the file's contents.
bool writeTextFileSafely(const std::string& fileName, const std::string& text, Messages& messages);

/// True when the two names lead to the same existing file (through links and different spellings).
bool sameFile(const std::string& a, const std::string& b);

} // namespace kestrune
