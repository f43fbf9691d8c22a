#pragma once

#include "core/State.h"
#include "core/matching/MatchProblem.h"
#include "core/matching/Matcher.h"
#include "gui/Windows.h"

#include <QMainWindow>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <utility>

class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QScrollArea;
class QTableWidget;

namespace kestrune {

class ConstraintTable;
class LatticeChart;
class ToolWindowMessages;
class VariableTable;

/// The file choices of the match window; tests replace them so that no dialog opens.
struct MatchDialogs
{
    /// Open dialog: the chosen file name, empty when cancelled.
    std::function<QString(const QString& title, const QString& filter)> openFile;
    /// Save dialog: the chosen file name, empty when cancelled.
    std::function<QString(const QString& title, const QString& filter, const QString& defaultSuffix,
                          const QString& preset)>
        saveFile;
};

/// The match window: variables and constraints in two tables, the lattice functions of the trial strengths
/// over the lattice drawing, and match, stop, accept and reset. Nothing in the design changes before
/// accept, which is one step of the undo history.
class MatchWindow : public QMainWindow
{
    Q_OBJECT
public:
    MatchWindow(State& state, Windows& windows, QWidget* parent = nullptr);
    ~MatchWindow() override;

    MatchDialogs& dialogs() { return m_dialogs; }
    LatticeChart* chart() const { return m_chart; }
    VariableTable* variableTable() const { return m_variables; }
    ConstraintTable* constraintTable() const { return m_constraints; }
    /// The outcome of the last match since match, reset or accept; nothing before one ran.
    std::optional<MatchResult> lastResult() const;
    bool running() const;

    /// "match": reads the tables and starts the iterations, one per turn of the event loop, the curves
    /// redrawn after each.
    void bbMatchClick();
    /// "stop": the match ends after the iteration under way, with the best point so far.
    void bbStopClick();
    /// "accept": the matched values go into the design as the undo step "match".
    void bbAcceptClick();
    /// "reset": the match result is dropped; tables and curves show the design.
    void bbResetClick();
    void addVariableClick();
    void removeVariableClick();
    void addConstraintClick();
    void removeConstraintClick();
    void openMatchClick();
    void saveMatchClick();
    /// A click on an element's shape: it goes into the table being edited (a variable's element, a
    /// constraint's "at" or "from").
    void elementClicked(int element);
    /// Before a match: the start and current columns show the design's values of the rows as typed, as
    /// soon as there are a variable and a constraint the line has.
    void previewDesign();
    /// The design may have changed: a result shown of another design (an undo, an edit, another
    /// lattice) is cleared to "n/a" and the curves follow the design.
    void followDesign();
    /// Forgets the match result and clears the tables' start, now and met values.
    void dropResult();

signals:
    /// A step went into the undo history (an accepted match).
    void historyChanged();
    /// The design's strengths changed (an accepted match): the curves of the design follow.
    void designChanged();

protected:
    /// Shown or activated with no match result waiting: the tables' elements and the curves follow the
    /// design as it is now.
    bool event(QEvent* event) override;

private:
    void buildTables(QWidget* parent);
    QWidget* buildControls(QWidget* parent);
    void buildMenu();
    void installDefaultDialogs();
    /// The definition the tables and boxes hold; nothing after the conversion's message.
    std::optional<MatchDefinition> readDefinition();
    void showDefinition(const MatchDefinition& definition);
    void iterate();
    void finish();
    void showProgress();
    /// The curves of the view (the design with the trial values) into the chart.
    void drawCurves();
    /// The view becomes the design again.
    void viewDesign();
    void showButtons();
    /// The focus went to widget: in a table (a cell, its editor, a list in a cell) it makes that table the
    /// one an element click goes into, and the row of the cell its current one.
    void tableFocused(QWidget* widget);
    void setStatus(const QStringList& lines);
    /// The stamps of the design a result belongs to: the linear lattice with the beam, the sextupoles.
    std::pair<std::uint64_t, std::uint64_t> designStamps() const;
    Messages& messages();

    State& m_state;
    Windows& m_windows;
    std::unique_ptr<ToolWindowMessages> m_messages;
    MatchDialogs m_dialogs;
    std::unique_ptr<State> m_view; // the optics of the design with the trial values, for the curves
    std::unique_ptr<Matcher> m_matcher;
    bool m_stopRequested = false;
    QTableWidget* m_pickTable = nullptr;                    // the table an element click goes into
    bool m_resultShown = false;                             // the tables and the status show a match result
    bool m_previewing = false;                              // previewDesign is filling the tables
    std::pair<std::uint64_t, std::uint64_t> m_resultDesign; // designStamps of the design it belongs to
    QStringList m_iterationLines;                           // one per iteration of the match running

    LatticeChart* m_chart = nullptr;
    VariableTable* m_variables = nullptr;
    ConstraintTable* m_constraints = nullptr;
    QRadioButton* m_rbPeriodic = nullptr;
    QRadioButton* m_rbInitial = nullptr;
    QLineEdit* m_edTolerance = nullptr;
    QLineEdit* m_edIterations = nullptr;
    QPushButton* m_bbMatch = nullptr;
    QPushButton* m_bbStop = nullptr;
    QPushButton* m_bbAccept = nullptr;
    QPushButton* m_bbReset = nullptr;
    QLabel* m_lStatus = nullptr;
    QScrollArea* m_pnStatus = nullptr; // the status lines' room, of a fixed height
};

} // namespace kestrune
