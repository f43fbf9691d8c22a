#pragma once

#include "core/Constants.h"
#include "core/Kinematics.h"
#include "core/Messages.h"
#include "core/State.h"
#include "core/io/LatticeFile.h"
#include "core/ring/Parameter.h"
#include "core/ring/RingGeometry.h"

#include <string>

namespace kestrune::test {

/// A 1 GeV electron in a ring whose results are set by hand: C = 100 m, h = 167, U0 = 100 keV,
/// eta_c = 0.005 (below transition), the integrals of a few bends, V_rf = 1 MV and the rf frequency
/// that h and the revolution frequency give.
inline State rfTestRing()
{
    State state;
    selectElectron(state.beam, state.electron);
    updateKinematics(state.beam, EnergyKind::Momentum, 1e9);
    state.beam.referenceMomentum = state.beam.momentum;
    RingParameters& ring = state.ringParams;
    ring.circumference = 100;
    ring.harmonicNumber = 167;
    ring.revolutionFrequency = state.beam.beta * kSpeedOfLight / ring.circumference;
    ring.energyLoss = 1e5;
    ring.slipFactor = 0.005;
    ring.i1 = 0.5;
    ring.i2 = 0.6;
    ring.i3 = 0.15;
    ring.i4 = 0.01;
    ring.i5 = 1e-3;
    ring.dampingTimeS = 0.01;
    ring.computed = true;
    state.rf.frequency = ring.harmonicNumber * ring.revolutionFrequency;
    state.rf.voltage = 1e6;
    state.rf.power = 1e5;
    state.rf.cavities = 1;
    return state;
}

/// The example DBA ring (2 GeV electrons, 12 cells, its rf settings) with geometry, integrals and
/// equilibrium computed; false when a step failed.
inline bool dbaRing(State& state, Messages& messages)
{
    if (!readLatticeFile(state, messages, std::string(KESTRUNE_EXAMPLES) + "/dba-cell.lat"))
        return false;
    const GeometryInput input{std::to_string(state.line.superPeriods), "0"};
    if (!ringGeometry(state, messages, input))
        return false;
    radiationIntegrals(state, messages);
    equilibriumParameters(state);
    return state.ringParams.energyLoss > 0;
}

} // namespace kestrune::test
