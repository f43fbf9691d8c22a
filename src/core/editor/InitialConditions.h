#pragma once

#include "core/Messages.h"
#include "core/State.h"
#include "core/editor/ElementParameters.h"
#include "core/optics/Samples.h"

#include <functional>
#include <string>

namespace kestrune {

/// Texts of the start-condition boxes of pnSinPart and pnInitLatFun, as typed or shown.
struct InitialBoxes
{
    // single particle: mm, mrad, m, rad, per cent
    std::string edXo = "1.0";
    std::string edXpo = "0.0";
    std::string edYo = "1.0";
    std::string edYpo = "0.0";
    std::string edD0 = "0.0";
    std::string edDp0 = "0.0";
    std::string edDpp = "0.0";
    // lattice functions: m, -, m, rad, per cent
    std::string edBetax0 = "10.0";
    std::string edAlphax0 = "0.0";
    std::string edBetay0 = "10.0";
    std::string edAlphay0 = "0.0";
    std::string edEtax0 = "0.0";
    std::string edEtapx0 = "0.0";
    std::string edDelta = "0.0";
    // the start coupling: Edwards-Teng's R (MAD-X's R11 .. R22) and the vertical dispersion, m and rad
    std::string edR11 = "0.0";
    std::string edR12 = "0.0";
    std::string edR21 = "0.0";
    std::string edR22 = "0.0";
    std::string edEtay0 = "0.0";
    std::string edEtapy0 = "0.0";
    // the start typed as a beam matrix S on (x, x', y, y'), its upper triangle: mm^2, mm mrad, mrad^2
    // (the default a beam of 1 and 0.5 mm mrad in betas of 10 m, uncoupled)
    std::string edS11 = "10.0";
    std::string edS12 = "0.0";
    std::string edS13 = "0.0";
    std::string edS14 = "0.0";
    std::string edS22 = "0.1";
    std::string edS23 = "0.0";
    std::string edS24 = "0.0";
    std::string edS33 = "5.0";
    std::string edS34 = "0.0";
    std::string edS44 = "0.05";
    // the start typed as Mais-Ripken values: betas (m) and alphas of plane k (1 x, 2 y) in mode j as
    // edBkj, edAkj, and the phases of the modes' cross-plane parts (rad)
    std::string edB11 = "10.0";
    std::string edB12 = "0.0";
    std::string edB21 = "0.0";
    std::string edB22 = "10.0";
    std::string edA11 = "0.0";
    std::string edA12 = "0.0";
    std::string edA21 = "0.0";
    std::string edA22 = "0.0";
    std::string edNu1 = "0.0";
    std::string edNu2 = "0.0";
    // beam sizes: mm mrad, mm
    std::string edEpsx = "1";
    std::string edEpsy = "1";
    std::string edSigx0 = "1";
    std::string edSigy0 = "1";
};

/// Which start-condition panels a command shows.
struct StartPanels
{
    bool singleParticle = false;   // pnSinPart
    bool latticeFunctions = false; // pnInitLatFun
    bool beamSizes = false;        // gbBeam inside pnInitLatFun
    std::string betaTitle;         // caption of gbBeta (empty: leave it)
};

/// Every "use" and command below reads its boxes in the order of its steps, each through parseDouble:
/// a ConversionError stops it at that box and the values read before stay stored. A true result asks
/// the window to hide the panel and run the beam-dynamics update.

/// The emittance boxes before a command or "use" reads them: true unless one holds a negative number;
/// then "the horizontal emittance must not be negative!" (naming the box) and false, and the caller
/// stores nothing (a negative emittance has no beam size: the curves would be no numbers). A box that is
/// no number is left to the reading, which stops at it.
bool emittancesAccepted(const InitialBoxes& boxes, Messages& messages);

/// "calculate single particle trajectory": graph mode trajectory only; returns the panels to show.
StartPanels singleParticleCommand(State& state);
/// "use" of the single particle: x0, x0', y0, y0', delta = dpp*10, D0, D0'; the particle back at its
/// reference momentum; "define beam line first" (and false) when LineLength is 0.
bool useSingleParticle(State& state, const InitialBoxes& boxes, Messages& messages);
/// The first half of the single-particle "use": x0, x0', y0, y0', delta = dpp*10, D0, D0' from the boxes.
void readSingleParticle(State& state, const InitialBoxes& boxes);
/// The second half, after the window hid the panel: the particle back at its reference momentum;
/// "define beam line first" (and false) when LineLength is 0.
bool finishSingleParticle(State& state, Messages& messages);

/// "start with specific beta_o and alpha_o": lattice functions only, RecomputePeriodic off.
StartPanels initialLatticeCommand(State& state);
/// "use" of the lattice functions. In the lattice-function mode a beta that is not positive gives
/// "select valid betatron functions!" and the update still runs; a beta of 0 (gamma undefined) skips
/// the update (false). The coupling boxes give the start coupling of the modes (R and the vertical
/// dispersion); an R of det R <= -1 has no modes: "the start coupling R11 R22 - R12 R21 must be above -1!"
/// and false.
bool useLatticeFunctions(State& state, InitialBoxes& boxes, Messages& messages);

/// The start typed as a beam matrix (boxes edS11 .. edS44): the Edwards-Teng values of its modes into the
/// beta, alpha and R boxes and the mode emittances into the emittance boxes (mm mrad), so that the "use"
/// of the lattice functions stores them as typed Edwards-Teng values (and a lattice file keeps those). A
/// box that is no number stops it (ConversionError); a matrix that is no beam (not positive definite,
/// modes that cannot be told apart) gives the refusal naming the box, "the beam matrix is not positive
/// definite: its leading 3 x 3 part (up to box S33) has no positive determinant", false and the boxes
/// unchanged.
bool beamMatrixToBoxes(InitialBoxes& boxes, Messages& messages);

/// The other way: the beam matrix of the Edwards-Teng start in the beta, alpha and R boxes for the
/// emittances of the emittance boxes (mm mrad, mode 1 in edEpsx) into the boxes edS11 .. edS44, so that
/// beamMatrixToBoxes gives those values back. A box that is no number stops it (ConversionError); betas
/// that are not positive ("a beam matrix needs positive betas beta_o of both modes"), an R of
/// det R <= -1, emittances that are not positive or equal ones (their matrix would not tell the modes
/// apart) give the refusal, false and the boxes unchanged.
bool boxesToBeamMatrix(InitialBoxes& boxes, Messages& messages);

/// The start typed as Mais-Ripken values (boxes edB11 .. edA22, edNu1, edNu2): the Edwards-Teng values
/// of its modes into the beta, alpha and R boxes, so that the "use" of the lattice functions stores them
/// as typed. A box that is no number stops it (ConversionError); values that are no two modes of a beam
/// give the refusal (edwardsTengOfMaisRipken), false and the boxes unchanged.
bool maisRipkenToBoxes(InitialBoxes& boxes, Messages& messages);

/// The other way: the Mais-Ripken values and phases of the Edwards-Teng start in the beta, alpha and R
/// boxes into the boxes edB11 .. edNu2. A box that is no number stops it; betas that are not positive or
/// an R of det R <= -1 give the refusal, false and the boxes unchanged.
bool boxesToMaisRipken(InitialBoxes& boxes, Messages& messages);

/// The periodic solver: writes the periodic start values into state.run, false on failure.
using PeriodicSolver = std::function<bool(State&, Messages&)>;
/// "look for periodic solution": RecomputePeriodic on, then the periodic solution. On failure the start
/// values and the boxes stay as they were and false is returned. On success the start row (index 0:
/// betaX0, alphaX0, 0, eta0, eta0', betaY0, alphaY0, 0, 0) goes to list (when given), the graph mode
/// becomes lattice functions only, the boxes show the periodic values in "%8.5f", and true.
bool lookForPeriodicSolution(State& state, InitialBoxes& boxes, Messages& messages, ListSink* list);
bool lookForPeriodicSolution(State& state, InitialBoxes& boxes, Messages& messages, ListSink* list,
                             const PeriodicSolver& solver);

/// "show beam sizes": beam sizes only, RecomputePeriodic off; takes the emittances and delta from the
/// boxes and shows eta and the beam sizes of the stored lattice functions. No update yet.
StartPanels showBeamSizesCommand(State& state, InitialBoxes& boxes);
/// "use" of the beam sizes: sigma and epsilon from the boxes give beta = sigma^2/epsilon. An emittance or
/// a size outside its range is refused with a message naming the box, nothing stored, and false.
bool useBeamSizes(State& state, InitialBoxes& boxes, Messages& messages);

/// The panels of the single-particle, lattice-function, beam-size commands and of the periodic
/// solution (both hidden).
StartPanels singleParticlePanels();
StartPanels latticeFunctionPanels();
StartPanels beamSizePanels();
StartPanels hiddenPanels();

/// The boxes' part of the window's reset (the state part is the line editor's initial()): the
/// trajectory and lattice-function boxes back to their start texts, radian angles. The other boxes stay.
void resetBoxes(InitialBoxes& boxes, PanelSettings& settings);

/// The boxes after a lattice file was read: in the trajectory mode the trajectory boxes (dpp = delta/10);
/// otherwise the lattice-function and beam boxes, emittances eps*1e6, sizes sqrt(eps*beta)*1000; "%8.3f".
void boxesAfterFileOpen(const State& state, InitialBoxes& boxes);

} // namespace kestrune
