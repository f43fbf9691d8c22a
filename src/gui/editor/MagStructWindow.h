#pragma once

#include "core/Messages.h"
#include "core/State.h"
#include "core/editor/LineEditing.h"
#include "core/io/Listing.h"
#include "core/io/RecentFiles.h"
#include "gui/FileDialog.h"
#include "gui/QtMessages.h"
#include "gui/Windows.h"

#include <QMainWindow>
#include <functional>
#include <memory>

class QAction;
class QCheckBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QPrinter;
class QPushButton;
class QRadioButton;

namespace kestrune {

class ElementPanel;
class InitialConditionsPanel;
class LatticeChart;
class TuningPanel;

/// The file, print and text choices of the window; tests replace them so that no dialog opens.
struct MagStructDialogs
{
    /// Open dialog: the chosen file name, empty when cancelled.
    std::function<QString(const QString& title, const QString& filter)> openFile;
    /// Save dialog, opened on preset (a file name or a folder): the chosen file name, empty when
    /// cancelled.
    SaveFileDialog saveFile;
    /// Print dialog: true when confirmed.
    std::function<bool(QPrinter&)> choosePrinter;
    /// Text-entry dialog with caption and preset text: true when accepted (the text is in enteredText).
    std::function<bool(const QString& caption, const QString& preset)> enterText;
    /// "Save changes to NAME?" with Save, Discard and Cancel.
    std::function<SaveChoice(const QString& question)> saveChanges;
};

/// The beam-dynamics window: lattice drawing, curves and the editing of the beam line.
class MagStructWindow : public QMainWindow
{
    Q_OBJECT
public:
    MagStructWindow(State& state, Windows& windows, QWidget* parent = nullptr);
    ~MagStructWindow() override;

    /// Shows or hides the menu entry "ring design" (hidden for a transport line).
    void setRingDesignVisible(bool visible);
    /// Replaces the title of the lattice chart by one line.
    void setChartTitle(const QString& title);
    /// Shows the window for a ring design (the "ring design" entry shown) or a transport line, with
    /// title as the chart's title.
    void openAs(bool ringDesign, const QString& title);

    MagStructDialogs& dialogs() { return m_dialogs; }
    LatticeChart* chart() const { return m_chart; }
    ElementPanel* elementPanel() const { return m_elementPanel; }
    TuningPanel* tuningPanel() const { return m_tuningPanel; }
    InitialConditionsPanel* initialPanel() const { return m_initialPanel; }
    const EditorState& editor() const { return m_editor; }

    /// The beam-dynamics update: series for the graph mode, periodic solution when asked for, the line
    /// pass into the curves and the lattice-function list, then the vertical scaling and one redraw.
    void beamDynamics();
    /// The update only when the curve series exist.
    void graphFunctions();
    /// A click on the series titled title: a curve is ignored, a shape selects its element.
    void chLatticeClickSeries(const QString& title);

    // menu "new lattice" and the edit buttons
    void addMagnetClick();
    void magListClick(int row);
    void repeatLatticeClick();
    void symmetrizeClick();
    void clearBLClick();
    void listLatticeClick();
    void bbInsertClick();
    void bCopyClick();
    void btCutPasteClick();
    void bbCancelCutPasteClick();
    void bbDelElClick();
    // File
    void openClick();
    /// Opens a file of the recent-files list; a file that is gone is taken off the list.
    void openRecentClick(const QString& fileName);
    const RecentFiles& recentFiles() const { return m_recent; }
    /// File › Save: writes the design to its file, or asks for one as "save as" does when it has none.
    /// True when the design was written.
    bool saveClick();
    bool saveAsClick(int format = kCurrentLatticeFormat);
    /// Before the design is replaced or the program ends: asks "Save changes to NAME?" when the design
    /// differs from its file. True when the caller may go on (saved, discarded or nothing to save).
    bool saveChangesFirst();
    void importMadxClick();
    void exportMadxClick();
    void exportTfsClick();
    void printGraphClick();
    void saveChartWmfClick();
    // edit Graph, z-step
    void titles(int which);
    void dispersionButtonClick();
    void mnZStepClick();
    void rbShortClick();
    void bbStepYesClick();
    // optics, lists, Particle, ring design, Help
    void printMatrixClick();
    void snglPartPathClick();
    void mnInitLatClick();
    void mnPerSolClick();
    void beamSizesClick();
    void listShowClick();
    void listAddClick();
    void listReplaceClick();
    void listClearClick();
    void beamParametersClick();
    void betaFunctionsClick();
    void magnetListClick();
    void saveListClick();
    void printListClick();
    void particleClick();
    void ringDesignClick();
    void helpClick();
    /// Asks to end the program as the start window's "close program" does (quitAsked).
    void quitClick();
    /// Key "f": quadrupole strengths from a GTL lattice, after a confirmation.
    void formKeyPress(const QString& key);
    /// Activation: element list hidden, first limit again, step buttons, idle buttons.
    void formActivate();
    // Edit
    /// Takes the last change of the design back / makes the change undone last again; the window then
    /// follows the design as after any edit.
    void undoClick();
    void redoClick();
    /// The Edit menu's texts and the window title (file name, "*" for unsaved changes) from the history.
    void showHistory();

signals:
    /// The user asked to end the program.
    void quitAsked();
    /// A step, an undo, a redo or a lattice opened may have changed the design: the tool windows drop
    /// what they show of another design.
    void designMayHaveChanged();

protected:
    bool event(QEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    class WindowMessages;

    void buildChart();
    void buildMagList();
    void buildEditButtons();
    void buildStepGroup();
    void buildPanels();
    void buildMenus();
    /// Undo or redo (step) with an operation under way cancelled and a tuning run ended first.
    void stepHistory(const std::function<bool()>& step);
    /// Preset of an export's save dialog: the lattice's name with the export's extension.
    QString exportPreset(const char* extension) const;
    void buildFileMenu();
    void buildListsMenu();
    void buildEditMenu();
    void installDefaultDialogs();
    void buildRecentFilesMenu(QMenu* file);
    void buildZoomItems(QMenu* graph);
    /// Keys of the optics commands, and the update of the graph with its key.
    void buildOpticsKeys(QMenu* optics);
    void showRecentFiles();
    /// The open path of "open" and of the recent files: read the file, remember it, show the line.
    void openLattice(const QString& fileName);
    /// The import path of "Import MAD-X..." and of the recent files.
    void importMadx(const QString& fileName);
    void rememberFile(const QString& fileName);
    /// The status bar names the particle when opening a file changed it from before.
    void showParticleChange(const BeamParameters& before);
    /// Gives the run a backup file of its own in the per-user data folder, made on first use.
    void ensureBackupFile();
    void placePanels();

    /// The window's reset (clear, open): the design's reset, then resetViews.
    void initial();
    /// The boxes, the chart and the operation under way as for a design just reset.
    void resetViews();
    /// After a file was opened or imported: the boxes, panels and chart follow the new line.
    void lineOpened();
    /// The update without the redraw; its list is written by writer.
    void updateCurves(ListWriter writer);
    /// A step of the tuning bar: the update when the curves exist, and a redraw of the curves.
    void tuningStep();
    /// A message box of the window opens / has closed: the activation it hands back is not counted.
    void ownBoxOpening();
    void ownBoxClosed();
    void getXYSeries(const QString& kind);
    void setScale();
    void applyStep(const EditStep& step);
    void showButtons();
    void lineChanged();
    void showZStepMenu();
    Messages& messages();
    /// An undoable action begins: what changed outside one is taken into the history (nothing while a
    /// multi-click operation is under way); a tuning run's changes so far become its step.
    void beginEdit();
    /// It ended: its changes become the step label, unless a multi-click operation is still under way.
    void endEdit(const std::string& label);
    /// beginEdit, action, endEdit.
    void recorded(const std::string& label, const std::function<void()>& action);
    /// After undo or redo: panels, boxes, drawing and curves follow the design.
    void designRestored();

    State& m_state;
    Windows& m_windows;
    std::unique_ptr<WindowMessages> m_messages;
    EditorState m_editor;
    MagStructDialogs m_dialogs;
    bool m_ownBoxOpen = false;
    // a message box of this window closed and no other window of the program has had the focus since:
    // the next activation is the one the box hands back, whenever it comes
    bool m_activationOwed = false;

    LatticeChart* m_chart = nullptr;
    ElementPanel* m_elementPanel = nullptr;
    TuningPanel* m_tuningPanel = nullptr;
    InitialConditionsPanel* m_initialPanel = nullptr;

    QFrame* m_pnMagList = nullptr;
    QListWidget* m_magList = nullptr;
    QFrame* m_editButtons = nullptr;
    QCheckBox* m_cbBLedit = nullptr;
    QPushButton* m_bbInsert = nullptr;
    QPushButton* m_bbCutPaste = nullptr;
    QPushButton* m_bbCancelCutPaste = nullptr;
    QPushButton* m_bbCopy = nullptr;
    QPushButton* m_bbDelEl = nullptr;

    QGroupBox* m_gbZstep = nullptr;
    QRadioButton* m_rbEndEl = nullptr;
    QRadioButton* m_rbShort = nullptr;
    QFrame* m_pnSStep = nullptr;
    QLineEdit* m_edStep = nullptr;
    QLineEdit* m_edMaxSteps = nullptr;

    RecentFiles m_recent;
    QMenu* m_mnRecent = nullptr;

    QAction* m_mnZStep = nullptr;
    QAction* m_mnRing = nullptr;
    QAction* m_mnListAdd = nullptr;
    QAction* m_mnListReplace = nullptr;
    QAction* m_mnUndo = nullptr;
    QAction* m_mnRedo = nullptr;
    // the lattice functions and the trajectory drawn about the closed orbit of the machine with its errors
    QAction* m_mnAboutOrbit = nullptr;
};

} // namespace kestrune
