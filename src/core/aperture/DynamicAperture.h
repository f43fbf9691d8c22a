#pragma once

#include "core/aperture/ApertureRing.h"
#include "core/aperture/ScanPart.h"
#include "core/aperture/ScanThreads.h"
#include "core/tracking/PhaseVector.h"

#include <vector>

namespace kestrune {

/// A dynamic-aperture scan: the start amplitudes at the ring's start that survive, at a fixed momentum
/// deviation (rf off), with the physical aperture tested after every element.
struct DynamicApertureSettings
{
    int angles = 21;                // rays from 0 to pi in the x-y plane
    int turns = 1000;               // turns a particle must survive
    double delta = 0;               // momentum deviation
    double resolution = 1e-4;       // m, of the radial search
    Aperture aperture{0.03, 0.015}; // m, half apertures at every element
    ScanPart part;                  // the rays computed; the others stay NaN
};

/// The dynamic aperture: one radius per ray, relative to the closed orbit of the momentum deviation.
struct DynamicAperture
{
    std::vector<double> angles; // rad
    std::vector<double> radius; // m, the largest surviving amplitude found; NaN for rays not computed
    PhaseVector orbit;          // the closed orbit at the start for the momentum deviation
    double sigmaX = 0;          // m, rms betatron size of the equilibrium beam at the start; NaN without one
    double sigmaY = 0;          // m
    bool cancelled = false;
};

/// The vertical offset (m) of every ray's start from the closed orbit: on the midplane a vertical
/// instability (a coupling resonance driven by the sextupoles) would have nothing to grow from, and the
/// rays at 0 and pi would see the horizontal motion alone. 1 um, as the peers use, is far below the beam
/// size and the search resolution.
constexpr double kRayOffsetY = 1e-6;

/// The ray angles of a scan of n rays from 0 to pi (rad); one ray lies at 0.
std::vector<double> rayAngles(int n);

/// The radial search: on every ray of the part the start amplitude r, at x = r cos(angle),
/// y = kRayOffsetY + r sin(angle) from the closed orbit, is bisected between 0 and the aperture's edge
/// at the start, to the resolution, keeping the largest that survives the turns (the
/// edge itself when it survives). Rays are grouped over the threads and tracked together; each
/// particle's numbers are its own, so the radii do not depend on the threads or the parts.
DynamicAperture dynamicAperture(const ApertureRing& ring, const DynamicApertureSettings& settings,
                                const ScanControl& control = {});

/// The area (m^2) inside the boundary of rays from 0 to pi and its mirror image below the midplane: the
/// polygon through the ray ends, NaN while a radius is missing.
double apertureArea(const std::vector<double>& angles, const std::vector<double>& radius);

/// The closed orbit at the entrance of element startElement (1 .. ringElements) of a particle with
/// momentum deviation delta (rf off), by Newton's method on the tracked turn, with the errors and kicks of
/// the lattice's elements; NaN in x, px, y, py where the particle is lost or the turn is singular.
PhaseVector closedOrbit(const SymplecticLattice& lattice, double delta, int startElement = 1);

/// A grid of start amplitudes: x from -xMax to xMax in nx points, y from yMax / ny to yMax in ny points,
/// each tracked once over the turns.
struct ApertureGridSettings
{
    int nx = 41;
    int ny = 20;
    double xMax = 0.03; // m
    double yMax = 0.015;
    int turns = 1000;
    double delta = 0;
    Aperture aperture{0.03, 0.015};
    ScanPart part; // the grid points computed (row by row, x fastest)
};

/// What became of the grid points, x fastest, relative to the closed orbit.
struct ApertureGrid
{
    std::vector<double> x, y; // m
    std::vector<int> turns; // turns survived (the settings' turns for survivors); -1 for points not computed
    std::vector<bool> lost;
    PhaseVector orbit;
    bool cancelled = false;
};

ApertureGrid apertureGrid(const ApertureRing& ring, const ApertureGridSettings& settings,
                          const ScanControl& control = {});

/// The area (m^2) of the surviving grid points, each standing for its cell, with the mirror image below
/// the midplane; NaN while a point is missing.
double gridArea(const ApertureGrid& grid, const ApertureGridSettings& settings);

} // namespace kestrune
