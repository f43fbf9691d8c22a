#pragma once

#include "core/Messages.h"
#include "core/State.h"
#include "core/io/TfsTable.h"

#include <optional>
#include <string>

namespace kestrune {

/// Save dialogs of the two exports.
constexpr const char* kExportMadxTitle = "export beam line as MAD-X file";
constexpr const char* kExportTfsTitle = "export lattice functions as TFS table";
constexpr const char* kTfsFilter = "TFS tables (*.tfs);;All files (*)";

/// Name of the sequence (or, for a ring of superperiods, the line of one cell) the export writes.
constexpr const char* kMadxSequenceName = "lattice";
/// Name of the line of superperiods of a ring: ring: line=(N*lattice).
constexpr const char* kMadxRingName = "ring";
/// The values of the rf system that MAD-X has no attribute for, written as variables the import reads.
constexpr const char* kMadxRfPowerVariable = "kestrune_rf_power_w";
constexpr const char* kMadxRfCavitiesVariable = "kestrune_rf_cavity_cells";
constexpr const char* kMadxRfMiscLossVariable = "kestrune_rf_misc_loss";
/// TYPE of the RFCAVITY that carries a ring's rf system where the line has no cavity element: the import
/// reads its voltage and frequency into the rf system and makes no element of it.
constexpr const char* kMadxRfSystemType = "rf system";
/// TYPE of the PLACEHOLDER that carries a marker with a length (a MAD-X MARKER has none).
constexpr const char* kMadxMarkerType = "marker";

/// The beam line as MAD-X input: `beam` (with the beam current as bcurrent), one definition per
/// distinct element, and `use` of either a sequence with entry positions (12 significant digits, so
/// that a file exported, imported and exported again is the same) or, for more than one superperiod,
/// the cell as a line and `ring: line=(N*lattice)`. A ring with an rf system gets an RFCAVITY at the
/// start of the cell carrying its share of the voltage (VOLT, MV) and HARMON, or FREQ (MHz) when the
/// harmonic number is not a whole number; the power, the cavity cells and the miscellaneous loss become
/// variables; a line with cavities of its own carries its rf system in them. Every later kind is written
/// as its MAD-X class (MULTIPOLE, OCTUPOLE, SOLENOID, H/VKICKER, KICKER, MARKER, H/VMONITOR, MONITOR,
/// RFCAVITY) with rolls, skew gradients and apertures, so that the import gives the same elements; the
/// elements' errors follow `use` as SELECT, FLAG=ERROR by range, EALIGN and EFCOMP (absolute values).
/// Refuses, naming them, when elements have no MAD-X counterpart (linac sections, einzel lenses,
/// electrostatic accelerators, alpha magnets), and refuses an empty line.
std::optional<std::string> madxText(const State& state, Messages& messages);

/// Writes madxText to fileName (through a temporary file); true on success.
bool writeMadxFile(const State& state, Messages& messages, const std::string& fileName);

/// The lattice functions at the start and at every element's exit, as the beam-line pass with the
/// current start values gives them: NAME, KEYWORD, S, L, BETX, ALFX, MUX (units of 2 pi), DX, DPX,
/// BETY, ALFY, MUY, with the particle, the length and the phase advances Q1, Q2 in the header. A line
/// that couples the planes is written as MAD-X writes a coupled ring: the periodic coupled solution with
/// the Edwards-Teng functions of modes 1 and 2, DY, DPY and the coupling matrix R11, R12, R21, R22, the
/// eigentunes as Q1, Q2 (refused, with the reason, when the modes cannot be separated). Refuses an empty
/// line.
std::optional<TfsTable> latticeFunctionsTable(const State& state, Messages& messages);

/// Writes latticeFunctionsTable to fileName as TFS text; true on success.
bool writeTfsFile(const State& state, Messages& messages, const std::string& fileName);

} // namespace kestrune
