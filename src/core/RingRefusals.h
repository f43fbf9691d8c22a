#pragma once

#include <cmath>

namespace kestrune {

/// The refusals of computations that divide by a ring result or the rf frequency, shared by the ring,
/// the rf system and the coupled optics.
constexpr const char* kNoEnergyLoss = "no energy loss per turn: the ring has no bends or no equilibrium!";
constexpr const char* kNoSlip = "the slip factor eta_c is 0: there is no phase focusing!";
constexpr const char* kNoHarmonic = "the harmonic number is 0: set the rf frequency in the ring window!";
constexpr const char* kNoCircumference = "the ring circumference is 0: close the ring first!";
constexpr const char* kNoRfFrequency = "the rf frequency is 0: set it in the ring window!";

/// True for a finite number above 0.
inline bool finitePositive(double x)
{
    return std::isfinite(x) && x > 0;
}

} // namespace kestrune
