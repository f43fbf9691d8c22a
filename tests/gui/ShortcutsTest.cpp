// The keys of every window of the program: the usual keys on the file commands, no key twice in one
// window, and the program's end by its key from the beam-dynamics window.
#include "app/ProgramWindows.h"
#include "core/Kinematics.h"
#include "gui/QtMessages.h"
#include "gui/aperture/ApertureWindow.h"
#include "gui/chromaticity/ChromaticWindow.h"
#include "gui/editor/MagStructWindow.h"
#include "gui/io/ListingWindow.h"
#include "gui/io/RecentFilesSettings.h"
#include "gui/lifetime/LifeTimeWindow.h"
#include "gui/matching/MatchWindow.h"
#include "gui/resonance/ResonanceWindow.h"
#include "gui/rf/RfWindow.h"
#include "gui/ring/RingWindow.h"
#include "gui/shell/HelpWindow.h"
#include "gui/shell/StartWindow.h"
#include "gui/vacuum/VacuumWindow.h"
#include "support/FakeMessages.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QMap>
#include <QMenu>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <gtest/gtest.h>

namespace kestrune {
namespace {

class Shortcuts : public ::testing::Test
{
protected:
    Shortcuts() : messages(windows)
    {
        messages.redirectTo(&fake);
        windows.messages = &messages;
        program = std::make_unique<ProgramWindows>(state, windows, QDir(directory.path()).filePath("user"));
    }

    static QAction* action(QWidget* window, const QString& text)
    {
        for (QAction* a : window->findChildren<QAction*>())
            if (a->text() == text)
                return a;
        ADD_FAILURE() << "no action " << text.toStdString();
        return nullptr;
    }

    static bool hasKeys(QWidget* window, const QString& text, const char* keys)
    {
        QAction* a = action(window, text);
        return a && a->shortcuts().contains(QKeySequence(keys));
    }

    QTemporaryDir directory;
    State state;
    Windows windows;
    test::FakeMessages fake;
    QtMessages messages;
    std::unique_ptr<ProgramWindows> program;
};

TEST_F(Shortcuts, NoWindowGivesOneKeyToTwoCommands)
{
    const QList<QWidget*> all = {windows.start,   windows.magStruct, windows.ring,    windows.rf,
                                 windows.help,    windows.chromatic, windows.vacuum,  windows.lifeTime,
                                 windows.listing, windows.match,     windows.aperture};
    for (QWidget* window : all) {
        ASSERT_NE(window, nullptr);
        QMap<QString, QString> owners;
        for (QAction* a : window->findChildren<QAction*>())
            for (const QKeySequence& keys : a->shortcuts()) {
                EXPECT_FALSE(owners.contains(keys.toString()))
                    << window->objectName().toStdString() << ": " << keys.toString().toStdString();
                owners.insert(keys.toString(), a->text());
            }
        for (const char* reserved : {"Ctrl+Z", "Ctrl+Shift+Z"})
            if (owners.contains(reserved)) {
                EXPECT_TRUE(owners.value(reserved).startsWith("Undo") ||
                            owners.value(reserved).startsWith("Redo"))
                    << window->objectName().toStdString() << ": " << reserved;
            }
    }
}

TEST_F(Shortcuts, ToolWindowsFileCommandsHaveTheUsualKeys)
{
    EXPECT_TRUE(hasKeys(windows.ring, "Save &As...", "Ctrl+Shift+S"));
    EXPECT_TRUE(hasKeys(windows.ring, "E&xit", "Ctrl+W"));
    EXPECT_TRUE(hasKeys(windows.ring, "update", "F5"));
    EXPECT_TRUE(hasKeys(windows.rf, "Save &As...", "Ctrl+Shift+S"));
    EXPECT_TRUE(hasKeys(windows.rf, "print graph", "Ctrl+P"));
    EXPECT_TRUE(hasKeys(windows.rf, "E&xit", "Ctrl+W"));
    EXPECT_TRUE(hasKeys(windows.help, "&Save", "Ctrl+S"));
    EXPECT_TRUE(hasKeys(windows.help, "&Print...", "Ctrl+P"));
    EXPECT_TRUE(hasKeys(windows.help, "E&xit", "Ctrl+W"));
    auto* close = windows.start->findChild<QToolButton*>("tbCloseProgram");
    ASSERT_NE(close, nullptr);
    EXPECT_EQ(close->shortcut(), QKeySequence("Ctrl+Q"));
}

TEST_F(Shortcuts, RingWindowCloseKeyHidesIt)
{
    windows.ring->show();
    QApplication::setActiveWindow(windows.ring);
    ASSERT_TRUE(QTest::qWaitForWindowActive(windows.ring));
    QTest::keySequence(windows.ring, QKeySequence("Ctrl+W"));
    EXPECT_FALSE(windows.ring->isVisible());
}

TEST_F(Shortcuts, HelpKeyOpensTheHelpWindow)
{
    windows.magStruct->show();
    QApplication::setActiveWindow(windows.magStruct);
    ASSERT_TRUE(QTest::qWaitForWindowActive(windows.magStruct));
    ASSERT_FALSE(windows.help->isVisible());
    QTest::keySequence(windows.magStruct, QKeySequence("F1"));
    EXPECT_TRUE(windows.help->isVisible());
}

TEST_F(Shortcuts, QuitKeyAsksOnlyForUnsavedChanges)
{
    QStringList asked;
    windows.magStruct->dialogs().saveChanges = [&](const QString& question) {
        asked << question;
        return SaveChoice::Cancel;
    };
    windows.start->show();
    windows.magStruct->show();
    QApplication::setActiveWindow(windows.magStruct);
    ASSERT_TRUE(QTest::qWaitForWindowActive(windows.magStruct));
    windows.magStruct->addMagnetClick();
    windows.magStruct->magListClick(0);
    QTest::keySequence(windows.magStruct, QKeySequence("Ctrl+Q"));
    EXPECT_EQ(asked, QStringList{"Save changes to untitled?"});
    EXPECT_TRUE(windows.start->isVisible()) << "cancelled: the program goes on";
    EXPECT_TRUE(fake.questions.empty());

    windows.magStruct->undoClick(); // nothing left to save: the program ends without a question
    QTest::keySequence(windows.magStruct, QKeySequence("Ctrl+Q"));
    EXPECT_EQ(asked.size(), 1);
    EXPECT_FALSE(windows.start->isVisible());
}

TEST_F(Shortcuts, EscapeAndTheCloseKeyCloseEveryToolWindow)
{
    const QList<QWidget*> tools = {windows.listing,   windows.chromatic, windows.help, windows.lifeTime,
                                   windows.resonance, windows.rf,        windows.ring, windows.vacuum,
                                   windows.match,     windows.aperture};
    for (const char* keys : {"Esc", "Ctrl+W"})
        for (QWidget* window : tools) {
            ASSERT_NE(window, nullptr);
            window->show();
            QApplication::setActiveWindow(window);
            ASSERT_TRUE(QTest::qWaitForWindowActive(window)) << window->objectName().toStdString();
            QTest::keySequence(window, QKeySequence(keys));
            EXPECT_FALSE(window->isVisible()) << window->objectName().toStdString() << " " << keys;
            window->hide();
        }
}

TEST_F(Shortcuts, TheMnemonicOfADisabledButtonTypesNothing)
{
    QWidget* match = windows.match;
    match->show();
    auto* reset = match->findChild<QPushButton*>("bbReset");
    auto* box = match->findChild<QLineEdit*>("edTolerance");
    ASSERT_FALSE(reset->isEnabled());
    box->setFocus();
    QTest::keyClick(box, Qt::Key_R, Qt::AltModifier);
    EXPECT_EQ(box->text(), "1e-10");
    QTest::keyClick(box, Qt::Key_5);
    EXPECT_EQ(box->text(), "1e-105"); // keys without Alt still type
}

TEST_F(Shortcuts, TheUndoKeyInABoxWithNothingToUndoUndoesTheDesign)
{
    MagStructWindow* main = windows.magStruct;
    const double momentum = state.beam.momentum;
    state.history.reset(state);
    state.history.absorb(state);
    updateKinematics(state.beam, EnergyKind::Momentum, 0.5 * momentum);
    state.history.commit(state, "rf settings");
    main->show();
    QApplication::setActiveWindow(main);
    ASSERT_TRUE(QTest::qWaitForWindowActive(main));
    auto* box = new QLineEdit(main->centralWidget()); // as a panel's box with the focus
    box->show();
    box->setFocus();
    ASSERT_TRUE(box->hasFocus());
    QTest::keySequence(box, QKeySequence::Undo);
    EXPECT_EQ(state.beam.momentum, momentum);
}

TEST_F(Shortcuts, FilesSavedFromTheRingAndRfWindowsJoinTheRecentFiles)
{
    storeRecentFiles(programSettings(), RecentFiles{});
    const QString ringFile = QDir(directory.path()).filePath("ring.lat");
    const QString rfFile = QDir(directory.path()).filePath("rf.lat");
    windows.ring->dialogs().saveFile = [&](const QString&, const QString&, const QString&, const QString&) {
        return ringFile;
    };
    windows.rf->setSaveLatticeDialog([&] { return rfFile; });
    windows.ring->saveAsClick();
    windows.rf->saveAsClick();
    ASSERT_TRUE(QFileInfo::exists(ringFile));
    ASSERT_TRUE(QFileInfo::exists(rfFile));

    // the beam-dynamics window shows the list as it is stored when its menu opens
    auto* recent = windows.magStruct->findChild<QMenu*>("mnRecent");
    ASSERT_NE(recent, nullptr);
    emit recent->aboutToShow();
    EXPECT_EQ(windows.magStruct->recentFiles().paths,
              (std::vector<std::string>{normalisedPath(rfFile.toStdString()),
                                        normalisedPath(ringFile.toStdString())}));
}

} // namespace
} // namespace kestrune
