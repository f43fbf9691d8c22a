#pragma once

#include "core/Messages.h"
#include "core/State.h"

#include <map>
#include <string>
#include <vector>

namespace kestrune {

/// The open dialog of MAD-X files.
constexpr const char* kImportMadxTitle = "import MAD-X lattice";
constexpr const char* kMadxFilter = "MAD-X files (*.madx *.seq *.mad *.str);;All files (*)";

/// What an import did besides building the beam line, for the one report the user reads.
struct MadxImportSummary
{
    std::string beamLine;               // name of the sequence or line that became the beam line
    int elements = 0;                   // elements of the program's beam line
    std::map<std::string, int> drifted; // MAD-X class -> elements turned into drifts of their length
    std::map<std::string, int> markers; // MAD-X class -> zero-length elements without field kept as markers
    std::map<std::string, int>
        withoutEffect;                   // MAD-X class -> lenses of length 0 whose k l is 0 (as in MAD-X)
    std::vector<std::string> undefined;  // variables and attributes taken as 0 because nothing defined them
    std::vector<std::string> meanGaps;   // bends whose FINT and FINTX differ: one gap, their mean
    std::vector<std::string> skipped;    // commands that are not read (other than the usual ones)
    std::vector<std::string> notUpdated; // "NAME (k1)": attributes at a placement, which MAD-X ignores too
    int superPeriods = 1;                // the line used is N superperiods of a cell, line=(N*cell)
    bool periodic = false;               // the start values are the periodic solution of the line
};

/// The report lines of an import: the line's name and size, the classes turned into drifts or markers
/// and the lenses of length 0 without effect, with their counts, the names taken as 0 and the bends given
/// the mean of two fringe fields.
std::vector<std::string> madxImportReport(const MadxImportSummary& summary);

/// Reads MAD-X input text into the state: the beam line (a fresh table, drawing boxes in
/// state.fileBoxes) with its superperiods (line=(N*cell)), every element kept with its name (markers,
/// monitors, kickers, multipoles, solenoids and cavities as elements of their own kinds), the particle,
/// its energy and the beam current from `beam`, the rf system from the line's RFCAVITY elements (VOLT
/// summed over the ring, FREQ or HARMON, and the power budget's variables of an export), a closed ring
/// when the full ring
/// bends by 360 degrees, and as start values the periodic solution of the line when it has a stable
/// one. The elements take their errors: permanent misalignments (DX .. DPSI of a definition or a placement)
/// and what EALIGN and EFCOMP give the elements SELECT, FLAG=ERROR chose (MadxErrorAssignment); random
/// values (RANF, GAUSS, TGAUSS) are refused. Everything is read into a copy first: on a refusal the
/// message names the file, the line and the construct, the state stays as it was and the result is false.
/// `call` files are found relative to the folder of fileName.
bool readMadxText(State& state, Messages& messages, const std::string& text, const std::string& fileName,
                  MadxImportSummary* summary = nullptr);

/// readMadxText on the contents of fileName.
bool readMadxFile(State& state, Messages& messages, const std::string& fileName,
                  MadxImportSummary* summary = nullptr);

/// True for a file name that the batch tool reads as MAD-X input (.madx, .seq, .mad, any case).
bool isMadxFileName(const std::string& fileName);

} // namespace kestrune
