#pragma once

#include "core/State.h"

#include <string>

namespace kestrune {

/// The working point of the tune diagram. For a line whose planes are independent it is the ring tunes
/// of the optics last computed (state.lf); for a line that couples them it is the eigentunes of the two
/// transverse modes of the periodic coupled solution, mode 1 the one mostly horizontal, drawn as (Q1, Q2).
struct WorkingPoint
{
    bool computed = false;
    bool eigentunes = false; // the tunes are the modes' eigentunes
    double tune1 = 0, tune2 = 0;
    std::string refusal; // why there is none: the coupled optics' refusal
};

WorkingPoint workingPoint(const State& state);

} // namespace kestrune
