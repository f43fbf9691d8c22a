#pragma once

#include "core/State.h"
#include "core/rf/ChartLimits.h"

#include <vector>

namespace kestrune {

/// The longitudinal potential H(phi) = -(2 pi f_s)^2 (tan phi_s (phi - phi_s) + cos phi / cos phi_s - 1),
/// phi and phi_s in rad, f_s in Hz.
double longitudinalPotential(double phi, double phiS, double fS);

/// One curve of a graph, its points in the order they are drawn.
struct GraphCurve
{
    std::vector<double> x;
    std::vector<double> y;
};

/// What a phase-space curve shows.
enum class PhaseCurveKind { Separatrix, Unstable, Stable };

/// A phase-space curve: phase in degrees, energy deviation dE/E in %.
struct PhaseCurve
{
    PhaseCurveKind kind = PhaseCurveKind::Unstable;
    GraphCurve points; // empty for a skipped trajectory
};

/// Number of curves of the phase-space graph: three separatrices and twenty trajectories.
constexpr int kPhaseCurveCount = 23;
/// Points at or beyond this phase (deg) are left out of every curve.
constexpr double kPhaseCut = 721;

/// The start phases (rad) of the twenty trajectories: 18 degrees apart from 0, jumping by 2 phi_s - pi
/// where a step has just passed pi - phi_s or 3 pi - phi_s, so that no start lies between the unstable
/// point and the synchronous phase.
std::vector<double> trajectoryStarts(double phiS);

/// True when a trajectory starting at phi0 is drawn: outside the stretches between the unstable point
/// (2i - 1) pi - phi_s and the synchronous phase 2 (i - 1) pi + phi_s of the first three buckets.
bool trajectoryDrawn(double phi0, double phiS);

/// The longitudinal phase space from the last rf results (synchronous phase, synchrotron frequency, the
/// slip factor they used) and the rf frequency: the separatrices of the first three buckets, then twenty
/// trajectories started 18 degrees apart (skipping the phases between pi - phi_s and phi_s), each sampled
/// in at most 201 points and closed on the axis where it turned. A trajectory is stable when it starts
/// inside a bucket below its separatrix.
std::vector<PhaseCurve> phaseSpaceCurves(const RfParameters& rf);

/// The rf potential over 0..720 degrees in 5 degree steps, in units of its value at the unstable fixed
/// point pi - phi_s; empty when that value is 0.
GraphCurve rfPotentialCurve(const RfParameters& rf);

/// The smallest and largest finite x and y of the curves, the limits a graph of them starts from; 0 .. 1
/// on an axis without points.
ProposedLimits curveLimits(const std::vector<const GraphCurve*>& curves);

} // namespace kestrune
