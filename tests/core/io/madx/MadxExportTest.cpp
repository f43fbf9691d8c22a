#include "core/io/madx/MadxExport.h"

#include "cli/Report.h"
#include "core/Kinematics.h"
#include "core/io/JsonInput.h"
#include "core/io/LatticeFile.h"
#include "core/io/TfsTable.h"
#include "core/io/madx/MadxImported.h"
#include "core/io/madx/MadxReader.h"
#include "core/optics/BetaFunctions.h"
#include "support/FakeMessages.h"
#include "support/PassRecorder.h"
#include "support/TestFolder.h"

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <tuple>

namespace kestrune {
namespace {

using test::FakeMessages;

State openExample(const std::string& name)
{
    State state;
    startParticle(state);
    FakeMessages messages;
    EXPECT_TRUE(readLatticeFile(state, messages, std::string(KESTRUNE_EXAMPLES) + "/" + name));
    return state;
}

State reimport(const State& original)
{
    FakeMessages messages;
    const std::optional<std::string> text = madxText(original, messages);
    EXPECT_TRUE(text.has_value());
    State state;
    startParticle(state);
    EXPECT_TRUE(readMadxText(state, messages, text.value_or(""), "export.madx"));
    EXPECT_TRUE(messages.errors.empty()) << messages.errors.front();
    return state;
}

// The export writes the shortest decimal that reads back as the same double; a bend's angle and its
// rectangular chord pass through a product and a sine, a few units in the last place.
void expectSame(double expected, double actual, const std::string& what)
{
    EXPECT_NEAR(actual, expected, 1e-12 * std::max(1.0, std::fabs(expected))) << what;
}

void expectSameElements(const State& a, const State& b)
{
    ASSERT_EQ(a.line.count, b.line.count);
    for (int i = 1; i <= a.line.count; ++i) {
        const LatticeElement& x = a.line.at(i);
        const LatticeElement& y = b.line.at(i);
        const std::string at = "element " + std::to_string(i) + " " + x.name;
        EXPECT_EQ(x.name, y.name) << at;
        EXPECT_EQ(x.code, y.code) << at;
        expectSame(x.s, y.s, at + " s");
        expectSame(x.length, y.length, at + " length");
        expectSame(x.curvature, y.curvature, at + " curvature");
        expectSame(x.ain, y.ain, at + " ain");
        expectSame(x.aout, y.aout, at + " aout");
        expectSame(x.gap, y.gap, at + " gap");
        expectSame(x.k, y.k, at + " k");
        expectSame(x.m, y.m, at + " m");
        expectSame(x.pumpSpeed, y.pumpSpeed, at + " pump speed");
        // the fields of the later kinds are written in their shortest exact form
        EXPECT_EQ(
            std::tie(x.k3, x.k1s, x.ks, x.tilt, x.hkick, x.vkick, x.voltage, x.lag, x.harmonic, x.frequency),
            std::tie(y.k3, y.k1s, y.ks, y.tilt, y.hkick, y.vkick, y.voltage, y.lag, y.harmonic, y.frequency))
            << at;
        EXPECT_EQ(x.knl, y.knl) << at;
        EXPECT_EQ(x.ksl, y.ksl) << at;
        EXPECT_TRUE(x.aperture == y.aperture) << at;
    }
    expectSame(a.line.length, b.line.length, "line length");
}

// Periodic start values and the phase advance of one period.
std::array<double, 8> periodicOptics(State state)
{
    FakeMessages messages;
    state.run.stepAtElementEnds = true;
    EXPECT_TRUE(betaFunctions(state, messages, nullptr));
    const RunSettings& r = state.run;
    return {r.betaX0, r.alphaX0, r.betaY0, r.alphaY0, r.etaX0, r.etaPX0, state.lf.phiX, state.lf.phiY};
}

void expectSameOptics(const State& a, const State& b, double tolerance)
{
    const auto x = periodicOptics(a);
    const auto y = periodicOptics(b);
    static const char* const what[] = {"betaX", "alphaX", "betaY",  "alphaY",
                                       "eta",   "eta'",   "tune x", "tune y"};
    for (std::size_t i = 0; i < x.size(); ++i)
        EXPECT_NEAR(y[i], x[i], tolerance * std::max(1.0, std::fabs(x[i]))) << what[i];
}

TEST(MadxExport, ExampleLatticesComeBackUnchanged)
{
    for (const char* name : {"fodo-cell.lat", "dba-cell.lat"}) {
        SCOPED_TRACE(name);
        const State original = openExample(name);
        const State back = reimport(original);
        expectSameElements(original, back);
        expectSameOptics(original, back, 1e-12);
        EXPECT_NEAR(back.beam.momentum, original.beam.momentum, 1e-12 * original.beam.momentum);
        EXPECT_EQ(back.beam.name, "electron");
    }
}

TEST(MadxExport, EveryBendKindAndSpecialElementComesBack)
{
    State state;
    startParticle(state);
    BeamLine& line = state.line;
    auto add = [&](const char* name, int elementCode, double length) -> LatticeElement& {
        LatticeElement& e = line.at(++line.count);
        e = LatticeElement{};
        e.name = name;
        e.code = elementCode;
        e.length = length;
        return e;
    };
    LatticeElement& rect = add("BR", code::kRectangularBend, 1.5);
    rect.curvature = 0.2;
    rect.ain = rect.aout = 0.15;
    rect.gap = 0.05;
    LatticeElement& wedge = add("BW", code::kWedgeBend, 1.0);
    wedge.curvature = -0.1;
    wedge.ain = 0.02;
    wedge.aout = -0.03;
    wedge.k = -0.4;
    wedge.gap = 0.03;
    LatticeElement& sector = add("BS", code::kSectorBend, 2.0);
    sector.curvature = 0.05;
    sector.gap = 0.04;
    add("P1", code::kPump, 0).pumpSpeed = 150;
    add("S", code::kSextupoleSpecial, 0.1).m = -7;
    add("Q", code::kQuadrupole, 0.3).k = 1.1;
    add("Q", code::kQuadrupole, 0.3).k = -1.1; // the same name for another element
    add("D", code::kDrift, 0.5);
    add("D", code::kDrift, 0.5);
    add("2x", code::kDrift, 0.25); // not a MAD-X name
    line.chainPositions();

    FakeMessages messages;
    const std::string text = madxText(state, messages).value_or("");
    EXPECT_NE(text.find("Q_2: quadrupole, l=0.3, k1=-1.1;"), std::string::npos) << text;
    EXPECT_NE(text.find("E10: drift, l=0.25;"), std::string::npos) << text;
    EXPECT_NE(text.find("P1: marker, type=\"vacuum pump 150 l/s\";"), std::string::npos) << text;
    EXPECT_EQ(text.find("D_2"), std::string::npos) << "two equal drifts share one definition";

    State back = reimport(state);
    // the names that MAD-X could not take come back as they were written
    back.line.at(7).name = "Q";
    back.line.at(10).name = "2x";
    expectSameElements(state, back);
}

TEST(MadxExport, EveryKindAndFieldComesBackNumberForNumber)
{
    const auto kinds = test::import(test::kEveryKind);
    ASSERT_TRUE(kinds->ok) << kinds->messages.errors.at(0);
    for (const int superPeriods : {1, 3}) {
        State state = kinds->state;
        state.line.superPeriods = superPeriods;
        state.line.at(11).length = 0.2; // a marker with a length
        state.line.chainPositions();
        expectSameElements(state, reimport(state));
    }
}

TEST(MadxExport, ElementsWithoutCounterpartAreRefusedByName)
{
    const State ion = openExample("ion-line.lat");
    FakeMessages messages;
    EXPECT_FALSE(madxText(ion, messages).has_value());
    ASSERT_EQ(messages.errors.size(), 1u);
    EXPECT_EQ(messages.errors[0],
              "cannot export to MAD-X: no MAD-X element for EL (einzel lens, element 2), "
              "ACC (electrostatic accelerator, element 4), LIN (linac section, element 10)");

    State empty;
    EXPECT_FALSE(madxText(empty, messages).has_value());
    EXPECT_EQ(messages.errors.back(), "define a beam line first!");
    EXPECT_FALSE(latticeFunctionsTable(empty, messages).has_value());
    EXPECT_EQ(messages.errors.back(), "define a beam line first!");
}

TEST(MadxExport, HandWrittenDbaGivesTheOpticsOfTheExample)
{
    const State example = openExample("dba-cell.lat");
    State madx;
    startParticle(madx);
    FakeMessages messages;
    MadxImportSummary summary;
    ASSERT_TRUE(readMadxFile(madx, messages, std::string(KESTRUNE_EXAMPLES) + "/dba-cell.madx", &summary));
    EXPECT_TRUE(summary.periodic);
    int monitors = 0;
    for (int i = 1; i <= madx.line.count; ++i)
        monitors += madx.line.at(i).code == code::kMonitor ? 1 : 0;
    EXPECT_EQ(monitors, 2);
    EXPECT_NEAR(madx.beam.momentum, example.beam.momentum, 1e-3);
    EXPECT_NEAR(madx.line.length, example.line.length, 1e-12);
    // positions of centres put the drifts together to rounding: 1e-10 of the optics
    expectSameOptics(example, madx, 1e-10);
}

// Ring tunes of a state whose line is the whole ring.
std::pair<double, double> ringTunes(State state)
{
    FakeMessages messages;
    EXPECT_TRUE(betaFunctions(state, messages, nullptr));
    return {state.lf.tuneX, state.lf.tuneY};
}

TEST(MadxExport, BendsWithHgapAndFintGiveMadxTunesAndKeepThemThroughExport)
{
    State madx;
    startParticle(madx);
    FakeMessages messages;
    ASSERT_TRUE(readMadxFile(madx, messages, std::string(KESTRUNE_VALIDATION) + "/rect-wedge-gap.madx"));
    EXPECT_NEAR(madx.line.at(3).gap, 0.05, 1e-15); // HGAP = 0.025, FINT = FINTX = 1/3
    // MAD-X 5.09.03, TWISS of validation/rect-wedge-gap.madx: q1, q2
    const auto [qx, qy] = ringTunes(madx);
    EXPECT_NEAR(qx, 2.1941002459928645, 1e-9);
    EXPECT_NEAR(qy, 2.2012779854341664, 1e-9);
    const auto [qx2, qy2] = ringTunes(reimport(madx));
    EXPECT_NEAR(qx2, qx, 1e-12);
    EXPECT_NEAR(qy2, qy, 1e-12);
}

TEST(TfsTable, WrittenTableReadsBackWithHeaderNamesFormatsAndValues)
{
    const State state = openExample("dba-cell.lat");
    FakeMessages messages;
    const std::optional<TfsTable> written = latticeFunctionsTable(state, messages);
    ASSERT_TRUE(written.has_value());
    std::string error;
    const std::optional<TfsTable> read = parseTfs(tfsText(*written), &error);
    ASSERT_TRUE(read.has_value()) << error;

    ASSERT_NE(read->find("TYPE"), nullptr);
    EXPECT_EQ(read->find("TYPE")->value, "TWISS");
    EXPECT_EQ(read->find("TYPE")->format, "%05s");
    EXPECT_EQ(read->find("PARTICLE")->value, "ELECTRON");
    EXPECT_EQ(read->find("PC")->format, "%le");
    EXPECT_NEAR(std::atof(read->find("PC")->value.c_str()), 2.0, 1e-12);
    EXPECT_EQ(read->columns, (std::vector<std::string>{"NAME", "KEYWORD", "S", "L", "BETX", "ALFX", "MUX",
                                                       "DX", "DPX", "BETY", "ALFY", "MUY"}));
    EXPECT_EQ(read->formats[0], "%s");
    EXPECT_EQ(read->formats[2], "%le");
    ASSERT_EQ(read->rows.size(), static_cast<std::size_t>(state.line.count) + 1);
    EXPECT_EQ(read->rows[0][0], "LATTICE$START");
    EXPECT_EQ(read->rows[3][0], "Q1");
    EXPECT_EQ(read->rows[3][1], "QUADRUPOLE");

    // the values are those of the beam-line pass with the same start values
    test::RecordingList rows;
    State pass = state;
    linePass(pass, messages, nullptr, &rows);
    const int s = read->column("S"), betx = read->column("BETX"), muy = read->column("MUY"),
              dx = read->column("DX");
    for (std::size_t i = 0; i < rows.rows.size(); ++i) {
        const auto value = [&](int c) {
            return std::atof(read->rows[i][static_cast<std::size_t>(c)].c_str());
        };
        EXPECT_NEAR(value(s), rows.rows[i].values[8], 1e-12);
        EXPECT_NEAR(value(betx), rows.rows[i].values[0], 1e-12);
        EXPECT_NEAR(value(dx), rows.rows[i].values[3], 1e-12);
        EXPECT_NEAR(value(muy), rows.rows[i].values[7], 1e-12);
    }
    EXPECT_NEAR(std::atof(read->find("Q1")->value.c_str()), rows.rows.back().values[2], 1e-12);
}

TEST(TfsTable, BrokenTablesAreRefusedWithTheLine)
{
    std::string error;
    EXPECT_FALSE(parseTfs("@ TYPE %05s \"TWISS\"\n* NAME S\n$ %s %le\n\"A\" 1 2\n", &error).has_value());
    EXPECT_EQ(error, "line 4: a row of 3 values in a table of 2 columns");
    EXPECT_FALSE(parseTfs("* NAME\n$ %s\n\"A\n", &error).has_value());
    EXPECT_EQ(error, "line 3: a string is not closed");
    EXPECT_FALSE(parseTfs("@ X %le 1\n", &error).has_value());
}

// Every number of two reports agrees to 1e-12 (relative above 1); the texts and the nulls are the same.
void expectSameReport(const Json& a, const Json& b, const std::string& path)
{
    if (a.is_number() && b.is_number()) {
        const double x = a.get<double>();
        EXPECT_NEAR(b.get<double>(), x, 1e-12 * std::max(1.0, std::fabs(x))) << path;
        return;
    }
    ASSERT_EQ(a.type(), b.type()) << path;
    if (a.is_object()) {
        for (const auto& [key, value] : a.items()) {
            ASSERT_TRUE(b.contains(key)) << path << "/" << key;
            if (key != "lattice_file")
                expectSameReport(value, b.at(key), path + "/" + key);
        }
        EXPECT_EQ(a.size(), b.size()) << path;
    } else if (a.is_array()) {
        ASSERT_EQ(a.size(), b.size()) << path;
        for (std::size_t i = 0; i < a.size(); ++i)
            expectSameReport(a[i], b[i], path + "[" + std::to_string(i) + "]");
    } else {
        EXPECT_EQ(a, b) << path;
    }
}

Json reportOf(const State& state)
{
    StderrMessages quiet;
    return buildReport("example", state, state, BatchInputs{}, quiet);
}

TEST(MadxExport, EveryExampleComesBackWithTheSameReportAndTheSameText)
{
    namespace fs = std::filesystem;
    for (const auto& entry : fs::directory_iterator(KESTRUNE_EXAMPLES)) {
        const std::string file = entry.path().string();
        if (entry.path().extension() != ".lat" && !isMadxFileName(file))
            continue; // strength files are parts of an input
        SCOPED_TRACE(file);
        State original;
        startParticle(original);
        FakeMessages messages;
        ASSERT_TRUE(isMadxFileName(file) ? readMadxFile(original, messages, file)
                                         : readLatticeFile(original, messages, file));
        const std::optional<std::string> text = madxText(original, messages);
        if (!text) {
            // lines with elements MAD-X has no counterpart for are refused by name
            EXPECT_NE(messages.errors.back().find("no MAD-X element for"), std::string::npos);
            continue;
        }
        State back;
        startParticle(back);
        ASSERT_TRUE(readMadxText(back, messages, *text, "export.madx")) << messages.errors.back();
        expectSameReport(reportOf(original), reportOf(back), "");
        // names that are no MAD-X names (the import's own DRIFT) come back as E and the index
        for (int i = 1; i <= back.line.count && i <= original.line.count; ++i)
            if (back.line.at(i).name == "E" + std::to_string(i))
                back.line.at(i).name = original.line.at(i).name;
        expectSameElements(original, back);
        // positions and voltages written to 12 digits come back as the same text
        EXPECT_EQ(madxText(back, messages).value_or(""), *text);
    }
}

TEST(MadxExport, ARingIsWrittenAsMadxReadsIt)
{
    State state = openExample("dba-cell.lat");
    FakeMessages messages;
    const std::string text = madxText(state, messages).value_or("");
    for (const char* part : {"beam, particle=electron, pc=2, bcurrent=0.2;",
                             "rf: rfcavity, l=0, type=\"rf system\", volt=0.1, freq=499.654;",
                             "lattice: line=(rf, LS, P1,", "ring: line=(12*lattice);", "use, period=ring;"})
        EXPECT_NE(text.find(part), std::string::npos) << part << " in\n" << text;
    // a whole harmonic number is written as MAD-X's HARMON
    state.rf.frequency = 306 * state.beam.beta * 299792458.0 / (12 * state.line.length);
    EXPECT_NE(madxText(state, messages).value_or("").find("harmon=306;"), std::string::npos);
}

TEST(MadxExport, FilesAreWrittenAndReadBack)
{
    namespace fs = std::filesystem;
    const fs::path dir = test::freshTestFolder("kestrune-madx-export");
    const State state = openExample("fodo-cell.lat");
    FakeMessages messages;
    ASSERT_TRUE(writeMadxFile(state, messages, (dir / "fodo.madx").string()));
    ASSERT_TRUE(writeTfsFile(state, messages, (dir / "fodo.tfs").string()));
    State back;
    ASSERT_TRUE(readMadxFile(back, messages, (dir / "fodo.madx").string()));
    EXPECT_EQ(back.line.count, state.line.count);
    std::ifstream in(dir / "fodo.tfs");
    std::ostringstream text;
    text << in.rdbuf();
    const std::optional<TfsTable> table = parseTfs(text.str());
    ASSERT_TRUE(table.has_value());
    EXPECT_EQ(table->rows.size(), static_cast<std::size_t>(state.line.count) + 1);
    EXPECT_TRUE(messages.errors.empty());
    fs::remove_all(dir);
}

} // namespace
} // namespace kestrune

namespace kestrune {
namespace {

TEST(TfsTable, CoupledRingIsWrittenWithMadxsCoupledColumns)
{
    // the coupled validation ring: its first row against MAD-X's TWISS of the same ring
    State state;
    startParticle(state);
    test::FakeMessages messages;
    ASSERT_TRUE(
        readLatticeFile(state, messages, std::string(KESTRUNE_VALIDATION) + "/coupled-double-bend.lat"));
    const std::optional<TfsTable> table = latticeFunctionsTable(state, messages);
    ASSERT_TRUE(table.has_value()) << (messages.errors.empty() ? "" : messages.errors.front());
    std::string problem;
    const std::optional<nlohmann::ordered_json> reference =
        readJsonFile(std::string(KESTRUNE_VALIDATION) + "/reference.json", problem);
    ASSERT_TRUE(reference.has_value()) << problem;
    const nlohmann::ordered_json& madx = reference->at("coupled-double-bend");
    const std::vector<std::string>& start = table->rows.front();
    for (const auto& [column, key] : {std::pair{"BETX", "beta_1_m"},
                                      {"ALFY", "alpha_2"},
                                      {"R11", "r11"},
                                      {"R12", "r12"},
                                      {"R21", "r21"},
                                      {"R22", "r22"}}) {
        const int c = table->column(column);
        ASSERT_GE(c, 0) << column;
        EXPECT_NEAR(std::stod(start[static_cast<std::size_t>(c)]), madx.at(key).get<double>(), 1e-9)
            << column;
    }
    EXPECT_NEAR(std::stod(table->find("Q1")->value), madx.at("tune_1").get<double>(), 1e-9);
}

} // namespace
} // namespace kestrune
