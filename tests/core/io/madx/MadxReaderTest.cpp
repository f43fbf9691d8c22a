#include "core/io/madx/MadxReader.h"

#include "core/Format.h"
#include "core/Kinematics.h"
#include "core/io/madx/MadxImported.h"
#include "core/optics/BetaFunctions.h"
#include "support/FakeMessages.h"
#include "support/TestFolder.h"

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <set>

namespace kestrune {
namespace {

using test::FakeMessages;

using test::import;
using test::Imported;

// Imports a one-element line and returns the element.
LatticeElement only(const std::string& definitions, const std::string& element = "x")
{
    const auto r = import(definitions + "\nbl: line=(" + element + ");\nuse, period=bl;\n");
    EXPECT_TRUE(r->ok) << (r->messages.errors.empty() ? "" : r->messages.errors.front());
    EXPECT_EQ(r->state.line.count, 1);
    return r->state.line.count >= 1 ? r->state.line.at(1) : LatticeElement{};
}

std::vector<std::string> names(const State& state)
{
    std::vector<std::string> out;
    for (int i = 1; i <= state.line.count; ++i)
        out.push_back(state.line.at(i).name);
    return out;
}

// Values typed with 17 digits or reached by a few operations: a few units in the last place.
constexpr double kTight = 1e-14;

TEST(MadxExpressions, OperatorsPrecedenceAndUnarySigns)
{
    EXPECT_DOUBLE_EQ(only("a = 2; b = a^2 + 3*(1+1) - -1; x: quadrupole, l=1, k1=b;").k, 11.0);
    EXPECT_DOUBLE_EQ(only("x: quadrupole, l=1, k1=-2^2;").k, -4.0);
    EXPECT_DOUBLE_EQ(only("x: quadrupole, l=1, k1=2^3^2;").k, 512.0);
    EXPECT_DOUBLE_EQ(only("x: quadrupole, l=1, k1=+(1-3)*-(2);").k, 4.0);
    // an integer-looking division is a real division
    EXPECT_NEAR(only("x: quadrupole, l=1, k1=1/3*0.2;").k, 0.2 / 3, kTight);
}

TEST(MadxExpressions, FunctionsAndConstants)
{
    const double k = only("x: quadrupole, l=1, k1=sqrt(16) + abs(-2) + exp(0) + log(e) + sin(0) + cos(0) + "
                          "tan(0) + asin(0) + acos(1) + atan(0);")
                         .k;
    EXPECT_NEAR(k, 4 + 2 + 1 + 1 + 1, kTight);
    EXPECT_NEAR(only("x: quadrupole, l=1, k1=pi + twopi;").k, 3 * M_PI, kTight);
    EXPECT_NEAR(only("x: quadrupole, l=1, k1=degrad*raddeg;").k, 1.0, kTight);
    EXPECT_NEAR(only("x: quadrupole, l=1, k1=clight/1e8;").k, 2.99792458, kTight);
    EXPECT_NEAR(only("x: quadrupole, l=1, k1=pmass/emass;").k, 1836.15267, 1e-5);
}

TEST(MadxExpressions, FortranExponentsAndDottedNames)
{
    EXPECT_NEAR(only("kq.1 = 2.2D0 + .43E+01 + 1.d-1; x: quadrupole, l=1, k1=kq.1;").k, 6.6, kTight);
    EXPECT_NEAR(only("q.f.1: quadrupole, l=1E-00, k1=1.5e0;", "q.f.1").length, 1.0, kTight);
}

TEST(MadxExpressions, UnknownFunctionIsRefusedWithItsLine)
{
    // a definition is refused where the beam line uses it, with the line of the definition
    const auto r = import("a = 1;\nb = foo(2);\nq: quadrupole, l=1, k1=b;\nbl: line=(q);\n");
    EXPECT_FALSE(r->ok);
    ASSERT_EQ(r->messages.errors.size(), 1u);
    EXPECT_EQ(r->messages.errors[0],
              "cannot import MAD-X file test.madx, line 2: unknown function 'foo' (in the definition of b)");
}

TEST(MadxVariables, DeferredValuesAreEvaluatedAfterTheWholeInput)
{
    // := follows the last value of what it refers to, = takes the value at its definition
    const auto r = import("k0 = 1; kd := 2*k0; ki = 2*k0;\n"
                          "qd: quadrupole, l=1, k1:=kd;\n"
                          "qi: quadrupole, l=1, k1=ki;\n"
                          "qn: quadrupole, l=1, k1=2*k0;\n"
                          "bl: line=(qd, qi, qn);\n"
                          "k0 = 3;\n");
    ASSERT_TRUE(r->ok);
    EXPECT_DOUBLE_EQ(r->state.line.at(1).k, 6.0);
    EXPECT_DOUBLE_EQ(r->state.line.at(2).k, 2.0);
    EXPECT_DOUBLE_EQ(r->state.line.at(3).k, 2.0);
}

TEST(MadxVariables, UndefinedNamesAreZeroAndReported)
{
    const auto r = import("x: quadrupole, l=1, k1:=kqf; y: drift, l=1; bl: line=(y, x);");
    ASSERT_TRUE(r->ok);
    EXPECT_DOUBLE_EQ(r->state.line.at(2).k, 0.0);
    ASSERT_EQ(r->summary.undefined.size(), 1u);
    EXPECT_EQ(r->summary.undefined[0], "kqf");
}

TEST(MadxVariables, ConstAndRealDeclarationsAndAttributeReferences)
{
    const auto r = import("real const lq = 0.5; const ang = 0.1;\n"
                          "q: quadrupole, l=lq, k1=1;\n"
                          "d3e: drift, l=1;\n"
                          "d3e->l = 0.25;\n"
                          "l_id = 3;\n"
                          "did: drift, l:=l_id - q->l;\n"
                          "bl: line=(q, d3e, did);\n");
    ASSERT_TRUE(r->ok);
    EXPECT_DOUBLE_EQ(r->state.line.at(1).length, 0.5);
    EXPECT_DOUBLE_EQ(r->state.line.at(2).length, 0.25);
    EXPECT_DOUBLE_EQ(r->state.line.at(3).length, 2.5);
}

TEST(MadxVariables, CircularDeferredDefinitionIsRefused)
{
    const auto r = import("a := b; b := a + 1; x: quadrupole, l=1, k1:=a; bl: line=(x);");
    EXPECT_FALSE(r->ok);
    ASSERT_EQ(r->messages.errors.size(), 1u);
    EXPECT_NE(r->messages.errors[0].find("refers to itself"), std::string::npos) << r->messages.errors[0];
}

TEST(MadxStatements, CommentsContinuationsAndCase)
{
    const auto r = import("/* a block\n comment; with a semicolon */\n"
                          "QF: QUADRUPOLE, L=0.5, & ! an old continuation mark\n"
                          "   K1=1.5; // the rest of the line\n"
                          "BL: LINE=(qf);\n"
                          "Use, Period=bl;\n");
    ASSERT_TRUE(r->ok);
    EXPECT_EQ(names(r->state), std::vector<std::string>{"QF"});
    EXPECT_DOUBLE_EQ(r->state.line.at(1).k, 1.5);
}

TEST(MadxStatements, OtherCommandsAreSkipped)
{
    const auto r = import("title, 'x'; q: quadrupole, l=1, k1=1; bl: line=(q); use, period=bl;\n"
                          "select, flag=twiss, column=name,s,betx; twiss, file='x.tfs';\n"
                          "emit; plot, haxis=s, vaxis=betx; write, table=twiss; frobnicate, x=1; stop;\n"
                          "this is not read at all");
    ASSERT_TRUE(r->ok) << r->messages.errors[0];
    EXPECT_EQ(r->state.line.count, 1);
    EXPECT_EQ(r->summary.skipped, std::vector<std::string>{"frobnicate"});
}

TEST(MadxElements, InheritanceCopiesAndOverrides)
{
    const auto r = import("qf: quadrupole, l=0.5, k1=1; qf1: qf, k1:=kqf1; kqf1 = 2; bl: line=(qf, qf1);");
    ASSERT_TRUE(r->ok);
    EXPECT_DOUBLE_EQ(r->state.line.at(1).k, 1.0);
    EXPECT_DOUBLE_EQ(r->state.line.at(2).length, 0.5);
    EXPECT_DOUBLE_EQ(r->state.line.at(2).k, 2.0);
}

TEST(MadxElements, LastDefinitionBeforeUseHolds)
{
    const auto r =
        import("x: quadrupole, l=1, k1=1; x: drift, l=2; y: marker; y: line=(x, x); use, period=y;");
    ASSERT_TRUE(r->ok);
    ASSERT_EQ(r->state.line.count, 2);
    EXPECT_EQ(r->state.line.at(1).code, code::kDrift);
    EXPECT_DOUBLE_EQ(r->state.line.length, 4.0);
}

TEST(MadxElements, ElementsNamedLikeAttributesAndUnusedAttributes)
{
    const auto r =
        import("k1: kicker, l=0.1, kick=0.001; l: drift, l=1;\n"
               "q: quadrupole, l=1, k1=2, type=mq, apertype=ellipse, aperture={0.03, 0.02}, thick;\n"
               "b: rbend, l=1, angle=0.1, true_rbend, -thick, harmon=4, volt=1;\n"
               "bl: line=(k1, l, q, b);");
    ASSERT_TRUE(r->ok) << r->messages.errors[0];
    EXPECT_EQ(names(r->state), (std::vector<std::string>{"k1", "l", "q", "b"}));
    EXPECT_DOUBLE_EQ(r->state.line.at(3).k, 2.0);
}

TEST(MadxElements, NamesAreKeptWholeAsWritten)
{
    const auto r = import("Quadrupole.F1: quadrupole, l=1, k1=1; QUADRUPOLE.f2: quadrupole, l=1, k1=-1;"
                          "bl: line=(quadrupole.f1, quadrupole.F2);");
    ASSERT_TRUE(r->ok);
    EXPECT_EQ(names(r->state), (std::vector<std::string>{"Quadrupole.F1", "QUADRUPOLE.f2"}));
    EXPECT_DOUBLE_EQ(r->state.line.at(2).s, 1.0); // the positions keep them apart
}

TEST(MadxLines, RepetitionReflectionNestingAndPlusSeparators)
{
    const auto r = import("a: drift, l=1; b: quadrupole, l=0.5, k1=1; c: sextupole, l=0.2, k2=3;\n"
                          "sub: line=(a, b);\n"
                          "ring: line=(2*sub + -(a, b, c), c, -sub, 2*(c));\n"
                          "use, period=ring;");
    ASSERT_TRUE(r->ok);
    EXPECT_EQ(names(r->state),
              (std::vector<std::string>{"a", "b", "a", "b", "c", "b", "a", "c", "b", "a", "c", "c"}));
    EXPECT_NEAR(r->state.line.length, 4 * 1.0 + 4 * 0.5 + 4 * 0.2, kTight);
}

TEST(MadxLines, WithoutUseTheLastLineIsTheBeamLine)
{
    const auto r = import("a: drift, l=1; first: line=(a); second: line=(a, a, a);");
    ASSERT_TRUE(r->ok);
    EXPECT_EQ(r->state.line.count, 3);
    EXPECT_EQ(r->summary.beamLine, "second");
}

std::string sequenceWithRefer(const std::string& refer, double at)
{
    return "q: quadrupole, l=0.5, k1=1; m: marker;\n"
           "s: sequence, l=4, refer=" +
           refer + ";\nq, at=" + std::to_string(at) + ";\nm, at=3;\nendsequence;\nuse, sequence=s;\n";
}

TEST(MadxSequences, EveryReferPointGivesTheSamePlacement)
{
    // the quadrupole spans 1.0 .. 1.5 in all three
    for (const auto& [refer, at] :
         {std::pair<std::string, double>{"entry", 1.0}, {"centre", 1.25}, {"exit", 1.5}}) {
        const auto r = import(sequenceWithRefer(refer, at));
        ASSERT_TRUE(r->ok) << refer;
        ASSERT_EQ(r->state.line.count, 5) << refer; // drift, quadrupole, drift, marker, drift
        EXPECT_NEAR(r->state.line.at(1).length, 1.0, kTight) << refer;
        EXPECT_EQ(r->state.line.at(2).code, code::kQuadrupole);
        EXPECT_NEAR(r->state.line.at(2).s, 1.0, kTight) << refer;
        EXPECT_NEAR(r->state.line.at(3).length, 1.5, kTight) << refer;
        EXPECT_EQ(r->state.line.at(4).code, code::kMarker);
        EXPECT_NEAR(r->state.line.at(5).length, 1.0, kTight) << refer;
    }
}

TEST(MadxSequences, DefaultReferIsCentre)
{
    const auto r = import("q: quadrupole, l=1, k1=1; s: sequence, l=3; q, at=1; endsequence;");
    ASSERT_TRUE(r->ok);
    EXPECT_NEAR(r->state.line.at(2).s, 0.5, kTight);
}

TEST(MadxSequences, FromLabelsWithoutCommasAndRoundingOverlaps)
{
    // from= names an element placed later; a label equal to its class; a placement without a comma;
    // markers that overlap their neighbours by rounding
    const auto r = import("qf.1: quadrupole, l=0.4, k1=1;\n"
                          "ring: sequence, l=10, refer=centre;\n"
                          "qd: quadrupole, l=0.4, k1=-1, at=-2, from=mid;\n"
                          "qf.1: qf.1, at=2;\n"
                          "mk: marker, at=2.2 + 1e-10;\n"
                          "mid: marker, at=5;\n"
                          "end: marker at=10;\n"
                          "endsequence;\n");
    ASSERT_TRUE(r->ok) << r->messages.errors[0];
    EXPECT_EQ(names(r->state), (std::vector<std::string>{"DRIFT", "qf.1", "mk", "DRIFT", "qd", "DRIFT", "mid",
                                                         "DRIFT", "end"}));
    EXPECT_NEAR(r->state.line.at(5).s, 2.8, 1e-9);
    EXPECT_NEAR(r->state.line.length, 10, kTight);
}

TEST(MadxSequences, NestedSharedSequenceWithRefposIsPlacedAsOneNode)
{
    const auto r = import("q: quadrupole, l=0.5, k1=1; b: sbend, l=1, angle=0.1;\n"
                          "shared arc: sequence, l=3, refer=entry, refpos=arcmid;\n"
                          "q, at=0; arcmid: marker, at=1.5; b, at=2;\n"
                          "endsequence;\n"
                          "other: sequence, l=1; endsequence;\n"
                          "ring: sequence, l=10, refer=entry;\n"
                          "arc, at=4;\n" // arcmid sits at 4: the arc starts at 2.5
                          "endsequence;\n"
                          "use, sequence=ring;\n");
    ASSERT_TRUE(r->ok) << r->messages.errors[0];
    EXPECT_EQ(names(r->state),
              (std::vector<std::string>{"DRIFT", "q", "DRIFT", "arcmid", "DRIFT", "b", "DRIFT"}));
    EXPECT_NEAR(r->state.line.at(2).s, 2.5, kTight);
    EXPECT_NEAR(r->state.line.at(6).s, 4.5, kTight);
    EXPECT_NEAR(r->state.line.at(7).length, 4.5, kTight);
}

TEST(MadxSequences, OverlappingElementsAreRefused)
{
    const auto r = import("q: quadrupole, l=1, k1=1;\ns: sequence, l=5;\nq, at=1;\nq, at=1.5;\nendsequence;");
    EXPECT_FALSE(r->ok);
    ASSERT_EQ(r->messages.errors.size(), 1u);
    EXPECT_EQ(r->messages.errors[0], "cannot import MAD-X file test.madx, line 4: negative drift: q starts "
                                     "at 1 m, before q ends at 1.5 m");
}

TEST(MadxSequences, PlacementAttributesAreReadAsMadxReadsThem)
{
    // MAD-X takes the permanent misalignments at a placement as the node's, changes an element with
    // `NAME, attribute=value;` outside a sequence, and leaves other attributes at a placement alone
    const std::string head = "qf: quadrupole, l=0.5, k1=0.5;\nqd: quadrupole, l=0.5, k1=-0.5;\n"
                             "s: sequence, l=6;\n";
    const auto kept = import(head + "qf, at=1;\nqd, at=3, k1=-0.6;\nendsequence;\nqf, k1=0.7;");
    ASSERT_TRUE(kept->ok) << kept->messages.errors[0];
    EXPECT_DOUBLE_EQ(kept->state.line.at(2).k, 0.7);
    EXPECT_DOUBLE_EQ(kept->state.line.at(4).k, -0.5);
    EXPECT_EQ(madxImportReport(kept->summary).back(),
              "attributes at a placement, which MAD-X ignores as well: qd (k1)");
    const auto misaligned = import(head + "qf, at=1;\nqd, at=3, dpsi:=roll;\nendsequence;\nroll = 0.01;");
    ASSERT_TRUE(misaligned->ok) << misaligned->messages.errors[0];
    EXPECT_EQ(misaligned->state.line.at(4).errors.dpsi, 0.01);
    EXPECT_FALSE(misaligned->state.line.at(2).errors.any());
    const struct
    {
        std::string text;
        std::string message;
    } refused[] = {
        {"b: sbend, l=1, angle=0.1, k2=0.3;\nbl: line=(b);",
         "a bending magnet with a sextupole component k2 is not supported (b (sbend))"},
        {head + "qf, at=1;\nendsequence;\nmatch, sequence=s;\nvary, name=qf->k1;\nendmatch;",
         "line 6: matching (match ... endmatch) is not supported"},
    };
    for (const auto& c : refused) {
        const auto r = import(c.text);
        EXPECT_FALSE(r->ok) << c.message;
        ASSERT_EQ(r->messages.errors.size(), 1u) << c.message;
        EXPECT_NE(r->messages.errors[0].find(c.message), std::string::npos) << r->messages.errors[0];
    }
}

TEST(MadxSequences, ElementsChangedAfterTheSequenceGiveMadxTunes)
{
    // Rings written as SLS 2.0's: the sequence places bends without angle or gradient, and statements after
    // it give them (combined-function bends with pole faces, reverse bends with gradients). Eight cells
    // qf, rb, b, rb, qf; the tunes of MAD-X 5 (twiss) on the same input: 2.915849006478109,
    // 1.642929017604638; its chromatic functions (twiss without chrom) -2.030725630, -6.919470158.
    const double reverse = -0.02, angle = 2 * M_PI / 8 - 2 * reverse;
    std::string text =
        "beam, particle=electron, energy=1;\nkf=1.5; kb=-0.4; kr=1.0;\nqf: quadrupole, l=0.3;\n"
        "b: sbend, l=1.2;\nrb: sbend, l=0.2;\nring: sequence, l=35.2, refer=entry;\n";
    std::string updates;
    const auto bend = [](const std::string& name, double a) {
        return name + ", angle=" + fmt("%.17g", a) + ", k1:=" + (name[0] == 'b' ? "kb" : "kr") +
               ", e1=" + fmt("%.17g", a / 2) + ", e2=" + fmt("%.17g", a / 2) + ";\n";
    };
    for (int c = 0; c < 8; ++c) {
        const std::string n = std::to_string(c);
        const double s0 = 4.4 * c;
        text += "qf" + n + ": qf, at=" + fmt("%.1f", s0 + 0.2) + ";\nra" + n +
                ": rb, at=" + fmt("%.1f", s0 + 0.8) + ";\nb" + n + ": b, at=" + fmt("%.1f", s0 + 1.3) +
                ";\nrz" + n + ": rb, at=" + fmt("%.1f", s0 + 2.8) + ";\nqg" + n +
                ": qf, at=" + fmt("%.1f", s0 + 3.6) + ";\n";
        updates += bend("b" + n, angle) + bend("ra" + n, reverse) + bend("rz" + n, reverse) + "qf" + n +
                   ", k1:=kf;\nqg" + n + ", k1:=kf;\n";
    }
    const auto r = import(text + "endsequence;\n" + updates);
    ASSERT_TRUE(r->ok) << r->messages.errors[0];
    EXPECT_TRUE(r->state.ringClosed);
    ASSERT_TRUE(betaFunctions(r->state, r->messages, nullptr));
    EXPECT_NEAR(r->state.lf.tuneX, 2.915849006478109, 1e-10);
    EXPECT_NEAR(r->state.lf.tuneY, 1.642929017604638, 1e-10);
}

TEST(MadxFiles, CallIsRelativeToTheCallingFile)
{
    namespace fs = std::filesystem;
    const fs::path dir = test::freshTestFolder("kestrune-madx-call");
    fs::create_directories(dir / "optics");
    std::ofstream(dir / "optics" / "strengths.str") << "kqf = 1.25;\ncall, file=\"Elements.ele\";\n";
    std::ofstream(dir / "optics" / "Elements.ele")
        << "qf: quadrupole, l=0.5, k1:=kqf;\nreturn;\nqf: drift;\n";
    std::ofstream(dir / "ring.madx") << "call, file='optics/strengths.str';\nbl: line=(qf);\n"
                                        "use, period=bl, range=#s/#e;\n";
    State state;
    startParticle(state);
    FakeMessages messages;
    ASSERT_TRUE(readMadxFile(state, messages, (dir / "ring.madx").string()));
    EXPECT_DOUBLE_EQ(state.line.at(1).k, 1.25);

    std::ofstream(dir / "optics" / "Elements.ele") << "qf: quadrupole, l=0.5, k1:=kqf;\nqs: beambeam;\n"
                                                      "bl: line=(qf, qs);\n";
    std::ofstream(dir / "ring.madx") << "call, file='optics/strengths.str';\n";
    EXPECT_FALSE(readMadxFile(state, messages, (dir / "ring.madx").string()));
    ASSERT_EQ(messages.errors.size(), 1u);
    EXPECT_EQ(messages.errors[0], "cannot import MAD-X file " + (dir / "ring.madx").string() + ": file " +
                                      (dir / "optics" / "Elements.ele").string() +
                                      ", line 2: the class beambeam is not supported (qs (beambeam))");
    fs::remove_all(dir);
}

TEST(MadxMapping, RectangularBendArcLengthFollowsRbarc)
{
    const double angle = 0.3;
    const double chord = 2.0;
    const LatticeElement b = only("x: rbend, l=2, angle=0.3;");
    const double arc = chord * (angle / 2) / std::sin(angle / 2);
    EXPECT_EQ(b.code, code::kRectangularBend);
    EXPECT_NEAR(b.length, arc, kTight);
    EXPECT_NEAR(b.curvature * b.length, angle, kTight);
    EXPECT_NEAR(b.ain, angle / 2, kTight);
    EXPECT_NEAR(b.aout, angle / 2, kTight);

    const LatticeElement arcLength = only("option, rbarc=false; x: rbend, l=2, angle=0.3;");
    EXPECT_NEAR(arcLength.length, 2.0, kTight);
    const LatticeElement flag = only("option, -rbarc; x: rbend, l=2, angle=0.3;");
    EXPECT_NEAR(flag.length, 2.0, kTight);
}

TEST(MadxMapping, PoleFacesMakeWedgeBends)
{
    const LatticeElement r = only("x: rbend, l=1, angle=0.2, e1=0.05, e2=-0.01, k1=-0.3;");
    EXPECT_EQ(r.code, code::kWedgeBend);
    EXPECT_NEAR(r.ain, 0.15, kTight);
    EXPECT_NEAR(r.aout, 0.09, kTight);
    EXPECT_DOUBLE_EQ(r.k, -0.3);

    const LatticeElement sector = only("x: sbend, l=2, angle=0.2, k1=0.1;");
    EXPECT_EQ(sector.code, code::kSectorBend);
    EXPECT_NEAR(sector.curvature, 0.1, kTight);
    const LatticeElement wedge = only("x: sbend, l=2, angle=0.2, e1=0.1, e2=0.05;");
    EXPECT_EQ(wedge.code, code::kWedgeBend);
    EXPECT_DOUBLE_EQ(wedge.ain, 0.1);
    EXPECT_DOUBLE_EQ(wedge.aout, 0.05);
}

TEST(MadxMapping, GapFollowsTheEdgeMatrixFringeTerm)
{
    // faces: G = 6 hgap fint makes h^2 G / 3 equal MAD-X's 2 h^2 hgap fint
    EXPECT_NEAR(only("x: rbend, l=1, angle=0.1, hgap=0.02, fint=0.5;").gap, 0.06, kTight);
    EXPECT_NEAR(only("x: rbend, l=1, angle=0.1, hgap=0.02, fint;").gap, 0.06, kTight); // a bare fint is 0.5
    EXPECT_DOUBLE_EQ(only("x: rbend, l=1, angle=0.1, hgap=0.02;").gap, 0.0);           // hard edge
    // a sector magnet has no faces in the program: it keeps its full gap
    const LatticeElement sector = only("x: sbend, l=1, angle=0.1, hgap=0.02;");
    EXPECT_EQ(sector.code, code::kSectorBend);
    EXPECT_NEAR(sector.gap, 0.04, kTight);
    // but a fringe field needs the faces
    const LatticeElement fringe = only("x: sbend, l=1, angle=0.1, hgap=0.02, fint=0.4;");
    EXPECT_EQ(fringe.code, code::kWedgeBend);
    EXPECT_NEAR(fringe.gap, 0.048, kTight);
    // FINTX defaults to FINT, a negative one too
    EXPECT_NEAR(only("x: sbend, l=1, angle=0.1, hgap=0.02, fint=0.4, fintx=-1;").gap, 0.048, kTight);
    EXPECT_NEAR(only("x: sbend, l=1, angle=0.1, hgap=0.02, fint=0.4, fintx=0.4;").gap, 0.048, kTight);
}

TEST(MadxMapping, DifferentEntranceAndExitFringeFieldsTakeTheirMeanAndSaySo)
{
    const auto r = import("x: sbend, l=1, angle=0.1, e1=0.05, hgap=0.02, fint=0.5, fintx=0;\n"
                          "y: sbend, l=1, angle=0.1, e1=0.05, hgap=0.02, fint=0.5;\nbl: line=(x, y);");
    ASSERT_TRUE(r->ok) << r->messages.errors[0];
    EXPECT_NEAR(r->state.line.at(1).gap, 0.03, kTight);
    EXPECT_NEAR(r->state.line.at(2).gap, 0.06, kTight);
    EXPECT_EQ(r->summary.meanGaps, std::vector<std::string>{"x"});
    const std::vector<std::string> report = madxImportReport(r->summary);
    EXPECT_EQ(report.back(), "one fringe field for both faces, the mean of FINT and FINTX: x");
}

TEST(MadxMapping, FieldK0ApartFromTheAngleIsRefused)
{
    EXPECT_NEAR(only("x: sbend, l=2, angle=0.1, k0=0.05;").curvature, 0.05, kTight);
    const auto r = import("x: sbend, l=2, angle=0.1, k0=0.06;\nbl: line=(x);");
    EXPECT_FALSE(r->ok);
    ASSERT_EQ(r->messages.errors.size(), 1u);
    EXPECT_NE(
        r->messages.errors[0].find("a bending magnet whose field k0 differs from angle/l is not supported"),
        std::string::npos);
}

TEST(MadxMapping, SextupoleFamiliesBySign)
{
    const LatticeElement sf = only("x: sextupole, l=0.2, k2=25;");
    EXPECT_EQ(sf.code, code::kSextupoleF);
    EXPECT_DOUBLE_EQ(sf.m, 25.0);
    const LatticeElement sd = only("x: sextupole, l=0.2, k2=-30;");
    EXPECT_EQ(sd.code, code::kSextupoleD);
    EXPECT_DOUBLE_EQ(sd.m, -30.0);
    EXPECT_EQ(only("x: sextupole, l=0.2, k2=-3, type=\"special\";").code, code::kSextupoleSpecial);
}

// The code, the length and every field of the later kinds that is set, as "code l=.. key=..".
std::string fieldsOf(const LatticeElement& e)
{
    std::string text = std::to_string(e.code) + " l=" + fmt("%.12g", e.length);
    const auto add = [&](const char* key, double v) {
        if (v != 0)
            text += std::string(" ") + key + "=" + fmt("%.12g", v);
    };
    for (std::size_t n = 0; n < e.knl.size(); ++n)
        text += " knl" + std::to_string(n) + "=" + fmt("%.12g", e.knl[n]);
    for (std::size_t n = 0; n < e.ksl.size(); ++n)
        add(("ksl" + std::to_string(n)).c_str(), e.ksl[n]);
    const std::pair<const char*, double> fields[] = {{"k", e.k},
                                                     {"k3", e.k3},
                                                     {"k1s", e.k1s},
                                                     {"ks", e.ks},
                                                     {"tilt", e.tilt},
                                                     {"hkick", e.hkick},
                                                     {"vkick", e.vkick},
                                                     {"V", e.voltage},
                                                     {"lag", e.lag},
                                                     {"h", e.harmonic},
                                                     {"f", e.frequency},
                                                     {"a0", e.aperture.a[0]},
                                                     {"a1", e.aperture.a[1]},
                                                     {"a2", e.aperture.a[2]},
                                                     {"a3", e.aperture.a[3]},
                                                     {"dx", e.aperture.dx},
                                                     {"dy", e.aperture.dy}};
    for (const auto& [key, v] : fields)
        add(key, v);
    return text + (e.aperture.type != ApertureType::None
                       ? " type=" + std::to_string(static_cast<int>(e.aperture.type))
                       : "");
}

TEST(MadxMapping, EveryKindIsKeptWithItsNameAndFields)
{
    const auto r = import(test::kEveryKind);
    ASSERT_TRUE(r->ok) << r->messages.errors[0];
    const char* const rows[] = {"83 l=0.1",
                                "81 l=0",
                                "82 l=0.05",
                                "70 l=0.2 hkick=0.001",
                                "71 l=0 tilt=0.1 vkick=-0.0002",
                                "72 l=0 hkick=1e-05 vkick=2e-05",
                                "83 l=0.3",
                                "90 l=0.5 V=1500000 lag=0.75 h=400",
                                "90 l=0 V=200000 f=352200000",
                                "1 l=0.3 a0=0.03 a1=0.02 type=2",
                                "80 l=0",
                                "80 l=0 a0=0.03 a1=0.02 a2=0.025 a3=0.025 dx=0.001 dy=-0.002 type=4",
                                "60 l=0 knl0=0 knl1=0 knl2=0 knl3=0",
                                "60 l=0 knl0=0 knl1=0",
                                "61 l=0.2 k3=-50",
                                "60 l=0 knl0=0 knl1=0.5 knl2=0 knl3=12 ksl2=0.1",
                                "62 l=1 ks=0.3 a0=0.05 a1=0.04 type=3",
                                "20 l=0.4 k=1 k1s=0.05 tilt=0.01 a0=0.04 type=1"};
    ASSERT_EQ(r->state.line.count, static_cast<int>(std::size(rows)));
    for (int i = 1; i <= r->state.line.count; ++i)
        EXPECT_EQ(fieldsOf(r->state.line.at(i)), rows[i - 1]) << r->state.line.at(i).name;
    EXPECT_EQ(madxImportReport(r->summary),
              (std::vector<std::string>{
                  "beam line bl: 18 elements", "turned into drifts: 1 rcollimator",
                  "kept as markers (zero length): 1 placeholder",
                  "of length 0, without effect as in MAD-X (k l = 0): 1 octupole, 1 quadrupole"}));
}

// SROTATIONs turn the frame of what lies between them: the magnets there are rolled by the angle on top of
// their own TILT (MAD-X's TWISS gives the same R11..R22 for both lines, 0.2113644063 at the start of a FODO
// cell with QD between rotations of 0.1); a frame that does not turn back is refused, naming the rotation.
TEST(MadxMapping, RotationsOfTheFrameRollTheMagnetsBetweenThem)
{
    const auto r = import("q: quadrupole, l=0.4, k1=0.9, tilt=0.02; k: hkicker, kick=1e-5; d: drift, l=1;\n"
                          "r1: srotation, angle=0.1; r2: srotation, angle=-0.1;\n"
                          "bl: line=(q, r1, d, q, k, r2, q);");
    ASSERT_TRUE(r->ok) << r->messages.errors[0];
    const double tilts[] = {0.02, 0, 0.12, 0.1, 0.02};
    ASSERT_EQ(r->state.line.count, 5);
    for (int i = 1; i <= 5; ++i)
        EXPECT_NEAR(r->state.line.at(i).tilt, tilts[i - 1], kTight) << i;
    const auto open = import("q: quadrupole, l=0.4, k1=0.9; r1: srotation, angle=0.1;\nbl: line=(r1, q);");
    EXPECT_FALSE(open->ok);
    ASSERT_EQ(open->messages.errors.size(), 1u);
    EXPECT_NE(open->messages.errors[0].find("turn the frame by 0.1 rad in all"), std::string::npos)
        << open->messages.errors[0];
    EXPECT_NE(open->messages.errors[0].find("r1 (srotation)"), std::string::npos);
}

// A ring of 95 FODO cells of 10 m carrying its correctors as real rings do: a horizontal kicker of 0.2 m
// and a thin vertical one in every cell (190), two thin monitors in 85 of them (170) and a cavity in the
// first. With their kicks at 0 they are drifts of their length to the optics.
std::string correctorRing(bool correctors)
{
    std::string text = "beam, particle=electron, energy=3;\n"
                       "qf: quadrupole, l=0.4, k1=0.6; qd: quadrupole, l=0.4, k1=-0.6;\n"
                       "b: sbend, l=3, angle=2*pi/190; hk: hkicker, l=0.2, kick=0; vk: vkicker, kick:=0;\n"
                       "bpm: monitor; cav: rfcavity, l=0.4, volt=1.2, harmon=1584;\n"
                       "ring: sequence, l=950;\n";
    for (int c = 0; c < 95; ++c) {
        const std::string n = std::to_string(c + 1);
        const auto at = [&](double s) { return ", at=" + std::to_string(10 * c + s) + ";\n"; };
        text += "qf" + at(0.2) + "b" + at(2.7) + "qd" + at(5.2) + "b" + at(7.7);
        if (correctors)
            text += "mcbh.arc." + n + ": hk" + at(1.0) + "mcbv.arc." + n + ": vk" + at(5.8);
        if (correctors && c < 85)
            text += "bpm.h.arc." + n + ": bpm" + at(0.6) + "bpm.v.arc." + n + ": bpm" + at(5.6);
        if (correctors && c == 0)
            text += "cav.main.1: cav" + at(9.6);
    }
    return text + "endsequence;\nuse, sequence=ring;\n";
}

TEST(MadxMapping, CorrectorsAndMonitorsOfARingAreKeptAndLeaveItsTunes)
{
    const auto with = import(correctorRing(true));
    const auto without = import(correctorRing(false));
    ASSERT_TRUE(with->ok) << with->messages.errors[0];
    ASSERT_TRUE(without->ok) << without->messages.errors[0];
    // every corrector, monitor and the cavity an element of its own name; the magnets share three names
    std::set<std::string> names;
    for (int i = 1; i <= with->state.line.count; ++i)
        if (with->state.line.at(i).code != code::kDrift)
            names.insert(with->state.line.at(i).name);
    EXPECT_EQ(names.size(), 190u + 170u + 1u + 3u);
    EXPECT_EQ(names.count("mcbv.arc.95") + names.count("bpm.v.arc.85") + names.count("cav.main.1"), 3u);
    EXPECT_NEAR(with->state.rf.voltage, 1.2e6, 1e-6);
    EXPECT_TRUE(with->state.ringClosed);
    // the cells are the same to the optics
    FakeMessages messages;
    ASSERT_TRUE(betaFunctions(with->state, messages, nullptr)) << messages.errors.at(0);
    ASSERT_TRUE(betaFunctions(without->state, messages, nullptr)) << messages.errors.at(0);
    EXPECT_GT(with->state.lf.tuneX, 10);
    EXPECT_NEAR(with->state.lf.tuneX, without->state.lf.tuneX, 1e-9);
    EXPECT_NEAR(with->state.lf.tuneY, without->state.lf.tuneY, 1e-9);
}

TEST(MadxBeam, ParticleAndEnergy)
{
    const auto electron = import("beam, particle=electron, energy=3; d: drift, l=1; bl: line=(d);");
    ASSERT_TRUE(electron->ok);
    EXPECT_EQ(electron->state.beam.name, "electron");
    EXPECT_NEAR(electron->state.beam.totalEnergy, 3e9, 1e-3);
    EXPECT_NEAR(electron->state.beam.referenceMomentum, electron->state.beam.momentum, 0);

    const auto proton = import("beam, particle=proton, pc=7000; d: drift, l=1; bl: line=(d);");
    ASSERT_TRUE(proton->ok);
    EXPECT_EQ(proton->state.beam.name, "proton");
    EXPECT_NEAR(proton->state.beam.momentum, 7e12, 1);

    const auto ion =
        import("beam, particle=lead, mass=193.687, charge=82, gamma=2; d: drift, l=1; bl: line=(d);");
    ASSERT_TRUE(ion->ok);
    EXPECT_TRUE(ion->state.beam.isIon);
    EXPECT_EQ(ion->state.beam.charge, 82);
    EXPECT_NEAR(ion->state.beam.restEnergy, 193.687e9, 1);
    EXPECT_NEAR(ion->state.beam.gamma, 2, kTight);
}

TEST(MadxBeam, CavitiesOfNegativeVoltageAddWithTheirPhaseHalfAPeriodOn)
{
    // V sin(2 pi lag - phi) with V < 0 is |V| half a period later; cavities add as phasors V e^(2 pi i lag)
    const struct
    {
        const char* cavities;
        double voltage; // V, of the ring
    } cases[] = {
        {"c1: rfcavity, volt=-2, lag=0, harmon=10;", 2e6},
        {"c1: rfcavity, volt=1, lag=0, harmon=10; c2: rfcavity, volt=-1, lag=0.5;", 2e6},
        {"c1: rfcavity, volt=1, lag=0, harmon=10; c2: rfcavity, volt=-1, lag=0;", 0},
        {"c1: rfcavity, volt=3, lag=0, harmon=10; c2: rfcavity, volt=-4, lag=0.25;", 5e6},
    };
    for (const auto& c : cases) {
        const auto r = import(std::string("beam, particle=electron, energy=1;\n") + c.cavities +
                              "\nd: drift, l=1;\nbl: line=(c1, d, " +
                              (std::strstr(c.cavities, "c2:") ? "c2, " : "") + "d);");
        ASSERT_TRUE(r->ok) << c.cavities << ": " << r->messages.errors[0];
        EXPECT_NEAR(r->state.rf.voltage, c.voltage, 1e-6) << c.cavities;
    }
}

TEST(MadxBeam, EnergyBelowTheRestEnergyIsRefused)
{
    const auto r = import("beam, particle=proton, energy=0.5; d: drift, l=1; bl: line=(d);");
    EXPECT_FALSE(r->ok);
    EXPECT_EQ(
        r->messages.errors.at(0),
        "cannot import MAD-X file test.madx, line 1: the beam energy 0.5 GeV is not above the rest energy");
}

TEST(MadxImport, StartsFromThePeriodicSolutionOfAStableCell)
{
    const auto r = import("qf: quadrupole, l=0.2, k1=2; qd: quadrupole, l=0.2, k1=-2; d: drift, l=1;\n"
                          "cell: line=(qf, d, qd, d);");
    ASSERT_TRUE(r->ok);
    EXPECT_TRUE(r->summary.periodic);
    EXPECT_TRUE(r->state.run.periodicAvailable);
    EXPECT_TRUE(r->state.run.showBetaFunctions);
    EXPECT_TRUE(r->messages.errors.empty());
    EXPECT_EQ(r->state.fileBoxes[1].x0, 0.0);
    EXPECT_NEAR(r->state.fileBoxes[1].x1, 0.2, kTight);
}

// ----- refusals: each names the construct and leaves the design as it was

struct Refusal
{
    const char* input;
    const char* message; // after "cannot import MAD-X file test.madx"
};

class MadxRefusal : public ::testing::TestWithParam<Refusal>
{
};

TEST_P(MadxRefusal, NamesTheConstructAndKeepsTheState)
{
    State state;
    startParticle(state);
    state.line.count = 1;
    state.line.at(1).name = "KEEP";
    state.line.at(1).code = code::kQuadrupole;
    state.line.at(1).length = 0.3;
    state.line.length = 0.3;
    const double momentum = state.beam.momentum;
    FakeMessages messages;
    EXPECT_FALSE(readMadxText(state, messages,
                              std::string("beam, particle=proton, pc=5;\n") + GetParam().input, "test.madx"));
    ASSERT_EQ(messages.errors.size(), 1u);
    EXPECT_EQ(messages.errors[0], std::string("cannot import MAD-X file test.madx") + GetParam().message);
    EXPECT_EQ(state.line.count, 1);
    EXPECT_EQ(state.line.at(1).name, "KEEP");
    EXPECT_EQ(state.beam.name, "electron");
    EXPECT_EQ(state.beam.momentum, momentum);
}

INSTANTIATE_TEST_SUITE_P(
    Constructs, MadxRefusal,
    ::testing::Values(
        Refusal{"m: multipole, knl={0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};\nbl: line=(m);",
                ", line 2: a thin multipole holds orders 0 to 9, not 10 (m (multipole))"},
        Refusal{"s: solenoid, l=0, ks=0.1, ksi=0.1;\nbl: line=(s);",
                ", line 2: thin solenoids (ksi) are not supported (s (solenoid))"},
        Refusal{"s: sextupole, l=1, k2s=0.1;\nbl: line=(s);",
                ", line 2: skew components are not supported (s (sextupole))"},
        Refusal{"c: crabcavity, l=1, volt=1;\nbl: line=(c);",
                ", line 2: the class crabcavity is not supported (c (crabcavity))"},
        Refusal{"c: rfcavity, l=1, volt=1;\nbl: line=(c);",
                ", line 2: an rf cavity needs a harmonic number or a frequency (c (rfcavity))"},
        Refusal{"q: quadrupole, l=1, apertype=racetrack, aperture={0.1, 0.1, 0.01, 0.01};\nbl: line=(q);",
                ", line 2: the aperture type racetrack is not supported (q (quadrupole))"},
        Refusal{"exec, mymacro;", ", line 2: exec of 'mymacro', which is not a defined macro"},
        Refusal{"m(a): macro = { x = a; };\nexec, m(1, 2);",
                ", line 3: macro m takes 1 arguments, exec gives 2"},
        Refusal{"m: macro = {\nexec, m;\n};\nexec, m;",
                ", line 3: macros and called files nest deeper than 20"},
        Refusal{"i = 0;\nwhile (i >= 0) {\n i = i + 1;\n}",
                ", line 3: a while loop runs more than 1000000 times, the program's limit"},
        Refusal{"else { a = 1; }", ", line 2: 'else' without 'if'"},
        Refusal{"if (a > 1) { b = 2; ", ", line 2: '}' missing in the 'if' block"},
        Refusal{"d: drift, l=1;\ns: sequence, l=2; d, at=1; endsequence;\nseqedit, sequence=s;\nreplace, "
                "element=d;",
                ", line 5: 'replace' in seqedit is not supported"},
        Refusal{"install, element=d, at=1;", ", line 2: 'install' outside seqedit"},
        Refusal{"d: drift, l=1;\ncell(a, b): line=(a, d, b);",
                ", line 3: lines with arguments are not supported ('cell(...)')"},
        Refusal{"d: drift, l=1e-3;\nbl: line=(1000001*d);",
                ", line 3: a repetition count must be at most 1000000, found '1000001'"},
        Refusal{"e: elseparator, l=1, ex=2;\nbl: line=(e);",
                ", line 2: the class elseparator is not supported (e (elseparator))"},
        Refusal{"w: wiggler, l=1;", ", line 2: unknown element class 'wiggler'"},
        Refusal{"x: dipedge, h=0.1, e1=0.1;\nbl: line=(x);",
                ", line 2: the class dipedge is not supported (x (dipedge))"},
        Refusal{"d: drift, l=1; bl: line=(d, e);", ", line 2: line bl uses 'e', which is not defined"},
        Refusal{"s: sequence, l=1;\n", ", line 2: sequence s has no 'endsequence'"},
        Refusal{"beam, particle=muonium; d: drift, l=1; bl: line=(d);",
                ": the particle 'muonium' needs mass= and charge="},
        Refusal{"", ": the input defines no sequence and no line"}));

} // namespace
} // namespace kestrune

namespace kestrune {
namespace {

TEST(MadxExamples, LightSourceRingIsReadWithEveryConstructItUses)
{
    State state;
    startParticle(state);
    FakeMessages messages;
    MadxImportSummary summary;
    ASSERT_TRUE(readMadxFile(state, messages, std::string(KESTRUNE_EXAMPLES) + "/ls-ring.madx", &summary));
    EXPECT_TRUE(messages.errors.empty());
    EXPECT_EQ(summary.beamLine, "ls3");
    EXPECT_EQ(state.line.count, 681);
    EXPECT_NEAR(state.line.length, 12 * 15.3, 1e-9);
    EXPECT_NEAR(state.beam.totalEnergy, 3e9, 1);
    EXPECT_TRUE(summary.drifted.empty());
    EXPECT_TRUE(summary.undefined.empty());
    EXPECT_EQ(summary.skipped, std::vector<std::string>{});
    EXPECT_TRUE(summary.periodic);
    // the achromat keeps the straights nearly free of dispersion
    EXPECT_LT(std::fabs(state.run.etaX0), 1e-3);
    int rectangular = 0;
    for (int i = 1; i <= state.line.count; ++i) {
        const LatticeElement& e = state.line.at(i);
        if (e.code == code::kRectangularBend) {
            ++rectangular;
            EXPECT_NEAR(e.gap, 6 * 0.0125 * 0.5, kTight);
        }
    }
    EXPECT_EQ(rectangular, 24);
}

} // namespace
} // namespace kestrune

namespace kestrune {
namespace {

TEST(MadxRobustness, PathologicalInputsAreRefusedWithoutHarm)
{
    const std::string deep(5000, '(');
    const std::vector<std::pair<std::string, std::string>> inputs{
        {"a = " + deep + "1; d: drift, l=a; bl: line=(d);", "an expression is nested more than 200 deep"},
        {"a = 1e999;", "the number 1e999 is too large"},
        {"x: line=(" + deep + "a" + std::string(5000, ')') + ");", "a line is nested more than 100 deep"},
        {"a = 'open;", "a string is not closed"},
        {"/* never closed\nq: quadrupole, l=1;", "the input defines no sequence and no line"},
        {"a = 1/0; d: drift, l=a; bl: line=(d);", "an expression has no finite value"},
        {"x: line=(1000000*(1000000*(d))); d: drift, l=1;", "expands too far: more than 1000000 nodes"},
        {"s: sequence, l=1; s, at=0.5; endsequence;", "contains itself"},
        {std::string("\x01\xff;"), "unexpected character"},
        {";;;", "the input defines no sequence and no line"},
    };
    for (const auto& [text, expected] : inputs) {
        State state;
        FakeMessages messages;
        EXPECT_FALSE(readMadxText(state, messages, text, "bad.madx")) << text.substr(0, 40);
        ASSERT_EQ(messages.errors.size(), 1u) << text.substr(0, 40);
        EXPECT_NE(messages.errors[0].find(expected), std::string::npos) << messages.errors[0];
    }
}

} // namespace
} // namespace kestrune
