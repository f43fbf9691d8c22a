#pragma once

#include <QString>

namespace kestrune {

/// The per-user data directory of the program: the user's help text and the start-up scratch
/// lattice file live there.
QString userDataDirectory();

/// Makes directory (with its parents) and an empty "temp.lat" in it, truncating an existing one.
/// True when the file exists empty afterwards; a failure changes nothing else.
bool makeScratchLatticeFile(const QString& directory);

} // namespace kestrune
