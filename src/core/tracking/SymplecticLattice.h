#pragma once

#include "core/Messages.h"
#include "core/State.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kestrune {

/// A 2 x 2 block of one transverse plane, acting on (x, px) or (y, py).
struct PlaneMatrix
{
    double m11 = 1, m12 = 0, m21 = 0, m22 = 1;
};

/// The linear flow of a piece of magnet in both planes: the on-momentum matrices, and in a bend the
/// dispersion, x += d1 delta, px += d2 delta, with the path length l += l1 x + l2 px + l6 delta of the
/// coordinates before the flow.
struct LinearFlow
{
    PlaneMatrix x, y;
    double d1 = 0, d2 = 0; // m, rad
    double l1 = 0, l2 = 0; // rad, m
    double l6 = 0;         // m
};

/// One pole face of a bend as a thin symplectic map: the flow of the cubic generator
/// a x (x px - 2 y py) + b px y^2 + cubicX x^3 + cubicXY x y^2, and the linear edge matrix (R21, R43),
/// the generator first at an entrance, the matrix first at an exit.
struct FaceMap
{
    bool present = false;
    double a = 0;            // 1/m
    double b = 0;            // 1/m
    double cubicX = 0;       // 1/m^2
    double cubicXY = 0;      // 1/m^2
    double r21 = 0, r43 = 0; // 1/m
};

/// How an element moves a particle in the symplectic model.
enum class StepKind {
    Identity,  // nothing (pumps and drifts of no length)
    Drift,     // the expanded drift
    Magnet,    // quadrupoles and bends: the linear flow with dispersion and the chromatic and nonlinear rest,
               // split
    Sextupole, // drift and kick, split
    Matrix,    // the optics' own map (linac, einzel lens, electrostatic accelerator, alpha magnets)
    ThinMultipole, // half drift, the kick of every order normal and skew, half drift
    Octupole,      // drift and kick, split as the sextupoles
    Kicker,        // half drift, the corrector's kick, half drift
    Cavity,        // half drift, the rf cavity's longitudinal kick, half drift
    Solenoid       // the exact flow of the solenoid's field, its hard-edge fringes included
};

/// The rf cavity of an element: its energy kick at its centre, the phase taken from the particle's delay.
struct CavityKick
{
    double kick = 0;       // charge V / cp of the reference particle
    double phase = 0;      // rad, 2 pi lag: the phase the reference particle sees
    double phaseSlope = 0; // rad/m: 2 pi f / c, the phase per metre of l at the speed of light
    double slip = 0; // m of the cell from the centre of the cavity before (or the cell start) to this one
    double massRatio2 = 0; // (mc^2 / cp)^2 of the reference particle
};

/// A change of frame of the transverse coordinates with their delta terms and the path length:
/// (x, px, y, py) = m (x, px, y, py) + d delta + c, then l += lz . (x, px, y, py) of before + lc.
struct FrameChange
{
    double m[4][4] = {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}};
    double d[4] = {0, 0, 0, 0};
    double c[4] = {0, 0, 0, 0};
    double lz[4] = {0, 0, 0, 0};
    double lc = 0; // m
};

struct ElementErrorMaps;

/// The compiled map of one element of the cell.
struct ElementMap
{
    StepKind kind = StepKind::Identity;
    double length = 0; // m
    int slices = 1;    // steps of the integration scheme
    double step = 0;   // m, length / slices
    double h = 0;      // 1/m, curvature
    double k = 0;      // 1/m^2, gradient
    double m = 0;      // 1/m^3, sextupole strength
    // magnets: the linear flows over c1 step (first and last), c2 step (inside a step) and 2 c1 step
    // (between two steps), with the nodes of kGaussC1, kGaussC2
    LinearFlow end, inner, join;
    FaceMap entrance, exit;
    // Matrix: the optics' map on (x, x', y, y') with x' = px / (1 + delta), and R16, R26
    double r[4][4] = {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}};
    double r16 = 0, r26 = 0;
    // ThinMultipole: knl, ksl up to the highest order that is not 0 (MAD-X's kick); Octupole: k3 in m
    std::vector<double> knl, ksl;
    double kickX = 0, kickY = 0; // rad, Kicker: px += kickX, py += kickY
    double ks = 0;               // 1/m, Solenoid: Bs / (B rho) of the reference particle
    // a rolled element (MAD-X's TILT, and the roll that makes a skew quadrupole component part of a normal
    // gradient): its map acts on u = x cos + y sin, v = -x sin + y cos, pu and pv alike, its faces included
    bool rolled = false;
    double rollCos = 1, rollSin = 0;
    CavityKick cavity;
    ElementAperture aperture; // the element's own, tested at its entrance and exit
    // an element with errors: its misalignment and its body split at the centre by the field errors' kick;
    // null for an element without errors, whose map is the above alone
    std::shared_ptr<const ElementErrorMaps> errors;
};

/// What the errors of an element make of its map: into the misaligned element's frame, the body (the
/// element whole, or its two halves with the thin kick of the field errors between them), out again.
struct ElementErrorMaps
{
    bool misaligned = false;
    FrameChange entry, exit;
    std::vector<ElementMap> body;
};

/// The rf cavity of the tracker: one thin longitudinal kick per turn at the start of the ring.
struct RfCavity
{
    bool on = false;
    double voltage = 0;    // V: eV gained at the crest per turn
    double harmonic = 0;   // harmonic number
    double phase = 0;      // rad, synchronous phase
    double energyLoss = 0; // eV per turn replaced at the cavity: voltage sin(phase)
};

/// The cell compiled for the symplectic tracker, and what a turn needs besides.
struct SymplecticLattice
{
    std::vector<ElementMap> cell; // elements 1..N of the beam line at index 0..N-1
    int superPeriods = 1;
    double circumference = 0;    // m, of the full ring
    double momentum = 0;         // eV, cp of the reference particle
    double massRatio = 0;        // mc^2 / cp of the reference particle
    RfCavity rf;                 // the rf window's cavity at the start of the ring: off with cavity elements
    bool cavityElements = false; // the cell has rf cavities of its own: the lag follows them (cellSlip)
    double cellSlip = 0;         // m, from the centre of the cell's last cavity to the cell's end

    /// Elements of the full ring: the cell superPeriods times.
    int ringElements() const { return static_cast<int>(cell.size()) * superPeriods; }
};

/// Yoshida's weights of the fourth-order composition S(w1 t) S(w0 t) S(w1 t) of a symmetric
/// second-order step S (the sextupoles).
extern const double kYoshidaW1;
extern const double kYoshidaW0;

/// The magnets' step A(c1 t) B(d1 t) A(c2 t) B(d2 t) A(c2 t) B(d1 t) A(c1 t): the rest B at the three
/// Gauss-Legendre nodes of the step with their weights, between exact linear flows A.
extern const double kGaussC1;
extern const double kGaussC2;
extern const double kGaussD1;
extern const double kGaussD2;

/// The cell of state.line compiled for the particle of state.beam, with the rf cavity when rf.on. The
/// linac, einzel-lens, electrostatic and alpha-magnet elements take the optics' matrices, computed on a
/// copy of the state (their messages, such as a missing ion energy, are the optics'). A cell with rf
/// cavities of its own (voltage above 0) has each kick at its place and never the rf window's cavity.
SymplecticLattice buildSymplecticLattice(const State& state, Messages& messages, const RfCavity& rf);

/// "the tracker cannot take element 'B' (7): a skew gradient k1s of a bend": the first element of line
/// 1..count the symplectic model has no map of (field errors of an rf cavity or of an element that takes
/// the optics' matrix included); nothing when it tracks every one.
std::optional<std::string> trackingRefusal(const BeamLine& line);

/// The rf window's cavity from its stored results: on when the ring is closed and the rf parameters
/// were computed with a positive voltage, harmonic number and circumference.
RfCavity rfCavity(const State& state);

/// The rf window's cavity computed on a copy of the state (updateRfParameters, with its messages) for a
/// closed ring whose rf record has a voltage and whose ring results are there; off otherwise.
RfCavity trackingRfCavity(const State& state, Messages& messages);

/// The lattice without any rf: the rf window's cavity off and the cell's cavities drifts of their length.
void switchRfOff(SymplecticLattice& lattice);

/// The change into the frame of an element misaligned by errors (MAD-X's EALIGN, to first order as MAD-X
/// takes it), and out of it at its exit for an element of this length, curvature and roll.
FrameChange misalignmentEntry(const ElementErrors& errors);
FrameChange misalignmentExit(const ElementErrors& errors, double length, double curvature, double tilt);

/// The pole face of a bend of curvature h (1/m) and gradient k (1/m^2) with face angle psi (rad) and
/// the linear edge matrix (r21, r43).
FaceMap faceMap(double h, double k, double psi, double r21, double r43);

} // namespace kestrune
