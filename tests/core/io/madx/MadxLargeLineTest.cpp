#include "core/Kinematics.h"
#include "core/editor/LineEditing.h"
#include "core/editor/MadxImport.h"
#include "core/io/madx/MadxReader.h"
#include "support/FakeMessages.h"
#include "support/TestFolder.h"

#include <fstream>
#include <gtest/gtest.h>

namespace kestrune {
namespace {

using test::FakeMessages;

// Three lines that make a line of `drifts` elements.
std::string threeLines(int drifts)
{
    return "d: drift, l=0.01;\nbl: line=(" + std::to_string(drifts) + "*d);\nuse, period=bl;\n";
}

// The window's import and the batch tool's read of one file: the same line or the same refusal.
TEST(MadxLargeLine, AMillionElementsImportAndOneMoreIsRefusedAlikeInWindowAndBatch)
{
    const test::ScopedTestFolder folder("kestrune-madx-large");
    for (const int drifts : {kMaxLineElements, kMaxLineElements + 1}) {
        const std::string file = (folder.path() / "large.madx").string();
        std::ofstream(file) << threeLines(drifts);

        State window;
        startParticle(window);
        EditorState editor;
        FakeMessages windowMessages;
        const bool windowRead = importMadxLattice(window, editor, file, windowMessages);

        State batch;
        startParticle(batch);
        FakeMessages batchMessages;
        const bool batchRead = readMadxFile(batch, batchMessages, file);

        EXPECT_EQ(windowRead, drifts <= kMaxLineElements);
        EXPECT_EQ(batchRead, windowRead);
        EXPECT_EQ(batchMessages.errors, windowMessages.errors);
        EXPECT_EQ(batch.line.count, window.line.count);
        if (windowRead) {
            EXPECT_EQ(window.line.count, drifts);
            EXPECT_NEAR(window.line.length, drifts * 0.01, 1e-6 * drifts * 0.01);
        } else {
            ASSERT_EQ(windowMessages.errors.size(), 1u);
            EXPECT_NE(windowMessages.errors[0].find("must be at most 1000000"), std::string::npos)
                << windowMessages.errors[0];
            EXPECT_EQ(window.line.count, 0);
        }
    }
}

} // namespace
} // namespace kestrune
