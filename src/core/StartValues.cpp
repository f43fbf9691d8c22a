#include "core/StartValues.h"

#include "core/Constants.h"
#include "core/Kinematics.h"

namespace kestrune {

void resetDesign(State& state)
{
    BeamParameters& beam = state.beam;
    beam.name = "electron";
    beam.isIon = false;
    beam.charge = 1;
    beam.massNumber = kElectronRestEnergy / kAtomicMassUnit;
    beam.restEnergy = 511000.0;

    state.drawScale = 1.0;
    state.drawBaseline = -60.0;
    state.line.count = 0;
    state.line.length = 0;
    state.line.superPeriods = 1;
    state.ringElementCount = 0;
    state.ringClosed = false;
    state.run.stepAtElementEnds = true;
    state.run.recomputePeriodic = false;
    state.run.periodicAvailable = false;
}

void setStartValues(State& state)
{
    startParticle(state);
    resetDesign(state);
    // the ring's start: cp = 1 GeV with the rounded rest energy
    updateKinematics(state.beam, EnergyKind::Momentum, 1e9);
    state.ringParams.coupling = 0.01;
    state.beamCurrent = 0.1;
    state.rf.voltage = 1e6;
    state.rf.power = 1e5;
}

} // namespace kestrune
