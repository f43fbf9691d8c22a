// What the ring, rf and chromaticity windows store in the design, each an undoable step that the
// beam-dynamics window's title marks: the ring closed, the superperiod studied, the momentum, the
// sextupole correction; and the ring pass, which keeps the design's step.
#include "app/ProgramWindows.h"
#include "core/Kinematics.h"
#include "core/io/LatticeFile.h"
#include "gui/QtMessages.h"
#include "gui/Windows.h"
#include "gui/chromaticity/ChromaticWindow.h"
#include "gui/editor/MagStructWindow.h"
#include "gui/rf/RfWindow.h"
#include "gui/ring/RingWindow.h"
#include "support/FakeMessages.h"
#include "support/RfTestRing.h"

#include <QCoreApplication>
#include <QEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>

namespace kestrune::test {
namespace {

class RingUndo : public ::testing::Test
{
protected:
    RingUndo() : messages(windows)
    {
        messages.redirectTo(&fake);
        windows.messages = &messages;
        startParticle(state);
    }
    ~RingUndo() override { windows = Windows{}; }

    // a cell of a 3 m drift and a 2 m sector bend a little short of closing a ring of 10 cells
    void cell()
    {
        for (auto [elementCode, length, h] : {std::tuple{code::kDrift, 3.0, 0.0},
                                              std::tuple{code::kSectorBend, 2.0, 36.18 * kPi / 180 / 2.0}}) {
            ++state.line.count;
            LatticeElement& e = state.line.at(state.line.count);
            e.code = elementCode;
            e.length = length;
            e.curvature = h;
        }
        state.line.chainPositions();
    }

    State state;
    Windows windows;
    FakeMessages fake;
    QtMessages messages;
};

TEST_F(RingUndo, ClosingTheRingIsOneStep)
{
    cell();
    RingWindow window(state, windows);
    state.history.reset(state);
    const double h = state.line.at(2).curvature;
    window.findChild<QLineEdit*>("edNumSup")->setText("10");

    fake.answers = {false, false}; // no scaling: an open ring of 10 superperiods
    window.tbRingLatClick();
    EXPECT_FALSE(state.ringClosed);
    EXPECT_EQ(state.history.undoLabel(), "ring closing");
    ASSERT_TRUE(state.history.undo(state));
    EXPECT_EQ(state.line.superPeriods, 1);

    window.tbRingLatClick(); // Yes to the curvatures
    ASSERT_TRUE(state.ringClosed);
    ASSERT_NE(state.line.at(2).curvature, h);
    EXPECT_EQ(state.history.undoLabel(), "closing scale");
    EXPECT_EQ(state.history.undoCount(), 1u);
    ASSERT_TRUE(state.history.undo(state));
    EXPECT_EQ(state.line.at(2).curvature, h);
    EXPECT_FALSE(state.ringClosed);
    EXPECT_EQ(state.line.superPeriods, 1);

    // the geometry of a ring already closed changes nothing: no step, the redo side stays
    ASSERT_TRUE(state.history.redo(state));
    window.tbRingLatClick();
    EXPECT_EQ(state.history.undoCount(), 1u);
}

class RingProgram : public RingUndo
{
protected:
    void SetUp() override
    {
        program = std::make_unique<ProgramWindows>(state, windows, folder.filePath("user"));
        EXPECT_TRUE(readLatticeFile(state, fake, std::string(KESTRUNE_EXAMPLES) + "/dba-cell.lat"));
        state.history.reset(state);
        windows.magStruct->showHistory();
        EXPECT_FALSE(marked());
    }
    bool marked() const { return windows.magStruct->windowTitle().endsWith('*'); }
    void closeRing()
    {
        windows.ring->findChild<QLineEdit*>("edNumSup")->setText("12");
        windows.ring->tbRingLatClick();
        ASSERT_TRUE(state.ringClosed);
    }

    QTemporaryDir folder;
    std::unique_ptr<ProgramWindows> program;
};

TEST_F(RingProgram, TheRingWindowsStoredChangesAreStepsAndMarkTheTitle)
{
    closeRing();
    EXPECT_TRUE(marked());
    ASSERT_TRUE(state.history.canUndo());

    const std::size_t steps = state.history.undoCount();
    windows.ring->findChild<QPushButton*>("bbSuperP")->click();
    EXPECT_FALSE(state.ringClosed);
    EXPECT_EQ(state.history.undoLabel(), "study superperiod");
    EXPECT_EQ(state.history.undoCount(), steps + 1);
    windows.magStruct->undoClick();
    EXPECT_TRUE(state.ringClosed);
}

TEST_F(RingProgram, TheRingPassKeepsTheDesignsStep)
{
    state.run.stepAtElementEnds = false;
    state.run.maxStep = 0.123456;
    closeRing();
    windows.ring->btUpdateClick();
    EXPECT_FALSE(state.run.stepAtElementEnds);
    EXPECT_EQ(state.run.maxStep, 0.123456);
}

// Looking at a closed ring changes nothing a save would store, however its values round in the boxes.
TEST_F(RingProgram, ActivatingTheRingWindowLeavesTheDesignAsItsFileHasIt)
{
    for (const double momentum : {2e9, 1.2345678912e9}) {
        SCOPED_TRACE(momentum);
        updateKinematics(state.beam, EnergyKind::Momentum, momentum);
        state.beam.referenceMomentum = momentum;
        state.rf.frequency = 499.6543219876e6;
        markDesignSaved(state, "ring.lat");
        windows.ring->show();
        QEvent activate(QEvent::WindowActivate);
        QCoreApplication::sendEvent(windows.ring, &activate);
        EXPECT_EQ(state.beam.momentum, momentum);
        EXPECT_FALSE(designModified(state));
    }
}

TEST_F(RingProgram, TheMomentumOfTheRfWindowIsAStepAndMarksTheTitle)
{
    ASSERT_TRUE(dbaRing(state, fake));
    fake.errors.clear();
    state.history.reset(state);
    windows.magStruct->showHistory();
    ASSERT_FALSE(marked());
    const double momentum = state.beam.momentum;
    windows.rf->formActivate();
    auto* energy = windows.rf->findChild<QLineEdit*>("edEnergy");
    ASSERT_NE(energy, nullptr);
    energy->setText("2.5");
    windows.rf->bbUpdateClick();
    ASSERT_TRUE(fake.errors.empty()) << fake.errors.front();
    EXPECT_NEAR(state.beam.momentum, 2.5e9, 1);
    EXPECT_EQ(state.history.undoLabel(), "rf settings");
    EXPECT_TRUE(marked());
    windows.magStruct->undoClick();
    EXPECT_EQ(state.beam.momentum, momentum);
}

TEST_F(RingUndo, TheSextupoleCorrectionIsOneStep)
{
    MagStructWindow magStruct(state, windows); // it starts from an empty line
    windows.enter(WindowId::MagStruct, windows.magStruct, &magStruct);
    ASSERT_TRUE(readLatticeFile(state, fake, std::string(KESTRUNE_EXAMPLES) + "/dba-cell.lat"));
    state.ringParams.chromaticityX = -25;
    state.ringParams.chromaticityY = -20;
    state.ringParams.computed = true;
    ChromaticWindow window(state, windows);
    windows.enter(WindowId::Chromatic, windows.chromatic, &window);
    connectWindows(windows);
    state.history.reset(state);
    ASSERT_FALSE(magStruct.windowTitle().endsWith('*'));
    std::vector<double> before;
    for (int i = 1; i <= state.line.count; ++i)
        before.push_back(state.line.at(i).m);
    window.bbUpdateClick();
    ASSERT_TRUE(fake.errors.empty()) << fake.errors.front();
    EXPECT_EQ(state.history.undoLabel(), "sextupole correction");
    // the beam-dynamics window shows the unsaved change without being activated
    EXPECT_TRUE(magStruct.windowTitle().endsWith('*')) << magStruct.windowTitle().toStdString();
    ASSERT_TRUE(state.history.undo(state));
    for (int i = 1; i <= state.line.count; ++i)
        EXPECT_EQ(state.line.at(i).m, before[static_cast<std::size_t>(i - 1)]) << "element " << i;
}

} // namespace
} // namespace kestrune::test
