#pragma once

#include "core/Messages.h"
#include "core/State.h"
#include "core/tracking/SymplecticLattice.h"

#include <optional>
#include <vector>

namespace kestrune {

/// The refusals of the aperture scans.
constexpr const char* kApertureNeedsRing =
    "the aperture scans need a closed ring: close it in the ring window!";
constexpr const char* kApertureNeedsOptics = "the cell has no stable periodic solution!";
constexpr const char* kAcceptanceNeedsRf =
    "the momentum acceptance needs the rf system: give the ring an rf voltage in the rf window!";

/// The ring as the aperture scans see it, taken from the state by the thread that owns the state, so
/// that the scans can run on other threads.
struct ApertureRing
{
    SymplecticLattice lattice;         // the cell, with the rf cavity when the ring has an rf system
    std::vector<double> elementStart;  // m, s at the start of element i (index i - 1) of one period
    std::vector<double> elementLength; // m, length of element i (index i - 1)
    // the periodic solution at the start of the ring
    double betaX0 = 0, alphaX0 = 0, betaY0 = 0, alphaY0 = 0; // m
    double etaX0 = 0, etaPX0 = 0;                            // m, rad
    double betaXMax = 0, betaYMax = 0;     // m, the largest at the ends of the elements (and the start)
    double emittanceX = 0, emittanceY = 0; // m rad, NaN without an equilibrium
    double rfAcceptance = 0;               // largest momentum deviation of the rf bucket; NaN without rf
    bool coupled = false; // the line couples the planes: the functions above are the coupled optics'

    int cellElements() const { return static_cast<int>(elementStart.size()); }
};

/// The ring of the state for the scans: the symplectic cell, the periodic solution, the equilibrium
/// emittances and the rf cavity and acceptance computed on a copy (the rf window's, with the momentum
/// acceptance dE/E / beta^2). Nothing, after kApertureNeedsRing or kApertureNeedsOptics, for a ring
/// that is not closed or a cell without a stable periodic solution. A line that couples the planes
/// takes the coupled optics: beta and alpha of x and y are the Mais-Ripken beta_11, alpha_11 and
/// beta_22, alpha_22 of the mode that lives in each plane, the emittances those of modes 1 and 2, and its
/// rf bucket comes from the energy loss of the bends and the slip factor of the coupled 6 x 6 maps.
std::optional<ApertureRing> apertureRing(const State& state, Messages& messages);

/// Half widths (m) at the ring's start, in x at y = 0 and in y at x = 0, of the largest start
/// amplitudes (slopes 0) whose linear betatron motion stays inside the aperture (m) at every element
/// end: a / sqrt(gamma_0 beta_max) per plane.
struct ApertureBox
{
    double x = 0;
    double y = 0;
};
ApertureBox linearAperture(const ApertureRing& ring, double apertureX, double apertureY);

} // namespace kestrune
