// Shortcuts, recent files and the chart's zoom and pan in the beam-dynamics window.
#include "MagStructFixture.h"
#include "core/Drawing.h"
#include "gui/editor/ElementPanel.h"
#include "gui/editor/MagShapePlottable.h"
#include "gui/editor/TuningPanel.h"
#include "gui/io/RecentFilesSettings.h"
#include "support/TestFolder.h"

#include <QAction>
#include <QDir>
#include <QMap>
#include <QMenu>
#include <QPushButton>
#include <QScrollBar>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <qcustomplot.h>

namespace kestrune::test {
namespace {

const QString kFodoCell = QString(KESTRUNE_EXAMPLES) + "/fodo-cell.lat";

class MagStructShell : public MagStructFixture
{
protected:
    MagStructShell()
    {
        storeRecentFiles(programSettings(), RecentFiles{}); // each test starts from an empty list
        window = std::make_unique<MagStructWindow>(state, windows);
        answerDialogs();
    }

    /// The fixture's dialog answers again, for a window made anew.
    void answerDialogs()
    {
        window->dialogs().openFile = [this](const QString& title, const QString&) {
            dialogTitles.push_back(title);
            return openAnswer;
        };
        window->dialogs().saveFile = [this](const QString& title, const QString&, const QString&,
                                            const QString&) {
            saveTitles.push_back(title);
            return saveAnswer;
        };
        window->dialogs().choosePrinter = [](QPrinter&) { return false; };
        window->dialogs().enterText = [this](const QString&, const QString&) {
            if (!enterAnswer)
                return false;
            state.enteredText = enterAnswer->toStdString();
            return true;
        };
    }

    void showActive()
    {
        showWindow();
        QApplication::setActiveWindow(window.get());
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    }

    /// The window's action with the given menu text.
    QAction* action(const QString& text)
    {
        for (QAction* a : window->findChildren<QAction*>())
            if (a->text() == text)
                return a;
        ADD_FAILURE() << "no action " << text.toStdString();
        return nullptr;
    }

    /// Copies the FODO cell to name in folder: a real lattice file of its own name.
    QString latticeCopy(const std::filesystem::path& folder, const std::string& name)
    {
        const std::filesystem::path target = folder / name;
        std::filesystem::copy_file(kFodoCell.toStdString(), target,
                                   std::filesystem::copy_options::overwrite_existing);
        return QString::fromStdString(target.string());
    }

    void openThroughDialog(const QString& fileName)
    {
        openAnswer = fileName;
        window->openClick();
    }

    QStringList recentMenuPaths()
    {
        QStringList paths;
        auto* menu = window->findChild<QMenu*>("mnRecent");
        for (QAction* a : menu->actions())
            if (a->data().isValid())
                paths << a->data().toString();
        return paths;
    }

    /// A long line of repeated FODO cells with bends (drift, QF, drift, bend, drift, QD), beta curves on.
    void buildLongLine(int n)
    {
        static const int kKinds[] = {0, 2, 0, 1, 0, 2};
        for (int i = 1; i <= n; ++i) {
            const int kind = kKinds[(i - 1) % 6];
            ASSERT_TRUE(addElement(state, kind, fake));
            LatticeElement& e = state.line.at(i);
            e.length = kind == 1 ? 1.0 : kind == 2 ? 0.3 : 0.5;
            if (kind == 2) {
                e.k = (i - 1) % 6 == 1 ? 1.6 : -1.6;
                applyQuadrupoleSign(state.line.shape(i), e.k, state.drawBaseline, state.drawScale);
            }
        }
        state.line.chainPositions();
        for (int i = 1; i <= n; ++i)
            placeShape(state.line, i);
        state.run.showBetaFunctions = true;
        window->chart()->setBottomMax(bottomAxisMaximum(state.line));
        window->beamDynamics();
        showWindow();
    }

    QCustomPlot* plot() { return window->chart()->plot(); }
    QCPAxis* xAxis() { return plot()->xAxis; }

    void wheel(QPoint at, int angleDelta)
    {
        QWheelEvent event(at, plot()->mapToGlobal(at), QPoint(), QPoint(0, angleDelta), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(plot(), &event);
    }

    void mouse(QEvent::Type type, QPoint at, Qt::MouseButton button, Qt::MouseButtons buttons)
    {
        QMouseEvent event(type, at, plot()->mapToGlobal(at), button, buttons, Qt::NoModifier);
        QApplication::sendEvent(plot(), &event);
    }

    void drag(QPoint from, QPoint to)
    {
        mouse(QEvent::MouseButtonPress, from, Qt::LeftButton, Qt::LeftButton);
        const QPoint step = (to - from) / 4;
        for (int i = 1; i <= 4; ++i)
            mouse(QEvent::MouseMove, i == 4 ? to : from + step * i, Qt::NoButton, Qt::LeftButton);
        mouse(QEvent::MouseButtonRelease, to, Qt::LeftButton, Qt::NoButton);
    }

    /// The events of a double click as the window system sends them: the second press comes as the
    /// double click.
    void doubleClick(QPoint at)
    {
        mouse(QEvent::MouseButtonPress, at, Qt::LeftButton, Qt::LeftButton);
        mouse(QEvent::MouseButtonRelease, at, Qt::LeftButton, Qt::NoButton);
        mouse(QEvent::MouseButtonDblClick, at, Qt::LeftButton, Qt::LeftButton);
        mouse(QEvent::MouseButtonRelease, at, Qt::LeftButton, Qt::NoButton);
    }

    /// A point of the plot area above the lattice drawing, where no shape is.
    QPoint emptyPoint(double fractionAlong)
    {
        const QRect area = window->chart()->plotArea();
        const QPoint p(area.left() + static_cast<int>(area.width() * fractionAlong), area.top() + 10);
        EXPECT_EQ(window->chart()->shapes()->elementAt(p), 0);
        return p;
    }
};

// --- shortcuts ---------------------------------------------------------------------------------

TEST_F(MagStructShell, FileAndHelpCommandsHaveTheUsualKeysAndTheKeysRunThem)
{
    showActive();
    struct Case
    {
        const char* text;
        const char* keys;
    };
    const Case cases[] = {{"&Open...", "Ctrl+O"},
                          {"Save &As...", "Ctrl+Shift+S"},
                          {"print graph", "Ctrl+P"},
                          {"Help", "F1"},
                          {"&Quit program", "Ctrl+Q"},
                          {"update graph", "F5"},
                          {"show beam sizes", "F9"},
                          {"look for periodic solution", "F8"},
                          {"zoom in", "Ctrl++"},
                          {"show full line", "Ctrl+0"},
                          {"print transformation matrix", "Ctrl+M"}};
    for (const Case& c : cases) {
        QAction* a = action(c.text);
        ASSERT_NE(a, nullptr);
        EXPECT_TRUE(a->shortcuts().contains(QKeySequence(c.keys))) << c.text;
        QSignalSpy triggered(a, &QAction::triggered);
        QTest::keySequence(window.get(), QKeySequence(c.keys));
        EXPECT_EQ(triggered.count(), 1) << c.text << " by " << c.keys;
        if (!window->isVisible()) // a command's panel or box may have taken the window away
            showActive();
    }
    // the keys reach the commands behind the entries: the open and save dialogs were asked
    EXPECT_EQ(dialogTitles.size(), 1);
    EXPECT_EQ(saveTitles.size(), 1);
}

TEST_F(MagStructShell, CloseKeyHidesTheWindow)
{
    showActive();
    QAction* exit = action("E&xit");
    ASSERT_NE(exit, nullptr);
    ASSERT_TRUE(exit->shortcuts().contains(QKeySequence("Ctrl+W")));
    QTest::keySequence(window.get(), QKeySequence("Ctrl+W"));
    EXPECT_FALSE(window->isVisible());
}

TEST_F(MagStructShell, NoTwoCommandsShareAKeyAndUndoKeysStayWithUndo)
{
    QMap<QString, QString> owners;
    for (QAction* a : window->findChildren<QAction*>()) {
        for (const QKeySequence& keys : a->shortcuts()) {
            const QString name = keys.toString();
            EXPECT_FALSE(owners.contains(name))
                << name.toStdString() << ": " << owners.value(name).toStdString() << " and "
                << a->text().toStdString();
            owners.insert(name, a->text());
        }
    }
    EXPECT_GE(owners.size(), 14);
    // the undo keys belong to undo and redo alone
    for (const char* reserved : {"Ctrl+Z", "Ctrl+Shift+Z", "Ctrl+Y"})
        if (owners.contains(reserved)) {
            EXPECT_TRUE(owners.value(reserved).startsWith("Undo") ||
                        owners.value(reserved).startsWith("Redo"))
                << reserved << " on " << owners.value(reserved).toStdString();
        }
}

TEST_F(MagStructShell, MenusShowTheKeys)
{
    // a menu entry shows the action's first key sequence beside its text
    for (const char* text : {"&Open...", "Save &As...", "print graph", "look for periodic solution"}) {
        QAction* a = action(text);
        ASSERT_NE(a, nullptr);
        EXPECT_FALSE(a->shortcut().isEmpty()) << text;
        EXPECT_FALSE(a->associatedObjects().isEmpty()) << text; // it sits in a menu
    }
}

// --- recent files ------------------------------------------------------------------------------

TEST_F(MagStructShell, OpenedAndSavedFilesComeFirstInTheList)
{
    const ScopedTestFolder scoped("kestrune-recent");
    const std::filesystem::path& folder = scoped.path();
    const QString a = latticeCopy(folder, "a.lat");
    const QString b = latticeCopy(folder, "b.lat");
    openThroughDialog(a);
    openThroughDialog(b);
    ASSERT_EQ(window->recentFiles().paths.size(), 2u);
    EXPECT_EQ(recentMenuPaths().join('\n').toStdString(), QStringList({b, a}).join('\n').toStdString());

    // the same file under another spelling is one entry, moved to the front
    std::filesystem::create_directory(folder / "sub");
    openThroughDialog(QString::fromStdString((folder / "sub" / ".." / "a.lat").string()));
    EXPECT_EQ(recentMenuPaths().join('\n').toStdString(), QStringList({a, b}).join('\n').toStdString());

    saveAnswer = QString::fromStdString((folder / "saved.lat").string());
    window->saveAsClick();
    ASSERT_TRUE(std::filesystem::exists(folder / "saved.lat"));
    EXPECT_EQ(recentMenuPaths().join('\n').toStdString(),
              QStringList({saveAnswer, a, b}).join('\n').toStdString());
    for (const std::string& e : fake.errors)
        ADD_FAILURE() << e;
}

TEST_F(MagStructShell, SaveAsPreviousVersionWritesItOrNamesWhatItCannotHold)
{
    const ScopedTestFolder scoped("kestrune-previous");
    openThroughDialog(latticeCopy(scoped.path(), "cell.lat"));
    auto* previous = window->findChild<QAction*>("mnSaveAsPrevious");
    ASSERT_NE(previous, nullptr);
    saveAnswer = QString::fromStdString((scoped.path() / "old.lat").string());
    previous->trigger();
    std::ifstream old(scoped.path() / "old.lat", std::ios::binary);
    std::string first;
    std::getline(old, first);
    EXPECT_EQ(first, "1003\r");
    EXPECT_TRUE(fake.errors.empty());

    state.line.at(1).name = "DRIFT_LONG";
    saveAnswer = QString::fromStdString((scoped.path() / "long.lat").string());
    previous->trigger();
    ASSERT_EQ(fake.errors.size(), 1u);
    EXPECT_NE(fake.errors[0].find("DRIFT_LONG (element 1)"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(scoped.path() / "long.lat"));
}

TEST_F(MagStructShell, ListKeepsTheLastTen)
{
    const ScopedTestFolder scoped("kestrune-recent");
    const std::filesystem::path& folder = scoped.path();
    QStringList opened;
    for (int i = 1; i <= 12; ++i) {
        opened.prepend(latticeCopy(folder, "cell" + std::to_string(i) + ".lat"));
        openThroughDialog(opened.front());
    }
    EXPECT_EQ(recentMenuPaths(), opened.mid(0, 10));
    EXPECT_NE(window->findChild<QAction*>("mnRecent10"), nullptr);
    EXPECT_EQ(window->findChild<QAction*>("mnRecent11"), nullptr);
}

TEST_F(MagStructShell, RecentEntryOpensThroughTheOpenPath)
{
    const ScopedTestFolder scoped("kestrune-recent");
    const std::filesystem::path& folder = scoped.path();
    const QString a = latticeCopy(folder, "a.lat");
    openThroughDialog(a);
    const int count = state.line.count;
    ASSERT_GT(count, 0);
    window->clearBLClick();
    ASSERT_EQ(state.line.count, 0);

    QAction* entry = window->findChild<QAction*>("mnRecent1");
    ASSERT_NE(entry, nullptr);
    EXPECT_TRUE(entry->text().contains("a.lat"));
    entry->trigger();
    EXPECT_EQ(state.line.count, count);
    EXPECT_EQ(QString::fromStdString(state.lastOpenedFile), a);
    EXPECT_EQ(dialogTitles.size(), 1); // no dialog for a recent file
    EXPECT_TRUE(fake.errors.empty());
}

TEST_F(MagStructShell, RecentOpenIsUndoneLikeOpen)
{
    const ScopedTestFolder scoped("kestrune-recent");
    const std::filesystem::path& folder = scoped.path();
    openThroughDialog(latticeCopy(folder, "a.lat"));
    window->clearBLClick();
    appendKinds({0, 2});
    window->findChild<QAction*>("mnRecent1")->trigger();
    ASSERT_GT(state.line.count, 2);
    auto* undo = window->findChild<QAction*>("mnUndo");
    ASSERT_NE(undo, nullptr);
    EXPECT_EQ(undo->text(), "Undo open");
    undo->trigger();
    EXPECT_EQ(state.line.count, 2); // the design before the open
}

TEST_F(MagStructShell, MissingFileIsTakenOffWithAMessage)
{
    const ScopedTestFolder scoped("kestrune-recent");
    const std::filesystem::path& folder = scoped.path();
    const QString a = latticeCopy(folder, "a.lat");
    const QString gone = latticeCopy(folder, "gone.lat");
    openThroughDialog(gone);
    openThroughDialog(a);
    const int count = state.line.count;
    std::filesystem::remove(gone.toStdString());

    QAction* entry = window->findChild<QAction*>("mnRecent2");
    ASSERT_NE(entry, nullptr);
    ASSERT_EQ(entry->data().toString(), gone);
    entry->trigger();
    ASSERT_EQ(fake.errors.size(), 1u);
    EXPECT_EQ(fake.errors[0], missingRecentFileMessage(gone.toStdString()));
    EXPECT_EQ(recentMenuPaths(), QStringList{a});
    EXPECT_EQ(state.line.count, count); // the design stays
    EXPECT_EQ(QString::fromStdString(state.lastOpenedFile), a);

    // a new window reads the list without it
    MagStructWindow second(state, windows);
    EXPECT_EQ(second.recentFiles().paths, std::vector<std::string>{a.toStdString()});
}

TEST_F(MagStructShell, ListIsKeptForTheNextRun)
{
    const ScopedTestFolder scoped("kestrune-recent");
    const std::filesystem::path& folder = scoped.path();
    const QString a = latticeCopy(folder, "a.lat");
    const QString b = latticeCopy(folder, "b.lat");
    openThroughDialog(a);
    openThroughDialog(b);

    // the run's settings live in the test's own folder, never in the user's
    EXPECT_TRUE(programSettings().fileName().startsWith(QDir::tempPath()))
        << programSettings().fileName().toStdString();
    window.reset();
    State next;
    Windows nextWindows;
    nextWindows.messages = qtMessages.get();
    MagStructWindow again(next, nextWindows);
    EXPECT_EQ(again.recentFiles().paths, (std::vector<std::string>{b.toStdString(), a.toStdString()}));
    auto* entry = again.findChild<QAction*>("mnRecent1");
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->data().toString(), b);
}

TEST_F(MagStructShell, ClearEmptiesTheList)
{
    const ScopedTestFolder scoped("kestrune-recent");
    const std::filesystem::path& folder = scoped.path();
    openThroughDialog(latticeCopy(folder, "a.lat"));
    auto* clear = window->findChild<QAction*>("mnRecentClear");
    ASSERT_NE(clear, nullptr);
    ASSERT_TRUE(clear->isEnabled());
    clear->trigger();
    EXPECT_TRUE(recentMenuPaths().isEmpty());
    EXPECT_TRUE(loadRecentFiles(programSettings()).paths.empty());
}

// --- zoom and pan ------------------------------------------------------------------------------

TEST_F(MagStructShell, WheelZoomsAboutThePointer)
{
    buildLongLine(600);
    const KeyRange full = window->chart()->shownRange();
    const QPoint at = emptyPoint(0.3);
    const double s = xAxis()->pixelToCoord(at.x());
    const int points = window->chart()->pointCount(1);
    const unsigned long revision = state.listing.revision;

    wheel(at, 120);
    wheel(at, 120);
    const KeyRange in = window->chart()->shownRange();
    EXPECT_NEAR(in.width(), full.width() * 0.64, 1e-9 * full.width());
    // the point under the pointer keeps its place: within a hundredth of a pixel
    EXPECT_NEAR(xAxis()->coordToPixel(s), at.x(), 0.01);
    EXPECT_NEAR(xAxis()->pixelToCoord(at.x()), s, 0.01 * in.width() / xAxis()->axisRect()->width());
    EXPECT_TRUE(window->chart()->zoomed());

    // no new pass over the line: the same curve points, the same list
    EXPECT_EQ(window->chart()->pointCount(1), points);
    EXPECT_EQ(state.listing.revision, revision);

    wheel(at, -240);
    EXPECT_NEAR(window->chart()->shownRange().lower, full.lower, 1e-9 * full.width());
    EXPECT_NEAR(window->chart()->shownRange().upper, full.upper, 1e-9 * full.width());
}

TEST_F(MagStructShell, DrawingFollowsTheCurvesWhenZoomed)
{
    buildLongLine(600);
    const double s400 = state.line.at(400).s;
    window->chart()->zoomAt(s400, 0.02);
    // a shape sits at its s on the same axis as the curves
    const ElementShape& shape = state.line.shape(400);
    const QPointF centre = window->chart()->shapes()->shapeCentre(400);
    EXPECT_NEAR(centre.x(), xAxis()->coordToPixel((shape.x0 + shape.x1) / 2), 1e-6);
    // and is many pixels wide now: the hit test uses the pixels of the zoomed axis
    EXPECT_GT(xAxis()->coordToPixel(shape.x1) - xAxis()->coordToPixel(shape.x0), 20);
}

TEST_F(MagStructShell, ShapeClickSelectsTheRightElementWhenZoomed)
{
    buildLongLine(600);
    // at full range the 600 shapes are about two pixels each; zoomed, every one has its own place
    window->chart()->zoomAt(state.line.at(400).s, 0.02);
    for (int e : {398, 399, 400, 401, 402}) {
        const QPoint centre = window->chart()->shapeCentre(e);
        ASSERT_TRUE(window->chart()->plotArea().contains(centre)) << e;
        QTest::mouseClick(plot(), Qt::LeftButton, {}, centre);
        EXPECT_EQ(window->editor().selectedElement, e);
        EXPECT_EQ(window->elementPanel()->element(), e);
    }
}

TEST_F(MagStructShell, DragPansAndIsNoClick)
{
    buildLongLine(600);
    window->chart()->zoomAt(state.line.at(300).s, 0.1);
    const KeyRange before = window->chart()->shownRange();
    const double metresPerPixel = before.width() / xAxis()->axisRect()->width();
    const QPoint from = window->chart()->shapeCentre(300); // a drag may start on a shape
    drag(from, from + QPoint(-120, 0));
    const KeyRange after = window->chart()->shownRange();
    EXPECT_NEAR(after.lower - before.lower, 120 * metresPerPixel, 1e-9 * before.width());
    EXPECT_NEAR(after.width(), before.width(), 1e-9 * before.width());
    EXPECT_EQ(window->editor().selectedElement, 0); // the drag selected nothing
    EXPECT_FALSE(window->elementPanel()->isVisible());

    // a drag past the start stops there
    for (int i = 0; i < 8; ++i)
        drag(emptyPoint(0.2), emptyPoint(0.95));
    EXPECT_NEAR(window->chart()->shownRange().lower, 0, 1e-12);
}

TEST_F(MagStructShell, DoubleClickAndMenuShowTheWholeLine)
{
    buildLongLine(600);
    const KeyRange full = window->chart()->fullRange();
    window->chart()->zoomAt(state.line.at(200).s, 0.1);
    ASSERT_TRUE(window->chart()->zoomed());
    doubleClick(emptyPoint(0.5));
    EXPECT_FALSE(window->chart()->zoomed());
    EXPECT_NEAR(window->chart()->shownRange().upper, full.upper, 1e-12);
    EXPECT_EQ(window->editor().selectedElement, 0);

    window->chart()->zoomAt(state.line.at(200).s, 0.1);
    action("show full line")->trigger();
    EXPECT_FALSE(window->chart()->zoomed());
}

TEST_F(MagStructShell, DoubleClickOnAShapeSelectsItOnce)
{
    buildLongLine(60);
    window->chart()->zoomAt(state.line.at(20).s, 0.3);
    // a range delete: the two clicks of a double click on one shape must not be both limits
    QTest::mouseClick(window->findChild<QPushButton*>("bbDelEl"), Qt::LeftButton);
    const int count = state.line.count;
    doubleClick(window->chart()->shapeCentre(20));
    EXPECT_TRUE(window->editor().firstLimitSet);
    EXPECT_EQ(state.line.count, count);
    EXPECT_TRUE(window->chart()->zoomed());
}

TEST_F(MagStructShell, ZoomStaysThroughEditsThatKeepTheLength)
{
    buildLongLine(120);
    window->chart()->zoomAt(state.line.at(60).s, 0.2);
    const KeyRange shown = window->chart()->shownRange();
    window->chart()->setBottomMax(bottomAxisMaximum(state.line)); // as an edit of a value does
    EXPECT_NEAR(window->chart()->shownRange().lower, shown.lower, 1e-12);
    EXPECT_NEAR(window->chart()->shownRange().upper, shown.upper, 1e-12);

    // opening a file shows the whole of the new line
    openThroughDialog(kFodoCell);
    EXPECT_FALSE(window->chart()->zoomed());
    EXPECT_NEAR(window->chart()->bottomUpper(), state.line.length + 0.75, 1e-12);
}

TEST_F(MagStructShell, RangeDeleteByClicksWhenZoomed)
{
    buildLongLine(600);
    window->chart()->zoomAt(state.line.at(300).s, 0.03);
    const int count = state.line.count;
    const double length = state.line.length;
    const double removed = state.line.at(300).length + state.line.at(301).length + state.line.at(302).length;
    QTest::mouseClick(window->findChild<QPushButton*>("bbDelEl"), Qt::LeftButton);
    QTest::mouseClick(plot(), Qt::LeftButton, {}, window->chart()->shapeCentre(300));
    EXPECT_EQ(fake.errors.back(), "now select right limit");
    QTest::mouseClick(plot(), Qt::LeftButton, {}, window->chart()->shapeCentre(302));
    EXPECT_EQ(state.line.count, count - 3);
    EXPECT_NEAR(state.line.length, length - removed, 1e-9);
    // the view stays where it was, inside the shorter line
    EXPECT_TRUE(window->chart()->zoomed());
    EXPECT_NEAR(window->chart()->fullRange().upper, state.line.length + 0.75, 1e-9);
}

TEST_F(MagStructShell, TuningStepsKeepTheZoom)
{
    buildLongLine(120);
    window->chart()->zoomAt(state.line.at(60).s, 0.2);
    const KeyRange shown = window->chart()->shownRange();
    window->tuningPanel()->startTuning(62); // a quadrupole
    ASSERT_EQ(familyOf(state.line.at(62).code), 2);
    auto* bar = window->tuningPanel()->findChild<QScrollBar*>("sbTuning");
    ASSERT_NE(bar, nullptr);
    const double k = state.line.at(62).k;
    bar->setValue(5);
    EXPECT_NE(state.line.at(62).k, k);
    EXPECT_NEAR(window->chart()->shownRange().lower, shown.lower, 1e-12);
    EXPECT_NEAR(window->chart()->shownRange().upper, shown.upper, 1e-12);
}

/// A picture for the documentation: the example DBA cell repeated to eight cells, zoomed in on
/// three cells with a quadrupole selected; runs only when KESTRUNE_SCREENSHOT_DIR names the folder.
TEST_F(MagStructShell, ZoomedLongLineScreenshot)
{
    const char* dir = std::getenv("KESTRUNE_SCREENSHOT_DIR");
    if (!dir)
        GTEST_SKIP() << "KESTRUNE_SCREENSHOT_DIR not set";
    showWindow();
    window->setChartTitle("Periodic Magnet Lattice");
    openThroughDialog(QString(KESTRUNE_EXAMPLES) + "/dba-cell.lat");
    const int cell = state.line.count;
    ASSERT_GT(cell, 0);
    enterAnswer = "8";
    window->repeatLatticeClick();
    ASSERT_EQ(state.line.count, 8 * cell) << (fake.errors.empty() ? "" : fake.errors.back());
    window->mnPerSolClick();

    // three cells in the middle of the ring, zoomed by the wheel about their centre
    const double s = state.line.at(4 * cell + cell / 2).s;
    for (int notch = 0; notch < 6; ++notch)
        wheel(QPoint(static_cast<int>(xAxis()->coordToPixel(s)), window->chart()->plotArea().center().y()),
              120);
    ASSERT_TRUE(window->chart()->zoomed());
    int quad = 0;
    for (int i = 4 * cell + 1; i <= 5 * cell && quad == 0; ++i)
        if (familyOf(state.line.at(i).code) == 2)
            quad = i;
    ASSERT_GT(quad, 0);
    QTest::mouseClick(plot(), Qt::LeftButton, {}, window->chart()->shapeCentre(quad));
    ASSERT_EQ(window->editor().selectedElement, quad);
    QTest::qWait(200);
    ASSERT_TRUE(window->grab().save(QDir(dir).filePath("zoomed-line.png")));
}

} // namespace
} // namespace kestrune::test
