#include "core/Kinematics.h"
#include "core/io/LatticeFile.h"
#include "support/FakeMessages.h"

#include <fstream>
#include <gtest/gtest.h>
#include <random>
#include <sstream>

namespace kestrune {
namespace {

std::string example(const char* name)
{
    std::ifstream file(std::string(KESTRUNE_EXAMPLES) + "/" + name, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

/// Everything a read may change, as text (the momentum is positive, so writing changes nothing).
std::string fingerprint(State& state)
{
    std::string text = latticeFileText(state);
    for (int i = 1; i <= 40; ++i) {
        const DrawingBox& box = state.fileBoxes[static_cast<std::size_t>(i)];
        text += longReal(box.x0) + longReal(box.x1) + longReal(box.y0) + longReal(box.y1);
    }
    return text + state.lastNoDataField + state.beam.name + longReal(state.beam.momentum) +
           longReal(state.beam.restEnergy) + std::to_string(state.run.maxSteps);
}

/// Reads text into a state holding another design: either it is read, or exactly one message is
/// shown and nothing changed.
void expectReadOrUntouched(const State& original, const std::string& before, const std::string& text)
{
    State state = original;
    test::FakeMessages messages;
    if (readLatticeText(state, messages, text, "mutated.lat")) {
        EXPECT_TRUE(messages.errors.empty());
        EXPECT_LE(state.line.count, kMaxElements);
    } else {
        ASSERT_EQ(messages.errors.size(), 1u);
        ASSERT_EQ(fingerprint(state), before) << "after " << messages.errors[0];
    }
}

State otherDesign()
{
    State state;
    startParticle(state);
    state.line.count = 2;
    state.line.at(1) = LatticeElement{"X", code::kDrift, 0, 2.0};
    state.line.at(2) = LatticeElement{"Y", code::kQuadrupole, 2.0, 0.5};
    state.line.length = 2.5;
    state.lastNoDataField = "ABCDE";
    return state;
}

/// A short closed ring in the trajectory mode: every record type the writer knows.
std::string everyRecordFile()
{
    State state;
    startParticle(state);
    const int codes[] = {12, 20, 40};
    for (const int elementCode : codes) {
        LatticeElement& e = state.line.at(++state.line.count);
        e.name = "E" + std::to_string(elementCode);
        e.code = elementCode;
        e.length = 0.5;
        e.curvature = elementCode == 12 ? 0.1 : 0.0;
        state.line.shape(state.line.count) = ElementShape{0, 0.5, -62, -58, {}, {}, {}};
    }
    state.line.chainPositions();
    state.ringClosed = true;
    state.run.showTrajectory = true;
    return latticeFileText(state);
}

TEST(LatticeFileRobustness, EveryTruncationIsReadOrRefused)
{
    const std::string text = everyRecordFile();
    for (const char* record : {"\n101 ", "\n102 ", "\n103 ", "\n50 ", "\n11 ", "\n10 traj", "\n21 ", "\n22 ",
                               "\n23 ", "\n24 ", "\n25 ", "\n5 ", "\n30 "})
        ASSERT_NE(text.find(record), std::string::npos) << record;
    State original = otherDesign();
    const std::string before = fingerprint(original);
    for (std::size_t n = 0; n < text.size(); n += 1)
        expectReadOrUntouched(original, before, text.substr(0, n));
}

TEST(LatticeFileRobustness, RandomMutationsAreReadOrRefused)
{
    const std::string files[] = {example("fodo-cell.lat"), example("dba-cell.lat"), example("ion-line.lat")};
    State original = otherDesign();
    const std::string before = fingerprint(original);
    const std::string alphabet = "0123456789 -+.eE\r\n\t50x";
    std::mt19937 random(20240611u);
    for (int run = 0; run < 2000; ++run) {
        std::string text = files[run % 3];
        const int edits = 1 + static_cast<int>(random() % 4);
        for (int j = 0; j < edits && !text.empty(); ++j) {
            const std::size_t at = random() % text.size();
            switch (random() % 4) {
            case 0:
                text[at] = alphabet[random() % alphabet.size()];
                break;
            case 1:
                text.erase(at, 1 + random() % 30);
                break;
            case 2:
                text.insert(at, 1, alphabet[random() % alphabet.size()]);
                break;
            default:
                text.insert(at, text.substr(random() % text.size(), 1 + random() % 200));
                break;
            }
        }
        SCOPED_TRACE("mutation run " + std::to_string(run));
        expectReadOrUntouched(original, before, text);
        if (::testing::Test::HasFatalFailure())
            return;
    }
}

TEST(LatticeFileRobustness, BinaryFileIsNamedAsSuchInReadableText)
{
    State state;
    test::FakeMessages messages;
    const std::string png("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16);
    EXPECT_FALSE(readLatticeText(state, messages, png, "picture.png"));
    ASSERT_EQ(messages.errors.size(), 1u);
    EXPECT_EQ(messages.errors[0],
              "cannot read lattice file picture.png, line 1: the format number expected, found binary data "
              "'\\x89PNG'");
    for (char c : messages.errors[0])
        EXPECT_TRUE(c >= 0x20 && c < 0x7F) << static_cast<int>(static_cast<unsigned char>(c));
}

} // namespace
} // namespace kestrune
