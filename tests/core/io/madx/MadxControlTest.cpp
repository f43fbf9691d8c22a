#include "core/Kinematics.h"
#include "core/io/madx/MadxImported.h"
#include "core/io/madx/MadxReader.h"
#include "support/FakeMessages.h"
#include "support/TestFolder.h"

#include <fstream>
#include <gtest/gtest.h>

namespace kestrune {
namespace {

using test::FakeMessages;

using test::import;
using test::Imported;

// The strength of the one quadrupole of bl after the statements.
double strengthAfter(const std::string& statements)
{
    const auto r = import(statements + "\nq: quadrupole, l=1, k1:=kq;\nbl: line=(q);\nuse, period=bl;\n");
    EXPECT_TRUE(r->ok) << (r->messages.errors.empty() ? "" : r->messages.errors.front());
    return r->ok ? r->state.line.at(1).k : -999;
}

// name@entry of every element of the line, drifts as "d"
std::string layout(const State& state)
{
    std::string text;
    for (int i = 1; i <= state.line.count; ++i) {
        const LatticeElement& e = state.line.at(i);
        text += (e.code == code::kDrift ? std::string("d") : e.name) + "@" +
                std::to_string(e.s).substr(0, 4) + " ";
    }
    return text;
}

TEST(MadxControl, BlocksLoopsAndMacrosRunAsMadxRunsThem)
{
    struct Case
    {
        const char* statements;
        double kq;
    };
    const Case cases[] = {
        {"a = 2; if (a > 1) { kq = 1; } elseif (a > 0) { kq = 2; } else { kq = 3; }", 1},
        {"a = 0.5; if (a > 1) { kq = 1; } elseif (a > 0 && a <> 0.7) { kq = 2; } else { kq = 3; }", 2},
        {"a = -1;\nif (a > 1) {\n kq = 1;\n}\nelse\n{\n kq = 3;\n}", 3},
        {"if ((1 > 2) || (2 >= 2 && 3 <= 3)) { kq = 4; };;", 4},
        {"if (0) { kq = 1; } kq = 5;", 5},
        {"i = 0; kq = 0; while (i < 10) { i = i + 1; kq = kq + i; }", 55},
        {"set, format=\"12.6f\"; option, echo, -info; kq = 6;;;", 6},
        {"setk(name, value): macro = { name = value * 2; };\nexec, setk(kq, 3.5);", 7},
        {"m: macro = { kq = kq + 1; }; kq = 7; exec, m; exec m;", 9},
    };
    for (const Case& c : cases)
        EXPECT_DOUBLE_EQ(strengthAfter(c.statements), c.kq) << c.statements;
}

TEST(MadxControl, ReturnEndsOnlyTheCalledFile)
{
    const test::ScopedTestFolder folder("kestrune-madx-call");
    std::ofstream(folder.path() / "lattice.seq")
        << "q: quadrupole, l=1, k1:=kq;\n"
           "s: sequence, l=4; q, at=1; q, at=3; endsequence;\nreturn;\n"
           "this is not read;\n";
    std::ofstream(folder.path() / "optics.str") << "kq = 0.25;\nif (kq > 0) { return; }\nkq = 9;\n";
    const auto r = import("call, file=\"lattice.seq\";\ncall, file=\"optics.str\";\nuse, sequence=s;\n",
                          (folder.path() / "job.madx").string());
    ASSERT_TRUE(r->ok) << r->messages.errors.front();
    ASSERT_EQ(r->state.line.count, 5);
    EXPECT_DOUBLE_EQ(r->state.line.at(2).k, 0.25);
}

TEST(MadxControl, ErrorsInsideABodyNameTheirOwnLine)
{
    const auto r = import("beam;\nif (1 > 0) {\n  a = 1;\n  x: nosuchclass, l=1;\n}\n");
    ASSERT_FALSE(r->ok);
    EXPECT_NE(r->messages.errors.front().find("test.madx, line 4"), std::string::npos)
        << r->messages.errors.front();
}

TEST(MadxSeqedit, InstallRemoveMoveCycleAndReflect)
{
    const std::string base =
        "q: quadrupole, l=1, k1=0.1; b: sbend, l=1, angle=0.1, e1=0.02, e2=0.05; m: marker;\n"
        "s: sequence, l=10, refer=entry; qa: q, at=0; bb: b, at=3; qb: q, at=6; endsequence;\n";
    struct Case
    {
        const char* edit;
        const char* layout;
    };
    const Case cases[] = {
        {"", "qa@0.00 d@1.00 bb@3.00 d@4.00 qb@6.00 d@7.00 "},
        {"install, element=qc, class=q, at=8; flatten;",
         "qa@0.00 d@1.00 bb@3.00 d@4.00 qb@6.00 d@7.00 qc@8.00 d@9.00 "},
        {"install, element=qc, class=q, at=1, from=bb;",
         "qa@0.00 d@1.00 bb@3.00 qc@4.00 d@5.00 qb@6.00 d@7.00 "},
        {"remove, element=bb;", "qa@0.00 d@1.00 qb@6.00 d@7.00 "},
        {"move, element=qb, by=-1.5;", "qa@0.00 d@1.00 bb@3.00 d@4.00 qb@4.50 d@5.50 "},
        {"move, element=qb, to=8;", "qa@0.00 d@1.00 bb@3.00 d@4.00 qb@8.00 d@9.00 "},
        {"cycle, start=bb;", "bb@0.00 d@1.00 qb@3.00 d@4.00 qa@7.00 d@8.00 "},
        {"reflect;", "d@0.00 qb@3.00 d@4.00 bb@6.00 d@7.00 qa@9.00 "},
    };
    for (const Case& c : cases) {
        const auto r = import(base + "seqedit, sequence=s;\n" + c.edit + "\nendedit;\nuse, sequence=s;\n");
        ASSERT_TRUE(r->ok) << c.edit << ": " << r->messages.errors.front();
        EXPECT_EQ(layout(r->state), c.layout) << c.edit;
    }
    // the reflected bend meets its exit face first
    const auto r = import(base + "seqedit, sequence=s; reflect; endedit; use, sequence=s;");
    ASSERT_TRUE(r->ok);
    EXPECT_DOUBLE_EQ(r->state.line.at(4).ain, 0.05);
    EXPECT_DOUBLE_EQ(r->state.line.at(4).aout, 0.02);
}

} // namespace
} // namespace kestrune
