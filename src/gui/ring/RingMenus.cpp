// Menus of the ring window and the commands behind them.
#include "core/NumberInput.h"
#include "core/io/LatticeFile.h"
#include "core/io/Listing.h"
#include "core/optics/BetaFunctions.h"
#include "core/rf/RfUpdate.h"
#include "gui/FileDialog.h"
#include "gui/ListPrinter.h"
#include "gui/MenuItems.h"
#include "gui/Shortcuts.h"
#include "gui/io/ListActions.h"
#include "gui/io/ListingWindow.h"
#include "gui/io/RecentFilesSettings.h"
#include "gui/ring/RingWindow.h"

#include <QAction>
#include <QActionGroup>
#include <QDir>
#include <QGroupBox>
#include <QMenu>
#include <QMenuBar>
#include <QPrinter>
#include <QToolBar>
#include <QToolButton>

namespace kestrune {

namespace {

/// The tool button of a tool-bar action opens menu when pressed.
void attachMenu(QToolBar* bar, QAction* tool, QMenu* menu)
{
    if (auto* button = qobject_cast<QToolButton*>(bar->widgetForAction(tool))) {
        button->setMenu(menu);
        button->setPopupMode(QToolButton::InstantPopup);
    }
}

} // namespace

void RingWindow::buildMenus()
{
    QMenu* file = menuBar()->addMenu("&File");
    file->setObjectName("mnFile");
    setStandardShortcut(addMenuItem(file, "mnSaveAs", "Save &As...", this, [this] { saveAsClick(); }),
                        QKeySequence::SaveAs, Qt::CTRL | Qt::SHIFT | Qt::Key_S);
    setStandardShortcut(addMenuItem(file, "mnFileExit", "E&xit", this, [this] { close(); }),
                        QKeySequence::Close, Qt::CTRL | Qt::Key_W);
    QAction* exit = menuBar()->addAction("Exit");
    exit->setObjectName("mnExit");
    connect(exit, &QAction::triggered, this, &QWidget::close);

    auto* optics = new QMenu("optics", this);
    optics->setObjectName("mnOptics");
    addMenuItem(optics, "mnBetaFunctions", "beta functions", this, [this] { betaFunctionsClick(); });
    addMenuItem(optics, "mnBeamParameters", "beam parameters", this, [this] { beamParametersClick(); });
    addMenuItem(optics, "mnResonance", "resonance diagram", this, [this] { resonanceClick(); });
    setStandardShortcut(addMenuItem(optics, "mnUpdate", "update", this, [this] { btUpdateClick(); }),
                        QKeySequence::Refresh, Qt::Key_F5);
    attachMenu(m_toolBar, m_tbBeamDynamics, optics);

    auto* lists = new QMenu("lists", this);
    lists->setObjectName("mnLists");
    addMenuItem(lists, "mnListShow", "show", this, [this] { listShowClick(); });
    // "add" and "replace" show which one is in force, as other windows may have changed it
    auto* mode = new QActionGroup(lists);
    QAction* add = addMenuItem(lists, "mnListAdd", "add", this, [this] { listAddClick(); });
    QAction* replace = addMenuItem(lists, "mnListReplace", "replace", this, [this] { listReplaceClick(); });
    for (QAction* action : {add, replace}) {
        action->setCheckable(true);
        mode->addAction(action);
    }
    connect(lists, &QMenu::aboutToShow, this,
            [this, add, replace] { (m_state.listing.replaceList ? replace : add)->setChecked(true); });
    addMenuItem(lists, "mnListClear", "clear ", this, [this] { listClearClick(); });
    lists->addSeparator();
    addMenuItem(lists, "mnParameterList", "parameter list", this, [this] { parameterListClick(); });
    addMenuItem(lists, "mnMagnetLists", "magnet lists", this, [this] { magnetListsClick(); });
    addMenuItem(lists, "mnListBeta", "beta functions", this, [this] { listBetaFunctionsClick(); });
    addMenuItem(lists, "mnRfParameter", "rf-parameter", this, [this] { rfParameterClick(); });
    lists->addSeparator();
    addMenuItem(lists, "mnSaveList", "save to file", this, [this] { saveListClick(); });
    addMenuItem(lists, "mnPrintList", "print ", this, [this] { printListClick(); });
    attachMenu(m_toolBar, m_tbList, lists);
}

void RingWindow::installDefaultDialogs()
{
    m_dialogs.saveFile = [this](const QString& title, const QString& filter, const QString& suffix,
                                const QString& preset) {
        return askSaveFileName(this, title, filter, suffix, preset);
    };
    m_dialogs.choosePrinter = [this](QPrinter& printer) { return askPrinter(printer, this); };
}

void RingWindow::saveAsClick()
{
    const QString fileName = m_dialogs.saveFile(kSaveLatticeDialog.title, qtFilter(kSaveLatticeDialog.filter),
                                                kSaveLatticeDialog.defaultExtension,
                                                QString::fromStdString(m_state.lastOpenedFile));
    if (!fileName.isEmpty() && saveLatticeAs(m_state, messages(), fileName.toStdString())) {
        rememberRecentFile(fileName.toStdString());
    }
}

void RingWindow::betaFunctionsClick()
{
    showingConversionErrors(messages(), [this] {
        LatticeFunctionList list(m_state);
        if (ringPass(&list))
            messages().showList();
    });
}

void RingWindow::beamParametersClick()
{
    // the equilibrium beam in the window, in the place of the geometry, and in the list
    m_gbGeometry->hide();
    parameterListClick();
    m_gbBeamPar->show();
}

void RingWindow::resonanceClick()
{
    showingConversionErrors(messages(), [this] { ringPass(); });
    m_windows.bringToFront(WindowId::Resonance);
}

void RingWindow::btUpdateClick()
{
    showingConversionErrors(messages(), [this] {
        if (ringPass())
            updateBPar();
    });
}

void RingWindow::listShowClick()
{
    messages().showList();
}

void RingWindow::listAddClick()
{
    m_state.listing.replaceList = false;
}

void RingWindow::listReplaceClick()
{
    m_state.listing.replaceList = true;
}

void RingWindow::listClearClick()
{
    clearList(m_state);
    if (m_windows.listing && m_windows.listing->isVisible())
        m_windows.listing->showList();
}

void RingWindow::parameterListClick()
{
    showingConversionErrors(messages(), [this] {
        if (!ringPass())
            return;
        updateBPar();
        ringParameterList(m_state, messages());
    });
}

void RingWindow::magnetListsClick()
{
    setListTitle(m_state, kMagnetListTitle);
    magnetList(m_state, messages());
}

void RingWindow::listBetaFunctionsClick()
{
    betaFunctionsClick();
}

void RingWindow::rfParameterClick()
{
    if (updateRfParameters(m_state, messages()))
        rfParameterList(m_state, messages());
}

void RingWindow::saveListClick()
{
    saveListText(m_state, messages(), m_dialogs.saveFile);
}

void RingWindow::printListClick()
{
    printListText(m_state, messages(), m_dialogs.choosePrinter);
}

} // namespace kestrune
