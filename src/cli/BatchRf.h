#pragma once

#include "cli/BatchSettings.h"
#include "cli/Report.h"
#include "core/Messages.h"
#include "core/State.h"
#include "core/rf/EnergyScan.h"

#include <string>
#include <vector>

namespace kestrune {

/// The rf names of --set: rf.voltage_kv, rf.power_kw, rf.cavities, rf.misc_loss_percent,
/// rf.additional_loss_kev, rf.material (copper|aluminum) and rf.shunt_impedance_mohm (a typed impedance
/// per cell instead of the scaled one).
std::vector<SettingName> rfSettingNames();

/// The rf parameters (updateRfParameters, as the ring window's rf-parameter list computes them) and the
/// cavity power budget of the lattice file's rf settings on the ring as the ring window computes it
/// (computeRing); false when the ring, the rf parameters or the budget were refused (the message was
/// shown).
bool computeRfBatch(State& state, Messages& messages, const BatchInputs& inputs);

/// --list rf: the rf-parameter list after computeRfBatch; false when it failed or the lattice is not a
/// closed ring (nothing is listed then).
bool appendRfList(State& state, Messages& messages, const BatchInputs& inputs);

/// The report's "rf" section: over_voltage, over_voltage_function, energy_acceptance,
/// synchronous_phase_rad, synchrotron_tune, synchrotron_frequency_hz, bunch_length_m, quantum_lifetime_s,
/// voltage_v, power_w, then the power budget (rf_wavelength_m, cavity_length_m, shunt_impedance,
/// total_impedance_ohm, cavity_loss_w, misc_loss_w, beam_power_w, max_beam_current_a, material). Null for
/// a lattice that is not a closed ring or whose rf parameters cannot be computed; the budget values are
/// null when the budget was refused.
Json rfSection(const State& state, const BatchInputs& inputs, Messages& messages);

/// A scan asked for with --scan QUANTITY CPMIN CPMAX.
struct ScanRequest
{
    ScanQuantity quantity = ScanQuantity::EnergyAcceptance;
    double cpMinGeV = 0;
    double cpMaxGeV = 0;
};

/// The three words of --scan; throws BatchUsageError for an unknown quantity or a momentum that is not a
/// number.
ScanRequest parseScanRequest(const std::vector<std::string>& words);

/// --scan: the energy scan of the ring as CSV (energyScanCsv); false when it was refused.
bool scanCsv(const State& state, Messages& messages, const BatchInputs& inputs, const ScanRequest& request,
             std::string& csv);

/// The --help text of --scan's quantities.
std::string scanHelp();

} // namespace kestrune
