#include "core/Drawing.h"
#include "core/Kinematics.h"
#include "core/io/LatticeFile.h"
#include "gui/QtMessages.h"
#include "gui/matching/MatchTables.h"
#include "gui/matching/MatchWindow.h"
#include "support/FakeMessages.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QPushButton>
#include <QTest>
#include <cstdlib>
#include <gtest/gtest.h>

namespace kestrune {
namespace {

/// Pictures of the match window with the example DBA cell, for the documentation; run only when
/// KESTRUNE_SCREENSHOT_DIR names the folder to write them to.
class MatchScreenshot : public ::testing::Test
{
protected:
    MatchScreenshot() : messages(windows)
    {
        messages.redirectTo(&fake);
        windows.messages = &messages;
        startParticle(state);
        EXPECT_TRUE(readLatticeFile(state, fake, std::string(KESTRUNE_EXAMPLES) + "/dba-cell.lat"));
        drawFromFileBoxes(state);
    }

    void row(MatchWindow& w, const char* element)
    {
        w.addVariableClick();
        VariableTable* t = w.variableTable();
        t->item(t->rowCount() - 1, VariableTable::Element)->setText(element);
    }
    void row(MatchWindow& w, const char* quantity, const char* relation, const char* target, const char* at)
    {
        w.addConstraintClick();
        ConstraintTable* t = w.constraintTable();
        const int r = t->rowCount() - 1;
        qobject_cast<QComboBox*>(t->cellWidget(r, ConstraintTable::Quantity))->setCurrentText(quantity);
        qobject_cast<QComboBox*>(t->cellWidget(r, ConstraintTable::Relation))->setCurrentText(relation);
        t->item(r, ConstraintTable::Target)->setText(target);
        t->item(r, ConstraintTable::At)->setText(at);
    }
    void run(MatchWindow& w)
    {
        w.bbMatchClick();
        for (int turn = 0; turn < 1000 && w.running(); ++turn)
            QApplication::processEvents();
        QTest::qWait(100);
    }

    State state;
    Windows windows;
    test::FakeMessages fake;
    QtMessages messages;
};

TEST_F(MatchScreenshot, DbaTunesAchromatAndBetaLimit)
{
    const char* dir = std::getenv("KESTRUNE_SCREENSHOT_DIR");
    if (!dir)
        GTEST_SKIP() << "KESTRUNE_SCREENSHOT_DIR not set";
    MatchWindow w(state, windows);
    w.resize(1180, 800);
    w.show();
    for (const char* name : {"QM", "QA", "Q1", "Q2"})
        row(w, name);
    row(w, "tune_x", "=", "9.35", "end");
    row(w, "tune_y", "=", "4.3", "end");
    row(w, "eta_x_m", "=", "0", "end");
    row(w, "max_beta_y_m", "<=", "13", "end");
    run(w);
    ASSERT_TRUE(w.lastResult() && w.lastResult()->converged);
    ASSERT_TRUE(w.grab().save(QDir(dir).filePath("match-dba.png")));

    // one family for two tunes: the least-squares compromise, the constraints not met in red
    w.bbResetClick();
    for (int r = 3; r >= 1; --r)
        w.variableTable()->removeRow(r);
    w.constraintTable()->removeRow(3);
    w.constraintTable()->removeRow(2);
    run(w);
    ASSERT_TRUE(w.lastResult() && !w.lastResult()->converged);
    ASSERT_TRUE(w.grab().save(QDir(dir).filePath("match-compromise.png")));
}

TEST_F(MatchScreenshot, CoupledRingCorrectedByItsSkewQuadrupoleAndRolls)
{
    const char* dir = std::getenv("KESTRUNE_SCREENSHOT_DIR");
    if (!dir)
        GTEST_SKIP() << "KESTRUNE_SCREENSHOT_DIR not set";
    // one cell as the ring: of eight cells the ring's C- would vanish (its cells' sums turn by 2 pi p / 8)
    ASSERT_TRUE(readLatticeFile(state, fake, std::string(KESTRUNE_VALIDATION) + "/coupled-double-bend.lat"));
    state.line.superPeriods = 1;
    drawFromFileBoxes(state);
    MatchWindow w(state, windows);
    w.resize(1180, 800);
    w.show();
    row(w, "SQ");
    row(w, "Q2");
    qobject_cast<QComboBox*>(w.variableTable()->cellWidget(0, VariableTable::Field))->setCurrentText("k1s");
    qobject_cast<QComboBox*>(w.variableTable()->cellWidget(1, VariableTable::Field))->setCurrentText("tilt");
    row(w, "c_minus_re", "=", "0", "end");
    row(w, "c_minus_im", "=", "0", "end");
    row(w, "tune_1", ">=", "0.01", "end");
    row(w, "tune_2", ">=", "0.01", "end");
    run(w);
    ASSERT_TRUE(w.lastResult() && w.lastResult()->converged)
        << (fake.errors.empty() ? "" : fake.errors.back());
    ASSERT_TRUE(w.grab().save(QDir(dir).filePath("match-coupling.png")));
}

} // namespace
} // namespace kestrune
