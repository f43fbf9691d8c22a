#pragma once

#include <optional>
#include <string>

namespace kestrune {

/// The range a setting of the aperture scans must lie in, as typed (mm, %, counts).
struct ScanLimit
{
    double lower = 0;
    double upper = 0;
};

constexpr ScanLimit kAnglesLimit{1, 1000};             // rays
constexpr ScanLimit kTurnsLimit{1, 10000000};          // turns
constexpr ScanLimit kDeltaPercentLimit{-20, 20};       // %, momentum deviation of the dynamic aperture
constexpr ScanLimit kRadialResolutionLimit{1e-4, 10};  // mm
constexpr ScanLimit kApertureLimit{1e-3, 500};         // mm, half aperture (the tracker's 0.5 m)
constexpr ScanLimit kGridPointsLimit{1, 1000};         // points per plane
constexpr ScanLimit kGridExtentLimit{1e-3, 500};       // mm
constexpr ScanLimit kMomentumResolutionLimit{1e-5, 1}; // %
constexpr ScanLimit kEveryLimit{1, 5000};              // every k-th element
constexpr ScanLimit kHalfTurnsLimit{16, 100000};       // turns of each half of a frequency map
constexpr ScanLimit kDeltaExtentLimit{1e-4, 20};       // %, largest momentum deviation of a map
constexpr ScanLimit kPartsLimit{1, 100000};            // parts of a scan

/// The refusal of a value outside its range, naming the setting as the user knows it (a window's box
/// or an option of the batch tool): "'turns' must lie between 1 and 10000000"; nothing inside.
/// whole: the value must also be a whole number.
std::optional<std::string> limitRefusal(const std::string& name, double value, const ScanLimit& limit,
                                        bool whole = false);

} // namespace kestrune
