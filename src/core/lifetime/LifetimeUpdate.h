#pragma once

#include "core/Messages.h"
#include "core/State.h"
#include "core/lifetime/Lifetime.h"

#include <optional>
#include <string>

namespace kestrune {

/// The texts of the lifetime window's input boxes, with the window's start texts.
struct LifetimeBoxes
{
    // elastic scattering
    std::string ratio = "1.0";         // edRatio, height / width
    std::string gasPressure1 = "1.0 "; // edGasP1, nTorr
    std::string acceptance = "10.0";   // edAcc, mm mrad, vertical
    std::string averageBetaY = "10.0"; // edAvgBy, m
    // bremsstrahlung
    std::string energyAcceptance = "1.0"; // edEnAcc, %
    std::string gasPressure2 = "1.0";     // edGasP2, nTorr
    // quantum lifetime
    std::string energyAcceptance1 = "1.0"; // edEnAcc1, %
    std::string acceptanceX = "20.0";      // edAccx, mm mrad
    std::string acceptanceY = "10.0";      // edAccy, mm mrad
    // Touschek
    std::string energyAcceptance2;      // edEnAcc2, %: empty until the rf results fill it
    std::string bunchCurrent = "1.0";   // edBunCur, mA
    std::string averageBetaX = "10.0";  // edAvgBx, m
    std::string averageBetaY1 = "10.0"; // edAvgBy1, m
    std::string coupling = "1.0";       // edCoupling, %
    std::string bunchLength;            // edBunLen, mm: empty until the rf results fill it
};

/// The refusal a lifetime box's update gives for text typed into it: the message for a value outside
/// its formula's domain, nothing for a good one (or an empty box the update fills). Throws
/// ConversionError for text that is not a number.
std::optional<std::string> lifetimeBoxRefusal(std::string LifetimeBoxes::*box, const std::string& text);

/// True for a shared result that has been computed: finite and not 0.
bool resultAvailable(double value);

/// The window's activation: boxes filled from the ring's average betas, the vacuum's average pressure
/// and the RF's energy acceptance and bunch length; a missing one is said in a message and its default
/// (10 m, 1e-9 Torr, 1 %) goes into the shared state. Clears the four lifetimes.
void activateLifetime(State& state, LifetimeBoxes& boxes, Messages& messages);

/// The menu "Touschek": the Touschek beta boxes from the ring's averages; an average below 1e-5 m
/// (or missing) becomes 10 m in the shared state and "10.0" in its box.
void touschekMenu(State& state, LifetimeBoxes& boxes);

/// Elastic scattering: empty boxes filled ("1.0", "0.0", "10.0"), the lifetime computed and kept in
/// state.lifetimes. Throws ConversionError at a box that is not a number; refuses values outside the
/// formula's domain with a message naming the box. Returns the result label's text.
std::optional<std::string> updateElastic(State& state, LifetimeBoxes& boxes, Messages& messages);

/// Bremsstrahlung: the energy acceptance as typed (an empty box reads 0), refused outside 0..100 %.
std::optional<std::string> updateBremsstrahlung(State& state, LifetimeBoxes& boxes, Messages& messages);

/// The labels of a quantum-lifetime update.
struct QuantumLabels
{
    std::string energySpread, emittanceX, emittanceY; // lSige, lEpsx, lepsy
    std::string nE, nX, nY;                           // lne, lnx, lny
    std::string tauE, tauX, tauY;                     // lqte, lqtx, lqty
    std::string total;                                // lqtot
    QuantumLifetime lifetime;                         // the values behind them
};

/// Quantum lifetime from the ring's energy spread, emittances and damping times (which must be
/// available); a vertical emittance of 0 becomes 1 % of the horizontal one (coupling 0.01), also in
/// the shared state, while the emittance label shows the value found.
std::optional<QuantumLabels> updateQuantum(State& state, LifetimeBoxes& boxes, Messages& messages);

/// The result of a Touschek update.
struct TouschekUpdate
{
    std::string label; // lTouschek
    TouschekInput input;
    TouschekLifetime lifetime;
};

/// Touschek lifetime from the results in the state: empty energy-acceptance, bunch-length and coupling
/// boxes are filled from the RF results of the design and rf settings as they are and the ring results; an
/// energy acceptance or bunch length left empty is refused by name. The ring's emittance and revolution
/// frequency must be available. Where C(zeta) <= 0 the lifetime is not available: the label says so and the
/// combination says why.
std::optional<TouschekUpdate> updateTouschek(State& state, LifetimeBoxes& boxes, Messages& messages);

/// The Touschek group's "update": the ring's equilibrium and the rf parameters brought up to date first
/// (updateRfParameters, so that the energy acceptance and bunch length the empty boxes take are the RF's
/// own; a refusal is said and the boxes' values are used), then updateTouschek.
std::optional<TouschekUpdate> runTouschekUpdate(State& state, LifetimeBoxes& boxes, Messages& messages);

/// The combined lifetime (s) when all four are known.
std::optional<double> combinedLifetime(const Lifetimes& lifetimes);

/// The combined-lifetime label: the lifetime in hours, or which lifetimes are missing ("no combined
/// lifetime: the elastic and quantum lifetimes are missing"), or why there is none.
std::string combinedLifetimeText(const Lifetimes& lifetimes);

} // namespace kestrune
