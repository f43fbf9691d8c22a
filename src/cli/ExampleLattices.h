#pragma once

#include "core/Messages.h"
#include "core/State.h"

#include <string>

namespace kestrune {

/// A FODO cell of a 16-cell electron ring, 1 GeV, lattice functions from its periodic solution.
State fodoRingCell();
/// A double-bend achromat cell of a 12-cell, 2 GeV electron storage ring with SF and SD sextupoles
/// and vacuum pumps; closed ring with beam current and RF settings, periodic start values.
State doubleBendAchromatCell();
/// A transport line for a singly charged carbon beam: einzel lens, electrostatic accelerator, linac
/// section and quadrupoles, started from given lattice functions.
State ionTransportLine();

/// Writes the three examples as fodo-cell.lat, dba-cell.lat and ion-line.lat into folder; true when
/// all were written.
bool writeExampleLattices(const std::string& folder, Messages& messages);

} // namespace kestrune
