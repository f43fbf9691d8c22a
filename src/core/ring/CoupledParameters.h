#pragma once

#include "core/State.h"

namespace kestrune {

/// radiationIntegrals for a ring whose planes couple (coupledPassApplies), from its periodic coupled
/// solution and the equilibrium of its three modes, into state.ringParams with ringParams.modes.coupled:
/// I2 and I3 (the bends' curvature, whatever the planes), I1 = the integral of h eta along the bends'
/// own bending plane (m), I4 = (J_3 - 2) I2 (1/m) from the longitudinal partition, I5 not defined (NaN:
/// each mode has its own, ringParams.modes.i5), the eigentunes, the eigenmodes' natural chromaticities
/// and those with the sextupoles, the mean Mais-Ripken betas (beta_11, beta_22 in averageBetaX/Y), and
/// the modes' partitions and radiation (ringParams.modes) for equilibriumParameters. The modes take the
/// rf system of the state where its voltage exceeds the energy loss, else a weak stand-in (the transverse
/// partitions, the emittances and the energy spread do not depend on it to first order in the
/// synchrotron tune). Without a periodic solution or separable modes every result is NaN.
void coupledRadiationIntegrals(State& state);

} // namespace kestrune
