#include "editor/MadxImport.h"
#include "editor/MagStructWindow.h"
#include "io/LatticeFile.h"
#include "io/MadxExport.h"
#include "io/MadxReader.h"

namespace kestrune {

// File › "Import MAD-X...", "Export MAD-X...", "Export TFS table..."

void MagStructWindow::importMadxClick()
{
    const QString fileName = m_dialogs.openFile(kImportMadxTitle, kMadxFilter);
    if (fileName.isEmpty())
        return;
    if (importMadxLattice(m_state, m_editor, fileName.toStdString(), messages()))
        lineOpened();
}

void MagStructWindow::exportMadxClick()
{
    // refused before a file is chosen when the line has elements MAD-X does not know
    const std::optional<std::string> text = madxText(m_state, messages());
    if (!text)
        return;
    const QString fileName = m_dialogs.saveFile(kExportMadxTitle, kMadxFilter, "madx",
                                                QString::fromStdString(m_state.lastOpenedFile));
    if (!fileName.isEmpty())
        writeTextFileSafely(fileName.toStdString(), *text, messages());
}

void MagStructWindow::exportTfsClick()
{
    const std::optional<TfsTable> table = latticeFunctionsTable(m_state, messages());
    if (!table)
        return;
    const QString fileName = m_dialogs.saveFile(kExportTfsTitle, kTfsFilter, "tfs",
                                                QString::fromStdString(m_state.lastOpenedFile));
    if (!fileName.isEmpty())
        writeTextFileSafely(fileName.toStdString(), tfsText(*table), messages());
}

} // namespace kestrune
