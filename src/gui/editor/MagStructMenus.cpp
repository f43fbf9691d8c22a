// Menus of the beam-dynamics window and the commands behind them.
#include "core/NumberInput.h"
#include "core/coupling/CoupledPass.h"
#include "core/editor/ChartSettings.h"
#include "core/io/LatticeFile.h"
#include "core/io/Listing.h"
#include "core/optics/BetaFunctions.h"
#include "core/orbit/ClosedOrbit.h"
#include "gui/FileDialog.h"
#include "gui/GraphExport.h"
#include "gui/ListPrinter.h"
#include "gui/MenuItems.h"
#include "gui/Shortcuts.h"
#include "gui/editor/ElementPanel.h"
#include "gui/editor/InitialConditionsPanel.h"
#include "gui/editor/LatticeChart.h"
#include "gui/editor/MagStructWindow.h"
#include "gui/io/ListActions.h"
#include "gui/io/ListingWindow.h"
#include "gui/particle/PartTypeWindow.h"
#include "gui/shell/EnterTextDialog.h"

#include <QActionGroup>
#include <QDir>
#include <QFileDialog>
#include <QGroupBox>
#include <QLineEdit>
#include <QMarginsF>
#include <QMenuBar>
#include <QPrinter>
#include <QRadioButton>

namespace kestrune {

namespace {

QMenu* addMenu(QMenuBar* bar, const QString& objectName, const QString& title,
               const QString& hint = QString())
{
    QMenu* menu = bar->addMenu(title);
    menu->setObjectName(objectName);
    menu->menuAction()->setObjectName(objectName + "Action");
    if (!hint.isEmpty()) {
        menu->menuAction()->setToolTip(hint);
        menu->menuAction()->setStatusTip(hint);
        menu->setToolTipsVisible(true);
    }
    return menu;
}

} // namespace

void MagStructWindow::buildMenus()
{
    QMenuBar* bar = menuBar();
    buildFileMenu();
    buildEditMenu();

    QMenu* lattice = addMenu(bar, "mnNewLattice", "new lattice", "add to,edit beam line, compose ring");
    addMenuItem(lattice, {}, "add single magnets", this, [this] { addMagnetClick(); });
    QMenu* repeat = lattice->addMenu("repeat lattice");
    addMenuItem(repeat, {}, "how many times ?", this, [this] { repeatLatticeClick(); });
    addMenuItem(lattice, {}, "symmetrize lattice", this, [this] { symmetrizeClick(); });
    addMenuItem(lattice, {}, "clear lattice", this, [this] { clearBLClick(); });
    addMenuItem(lattice, {}, "list lattice", this, [this] { listLatticeClick(); });

    QMenu* graph = addMenu(bar, "mnEditGraph", "edit Graph");
    addMenuItem(graph, {}, "Graph Title", this, [this] { titles(1); });
    addMenuItem(graph, {}, "Left Axis Title", this, [this] { titles(2); });
    addMenuItem(graph, {}, "Bottom Axis Title", this, [this] { titles(3); });
    buildZoomItems(graph);

    m_mnZStep = addMenuItem(bar, "mnZStep", "z-step", this, [this] { mnZStepClick(); });

    QMenu* optics = addMenu(bar, "mnOptics", "optics", "define initial values for lattice functions");
    addMenuItem(optics, {}, "print transformation matrix", this, [this] { printMatrixClick(); });
    addMenuItem(optics, {}, "calculate single particle trajectory", this, [this] { snglPartPathClick(); });
    addMenuItem(optics, {}, "start with specific beta_o and alpha_o", this, [this] { mnInitLatClick(); });
    addMenuItem(optics, {}, "look for periodic solution", this, [this] { mnPerSolClick(); });
    addMenuItem(optics, {}, "show beam sizes", this, [this] { beamSizesClick(); });
    // a coupled line shows the Edwards-Teng functions of its modes, or the Mais-Ripken betas
    QAction* maisRipken =
        addMenuItem(optics, "mnMaisRipken", "coupled lines: Mais-Ripken functions", this, [] {});
    maisRipken->setCheckable(true);
    connect(maisRipken, &QAction::toggled, this, [this](bool on) {
        m_state.run.coupledMaisRipken = on;
        if (m_chart->seriesCreated())
            beamDynamics();
    });
    // a machine with errors: the optics of the orbit module about its closed orbit, and the orbit itself
    m_mnAboutOrbit =
        addMenuItem(optics, "mnAboutOrbit", "errors: optics about the closed orbit", this, [] {});
    m_mnAboutOrbit->setCheckable(true);
    connect(m_mnAboutOrbit, &QAction::toggled, this, [this] {
        if (m_chart->seriesCreated())
            beamDynamics();
    });
    addMenuItem(optics, "mnMatching", "matching", this, [this] { m_windows.bringToFront(WindowId::Match); });
    addMenuItem(optics, "mnErrorsOrbit", "errors and orbit", this,
                [this] { m_windows.bringToFront(WindowId::ErrorsOrbit); });
    buildOpticsKeys(optics);

    m_mnRing = addMenuItem(bar, "mnRing", "ring design", this, [this] { ringDesignClick(); });
    buildListsMenu();
    addMenuItem(bar, "mnParticle", "Particle", this, [this] { particleClick(); });
    QAction* help = addMenuItem(bar, "mnHelp", "Help", this, [this] { helpClick(); });
    setStandardShortcut(help, QKeySequence::HelpContents, Qt::Key_F1);
    help->setToolTip("Help (" + help->shortcut().toString(QKeySequence::NativeText) + ")");
}

void MagStructWindow::buildFileMenu()
{
    QMenu* file = addMenu(menuBar(), "mnFile", "File");
    setStandardShortcut(addMenuItem(file, {}, "&Open...", this, [this] { openClick(); }), QKeySequence::Open,
                        Qt::CTRL | Qt::Key_O);
    buildRecentFilesMenu(file);
    QAction* save = addMenuItem(file, {}, "&Save", this, [this] { saveClick(); });
    save->setObjectName("mnSave");
    setStandardShortcut(save, QKeySequence::Save, Qt::CTRL | Qt::Key_S);
    setStandardShortcut(addMenuItem(file, {}, "Save &As...", this, [this] { saveAsClick(); }),
                        QKeySequence::SaveAs, Qt::CTRL | Qt::SHIFT | Qt::Key_S);
    addMenuItem(file, "mnSaveAsPrevious", "Save As Previous &Version...", this,
                [this] { saveAsClick(kPreviousLatticeFormat); });
    addMenuItem(file, {}, "Import MAD-X...", this, [this] {
        importMadxClick();
    })->setObjectName("mnImportMadx");
    addMenuItem(file, {}, "Export MAD-X...", this, [this] {
        exportMadxClick();
    })->setObjectName("mnExportMadx");
    addMenuItem(file, {}, "Export TFS table...", this, [this] {
        exportTfsClick();
    })->setObjectName("mnExportTfs");
    setStandardShortcut(addMenuItem(file, {}, "print graph", this, [this] { printGraphClick(); }),
                        QKeySequence::Print, Qt::CTRL | Qt::Key_P);
    addMenuItem(file, {}, "Save &Chart as  ***.wmf", this, [this] { saveChartWmfClick(); });
    file->addSeparator();
    setStandardShortcut(addMenuItem(file, {}, "E&xit", this, [this] { close(); }), QKeySequence::Close,
                        Qt::CTRL | Qt::Key_W);
    setStandardShortcut(addMenuItem(file, {}, "&Quit program", this, [this] { quitClick(); }),
                        QKeySequence::Quit, Qt::CTRL | Qt::Key_Q);
}

void MagStructWindow::buildListsMenu()
{
    QMenu* lists = addMenu(menuBar(), "mnLists", "lists");
    addMenuItem(lists, {}, "show ", this, [this] { listShowClick(); });
    // "add" and "replace" show which one is in force; other windows may have changed it since
    auto* mode = new QActionGroup(lists);
    m_mnListAdd = addMenuItem(lists, {}, "add", this, [this] { listAddClick(); });
    m_mnListReplace = addMenuItem(lists, {}, "replace", this, [this] { listReplaceClick(); });
    for (QAction* action : {m_mnListAdd, m_mnListReplace}) {
        action->setCheckable(true);
        mode->addAction(action);
    }
    m_mnListAdd->setObjectName("mnListAdd");
    m_mnListReplace->setObjectName("mnListReplace");
    connect(lists, &QMenu::aboutToShow, this,
            [this] { (m_state.listing.replaceList ? m_mnListReplace : m_mnListAdd)->setChecked(true); });
    addMenuItem(lists, {}, "clear", this, [this] { listClearClick(); });
    lists->addSeparator();
    addMenuItem(lists, {}, "beam parameters", this, [this] { beamParametersClick(); });
    addMenuItem(lists, {}, "beta functions", this, [this] { betaFunctionsClick(); });
    addMenuItem(lists, {}, "magnet list", this, [this] { magnetListClick(); });
    lists->addSeparator();
    addMenuItem(lists, {}, "save to file", this, [this] { saveListClick(); });
    addMenuItem(lists, {}, "print", this, [this] { printListClick(); });
    setMenuKeys(lists, {{"beta functions", Qt::CTRL | Qt::Key_B}});
}

void MagStructWindow::installDefaultDialogs()
{
    m_dialogs.openFile = [this](const QString& title, const QString& filter) {
        return QFileDialog::getOpenFileName(this, title, QString::fromStdString(m_state.lastOpenedFile),
                                            filter);
    };
    m_dialogs.saveFile = [this](const QString& title, const QString& filter, const QString& suffix,
                                const QString& preset) {
        return askSaveFileName(this, title, filter, suffix, preset);
    };
    m_dialogs.saveChanges = [this](const QString& question) {
        return m_windows.messages ? m_windows.messages->askSaveChanges(question.toStdString())
                                  : SaveChoice::Discard;
    };
    m_dialogs.choosePrinter = [this](QPrinter& printer) { return askPrinter(printer, this); };
    m_dialogs.enterText = [this](const QString& caption, const QString& preset) {
        return m_windows.enterText && m_windows.enterText->ask(caption, preset);
    };
}

void MagStructWindow::repeatLatticeClick()
{
    if (!m_dialogs.enterText("repeat BL how many times?", QString()))
        return;
    const std::string typed = m_state.enteredText;
    m_state.enteredText.clear();
    showingConversionErrors(messages(), [this, typed] {
        const int n = parseInt(typed);
        recorded("repeat", [&] {
            if (repeatLattice(m_state, m_editor, n, messages())) {
                lineChanged();
                m_chart->refresh();
            }
        });
    });
}

void MagStructWindow::symmetrizeClick()
{
    recorded("mirror", [this] {
        if (symmetrize(m_state, messages())) {
            lineChanged();
            m_chart->refresh();
        }
    });
}

void MagStructWindow::clearBLClick()
{
    if (!saveChangesFirst())
        return;
    recorded("clear", [this] {
        clearLattice(m_state, m_editor);
        initial();
        lineChanged();
        if (m_windows.listing && m_windows.listing->isVisible())
            m_windows.listing->showList();
        m_chart->refresh();
    });
}

void MagStructWindow::listLatticeClick()
{
    latticeList(m_state, messages());
}

void MagStructWindow::showZStepMenu()
{
    m_mnZStep->setVisible(!m_state.run.showTrajectory);
}

void MagStructWindow::openClick()
{
    if (!saveChangesFirst())
        return;
    const QString fileName =
        m_dialogs.openFile(kOpenLatticeDialog.title, qtFilter(kOpenLatticeDialog.filter));
    if (fileName.isEmpty())
        return;
    openLattice(fileName);
}

void MagStructWindow::lineOpened()
{
    // the state part of the reset ran before the file was read; the boxes follow here
    m_initialPanel->resetBoxes();
    m_elementPanel->resetAngleUnit();
    m_elementPanel->hide();
    m_chart->removeSeries();
    m_chart->setLeftRange(-80, 60);
    m_chart->resetZoom();
    m_pnSStep->hide();
    if (m_windows.listing && m_windows.listing->isVisible())
        m_windows.listing->showList();
    showZStepMenu();
    m_initialPanel->fillFromState();
    // a line that kicks (a MAD-X file's correctors set for its bumps) has no optics on the design orbit:
    // it is shown about its closed orbit, as MAD-X's TWISS shows it; a line that does not, on the design
    // orbit
    if (m_mnAboutOrbit) {
        const QSignalBlocker quiet(m_mnAboutOrbit);
        m_mnAboutOrbit->setChecked(lineKicks(m_state.line));
    }
    updateCurves(ListWriter::PlotUpdate);
    lineChanged();
    showButtons();
    m_chart->refresh();
}

bool MagStructWindow::saveClick()
{
    const std::string file = m_state.savedDesign.file;
    if (file.empty())
        return saveAsClick();
    if (!saveLatticeAs(m_state, messages(), file))
        return false;
    m_state.history.markSaved();
    showHistory();
    return true;
}

bool MagStructWindow::saveAsClick(int format)
{
    const QString fileName = m_dialogs.saveFile(kSaveLatticeDialog.title, qtFilter(kSaveLatticeDialog.filter),
                                                kSaveLatticeDialog.defaultExtension,
                                                QString::fromStdString(m_state.lastOpenedFile));
    if (fileName.isEmpty() || !saveLatticeAs(m_state, messages(), fileName.toStdString(), format))
        return false;
    m_state.history.markSaved();
    showHistory();
    rememberFile(fileName);
    return true;
}

void MagStructWindow::printGraphClick()
{
    QPrinter printer(QPrinter::ScreenResolution);
    if (!m_dialogs.choosePrinter(printer))
        return;
    if (!printChart(m_chart->plot(), printer, QMarginsF(10, 5, 10, 5)))
        messages().error("the graph could not be printed");
}

void MagStructWindow::saveChartWmfClick()
{
    exportChartDialog(this, m_chart->plot(), messages(), m_state);
}

void MagStructWindow::titles(int which)
{
    static const char* const kCaptions[] = {"edit Graph Title", "edit Left Axis Caption",
                                            "edit Bottom Axis Caption"};
    if (which < 1 || which > 3)
        return;
    const QString preset = which == 1   ? m_chart->titleLines().join('\n')
                           : which == 2 ? m_chart->leftAxisTitle()
                                        : m_chart->bottomAxisTitle();
    if (!m_dialogs.enterText(kCaptions[which - 1], preset))
        return;
    const QString text = QString::fromStdString(m_state.enteredText);
    if (which == 1)
        m_chart->setTitleLines({text});
    else if (which == 2)
        m_chart->setLeftAxisTitle(text);
    else
        m_chart->setBottomAxisTitle(text);
    m_state.enteredText.clear();
    m_chart->refresh();
}

void MagStructWindow::mnZStepClick()
{
    m_edStep->setText(QString::fromStdString(stepBoxText(m_state.run)));
    m_gbZstep->show();
    m_gbZstep->raise();
    if (m_rbEndEl->isChecked()) {
        m_state.run.stepAtElementEnds = true;
        m_pnSStep->hide();
    } else {
        m_state.run.stepAtElementEnds = false;
        m_rbShort->setChecked(true);
        m_pnSStep->show();
    }
    m_gbZstep->adjustSize();
}

void MagStructWindow::rbShortClick()
{
    m_pnSStep->show();
    m_gbZstep->adjustSize();
    if (m_state.run.maxStep <= 0)
        m_edStep->setText("10.0");
}

void MagStructWindow::bbStepYesClick()
{
    showingConversionErrors(messages(), [this] {
        applyStepSettings(m_state.run, m_edStep->text().toStdString(), m_edMaxSteps->text().toStdString(),
                          m_rbEndEl->isChecked());
        m_gbZstep->hide();
    });
}

void MagStructWindow::printMatrixClick()
{
    matrixList(m_state, messages());
}

void MagStructWindow::snglPartPathClick()
{
    m_initialPanel->showSingleParticle();
    showZStepMenu();
    placePanels();
}

void MagStructWindow::mnInitLatClick()
{
    m_initialPanel->showLatticeFunctions();
    showZStepMenu();
    placePanels();
}

void MagStructWindow::mnPerSolClick()
{
    LatticeFunctionList list(m_state);
    m_initialPanel->lookForPeriodicSolution(&list);
    showZStepMenu();
}

void MagStructWindow::beamSizesClick()
{
    showingConversionErrors(messages(), [this] { m_initialPanel->showBeamSizes(); });
    showZStepMenu();
    placePanels();
}

void MagStructWindow::listShowClick()
{
    messages().showList();
}

void MagStructWindow::listAddClick()
{
    m_state.listing.replaceList = false;
    if (m_windows.listing)
        m_windows.listing->showMode();
}

void MagStructWindow::listReplaceClick()
{
    m_state.listing.replaceList = true;
    if (m_windows.listing)
        m_windows.listing->showMode();
}

void MagStructWindow::listClearClick()
{
    clearList(m_state);
    if (m_windows.listing && m_windows.listing->isVisible())
        m_windows.listing->showList();
}

void MagStructWindow::beamParametersClick()
{
    beamParameterList(m_state, messages());
}

void MagStructWindow::betaFunctionsClick()
{
    if (m_chart->seriesCreated() || !plotKind(m_state.run).empty()) {
        // the list asked for stays in the text; the next plot update does not replace it
        updateCurves(ListWriter::Command);
        m_chart->refresh();
    } else {
        if (m_state.run.recomputePeriodic)
            opticsPeriodicSolution(m_state, messages());
        LatticeFunctionList list(m_state);
        opticsLinePass(m_state, messages(), nullptr, &list);
    }
    messages().showList();
}

void MagStructWindow::magnetListClick()
{
    setListTitle(m_state, kMagnetListTitle);
    magnetList(m_state, messages());
}

void MagStructWindow::saveListClick()
{
    saveListText(m_state, messages(), m_dialogs.saveFile);
}

void MagStructWindow::printListClick()
{
    printListText(m_state, messages(), m_dialogs.choosePrinter);
}

void MagStructWindow::particleClick()
{
    messages().askParticle();
    if (m_windows.partType)
        m_windows.partType->hideIonList();
}

void MagStructWindow::ringDesignClick()
{
    m_windows.bringToFront(WindowId::Ring);
}

void MagStructWindow::helpClick()
{
    m_windows.bringToFront(WindowId::Help);
}

void MagStructWindow::formKeyPress(const QString& key)
{
    if (key != "f")
        return;
    if (!messages().confirm(
            "Did you load first a valid GTL lattice\nbefore using this update of quadrupole strengths?")) {
        openClick();
        return;
    }
    const QString fileName = m_dialogs.openFile("select GTL lattice file", "All files (*)");
    if (fileName.isEmpty())
        return;
    messages().error(
        "no quadrupole strengths were changed: this program does not read the GTL lattice format");
}

} // namespace kestrune
