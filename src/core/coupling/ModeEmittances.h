#pragma once

#include "core/State.h"
#include "core/coupling/CoupledOptics.h"

#include <array>
#include <optional>
#include <string>
#include <vector>

namespace kestrune {

/// The equilibrium beam of a ring whose planes may be coupled: the emittances of its three eigenmodes
/// from the radiation's damping and quantum excitation in the bends and the rf system's focusing.
struct ModeEmittances
{
    bool computed = false;
    std::string refusal; // why not, when not computed; or the mode the radiation does not damp
    /// m rad for modes 1 (mostly x) and 2 (mostly y), m for the longitudinal mode 3 (sigma_z sigma_delta
    /// of an uncoupled ring); nothing for a mode that the radiation does not damp
    std::array<std::optional<double>, 3> emittance;
    std::array<double, 3> partition{}; // damping partitions J_k of the modes, J_1 + J_2 + J_3 = 4
    double synchrotronTune = 0;        // of the ring, from the eigenvalue of mode 3
    double energySpread = 0;           // sigma_delta of mode 3 at the cell start, sqrt(eps_3 |E_3,delta|^2)
};

/// The mode emittances of the ring of state.line.superPeriods cells: the particle of state.beam, the
/// total rf voltage state.rf.voltage, the harmonic number and circumference of state.ringParams (the
/// ring's geometry) and its additional loss per turn. The synchronous phase follows from the energy loss
/// of the bends and the slip factor of the coupled optics; the voltage sits in the line's rf cavities as
/// they share it (equally where they hold none), or at the cell start when the line has none. Refused for
/// a line the coupled optics refuse, modes that cannot be separated ("the transverse modes are not
/// separable: on the difference resonance"), a ring without bends or geometry, a voltage that does not
/// exceed the energy loss, and motion that is not stable.
ModeEmittances modeEmittances(const State& state);

/// The same for a machine with errors about its closed orbit: about holds the transverse maps of
/// elements 1..count linearised about the orbit (OrbitOptics::maps), in place of the design's, so that
/// the orbit's kicks, the misalignments, the feed-down of the multipoles and the chromatic kicks of the
/// quadrupoles the orbit passes off centre (a dispersion of the orbit) enter the modes; the radiation
/// stays that of the bends' design curvature, rolled by their tilt and roll error. The field k x the
/// orbit sees in a quadrupole excites as |k x|^3 and damps as (k x)^2 against |h|^3 and h^2 of the
/// bends: 1e-6 and 1e-4 for 1 mm in k = 1/m^2 beside rho = 10 m, left out.
ModeEmittances modeEmittances(const State& state, const std::vector<Map5>& about);

/// What the rf system takes of a ring whose planes may be coupled, from the coupled optics: the energy
/// loss per turn of its bends (eV, with the additional loss of state.ringParams) and the slip factor
/// eta_c = 1/gamma^2 - alpha_c of the path length of the periodic off-momentum orbit through the cell's
/// 6 x 6 maps. Refused as the coupled optics refuse the line, and for a ring without bends or at
/// transition.
struct LongitudinalRing
{
    bool computed = false;
    std::string refusal;
    double energyLoss = 0;         // eV per turn
    double slipFactor = 0;         // eta_c
    double momentumCompaction = 0; // alpha_c
};
LongitudinalRing longitudinalRing(const State& state);

/// The ring window's labels of the mode emittances ("n/a" where not computed) and of where its vertical
/// emittance comes from: the coupling sources of the line (mode 2) or, for a line without any, the
/// typed coupling; the refusal there when they were not computed.
struct ModeEmittanceView
{
    std::string mode1, mode2, mode3, verticalSource;
};
ModeEmittanceView modeEmittanceView(const State& state, const ModeEmittances& modes);

/// The ring window's lines of the coupled optics: "eigentunes: Q1 = ..., Q2 = ..." and "closest tune
/// approach: dQmin = ... (QF, QD)" for a ring with coupling sources, the refusal where they cannot be
/// computed, and for a ring without them that its tunes are the planes' and dQmin is 0.
struct CouplingView
{
    std::string eigentunes, closestApproach;
};
CouplingView couplingView(const State& state);

} // namespace kestrune
