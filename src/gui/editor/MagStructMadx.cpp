#include "core/editor/MadxImport.h"
#include "core/io/LatticeFile.h"
#include "core/io/Listing.h"
#include "core/io/SafeFile.h"
#include "core/io/madx/MadxExport.h"
#include "core/io/madx/MadxReader.h"
#include "gui/editor/MagStructWindow.h"

#include <QDir>

namespace kestrune {

// File › "Import MAD-X...", "Export MAD-X...", "Export TFS table..."

QString MagStructWindow::exportPreset(const char* extension) const
{
    // the export's own name, never the lattice file's
    return QString::fromStdString(exportFilePreset(m_state, QDir::currentPath().toStdString(), extension));
}

void MagStructWindow::importMadxClick()
{
    if (!saveChangesFirst())
        return;
    const QString fileName = m_dialogs.openFile(kImportMadxTitle, kMadxFilter);
    if (!fileName.isEmpty())
        importMadx(fileName);
}

void MagStructWindow::importMadx(const QString& fileName)
{
    // the imported design is not a lattice file yet: its title stays marked until it is saved
    recorded("import", [&] {
        if (importMadxLattice(m_state, m_editor, fileName.toStdString(), messages())) {
            m_state.documentFile = fileName.toStdString();
            markDesignUnsaved(m_state, std::string());
            lineOpened();
            rememberFile(fileName);
        }
    });
}

void MagStructWindow::exportMadxClick()
{
    // refused before a file is chosen when the line has elements MAD-X does not know
    const std::optional<std::string> text = madxText(m_state, messages());
    if (!text)
        return;
    const QString fileName = m_dialogs.saveFile(kExportMadxTitle, kMadxFilter, "madx", exportPreset(".madx"));
    if (!fileName.isEmpty())
        writeTextFileSafely(fileName.toStdString(), *text, messages());
}

void MagStructWindow::exportTfsClick()
{
    const std::optional<TfsTable> table = latticeFunctionsTable(m_state, messages());
    if (!table)
        return;
    const QString fileName = m_dialogs.saveFile(kExportTfsTitle, kTfsFilter, "tfs", exportPreset(".tfs"));
    if (!fileName.isEmpty())
        writeTextFileSafely(fileName.toStdString(), tfsText(*table), messages());
}

} // namespace kestrune
