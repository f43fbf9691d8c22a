#include "gui/io/ListActions.h"

#include "core/io/Listing.h"
#include "gui/ListPrinter.h"

#include <QDir>
#include <QPrinter>

namespace kestrune {

QFont listTextFont()
{
    QFont font("Courier New", 10);
    font.setStyleHint(QFont::TypeWriter);
    font.setFixedPitch(true);
    return font;
}

void saveListText(State& state, Messages& messages, const SaveFileDialog& saveFile)
{
    const QString preset = QString::fromStdString(listFilePreset(state, QDir::currentPath().toStdString()));
    const QString fileName = saveFile(kSaveListDialog.title, qtFilter(kSaveListDialog.filter),
                                      kSaveListDialog.defaultExtension, preset);
    if (!fileName.isEmpty())
        saveListAs(state, messages, fileName.toStdString());
}

void printListText(const State& state, Messages& messages,
                   const std::function<bool(QPrinter&)>& choosePrinter)
{
    QPrinter printer(QPrinter::ScreenResolution);
    if (!choosePrinter(printer))
        return;
    if (!printList(printer, toStringList(listLines(state)), listTextFont()))
        messages.error("the list could not be printed");
}

} // namespace kestrune
