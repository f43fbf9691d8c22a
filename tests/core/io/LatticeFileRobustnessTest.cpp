#include "core/Kinematics.h"
#include "core/io/LatticeFile.h"
#include "core/io/Listing.h"
#include "support/FakeMessages.h"

#include <algorithm>
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
    for (std::size_t i = 1; i < state.fileBoxes.size(); ++i) {
        const DrawingBox& box = state.fileBoxes[i];
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
        EXPECT_LE(state.line.count, kMaxLineElements);
        // what was read is a design the lists can show: no number comes out as nan or inf
        magnetList(state, messages);
        latticeList(state, messages);
        for (const std::string& line : listLines(state))
            ASSERT_TRUE(line.find("nan") == std::string::npos && line.find("inf") == std::string::npos)
                << line;
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

/// A short closed ring in the trajectory mode: every record type the writer knows in format.
std::string everyRecordFile(int format)
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
    return latticeFileText(state, format);
}

TEST(LatticeFileRobustness, EveryTruncationIsReadOrRefused)
{
    for (const int format : {kPreviousLatticeFormat, kCurrentLatticeFormat}) {
        const std::string text = everyRecordFile(format);
        for (const char* record : {"\n101 ", "\n102 ", "\n103 ", "\n50 ", "\n10 traj", "\n21 ", "\n22 ",
                                   "\n23 ", "\n24 ", "\n25 ", "\n5 ", "\n30 "})
            ASSERT_NE(text.find(record), std::string::npos) << record;
        ASSERT_EQ(text.find("\n11 ") != std::string::npos, format == kPreviousLatticeFormat);
        State original = otherDesign();
        const std::string before = fingerprint(original);
        for (std::size_t n = 0; n < text.size(); n += 1)
            expectReadOrUntouched(original, before, text.substr(0, n));
    }
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

// Values the boxes refuse, each in an otherwise good file: refused with the line and the box's words.
TEST(LatticeFileRobustness, ValuesTheBoxesRefuseAreRefusedWithTheirLine)
{
    const std::string header = "1003\r\n1 0\r\n201 1  4.00000000000000E-0001  1.00000000000000E+0000\r\n";
    const std::string drift = "50          D 1 0 0.4 0 0 0 0 0 0 0 0 0 0\r\n11 0 0.4 -61 -59\r\n";
    const std::string particle = "30 0       electron    1    0.001 511003.400 1000000000.000\r\n";
    const struct
    {
        std::string text;
        std::string message;
    } cases[] = {
        {header + "50          D 1 0 -0.4 0 0 0 0 0 0 0 0 0 0\r\n",
         "line 4: element 1 (D): the path length must not be negative!"},
        {header + "50          D 1 0 0.4 1e308 0 0 0 0 0 0 0 0 0\r\n",
         "line 4: an element value 1e308 is beyond any value"},
        {header + "50          D 1 0 0.4 0 2 0 0 0 0 0 0 0 0\r\n",
         "line 4: element 1 (D): the pole face angle must be at most"},
        {header + "50          D 1 0.5 0.4 0 0 0 0 0 0 0 0 0 0\r\n",
         "line 4: element 1 (D) starts at 0.5 m, where the"},
        {"1003\r\n1 0\r\n" + drift + particle,
         "line 3: an element record before the record with the element count"},
        {header + particle, "the file ends before its 1 elements"},
        {header + drift + "30 0       electron    0    0.001 511003.400 1000000000.000\r\n",
         "line 6: the charge must be at least 1!"},
        {header + drift + "30 1            ion    1    0.000 0.000 1000000000.000\r\n",
         "line 6: the mass number must be above 0.0001!"},
        {"1003\r\n1 1\r\n101 2e9 -1\r\n", "line 3: the beam current must not be negative!"},
        {"1003\r\n1 1\r\n102 1 0 0.4 1\r\n", "line 3: the number of superperiods must be at least 1!"},
        {"1003\r\n1 1\r\n103 1e14 0 0 1 0\r\n", "line 3: the rf frequency must be at most 100000 MHz!"},
    };
    for (const auto& c : cases) {
        State state = otherDesign();
        test::FakeMessages messages;
        EXPECT_FALSE(readLatticeText(state, messages, c.text, "bad.lat")) << c.message;
        ASSERT_EQ(messages.errors.size(), 1u);
        EXPECT_NE(messages.errors[0].find(c.message), std::string::npos) << messages.errors[0];
    }
    // a curvature whose radius is beyond any number is taken, and listed as n/a
    State tiny = otherDesign();
    test::FakeMessages quiet;
    ASSERT_TRUE(readLatticeText(tiny, quiet,
                                header + "50          D 1 0 0.4 -4e-309 0 0 0 0 0 0 0 0 0\r\n" +
                                    "11 0 0.4 -61 -59\r\n" + particle,
                                "tiny.lat"));
    magnetList(tiny, quiet);
    const std::vector<std::string> lines = listLines(tiny);
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const std::string& line) {
        return line.find("     n/a") != std::string::npos;
    }));

    // the header's length is what the elements say
    State state = otherDesign();
    test::FakeMessages messages;
    const std::string wrongLength = "1003\r\n1 0\r\n201 1 -1 1\r\n" + drift + particle;
    ASSERT_TRUE(readLatticeText(state, messages, wrongLength, "length.lat")) << messages.errors.front();
    EXPECT_DOUBLE_EQ(state.line.length, 0.4);
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
