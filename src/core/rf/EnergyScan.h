#pragma once

#include "core/Messages.h"
#include "core/State.h"
#include "core/rf/ChartLimits.h"

#include <optional>
#include <string>
#include <vector>

namespace kestrune {

/// The quantities an energy scan plots, in the order of the "graphs" menu (its tags 0..10).
enum class ScanQuantity {
    EnergyAcceptance,
    OverVoltage,
    SynchronousPhase,
    SynchrotronTune,
    BunchLength,
    QuantumLifetime,
    DampingTimeX,
    DampingTimeY,
    DampingTimeS,
    EnergyLoss,
    RadiationPower
};
constexpr int kScanQuantityCount = 11;

/// The texts of one quantity: menu entry, batch name, chart title, left-axis title and label mask.
struct ScanQuantityText
{
    const char* menuEntry;
    const char* name;   // --scan QUANTITY
    const char* column; // CSV column of the values, with their unit
    const char* title;
    const char* axisTitle;
    const char* mask;
};

/// The texts of quantity.
const ScanQuantityText& scanQuantityText(ScanQuantity quantity);
/// The quantity of a batch name ("energy_acceptance", ...); nullopt for an unknown one.
std::optional<ScanQuantity> scanQuantityNamed(const std::string& name);

/// Points of a scan: momenta from cp_min in 100 steps of (cp_max - cp_min) / 99.
constexpr int kScanPoints = 101;

/// cp_lim (GeV): the momentum at which the synchrotron radiation loss Cgamma cp^4 I2 / (2 pi) equals the
/// rf voltage less the additional loss, which U0 also carries. NaN when there is no such momentum.
double momentumLimitGeV(const State& state);

/// The range the "energy scan" entry proposes (GeV): half the current momentum and cp_lim.
struct EnergyRange
{
    double cpMinGeV = 0;
    double cpMaxGeV = 0;
};
/// The proposed range; nullopt with a message when cp_lim does not exist (no synchrotron radiation,
/// or an rf voltage not above the additional loss).
std::optional<EnergyRange> proposeEnergyRange(const State& state, Messages& messages);

/// The points of an energy scan and what it proposes for the chart.
struct EnergyScan
{
    ScanQuantity quantity = ScanQuantity::EnergyAcceptance;
    std::vector<double> momentumGeV; // kScanPoints momenta
    std::vector<double> value;       // the quantity in the unit of its axis title; NaN where not available
    double cpMinGeV = 0;
    double cpMaxGeV = 0;            // as scanned, after the limit rule
    std::optional<double> limitGeV; // cp_lim when cp_max was brought below it (edEmax shows it)
    ProposedLimits proposed;        // x 0 .. 1.1 max x, y 0.9 min y .. 1.1 max y
};

/// The energy scan: cp_max at or above cp_lim becomes 0.95 cp_lim; at each of the kScanPoints momenta
/// the kinematics, equilibriumParameters and the rf parameters are recomputed and the quantity taken.
/// A voltage the losses of a point exceed is raised for the points that follow, with
/// kRfVoltageRaised shown once after the scan. The particle, the ring results and the rf record
/// (V_rf too) are as before afterwards. Refuses, with a message, a ring without the results the rf
/// formulas need.
std::optional<EnergyScan> energyScan(State& state, Messages& messages, ScanQuantity quantity, double cpMinGeV,
                                     double cpMaxGeV);

/// The scan as CSV: a header "momentum_gev,<column>" and one line per point, 12 significant digits, an
/// empty value where it is not available.
std::string energyScanCsv(const EnergyScan& scan);

} // namespace kestrune
