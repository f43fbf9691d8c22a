#pragma once

#include "core/Messages.h"
#include "core/State.h"

#include <optional>

namespace kestrune {

/// The first-order amplitude-dependent tune shifts of the full ring from its octupoles (thick k3 and the
/// knl[3] of thin multipoles), per unit action J = (gamma x^2 + 2 alpha x x' + beta x'^2) / 2 (1/m).
struct OctupoleDetuning
{
    double xx = 0; // dQx/dJx
    double xy = 0; // dQx/dJy = dQy/dJx
    double yy = 0; // dQy/dJy
};

/// The detuning of the ring of superPeriods cells from the ring pass over its periodic solution; nothing,
/// after the periodic solution's message, without a stable one.
std::optional<OctupoleDetuning> octupoleDetuning(State& state, Messages& messages);

} // namespace kestrune
