#pragma once

#include "core/Messages.h"
#include "core/State.h"
#include "core/editor/LineEditing.h"

#include <string>

namespace kestrune {

/// "Import MAD-X..." after the dialog chose fileName: like opening a lattice file, the window's reset
/// and a fresh table, the MAD-X input read into a copy, the drawing built; when the input is refused the
/// design stays exactly as it was. The report of the import (elements, classes turned into drifts or
/// markers, lenses of length 0 without effect, names taken as 0) becomes a list of the list window, which is
/// shown when the report says more than the size of the line. True when the input was read.
bool importMadxLattice(State& state, EditorState& editor, const std::string& fileName, Messages& messages);

} // namespace kestrune
