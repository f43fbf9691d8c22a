#pragma once

#include <optional>
#include <string>
#include <vector>

namespace kestrune {

/// One "@" line of a TFS table: name, format ("%le", "%05s", ...) and the value as written (strings
/// without their quotes).
struct TfsHeader
{
    std::string name;
    std::string format;
    std::string value;
};

/// A table in MAD-X's TFS format: "@" header lines, the "*" column names, the "$" column formats and
/// one row of values per line.
struct TfsTable
{
    std::vector<TfsHeader> header;
    std::vector<std::string> columns;
    std::vector<std::string> formats;
    std::vector<std::vector<std::string>> rows; // strings without their quotes

    /// Index of a column, or -1.
    int column(const std::string& name) const;
    /// The header entry of that name, or nullptr.
    const TfsHeader* find(const std::string& name) const;
};

/// The table as TFS text: header values of format "%le" as numbers, others quoted; string columns quoted.
std::string tfsText(const TfsTable& table);

/// Parses TFS text; on a fault returns nullopt and says what and where in *error.
std::optional<TfsTable> parseTfs(const std::string& text, std::string* error = nullptr);

} // namespace kestrune
