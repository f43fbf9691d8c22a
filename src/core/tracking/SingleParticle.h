#pragma once

#include "core/Messages.h"
#include "core/State.h"
#include "core/tracking/LinearMapTracking.h"
#include "core/tracking/ParticleTracker.h"
#include "core/tracking/TuneAnalysis.h"

#include <string>

namespace kestrune {

/// The chromaticity window's request for the symplectic model: x, x', y, y' (mm, mrad) of the request
/// as x, px, y, py, its delta when off momentum, the path-length difference lengthMm (mm), the aperture
/// of the shown plane and 500 mm, the cell of state.line and the rf cavity given.
SymplecticRun symplecticRun(const State& state, Messages& messages, const TrackingRequest& request,
                            double lengthMm, const RfCavity& rf);

/// x, px, y, py of a particle in mm and mrad, as the window's boxes and the phase-space chart take them.
PhasePoint transversePoint(const PhaseVector& p);

/// The end of a symplectic run: "particle was lost during turn # t" when it was lost, and the final
/// x, px, y, py (mm, mrad) into the single-particle start values of state.run.
void finishSymplecticTracking(State& state, Messages& messages, const SymplecticRun& run);

/// Turns of a run kept for its tunes; the turns beyond are shown or written and forgotten.
constexpr int kTuneTurns = 1 << 16;

/// The fractional tunes of a run of the linear maps (points in mm and mrad, one per turn); no synchrotron
/// tune.
TrackedTunes linearTunes(const std::vector<PhasePoint>& points);

/// "tunes: Q_x = 0.26340   Q_y = 0.13021   Q_s = 0.007310", n/a where a tune is not available and no
/// Q_s without longitudinal motion.
std::string tunesText(const TrackedTunes& tunes, bool longitudinal);

} // namespace kestrune
