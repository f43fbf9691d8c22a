#pragma once

#include "core/BeamLine.h"

namespace kestrune {

// The passes over a long line wait on the elements' records coming from memory, not on the arithmetic:
// the record a few places ahead is asked for while this one is computed (a hint, which changes no result).
constexpr int kPrefetchAhead = 16;

inline void prefetchElement(const BeamLine& line, int i)
{
    if (i <= line.count) {
        const LatticeElement& e = line.at(i);
        // the fields the passes read, from code to vkick, no two of them a cache line apart
        __builtin_prefetch(&e.code);
        __builtin_prefetch(&e.k);
        __builtin_prefetch(&e.knl);
        __builtin_prefetch(&e.k1s);
        __builtin_prefetch(&e.vkick);
    }
}

} // namespace kestrune
