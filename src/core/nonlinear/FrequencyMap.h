#pragma once

#include "core/aperture/ApertureRing.h"
#include "core/aperture/ScanPart.h"
#include "core/aperture/ScanThreads.h"
#include "core/tracking/PhaseVector.h"

#include <vector>

namespace kestrune {

/// The start amplitudes of a frequency map: the x-y plane at a fixed momentum deviation, or x against
/// the momentum deviation (y then starts kRayOffsetY above the orbit).
enum class FrequencyMapPlane {
    XY,
    XDelta,
};

/// A frequency map: a grid of start amplitudes at the ring's start, each tracked 2 x turns (rf off,
/// the physical aperture tested after every element), the tunes of the first and of the second half.
struct FrequencyMapSettings
{
    FrequencyMapPlane plane = FrequencyMapPlane::XY;
    int nx = 50;
    int ny = 50;
    double xMax = 0.01;   // m: x from xMax / nx to xMax from the closed orbit
    double yMax = 0.005;  // m: y from yMax / ny to yMax (XY), or the largest |delta| (XDelta: delta from
                          // -yMax to yMax in ny points)
    int turns = 512;      // turns of each half
    double delta = 0;     // momentum deviation of the XY plane
    bool perTurn = false; // the diffusion of the tune change per turn instead of per half
    Aperture aperture{0.03, 0.015}; // m
    ScanPart part;                  // the points computed (row by row, x fastest)
};

/// Smallest diffusion index given: the index of tunes that agree to the last bit.
constexpr double kLeastDiffusion = -20;

/// One start amplitude of the map.
struct FrequencyMapPoint
{
    double x = 0;            // m, from the closed orbit
    double y = 0;            // m from the closed orbit (XY) or the momentum deviation (XDelta)
    bool computed = false;   // false for points of other parts or not reached before a cancel
    bool lost = false;       // lost within the 2 x turns: no tunes
    int lostTurn = 0;        // the turn of the loss
    bool tunesFound = false; // both halves gave both tunes (a computed point that is not lost may lack
                             // them when its motion has no clear line)
    double qx1 = 0, qy1 = 0; // fractional tunes of the first half
    double qx2 = 0, qy2 = 0; // of the second half
    double diffusion = 0;    // log10(sqrt(dQx^2 + dQy^2)), per turn when asked, at least kLeastDiffusion
};

struct FrequencyMap
{
    std::vector<FrequencyMapPoint> points; // row by row, x fastest
    bool cancelled = false;
};

/// The frequency map of the ring: every point of the part is tracked from the closed orbit of its
/// momentum deviation plus its amplitudes; particles go in blocks over the threads, and each particle's
/// numbers are its own, so the map does not depend on the threads or the parts.
FrequencyMap frequencyMap(const ApertureRing& ring, const FrequencyMapSettings& settings,
                          const ScanControl& control = {});

/// The diffusion index of the tune change between the halves (see FrequencyMapPoint::diffusion).
double diffusionIndex(double dqx, double dqy, int turns, bool perTurn);

} // namespace kestrune
