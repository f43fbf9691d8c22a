#pragma once

#include "core/Messages.h"
#include "core/State.h"

#include <optional>
#include <string>

namespace kestrune {

/// Title, filter and default extension of a file dialog, as the windows set them up.
struct FileDialogText
{
    const char* title;
    const char* filter;
    const char* defaultExtension;
};

/// The "save as" dialog of lattice files; it starts from state.lastOpenedFile.
constexpr FileDialogText kSaveLatticeDialog{"save lattice data to file", "Lattice Data |*.lat;*.dat;*.txt;",
                                            "lat"};
/// The editor's open dialog of lattice files.
constexpr FileDialogText kOpenLatticeDialog{
    "select data file", "Any File, *.*|*|ASCII File, *.TXT|txt|Lattice File, *.LAT|lat|Data File, *.DAT|dat",
    "*"};

/// First line of the format this program writes (version 4: whole names, exact reals, one record per
/// element); 1003 is version 3, 1001 and 1002 are versions 1 and 2, less is version 0.
constexpr int kCurrentLatticeFormat = 1004;
/// First line of the previous format, which save as still offers.
constexpr int kPreviousLatticeFormat = 1003;

/// A real in the 23-character long form of the previous format: " 1.50000000000000E+0000".
std::string longReal(double value);
/// A real in the current format: the shortest decimal text that reads back to the same double ("0.3").
std::string exactReal(double value);

/// The whole design as lattice-file text in format (kCurrentLatticeFormat or kPreviousLatticeFormat), CR LF
/// line ends. A referenceMomentum that is not positive is set to 1e9 eV in the state first.
std::string latticeFileText(State& state, int format = kCurrentLatticeFormat);
/// The design as latticeFileText writes it, the state unchanged (a reference momentum that is not
/// positive written as 1e9 eV).
std::string designText(const State& state, int format = kCurrentLatticeFormat);
/// Why the previous format cannot hold line (the elements whose names are longer than 5 characters, by
/// name and index); nothing when it can.
std::optional<std::string> previousFormatRefusal(const BeamLine& line);

/// Parses lattice-file text (any of the four formats) on top of a copy of state and takes the copy
/// over only when the whole text was read. On failure reports the file name, the line and what was
/// expected through messages.error, leaves state untouched and returns false.
bool readLatticeText(State& state, Messages& messages, const std::string& text, const std::string& fileName);

/// Writes the design to fileName in format, replacing the file; true on success. The previous format is
/// refused, naming the elements, when it cannot hold the line.
bool writeLatticeFile(State& state, Messages& messages, const std::string& fileName,
                      int format = kCurrentLatticeFormat);

/// Reads the lattice file fileName as readLatticeText does; true on success.
bool readLatticeFile(State& state, Messages& messages, const std::string& fileName);

/// "save as" after the dialog chose fileName: records it as the last saved name and writes the file;
/// once written, it is the design's file and the design counts as saved. A refusal of the previous format
/// changes nothing of the state.
bool saveLatticeAs(State& state, Messages& messages, const std::string& fileName,
                   int format = kCurrentLatticeFormat);

/// Writes the design to state.backupFile without asking; nothing when no backup file is set.
bool saveBackupLattice(State& state, Messages& messages);

/// The design as it stands is what fileName holds (just opened or saved; empty: a new design).
void markDesignSaved(State& state, const std::string& fileName);
/// The design stands for fileName but no lattice file holds it (an imported MAD-X line).
void markDesignUnsaved(State& state, const std::string& fileName);
/// True when a save would write something else than the design's file holds; for a design that never was
/// in a file, when the history is away from its start.
bool designModified(const State& state);
/// "Save changes to NAME?", NAME the design's file name or "untitled".
std::string saveChangesQuestion(const State& state);

/// "open" after the dialog chose fileName: reads it (recording it as the last opened name when it was
/// read), then asks for the particle when its momentum is not positive. The editor resets the window
/// (Initial) and gives the line a fresh table before, and rebuilds the drawing from state.fileBoxes after.
bool openLattice(State& state, Messages& messages, const std::string& fileName);

} // namespace kestrune
