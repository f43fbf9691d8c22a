#pragma once

#include "core/State.h"
#include "core/orbit/ErrorSet.h"
#include "core/orbit/OrbitCorrection.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace kestrune {

/// One seed of an error study: the machine with the errors of the set drawn with the seed, its closed
/// orbit (4D, rf off) at the monitors (at every element end without monitors), corrected when asked, and
/// the optics about the orbit of the machine as it ends.
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
};

/// Mean, rms and largest magnitude of one quantity over the seeds that were computed.
struct SeedStatistic
{
    double mean = 0, rms = 0, max = 0;
};

/// The statistics of a study: the quantities of SeedOutcome by name (x_rms_m, ..., dispersion_y_rms_m),
/// over the computed seeds.
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

SeedStatistics seedStatistics(const std::vector<SeedOutcome>& seeds);

/// Most seeds one study runs.
constexpr int kMaxErrorSeeds = 100000;

} // namespace kestrune
