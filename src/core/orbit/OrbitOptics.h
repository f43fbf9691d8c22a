#pragma once

#include "core/Messages.h"
#include "core/State.h"
#include "core/coupling/CoupledOptics.h"
#include "core/optics/Samples.h"
#include "core/orbit/ClosedOrbit.h"

#include <string>
#include <vector>

namespace kestrune {

/// The linear optics of the machine with its errors about its closed orbit (4D, rf off, delta 0): the
/// coupled periodic solution of the Jacobians of the tracker's elements taken about the orbit, and the
/// beating against the design (the same line without errors and with the correctors' kicks at 0).
struct OrbitOptics
{
    bool computed = false;
    std::string refusal; // "no closed orbit: ..." or why the coupled optics cannot be had
    ClosedOrbit orbit;
    double tune1 = 0, tune2 = 0; // eigentunes of the ring, mode 1 the one mostly in x
    // at the start (index 0) and after each element of the cell: Mais-Ripken beta11, beta22 (m), the
    // vertical dispersion (m)
    std::vector<double> betaX, betaY, etaY;
    // (beta - beta_design) / beta_design over the element exits
    double betaBeatXRms = 0, betaBeatXMax = 0, betaBeatYRms = 0, betaBeatYMax = 0;
    double dispersionYRms = 0; // m, over the element exits
    std::vector<Map5> maps;    // of elements 1..N of the cell (index 0..N-1), linearised about the orbit
    std::vector<CoupledFunctions> functions; // about the orbit, at the start and after each element
};

/// The optics of state's ring about its closed orbit.
OrbitOptics orbitOptics(const State& state);

/// The chromaticities dQ1/d delta, dQ2/d delta of the eigentunes of state's ring about its closed orbit
/// (delta the relative momentum deviation, rf off), for a machine whose orbit is off the design axis
/// (correctors that kick, errors); the refusal "at delta = ...: ..." where an orbit or its modes are not
/// found.
struct OrbitChromaticity
{
    bool computed = false;
    std::string refusal;
    double chromaticity1 = 0, chromaticity2 = 0;
};
OrbitChromaticity orbitChromaticity(const State& state);

/// The window's line of the optics about the orbit: "about the closed orbit: Q1 = 3.63190, Q2 =
/// 3.18243; rms beta-beat x 0.12 %, y 0.34 %; rms eta_y 0.012 mm", or the refusal.
std::string orbitOpticsText(const OrbitOptics& optics);

/// The optics about the closed orbit as the beam-dynamics window draws a pass: at the start and after
/// every element of the cell (s from the line's positions) the plot and the list get the Mais-Ripken
/// beta_11, alpha_11 and beta_22, alpha_22 about the orbit in the places of beta, alpha of x and y, the
/// horizontal dispersion about it, and in the trajectory's places the orbit itself (x, y in mm, slopes
/// in mrad, the dispersion as its dispersion trajectory). False, after the refusal through messages ("no
/// closed orbit: ..." or why the optics cannot be had), with nothing handed over.
bool orbitOpticsPass(const State& state, Messages& messages, PlotSink* plot, ListSink* list,
                     OrbitOptics* optics = nullptr);

/// The line without its errors and with every corrector's kick at 0.
BeamLine designLine(const BeamLine& line);

} // namespace kestrune
