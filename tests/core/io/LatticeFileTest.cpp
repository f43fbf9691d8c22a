#include "core/io/LatticeFile.h"

#include "core/Kinematics.h"
#include "support/FakeMessages.h"
#include "support/TestFolder.h"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <random>
#include <sstream>
#include <tuple>

namespace kestrune {
namespace {

using test::FakeMessages;

State electronAt1GeV()
{
    State state;
    startParticle(state);
    return state;
}

State everyKindRing();

std::vector<std::string> linesOf(const std::string& text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(text.substr(start, end - start));
    EXPECT_EQ(start, text.size()) << "every line ends with CR LF";
    return lines;
}

std::string slurp(const std::string& fileName)
{
    std::ifstream file(fileName, std::ios::binary);
    std::ostringstream buffer;
    buffer << file.rdbuf();
    return buffer.str();
}

void expectRelativelyNear(double expected, double actual, const char* what)
{
    // the long form carries 15 significant digits
    EXPECT_NEAR(actual, expected, std::fabs(expected) * 1e-14) << what;
}

TEST(LatticeFile, LongFormOfReals)
{
    EXPECT_EQ(longReal(1.5), " 1.50000000000000E+0000");
    EXPECT_EQ(longReal(-60), "-6.00000000000000E+0001");
    EXPECT_EQ(longReal(0), " 0.00000000000000E+0000");
    EXPECT_EQ(longReal(1.25e-123), " 1.25000000000000E-0123");
    EXPECT_EQ(longReal(-9.999999999999999e299), "-1.00000000000000E+0300");
    EXPECT_EQ(longReal(0.3).size(), 23u);
}

// The file's numbers are printf's "%.14E" with the exponent widened to four digits, for any double.
TEST(LatticeFile, LongRealsArePrintfsDigits)
{
    std::mt19937_64 random(7);
    std::uniform_real_distribution<double> mantissa(-10, 10);
    std::uniform_int_distribution<int> exponent(-320, 307);
    for (int i = 0; i < 20000; ++i) {
        const double value = mantissa(random) * std::pow(10.0, exponent(random));
        char expected[64];
        std::snprintf(expected, sizeof expected, "%.14E", value);
        std::string reference = expected;
        const std::size_t e = reference.find('E');
        const std::string digits = reference.substr(e + 2);
        reference = (value < 0 ? "" : " ") + reference.substr(0, e + 2) +
                    std::string(4 - digits.size(), '0') + digits;
        ASSERT_EQ(longReal(value), reference) << value;
    }
}

TEST(LatticeFile, PreviousVersionIsWrittenByteForByte)
{
    State state = electronAt1GeV();
    state.line.count = 1;
    state.line.length = 1.8;
    LatticeElement& qf = state.line.at(1);
    qf.name = "QF";
    qf.code = code::kQuadrupole;
    qf.s = 1.5;
    qf.length = 0.3;
    qf.k = 2.3;
    state.line.shape(1) = ElementShape{1.5, 1.8, -60, -52, colour::kRed, ShapeStyle::Rectangle, "1"};
    const std::string zero = "  0.00000000000000E+0000";

    const std::string expected =
        "1003\r\n"
        "1 0\r\n"
        "201 1  1.80000000000000E+0000  1.00000000000000E+0000\r\n"
        "50         QF 20  1.50000000000000E+0000  3.00000000000000E-0001" +
        zero + zero + zero + zero + "  2.30000000000000E+0000" + zero + zero + zero + zero + zero +
        "\r\n"
        "11  1.50000000000000E+0000  1.80000000000000E+0000 -6.00000000000000E+0001 "
        "-5.20000000000000E+0001\r\n"
        "23  1.00000000000000E+0001  0.00000000000000E+0000  1.00000000000000E-0001  1.00000000000000E+0001"
        "  0.00000000000000E+0000  1.00000000000000E-0001\r\n"
        "24  0.00000000000000E+0000  0.00000000000000E+0000\r\n"
        "25  0.00000000000000E+0000  0.00000000000000E+0000\r\n"
        "5 1 200    0.100\r\n"
        "30 0       electron    1    0.001 511003.400 1000000000.000\r\n";
    EXPECT_EQ(latticeFileText(state, kPreviousLatticeFormat), expected);

    qf.name = "QF1.Arc\"7";
    const std::string current = "1004\r\n"
                                "1 0\r\n"
                                "201 1 1.8 1\r\n"
                                "50 \"QF1.Arc\"\"7\" 20 1.5 0.3 0 0 0 0 2.3 0 0 0 0 0 1.5 1.8 -60 -52\r\n"
                                "23 10 0 0.1 10 0 0.1\r\n"
                                "24 0 0\r\n"
                                "25 0 0\r\n"
                                "5 1 200 0.1\r\n"
                                "30 0       electron    1 " +
                                exactReal(kElectronRestEnergy / kAtomicMassUnit) + " 511003.4 1e+09\r\n";
    EXPECT_EQ(latticeFileText(state), current);
}

// Version 4 keeps every double and every name as they are: read back, the design writes the same text.
TEST(LatticeFile, CurrentVersionReadsBackExactly)
{
    State written = everyKindRing();
    written.line.at(1).name = "QUADRUPOLE_FOCUSING_ARC_1.a";
    written.line.at(2).name = "say \"hello\"";
    written.line.at(3).length = 0.1 + 0.2;
    written.line.chainPositions();
    written.run.maxStep = 1.0 / 3;
    written.beamCurrent = 0.2 / 3;
    const std::string text = latticeFileText(written);
    State read = electronAt1GeV();
    FakeMessages messages;
    ASSERT_TRUE(readLatticeText(read, messages, text, "ring.lat")) << messages.errors.at(0);
    // the editor draws the shapes from the boxes read
    for (int i = 1; i <= read.line.count; ++i) {
        const DrawingBox& box = read.fileBoxes[static_cast<std::size_t>(i)];
        read.line.shape(i) = ElementShape{box.x0, box.x1, box.y0, box.y1, {}, {}, {}};
    }
    EXPECT_EQ(latticeFileText(read), text);
    EXPECT_EQ(read.line.at(1).name, "QUADRUPOLE_FOCUSING_ARC_1.a");
    EXPECT_EQ(read.line.at(2).name, "say \"hello\"");
    EXPECT_EQ(read.line.at(3).length, 0.1 + 0.2);
    EXPECT_EQ(read.line.at(17).energyGain, written.line.at(17).energyGain);
    EXPECT_EQ(read.run.maxStep, 1.0 / 3);
    EXPECT_EQ(read.beamCurrent, 0.2 / 3);
    EXPECT_EQ(read.fileBoxes[5].y0, written.line.shape(5).y0);
}

TEST(LatticeFile, LaterKindsReadBackFieldForFieldAndOldRecordsStayAsTheyWere)
{
    // every later kind with every field of many digits, apertures of every type, and a bare marker
    State written = electronAt1GeV();
    BeamLine& line = written.line;
    for (const int elementCode : {60, 61, 62, 70, 71, 72, 80, 81, 82, 83, 90, 20}) {
        LatticeElement& e = line.at(++line.count);
        const double f = 1.0 + line.count / 7.0;
        e.name = "K" + std::to_string(line.count);
        e.code = elementCode;
        e.length = 0.1 * f;
        e.knl.assign(static_cast<std::size_t>(kMaxMultipoleOrder + 1 - line.count % 3), 1.23456789012345 * f);
        e.ksl = {-0.0, 0.98765432109876 * f};
        e.k3 = 123.456789012345 * f;
        e.k1s = -0.0271828182845904 * f;
        e.ks = 0.314159265358979 * f;
        e.tilt = 0.0123456789012345 * f;
        e.hkick = 1.23456789e-4 * f;
        e.vkick = -9.87654321e-5 * f;
        e.voltage = 1.23456789e6 * f;
        e.lag = 0.123456789 * f;
        e.harmonic = 306;
        e.frequency = 499.654321987e6 * f;
        e.aperture = {static_cast<ApertureType>(line.count % 5),
                      {0.01 * f, 0.02 * f, 0.025, 0.03 * f},
                      1e-3 * f,
                      -2.5e-4};
    }
    line.at(++line.count) = LatticeElement{"M", code::kMarker};
    line.chainPositions();
    const std::string text = latticeFileText(written);
    State read = electronAt1GeV();
    FakeMessages messages;
    ASSERT_TRUE(readLatticeText(read, messages, text, "kinds.lat")) << messages.errors.at(0);
    ASSERT_EQ(read.line.count, line.count);
    const auto fields = [](const LatticeElement& e) {
        return std::tie(e.name, e.code, e.s, e.length, e.knl, e.ksl, e.k3, e.k1s, e.ks, e.tilt, e.hkick,
                        e.vkick, e.voltage, e.lag, e.harmonic, e.frequency);
    };
    for (int i = 1; i <= line.count; ++i) {
        EXPECT_EQ(fields(read.line.at(i)), fields(line.at(i)));
        EXPECT_TRUE(read.line.at(i).aperture == line.at(i).aperture) << i;
    }
    // the elements of the first kinds write no named field at all
    EXPECT_EQ(latticeFileText(written = everyKindRing()).find('='), std::string::npos);
}

TEST(LatticeFile, NamedFieldsThatCannotBeTakenAreRefusedWithLineAndElement)
{
    const std::string head = "1004\r\n1 0\r\n201 1 0 1\r\n50 \"M1\" 60 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0";
    const std::string element = "line 4: element 1 (M1): ";
    const struct
    {
        std::string fields;
        std::string error;
    } cases[] = {
        {" knl=1,x", "knl holds 'x', not a number the program takes"},
        {" knl=0,0,0,0,0,0,0,0,0,0,1", "knl holds orders 0 to 9, not more"},
        {" ksl=1e300", "ksl holds '1e300', not a number the program takes"},
        {" colour=red", "unknown field 'colour'"},
        {" k3=1 k3=2", "the field given twice: 'k3=2'"},
        {" k3", "a field key=value expected, found 'k3'"},
        {" aperture=octagon:1",
         "the aperture type must be circle, rectangle, ellipse or rectellipse, not 'octagon'"},
        {" aperture=rectangle:0.1", "a rectangle aperture has 2 sizes, not 1"},
        {" aperture=circle:0.1,0.2,0.3,0.4,0.5", "aperture holds 4 values, not more"},
        {" aper_offset=0.1", "aper_offset holds two offsets, dx,dy"},
        {" voltage=-1", "the cavity voltage must not be negative!"},
    };
    for (const auto& c : cases) {
        State state = everyKindRing();
        FakeMessages messages;
        EXPECT_FALSE(readLatticeText(state, messages, head + c.fields + "\r\n", "bad.lat")) << c.fields;
        ASSERT_EQ(messages.errors.size(), 1u);
        EXPECT_EQ(messages.errors[0], "cannot read lattice file bad.lat, " + element + c.error);
        EXPECT_EQ(state.line.count, everyKindRing().line.count);
    }
}

TEST(LatticeFile, ErrorsReadBackExactlyAndBadOnesAreRefusedByElement)
{
    State written = everyKindRing();
    BeamLine& line = written.line;
    ElementErrors& misaligned = line.at(2).errors;
    misaligned = {1.234567890123e-4, -2.5e-5, 3e-6, 1.0 / 3e4, -0.0, 7.1e-7, {}, {}};
    line.at(3).errors.dkn = {0, 1e-3 / 7, 0.0};
    line.at(3).errors.dks = {-2.0 / 3e5};
    const std::string text = latticeFileText(written);
    State read = electronAt1GeV();
    FakeMessages messages;
    ASSERT_TRUE(readLatticeText(read, messages, text, "errors.lat")) << messages.errors.at(0);
    const auto fields = [](const ElementErrors& e) {
        return std::tie(e.dx, e.dy, e.ds, e.dtheta, e.dphi, e.dpsi, e.dkn, e.dks);
    };
    for (int i = 1; i <= line.count; ++i)
        EXPECT_EQ(fields(read.line.at(i).errors), fields(line.at(i).errors)) << i;
    ASSERT_TRUE(previousFormatRefusal(line));
    EXPECT_NE(previousFormatRefusal(line)->find("no misalignments and field errors"), std::string::npos);

    const std::string head = "1004\r\n1 0\r\n201 1 0 1\r\n50 \"Q\" 20 0 1 0 0 0 0 1 0 0 0 0 0 0 0 0 0";
    const struct
    {
        std::string fields;
        std::string error;
    } cases[] = {
        {" align=1:2:3:4:5", "align holds six values, dx:dy:ds:dtheta:dphi:dpsi"},
        {" align=1,2,3,4,5,6", "align holds six values, dx:dy:ds:dtheta:dphi:dpsi"},
        {" align=0:0:x:0:0:0", "align holds 'x', not a number the program takes"},
        {" dkn=0,0,0,0,0,0,0,0,0,0,1", "dkn holds orders 0 to 9, not more"},
        {" dks=nan", "dks holds 'nan', not a number the program takes"},
        {" dkn=1 dkn=2", "the field given twice: 'dkn=2'"},
    };
    for (const auto& c : cases) {
        FakeMessages bad;
        EXPECT_FALSE(readLatticeText(read, bad, head + c.fields + "\r\n", "bad.lat")) << c.fields;
        ASSERT_EQ(bad.errors.size(), 1u);
        EXPECT_EQ(bad.errors[0], "cannot read lattice file bad.lat, line 4: element 1 (Q): " + c.error);
    }
}

TEST(LatticeFile, BadNamesAreRefusedWithLineAndElement)
{
    const std::string head = "1004\r\n1 0\r\n201 1 0.5 1\r\n50 ";
    const std::string rest = " 1 0 0.5 0 0 0 0 0 0 0 0 0 0 0 0.5 -1 1\r\n";
    const struct
    {
        std::string record;
        std::string error;
    } cases[] = {
        {"\"D\x01rift\"" + rest,
         "line 4: element 1 (D\\x01rift): the element name 'D\\x01rift' holds a control "
         "character"},
        {"\"Drift" + rest, "line 4: the closing quote of the element name expected"},
        {"Drift" + rest, "line 4: the element name expected, found 'Drift'"},
    };
    for (const auto& c : cases) {
        State state = everyKindRing();
        const std::string before = latticeFileText(state);
        FakeMessages messages;
        EXPECT_FALSE(readLatticeText(state, messages, head + c.record, "bad.lat"));
        ASSERT_EQ(messages.errors.size(), 1u);
        EXPECT_EQ(messages.errors[0], "cannot read lattice file bad.lat, " + c.error);
        EXPECT_EQ(latticeFileText(state), before);
    }
}

TEST(LatticeFile, OpticsRecordsFollowTheGraphMode)
{
    State state = electronAt1GeV();
    state.run.showTrajectory = true;
    state.run.showBeamSize = true;
    const std::vector<std::string> lines = linesOf(latticeFileText(state));
    ASSERT_GE(lines.size(), 5u);
    EXPECT_EQ(lines[3], "10 traj");
    EXPECT_EQ(lines[4].substr(0, 3), "21 ");
    EXPECT_EQ(lines[5].substr(0, 3), "22 ");

    state.run.showTrajectory = false;
    EXPECT_EQ(linesOf(latticeFileText(state))[3], "10 beam");
    state.run.showBeamSize = false;
    state.run.showBetaFunctions = true;
    EXPECT_EQ(linesOf(latticeFileText(state))[3], "10 beta");
}

TEST(LatticeFile, MissingMomentumIsWrittenAs1GeV)
{
    State state = electronAt1GeV();
    state.beam.referenceMomentum = 0;
    const std::vector<std::string> lines = linesOf(latticeFileText(state));
    EXPECT_EQ(lines.back(), "30 0       electron    1 " + exactReal(kElectronRestEnergy / kAtomicMassUnit) +
                                " 511003.4 1e+09");
    EXPECT_EQ(state.beam.referenceMomentum, 1e9);
}

/// A closed ring holding every element kind with awkward values.
State everyKindRing()
{
    State state = electronAt1GeV();
    const int codes[] = {1, 5, 6, 7, 11, 12, 13, 20, 21, 22, 31, 32, 33, 40, 51, 52, 53};
    int i = 0;
    for (const int elementCode : codes) {
        ++i;
        LatticeElement& e = state.line.at(i);
        e.name = "E" + std::to_string(i);
        e.code = elementCode;
        const double f = 1.0 + i / 7.0;
        e.s = i == 1 ? 0.0 : state.line.at(i - 1).s + state.line.at(i - 1).length;
        e.length = 0.314159265358979 * f;
        e.curvature = -0.0271828182845904 * f;
        e.ain = 0.0123456789012345 * f;
        e.aout = -0.00987654321098765 * f;
        e.gap = 0.0333333333333333 * f;
        e.k = -1.41421356237309 * f;
        e.m = 17.3205080756887 * f;
        e.linacField = 1.23456789012345e7 * f;
        e.pumpSpeed = 111.111111111111 * f;
        e.electrodes = 7 + i;
        e.energyGain = 9.87654321098765e5 * f;
        state.line.shape(i) = ElementShape{e.s, e.s + e.length, -61.25 - i, -52.125 + i, {}, {}, {}};
    }
    state.line.count = i;
    state.line.length = state.line.endPosition();
    state.line.superPeriods = 12;
    state.drawScale = 0.753951;
    state.ringClosed = true;
    state.beamCurrent = 0.2345678901234;
    state.rf = RfParameters{};
    state.rf.frequency = 499.654321e6;
    state.rf.voltage = 1.23456789e6;
    state.rf.power = 2.5e5;
    state.rf.cavities = 4;
    state.rf.miscLoss = 0.125;
    updateKinematics(state.beam, EnergyKind::Momentum, 2.5e9);
    state.beam.referenceMomentum = 2.5e9;
    return state;
}

TEST(LatticeFile, RoundTripRestoresEveryElementAndRingRecord)
{
    State written = everyKindRing();
    const std::string text = latticeFileText(written);
    State read = electronAt1GeV();
    FakeMessages messages;
    ASSERT_TRUE(readLatticeText(read, messages, text, "ring.lat"));
    EXPECT_TRUE(messages.errors.empty());

    ASSERT_EQ(read.line.count, written.line.count);
    EXPECT_EQ(read.line.superPeriods, 12);
    EXPECT_TRUE(read.ringClosed);
    expectRelativelyNear(written.line.length, read.line.length, "line length");
    expectRelativelyNear(written.drawScale, read.drawScale, "draw scale");
    expectRelativelyNear(written.beamCurrent, read.beamCurrent, "beam current");
    expectRelativelyNear(written.rf.frequency, read.rf.frequency, "rf frequency");
    expectRelativelyNear(written.rf.voltage, read.rf.voltage, "rf voltage");
    expectRelativelyNear(written.rf.power, read.rf.power, "rf power");
    EXPECT_EQ(read.rf.cavities, 4);
    expectRelativelyNear(written.rf.miscLoss, read.rf.miscLoss, "misc loss");
    expectRelativelyNear(2.5e9, read.beam.referenceMomentum, "momentum");
    for (int i = 1; i <= written.line.count; ++i) {
        const LatticeElement& w = written.line.at(i);
        const LatticeElement& r = read.line.at(i);
        SCOPED_TRACE("element " + std::to_string(i));
        EXPECT_EQ(r.name, w.name);
        EXPECT_EQ(r.code, w.code);
        expectRelativelyNear(w.s, r.s, "s");
        expectRelativelyNear(w.length, r.length, "length");
        expectRelativelyNear(w.curvature, r.curvature, "curvature");
        expectRelativelyNear(w.ain, r.ain, "ain");
        expectRelativelyNear(w.aout, r.aout, "aout");
        expectRelativelyNear(w.gap, r.gap, "gap");
        expectRelativelyNear(w.k, r.k, "k");
        expectRelativelyNear(w.m, r.m, "m");
        expectRelativelyNear(w.linacField, r.linacField, "linacField");
        expectRelativelyNear(w.pumpSpeed, r.pumpSpeed, "pumpSpeed");
        expectRelativelyNear(w.electrodes, r.electrodes, "electrodes");
        expectRelativelyNear(w.energyGain, r.energyGain, "energyGain");
        const ElementShape& shape = written.line.shape(i);
        const DrawingBox& box = read.fileBoxes[static_cast<std::size_t>(i)];
        expectRelativelyNear(shape.x0, box.x0, "X0");
        expectRelativelyNear(shape.x1, box.x1, "X1");
        expectRelativelyNear(shape.y0, box.y0, "Y0");
        expectRelativelyNear(shape.y1, box.y1, "Y1");
    }
}

TEST(LatticeFile, RoundTripRestoresTheOpticsSettings)
{
    State written = electronAt1GeV();
    RunSettings& run = written.run;
    run.showTrajectory = true;
    run.x0 = 1.5;
    run.xp0 = -0.25;
    run.y0 = 0.75;
    run.yp0 = 0.125;
    run.d0 = 0.01;
    run.dp0 = -0.002;
    run.delta = 0.003;
    run.betaX0 = 12.345678901234;
    run.alphaX0 = -1.5;
    run.betaY0 = 3.25;
    run.alphaY0 = 0.5;
    run.epsXIn = 7.5e-9;
    run.epsYIn = 2.5e-11;
    run.etaX0 = 0.4567;
    run.etaPX0 = -0.0123;
    run.stepAtElementEnds = false;
    run.maxStepsBox = 77;
    run.maxStep = 0.025;
    State read = electronAt1GeV();
    FakeMessages messages;
    ASSERT_TRUE(readLatticeText(read, messages, latticeFileText(written), "optics.lat"));
    const RunSettings& r = read.run;
    EXPECT_TRUE(r.showTrajectory);
    EXPECT_FALSE(r.showBeamSize);
    EXPECT_FALSE(r.showBetaFunctions);
    for (auto [w, got] : {std::pair{run.x0, r.x0},
                          {run.xp0, r.xp0},
                          {run.y0, r.y0},
                          {run.yp0, r.yp0},
                          {run.d0, r.d0},
                          {run.dp0, r.dp0},
                          {run.delta, r.delta},
                          {run.betaX0, r.betaX0},
                          {run.alphaX0, r.alphaX0},
                          {run.betaY0, r.betaY0},
                          {run.alphaY0, r.alphaY0},
                          {run.epsXIn, r.epsXIn},
                          {run.epsYIn, r.epsYIn},
                          {run.etaX0, r.etaX0},
                          {run.etaPX0, r.etaPX0}})
        expectRelativelyNear(w, got, "run setting");
    // gamma follows from beta and alpha whatever the file says
    EXPECT_NEAR(r.gammaX0, (1 + 1.5 * 1.5) / r.betaX0, 1e-15);
    EXPECT_FALSE(r.stepAtElementEnds);
    EXPECT_EQ(r.maxSteps, 77);
    EXPECT_EQ(r.maxStepsBox, 77);
    EXPECT_NEAR(r.maxStep, 0.025, 1e-12);
    EXPECT_EQ(read.lf.epsX, r.epsXIn);
}

TEST(LatticeFile, ParticleMassesAfterReading)
{
    State electron = electronAt1GeV();
    State read = electronAt1GeV();
    FakeMessages messages;
    ASSERT_TRUE(readLatticeText(read, messages, latticeFileText(electron), "e.lat"));
    // "%8.3f" writes the electron as 0.001, the padded name brings the exact mass back
    EXPECT_EQ(read.beam.name, "       electron");
    EXPECT_EQ(read.beam.massNumber, kElectronRestEnergy / kAtomicMassUnit);
    EXPECT_NEAR(read.beam.momentum, 1e9, 1e-3);
    EXPECT_NE(latticeFileText(read).find("30 0       electron    1"), std::string::npos);

    State proton = electronAt1GeV();
    selectProton(proton.beam, proton.electron);
    ASSERT_TRUE(readLatticeText(read, messages, latticeFileText(proton, kPreviousLatticeFormat), "p.lat"));
    EXPECT_EQ(read.beam.name, "         proton");
    EXPECT_DOUBLE_EQ(read.beam.massNumber, 1.008);
    EXPECT_DOUBLE_EQ(read.beam.restEnergy, 1.008 * kAtomicMassUnit);
    EXPECT_FALSE(read.beam.isIon);
    // the current version keeps the mass number's every digit
    ASSERT_TRUE(readLatticeText(read, messages, latticeFileText(proton), "p.lat"));
    EXPECT_EQ(read.beam.massNumber, proton.beam.massNumber);
    EXPECT_EQ(read.beam.restEnergy, proton.beam.restEnergy);
}

TEST(LatticeFile, ReaderDispatchesRecordsOfTheCurrentFormat)
{
    State state = electronAt1GeV();
    FakeMessages messages;
    const std::string text = "1003\r\n"
                             "10 beam\r\n"
                             "777 unknown record type costs only its line\r\n"
                             "5 0 0 0.05\r\n"
                             "23 -1 0.5 0 2 0 0\r\n"
                             "10 beta\r\n"
                             "30 1         Carbon    6   12.000 11178019560.000 2.5e9\r\n";
    ASSERT_TRUE(readLatticeText(state, messages, text, "t.lat"));
    EXPECT_TRUE(state.run.showBetaFunctions);
    EXPECT_FALSE(state.run.showBeamSize);
    EXPECT_FALSE(state.run.showTrajectory);
    EXPECT_FALSE(state.run.stepAtElementEnds);
    EXPECT_EQ(state.run.maxSteps, 20);
    EXPECT_DOUBLE_EQ(state.run.maxStep, 0.05);
    EXPECT_EQ(state.run.betaX0, 10.0);
    EXPECT_DOUBLE_EQ(state.run.gammaX0, 1.25 / 10.0);
    EXPECT_DOUBLE_EQ(state.run.gammaY0, 0.5);
    EXPECT_TRUE(state.beam.isIon);
    EXPECT_EQ(state.beam.name, "         Carbon");
    EXPECT_EQ(state.beam.charge, 6);
    EXPECT_DOUBLE_EQ(state.beam.restEnergy, 12 * kAtomicMassUnit);
    EXPECT_DOUBLE_EQ(state.beam.referenceMomentum, 2.5e9);
    EXPECT_TRUE(messages.errors.empty());
}

TEST(LatticeFile, KeywordRecordComparesTheWholeRestOfTheLine)
{
    FakeMessages messages;
    // a keyword with anything around it is no keyword: every show-flag ends cleared
    for (const char* record : {"10 beta \r\n", "10  beta\r\n", "10 BETA\r\n"}) {
        State state = electronAt1GeV();
        state.run.showTrajectory = true;
        ASSERT_TRUE(readLatticeText(state, messages, std::string("1003\r\n") + record, "k.lat")) << record;
        EXPECT_FALSE(state.run.showTrajectory) << record;
        EXPECT_FALSE(state.run.showBeamSize) << record;
        EXPECT_FALSE(state.run.showBetaFunctions) << record;
    }
    State state = electronAt1GeV();
    ASSERT_TRUE(readLatticeText(state, messages, "1003\r\n10 traj\r\n", "k.lat"));
    EXPECT_TRUE(state.run.showTrajectory);
    EXPECT_TRUE(messages.errors.empty());
}

// Version 0: ring flag first, six reals per element, old codes.
const char* const kVersion0 = "0\r\n"
                              "3 1.5 1.0\r\n"
                              "     QF    20 0.0 0.5 0.0 1.2 0.0 0.0\r\n"
                              "0.0 0.5 -60 -52\r\n"
                              "     SD    31 0.5 0.5 0.0 0.0 -4.0 0.0\r\n"
                              "0.5 1.0 -62 -58\r\n"
                              "     BR    11 1.0 0.5 0.2 0.0 0.0 0.0\r\n"
                              "1.0 1.5 -62 -58\r\n"
                              "beta\r\n"
                              "8 0.5 0 4 -0.5 0\r\n"
                              "1e-9 1e-10\r\n"
                              "0.1 0.01\r\n"
                              "0\r\n"
                              "0 5\r\n"
                              "       electron\r\n"
                              "0\r\n"
                              "1 0.000548 511003.4\r\n"
                              "2e9\r\n";

TEST(LatticeFile, Version0RenumbersCodesAndSetsFaceAngles)
{
    State state = electronAt1GeV();
    FakeMessages messages;
    ASSERT_TRUE(readLatticeText(state, messages, kVersion0, "v0.lat")) << messages.errors.at(0);
    ASSERT_EQ(state.line.count, 3);
    EXPECT_FALSE(state.ringClosed);
    EXPECT_EQ(state.line.at(1).name, "QF");
    EXPECT_EQ(state.line.at(1).code, 21);
    EXPECT_DOUBLE_EQ(state.line.at(1).k, 1.2);
    EXPECT_EQ(state.line.at(2).code, 32);
    EXPECT_DOUBLE_EQ(state.line.at(2).m, -4.0);
    EXPECT_EQ(state.line.at(3).code, 11);
    EXPECT_DOUBLE_EQ(state.line.at(3).ain, 0.05);
    EXPECT_DOUBLE_EQ(state.line.at(3).aout, 0.05);
    EXPECT_DOUBLE_EQ(state.fileBoxes[2].y0, -62);
    EXPECT_TRUE(state.run.showBetaFunctions);
    EXPECT_FALSE(state.run.showBeamSize);
    EXPECT_DOUBLE_EQ(state.run.betaX0, 8);
    EXPECT_DOUBLE_EQ(state.run.etaPX0, 0.01);
    // short steps with MaxSteps 0
    EXPECT_FALSE(state.run.stepAtElementEnds);
    EXPECT_EQ(state.run.maxSteps, 200);
    EXPECT_DOUBLE_EQ(state.run.maxStep, 0.05);
    EXPECT_EQ(state.beam.massNumber, kElectronRestEnergy / kAtomicMassUnit);
    EXPECT_DOUBLE_EQ(state.beam.restEnergy, 511003.4);
    EXPECT_DOUBLE_EQ(state.beam.referenceMomentum, 2e9);
    EXPECT_DOUBLE_EQ(state.beam.momentum, 2e9);
}

TEST(LatticeFile, Version0MayEndAfterTheOptics)
{
    State state = electronAt1GeV();
    FakeMessages messages;
    ASSERT_TRUE(readLatticeText(state, messages,
                                "1\r\n2e9 0.3\r\n1 4 0.0 1.0\r\n500e6 1e6 1e5 2 0.1\r\n"
                                "     D      1 0 0 0 0 0 0\r\n0 0 -61 -59\r\n\r\n",
                                "v0ring.lat"));
    EXPECT_TRUE(state.ringClosed);
    EXPECT_EQ(state.line.superPeriods, 4);
    EXPECT_DOUBLE_EQ(state.beamCurrent, 0.3);
    EXPECT_EQ(state.rf.cavities, 2);
    EXPECT_DOUBLE_EQ(state.beam.momentum, 2e9);
    EXPECT_EQ(state.run.maxSteps, 200);
}

TEST(LatticeFile, Versions1And2RenumberCodesAndReadTheirSteps)
{
    const std::string elements = "     QF    20 0 0.5 0 0.01 0.02 0.03 1.2 0 0 1e6";
    const std::string v1 = "1001\r\n0\r\n1 0.5 1\r\n" + elements +
                           "\r\n0 0.5 -60 -52\r\n"
                           "traj\r\n1 2 3 4\r\n0.1 0.2 0.003\r\n0\r\n4.5\r\n"
                           "         Carbon\r\n1\r\n2 12.0 11178019560.0\r\n3e8\r\n";
    State state = electronAt1GeV();
    FakeMessages messages;
    ASSERT_TRUE(readLatticeText(state, messages, v1, "v1.lat")) << messages.errors.at(0);
    EXPECT_EQ(state.line.at(1).code, 21);
    EXPECT_DOUBLE_EQ(state.line.at(1).linacField, 1e6);
    EXPECT_DOUBLE_EQ(state.line.at(1).gap, 0.03);
    EXPECT_TRUE(state.run.showTrajectory);
    EXPECT_DOUBLE_EQ(state.run.yp0, 4);
    EXPECT_DOUBLE_EQ(state.run.delta, 0.003);
    EXPECT_EQ(state.run.maxSteps, 200);
    EXPECT_DOUBLE_EQ(state.run.maxStep, 0.045);
    EXPECT_TRUE(state.beam.isIon);
    EXPECT_EQ(state.beam.charge, 2);
    EXPECT_DOUBLE_EQ(state.beam.restEnergy, 11178019560.0);

    const std::string v2 = "1002\r\n0\r\n1 0.5 1\r\n" + elements +
                           " 11 5e5\r\n0 0.5 -60 -52\r\n"
                           "beam\r\n10 0 0.1 10 0 0.1\r\n1e-6 1e-6\r\n0 0\r\n0\r\n0 2.5\r\n"
                           "         proton\r\n0\r\n1 1.008 938953483.0\r\n1e9\r\n";
    ASSERT_TRUE(readLatticeText(state, messages, v2, "v2.lat")) << messages.errors.at(0);
    EXPECT_EQ(state.line.at(1).code, 21);
    EXPECT_DOUBLE_EQ(state.line.at(1).electrodes, 11);
    EXPECT_DOUBLE_EQ(state.line.at(1).energyGain, 5e5);
    EXPECT_TRUE(state.run.showBeamSize);
    EXPECT_EQ(state.run.maxSteps, 200);
    EXPECT_DOUBLE_EQ(state.run.maxStep, 0.025);
}

/// Everything a read could change, as text.
std::string fingerprint(const State& state)
{
    State copy = state;
    std::string text = latticeFileText(copy);
    for (std::size_t i = 1; i < state.fileBoxes.size(); ++i)
        text += longReal(state.fileBoxes[i].x0);
    return text + state.lastNoDataField + state.beam.name + std::to_string(state.beam.momentum);
}

TEST(LatticeFile, TooManyElementsAreRefusedAndNothingChanges)
{
    State state = everyKindRing();
    const std::string before = fingerprint(state);
    FakeMessages messages;
    EXPECT_FALSE(readLatticeText(state, messages, "1003\r\n1 0\r\n201 1000001 1.0 1.0\r\n", "big.lat"));
    ASSERT_EQ(messages.errors.size(), 1u);
    EXPECT_EQ(messages.errors[0],
              "cannot read lattice file big.lat, line 3: the file holds 1000001 elements, "
              "the beam line has room for 1000000");
    EXPECT_EQ(fingerprint(state), before);
}

TEST(LatticeFile, TextWhereANumberBelongsIsReportedWithItsLine)
{
    State state = everyKindRing();
    const std::string before = fingerprint(state);
    FakeMessages messages;
    EXPECT_FALSE(readLatticeText(state, messages, "1003\r\n1 1\r\n101 2e9 0.1x\r\n", "bad.lat"));
    ASSERT_EQ(messages.errors.size(), 1u);
    EXPECT_EQ(messages.errors[0],
              "cannot read lattice file bad.lat, line 3: the beam current expected, found '0.1x'");
    EXPECT_FALSE(readLatticeText(state, messages, "1003\r\n201 2 1.0 1.0\r\n50 ", "short.lat"));
    EXPECT_EQ(messages.errors[1],
              "cannot read lattice file short.lat, line 3: an element code expected but the "
              "file ends");
    EXPECT_FALSE(readLatticeText(state, messages, "lattice", "words.lat"));
    EXPECT_EQ(messages.errors[2],
              "cannot read lattice file words.lat, line 1: the format number expected, found "
              "'lattice'");
    EXPECT_EQ(fingerprint(state), before);
}

class LatticeFileOnDisk : public ::testing::Test
{
protected:
    void SetUp() override { m_folder = test::freshTestFolder("kestrune-lattice"); }
    void TearDown() override { std::filesystem::remove_all(m_folder); }
    std::string path(const char* name) const { return (m_folder / name).string(); }

    std::filesystem::path m_folder;
};

TEST_F(LatticeFileOnDisk, SaveAndOpenRecordTheNames)
{
    State state = everyKindRing();
    FakeMessages messages;
    ASSERT_TRUE(saveLatticeAs(state, messages, path("ring.lat")));
    EXPECT_EQ(state.lastSavedFile, path("ring.lat"));
    EXPECT_EQ(slurp(path("ring.lat")), latticeFileText(state));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(m_folder), {}), 1)
        << "no temporary file left";

    State opened = electronAt1GeV();
    ASSERT_TRUE(openLattice(opened, messages, path("ring.lat")));
    EXPECT_EQ(opened.lastOpenedFile, path("ring.lat"));
    EXPECT_EQ(opened.line.count, state.line.count);
    EXPECT_EQ(messages.particleRequests, 0);
    EXPECT_TRUE(messages.errors.empty());
}

TEST_F(LatticeFileOnDisk, PreviousVersionRefusesLongNamesAndWritesNothing)
{
    State state = everyKindRing();
    FakeMessages messages;
    ASSERT_TRUE(saveLatticeAs(state, messages, path("short.lat"), kPreviousLatticeFormat));
    EXPECT_EQ(slurp(path("short.lat")).substr(0, 6), "1003\r\n");
    State opened = electronAt1GeV();
    ASSERT_TRUE(openLattice(opened, messages, path("short.lat")));
    EXPECT_EQ(opened.line.at(17).name, "E17");

    state.line.at(3).name = "SEXTUPOLE";
    state.line.at(9).name = "QF_ARC";
    const std::string savedAs = state.lastSavedFile;
    EXPECT_FALSE(saveLatticeAs(state, messages, path("long.lat"), kPreviousLatticeFormat));
    ASSERT_EQ(messages.errors.size(), 1u);
    EXPECT_EQ(messages.errors[0],
              "cannot save " + path("long.lat") +
                  ": the previous lattice file version holds names of at most 5 characters, "
                  "not those of SEXTUPOLE (element 3), QF_ARC (element 9); save it in the "
                  "current version");
    EXPECT_FALSE(std::filesystem::exists(path("long.lat")));
    EXPECT_EQ(state.lastSavedFile, savedAs);
    EXPECT_EQ(state.documentFile, path("short.lat"));

    // a later kind, and a field of the later kinds on an element of the first ones
    state = everyKindRing();
    state.line.at(2).code = code::kMarker;
    state.line.at(8).tilt = 0.01;
    EXPECT_FALSE(saveLatticeAs(state, messages, path("kinds.lat"), kPreviousLatticeFormat));
    EXPECT_EQ(messages.errors.back(),
              "cannot save " + path("kinds.lat") +
                  ": the previous lattice file version holds neither thin multipoles, octupoles, solenoids, "
                  "kickers, monitors, markers and rf cavities nor skew, roll, kick, rf and aperture fields, "
                  "not those of E2 (element 2), E8 (element 8); save it in the current version");
    EXPECT_FALSE(std::filesystem::exists(path("kinds.lat")));
}

TEST_F(LatticeFileOnDisk, MissingFileIsReportedAndTheParticleIsAskedFor)
{
    State state = electronAt1GeV();
    state.beam.momentum = 0;
    FakeMessages messages;
    EXPECT_FALSE(openLattice(state, messages, path("none.lat")));
    ASSERT_EQ(messages.errors.size(), 1u);
    EXPECT_EQ(messages.errors[0],
              "cannot open lattice file " + path("none.lat") + ": No such file or directory");
    EXPECT_EQ(messages.particleRequests, 1);
    EXPECT_TRUE(state.lastOpenedFile.empty());
}

TEST_F(LatticeFileOnDisk, SaveIntoAMissingFolderIsReported)
{
    State state = everyKindRing();
    FakeMessages messages;
    EXPECT_FALSE(writeLatticeFile(state, messages, path("no/such/folder.lat")));
    ASSERT_EQ(messages.errors.size(), 1u);
    EXPECT_EQ(messages.errors[0].rfind("cannot write file " + path("no/such/folder.lat") + ": ", 0), 0u);
}

TEST_F(LatticeFileOnDisk, TheDesignCountsAsChangedExactlyWhenASaveWouldWriteSomethingElse)
{
    struct Change
    {
        const char* what;
        std::function<void(State&)> apply;
        bool stored;
    };
    const std::vector<Change> changes = {
        {"momentum", [](State& s) { updateKinematics(s.beam, EnergyKind::Momentum, 1.234e9); }, true},
        {"superperiods", [](State& s) { s.line.superPeriods += 1; }, true},
        {"rf frequency", [](State& s) { s.rf.frequency *= 1.0001; }, true},
        {"ring opened", [](State& s) { s.ringClosed = false; }, true},
        {"vertical emittance", [](State& s) { s.run.epsYIn = 1e-10; }, true},
        {"step", [](State& s) { s.run.maxStep += 0.01; }, true},
        {"quadrupole", [](State& s) { s.line.at(2).k += 0.001; }, true},
        {"results", [](State& s) { s.ringParams.circumference += 1; }, false},
        {"list title", [](State& s) { s.listing.title += "x"; }, false},
    };
    FakeMessages messages;
    for (const Change& change : changes) {
        SCOPED_TRACE(change.what);
        State state = everyKindRing();
        ASSERT_TRUE(state.ringClosed);
        ASSERT_TRUE(saveLatticeAs(state, messages, path("ring.lat")));
        EXPECT_EQ(state.documentFile, path("ring.lat"));
        EXPECT_EQ(state.savedDesign.file, path("ring.lat"));
        EXPECT_FALSE(designModified(state));
        change.apply(state);
        EXPECT_EQ(designModified(state), change.stored);
        EXPECT_EQ(saveChangesQuestion(state), "Save changes to ring.lat?");
    }

    // a design never in a file has the unsaved changes of its history; an import has no file yet
    State fresh;
    EXPECT_FALSE(designModified(fresh));
    EXPECT_EQ(saveChangesQuestion(fresh), "Save changes to untitled?");
    fresh.history.absorb(fresh);
    fresh.line.superPeriods = 3;
    ASSERT_TRUE(fresh.history.commit(fresh, "superperiods"));
    EXPECT_TRUE(designModified(fresh));
    markDesignUnsaved(fresh, "");
    fresh.history.undo(fresh);
    EXPECT_TRUE(designModified(fresh));
}

} // namespace
} // namespace kestrune
