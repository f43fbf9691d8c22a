#include "core/UndoHistory.h"

#include "core/Design.h"
#include "core/Kinematics.h"
#include "core/chromaticity/Chromaticity.h"
#include "core/editor/ElementParameters.h"
#include "core/editor/LineEditing.h"
#include "core/editor/Tuning.h"
#include "core/ring/RingGeometry.h"
#include "support/FakeMessages.h"
#include "support/TestFolder.h"

#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <random>
#include <string>
#include <vector>

namespace kestrune {
namespace {

namespace fs = std::filesystem;

std::string example(const char* name)
{
    return std::string(KESTRUNE_EXAMPLES) + "/" + name;
}

// Every test runs in its own folder, so that nothing it writes stays behind.
class Undo : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_previous = fs::current_path();
        m_folder = test::freshTestFolder("kestrune-undo");
        fs::current_path(m_folder);
        startParticle(state);
        state.history.reset(state);
    }
    void TearDown() override
    {
        fs::current_path(m_previous);
        fs::remove_all(m_folder);
    }

    // One undoable action as the window runs it: what changed before it is taken in first.
    bool recorded(const std::string& label, const std::function<void()>& action)
    {
        state.history.absorb(state);
        action();
        return state.history.commit(state, label);
    }

    void appendDrifts(int n)
    {
        startAppending(editor);
        for (int i = 0; i < n; ++i)
            ASSERT_TRUE(addElement(state, 0, messages));
    }

    // A mixed line of n elements: drifts, bends, quadrupoles, sextupoles in turn.
    void appendMixed(int n)
    {
        static const int kinds[] = {0, 1, 0, 2, 3};
        for (int i = 0; i < n; ++i)
            ASSERT_TRUE(addElement(state, kinds[i % 5], messages));
    }

    void cutAndPaste(int left, int right, int before)
    {
        startCutPaste(state, editor, messages);
        clickElement(state, editor, left, messages);
        clickElement(state, editor, right, messages);
        clickElement(state, editor, before, messages);
        insertClick(state, editor, messages);
    }

    void copyElement(int source, int before)
    {
        startCopy(state, editor, messages);
        clickElement(state, editor, source, messages);
        clickElement(state, editor, before, messages);
        insertClick(state, editor, messages);
    }

    void deleteRange(int left, int right)
    {
        startDelete(state, editor, messages);
        clickElement(state, editor, left, messages);
        clickElement(state, editor, right, messages);
    }

    // "accept data" of the element panel with the length typed.
    bool acceptLength(int e, const std::string& length)
    {
        PanelSettings settings;
        ParameterGrid grid = showParameter(state, e, settings).grid;
        grid.cell(1, 3) = length;
        return acceptData(state, e, grid, settings, messages);
    }

    State state;
    EditorState editor;
    test::FakeMessages messages;

private:
    fs::path m_previous;
    fs::path m_folder;
};

TEST_F(Undo, RandomEditsUndoneAndRedoneGiveBackEveryDesignExactly)
{
    std::mt19937 random(20261208);
    const auto uniform = [&](int low, int high) {
        return std::uniform_int_distribution<int>(low, high)(random);
    };
    appendMixed(12);
    state.history.reset(state);

    std::vector<DesignCopy> before;
    std::vector<DesignCopy> after;
    std::vector<std::string> labels;
    int kindsDone[16] = {};
    for (int n = 0; n < 200; ++n) {
        const int count = state.line.count;
        const int operation = count < 3 ? uniform(0, 1) : uniform(0, 13);
        state.history.absorb(state);
        const DesignCopy was = designCopy(state);
        std::string label;
        switch (operation) {
        case 0:
            label = "append element";
            if (count < 400)
                addElement(state, uniform(0, kKindCount - 1), messages);
            break;
        case 1:
            label = "open";
            openLatticeFile(state, editor, example(uniform(0, 1) ? "dba-cell.lat" : "fodo-cell.lat"),
                            messages);
            break;
        case 2:
            label = "insert element";
            editor.selectedElement = uniform(1, count);
            insertElement(state, editor, uniform(0, kKindCount - 1), messages);
            break;
        case 3: {
            label = "cut and paste";
            const int left = uniform(1, count);
            cutAndPaste(left, std::min(count, left + uniform(0, 6)), uniform(1, count));
            break;
        }
        case 4:
            label = "copy";
            copyElement(uniform(1, count), uniform(1, count));
            break;
        case 5: {
            label = "delete range";
            const int left = uniform(1, count);
            deleteRange(left, std::min(count, left + uniform(0, 3)));
            break;
        }
        case 6:
            label = "delete element";
            editor.selectedElement = uniform(1, count);
            deleteSelected(state, editor);
            break;
        case 7:
            label = "repeat";
            if (count < 60)
                repeatLattice(state, editor, uniform(1, 3), messages);
            break;
        case 8:
            label = "mirror";
            if (count < 100)
                symmetrize(state, messages);
            break;
        case 9:
            label = "clear";
            if (uniform(0, 3) == 0)
                clearLattice(state, editor);
            break;
        case 10:
            label = "element data";
            acceptLength(uniform(1, count), std::to_string(uniform(1, 40) * 0.05));
            break;
        case 11: {
            label = "tuning";
            int quad = 0;
            for (int i = 1; i <= count && quad == 0; ++i)
                if (familyOf(state.line.at(i).code) == 2)
                    quad = i;
            if (quad > 0) {
                TuningState tuning;
                startTuning(state, tuning, quad);
                for (int step = 0; step < 3; ++step)
                    scrollTo(state, tuning, uniform(-50, 50), uniform(0, 1) == 1);
            }
            break;
        }
        case 12:
            label = "closing scale";
            messages.answers = {uniform(0, 1) == 1, true, uniform(0, 1) == 1};
            try {
                ringGeometry(state, messages, {std::to_string(uniform(1, 4)), "500.0"});
            } catch (const std::exception&) {
                // a refused box changes nothing
            }
            messages.answers.clear();
            break;
        case 13:
            label = "sextupole correction";
            state.ringParams.chromaticityX = -uniform(1, 20);
            state.ringParams.chromaticityY = -uniform(1, 20);
            correctChromaticity(state, messages, uniform(-2, 2), uniform(-2, 2));
            break;
        }
        editor = EditorState{};
        if (state.history.commit(state, label)) {
            ++kindsDone[operation];
            before.push_back(was);
            after.push_back(designCopy(state));
            labels.push_back(label);
        } else {
            EXPECT_EQ(designDifference(was, designCopy(state)), "")
                << "an edit that changed nothing: " << label;
        }
    }
    for (int operation = 0; operation < 14; ++operation)
        EXPECT_GT(kindsDone[operation], 0) << "edit kind " << operation << " never changed the design";
    ASSERT_GE(before.size(), 150u);
    ASSERT_EQ(state.history.undoCount(), before.size());

    for (std::size_t k = before.size(); k-- > 0;) {
        ASSERT_EQ(state.history.undoLabel(), labels[k]);
        ASSERT_TRUE(state.history.undo(state));
        ASSERT_EQ(designDifference(designCopy(state), before[k]), "")
            << "after undoing step " << k << " " << labels[k];
    }
    EXPECT_FALSE(state.history.canUndo());
    for (std::size_t k = 0; k < after.size(); ++k) {
        ASSERT_EQ(state.history.redoLabel(), labels[k]);
        ASSERT_TRUE(state.history.redo(state));
        ASSERT_EQ(designDifference(designCopy(state), after[k]), "")
            << "after redoing step " << k << " " << labels[k];
    }
    EXPECT_FALSE(state.history.canRedo());
}

TEST_F(Undo, UndoAfterOpenBringsBackThePreviousDesign)
{
    appendMixed(7);
    ASSERT_TRUE(recorded("element data", [&] { ASSERT_TRUE(acceptLength(4, "0.37")); }));
    state.run.betaX0 = 4.5;
    state.beamCurrent = 0.25;
    state.lastOpenedFile = "previous.lat";
    state.history.absorb(state);
    const DesignCopy previous = designCopy(state);

    ASSERT_TRUE(recorded(
        "open", [&] { ASSERT_TRUE(openLatticeFile(state, editor, example("dba-cell.lat"), messages)); }));
    ASSERT_NE(designDifference(designCopy(state), previous), "");
    EXPECT_EQ(state.documentFile, example("dba-cell.lat"));
    EXPECT_EQ(state.history.undoLabel(), "open");
    ASSERT_TRUE(state.history.undo(state));
    EXPECT_EQ(designDifference(designCopy(state), previous), "");
    EXPECT_EQ(state.lastOpenedFile, "previous.lat") << "the open dialog starts where the design came from";
    EXPECT_EQ(state.line.count, 7);
    EXPECT_DOUBLE_EQ(state.line.at(4).length, 0.37);
    EXPECT_EQ(state.history.undoLabel(), "element data");
}

TEST_F(Undo, AFileThatCannotBeReadMakesNoStep)
{
    appendMixed(3);
    state.history.absorb(state);
    EXPECT_FALSE(recorded("open", [&] { openLatticeFile(state, editor, "no-such-file.lat", messages); }));
    EXPECT_FALSE(state.history.canUndo());
}

TEST_F(Undo, EachEditIsOneStepThatUndoesExactly)
{
    appendMixed(10);
    state.history.reset(state);
    struct Case
    {
        const char* label;
        std::function<void()> action;
    };
    const std::vector<Case> cases = {
        {"append element", [&] { addElement(state, 2, messages); }},
        {"insert element",
         [&] {
             editor.selectedElement = 3;
             insertElement(state, editor, 1, messages);
         }},
        {"copy", [&] { copyElement(2, 6); }},
        {"cut and paste", [&] { cutAndPaste(2, 5, 9); }},
        {"delete range", [&] { deleteRange(3, 6); }},
        {"delete element",
         [&] {
             editor.selectedElement = 4;
             deleteSelected(state, editor);
         }},
        {"repeat", [&] { repeatLattice(state, editor, 3, messages); }},
        {"mirror", [&] { symmetrize(state, messages); }},
        {"element data", [&] { acceptLength(5, "1.25"); }},
        {"clear", [&] { clearLattice(state, editor); }},
    };
    for (const Case& c : cases) {
        const DesignCopy was = designCopy(state);
        ASSERT_TRUE(recorded(c.label, c.action)) << c.label;
        const DesignCopy is = designCopy(state);
        ASSERT_NE(designDifference(was, is), "") << c.label;
        EXPECT_EQ(state.history.undoLabel(), c.label);
        ASSERT_TRUE(state.history.undo(state));
        EXPECT_EQ(designDifference(designCopy(state), was), "") << c.label;
        EXPECT_EQ(state.history.redoLabel(), c.label);
        ASSERT_TRUE(state.history.redo(state));
        EXPECT_EQ(designDifference(designCopy(state), is), "") << c.label;
        editor = EditorState{};
    }
    EXPECT_EQ(state.history.undoCount(), cases.size());
}

TEST_F(Undo, CutAndPasteUndoKeepsTheColoursOfTheMarkedLimits)
{
    appendMixed(8);
    state.history.absorb(state);
    const DesignCopy was = designCopy(state);
    // the operation under way marks its limits grey; the window takes in changes only when none is under way
    state.history.absorb(state);
    startCutPaste(state, editor, messages);
    clickElement(state, editor, 2, messages);
    clickElement(state, editor, 4, messages);
    clickElement(state, editor, 7, messages);
    insertClick(state, editor, messages);
    ASSERT_TRUE(state.history.commit(state, "cut and paste"));
    EXPECT_EQ(state.line.count, 11);
    ASSERT_TRUE(state.history.undo(state));
    EXPECT_EQ(designDifference(designCopy(state), was), "");
}

TEST_F(Undo, ATuningRunIsOneStepFromItsStartToTheClose)
{
    appendMixed(10);
    const double k = state.line.at(4).k;
    state.history.beginRun(state, "tuning");
    TuningState tuning;
    startTuning(state, tuning, 4);
    for (int position : {5, 10, 20, -30, 40})
        scrollTo(state, tuning, position, false);
    ASSERT_NE(state.line.at(4).k, k);
    EXPECT_TRUE(state.history.runOpen());
    EXPECT_FALSE(state.history.canUndo());
    ASSERT_TRUE(state.history.endRun(state));
    EXPECT_FALSE(state.history.runOpen());
    EXPECT_EQ(state.history.undoCount(), 1u);
    EXPECT_EQ(state.history.undoLabel(), "tuning");
    ASSERT_TRUE(state.history.undo(state));
    EXPECT_EQ(state.line.at(4).k, k) << "back to the value before the run, not one bar step";
}

TEST_F(Undo, AnotherActionDuringATuningRunKeepsTheRunsChanges)
{
    appendMixed(10);
    const double k = state.line.at(4).k;
    state.history.beginRun(state, "tuning");
    TuningState tuning;
    startTuning(state, tuning, 4);
    scrollTo(state, tuning, 10, false);
    const double tuned = state.line.at(4).k;
    // the ring window's geometry takes in what changed before it: the run's changes so far are its step
    ASSERT_TRUE(recorded("append element", [&] { addElement(state, 0, messages); }));
    scrollTo(state, tuning, 20, false);
    ASSERT_TRUE(state.history.endRun(state));
    EXPECT_EQ(state.history.undoCount(), 3u);
    ASSERT_TRUE(state.history.undo(state));
    EXPECT_EQ(state.line.at(4).k, tuned);
    EXPECT_EQ(state.history.undoLabel(), "append element");
    ASSERT_TRUE(state.history.undo(state));
    EXPECT_EQ(state.line.count, 10);
    ASSERT_TRUE(state.history.undo(state));
    EXPECT_EQ(state.line.at(4).k, k);
}

TEST_F(Undo, ClosingScaleAndSextupoleCorrectionAreUndone)
{
    ASSERT_TRUE(openLatticeFile(state, editor, example("dba-cell.lat"), messages));
    // bends a little short of closing the ring in 12 cells: the closing scale is offered
    for (int i = 1; i <= state.line.count; ++i)
        state.line.at(i).curvature *= 0.98;
    state.ringClosed = false;
    state.history.absorb(state);
    const DesignCopy open = designCopy(state);
    messages.answers = {true};
    ASSERT_TRUE(recorded("closing scale", [&] {
        ASSERT_TRUE(ringGeometry(state, messages, {"12", "500.0"}));
    }));
    EXPECT_TRUE(state.ringClosed);
    const DesignCopy closed = designCopy(state);

    state.ringParams.chromaticityX = -20;
    state.ringParams.chromaticityY = -15;
    ASSERT_TRUE(
        recorded("sextupole correction", [&] { ASSERT_TRUE(correctChromaticity(state, messages, 1, 1)); }));
    ASSERT_TRUE(state.history.undo(state));
    EXPECT_EQ(designDifference(designCopy(state), closed), "");
    ASSERT_TRUE(state.history.undo(state));
    EXPECT_EQ(designDifference(designCopy(state), open), "");
    EXPECT_FALSE(state.ringClosed);
}

TEST_F(Undo, HoldsAtLeastAHundredStepsAndDropsTheOldest)
{
    appendDrifts(1);
    state.history.reset(state);
    const int edits = static_cast<int>(kUndoStepLimit) + 30;
    for (int i = 0; i < edits; ++i)
        ASSERT_TRUE(recorded("element data", [&] { acceptLength(1, std::to_string(1 + i)); }));
    EXPECT_GE(kUndoStepLimit, 100u);
    EXPECT_EQ(state.history.undoCount(), kUndoStepLimit);
    while (state.history.undo(state)) {
    }
    // the oldest 30 steps went: the oldest kept step started from the length its predecessor left
    EXPECT_DOUBLE_EQ(state.line.at(1).length, 30);
}

TEST_F(Undo, MemoryFollowsWhatChangedNotTheTable)
{
    appendMixed(4999);
    state.history.reset(state);
    for (int i = 0; i < 100; ++i)
        ASSERT_TRUE(recorded("element data", [&] { acceptLength(4990, std::to_string(1 + i)); }));
    // one length re-chains the positions behind it: 11 slots, their shapes, count stays
    EXPECT_LT(state.history.storedBytes(), 100u * 60 * (sizeof(LatticeElement) + sizeof(ElementShape)));
    EXPECT_EQ(state.history.undoCount(), 100u);
}

TEST_F(Undo, ByteBudgetDropsOldStepsButKeepsAHundred)
{
    appendDrifts(200);
    state.history.reset(state);
    state.history.setLimits(kUndoStepLimit, 1000);
    for (int i = 0; i < 120; ++i)
        ASSERT_TRUE(recorded("element data", [&] { acceptLength(1, std::to_string(1 + i)); }));
    EXPECT_EQ(state.history.undoCount(), kUndoStepsKept);
}

TEST_F(Undo, NewEditClearsTheRedoSideAndAnEmptyCommitRecordsNothing)
{
    appendDrifts(3);
    state.history.reset(state);
    ASSERT_TRUE(recorded("append element", [&] { addElement(state, 1, messages); }));
    ASSERT_TRUE(recorded("append element", [&] { addElement(state, 2, messages); }));
    ASSERT_TRUE(state.history.undo(state));
    EXPECT_TRUE(state.history.canRedo());
    EXPECT_FALSE(recorded("repeat", [&] { repeatLattice(state, editor, 1, messages); }))
        << "the line once is the line as it was";
    EXPECT_TRUE(state.history.canRedo()) << "an edit that changed nothing keeps the redo side";
    ASSERT_TRUE(recorded("mirror", [&] { symmetrize(state, messages); }));
    EXPECT_FALSE(state.history.canRedo());
    EXPECT_EQ(state.history.redoLabel(), "");
    EXPECT_EQ(state.history.undoLabel(), "mirror");
    EXPECT_EQ(state.line.count, 8);
}

TEST_F(Undo, ChangesOutsideAnActionStayWhenItIsUndone)
{
    appendDrifts(3);
    state.history.reset(state);
    ASSERT_TRUE(recorded("append element", [&] { addElement(state, 2, messages); }));
    state.run.betaX0 = 7.5; // typed in the start-value panel after the edit
    ASSERT_TRUE(state.history.undo(state));
    EXPECT_EQ(state.line.count, 3);
    EXPECT_EQ(state.run.betaX0, 7.5);
}

TEST_F(Undo, ModifiedMarkFollowsTheSavedPosition)
{
    EXPECT_FALSE(state.history.modified());
    appendDrifts(2);
    ASSERT_TRUE(state.history.commit(state, "append element"));
    EXPECT_TRUE(state.history.modified());
    state.history.markSaved();
    EXPECT_FALSE(state.history.modified());
    ASSERT_TRUE(recorded("append element", [&] { addElement(state, 3, messages); }));
    EXPECT_TRUE(state.history.modified());
    ASSERT_TRUE(state.history.undo(state));
    EXPECT_FALSE(state.history.modified()) << "undone back to the save point";
    ASSERT_TRUE(state.history.undo(state));
    EXPECT_TRUE(state.history.modified());
    ASSERT_TRUE(state.history.redo(state));
    EXPECT_FALSE(state.history.modified());
    // a new edit in place of a step after the save point: the saved position cannot come back
    ASSERT_TRUE(recorded("append element", [&] { addElement(state, 3, messages); }));
    ASSERT_TRUE(state.history.undo(state));
    ASSERT_TRUE(recorded("append element", [&] { addElement(state, 4, messages); }));
    EXPECT_TRUE(state.history.modified());
    ASSERT_TRUE(state.history.undo(state));
    EXPECT_FALSE(state.history.modified());
}

TEST_F(Undo, CopiesOfTheStateKeepTheirOwnHistory)
{
    appendDrifts(2);
    ASSERT_TRUE(state.history.commit(state, "append element"));
    State copy = state;
    ASSERT_TRUE(copy.history.undo(copy));
    EXPECT_EQ(copy.line.count, 0);
    EXPECT_EQ(state.line.count, 2);
    EXPECT_TRUE(state.history.canUndo());
}

TEST(DesignCopy, DifferenceNamesTheFirstValueThatDiffers)
{
    State a;
    State b;
    EXPECT_EQ(designDifference(a, b), "");
    b.line.at(4000).k = 1; // far beyond the line's count, still the design
    EXPECT_EQ(designDifference(a, b), "element 4000");
    b.line.at(4000).k = 0;
    b.run.maxStep = 0.2;
    EXPECT_EQ(designDifference(a, b), "run maxStep");
    b.run.maxStep = a.run.maxStep;
    b.beam.momentum = -0.0;
    a.beam.momentum = 0.0;
    EXPECT_EQ(designDifference(a, b), "beam momentum") << "compared bit for bit";
}

} // namespace
} // namespace kestrune
