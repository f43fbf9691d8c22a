// Inputs a hostile or careless user gives the MAD-X reader: each is read or refused with one message that
// names what to mend, and none crashes, stalls or grows without bound. Large inputs are made here.
#include "core/Kinematics.h"
#include "core/io/madx/MadxReader.h"
#include "support/FakeMessages.h"
#include "support/TestFolder.h"

#include <cctype>
#include <filesystem>
#include <gtest/gtest.h>
#include <ostream>
#include <sys/stat.h>

namespace kestrune {
namespace {

using test::FakeMessages;

struct Outcome
{
    bool ok = false;
    std::string message; // the one refusal, empty when read
    State state;
};

Outcome import(const std::string& text)
{
    Outcome o;
    startParticle(o.state);
    FakeMessages messages;
    o.ok = readMadxText(o.state, messages, text, "h.madx");
    EXPECT_EQ(messages.errors.size(), o.ok ? 0u : 1u);
    o.message = messages.errors.empty() ? "" : messages.errors[0];
    return o;
}

const std::string kLine = "\nd: drift, l=1;\nbl: line=(d, x);\n";

struct Refused
{
    std::string input;
    std::string says; // part of the message
};

// Test names show what the message must say, in plain words.
void PrintTo(const Refused& r, std::ostream* os)
{
    for (char c : r.says.substr(0, 50))
        *os << (std::isalnum(static_cast<unsigned char>(c)) ? c : '_');
}

class MadxHostileRefusal : public ::testing::TestWithParam<Refused>
{
};

TEST_P(MadxHostileRefusal, IsRefusedWithAMessageNamingTheFault)
{
    const Outcome o = import(GetParam().input);
    EXPECT_FALSE(o.ok);
    EXPECT_NE(o.message.find(GetParam().says), std::string::npos) << o.message;
    EXPECT_LT(o.message.size(), 700u);
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, MadxHostileRefusal,
    ::testing::Values(
        // an attribute list that ends after its sign
        Refused{"beam, -;", "an attribute name expected, found the end of the statement"},
        // the beam is checked as the particle window checks it
        Refused{"beam, particle=ion, mass=12, charge=0;" + kLine + "x: drift, l=1;",
                "the charge must be at least 1"},
        Refused{"beam, particle=ion, mass=12, charge=-3e9;" + kLine + "x: drift, l=1;",
                "the charge must be at most 200"},
        Refused{"beam, particle=ion, mass=12, charge=1e300;" + kLine + "x: drift, l=1;",
                "the charge must be at most"},
        Refused{"beam, particle=ion, mass=1e300, charge=1;" + kLine + "x: drift, l=1;",
                "the rest energy must be at most"},
        Refused{"beam, energy=1e300;" + kLine + "x: drift, l=1;",
                "energy = 1e+300 GeV is outside the program's range"},
        Refused{"beam, pc=1e300;" + kLine + "x: drift, l=1;",
                "pc = 1e+300 GeV is outside the program's range"},
        Refused{"beam, gamma=1e300;" + kLine + "x: drift, l=1;", "is outside the program's range"},
        Refused{"beam, bcurrent=-1;" + kLine + "x: drift, l=1;", "the beam current must not be negative"},
        // nothing to build
        Refused{"bl: line=();", "the beam line bl has no elements"},
        Refused{"d: drift, l=1; c: line=(d); bl: line=(0*c);", "the beam line bl has no elements"},
        // the element panel's ranges
        Refused{"x: drift, l=-1e300;" + kLine, "the path length must not be negative! (x (drift))"},
        Refused{"d: drift, l=1; s: sequence, l=1e300; d, at=0.5; endsequence;",
                "the path length must be at most 100000 m"},
        Refused{"x: quadrupole, l=1, k1=1e300;" + kLine, "the gradient strength must be at most"},
        // what the program has no element for
        Refused{"x: sbend, l=1, angle=1e-20, k0=0.05;" + kLine,
                "a bending magnet whose field k0 differs from angle/l is not supported"},
        Refused{"x: quadrupole, l=1, k1=1, dx=1e300;" + kLine, "the misalignment must be at most 1 m"},
        Refused{"x: sbend, l=1, angle=0.1, dtheta=-7;" + kLine,
                "the misalignment angle must be at least -1 rad"},
        // repetitions
        Refused{"d: drift, l=1; bl: line=(10000000*d);",
                "a repetition count must be at most 1000000, found '10000000'"},
        Refused{"d: drift, l=1; bl: line=(d, 1000000*(1000000*(1000000*())));",
                "line bl expands too far: more than 10000000 repetitions"},
        Refused{"d: drift, l=1e-3; c: line=(d); bl: line=(1000000*c, 1000000*c);",
                "line bl expands too far: more than 1000000 nodes"},
        // names
        Refused{"x: sbend, l=lb, angle=0.1;" + kLine, "(taken as 0, never defined: lb)"},
        Refused{"a := b + 1; b := 2*a; x: drift, l:=a;" + kLine,
                "the deferred variable 'a' refers to itself"},
        Refused{"k = table(summ, q1);\nx: quadrupole, l=1, k1:=2*k;" + kLine,
                "unknown function 'table' (in the definition of k)"},
        Refused{"c: line=(d, q(2));\nd: drift, l=1;\nuse, period=c;",
                "lines with arguments are not supported"},
        // files that are no MAD-X input
        Refused{"call, file=\"/dev/zero\";", "/dev/zero: it is not a regular file"},
        Refused{"call, file=\"/\";", "cannot read the called file /: it is a directory"},
        // echoed text is short and readable
        Refused{"a = " + std::string(1000000, '9') + ";",
                "the number 9999999999999999999999999999999999999999..."},
        Refused{std::string("a = 1\0;", 7), "unexpected character '\\x00'"},
        Refused{"a = 1 \xff;", "unexpected character '\\xFF'"}));

TEST(MadxHostile, StatementsTheLineDoesNotUseAreReadLeniently)
{
    const Outcome o = import("init: beta0, betx=1, bety=2;\n"
                             "qx = table(summ, q1);\n"
                             "select, flag=twiss, pattern=^q\\.*, column=name;\n"
                             "q: quadrupole, l=0.5, k1=1;\n"
                             "d: drift, l=1;\n"
                             "spare: line=(d, q(3));\n"
                             "half: line:=(q, d);\n"
                             "bl: line=(half, -2*half);\n");
    ASSERT_TRUE(o.ok) << o.message;
    // the reflected repetition -2*half is half reflected, twice: q d d q d q
    const char* expected[] = {"q", "d", "d", "q", "d", "q"};
    ASSERT_EQ(o.state.line.count, 6);
    for (int i = 1; i <= 6; ++i)
        EXPECT_EQ(o.state.line.at(i).name, expected[i - 1]) << i;
}

// ----- large inputs, made here

std::string chain(const std::string& first, const std::string& op, const std::string& term, int terms)
{
    std::string text = first;
    text.reserve(text.size() + static_cast<std::size_t>(terms) * (op.size() + term.size()));
    for (int i = 1; i < terms; ++i)
        text += op + term;
    return text;
}

double onlyK(const std::string& definitions)
{
    const Outcome o = import(definitions + "\nq: quadrupole, l=1, k1:=x;\nbl: line=(q);\n");
    EXPECT_TRUE(o.ok) << o.message;
    return o.ok ? o.state.line.at(1).k : 0;
}

TEST(MadxHostile, LongFlatExpressionsAreEvaluatedWithoutRecursionPerTerm)
{
    EXPECT_DOUBLE_EQ(onlyK("x = " + chain("1", "+", "1", 50000) + ";"), 50000.0);
    EXPECT_DOUBLE_EQ(onlyK("x := " + chain("1", "-", "1", 100000) + ";"), -99998.0);
    EXPECT_DOUBLE_EQ(onlyK("x = " + chain("3", "*", "1", 50000) + "/" + chain("1", "/", "1", 50000) + ";"),
                     3.0);
}

TEST(MadxHostile, ChainsOfDeferredDefinitionsCostTheirLength)
{
    // each level uses the one below twice: 2^30 evaluations unless a value is taken once
    std::string doubling = "a0 := 1;\n";
    for (int i = 1; i <= 30; ++i)
        doubling += "a" + std::to_string(i) + " := a" + std::to_string(i - 1) + " + a" +
                    std::to_string(i - 1) + ";\n";
    EXPECT_DOUBLE_EQ(onlyK(doubling + "x := a30 / 2^30;"), 1.0);

    // a long chain that comes back to nothing is no circle
    std::string linear = "b0 := 1;\n";
    for (int i = 1; i < 500; ++i)
        linear += "b" + std::to_string(i) + " := b" + std::to_string(i - 1) + " + 1;\n";
    EXPECT_DOUBLE_EQ(onlyK(linear + "x := b499;"), 500.0);

    std::string deep = "c0 := 1;\n";
    for (int i = 1; i < 5000; ++i)
        deep += "c" + std::to_string(i) + " := c" + std::to_string(i - 1) + " + 1;\n";
    const Outcome o = import(deep + "q: quadrupole, l=1, k1:=c4999;\nbl: line=(q);\n");
    EXPECT_FALSE(o.ok);
    EXPECT_NE(o.message.find("nested more than 4000 deep"), std::string::npos) << o.message;
}

TEST(MadxHostile, NestedAndChainedSequencesAreExpandedOnce)
{
    // 30 levels of sequences, each placed by the centre of an element deep inside
    std::string nested =
        "m: marker;\nq: quadrupole, l=0.2, k1=1;\ns0: sequence, l=1; q, at=0.5; endsequence;\n";
    for (int i = 1; i <= 30; ++i)
        nested += "s" + std::to_string(i) + ": sequence, l=1, refpos=q; s" + std::to_string(i - 1) +
                  ", at=0.5; endsequence;\n";
    const Outcome n = import(nested);
    ASSERT_TRUE(n.ok) << n.message;
    EXPECT_EQ(n.state.line.count, 3);
    EXPECT_NEAR(n.state.line.at(2).s, 0.4, 1e-12);

    // 40 000 nodes, each placed from the one before
    std::string from = "m: marker;\ns: sequence, l=40001, refer=entry;\nn0: m, at=0;\n";
    for (int i = 1; i < 40000; ++i)
        from += "n" + std::to_string(i) + ": m, at=1, from=n" + std::to_string(i - 1) + ";\n";
    from += "endsequence;\n";
    const Outcome f = import(from);
    ASSERT_TRUE(f.ok) << f.message;
    EXPECT_EQ(f.state.line.count, 80000); // every marker, and the drift after it
    EXPECT_NEAR(f.state.line.length, 40001, 1e-9);
}

TEST(MadxHostile, CalledFilesThatAreNoFilesAreRefused)
{
    const test::ScopedTestFolder folder("kestrune-madx-call");
    const std::string fifo = (folder.path() / "pipe.madx").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const Outcome o = import("call, file=\"" + fifo + "\";");
    EXPECT_FALSE(o.ok);
    EXPECT_NE(o.message.find("it is not a regular file"), std::string::npos) << o.message;
}

} // namespace
} // namespace kestrune
