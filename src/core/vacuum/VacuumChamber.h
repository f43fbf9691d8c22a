#pragma once

#include "core/BeamLine.h"

#include <vector>

namespace kestrune {

/// Bending radius given to the bend that closes a period ending in a straight, and to bends without
/// curvature: straight for every practical purpose, and never a source of light.
constexpr double kStraightRadius = 1e10; // m
/// Length of the bend appended to a period that ends in a straight.
constexpr double kClosingBendLength = 0.001; // m

/// A vacuum pump of the line as the pressure calculation sees it.
struct ChamberPump
{
    int element = 0;               // index in the beam line
    int segment = 0;               // 0-based index of its straight segment
    double positionInStraight = 0; // m, from the start of its straight, after its own length
    double speed = 0;              // l/s
    double s = 0;                  // m, end of the pump along the beam line (element lengths summed)
};

/// The period split into alternating straight and bend segments, straight first and bend last,
/// with the bends' wall geometry. Segment g (0-based) is a straight for even g and bend (g - 1) / 2
/// for odd g; indexes are taken cyclically over the period.
struct VacuumChamber
{
    double radius = 0;               // m, W
    std::vector<double> length;      // m, segment lengths along the beam line
    std::vector<double> wallLength;  // m, the same with bends along the outer wall (length R / rho)
    std::vector<double> end;         // m, end of each segment along the wall (Z)
    std::vector<double> rho;         // m, per bend, bending radius (|1/curvature|)
    std::vector<double> outerRadius; // m, per bend, rho + W
    std::vector<bool> radiates;      // per bend: false for the closing bend and bends without curvature
    std::vector<ChamberPump> pumps;  // in element order
    bool closingBend = false;        // a 0.001 m bend was appended
    int lightSources = 0;            // bends that radiate

    int segmentCount() const { return static_cast<int>(length.size()); }
    int bendCount() const { return static_cast<int>(rho.size()); }
    /// Wall length of segment g, cyclic.
    double wallSegment(int g) const;
    /// Bend j, cyclic.
    int bend(int j) const;
    /// Length of one period along the wall (m).
    double period() const { return end.empty() ? 0 : end.back(); }
};

/// Splits elements 1..count of the line into segments, records the pumps and appends the closing
/// bend when the line does not end with a bend; bends are rescaled to the outer wall of a round
/// chamber of the given radius (m).
VacuumChamber vacuumChamber(const BeamLine& line, double chamberRadius);

/// What lights a point of the outer wall: the source bend, the sine of the grazing angle and the
/// distance from the tangent point on the source orbit.
struct WallLight
{
    int source = 0;      // 0-based bend index
    double rho = 0;      // m, bending radius of the source
    double sinPsi = 0;   // sine of the grazing angle
    double distance = 0; // m, d
    bool lit = false;    // false where no light arrives (or the source does not radiate)
    /// Photon flux factor sin(psi) / (d rho) (1/m^2); 0 where unlit.
    double flux() const { return lit ? sinPsi / (distance * rho) : 0.0; }
};

/// The light on the wall at distance l (m, along the wall) from the start of segment g: the bend
/// itself once its sagitta reaches the chamber radius, else the bend before it across the straight;
/// in a straight, the bend before it while its rays still reach the wall, else the one before that.
WallLight wallLight(const VacuumChamber& chamber, int g, double l);

} // namespace kestrune
