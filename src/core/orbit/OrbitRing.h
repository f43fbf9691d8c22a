#pragma once

#include "core/State.h"
#include "core/coupling/ModeEmittances.h"
#include "core/orbit/OrbitOptics.h"

#include <string>

namespace kestrune {

/// The mode emittances of machine about its closed orbit: modeEmittances with the element maps of optics
/// (orbitOptics of machine) in place of the design's, with the geometry and rf of machine. Refused as
/// optics was when it was not computed.
ModeEmittances orbitModeEmittances(const State& machine, const OrbitOptics& optics);

/// The ring of a machine with errors (misalignments, field errors) or kicks about its closed orbit (4D,
/// rf off), as the ring window shows it: the optics about the orbit, the mode emittances about it
/// (orbitModeEmittances, as a study's seeds have them) and the chromaticities of its eigentunes.
struct OrbitRing
{
    bool applies = false;  // the line has errors or kicks: its ring is taken about its closed orbit
    bool computed = false; // the optics about the orbit were found
    std::string refusal;   // "no closed orbit: ..." or why the optics about it cannot be had
    OrbitOptics optics;
    ModeEmittances modes;
    OrbitChromaticity chromaticity;
};

/// The ring of state about its closed orbit; applies false, and nothing computed, for a line without
/// errors and kicks (its closed orbit is the design axis).
OrbitRing orbitRing(const State& state);

/// The ring window's lines of a ring about its closed orbit: orbit the two lines saying so
/// (orbitOpticsText, the tunes on the first), or for a machine without one "no closed orbit: ...;" and
/// "the design's values are shown"; chromaticity
/// "chromaticity about the closed orbit: dQ1/d delta = ..., dQ2/d delta = ..." or its refusal (empty
/// without an orbit); the modes' lines and the eigentunes about the orbit, empty without an orbit.
struct OrbitRingView
{
    std::string orbit, chromaticity, eigentunes;
    ModeEmittanceView modes;
};
OrbitRingView orbitRingView(const State& state, const OrbitRing& ring);

} // namespace kestrune
