#pragma once

#include "core/State.h"
#include "core/aperture/ApertureRing.h"
#include "core/aperture/DynamicAperture.h"
#include "core/aperture/MomentumAcceptance.h"
#include "core/aperture/ScanThreads.h"
#include "core/orbit/ErrorSeeds.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace kestrune {

/// The aperture scans a study of seeds makes of every seed's machine, with their settings (their parts
/// are not used: each seed is scanned whole).
struct SeedApertureScans
{
    bool dynamicAperture = false;
    bool momentumAcceptance = false;
    DynamicApertureSettings radial;
    MomentumAcceptanceSettings acceptance;
};

/// The names of the numbers the scans give every seed, in their order: da_area_mm2, da_radius_min_mm
/// with the dynamic aperture, ma_smallest with the momentum acceptance.
std::vector<std::string> seedApertureNames(const SeedApertureScans& scans);

/// The ring every seed's scans start from: apertureRing of design with its line as designLine leaves it
/// (its errors off, the correctors' kicks at 0), whose elements each seed's machine replaces. Nothing,
/// after apertureRing's refusal, for a design the scans refuse.
std::optional<ApertureRing> seedScanRing(const State& design, Messages& messages);

/// The ring the aperture window scans: apertureRing of state for a line whose correctors do not kick; for
/// one whose correctors kick (which the optics on the design orbit refuse) seedScanRing of state with
/// the machine's elements (their errors, the kicks; the cavities the design's), so that the scans run
/// about the machine's closed orbit as a study's seeds do. Nothing, after the refusal, where the scans
/// refuse the design or the machine has no closed orbit ("no closed orbit: ...").
std::optional<ApertureRing> apertureScanRing(const State& state, Messages& messages);

/// Appends to outcome.measured the numbers of the scans of one seed's machine (seedApertureNames, nothing
/// where a scan gives none): the scans of the design's ring (seedScanRing of the state the seeds are
/// drawn on) with the elements of the machine (their errors, the correctors' kicks; the cavities the
/// design's), each about the machine's closed orbit. The first refusal of the scans goes into
/// outcome.measureRefusal. A scan that control cancels leaves what it did not reach empty.
void measureSeedApertures(const State& machine, SeedOutcome& outcome, const ApertureRing& design,
                          const SeedApertureScans& scans, const ScanControl& control);

/// What SeedStudy::measure calls: measureSeedApertures on design, or, without a design ring, refusal as
/// every seed's measureRefusal.
std::function<void(const State&, SeedOutcome&)> seedApertureMeasure(std::optional<ApertureRing> design,
                                                                    const std::string& refusal,
                                                                    const SeedApertureScans& scans,
                                                                    const ScanControl& control);

} // namespace kestrune
