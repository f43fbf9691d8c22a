#pragma once

#include "core/State.h"

#include <array>
#include <optional>
#include <string>
#include <vector>

namespace kestrune {

/// The transverse linear map of the coupled optics with its dispersion terms, on (x, px, y, py, delta):
/// momenta normalised to the design momentum, canonical (they equal the slopes outside solenoids).
using Map5 = std::array<std::array<double, 5>, 5>;

/// The identity map.
Map5 identityMap();
/// a b (a after b).
Map5 product(const Map5& a, const Map5& b);

/// True when element e couples the planes: a skew quadrupole component (k1s, a thin multipole's ksl[1]),
/// a solenoid field, or a roll of a magnet with a field.
bool couplesPlanes(const LatticeElement& e);
/// True when an element of line 1..count couples the planes.
bool lineCouples(const BeamLine& line);

/// Why the coupled optics cannot take element i of line, or nothing: kicks and dipole components move
/// the orbit off the design; linac sections, electrostatic elements and alpha magnets have no coupled
/// map here.
std::optional<std::string> coupledOpticsRefusal(const BeamLine& line);

/// The linear map of element e over its whole length, its pole faces included, rolled by its tilt. The
/// conventions are MAD-X's: a skew quadrupole component k1s kicks px += k1s y ds, py += k1s x ds; a roll
/// by tilt t takes the element's coordinates u = x cos t + y sin t, v = -x sin t + y cos t (t = pi/4
/// makes a normal quadrupole of k1 a skew one of k1s = -k1); a solenoid of ks = Bs / (B rho) turns the
/// canonical momenta by the Hamiltonian ((px + ks y / 2)^2 + (py - ks x / 2)^2) / 2.
Map5 elementMap(const LatticeElement& e);

/// The map of a slice of length l of element e's body (a thick element cut into equal slices), with the
/// pole faces of its entrance and its exit where asked, rolled by its tilt: the slices' maps multiply to
/// elementMap's (the bodies' maps are exponentials of one matrix, a solenoid's in canonical momenta).
Map5 elementSliceMap(const LatticeElement& e, double length, bool entranceFace, bool exitFace);

/// Edwards-Teng parameters at one place: the one-turn map M = V U V^-1 with U block-diagonal (the
/// decoupled modes 1 and 2, each with its Twiss parameters) and V = [[g I, C], [-C^+, g I]],
/// g^2 + det C = 1 (Sagan and Rubin's form, C^+ the symplectic conjugate). MAD-X's coupling matrix is
/// R = C^+ / g (its TWISS columns R11, R12, R21, R22); mode 1 is the mode that lives mostly in x.
struct EdwardsTeng
{
    double betaX = 0, alphaX = 0, betaY = 0, alphaY = 0; // m, 1: of modes 1 and 2
    double r11 = 0, r12 = 0, r21 = 0, r22 = 0;           // 1, m, 1/m, 1
    double gamma = 1;                                    // g
};

/// Mais-Ripken betas and alphas: beta_kj = |v_j,k|^2 for plane k (1 = x, 2 = y) and mode j, of the mode
/// eigenvectors normalised to v^H S v = 2i; alpha_kj = -Re(conj(v_j,k) v_j,pk).
struct MaisRipken
{
    double beta11 = 0, beta12 = 0, beta21 = 0, beta22 = 0;     // m
    double alpha11 = 0, alpha12 = 0, alpha21 = 0, alpha22 = 0; // 1
    double gamma11 = 0, gamma12 = 0, gamma21 = 0, gamma22 = 0; // 1/m: |v_j,pk|^2
};

/// The coupled lattice functions at one place.
struct CoupledFunctions
{
    double s = 0;
    EdwardsTeng et;
    MaisRipken mr;
    double phase1 = 0, phase2 = 0; // phase advances of modes 1 and 2 from the start, in turns
    double eta[4] = {0, 0, 0, 0};  // dispersion of x, px, y, py (m, 1, m, 1)
};

/// The periodic coupled solution of a ring's cell and its functions at the end of every element.
struct CoupledRing
{
    bool computed = false;
    std::string refusal;          // why not, when not computed
    double tune1 = 0, tune2 = 0;  // eigentunes of the ring (all superperiods), integer part from the phases
    Map5 oneTurn = identityMap(); // of one cell
    std::vector<CoupledFunctions> functions; // index 0 the start, then element 1..count
};

/// The periodic coupled solution of the cell state.line. Refused (computed false, refusal set) for a
/// line the coupled optics cannot take, an unstable cell, and modes that cannot be separated: "the
/// transverse modes are not separable: on the difference resonance" when the eigenvalues of the two
/// modes meet or the modes share the planes equally.
CoupledRing coupledRing(const State& state);

/// The same from the linear maps of the cell's elements (in line order) and their lengths (m), the cell
/// repeated superPeriods times: for maps taken about an orbit, such as the closed orbit of a machine with
/// errors.
CoupledRing coupledRing(const std::vector<Map5>& maps, const std::vector<double>& lengths, int superPeriods);

/// Edwards-Teng parameters of a one-turn map M (4 x 4 part); nothing when the modes cannot be separated.
std::optional<EdwardsTeng> edwardsTeng(const Map5& m);

/// The first-order coupling coefficient of the difference resonance, from the uncoupled lattice functions
/// of the ring: C- = (1/2 pi) sum over skew quadrupole sources of K_s L sqrt(beta_x beta_y)
/// exp(i (phi_x - phi_y - (Q_x - Q_y - p) 2 pi s / C)), p the integer nearest Q_x - Q_y.
struct CouplingCoefficient
{
    double re = 0, im = 0, abs = 0;
    bool computed = false; // false (and 0) when the ring without its skew parts has no stable solution
};
/// C- of a ring whose uncoupled pass (betaFunctions) ran with these samples of beta, phase and position
/// at the entrance of every element; skew sources are k1s of quadrupoles and bends, ksl[1] of thin
/// multipoles and the skew component -k1 sin(2 tilt) of rolled quadrupoles.
CouplingCoefficient couplingCoefficient(const State& state);

/// The closest tune approach: the smallest distance of the eigentunes while a knob of two quadrupole
/// families moves the uncoupled tunes across each other.
struct TuneApproach
{
    bool computed = false;
    std::string refusal;
    double deltaQMin = 0;          // smallest eigentune distance of the ring
    double knob = 0;               // where: the change of Qx - Qy the knob makes to first order
    std::string familyA, familyB;  // the families moved (focusing, defocusing)
    double scaleA = 0, scaleB = 0; // there their strengths are (1 + scale) times the design's
};

/// The knob scales the strengths of the quadrupoles of families a and b (by name; empty: the strongest
/// focusing and defocusing families, sum of |k| L) along the direction that changes Qx - Qy and keeps
/// Qx + Qy to first order (from the uncoupled tune response of the ring with its skew parts taken out);
/// the distance of the eigentunes along it is minimised by golden sections to 1e-12 in the knob.
TuneApproach closestTuneApproach(const State& state, const std::string& a = {}, const std::string& b = {});

} // namespace kestrune
