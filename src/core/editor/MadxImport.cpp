#include "core/editor/MadxImport.h"

#include "core/Drawing.h"
#include "core/Format.h"
#include "core/io/Listing.h"
#include "core/io/madx/MadxReader.h"

namespace kestrune {

bool importMadxLattice(State& state, EditorState& editor, const std::string& fileName, Messages& messages)
{
    const HistoryAside aside(state);
    State imported = state;
    EditorState importedEditor;
    imported.line.makeFreshTable();
    initial(imported, importedEditor);
    clearList(imported);
    MadxImportSummary summary;
    if (!readMadxFile(imported, messages, fileName, &summary))
        return false;
    ++imported.designLoads;
    state = std::move(imported);
    editor = importedEditor;
    drawFromFileBoxes(state);

    const std::vector<std::string> report = madxImportReport(summary);
    std::vector<std::string> lines{separatorLine(), "   MAD-X import of " + fileName};
    for (const std::string& line : report)
        lines.push_back("   " + line);
    lines.push_back(separatorLine());
    addList(state, lines);
    if (report.size() > 1)
        messages.showList();
    return true;
}

} // namespace kestrune
