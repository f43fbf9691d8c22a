#pragma once

namespace kestrune {

/// One particle in the symplectic tracker: SI units, the momenta normalised to the reference momentum.
struct PhaseVector
{
    double x = 0;     // m
    double px = 0;    // P_x / P_0
    double y = 0;     // m
    double py = 0;    // P_y / P_0
    double delta = 0; // (P - P_0) / P_0
    double l = 0;     // m, path-length difference: v times the delay behind the reference particle
};

/// Coordinates (m) beyond which a particle is lost in every case.
constexpr double kTrackingLossLimit = 0.5;

/// Largest |x| and |y| (m) a particle may reach after an element.
struct Aperture
{
    double x = kTrackingLossLimit;
    double y = kTrackingLossLimit;
};

} // namespace kestrune
