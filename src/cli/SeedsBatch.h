#pragma once

#include "cli/ApertureBatch.h"
#include "cli/BatchSettings.h"
#include "cli/OrbitBatch.h"
#include "cli/Report.h"
#include "core/Messages.h"
#include "core/State.h"
#include "core/aperture/ScanPart.h"
#include "core/aperture/ScanThreads.h"
#include "core/orbit/ErrorSet.h"

#include <cstdint>
#include <optional>
#include <string>

namespace kestrune {

/// What --seeds asks for: seeds first .. first + count - 1, the part of them this run computes, and the
/// scans of every seed's machine of --seeds-aperture ("da", "ma" or "da,ma"; empty for none), with the
/// settings of the aperture scans.
struct SeedsRequest
{
    std::uint64_t first = 0;
    int count = 0;
    ScanPart part;
    std::string aperture;
};

/// The scans of --seeds-aperture as a request of the aperture scans: the dynamic aperture and the
/// momentum acceptance as kinds names them, the other settings of scans, in one piece. Throws
/// BatchUsageError naming the option for kinds that are no such list.
ApertureRequest seedScans(const std::string& kinds, ApertureRequest scans);

/// The report's "seeds" section of the error study of the set on design (the ring as the batch tool
/// has it before the set is applied): first, count, computed, corrected, per_seed [{seed, computed,
/// message, emittance_message, aperture_message, and every quantity of seedQuantities by its name,
/// null where there is none}] and statistics {name: {mean, rms, max, count}, null where no seed has
/// it}. The mode emittances come from the ring with the geometry and rf system the coupling section
/// gives it; with --seeds-aperture each seed's machine is scanned (da_area_mm2, da_radius_min_mm,
/// ma_smallest). A run of a part holds the items of its seeds (the others null) and no computed or
/// statistics; fingerprint then identifies the lattice, the set, the correction and the scans. The
/// progress goes to watch's callback (the batch tool's progress lines without one), its cancel flag
/// stops the study. Nothing, after the message, when the correction request is refused.
std::optional<Json> seedsSection(const State& design, const BatchInputs& inputs, const ErrorSet& set,
                                 const SeedsRequest& seeds, const OrbitCorrectionRequest& correction,
                                 const ApertureRequest& scans, Messages& messages, std::string& fingerprint,
                                 const ScanControl& watch = {});

/// Checks the seeds section of part K of N of file name: the fields the merge reads, the items of its
/// seeds complete and those of the others null. Throws std::runtime_error naming the file.
void checkSeedsPart(const Json& section, const std::string& name, const ScanPart& part);

/// The seeds section joined from the parts' (each checked by checkSeedsPart, in the order of names):
/// every seed from its part, computed and statistics recomputed as one run computes them.
Json joinSeedsParts(const std::vector<Json>& parts, const std::vector<std::string>& names);

} // namespace kestrune
