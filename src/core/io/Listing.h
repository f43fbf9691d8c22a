#pragma once

#include "core/Messages.h"
#include "core/State.h"
#include "core/io/LatticeFile.h"
#include "core/optics/Samples.h"

#include <string>
#include <vector>

namespace kestrune {

/// The save dialog of the list text; it starts from listFilePreset.
constexpr FileDialogText kSaveListDialog{"save parameter lists to file", "List Data |*.txt;", "txt"};

/// The list title the beam-line pass gives the lattice-function list.
constexpr const char* kLatticeFunctionsTitle = "Lattice Functions";
/// The list title of the editor's magnet-list command.
constexpr const char* kMagnetListTitle = "   Magnet Parameter List";

/// Starts a new list with these lines: appended to the list text, or replacing it when lists replace
/// each other ("replace" in the lists menus).
void addList(State& state, const std::vector<std::string>& lines);
/// Appends lines to the list written last; never clears the text.
void appendToList(State& state, const std::vector<std::string>& lines);
/// Empties the list text.
void clearList(State& state);
/// The list text as the list window shows, saves and prints it, one string per line.
std::vector<std::string> listLines(const State& state);
/// Index (from 0) of the first line of the newest list in listLines; 0 for an empty text.
std::size_t newestListLine(const State& state);

/// Sets the title of the next lattice-function list.
void setListTitle(State& state, const std::string& title);

/// Appends the magnet list (element, field and momentum columns) and shows the list. Leaves the
/// particle at the momentum after the last linac section; referenceMomentum stays.
void magnetList(State& state, Messages& messages);

/// Who writes a lattice-function list: a list command (the list is added like every other list), or
/// the plot update of the beam-dynamics window, whose list replaces the one of the previous plot update
/// and becomes the newest list, so that the text does not grow while the user tunes.
enum class ListWriter { Command, PlotUpdate };

/// Writes the rows of a pass as lattice-function list lines: the line pass titles its list "Lattice
/// Functions" (other lists keep the title set last); index 0 writes the title block, the column header
/// of the graph mode and the start line; index i the line after element i in the header's columns
/// (beam sizes in mm in the beam-size mode), kept as numbers until the text is shown; the ring pass's
/// tunes end the list. Never shows the list by itself.
class LatticeFunctionList : public ListSink
{
public:
    explicit LatticeFunctionList(State& state, ListWriter writer = ListWriter::Command)
        : m_state(state), m_writer(writer)
    {
    }
    void begin(PassKind pass) override;
    void row(int index, double s, const LatticeFunctions& lf) override;
    void ringTunes(double tuneX, double tuneY) override;

private:
    void widen(ListPart& part, std::size_t width);

    State& m_state;
    ListWriter m_writer;
    // where this pass's header is: its caption and start lines in the header's part, -1 before one
    int m_caption = -1;
    int m_start = -1;
    std::size_t m_block = 0;
    std::size_t m_part = 0;
};

/// Appends the 6 x 6 total matrix M and shows the list.
void matrixList(State& state, Messages& messages);

/// Appends the storage ring parameters of state.ringParams and shows the list.
void ringParameterList(State& state, Messages& messages);

/// Appends the particle and its start energy, momentum, gamma, velocity and normalised emittances and
/// shows the list.
void beamParameterList(State& state, Messages& messages);

/// Appends the RF parameters and cavity power budget of state.rf and shows the list.
void rfParameterList(State& state, Messages& messages);

/// Appends the lattice structure list (lengths, curvatures, face angles in degrees, k, exit positions)
/// and shows the list. Its end position is that of element ringElementCount of the full ring, or the
/// line length while the ring has not been expanded.
void latticeList(State& state, Messages& messages);

/// The list text as a file: one CR LF ended line per list line.
std::string listFileText(const ListText& listing);

/// "save to file" after the dialog chose fileName: writes the list lines, replacing the file safely,
/// and records fileName as the last saved name and its folder as the last save folder; true on success.
bool saveListAs(State& state, Messages& messages, const std::string& fileName);

/// The folder the list and chart save dialogs open in: where the user saved last, else workingFolder.
std::string saveDialogFolder(const State& state, const std::string& workingFolder);
/// The name the list save dialog is preset with: the lattice file opened last with the list extension
/// ".txt", in saveDialogFolder; the folder alone before a lattice file was opened.
std::string listFilePreset(const State& state, const std::string& workingFolder);
/// The name a save dialog for another kind of file (extension such as ".madx") is preset with, by the
/// same rule: never the name of the lattice file opened last, so that accepting it cannot overwrite it.
std::string exportFilePreset(const State& state, const std::string& workingFolder,
                             const std::string& extension);

} // namespace kestrune
