// Undo and redo in the beam-dynamics window: the Edit menu's texts, the platform's keys, the tuning run as
// one step, and the title that names the file and marks unsaved changes.
#include "MagStructFixture.h"
#include "gui/editor/ElementPanel.h"
#include "gui/editor/TuningPanel.h"

#include <QAction>
#include <QDir>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <cstdlib>
#include <qcustomplot.h>

namespace kestrune::test {
namespace {

const QString kDbaCell = QString(KESTRUNE_EXAMPLES) + "/dba-cell.lat";
const QString kCaption = "Magnet Lattice and Beam Dynamics Functions";

class MagStructUndo : public MagStructFixture
{
protected:
    QMenu* editMenu() { return window->findChild<QMenu*>("mnEdit"); }
    QAction* undoAction() { return window->findChild<QAction*>("mnUndo"); }
    QAction* redoAction() { return window->findChild<QAction*>("mnRedo"); }
    void appendThroughTheList(int kind)
    {
        window->addMagnetClick();
        window->magListClick(kind);
    }
    void openDba()
    {
        openAnswer = kDbaCell;
        window->openClick();
        ASSERT_GT(state.line.count, 10);
    }
};

TEST_F(MagStructUndo, EditMenuNamesTheStepToTakeBack)
{
    ASSERT_NE(editMenu(), nullptr);
    ASSERT_NE(undoAction(), nullptr);
    ASSERT_NE(redoAction(), nullptr);
    EXPECT_EQ(undoAction()->text(), "Undo");
    EXPECT_FALSE(undoAction()->isEnabled());
    EXPECT_EQ(redoAction()->text(), "Redo");
    EXPECT_FALSE(redoAction()->isEnabled());
    // the Edit menu follows File
    const QList<QAction*> top = window->menuBar()->actions();
    ASSERT_GE(top.size(), 2);
    EXPECT_EQ(top[1]->menu(), editMenu());

    appendThroughTheList(0);
    appendThroughTheList(3);
    ASSERT_EQ(state.line.count, 2);
    EXPECT_EQ(undoAction()->text(), "Undo append element");
    EXPECT_TRUE(undoAction()->isEnabled());
    undoAction()->trigger();
    EXPECT_EQ(state.line.count, 1);
    EXPECT_EQ(undoAction()->text(), "Undo append element");
    EXPECT_EQ(redoAction()->text(), "Redo append element");
    EXPECT_TRUE(redoAction()->isEnabled());
    undoAction()->trigger();
    EXPECT_EQ(state.line.count, 0);
    EXPECT_EQ(undoAction()->text(), "Undo");
    EXPECT_FALSE(undoAction()->isEnabled());

    window->symmetrizeClick(); // refused on an empty line: no step, the redo side stays
    EXPECT_TRUE(redoAction()->isEnabled());
    redoAction()->trigger();
    redoAction()->trigger();
    EXPECT_EQ(state.line.count, 2);
    window->symmetrizeClick();
    EXPECT_EQ(state.line.count, 4);
    EXPECT_EQ(undoAction()->text(), "Undo mirror");
    EXPECT_EQ(redoAction()->text(), "Redo");
    EXPECT_FALSE(redoAction()->isEnabled());
}

TEST_F(MagStructUndo, ThePlatformKeysUndoAndRedo)
{
    EXPECT_TRUE(undoAction()->shortcuts().contains(QKeySequence(Qt::CTRL | Qt::Key_Z)));
    EXPECT_TRUE(redoAction()->shortcuts().contains(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z)));
    // the menu shows the first key
    EXPECT_EQ(undoAction()->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Z));
    EXPECT_EQ(redoAction()->shortcut(), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z));
    for (const QKeySequence& key : QKeySequence::keyBindings(QKeySequence::Undo))
        EXPECT_TRUE(undoAction()->shortcuts().contains(key)) << key.toString().toStdString();
    for (const QKeySequence& key : QKeySequence::keyBindings(QKeySequence::Redo))
        EXPECT_TRUE(redoAction()->shortcuts().contains(key)) << key.toString().toStdString();

    showWindow();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    appendThroughTheList(1);
    appendThroughTheList(2);
    QTest::keyClick(window.get(), Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(state.line.count, 1);
    QTest::keyClick(window.get(), Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(state.line.count, 0);
    QTest::keyClick(window.get(), Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(state.line.count, 1);
    EXPECT_EQ(state.line.at(1).code, kindCode(1));
    // every further key the platform has for them works too
    for (const QKeySequence& key : redoAction()->shortcuts().mid(1)) {
        QTest::keySequence(window.get(), key);
        EXPECT_EQ(state.line.count, 2) << key.toString().toStdString();
        QTest::keyClick(window.get(), Qt::Key_Z, Qt::ControlModifier);
        ASSERT_EQ(state.line.count, 1);
    }
}

TEST_F(MagStructUndo, UndoAfterOpenBringsBackTheLineAndItsDrawing)
{
    showWindow();
    appendThroughTheList(0);
    appendThroughTheList(3);
    const double end = state.line.length;
    openDba();
    EXPECT_EQ(undoAction()->text(), "Undo open");
    undoAction()->trigger();
    EXPECT_EQ(state.line.count, 2);
    EXPECT_EQ(state.line.length, end);
    EXPECT_EQ(state.lastOpenedFile, "");
    redoAction()->trigger();
    EXPECT_GT(state.line.count, 10);
    EXPECT_EQ(state.lastOpenedFile, kDbaCell.toStdString());
}

TEST_F(MagStructUndo, TitleNamesTheFileAndMarksUnsavedChanges)
{
    EXPECT_EQ(window->windowTitle(), kCaption);
    appendThroughTheList(0);
    EXPECT_EQ(window->windowTitle(), kCaption + "*");
    openDba();
    EXPECT_EQ(window->windowTitle(), kCaption + " - dba-cell.lat");
    window->symmetrizeClick();
    EXPECT_EQ(window->windowTitle(), kCaption + " - dba-cell.lat*");
    undoAction()->trigger();
    EXPECT_EQ(window->windowTitle(), kCaption + " - dba-cell.lat") << "back at the design opened";
    redoAction()->trigger();
    EXPECT_EQ(window->windowTitle(), kCaption + " - dba-cell.lat*");

    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    saveAnswer = folder.filePath("mirrored.lat");
    window->saveAsClick();
    EXPECT_EQ(window->windowTitle(), kCaption + " - mirrored.lat");
    undoAction()->trigger();
    EXPECT_EQ(window->windowTitle(), kCaption + " - mirrored.lat*");
}

TEST_F(MagStructUndo, ATuningRunIsOneStepUntilThePanelCloses)
{
    showWindow();
    openDba();
    int quad = 0;
    for (int i = 1; i <= state.line.count && quad == 0; ++i)
        if (familyOf(state.line.at(i).code) == 2)
            quad = i;
    ASSERT_GT(quad, 0);
    const double k = state.line.at(quad).k;
    QTest::mouseClick(window->chart()->plot(), Qt::LeftButton, {}, window->chart()->shapeCentre(quad));
    ASSERT_EQ(window->editor().selectedElement, quad);
    emit window->elementPanel()->tuneRequested();
    auto* bar = window->tuningPanel()->findChild<QScrollBar*>("sbTuning");
    ASSERT_NE(bar, nullptr);
    for (int position : {3, 6, 9, 12})
        bar->setValue(position);
    ASSERT_NE(state.line.at(quad).k, k);
    QTest::mouseClick(window->tuningPanel()->findChild<QPushButton*>("bbAbort"), Qt::LeftButton);
    EXPECT_EQ(undoAction()->text(), "Undo tuning");
    undoAction()->trigger();
    EXPECT_EQ(state.line.at(quad).k, k);
    EXPECT_EQ(undoAction()->text(), "Undo open");
}

TEST_F(MagStructUndo, UndoDuringACutAndPasteGivesTheMarkedColoursBack)
{
    showWindow();
    appendThroughTheList(0);
    appendThroughTheList(1);
    appendThroughTheList(2);
    const Rgb colour = state.line.shape(2).colour;
    window->btCutPasteClick();
    QTest::mouseClick(window->chart()->plot(), Qt::LeftButton, {}, window->chart()->shapeCentre(2));
    ASSERT_NE(state.line.shape(2).colour, colour);
    undoAction()->trigger();
    EXPECT_EQ(state.line.count, 2);
    EXPECT_EQ(state.line.shape(2).colour, colour);
    EXPECT_EQ(window->editor().editOperation, EditOperation::None);
}

/// The open Edit menu over the DBA cell after an undone cut and paste, for the
/// documentation; runs only when KESTRUNE_SCREENSHOT_DIR names the folder to write it to.
TEST_F(MagStructUndo, ScreenshotOfTheEditMenu)
{
    const char* dir = std::getenv("KESTRUNE_SCREENSHOT_DIR");
    if (!dir)
        GTEST_SKIP() << "KESTRUNE_SCREENSHOT_DIR not set";
    showWindow();
    window->setChartTitle("Periodic Lattice");
    openDba();
    window->mnPerSolClick();
    window->btCutPasteClick();
    for (int e : {2, 4, 9})
        QTest::mouseClick(window->chart()->plot(), Qt::LeftButton, {}, window->chart()->shapeCentre(e));
    window->bbInsertClick();
    undoAction()->trigger();
    ASSERT_EQ(undoAction()->text(), "Undo open");
    ASSERT_EQ(redoAction()->text(), "Redo cut and paste");

    window->menuBar()->setActiveAction(editMenu()->menuAction());
    QTest::qWait(300);
    ASSERT_TRUE(editMenu()->isVisible());
    // the menu is a window of its own: painted over the window's picture where it stands
    QPixmap shot = window->grab();
    const QPixmap menu = editMenu()->grab();
    {
        QPainter painter(&shot);
        painter.drawPixmap(window->mapFromGlobal(editMenu()->pos()), menu);
    }
    editMenu()->hide();
    ASSERT_TRUE(shot.save(QDir(dir).filePath("edit-menu.png")));
}

} // namespace
} // namespace kestrune::test
