#include "core/io/madx/MadxExport.h"
#include "core/io/madx/MadxImported.h"

#include <cmath>
#include <gtest/gtest.h>
#include <map>

namespace kestrune {
namespace {

using test::FakeMessages;
using test::import;

// Permanent misalignments on a definition and at a placement, EALIGN and EFCOMP through class, range and
// pattern selections, EOPTION's ADD both ways, relative errors of a quadrupole, a bend, a sextupole and a
// thin multipole.
const char* const kErrors = R"(beam, particle=electron, pc=1;
mq: quadrupole, l=0.5;
qf: mq, k1=1.2;
qd: mq, k1=-1.1, dy=2e-4;
qq: qf;
b: sbend, l=1, angle=0.1;
s: sextupole, l=0.2, k2=3;
m: multipole, knl={0, 0.3, 0.5};
cell: sequence, l=10, refer=entry;
qf, at=0; b, at=1; qd, at=3, dx=0.001; qq, at=4; s, at=5; qf, at=6; m, at=7; qf, at=8;
endsequence;
use, sequence=cell;
roll = 2e-4;
select, flag=error, clear; select, flag=error, class=qf; ealign, dx=1e-3, dpsi:=roll;
select, flag=error, clear; select, flag=error, range=qf[2]; ealign, dy=2e-3;
eoption, add;
select, flag=error, clear; select, flag=error, pattern="^Q[DF]$"; ealign, ds=3e-3;
eoption, add=false;
select, flag=error, clear; select, flag=error, class=mq;
efcomp, order=1, radius=0.02, dknr={0.1, 0.2, 0.3}, dks={1e-4};
select, flag=error, clear; select, flag=error, class=sbend;
efcomp, order=0, radius=0.02, dknr={0, 0.01, 0.02};
select, flag=error, clear; select, flag=error, range=s/s; select, flag=error, pattern="^m$";
efcomp, order=2, radius=0.03, dknr={0.1, 0.1, 0.1, 0.1}, dksr={0.2};
eoption, add=true;
select, flag=error, clear; select, flag=error, range=qq; efcomp, dkn={0, 1e-3};
)";

struct Expected
{
    const char* name;
    int occurrence;
    double align[6];
    std::vector<double> dkn;
    std::vector<double> dks;
};

// MAD-X 5.09.03 on kErrors: ESAVE (EALIGN's errors and the absolute field errors) with
// set, format="22.15g"; the permanent misalignments add to EALIGN's (checked there with twiss orbits)
const Expected kMadx[] = {
    {"qf", 1, {1e-3, 0, 3e-3, 0, 0, 2e-4}, {0.0012, 0.12, 18}, {1e-4}},
    {"b", 1, {0, 0, 0, 0, 0, 0}, {0, 0.05, 10}, {}},
    {"qd", 1, {1e-3, 2e-4, 3e-3, 0, 0, 0}, {-0.0011, -0.11, -16.5}, {1e-4}},
    {"qq", 1, {1e-3, 0, 0, 0, 0, 2e-4}, {0.0012, 0.121, 18}, {1e-4}},
    {"s", 1, {0, 0, 0, 0, 0, 0}, {2.7e-05, 0.0009, 0.06, 6}, {5.4e-05}},
    {"qf", 2, {0, 2e-3, 3e-3, 0, 0, 0}, {0.0012, 0.12, 18}, {1e-4}},
    {"m", 1, {0, 0, 0, 0, 0, 0}, {2.25e-05, 0.00075, 0.05, 5}, {4.5e-05}},
    {"qf", 3, {1e-3, 0, 3e-3, 0, 0, 2e-4}, {0.0012, 0.12, 18}, {1e-4}},
};

void expectMadxErrors(const State& state, const char* what)
{
    std::map<std::string, int> seen;
    std::size_t next = 0;
    for (int i = 1; i <= state.line.count; ++i) {
        const LatticeElement& e = state.line.at(i);
        if (e.code == code::kDrift) {
            EXPECT_FALSE(e.errors.any()) << what << ": drift " << i;
            continue;
        }
        ASSERT_LT(next, std::size(kMadx)) << what;
        const Expected& x = kMadx[next++];
        ASSERT_EQ(e.name, x.name) << what;
        EXPECT_EQ(++seen[e.name], x.occurrence) << what;
        const double align[] = {e.errors.dx,     e.errors.dy,   e.errors.ds,
                                e.errors.dtheta, e.errors.dphi, e.errors.dpsi};
        for (int k = 0; k < 6; ++k)
            EXPECT_NEAR(align[k], x.align[k], 1e-17) << what << ": " << x.name << x.occurrence << " " << k;
        for (const auto& [got, want] : {std::pair{&e.errors.dkn, &x.dkn}, std::pair{&e.errors.dks, &x.dks}}) {
            ASSERT_EQ(got->size(), want->size()) << what << ": " << x.name << x.occurrence;
            for (std::size_t n = 0; n < want->size(); ++n)
                EXPECT_NEAR((*got)[n], (*want)[n], 1e-14 * std::fabs((*want)[n])) << x.name << " order " << n;
        }
    }
    EXPECT_EQ(next, std::size(kMadx)) << what;
}

TEST(MadxErrors, ImportGivesTheErrorsMadxAssignsAndTheExportKeepsThem)
{
    const auto r = import(kErrors);
    ASSERT_TRUE(r->ok) << r->messages.errors.at(0);
    expectMadxErrors(r->state, "import");
    FakeMessages messages;
    const std::optional<std::string> text = madxText(r->state, messages);
    ASSERT_TRUE(text);
    const auto again = import(*text);
    ASSERT_TRUE(again->ok) << again->messages.errors.at(0);
    expectMadxErrors(again->state, "import of the export");
}

TEST(MadxErrors, WhatCannotBeReproducedIsRefusedByName)
{
    const std::string head = "q: quadrupole, l=1, k1=0.1; s: sequence, l=4; q, at=1; q, at=3; endsequence;\n";
    const std::string use = "use, sequence=s; select, flag=error, full;\n";
    const struct
    {
        std::string text;
        std::string message;
    } cases[] = {
        {head + use + "ealign, dx=1e-3*tgauss(3);", "line 3: the random function tgauss is not supported"},
        {head + use + "efcomp, dkn={ranf()};", "line 3: the random function ranf is not supported"},
        {head + "ealign, dx=1e-3;", "line 2: ealign before 'use'"},
        {head + use + "ealign, mrex=1e-3;",
         "ealign: mrex (monitor read or aperture errors) is not supported"},
        {head + use + "efcomp, radius=-0.01, dknr={0, 1e-3};",
         "efcomp: relative errors need a positive radius"},
        {head + use + "efcomp, dkn={0,0,0,0,0,0,0,0,0,0,1e-3};",
         "efcomp: field errors of order 10 are not supported"},
        {head + "use, sequence=s; select, flag=error, range=q[3]; ealign, dx=1e-3;",
         "select: range=q[3] names no node of the beam line"},
        {head + "use, sequence=s; select, flag=error, pattern=\"q[\"; ealign, dx=1e-3;",
         "select: the pattern \"q[\" is not one: '[' without ']'"},
        {head + use + "ealign, ds=2;", "the misalignment must be at most 1 m"},
        {head + use + "seterr, table=errtab;", "seterr (errors read from a table) is not supported"},
        {"q: quadrupole, l=1, k1=0.1; d: drift, l=1; c: line=(q, d); r: line=(2*c); use, period=r;\n"
         "select, flag=error, range=q[2]; ealign, dx=1e-3;",
         "the errors would differ between the 2 cells of the beam line r (q)"},
    };
    for (const auto& c : cases) {
        const auto r = import(c.text);
        EXPECT_FALSE(r->ok) << c.message;
        ASSERT_EQ(r->messages.errors.size(), 1u) << c.message;
        EXPECT_NE(r->messages.errors[0].find(c.message), std::string::npos) << r->messages.errors[0];
    }
    // a later use drops the errors, and a ring of cells takes those every cell has
    const auto dropped = import(head + use + "ealign, dx=1e-3; use, sequence=s;");
    ASSERT_TRUE(dropped->ok);
    EXPECT_FALSE(dropped->state.line.at(2).errors.any());
    const auto cells = import("q: quadrupole, l=1, k1=0.1; d: drift, l=1; c: line=(q, d); r: line=(2*c);"
                              "use, period=r; select, flag=error, range=q[1]; select, flag=error, range=q[2];"
                              "ealign, dy=1e-4;");
    ASSERT_TRUE(cells->ok) << cells->messages.errors.at(0);
    EXPECT_EQ(cells->state.line.at(1).errors.dy, 1e-4);
}

} // namespace
} // namespace kestrune
