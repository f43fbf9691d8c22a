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

/// Name of the sequence the export writes.
constexpr const char* kMadxSequenceName = "lattice";

/// The beam line as MAD-X input: `beam`, one definition per distinct element, a sequence with entry
/// positions and `use`. Refuses, naming them, when elements have no MAD-X counterpart (linac sections,
/// einzel lenses, electrostatic accelerators, alpha magnets), and refuses an empty line.
std::optional<std::string> madxText(const State& state, Messages& messages);

/// Writes madxText to fileName (through a temporary file); true on success.
bool writeMadxFile(const State& state, Messages& messages, const std::string& fileName);

/// The lattice functions at the start and at every element's exit, as the beam-line pass with the
/// current start values gives them: NAME, KEYWORD, S, L, BETX, ALFX, MUX (units of 2 pi), DX, DPX,
/// BETY, ALFY, MUY, with the particle, the length and the phase advances Q1, Q2 in the header.
/// Refuses an empty line.
std::optional<TfsTable> latticeFunctionsTable(const State& state, Messages& messages);

/// Writes latticeFunctionsTable to fileName as TFS text; true on success.
bool writeTfsFile(const State& state, Messages& messages, const std::string& fileName);

} // namespace kestrune
