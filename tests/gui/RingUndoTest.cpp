// The ring window's closing scale and the chromaticity window's sextupole correction as undoable steps.
#include "app/ProgramWindows.h"
#include "core/Kinematics.h"
#include "core/io/LatticeFile.h"
#include "gui/QtMessages.h"
#include "gui/Windows.h"
#include "gui/chromaticity/ChromaticWindow.h"
#include "gui/editor/MagStructWindow.h"
#include "gui/ring/RingWindow.h"
#include "support/FakeMessages.h"

#include <QLineEdit>
#include <QPushButton>
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

TEST_F(RingUndo, TheClosingScaleIsOneStepAndAGeometryWithoutItNone)
{
    cell();
    RingWindow window(state, windows);
    state.history.reset(state);
    const double h = state.line.at(2).curvature;
    window.findChild<QLineEdit*>("edNumSup")->setText("10");

    fake.answers = {false, false, false}; // no scaling: an open ring, nothing to take back
    window.tbRingLatClick();
    EXPECT_FALSE(state.ringClosed);
    EXPECT_FALSE(state.history.canUndo());

    window.tbRingLatClick(); // Yes to the curvatures
    ASSERT_TRUE(state.ringClosed);
    ASSERT_NE(state.line.at(2).curvature, h);
    EXPECT_EQ(state.history.undoLabel(), "closing scale");
    EXPECT_EQ(state.history.undoCount(), 1u);
    ASSERT_TRUE(state.history.undo(state));
    EXPECT_EQ(state.line.at(2).curvature, h);
    EXPECT_FALSE(state.ringClosed);

    // the geometry of a ring already closed scales nothing: no step, the redo side stays
    ASSERT_TRUE(state.history.redo(state));
    window.tbRingLatClick();
    EXPECT_EQ(state.history.undoCount(), 1u);
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
