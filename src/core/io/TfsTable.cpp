#include "core/io/TfsTable.h"

#include "core/Format.h"

#include <cctype>
#include <sstream>

namespace kestrune {

namespace {

bool isStringFormat(const std::string& format)
{
    return !format.empty() && format.back() == 's';
}

std::string quoted(const std::string& text)
{
    return "\"" + text + "\"";
}

// Splits a line into blank-separated words; a double-quoted word keeps its blanks, without the quotes.
bool words(const std::string& line, std::vector<std::string>& out)
{
    out.clear();
    std::size_t i = 0;
    while (i < line.size()) {
        if (std::isspace(static_cast<unsigned char>(line[i]))) {
            ++i;
            continue;
        }
        if (line[i] == '"') {
            const std::size_t close = line.find('"', i + 1);
            if (close == std::string::npos)
                return false;
            out.push_back(line.substr(i + 1, close - i - 1));
            i = close + 1;
            continue;
        }
        std::size_t j = i;
        while (j < line.size() && !std::isspace(static_cast<unsigned char>(line[j])))
            ++j;
        out.push_back(line.substr(i, j - i));
        i = j;
    }
    return true;
}

} // namespace

int TfsTable::column(const std::string& name) const
{
    for (std::size_t i = 0; i < columns.size(); ++i)
        if (columns[i] == name)
            return static_cast<int>(i);
    return -1;
}

const TfsHeader* TfsTable::find(const std::string& name) const
{
    for (const TfsHeader& h : header)
        if (h.name == name)
            return &h;
    return nullptr;
}

std::string tfsText(const TfsTable& table)
{
    std::ostringstream out;
    for (const TfsHeader& h : table.header)
        out << "@ " << fmt("%-16s", h.name.c_str()) << ' ' << fmt("%-5s", h.format.c_str()) << ' '
            << (isStringFormat(h.format) ? quoted(h.value) : h.value) << '\n';
    out << '*';
    for (const std::string& c : table.columns)
        out << ' ' << fmt("%24s", c.c_str());
    out << "\n$";
    for (const std::string& f : table.formats)
        out << ' ' << fmt("%24s", f.c_str());
    out << '\n';
    for (const auto& row : table.rows) {
        out << ' ';
        for (std::size_t i = 0; i < row.size(); ++i) {
            const bool text = i < table.formats.size() && isStringFormat(table.formats[i]);
            out << ' ' << fmt("%24s", (text ? quoted(row[i]) : row[i]).c_str());
        }
        out << '\n';
    }
    return out.str();
}

std::optional<TfsTable> parseTfs(const std::string& text, std::string* error)
{
    TfsTable table;
    std::istringstream in(text);
    std::string line;
    int number = 0;
    std::vector<std::string> w;
    auto fail = [&](const std::string& what) -> std::optional<TfsTable> {
        if (error != nullptr)
            *error = "line " + std::to_string(number) + ": " + what;
        return std::nullopt;
    };
    while (std::getline(in, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!words(line, w))
            return fail("a string is not closed");
        if (w.empty())
            continue;
        if (w[0] == "@") {
            if (w.size() < 4)
                return fail("a header line needs a name, a format and a value");
            std::string value = w[3];
            for (std::size_t i = 4; i < w.size(); ++i)
                value += " " + w[i];
            table.header.push_back({w[1], w[2], value});
        } else if (w[0] == "*") {
            table.columns.assign(w.begin() + 1, w.end());
        } else if (w[0] == "$") {
            table.formats.assign(w.begin() + 1, w.end());
        } else if (w[0][0] == '#') {
            continue;
        } else {
            if (table.columns.empty() || table.formats.size() != table.columns.size())
                return fail("a row before the column names and formats");
            if (w.size() != table.columns.size())
                return fail("a row of " + std::to_string(w.size()) + " values in a table of " +
                            std::to_string(table.columns.size()) + " columns");
            table.rows.push_back(w);
        }
    }
    if (table.columns.empty())
        return fail("no column names ('*' line)");
    return table;
}

} // namespace kestrune
