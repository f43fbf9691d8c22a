// The element maps of the symplectic tracker against MAD-X's second-order maps, and their symplecticity.
#include "TrackingRings.h"

#include <map>

namespace kestrune {
namespace {

using Coefficients = std::map<std::string, double>;

// A line of one element after a 1 GeV/c electron.
State oneElement(const LatticeElement& e)
{
    State state;
    startParticle(state);
    updateKinematics(state.beam, EnergyKind::Momentum, 1e9);
    state.line.count = 1;
    state.line.at(1) = e;
    return state;
}

PhaseVector pass(const SymplecticLattice& lattice, PhaseVector p)
{
    ParticleBlock block;
    block.add(p, 0);
    for (const ElementMap& e : lattice.cell)
        pushElement(e, block);
    return block.at(0);
}

double& coordinate(PhaseVector& p, int i)
{
    double* const c[5] = {&p.x, &p.px, &p.y, &p.py, &p.delta};
    return *c[i];
}

// T_ijk of MAD-X's convention (z_i += sum_jk T_ijk z_j z_k, symmetric in j, k) over x, px, y, py and
// delta (index 6), from second differences of the map at zero.
double secondOrder(const SymplecticLattice& lattice, const std::string& name)
{
    const auto index = [](char c) { return c == '6' ? 4 : c - '1'; };
    const int i = index(name[1]), j = index(name[2]), k = index(name[3]);
    constexpr double step = 1e-4;
    const auto at = [&](double a, double b) {
        PhaseVector p;
        coordinate(p, j) += a;
        coordinate(p, k) += b;
        PhaseVector out = pass(lattice, p);
        return coordinate(out, i);
    };
    return (at(step, step) - at(step, -step) - at(-step, step) + at(-step, -step)) / (8 * step * step);
}

LatticeElement bend(int elementCode, double length, double h, double k, double ain, double aout)
{
    LatticeElement e;
    e.code = elementCode;
    e.length = length;
    e.curvature = h;
    e.k = k;
    e.ain = ain;
    e.aout = aout;
    return e;
}

// MAD-X 5.09.03, SECTORMAP of an SBEND of 1e-7 m with h = 0.25 1/m: the pole faces alone (the body adds
// terms of 1e-8). A face of angle psi at one end and the sector end (angle 0) at the other.
TEST(SymplecticLattice, PoleFacesHaveTheSecondOrderTermsOfMadx)
{
    struct Case
    {
        double ain, aout, k;
        Coefficients t;
    };
    const Case cases[] = {
        {0.3,
         0,
         0,
         {{"T111", -0.01196111248},
          {"T133", 0.0119611175},
          {"T212", 0.01196111345},
          {"T233", 0.01151676001},
          {"T234", -0.01196111345},
          {"T313", 0.01196111345},
          {"T413", 0.009666756944},
          {"T414", -0.01196111345},
          {"T423", -0.01196111538}}},
        {0,
         0.3,
         0,
         {{"T111", 0.01196111442},
          {"T133", -0.01196111442},
          {"T211", -0.0009250014191},
          {"T212", -0.01196111354},
          {"T233", 0.00874175545},
          {"T234", 0.01196111432},
          {"T313", -0.01196111442},
          {"T413", 0.01059175851},
          {"T414", 0.01196111451},
          {"T423", 0.01196111644}}},
        {0.3, 0, 0.5, {{"T211", 0.1546681129}, {"T233", -0.1431513654}, {"T413", -0.1450013673}}},
        {0, 0.3, 0.5, {{"T211", 0.1537431121}, {"T233", -0.1459263682}, {"T413", -0.1440763663}}},
    };
    for (const Case& c : cases) {
        const SymplecticLattice lattice =
            test::latticeOf(oneElement(bend(code::kWedgeBend, 0, 0.25, c.k, c.ain, c.aout)));
        for (const auto& [name, value] : c.t)
            EXPECT_NEAR(secondOrder(lattice, name), value, 5e-8)
                << name << " ain " << c.ain << " aout " << c.aout;
    }
}

// MAD-X 5.09.03, SECTORMAP of an SBEND of 1 m, angle 0.3, K1 = -0.5, without pole-face angles: the body in
// the field B_y = h + k x with its chromatic terms, and the fringe at the sector ends.
TEST(SymplecticLattice, GradientBendHasTheSecondOrderTermsOfMadx)
{
    const Coefficients t = {{"T111", 0.1534621343},   {"T116", -0.08013481235}, {"T122", 0.107437236},
                            {"T126", -0.5521786113},  {"T133", 0.05632042284},  {"T166", -0.1578879455},
                            {"T211", 0.1831516049},   {"T226", -0.1276167693},  {"T233", -0.01444159692},
                            {"T244", -0.1604621879},  {"T313", -0.07371034148}, {"T346", -0.4139226761},
                            {"T413", -0.01097914603}, {"T424", 0.1313926112},   {"T436", 0.01387712381}};
    const SymplecticLattice lattice =
        test::latticeOf(oneElement(bend(code::kSectorBend, 1, 0.3, -0.5, 0, 0)));
    // the splitting of the body in 5 steps leaves up to 1e-4 of the second-order dispersion T166, a few
    // 1e-6 elsewhere (MAD-X's pt is delta to 1e-7 at 1 GeV/c)
    for (const auto& [name, value] : t)
        EXPECT_NEAR(secondOrder(lattice, name), value, 5e-6 + 1.2e-4 * std::fabs(value)) << name;
}

// Every kind of map is symplectic in all six coordinates, away from the reference orbit and off momentum.
TEST(SymplecticLattice, ElementMapsAreSymplectic)
{
    LatticeElement quad;
    quad.code = code::kQuadrupole;
    quad.length = 0.4;
    quad.k = 1.9;
    LatticeElement sextupole;
    sextupole.code = code::kSextupoleF;
    sextupole.length = 0.3;
    sextupole.m = 40;
    LatticeElement drift;
    drift.code = code::kDrift;
    drift.length = 2;
    LatticeElement wedge = bend(code::kWedgeBend, 1.2, 0.3, -0.4, 0.1, 0.2);
    wedge.gap = 0.05;
    LatticeElement alpha;
    alpha.code = code::kAlphaFull;
    alpha.k = 2;
    LatticeElement skew = quad;
    skew.k1s = -0.7;
    skew.tilt = 0.3;
    LatticeElement rolledWedge = wedge;
    rolledWedge.tilt = -0.4;
    LatticeElement rolledSextupole = sextupole;
    rolledSextupole.tilt = 0.2;
    LatticeElement solenoid;
    solenoid.code = code::kSolenoid;
    solenoid.length = 0.7;
    solenoid.ks = 1.3;
    for (const LatticeElement& e :
         {quad, sextupole, drift, wedge, bend(code::kSectorBend, 2, 0.15, 0.2, 0, 0), alpha, skew,
          rolledWedge, rolledSextupole, solenoid}) {
        const SymplecticLattice lattice = test::latticeOf(oneElement(e));
        const PhaseVector at{4e-3, -1e-3, -3e-3, 2e-3, 0.01, 0};
        constexpr double step = 1e-6;
        double m[6][6];
        for (int j = 0; j < 6; ++j) {
            PhaseVector plus = at, minus = at;
            double* const p[6] = {&plus.x, &plus.px, &plus.y, &plus.py, &plus.delta, &plus.l};
            double* const q[6] = {&minus.x, &minus.px, &minus.y, &minus.py, &minus.delta, &minus.l};
            *p[j] += step;
            *q[j] -= step;
            const PhaseVector a = pass(lattice, plus), b = pass(lattice, minus);
            const double fa[6] = {a.x, a.px, a.y, a.py, a.delta, a.l};
            const double fb[6] = {b.x, b.px, b.y, b.py, b.delta, b.l};
            for (int i = 0; i < 6; ++i)
                m[i][j] = (fa[i] - fb[i]) / (2 * step);
        }
        // the Poisson brackets of the three pairs of the output: {x, px} = 1, {x, y} = 0, ...
        const auto bracket = [&m](int a, int b) {
            double sum = 0;
            for (int k = 0; k < 6; k += 2)
                sum += m[a][k] * m[b][k + 1] - m[a][k + 1] * m[b][k];
            return sum;
        };
        // the optics' alpha-magnet map is symplectic in (x, x') alone: its delta column is no Hamiltonian's
        const int pairs = e.code == code::kAlphaFull ? 4 : 6;
        for (int a = 0; a < pairs; ++a)
            for (int b = a + 1; b < pairs; ++b)
                EXPECT_NEAR(bracket(a, b), a % 2 == 0 && b == a + 1 ? 1 : 0, 1e-8) << e.code << " " << a << b;
    }
}

} // namespace
} // namespace kestrune
