#pragma once

namespace kestrune {

/// One of count interleaved parts of a scan (index 1..count): item i (from 0) belongs to part
/// i % count + 1, so that every part gets a share of the easy and of the hard items.
struct ScanPart
{
    int index = 1;
    int count = 1;

    bool holds(int item) const { return item % count == index - 1; }
};

} // namespace kestrune
