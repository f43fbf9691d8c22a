#include "core/Constants.h"
#include "core/Format.h"
#include "core/io/LatticeFile.h"
#include "core/io/Listing.h"
#include "core/optics/BetaFunctions.h"
#include "core/ring/Parameter.h"
#include "core/ring/RingGeometry.h"
#include "core/ring/RingLattices.h"
#include "support/ExampleLattice.h"
#include "support/FakeMessages.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace kestrune {
namespace {

bool hasLine(const std::vector<std::string>& lines, const std::string& line)
{
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

TEST(RingLists, RingPassListsEverySliceAndTheTunes)
{
    State state;
    test::electronAt(state, 1e9);
    test::fodoCell(state, 16);
    state.line.at(1).name = "QF";
    test::FakeMessages messages;
    LatticeFunctionList list(state);
    ASSERT_TRUE(betaFunctions(state, messages, &list));
    const std::vector<std::string> lines = listLines(state);
    // title block (5), header, start line, one line per element at element ends, then the tune block
    ASSERT_EQ(lines.size(), 5u + 2u + 9u + 4u);
    EXPECT_EQ(lines[5].substr(0, 11), "   Name   b");
    EXPECT_EQ(lines[7].substr(0, 8), "     QF ");
    EXPECT_EQ(lines[lines.size() - 2], "   the ring tunes are: nuex = " + fmt("%8.3f", state.lf.tuneX) +
                                           ";    nuey = " + fmt("%8.3f", state.lf.tuneY));
    EXPECT_EQ(lines.back(), separatorLine());
}

TEST(RingLists, ParameterListOfTheExampleRingCarriesItsResults)
{
    State state;
    test::FakeMessages messages;
    ASSERT_TRUE(readLatticeFile(state, messages, std::string(KESTRUNE_EXAMPLES) + "/dba-cell.lat"));
    ASSERT_TRUE(ringGeometry(state, messages, {"12", "499.654"}));
    ASSERT_TRUE(updateBeamParameters(state, messages, {"2000", "200", "1.0"}));
    ringParameterList(state, messages);
    const std::vector<std::string> lines = listLines(state);
    const RingParameters& r = state.ringParams;
    EXPECT_TRUE(hasLine(lines, "   betatron tunes,Q_x................... = " + fmt("%10.5f", r.tuneX)));
    EXPECT_TRUE(hasLine(lines, "   horiz.beam emittance ................ = " + siFormat(r.emittanceX, "m")));
    EXPECT_TRUE(hasLine(lines, "   ring circumference,C................. =  183.60000 m"));
    EXPECT_TRUE(hasLine(lines, "   coupling ............................ =    1.00000 %"));
    EXPECT_TRUE(hasLine(lines, "                       I2 ...............=     0.8225 1/m"));
    EXPECT_GT(r.tuneX, 1);
    EXPECT_TRUE(messages.errors.empty());
}

// The value the ring-parameter list prints after label, or "" without such a line.
std::string listed(const std::vector<std::string>& lines, const std::string& label)
{
    for (const std::string& line : lines)
        if (line.rfind(label, 0) == 0)
            return line.substr(line.find('=') + 1);
    return "";
}

TEST(RingLists, ParameterListOfACoupledRingLabelsItsModes)
{
    // the example ring rolled by pi/2: mode 1 is the unrolled vertical motion, mode 2 the horizontal one,
    // so each mode's line prints the value of the other plane's line of the unrolled ring
    std::vector<std::string> lists[2];
    for (int rolled = 0; rolled < 2; ++rolled) {
        State state = test::exampleState("dba-cell.lat");
        test::FakeMessages messages;
        ASSERT_TRUE(ringGeometry(state, messages, {"12", "499.654"}));
        for (int i = 1; i <= state.line.count; ++i)
            state.line.at(i).tilt = rolled * kPi / 2;
        ASSERT_TRUE(updateBeamParameters(state, messages, {"2000", "200", "0"}));
        ringParameterList(state, messages);
        lists[rolled] = listLines(state);
    }
    const std::pair<const char*, const char*> pairs[] = {
        {"   mode 1 damping time", "   vert.damping time"},
        {"   mode 2 damping time", "   horiz.damping time"},
        {"   mode 3 damping time", "   synchrotron damping time"},
        {"   eigentunes,Q_1", "                  Q_y"},
        {"              Q_2", "   betatron tunes,Q_x"},
        {"   natural chromaticity,xi_1o", "                        xi_yo"},
        {"                        xi_2o", "   natural chromaticity,xi_xo"},
        {"   corrected chromaticity,xi_1", "                          xi_y"},
        {"                          xi_2", "   corrected chromaticity,xi_x"},
        {"   mode 2 beam emittance", "   horiz.beam emittance"},
    };
    for (const auto& [mode, plane] : pairs) {
        ASSERT_FALSE(listed(lists[0], plane).empty()) << plane;
        EXPECT_EQ(listed(lists[1], mode), listed(lists[0], plane)) << mode;
        EXPECT_TRUE(listed(lists[1], plane).empty()) << plane;
    }
    EXPECT_EQ(lists[1].size(), lists[0].size());
}

TEST(RingLists, ValuesNotAvailableReadNa)
{
    State state;
    test::electronAt(state, 1e9);
    // a ring of quadrupoles alone: no bends, no damping
    test::appendElement(state, code::kQuadrupole, 0.2, 0, 1.2);
    test::appendElement(state, code::kDrift, 2.0);
    test::appendElement(state, code::kQuadrupole, 0.2, 0, -1.2);
    test::appendElement(state, code::kDrift, 2.0);
    state.ringParams.i2 = 0;
    state.ringParams.i4 = 0;
    state.ringParams.circumference = 100;
    equilibriumParameters(state);
    test::FakeMessages messages;
    ringParameterList(state, messages);
    const std::vector<std::string> lines = listLines(state);
    EXPECT_TRUE(hasLine(lines, "   horiz.damping time .................. =      n/a"));
    EXPECT_TRUE(hasLine(lines, "   rel.energy spread ................... =        n/a %"));
    EXPECT_TRUE(hasLine(lines, "   horiz.beam emittance ................ =      n/a"));
    EXPECT_TRUE(hasLine(lines, "   energy loss/turn .................... =    0.000 eV"));
}

} // namespace
} // namespace kestrune
