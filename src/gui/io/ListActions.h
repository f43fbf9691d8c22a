#pragma once
// What every window's lists menu does with the list text: save it to a file, print it.
#include "core/Messages.h"
#include "core/State.h"
#include "gui/FileDialog.h"

#include <QFont>
#include <functional>

class QPrinter;

namespace kestrune {

/// The font of the list text: Courier New 10, fixed pitch.
QFont listTextFont();

/// "save to file": the save dialog preset with the list's own name (never the lattice file's), then the
/// list text written to the chosen file.
void saveListText(State& state, Messages& messages, const SaveFileDialog& saveFile);

/// "print": the print dialog, then the list text in the list font; a message when the printer failed.
void printListText(const State& state, Messages& messages,
                   const std::function<bool(QPrinter&)>& choosePrinter);

} // namespace kestrune
