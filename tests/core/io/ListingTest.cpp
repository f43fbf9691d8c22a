#include "core/io/Listing.h"

#include "core/Design.h"
#include "core/Kinematics.h"
#include "support/FakeMessages.h"
#include "support/PassRecorder.h"
#include "support/TestFolder.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <sstream>

namespace kestrune {
namespace {

using test::FakeMessages;

std::vector<std::string> golden(const char* name)
{
    std::ifstream file(std::string(KESTRUNE_TEST_DATA) + "/" + name);
    EXPECT_TRUE(file) << name;
    std::vector<std::string> lines;
    for (std::string line; std::getline(file, line);)
        lines.push_back(line);
    return lines;
}

void expectLines(const std::vector<std::string>& actual, const std::vector<std::string>& expected)
{
    ASSERT_EQ(actual.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i)
        EXPECT_EQ(actual[i], expected[i]) << "line " << i + 1;
}

/// A short line of every column the magnet and lattice lists show, with a linac section near its end.
State listedLine()
{
    State state;
    startParticle(state);
    struct Row
    {
        const char* name;
        int elementCode;
        double length, curvature, ain, aout, k, m, linacField;
    };
    const Row rows[] = {{"D1", 1, 1.0, 0, 0, 0, 0, 0, 0},    {"B1", 12, 1.0, 0.2, 0.1, -0.05, 0, 0, 0},
                        {"QF", 20, 0.5, 0, 0, 0, 1.5, 0, 0}, {"SF", 31, 0.2, 0, 0, 0, 0, 10, 0},
                        {"A", 53, 0, 0, 0, 0, 360, 0, 0},    {"LIN", 5, 1.0, 0, 0, 0, 0, 0, 1e8},
                        {"Q2", 20, 0.5, 0, 0, 0, -1, 0, 0}};
    for (const Row& row : rows) {
        LatticeElement& e = state.line.at(++state.line.count);
        e.name = row.name;
        e.code = row.elementCode;
        e.length = row.length;
        e.curvature = row.curvature;
        e.ain = row.ain;
        e.aout = row.aout;
        e.k = row.k;
        e.m = row.m;
        e.linacField = row.linacField;
    }
    state.line.chainPositions();
    return state;
}

TEST(Listing, MagnetListFollowsTheMomentumThroughTheLinac)
{
    State state = listedLine();
    FakeMessages messages;
    magnetList(state, messages);
    expectLines(listLines(state), golden("magnet-list.txt"));
    EXPECT_EQ(messages.listShows, 1);
    // the list leaves the particle behind the linac; the reference stays
    EXPECT_NEAR(state.beam.kineticEnergy, 1.1e9 - 511003.4 + 130.564, 1e-2);
    EXPECT_EQ(state.beam.referenceMomentum, 1e9);
}

TEST(Listing, ListsAccumulateUnlessTheyReplace)
{
    State state = listedLine();
    FakeMessages messages;
    magnetList(state, messages);
    magnetList(state, messages);
    const std::vector<std::string> one = golden("magnet-list.txt");
    const std::vector<std::string> two = listLines(state);
    ASSERT_EQ(two.size(), 2 * one.size());
    EXPECT_EQ(two[one.size() + 2], "Magnet Lattice");

    state.listing.replaceList = true;
    magnetList(state, messages);
    expectLines(listLines(state), one);
}

TEST(Listing, LatticeListEndsAtTheLineOrTheFullRing)
{
    State state = listedLine();
    FakeMessages messages;
    addList(state, {"kept"});
    latticeList(state, messages);
    std::vector<std::string> expected = golden("lattice-list.txt");
    expected.insert(expected.begin(), "kept");
    expectLines(listLines(state), expected);
    EXPECT_EQ(messages.listShows, 1);

    // after expansion the end is the exit of the last element of the full ring
    state.ringElementCount = 3;
    clearList(state);
    latticeList(state, messages);
    const std::vector<std::string> lines = listLines(state);
    EXPECT_EQ(lines[lines.size() - 2], "   End                                         2.50000");
}

// A name longer than five characters widens the name column of every list to it; each column after the
// names then starts in the same place on every row, header included.
TEST(Listing, LongNamesWidenTheNameColumn)
{
    State state = listedLine();
    state.line.at(3).name = "QF.ARC_1.LONG";
    FakeMessages messages;
    magnetList(state, messages);
    latticeList(state, messages);
    const std::vector<std::string> lines = listLines(state);
    const auto rowOf = [&](const std::string& start) {
        return *std::find_if(lines.begin(), lines.end(),
                             [&](const std::string& l) { return l.rfind(start, 0) == 0; });
    };
    // magnet list: the code column ends 5 characters after the 13-character name column
    EXPECT_EQ(rowOf("    # Name").find(" code"), 5u + 13u);
    EXPECT_EQ(rowOf("    1D1 ").substr(0, 23), "    1D1               1");
    EXPECT_EQ(rowOf("    3QF").substr(0, 23), "    3QF.ARC_1.LONG   20");
    // lattice list: "   " and the name column, then the code in 5 characters
    EXPECT_EQ(rowOf("   QF.ARC").substr(0, 21), "   QF.ARC_1.LONG   20");
    EXPECT_EQ(rowOf("   D1 ").substr(0, 21), "   D1               1");
    EXPECT_EQ(rowOf("   Start").size(), 63u + 8u + 10u);
}

TEST(Listing, LaterKindsShowTheirWordsAndMainParameterAfterTheirRow)
{
    State state = listedLine();
    const std::pair<int, const char*> rows[] = {
        {code::kThinMultipole, "  thin multipole knl[1]=0.5 knl[3]=12"},
        {code::kVerticalKicker, "  vertical kicker vkick=0.2 mrad"},
        {code::kRfCavity, "  rf cavity V=1200 kV lag=0.25 f=499.654 MHz"},
        {code::kHorizontalMonitor, "  horizontal monitor"}};
    for (const auto& [elementCode, shown] : rows) {
        LatticeElement& e = state.line.at(++state.line.count);
        e = LatticeElement{};
        e.name = "N";
        e.code = elementCode;
        e.knl = {0, 0.5, 0, 12};
        e.vkick = 2e-4;
        e.voltage = 1.2e6;
        e.lag = 0.25;
        e.frequency = 499.654e6;
    }
    state.line.chainPositions();
    FakeMessages messages;
    latticeList(state, messages);
    const std::vector<std::string> lines = listLines(state);
    // the rows of the elements of the first kinds are what they always were
    const std::vector<std::string> old = golden("lattice-list.txt");
    ASSERT_GT(lines.size(), 6u + 7u + std::size(rows));
    for (std::size_t k = 0; k < 6 + 7; ++k)
        EXPECT_EQ(lines[k], old[k]);
    for (std::size_t k = 0; k < std::size(rows); ++k) {
        const std::string& line = lines[6 + 7 + k];
        const std::string shown = rows[k].second;
        EXPECT_EQ(line.substr(line.size() - std::min(line.size(), shown.size())), shown) << line;
    }
}

/// Hands a row given in the lattice-function columns to the list, with emittances of 4 and 1 mm mrad.
void feed(LatticeFunctionList& list, int index, const test::ListRow& values)
{
    LatticeFunctions lf = test::functionsOfRow(values);
    lf.epsX = 4e-6;
    lf.epsY = 1e-6;
    list.row(index, values[8], lf);
}

TEST(Listing, LatticeFunctionRowsByGraphMode)
{
    State state = listedLine();
    const test::ListRow start{12.5, -1.25, 0, 0.5, 0.025, 3.75, 0.5, 0, 0};
    const test::ListRow after1{13.0, -1.5, 0.0125, 0.55, 0.03, 4.0, 0.25, 0.02, 1.0};
    const test::ListRow after3{1234.5678, -0.0004, 0.5, -0.5, -0.0305, 0.001, 99.9999, 0.75, 2.5};
    LatticeFunctionList list(state);
    list.begin(PassKind::Line);
    for (int mode = 0; mode < 3; ++mode) {
        state.run.showBetaFunctions = mode == 0;
        state.run.showBeamSize = mode == 1;
        // a ring pass keeps the title set last
        if (mode == 2) {
            setListTitle(state, kMagnetListTitle);
            list.begin(PassKind::Ring);
        }
        feed(list, 0, start);
        feed(list, 1, after1);
        feed(list, 3, after3);
    }
    expectLines(listLines(state), golden("lattice-functions-beta.txt"));

    // a new pass with replacing lists starts from an empty text; rows after the start never clear
    state.listing.replaceList = true;
    feed(list, 0, start);
    feed(list, 1, after1);
    EXPECT_EQ(listLines(state).size(), 7u);

    // a long name moves the header, the start row and every row's numbers by the same widening
    state.line.at(1).name = "D1_LONG_NAME";
    state.run.showBetaFunctions = true;
    feed(list, 0, start);
    feed(list, 1, after1);
    const std::vector<std::string> wide = listLines(state);
    EXPECT_EQ(wide[wide.size() - 3].find("betax(m)"), 10u + 7u);
    EXPECT_EQ(wide[wide.size() - 2].find("Start"), 2u + 7u);
    EXPECT_EQ(wide.back().substr(0, 15), "  D1_LONG_NAME ");
}

/// One pass of rows as the line pass writes them: the start row, then one row per element.
void writePass(State& state, ListWriter writer, int elements, double scale)
{
    LatticeFunctionList list(state, writer);
    feed(list, 0, {10 * scale, 0, 0, 0, 0, 5 * scale, 0, 0, 0});
    for (int i = 1; i <= elements; ++i)
        feed(list, i, {scale * i, -0.5, 0.01 * i, 0.1, 0.2, 2.0, 0.3, 0.02 * i, 1.5 * i});
}

TEST(Listing, PlotUpdatesReplaceTheListOfThePreviousPlotUpdate)
{
    State state = listedLine();
    state.run.showBetaFunctions = true;
    setListTitle(state, kLatticeFunctionsTitle);
    addList(state, {"asked for first"});
    writePass(state, ListWriter::PlotUpdate, 3, 1.0);
    addList(state, {"asked for second"});
    writePass(state, ListWriter::PlotUpdate, 3, 2.0);

    // the same pass written by a list command, alone in a text
    State alone = state;
    clearList(alone);
    writePass(alone, ListWriter::Command, 3, 2.0);
    const std::vector<std::string> pass = listLines(alone);

    std::vector<std::string> expected{"asked for first", "asked for second"};
    expected.insert(expected.end(), pass.begin(), pass.end());
    expectLines(listLines(state), expected);
    // the plot update's list is the newest: the window scrolls to it
    EXPECT_EQ(newestListLine(state), 2u);
    EXPECT_EQ(listLines(state)[newestListLine(state) + 5].substr(0, 17), "   Name   betax(m");
}

TEST(Listing, ListCommandsKeepTheirPassesAndPlotUpdatesDoNotGrowTheText)
{
    State state = listedLine();
    state.run.showBetaFunctions = true;
    writePass(state, ListWriter::Command, 5, 1.0);
    writePass(state, ListWriter::Command, 5, 2.0);
    const std::size_t twoLists = listLines(state).size();
    for (int update = 0; update < 1000; ++update)
        writePass(state, ListWriter::PlotUpdate, 5, 1.0 + update);
    const std::vector<std::string> lines = listLines(state);
    // two asked-for lists and the last plot update's list, each of 5 + 1 + 5 lines
    EXPECT_EQ(lines.size(), twoLists + twoLists / 2);
    EXPECT_EQ(lines.back().substr(0, 17), "      A  5000.000"); // element 5 (A) of the last update

    // in "replace" mode a plot update clears the text like every list
    state.listing.replaceList = true;
    writePass(state, ListWriter::PlotUpdate, 5, 1.0);
    EXPECT_EQ(listLines(state).size(), twoLists / 2);
    EXPECT_EQ(newestListLine(state), 0u);
}

TEST(Listing, LinesAppendedAfterRowsFollowThemAndEveryChangeCounts)
{
    State state = listedLine();
    const unsigned long before = state.listing.revision;
    writePass(state, ListWriter::Command, 2, 1.0);
    appendToList(state, {"tunes"});
    LatticeFunctionList(state).row(3, 0, LatticeFunctions{});
    const std::vector<std::string> lines = listLines(state);
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[lines.size() - 2], "tunes");
    EXPECT_EQ(lines.back().substr(0, 8), "     QF ");
    EXPECT_GT(state.listing.revision, before + 3);
    const unsigned long written = state.listing.revision;
    clearList(state);
    EXPECT_GT(state.listing.revision, written);
    EXPECT_TRUE(listLines(state).empty());
    EXPECT_EQ(newestListLine(state), 0u);
}

TEST(Listing, MatrixList)
{
    State state;
    for (int r = 0; r < 6; ++r)
        for (int c = 0; c < 6; ++c)
            state.matrix.m[r][c] = (r + 1) * 1.5 - c * 0.25 - (r == c ? 0.000004 : 0);
    FakeMessages messages;
    matrixList(state, messages);
    expectLines(listLines(state), golden("matrix-list.txt"));
    EXPECT_EQ(messages.listShows, 1);
}

TEST(Listing, RingParameterList)
{
    State state;
    startParticle(state);
    state.beam.name = paddedElectronName();
    updateKinematics(state.beam, EnergyKind::Momentum, 2.5e9);
    state.beamCurrent = 0.2;
    RingParameters& r = state.ringParams;
    r.circumference = 240.123456;
    r.energyLoss = 123456.7;
    r.radiationPower = 24691.34;
    r.dampingTimeX = 0.0123;
    r.dampingTimeY = 0.0246;
    r.dampingTimeS = 0.0123 * 0.5;
    r.tuneX = 9.123456;
    r.tuneY = 4.654321;
    r.chromaticityX = -20.5;
    r.chromaticityY = -15.25;
    r.correctedChromaticityX = 1.0;
    r.correctedChromaticityY = 0.5;
    r.emittanceX = 6.5e-9;
    r.emittanceY = 6.5e-11;
    r.coupling = 0.01;
    r.energySpread = 0.000712;
    r.momentumCompaction = 0.00123456;
    r.i1 = 0.2961;
    r.i2 = 0.9870;
    r.i3 = 0.1234;
    r.i4 = -0.00321;
    r.i5 = 3.2e-4;
    FakeMessages messages;
    ringParameterList(state, messages);
    expectLines(listLines(state), golden("ring-parameter-list.txt"));
    EXPECT_EQ(messages.listShows, 1);
}

TEST(Listing, BeamParameterListMarksHeavierParticlesAsIons)
{
    State state;
    startParticle(state);
    state.lf.epsX = 1e-8;
    state.lf.epsY = 2e-9;
    FakeMessages messages;
    beamParameterList(state, messages);
    selectProton(state.beam, state.electron);
    beamParameterList(state, messages);
    selectIonKind(state.beam, state.electron);
    selectIonRow(state.beam, state.electron, 8);
    state.beam.charge = 6;
    state.beam.referenceMomentum = 5e8;
    beamParameterList(state, messages);
    expectLines(listLines(state), golden("beam-parameter-list.txt"));
    EXPECT_EQ(messages.listShows, 3);
}

TEST(Listing, RfParameterList)
{
    State state;
    state.ringParams.harmonicNumber = 400;
    RfParameters& rf = state.rf;
    rf.frequency = 499.654e6;
    rf.slipFactor = 0.00123;
    rf.power = 2.5e5;
    rf.cavities = 4;
    rf.cavityLength = 1.2;
    rf.voltage = 1.6e6;
    rf.energyAcceptance = 0.0123;
    rf.cavityMaterial = "copper";
    rf.shuntImpedance = 12.5e6;
    rf.cavityLossPower = 102400.0;
    rf.miscLossPower = 25000.0;
    rf.beamPower = 122600.0;
    rf.maxBeamCurrent = 0.35;
    rf.stamp = rfStamp(state);
    rf.budgetStamp = rfBudgetStamp(state);
    FakeMessages messages;
    rfParameterList(state, messages);
    expectLines(listLines(state), golden("rf-parameter-list.txt"));

    // a budget of other settings (a cell more) or of another design is not listed as current
    const std::function<void(State&)> changes[] = {[](State& s) { ++s.rf.cavities; },
                                                   [](State& s) { s.beamCurrent *= 2; }};
    for (const auto& change : changes) {
        State other = state;
        change(other);
        clearList(other);
        rfParameterList(other, messages);
        const std::vector<std::string> lines = listLines(other);
        for (const char* name : {"CavImp", "P_cav", "P_misc", "P_b", "I_b"}) {
            const auto line = std::find_if(lines.begin(), lines.end(), [&](const std::string& l) {
                return l.find(name) != std::string::npos;
            });
            ASSERT_NE(line, lines.end()) << name;
            EXPECT_NE(line->find("n/a"), std::string::npos) << *line;
        }
    }
}

TEST(Listing, SaveListWritesEveryLineAndRecordsTheName)
{
    const std::filesystem::path folder = test::freshTestFolder("kestrune-listing-save");
    State state;
    addList(state, {"first", "", "   third"});
    FakeMessages messages;
    const std::string fileName = (folder / "list.txt").string();
    ASSERT_TRUE(saveListAs(state, messages, fileName));
    EXPECT_EQ(state.lastSavedFile, fileName);
    std::ifstream file(fileName, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    EXPECT_EQ(text.str(), "first\r\n\r\n   third\r\n");

    EXPECT_FALSE(saveListAs(state, messages, (folder / "missing" / "list.txt").string()));
    EXPECT_EQ(messages.errors.size(), 1u);
    EXPECT_EQ(state.lastSavedFile, fileName);
    EXPECT_EQ(state.lastSaveFolder, folder.string());
    std::filesystem::remove_all(folder);
}

TEST(Listing, SaveDialogNeverOffersTheLatticeFileItself)
{
    State state;
    // nothing saved and nothing opened: the working folder
    EXPECT_EQ(listFilePreset(state, "/work"), "/work");
    EXPECT_EQ(saveDialogFolder(state, "/work"), "/work");

    // an example opened from the program's tree: its name with the list extension, in the working
    // folder
    state.lastOpenedFile = "/usr/share/kestrune/examples/dba-cell.lat";
    EXPECT_EQ(listFilePreset(state, "/work"), "/work/dba-cell.txt");

    // after a save the dialogs open where the user saved
    state.lastSaveFolder = "/home/user/designs";
    EXPECT_EQ(listFilePreset(state, "/work"), "/home/user/designs/dba-cell.txt");
    EXPECT_EQ(saveDialogFolder(state, "/work"), "/home/user/designs");

    // a lattice stored as text keeps its own name to itself
    state.lastOpenedFile = "/home/user/designs/ring.TXT";
    EXPECT_EQ(listFilePreset(state, "/work"), "/home/user/designs/ring-list.txt");

    // exports follow the same rule with their own extension
    EXPECT_EQ(exportFilePreset(state, "/work", ".madx"), "/home/user/designs/ring.madx");
    state.lastOpenedFile = "/home/user/designs/fodo.madx";
    EXPECT_EQ(exportFilePreset(state, "/work", ".madx"), "/home/user/designs/fodo-export.madx");
    EXPECT_EQ(exportFilePreset(state, "/work", ".tfs"), "/home/user/designs/fodo.tfs");
}

} // namespace
} // namespace kestrune
