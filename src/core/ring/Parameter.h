#pragma once

#include "core/Messages.h"
#include "core/State.h"

#include <string>

namespace kestrune {

/// The radiation integrals I1..I5 (m, 1/m, 1/m^2, 1/m, 1/m), the natural chromaticities and the mean
/// beta functions (m) of the ring of superPeriods cells, from the ring pass over one cell (which also
/// leaves the running lattice functions at the cell's end and the ring tunes in ringParams). Without a
/// stable periodic solution every one of them is NaN (not available).
void radiationIntegrals(State& state, Messages& messages);

/// The equilibrium beam from the integrals, the circumference, the particle, beamCurrent,
/// ringParams.coupling and additionalLoss: energy loss U0 (eV), radiated power (W), energy spread,
/// amplitude damping times (s), emittances (m rad), momentum compaction and slip factor. A value whose
/// formula has no finite result (no bends, I2 = I4, 2 I2 + I4 <= 0) is NaN.
void equilibriumParameters(State& state);

/// The emittances (m rad) behind the planes' betatron beam sizes around the ring. For a ring whose planes
/// couple the mean sigma^2 = eps_1 beta_k1 + eps_2 beta_k2 over the mean beta of the plane's own mode:
/// eps_x = eps_1 + eps_2 <beta_12> / <beta_11>, eps_y = eps_2 + eps_1 <beta_21> / <beta_22>; for any
/// other ring emittanceX and emittanceY.
struct PlaneEmittances
{
    double x = 0, y = 0;
};
PlaneEmittances planeEmittances(const RingParameters& ring);

/// Horizontal damping partition J_x = 1 - I4/I2; NaN when I2 = 0.
double dampingPartitionX(const RingParameters& ring);

/// The typed boxes of the beam-parameter group.
struct BeamInput
{
    std::string momentumMeV;     // edEn
    std::string currentMa;       // edCur
    std::string couplingPercent; // edCoupling
};

/// The beam-parameter update: takes momentum, current and coupling from the boxes (refusing, with a
/// message and nothing changed, a momentum that is not positive or a negative current or coupling;
/// ConversionError for text that is not a number), then radiationIntegrals, equilibriumParameters and
/// correctedChromaticity.
bool updateBeamParameters(State& state, Messages& messages, const BeamInput& input);

/// The ring's chromaticities with the sextupole strengths of the lattice into ringParams (NaN without
/// natural chromaticities or a stable periodic solution); after radiationIntegrals.
void correctedChromaticity(State& state);

/// The labels of the beam-parameter group, "n/a" where a value is not available.
struct BeamParameterView
{
    std::string energyLoss, dampingX, dampingY, dampingS, power, emittanceX, emittanceY, energySpread;
    std::string i1, i2, i3, i4, i5;
    std::string circumference, compactionFactor, slipFactor;
    std::string naturalChromaticityX, naturalChromaticityY, correctedChromaticityX, correctedChromaticityY;
};
BeamParameterView beamParameterView(const State& state);

} // namespace kestrune
