#pragma once

#include "core/aperture/ApertureRing.h"
#include "core/aperture/ScanPart.h"
#include "core/aperture/ScanThreads.h"
#include "core/tracking/PhaseVector.h"

#include <vector>

namespace kestrune {

/// A local momentum-acceptance scan: at element starts of one period, the largest momentum deviations
/// of either sign that a particle on the closed orbit (4D, rf off: the axis of a ring without errors or
/// kicks) survives, rf on (the particle oscillates in
/// the bucket), with the physical aperture tested after every element.
struct MomentumAcceptanceSettings
{
    int turns = 512;
    double resolution = 1e-4;       // of the momentum deviation
    int every = 1;                  // the start of every k-th element, from element 1
    Aperture aperture{0.03, 0.015}; // m, half apertures at every element
    ScanPart part;                  // the points computed; the others stay NaN
};

/// The local momentum acceptance at the points of the scan.
struct MomentumAcceptance
{
    std::vector<int> elements; // element 1..N of the period whose start the point is
    std::vector<double> s;     // m, from the start of the period
    std::vector<double>
        deltaPlus; // the largest positive deviation below which all survive; NaN: not computed
    std::vector<double> deltaMinus; // the negative one (<= 0)
    double rfAcceptance = 0;        // the rf bucket's momentum deviation, the searches' limit
    bool cancelled = false;
};

/// The elements whose starts a scan takes: 1, 1 + every, ... up to cellElements.
std::vector<int> acceptancePoints(int cellElements, int every);

/// False, after kAcceptanceNeedsRf, when the ring has no rf system to hold the particles.
bool checkAcceptanceRing(const ApertureRing& ring, Messages& messages);

/// The scan: at every point of the part, delta+ and delta- searched from 0 outwards up to the rf
/// acceptance: the largest deviation below which every deviation tried survives, to the resolution (32
/// trials evenly up to the rf acceptance, then the bracket above the last survivor split in up to 16
/// parts per round). Survivors above a lost deviation (stable islands) do not count. Both signs are
/// tracked together from the point round the ring; the points go to the threads one by one, so the
/// results do not depend on the threads or the parts. The ring must have passed checkAcceptanceRing.
MomentumAcceptance momentumAcceptance(const ApertureRing& ring, const MomentumAcceptanceSettings& settings,
                                      const ScanControl& control = {});

} // namespace kestrune
