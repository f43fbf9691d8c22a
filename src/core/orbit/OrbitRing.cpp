#include "core/orbit/OrbitRing.h"

#include "core/Format.h"
#include "core/orbit/ClosedOrbit.h"

namespace kestrune {

ModeEmittances orbitModeEmittances(const State& machine, const OrbitOptics& optics)
{
    if (!optics.computed) {
        ModeEmittances none;
        none.refusal = optics.refusal;
        return none;
    }
    return modeEmittances(machine, optics.maps);
}

OrbitRing orbitRing(const State& state)
{
    if (!lineKicks(state.line) && !lineHasErrors(state.line))
        return OrbitRing{};
    // the optics made in their place (a move of the orbit's arrays is what the compiler warns about)
    OrbitRing ring{true, false, {}, orbitOptics(state), {}, {}};
    if (!ring.optics.computed) {
        ring.refusal = ring.optics.refusal;
        return ring;
    }
    ring.computed = true;
    ring.modes = orbitModeEmittances(state, ring.optics);
    ring.chromaticity = orbitChromaticity(state);
    return ring;
}

OrbitRingView orbitRingView(const State& state, const OrbitRing& ring)
{
    OrbitRingView v;
    if (!ring.computed) {
        v.orbit = ring.refusal + ";\nthe design's values are shown";
        return v;
    }
    // two lines: the tunes, then the beating and the vertical dispersion
    v.orbit = orbitOpticsText(ring.optics);
    if (const std::size_t tunes = v.orbit.find("; "); tunes != std::string::npos)
        v.orbit.replace(tunes, 2, ";\n");
    const OrbitChromaticity& c = ring.chromaticity;
    v.chromaticity =
        c.computed ? "chromaticity about the closed orbit: dQ1/d delta = " + fmt("%.4f", c.chromaticity1) +
                         ", dQ2/d delta = " + fmt("%.4f", c.chromaticity2)
                   : "chromaticity about the closed orbit: " + c.refusal;
    v.eigentunes = "eigentunes about the closed orbit: Q1 = " + fmt("%.6f", ring.optics.tune1) +
                   ", Q2 = " + fmt("%.6f", ring.optics.tune2);
    v.modes = modeEmittanceView(state, ring.modes);
    for (std::string* line : {&v.modes.mode1, &v.modes.mode2, &v.modes.mode3})
        *line += " (about the closed orbit)";
    // about the orbit mode 2 has what the errors couple into y (rolls, the vertical orbit in the
    // sextupoles, vertical dispersion) besides the coupling sources of the line
    if (ring.modes.computed)
        v.modes.verticalSource = "emittance_y about the closed orbit: mode 2, from the errors and the "
                                 "coupling sources";
    return v;
}

} // namespace kestrune
