#pragma once

#include "cli/BatchSettings.h"
#include "cli/Report.h"
#include "core/Messages.h"
#include "core/State.h"
#include "core/aperture/DynamicAperture.h"
#include "core/aperture/MomentumAcceptance.h"
#include "core/aperture/ScanThreads.h"
#include "core/nonlinear/FrequencyMap.h"

#include <optional>
#include <string>
#include <vector>

namespace kestrune {

/// What the command line asks of the aperture scans, as typed.
struct ApertureRequest
{
    bool dynamicAperture = false;                  // --dynamic-aperture
    std::vector<std::string> grid;                 // --da-grid NX NY XMAX YMAX (mm)
    bool momentumAcceptance = false;               // --momentum-acceptance
    std::string angles = "21";                     // --da-angles
    std::string turns = "1000";                    // --da-turns
    std::string deltaPercent = "0";                // --da-delta
    std::string resolutionMm = "0.1";              // --da-resolution
    std::string maTurns = "512";                   // --ma-turns
    std::string maResolutionPercent = "0.01";      // --ma-resolution
    std::string every = "1";                       // --ma-every
    std::vector<std::string> aperture{"30", "15"}; // --physical-aperture X Y (mm)
    std::string threads = "0";                     // --threads
    std::vector<std::string> frequencyMap;         // --frequency-map NX NY XMAX YMAX (mm; % for x-delta)
    std::string fmTurns = "512";                   // --fm-turns
    std::string fmPlane = "xy";                    // --fm-plane xy|x-delta
    bool fmPerTurn = false;                        // --fm-per-turn
    std::string fmCsv;                             // --fm-csv FILE
    std::string part;                              // --part K/N
    std::vector<std::string> merge;                // --merge FILES...
    bool errorStudy = false;                       // --seeds: --part splits its seeds

    bool anyScan() const
    {
        return dynamicAperture || !grid.empty() || momentumAcceptance || !frequencyMap.empty();
    }
};

/// The scans as the settings of the core, read from the request.
struct ApertureScans
{
    DynamicApertureSettings radial;
    ApertureGridSettings grid;
    MomentumAcceptanceSettings acceptance;
    FrequencyMapSettings frequencyMap;
    int threads = 0;
    ScanPart part;
};

/// Reads and checks the numbers of the request; throws BatchUsageError naming the option for text that
/// is no number, a value outside its range, a --part that is not K/N with 1 <= K <= N, --part without a
/// scan or --report, and --merge with a scan or a lattice (checked by the caller).
ApertureScans apertureScans(const ApertureRequest& request);

/// Runs the scans asked for on the ring of state (computed as the ring window computes it, with the
/// boxes of inputs) and returns their report sections, "dynamic_aperture", "dynamic_aperture_grid",
/// "momentum_acceptance" and "frequency_map", each null when refused (after its message). The momentum
/// acceptance goes into state.localAcceptance; fingerprint identifies the design tracked and the scans'
/// settings. False when a scan was refused. The scans report progress and stop through the cancel flag and
/// progress callback of watch (its threads are those of scans).
bool runApertureScans(State& state, Messages& messages, const BatchInputs& inputs, const ApertureScans& scans,
                      const ApertureRequest& request, Json& sections, std::string& fingerprint,
                      const ScanControl& watch = {});

/// The fingerprint that tells the parts of one study from those of others: the design as tracked
/// (trackingFingerprint of ring), every setting of scans that changes a number, and words, the further
/// settings of the study as numbers.
std::string partFingerprint(const State& ring, const ApertureScans& scans, const ApertureRequest& request,
                            const std::vector<double>& words = {});

/// The document of one part of the scans: {"part": K, "parts": N, "fingerprint": F, and the sections},
/// the items of the other parts null.
Json partDocument(const ApertureScans& scans, const Json& sections, const std::string& fingerprint);

/// Joins the part documents into the sections of the whole scans (and the error study's seeds section),
/// with everything derived from the items (boundary, area, statistics) computed as a run in one piece
/// computes it. Every field read is checked first (present,
/// of its type, lists of the sizes the counts give); throws std::runtime_error naming the file for a part
/// that is no complete part, belongs to scans of another lattice or settings (its fingerprint), misses or
/// repeats.
Json mergeParts(const std::vector<Json>& parts, const std::vector<std::string>& names);

/// The points of a report's "frequency_map" section (a run's or one joined from parts) as the frequency
/// map window writes them (core/nonlinear/FrequencyMapCsv.h): the section read back into its points;
/// empty for a section that is no frequency map.
std::string frequencyMapSectionCsv(const Json& section);

/// Sets the report's lifetime.touschek_local_acceptance_s: the lifetime window's Touschek update with
/// the local momentum acceptance of state (null without one).
void addLocalTouschek(Json& report, const State& state, const BatchInputs& inputs, Messages& messages);

} // namespace kestrune
