#pragma once

#include "core/BeamLine.h"
#include "core/Constants.h"
#include "core/UndoHistory.h"

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kestrune {

/// The particle and its energy. Energies in eV; changed only through updateKinematics / partE.
struct BeamParameters
{
    std::string name = "electron"; // at most 15 characters (the file's field keeps its padding)
    bool isIon = false;
    int charge = 1;                                            // Z
    double massNumber = kElectronRestEnergy / kAtomicMassUnit; // amu
    double restEnergy = kElectronRestEnergy;                   // eV, mc^2
    double kineticEnergy = 0;                                  // eV
    double totalEnergy = 0;                                    // eV
    double gamma = 0;                                          // E / mc^2
    double beta = 0;                                           // v/c = cp / E
    double momentum = 0;                                       // eV, cp
    double referenceMomentum = 0;                              // eV, cp0 at the start of the line
    double energyGeV = 0;                                      // GeV, E / 1e9
    double cGammaParticle = 0;                                 // m/GeV^3, C_gamma of this particle
    double cQuantumParticle = 0;                               // m, C_q of this particle
};

/// Settings of the optics run: graph mode, start conditions, steps.
struct RunSettings
{
    bool showTrajectory = false;
    bool showBetaFunctions = false;
    bool showBeamSize = false;
    bool recomputePeriodic = false; // periodic solution before every update
    bool periodicAvailable = false; // a periodic solution has been found
    bool periodicStable = false;    // the last periodic solution found both planes stable

    // single-particle start, in the units typed: mm, mrad; D0 m, D0' rad
    double x0 = 0;
    double xp0 = 0;
    double y0 = 0;
    double yp0 = 0;
    double d0 = 0;
    double dp0 = 0;
    double delta = 0; // momentum deviation: a fraction, or units of 1e-3 from the single-particle panel

    // start lattice functions
    double betaX0 = 10; // m
    double alphaX0 = 0;
    double gammaX0 = 0.1; // 1/m
    double betaY0 = 10;
    double alphaY0 = 0;
    double gammaY0 = 0.1;
    double etaX0 = 0;  // m
    double etaPX0 = 0; // rad
    // the coupling of the start values, Edwards-Teng's R (MAD-X's R11, R12, R21, R22: 1, m, 1/m, 1), and
    // the vertical dispersion; the periodic solution of a coupled cell sets them, typed start values
    // have none
    double r11 = 0, r12 = 0, r21 = 0, r22 = 0;
    double etaY0 = 0, etaPY0 = 0; // m, rad
    // which coupled functions a coupled line shows in the places of the planes' own
    bool coupledMaisRipken = false;

    double epsXIn = 0; // m rad, input emittances
    double epsYIn = 0;
    double initialSigmaX = 0; // m
    double initialSigmaY = 0; // m

    bool stepAtElementEnds = true;
    int maxSteps = 200;    // most steps per element
    int maxStepsBox = 200; // the step-count box's value, as lattice files store it
    double maxStep = 0.1;  // m, longest step
};

/// The element matrix R and the total matrix M, 6 x 6 row-major in x, x', y, y', l, delta.
struct TransferMatrix
{
    double r[6][6] = {};
    double m[6][6] = {};
};

struct RingPass; // optics/RingPass.h

/// Running and start values of a pass over the beam line.
struct LatticeFunctions
{
    double betaX = 0, alphaX = 0, gammaX = 0;
    double betaY = 0, alphaY = 0, gammaY = 0;
    double phiX = 0, phiY = 0;           // phase advance since the start of the pass, units of 2 pi
    double eta = 0, etaP = 0;            // m, rad
    double x = 0, xp = 0, y = 0, yp = 0; // trajectory, mm and mrad
    double d = 0, dp = 0;                // dispersion trajectory
    double epsX = 0, epsY = 0;           // m rad, running emittances
    double delta = 0;                    // running momentum deviation
    double s = 0;                        // m, path length of the ring pass
    double tuneX = 0, tuneY = 0;         // ring tunes
};

/// What the equilibrium of a ring whose planes couple takes from its eigenmodes (modes 1 and 2 mostly x
/// and y, 3 the longitudinal one) in place of the planes' integrals; none of it depends on the energy.
struct ModeRadiation
{
    bool coupled = false;              // the ring's results are those of its modes
    std::array<double, 3> partition{}; // damping partitions J_1, J_2, J_3 (J_1 + J_2 + J_3 = 4)
    std::array<double, 2> i5{};        // 1/m: eps_k = C_q gamma^2 i5_k / (J_k I2) of modes 1 and 2
    double i3 = 0;                     // 1/m^2: sigma_delta^2 = C_q gamma^2 i3 / (J_3 I2) of mode 3
    double averageBeta12 = 0;          // m, mean Mais-Ripken beta_12 (x of mode 2)
    double averageBeta21 = 0;          // m, mean beta_21 (y of mode 1)
};

/// Circumference, frequencies and the equilibrium parameters of a ring. A result that cannot be
/// computed (a ring without bends has no damping) is NaN, shown as not available.
struct RingParameters
{
    double totalDeflection = 0;     // deg, of the whole ring
    double circumference = 0;       // m
    double revolutionFrequency = 0; // Hz
    double harmonicNumber = 0;
    double i1 = 0, i2 = 0, i3 = 0, i4 = 0, i5 = 0; // radiation integrals (m, 1/m, 1/m^2, 1/m, 1/m)
    double tuneX = 0, tuneY = 0;
    double chromaticityX = 0, chromaticityY = 0; // natural
    double correctedChromaticityX = 0, correctedChromaticityY = 0;
    double averageBetaX = 0, averageBetaY = 0;                   // m
    double energyLoss = 0;                                       // eV per turn, U0, with additionalLoss
    double additionalLoss = 0;                                   // eV per turn, typed in the RF window
    double radiationPower = 0;                                   // W
    double energySpread = 0;                                     // relative
    double dampingTimeX = 0, dampingTimeY = 0, dampingTimeS = 0; // s
    double emittanceX = 0, emittanceY = 0;                       // m rad
    double coupling = 0;                                         // fraction
    double momentumCompaction = 0;                               // alpha_c
    double slipFactor = 0;                                       // eta_c = 1/gamma^2 - alpha_c
    ModeRadiation modes; // a ring whose planes couple: tunes, chromaticities, mean betas (beta_11, beta_22),
                         // damping times and emittances are those of its modes; I5 is not defined
    bool computed = false;
    std::uint64_t stamp = 0; // latticeStamp of the design the integrals were computed for
};

/// RF settings (stored in lattice files of closed rings) and the computed RF results.
struct RfParameters
{
    double frequency = 0; // Hz
    double voltage = 0;   // V, total
    double power = 0;     // W, total
    int cavities = 0;
    double miscLoss = 0; // fraction of the RF power
    // results
    double overVoltage = 0; // q = V_rf / U0
    double overVoltageFunction = 0;
    double synchronousPhase = 0;     // rad
    double synchrotronTune = 0;      //
    double synchrotronFrequency = 0; // Hz
    double bunchLength = 0;          // m, rms
    double quantumLifetime = 0;      // s
    double slipFactor = 0;
    double cavityLength = 0;     // m, total
    double energyAcceptance = 0; // relative
    std::string cavityMaterial;
    double shuntImpedance = 0;  // Ohm, total
    double cavityLossPower = 0; // W
    double miscLossPower = 0;   // W
    double beamPower = 0;       // W
    double maxBeamCurrent = 0;  // A
    bool computed = false;
    std::uint64_t stamp = 0;       // rfStamp of the design and settings the results were computed for
    std::uint64_t budgetStamp = 0; // rfBudgetStamp of the settings the power budget was computed for

    double wavelength = 0;         // m, c / f_rf
    double unitShuntImpedance = 0; // Ohm/m scaled from the pill box, or Ohm per cell as typed
};

/// The four lifetimes of the lifetime window (s); 0 until updated since its last activation.
struct Lifetimes
{
    double elastic = 0;
    double bremsstrahlung = 0;
    double touschek = 0;
    double quantum = 0;
    bool touschekUnavailable = false; // the last Touschek update found C(zeta) <= 0
};

/// The local momentum acceptance the aperture scan leaves for the lifetime window's Touschek lifetime:
/// points at element starts of one period.
struct LocalAcceptance
{
    std::vector<int> elements;      // element 1..N whose start the point is
    std::vector<double> s;          // m, from the start of the period
    std::vector<double> deltaPlus;  // largest positive momentum deviation that survives
    std::vector<double> deltaMinus; // the negative one (<= 0)
    std::uint64_t lattice = 0;      // trackingFingerprint of the state it was computed for

    bool empty() const { return s.empty(); }
};

/// One line of a lattice-function list after an element, kept as numbers until the text is shown: the
/// element's name and nine values in the column order of the list's header.
struct ListNumberRow
{
    std::string name;
    std::array<double, 9> values{};
};

/// Text lines followed by number rows; a list is one or more of these in the order written.
struct ListPart
{
    std::vector<std::string> lines;
    std::vector<ListNumberRow> rows;
    std::size_t nameWidth = kShortNameLength; // characters of the rows' name column
};

/// One list of the list text.
struct ListBlock
{
    std::vector<ListPart> parts;
    bool fromPlotUpdate = false; // written by a plot update: the next plot update replaces it
};

/// The text of the list window and how new lists are added to it. Reached through the functions of
/// io/Listing.h, which format the number rows only when the text is shown, saved or printed.
struct ListText
{
    std::vector<ListBlock> blocks; // the lists in the order written; the last one is the newest
    bool replaceList = false;      // every list first clears the text
    std::string title;             // ListTitle of the lattice-function list
    unsigned long revision = 0;    // counts the changes of the text
};

/// All process-wide state of the program. One instance in the program; tests make their own.
/// The design as its lattice file holds it.
struct SavedDesign
{
    std::string file; // the lattice file a plain save writes; empty: none yet (save as)
    // the design's lattice-file text when it was opened or saved; none for a design that never was in a
    // file, whose unsaved changes are the steps made since the start
    std::optional<std::string> text;
};

struct State
{
    State();

    BeamLine line;
    std::vector<DrawingBox>
        fileBoxes; // drawing boxes as read from a lattice file, index 1..count; missing ones read as zero
    double drawScale = 1.0;      // DrawScale
    double drawBaseline = -60.0; // DrawBaseline

    BeamParameters beam;
    double beamCurrent = 0.1;    // A
    RadiationConstants electron; // C_gamma, C_q of the electron, computed at start

    RunSettings run;
    LatticeFunctions lf;
    TransferMatrix matrix;
    // the ring pass the periodic solution and the passes after it share; copies of the state share it
    // until one of them makes its own
    std::shared_ptr<RingPass> ringPass;

    int ringElementCount = 0; // elements of the expanded full ring
    bool ringClosed = false;
    RingParameters ringParams;
    RfParameters rf;
    double averagePressure = 0;      // Torr; 0 until the vacuum computation has run
    std::uint64_t pressureStamp = 0; // designStamp of the design averagePressure was computed for
    unsigned long designLoads = 0;   // counts the designs opened or imported
    Lifetimes lifetimes;
    LocalAcceptance localAcceptance;

    ListText listing;
    std::string enteredText; // text accepted last in the text-entry dialog

    std::string lastOpenedFile;
    std::string lastSavedFile;
    std::string lastSaveFolder; // folder of the file saved last (lattice, list or chart); empty: none yet
    std::string lastNoDataField = "     "; // the 5-character no-data field of element lines

    std::string documentFile; // the lattice file the design was opened from or saved to last (window title)
    SavedDesign savedDesign;  // what the design's file holds, to tell unsaved changes
    std::string backupFile;   // where line operations copy the design before they change it; empty: nowhere
    UndoHistory history;      // undo and redo of the design; starts at the design made here
};

/// A fingerprint of what tracking results depend on: the cell's elements, the superperiods, the particle
/// and its momentum, the rf voltage and frequency; it changes when any of them changes.
std::uint64_t trackingFingerprint(const State& state);

} // namespace kestrune
