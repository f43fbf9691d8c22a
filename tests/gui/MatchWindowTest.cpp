#include "gui/matching/MatchWindow.h"

#include "MagStructFixture.h"
#include "app/ProgramWindows.h"
#include "core/Drawing.h"
#include "core/coupling/CoupledOptics.h"
#include "core/io/LatticeFile.h"
#include "gui/matching/MatchTables.h"
#include "support/TestFolder.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QTest>
#include <qcustomplot.h>

namespace kestrune::test {
namespace {

/// The match window beside the beam-dynamics window on the example FODO cell (tunes 0.239 and 0.221).
class MatchWindowTest : public MagStructFixture
{
protected:
    MatchWindowTest()
    {
        startParticle(state);
        EXPECT_TRUE(readLatticeFile(state, fake, std::string(KESTRUNE_EXAMPLES) + "/fodo-cell.lat"));
        drawFromFileBoxes(state);
        state.history.reset(state);
        windows.enter(WindowId::MagStruct, windows.magStruct, window.get());
        match = std::make_unique<MatchWindow>(state, windows);
        windows.enter(WindowId::Match, windows.match, match.get());
        connectWindows(windows);
        match->resize(1180, 820);
        windows.bringToFront(WindowId::Match);
    }

    void addVariable(const QString& element)
    {
        button("bbAddVariable")->click();
        VariableTable* t = match->variableTable();
        t->item(t->rowCount() - 1, VariableTable::Element)->setText(element);
    }
    void addConstraint(const char* quantity, const QString& target, const QString& at = "end")
    {
        button("bbAddConstraint")->click();
        ConstraintTable* t = match->constraintTable();
        const int row = t->rowCount() - 1;
        auto* box = qobject_cast<QComboBox*>(t->cellWidget(row, ConstraintTable::Quantity));
        box->setCurrentText(quantity);
        t->item(row, ConstraintTable::At)->setText(at);
        t->item(row, ConstraintTable::Target)->setText(target);
    }
    /// The tune match of both families.
    void tuneMatch()
    {
        addVariable("QF");
        addVariable("QD");
        addConstraint("tune_x", "0.26");
        addConstraint("tune_y", "0.21");
    }
    /// Runs the event loop until the match has ended (each turn is one iteration).
    void runMatch()
    {
        for (int turn = 0; turn < 1000 && match->running(); ++turn)
            QApplication::processEvents();
        ASSERT_FALSE(match->running());
    }
    QPushButton* button(const char* name) { return match->findChild<QPushButton*>(name); }
    QString status() { return match->findChild<QLabel*>("lStatus")->text(); }
    QString cell(QTableWidget* table, int row, int column) { return table->item(row, column)->text(); }
    double qf() const { return state.line.at(1).k; }

    std::unique_ptr<MatchWindow> match;
};

TEST_F(MatchWindowTest, MatchThenAcceptAsOneUndoStep)
{
    tuneMatch();
    // the design's values as soon as the rows are typed
    EXPECT_EQ(cell(match->variableTable(), 0, VariableTable::Start), "3");
    EXPECT_FALSE(cell(match->constraintTable(), 0, ConstraintTable::Now).isEmpty());
    button("bbMatch")->click();
    EXPECT_TRUE(match->running());
    EXPECT_FALSE(button("bbMatch")->isEnabled());
    EXPECT_TRUE(button("bbStop")->isEnabled());
    runMatch();
    ASSERT_TRUE(match->lastResult());
    EXPECT_TRUE(match->lastResult()->converged);
    EXPECT_EQ(qf(), 3.0); // nothing in the design before accept
    EXPECT_FALSE(state.history.canUndo());
    EXPECT_EQ(cell(match->constraintTable(), 0, ConstraintTable::Met), "yes");
    EXPECT_EQ(cell(match->variableTable(), 0, VariableTable::Start), "3");
    EXPECT_TRUE(status().startsWith("converged after ")) << status().toStdString();
    EXPECT_GT(match->chart()->pointCount(1), 0);

    button("bbAccept")->click();
    const double matched = qf();
    EXPECT_NEAR(matched, 3.18398, 1e-5);
    EXPECT_EQ(state.line.at(9).k, matched); // both halves of QF
    EXPECT_EQ(state.history.undoLabel(), "match");
    EXPECT_EQ(window->findChild<QAction*>("mnUndo")->text(), "Undo match");
    EXPECT_FALSE(button("bbAccept")->isEnabled());

    window->undoClick();
    EXPECT_EQ(qf(), 3.0);
    window->redoClick();
    EXPECT_EQ(qf(), matched);
    EXPECT_TRUE(fake.errors.empty()) << fake.errors[0];
}

TEST_F(MatchWindowTest, StopEndsWithTheBestPointSoFarAndResetForgetsIt)
{
    tuneMatch();
    button("bbMatch")->click();
    QApplication::processEvents(); // one iteration
    button("bbStop")->click();
    runMatch();
    ASSERT_TRUE(match->lastResult());
    EXPECT_EQ(match->lastResult()->end, MatchEnd::Cancelled);
    EXPECT_LE(match->lastResult()->iterations, 1);
    EXPECT_TRUE(status().startsWith("stopped after ")) << status().toStdString();
    EXPECT_EQ(qf(), 3.0);

    button("bbReset")->click();
    EXPECT_FALSE(match->lastResult());
    EXPECT_FALSE(button("bbAccept")->isEnabled());
    EXPECT_EQ(cell(match->constraintTable(), 0, ConstraintTable::Now), "");
    EXPECT_EQ(qf(), 3.0);
}

TEST_F(MatchWindowTest, InfeasibleProblemShowsTheCompromiseAndNamesWhatIsNotMet)
{
    addVariable("QF");
    addConstraint("tune_x", "0.26");
    addConstraint("tune_y", "0.26");
    button("bbMatch")->click();
    runMatch();
    ASSERT_TRUE(match->lastResult());
    EXPECT_FALSE(match->lastResult()->converged);
    EXPECT_TRUE(status().contains("not met: constraint 1 (tune_x), constraint 2 (tune_y)"))
        << status().toStdString();
    EXPECT_EQ(cell(match->constraintTable(), 1, ConstraintTable::Met), "no");
    EXPECT_EQ(qf(), 3.0);
    EXPECT_TRUE(button("bbAccept")->isEnabled()); // the compromise may still be taken
}

TEST_F(MatchWindowTest, TheCouplingOfACoupledRingIsMatchedFromItsRows)
{
    // one cell as the ring: of eight cells the ring's C- would vanish (its cells' sums turn by 2 pi p / 8)
    ASSERT_TRUE(readLatticeFile(state, fake, std::string(KESTRUNE_VALIDATION) + "/coupled-double-bend.lat"));
    state.line.superPeriods = 1;
    addVariable("SQ");
    addVariable("Q2");
    const auto field = [&](int row) {
        return qobject_cast<QComboBox*>(match->variableTable()->cellWidget(row, VariableTable::Field));
    };
    field(0)->setCurrentText("k1s");
    field(1)->setCurrentText("tilt");
    EXPECT_EQ(cell(match->variableTable(), 1, VariableTable::Start), "0.03");
    addConstraint("beta_x_m", "10");
    button("bbMatch")->click();
    ASSERT_EQ(fake.errors.size(), 1u);
    EXPECT_TRUE(
        QString::fromStdString(fake.errors[0]).startsWith("constraint 1 (beta_x_m at end): the planes "));
    match->constraintTable()->removeRow(0);
    addConstraint("c_minus_re", "0");
    addConstraint("c_minus_im", "0");
    button("bbMatch")->click();
    runMatch();
    ASSERT_TRUE(match->lastResult() && match->lastResult()->converged) << status().toStdString();
    button("bbAccept")->click();
    EXPECT_LT(couplingCoefficient(state).abs, 1e-9);
}

TEST_F(MatchWindowTest, RefusedMatchesChangeNothing)
{
    // a cell without periodic solution, then a box that is no number
    state.line.at(1).k = 30;
    state.line.at(9).k = 30;
    tuneMatch();
    button("bbMatch")->click();
    ASSERT_EQ(fake.errors.size(), 1u);
    EXPECT_EQ(fake.errors[0],
              "no periodic solution at the start of the match: the cell must be stable before "
              "its strengths are matched");
    EXPECT_FALSE(match->running());
    EXPECT_FALSE(match->lastResult());

    match->constraintTable()->item(1, ConstraintTable::Weight)->setText("heavy");
    button("bbMatch")->click();
    ASSERT_EQ(fake.errors.size(), 2u);
    EXPECT_EQ(fake.errors[1], "constraints, row 2, weight: 'heavy' is not a valid floating point value");
    EXPECT_EQ(qf(), 30);
}

TEST_F(MatchWindowTest, ValuesOutsideTheirRangesAreRefusedByEntry)
{
    tuneMatch();
    QTableWidget* v = match->variableTable();
    QTableWidget* c = match->constraintTable();
    const struct
    {
        QTableWidget* table;
        int row, column;
        const char* text;
        const char* message;
    } cases[] = {
        {c, 0, ConstraintTable::Target, "0", "constraint 1 (tune_x): the target must be above 0!"},
        {c, 1, ConstraintTable::Target, "-5", "constraint 2 (tune_y): the target must be above 0!"},
        {c, 1, ConstraintTable::Weight, "1e300",
         "constraint 2 (tune_y): the weight must be at most 1000000!"},
        {v, 0, VariableTable::Step, "1e-30", "variable 1 (QF k): the step must be at least 1e-12!"},
        {v, 0, VariableTable::Min, "4", "variable 1 (QF k): the start value 3 lies below the lower bound 4"},
        {nullptr, 0, 0, "1e300", "the tolerance must be at most 0.001!"},
        {nullptr, 0, 0, "", "tolerance: '' is not a valid floating point value"},
    };
    QLineEdit* tolerance = match->findChild<QLineEdit*>("edTolerance");
    for (const auto& test : cases) {
        fake.errors.clear();
        QTableWidgetItem* item = test.table ? test.table->item(test.row, test.column) : nullptr;
        const QString before = item ? item->text() : tolerance->text();
        item ? item->setText(test.text) : tolerance->setText(test.text);
        button("bbMatch")->click();
        EXPECT_EQ(fake.errors, std::vector<std::string>{test.message});
        EXPECT_FALSE(match->lastResult());
        item ? item->setText(before) : tolerance->setText(before);
    }
}

TEST_F(MatchWindowTest, AResultOfAnotherDesignIsCleared)
{
    window->mnPerSolClick(); // the curves of the periodic solution, which follow every change
    const std::string file = designText(state);
    tuneMatch();
    button("bbMatch")->click();
    runMatch();
    button("bbAccept")->click();
    ASSERT_TRUE(status().startsWith("accepted")) << status().toStdString();
    window->undoClick();
    EXPECT_EQ(status(), "n/a: the results were of another design");
    EXPECT_EQ(cell(match->constraintTable(), 0, ConstraintTable::Now), "");
    EXPECT_EQ(cell(match->constraintTable(), 0, ConstraintTable::Met), "");
    EXPECT_EQ(cell(match->variableTable(), 0, VariableTable::Now), "");
    // the undo leaves the design as it was in the file
    EXPECT_EQ(designText(state), file);
}

TEST_F(MatchWindowTest, StatusLinesMoveNothingAndTheWindowFitsTheScreen)
{
    match->show();
    QApplication::processEvents();
    const auto tablesAt = [this] { return match->variableTable()->mapTo(match.get(), QPoint(0, 0)); };
    const QPoint before = tablesAt();
    // an infeasible problem: a summary, what is not met and a bound reached
    addVariable("QF");
    match->variableTable()->item(0, VariableTable::Max)->setText("3.05");
    addConstraint("tune_x", "0.4");
    addConstraint("tune_y", "0.1");
    button("bbMatch")->click();
    runMatch();
    QApplication::processEvents();
    ASSERT_GE(status().count('\n'), 2) << status().toStdString();
    EXPECT_EQ(tablesAt(), before);
    EXPECT_LE(match->frameGeometry().height(), 960);
    EXPECT_LE(match->minimumSizeHint().height(), 960);
}

TEST_F(MatchWindowTest, AcceptRefusesADesignChangedMeanwhile)
{
    tuneMatch();
    button("bbMatch")->click();
    runMatch();
    state.line.at(1).k = 2.5; // edited in the beam-dynamics window while the result waited
    button("bbAccept")->click();
    ASSERT_EQ(fake.errors.size(), 1u);
    EXPECT_EQ(fake.errors[0], "the design has changed since the match started: match again");
    EXPECT_EQ(qf(), 2.5);
    EXPECT_FALSE(state.history.canUndo());
}

TEST_F(MatchWindowTest, ClickedElementsGoIntoTheTableInUse)
{
    QApplication::processEvents();
    match->chart()->refresh();
    const auto clickElement = [this](int e) {
        QTest::mouseClick(match->chart()->plot(), Qt::LeftButton, {}, match->chart()->shapeCentre(e));
    };
    addVariable(QString());
    clickElement(5); // QD
    EXPECT_EQ(cell(match->variableTable(), 0, VariableTable::Element), "QD");
    addConstraint("beta_x_m", "5");
    clickElement(1); // the first QF: another one follows, so its index
    EXPECT_EQ(cell(match->constraintTable(), 0, ConstraintTable::At), "1");
    clickElement(9);
    EXPECT_EQ(cell(match->constraintTable(), 0, ConstraintTable::At), "QF");
}

TEST_F(MatchWindowTest, AClickedElementReplacesTheElementOfTheRowPicked)
{
    match->show();
    QApplication::setActiveWindow(match.get());
    match->chart()->refresh();
    tuneMatch(); // the constraints worked in last
    VariableTable* t = match->variableTable();
    const auto clickElement = [this](int e) {
        QTest::mouseClick(match->chart()->plot(), Qt::LeftButton, {}, match->chart()->shapeCentre(e));
    };
    // the row picked by its cell, which was the table's current one already
    QTest::mouseClick(t->viewport(), Qt::LeftButton, {}, t->visualItemRect(t->item(1, 0)).center());
    clickElement(1);
    EXPECT_EQ(cell(t, 1, VariableTable::Element), "QF");
    EXPECT_EQ(cell(match->constraintTable(), 1, ConstraintTable::At), "end");
    EXPECT_EQ(t->rowCount(), 2);
    EXPECT_EQ(match->constraintTable()->rowCount(), 2);
}

TEST_F(MatchWindowTest, EachRowShowsTheDesignsValueAsSoonAsItFits)
{
    VariableTable* v = match->variableTable();
    ConstraintTable* c = match->constraintTable();
    addVariable("QF"); // no constraint yet
    EXPECT_EQ(cell(v, 0, VariableTable::Start), "3");
    addVariable("QX"); // no such element: the other rows stay shown
    addConstraint("tune_x", "0.3");
    EXPECT_EQ(cell(v, 0, VariableTable::Start), "3");
    EXPECT_EQ(cell(v, 1, VariableTable::Start), "");
    const QString tuneX = cell(c, 0, ConstraintTable::Now);
    EXPECT_FALSE(tuneX.isEmpty());
    qobject_cast<QComboBox*>(c->cellWidget(0, ConstraintTable::Quantity))->setCurrentText("tune_y");
    EXPECT_NE(cell(c, 0, ConstraintTable::Now), tuneX);
    EXPECT_FALSE(cell(c, 0, ConstraintTable::Now).isEmpty());
}

TEST_F(MatchWindowTest, DefinitionSavedAndOpenedAgain)
{
    tuneMatch();
    match->constraintTable()->item(1, ConstraintTable::Weight)->setText("2");
    const ScopedTestFolder folder("match-window");
    const QString file = QString::fromStdString((folder.path() / "tunes.json").string());
    QString offered;
    match->dialogs().saveFile = [&](const QString&, const QString&, const QString&, const QString& preset) {
        offered = preset;
        return file;
    };
    match->dialogs().openFile = [&](const QString&, const QString&) { return file; };
    state.documentFile = "/somewhere/fodo-cell.lat";
    match->findChild<QAction*>("mnSaveMatch")->trigger();
    EXPECT_EQ(offered, "fodo-cell-match.json"); // named after the lattice
    button("bbRemoveConstraint")->click();
    match->variableTable()->setRowCount(0);
    match->findChild<QAction*>("mnOpenMatch")->trigger();
    ASSERT_EQ(match->variableTable()->rowCount(), 2);
    ASSERT_EQ(match->constraintTable()->rowCount(), 2);
    EXPECT_EQ(cell(match->variableTable(), 1, VariableTable::Element), "QD");
    EXPECT_EQ(cell(match->constraintTable(), 1, ConstraintTable::Weight), "2");
    EXPECT_TRUE(fake.errors.empty());
}

} // namespace
} // namespace kestrune::test
