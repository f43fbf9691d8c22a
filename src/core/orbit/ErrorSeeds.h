#pragma once

#include "core/State.h"
#include "core/aperture/ScanPart.h"
#include "core/orbit/ErrorSet.h"
#include "core/orbit/OrbitCorrection.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace kestrune {

/// A number of a seed's machine measured by the study's caller (a scan of its aperture): its name with
/// the unit, and nothing where the machine has none.
struct SeedQuantity
{
    std::string name;
    std::optional<double> value;
};

/// One seed of an error study: the machine with the errors of the set drawn with the seed, its closed
/// orbit (4D, rf off) at the monitors (at every element end without monitors), corrected when asked (the
/// read noise drawn with the seed's number), and the optics and the mode emittances (modeEmittances
/// about the orbit, with the geometry and rf of the state) of the machine as it ends.
struct SeedOutcome
{
    std::uint64_t seed = 0;
    bool computed = false;
    std::string refusal; // "no closed orbit: ...", the correction's or the optics' refusal
    double xRms = 0, yRms = 0, xMax = 0, yMax = 0; // m, before the correction
    bool corrected = false;
    double xRmsAfter = 0, yRmsAfter = 0, xMaxAfter = 0, yMaxAfter = 0; // m, at the monitors read
    double kickRms = 0, kickMax = 0;                                   // rad
    double tuneShift1 = 0, tuneShift2 = 0;                             // eigentunes less the design's tunes
    double betaBeatXRms = 0, betaBeatYRms = 0, dispersionYRms = 0;
    // eps_1, eps_2 (m rad) and eps_3 (m) about the orbit; nothing where not computed, modeRefusal why
    std::array<std::optional<double>, 3> modeEmittance;
    std::string modeRefusal;
    std::vector<SeedQuantity> measured; // what SeedStudy::measure found, in its order
    std::string measureRefusal;         // why measure found less than it looked for
};

/// Mean, rms and largest magnitude of one quantity over the seeds that were computed and have it.
struct SeedStatistic
{
    double mean = 0, rms = 0, max = 0;
    int count = 0; // seeds with the quantity
};

/// The statistics of a study: the quantities of the seeds by name (seedQuantities), in the order of their
/// first appearance, over the computed seeds.
struct SeedStatistics
{
    int computed = 0;
    std::vector<std::pair<std::string, SeedStatistic>> quantities;
};

/// Runs seeds first .. first + count - 1 of the set on state's ring, each from the design's own errors,
/// corrected by correction when it is given, with the tracked response of the design (its errors out,
/// its kicks at 0) unless correction holds one. progress(done) after every seed; false stops the study
/// (the seeds run so far are kept). Each seed's result depends on its number only.
std::vector<SeedOutcome> runErrorSeeds(const State& state, const ErrorSet& set, std::uint64_t first,
                                       int count, const std::optional<OrbitCorrectionSettings>& correction,
                                       const std::function<bool(int)>& progress = {});

/// How a study runs beyond its seeds and correction.
struct SeedStudy
{
    ScanPart part;                             // the seeds run: first + k for the k (from 0) of the part
    const std::atomic<bool>* cancel = nullptr; // set by another thread: the study stops after a seed
    std::function<void(double)> progress;      // fraction of the part's seeds done, after every seed
    // called on every computed seed with its machine as it ends (errors, correction), to add to measured
    std::function<void(const State& machine, SeedOutcome& outcome)> measure;
};

/// The seeds of the part of first .. first + count - 1, as runErrorSeeds runs them, each with the number
/// it has in the whole study; the outcomes of the part's seeds only, in order. Stops early on cancel.
std::vector<SeedOutcome> runErrorSeeds(const State& state, const ErrorSet& set, std::uint64_t first,
                                       int count, const std::optional<OrbitCorrectionSettings>& correction,
                                       const SeedStudy& study);

/// The named numbers of a seed, as the study's report lists them: x_rms_m, ..., dispersion_y_rms_m, the
/// mode emittances emittance_1_m, emittance_2_m, emittance_3_m, then the measured ones; nothing for a
/// seed not computed, the corrected ones and the kicks of a seed not corrected, and what was not had.
std::vector<SeedQuantity> seedQuantities(const SeedOutcome& seed);

/// The statistics over the quantities of the computed seeds (one list per seed, in the seeds' order),
/// each over the seeds that have it.
SeedStatistics seedStatistics(const std::vector<std::vector<SeedQuantity>>& computedSeeds);

SeedStatistics seedStatistics(const std::vector<SeedOutcome>& seeds);

/// Most seeds one study runs.
constexpr int kMaxErrorSeeds = 100000;

} // namespace kestrune
