#pragma once

#include <cstdint>
#include <gtest/gtest.h>
#include <vector>

namespace kestrune::test {

/// One record of a placeable Windows metafile.
struct Record
{
    std::uint16_t function = 0;
    std::vector<std::uint16_t> params;
};

struct Parsed
{
    std::vector<std::uint16_t> placeable; // 11 words
    std::vector<std::uint16_t> header;    // 9 words
    std::vector<Record> records;          // up to and with the end record
    std::size_t words = 0;                // words after the placeable header
};

inline std::uint16_t wordAt(const std::vector<std::uint8_t>& bytes, std::size_t w)
{
    return static_cast<std::uint16_t>(bytes.at(2 * w) | bytes.at(2 * w + 1) << 8);
}

// Walks the file record by record, as a player does, by the size each record gives.
inline Parsed parse(const std::vector<std::uint8_t>& bytes)
{
    Parsed p;
    EXPECT_EQ(bytes.size() % 2, 0u);
    for (std::size_t w = 0; w < 11; ++w)
        p.placeable.push_back(wordAt(bytes, w));
    for (std::size_t w = 11; w < 20; ++w)
        p.header.push_back(wordAt(bytes, w));
    std::size_t w = 20;
    while (2 * w < bytes.size()) {
        const std::uint32_t size = wordAt(bytes, w) | static_cast<std::uint32_t>(wordAt(bytes, w + 1)) << 16;
        Record r;
        r.function = wordAt(bytes, w + 2);
        for (std::size_t i = 3; i < size; ++i)
            r.params.push_back(wordAt(bytes, w + i));
        p.records.push_back(r);
        w += size;
        if (r.function == 0 || size < 3)
            break;
    }
    p.words = w - 11;
    EXPECT_EQ(2 * w, bytes.size()) << "records do not end with the file";
    return p;
}

inline std::vector<Record> withFunction(const Parsed& p, std::uint16_t function)
{
    std::vector<Record> found;
    for (const Record& r : p.records)
        if (r.function == function)
            found.push_back(r);
    return found;
}

} // namespace kestrune::test
