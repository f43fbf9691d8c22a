#include "gui/shell/StartWindow.h"

#include "app/ProgramWindows.h"
#include "gui/QtMessages.h"
#include "gui/editor/MagStructWindow.h"
#include "gui/lifetime/LifeTimeWindow.h"
#include "gui/ring/RingWindow.h"
#include "support/FakeMessages.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <gtest/gtest.h>

namespace kestrune {
namespace {

int registered(const Windows& w)
{
    const void* entries[] = {w.start,          w.magStruct,  w.listing,  w.enterText, w.chromatic,
                             w.help,           w.lifeTime,   w.partType, w.resonance, w.rf,
                             w.ring,           w.vacuum,     w.match,    w.aperture,  w.frequencyMap,
                             w.sextupoleKnobs, w.errorsOrbit};
    int count = 0;
    for (const void* slot : entries)
        count += slot != nullptr;
    return count;
}

class StartWindowTest : public ::testing::Test
{
protected:
    StartWindowTest() : messages(windows)
    {
        messages.redirectTo(&fake);
        windows.messages = &messages;
    }

    void create()
    {
        program =
            std::make_unique<ProgramWindows>(state, windows, dataDirectory(), [this](const QString& name) {
                created << name;
                registeredAtCreation.push_back(registered(windows));
            });
    }
    QString dataDirectory() const { return QDir(directory.path()).filePath("user"); }
    QToolButton* toolButton(const char* name) { return windows.start->findChild<QToolButton*>(name); }

    QTemporaryDir directory;
    State state;
    Windows windows;
    test::FakeMessages fake;
    QtMessages messages;
    std::unique_ptr<ProgramWindows> program;
    QStringList created;
    std::vector<int> registeredAtCreation;
};

TEST_F(StartWindowTest, CreatesTheWindowsInOrderAndRegistersEachAtOnce)
{
    create();
    const QStringList order{"TfStart",          "TfMagStruct",  "TfListing",  "TfEnterText", "TfChromatic",
                            "TfHelp",           "TfLifeTime",   "TfPartType", "TfResonance", "TfRF",
                            "TfRing",           "TfVacuum",     "TfMatch",    "TfAperture",  "TfFrequencyMap",
                            "TfSextupoleKnobs", "TfErrorsOrbit"};
    EXPECT_EQ(created, order);
    EXPECT_EQ(registeredAtCreation,
              (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17}));
    EXPECT_EQ(windows.start->windowTitle(),
              "optics design program for single pass and circular electron beams");
    EXPECT_EQ(windows.ring->windowTitle(), "design a storage ring");
    EXPECT_EQ(windows.lifeTime->windowTitle(), "Beam Lifetime");
    EXPECT_FALSE(windows.magStruct->isVisible()); // only the start window comes up, and main shows it

    program.reset();
    EXPECT_EQ(registered(windows), 0);
    EXPECT_EQ(windows.messages, &messages);
}

TEST_F(StartWindowTest, CreationSetsTheStartValues)
{
    create();
    EXPECT_EQ(state.beam.name, "electron");
    EXPECT_EQ(state.beam.charge, 1);
    EXPECT_FALSE(state.beam.isIon);
    EXPECT_NEAR(state.beam.momentum, 1e9, 1e-3);
    EXPECT_NEAR(state.beam.referenceMomentum, 1e9, 1e-3);
    EXPECT_DOUBLE_EQ(state.beamCurrent, 0.1);
    EXPECT_DOUBLE_EQ(state.rf.voltage, 1e6);
    EXPECT_DOUBLE_EQ(state.rf.power, 1e5);
    EXPECT_FALSE(state.ringClosed);
    EXPECT_EQ(state.line.superPeriods, 1);
    EXPECT_TRUE(state.enteredText.empty());
    EXPECT_TRUE(fake.errors.empty());

    QFile scratch(QDir(dataDirectory()).filePath("temp.lat"));
    EXPECT_TRUE(scratch.exists());
    EXPECT_EQ(scratch.size(), 0);
}

TEST_F(StartWindowTest, TheScratchFileIsEmptiedAndItsFailureIsIgnored)
{
    ASSERT_TRUE(QDir().mkpath(dataDirectory()));
    QFile old(QDir(dataDirectory()).filePath("temp.lat"));
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("BL from the last run\n");
    old.close();
    create();
    EXPECT_EQ(QFileInfo(old.fileName()).size(), 0);

    // a data directory that cannot be made: the program starts all the same
    QFile blocker(directory.filePath("blocker"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    Windows other;
    other.messages = &messages;
    State otherState;
    ProgramWindows blocked(otherState, other, directory.filePath("blocker/user"));
    EXPECT_NE(other.start, nullptr);
    EXPECT_NEAR(otherState.beam.momentum, 1e9, 1e-3);
}

TEST_F(StartWindowTest, ShowsThePictureLabelsAndToolButtons)
{
    create();
    StartWindow* start = windows.start;
    EXPECT_EQ(start->size(), QSize(559, 435));
    auto* image = start->findChild<QLabel*>("imPicture");
    ASSERT_NE(image, nullptr);
    EXPECT_FALSE(image->pixmap().isNull());
    EXPECT_EQ(start->findChild<QLabel*>("lTitle")->text(), "Kestrune 2007");
    auto* label4 = start->findChild<QLabel*>("lSubtitle");
    EXPECT_TRUE(label4->text().endsWith(QString(28, ' ') + "April 2007"));
    EXPECT_EQ(label4->width(), 289);
    const char* names[] = {"tbParticle", "tbTransport", "tbPeriodic", "tbCloseProgram"};
    const char* captions[] = {"particle type", "transport line", "periodic lattice", "close program"};
    for (int i = 0; i < 4; ++i) {
        QToolButton* button = toolButton(names[i]);
        ASSERT_NE(button, nullptr) << names[i];
        EXPECT_EQ(button->text(), captions[i]);
        EXPECT_FALSE(button->icon().isNull()) << names[i];
    }
}

TEST_F(StartWindowTest, CancellingTheSaveQuestionKeepsTheProgramRunning)
{
    create();
    windows.start->show();
    QSignalSpy ended(windows.start, &StartWindow::programEnded);
    std::vector<SaveChoice> answers = {SaveChoice::Cancel, SaveChoice::Discard};
    QStringList asked;
    windows.magStruct->dialogs().saveChanges = [&](const QString& question) {
        asked << question;
        const SaveChoice answer = answers.front();
        answers.erase(answers.begin());
        return answer;
    };
    windows.magStruct->addMagnetClick();
    windows.magStruct->magListClick(0);

    QTest::mouseClick(toolButton("tbCloseProgram"), Qt::LeftButton);
    EXPECT_EQ(asked, QStringList{"Save changes to untitled?"});
    EXPECT_TRUE(fake.questions.empty());
    EXPECT_TRUE(windows.start->isVisible());
    EXPECT_EQ(ended.count(), 0);
    EXPECT_EQ(state.line.count, 1);

    QTest::mouseClick(toolButton("tbCloseProgram"), Qt::LeftButton);
    EXPECT_EQ(asked.size(), 2);
    EXPECT_FALSE(windows.start->isVisible());
    EXPECT_EQ(ended.count(), 1);
}

TEST_F(StartWindowTest, BothModesShowTheSameBeamLine)
{
    create();
    state.line.count = 3;
    state.line.length = 0.75;
    QTest::mouseClick(toolButton("tbPeriodic"), Qt::LeftButton);
    EXPECT_TRUE(windows.magStruct->isVisible());
    QTest::mouseClick(toolButton("tbTransport"), Qt::LeftButton);
    EXPECT_TRUE(windows.magStruct->isVisible());
    EXPECT_EQ(state.line.count, 3);
    EXPECT_DOUBLE_EQ(state.line.length, 0.75);
    windows.magStruct->hide();
}

} // namespace
} // namespace kestrune
