// The symplectic tracker's kinds of families 6..9: multipole kicks of every order, octupole detuning,
// rf cavities of the cell, the elements' own apertures and what the linear maps refuse.
#include "core/aperture/ApertureRings.h"
#include "core/aperture/DynamicAperture.h"
#include "core/tracking/Detuning.h"
#include "core/tracking/LinearMapTracking.h"
#include "core/tracking/TrackingRings.h"

#include <complex>
#include <cstring>

namespace kestrune {
namespace {

LatticeElement& append(State& state, const LatticeElement& e)
{
    ++state.line.count;
    LatticeElement& made = state.line.at(state.line.count);
    made = e;
    return made;
}

// The cell of state with extra appended after element `after` (0: at the start).
State withElement(const State& state, int after, const LatticeElement& extra)
{
    State out = state;
    out.line.makeFreshTable();
    if (after == 0)
        append(out, extra);
    for (int i = 1; i <= state.line.count; ++i) {
        append(out, state.line.at(i));
        if (i == after)
            append(out, extra);
    }
    out.line.chainPositions();
    return out;
}

State lineOf(const std::vector<LatticeElement>& elements)
{
    State state;
    startParticle(state);
    for (const LatticeElement& e : elements)
        append(state, e);
    state.line.chainPositions();
    return state;
}

LatticeElement element(int elementCode, double length)
{
    LatticeElement e;
    e.code = elementCode;
    e.length = length;
    return e;
}

// The kick of one order against (knl + i ksl) z^n / n! by the complex power, normal and skew.
TEST(ElementKindsTracking, ThinMultipoleKicksAsTheClosedFormOfEachOrder)
{
    const std::complex<double> z(3e-3, -2e-3);
    for (int n = 0; n <= kMaxMultipoleOrder; ++n)
        for (const bool skew : {false, true}) {
            LatticeElement m = element(code::kThinMultipole, 0);
            const double strength = 0.7 * std::pow(10.0, n);
            (skew ? m.ksl : m.knl).assign(static_cast<std::size_t>(n) + 1, 0);
            (skew ? m.ksl : m.knl)[static_cast<std::size_t>(n)] = strength;
            const SymplecticLattice lattice = test::latticeOf(lineOf({m}));
            ParticleBlock b;
            b.add({z.real(), 0, z.imag(), 0, 1e-3, 0}, 0);
            pushElement(lattice.cell[0], b);
            const std::complex<double> c = skew ? std::complex<double>(0, strength) : strength;
            const std::complex<double> kick = -c * std::pow(z, n) / std::tgamma(n + 1.0);
            const double scale = std::abs(kick);
            EXPECT_NEAR(b.px[0], kick.real(), 1e-13 * scale) << n << skew;
            EXPECT_NEAR(b.py[0], -kick.imag(), 1e-13 * scale) << n << skew;
            EXPECT_EQ(b.x[0], z.real());
        }
}

// A kicker of length L kicks at its centre (MAD-X's HKICK, VKICK: px += hkick, py += vkick); a horizontal
// one ignores vkick. An octupole of no length and a marker leave the particle alone.
TEST(ElementKindsTracking, KickersKickAtTheirCentre)
{
    for (const int elementCode : {code::kKicker, code::kHorizontalKicker}) {
        LatticeElement k = element(elementCode, 0.4);
        k.hkick = 2e-4;
        k.vkick = -1e-4;
        const State line = lineOf({k, element(code::kOctupole, 0), element(code::kMarker, 0)});
        ParticleBlock b;
        b.add({1e-3, 0, 0, 0, 0, 0}, 0);
        for (const ElementMap& e : test::latticeOf(line).cell)
            pushElement(e, b);
        const double vkick = elementCode == code::kKicker ? -1e-4 : 0;
        EXPECT_NEAR(b.px[0], 2e-4, 1e-18);
        EXPECT_NEAR(b.py[0], vkick, 1e-18);
        EXPECT_NEAR(b.x[0], 1e-3 + 0.2 * 2e-4, 1e-15);
        EXPECT_NEAR(b.y[0], 0.2 * vkick, 1e-15);
    }
}

// The new kinds, rolled magnets and solenoids give the same bits on every instruction set, for full vectors
// and the rest.
TEST(ElementKindsTracking, NewKindsAreTheSameOnEveryWidth)
{
    LatticeElement m = element(code::kThinMultipole, 0);
    m.knl = {1e-4, 0.3, 20, 500, 4e4};
    m.ksl = {0, 0, 7, 0, 0, 3e6};
    LatticeElement o = element(code::kOctupole, 0.4);
    o.k3 = 3000;
    LatticeElement k = element(code::kKicker, 0.2);
    k.hkick = 1e-4;
    k.vkick = -2e-4;
    LatticeElement c = element(code::kRfCavity, 0.5);
    c.voltage = 1e6;
    c.lag = 0.45;
    c.harmonic = 10;
    m.tilt = 0.1;
    LatticeElement s = element(code::kSolenoid, 0.6);
    s.ks = 0.9;
    LatticeElement q = element(code::kQuadrupole, 0.3);
    q.k = 1.2;
    q.k1s = 0.4;
    q.tilt = -0.2;
    LatticeElement w = element(code::kWedgeBend, 1);
    w.curvature = 0.2;
    w.ain = w.aout = 0.1;
    w.tilt = 0.05;
    const SymplecticLattice lattice =
        test::latticeOf(lineOf({m, element(code::kDrift, 1), o, k, c, s, q, w}));
    const auto run = [&] {
        ParticleBlock b;
        for (int j = 0; j < 19; ++j)
            b.add({1e-3 * j, 1e-5 * j, -5e-4 * j, 2e-5, 1e-4 * (j - 9), 1e-3 * j}, j);
        for (const ElementMap& e : lattice.cell)
            pushElement(e, b);
        return b;
    };
    const std::string widest = kernelInstructionSet();
    std::vector<ParticleBlock> results;
    for (const std::string& set : kernelInstructionSets()) {
        ASSERT_TRUE(useKernelInstructionSet(set));
        results.push_back(run());
    }
    useKernelInstructionSet(widest);
    const auto same = [](const double* a, const double* b) {
        return std::memcmp(a, b, 19 * sizeof(double)) == 0;
    };
    for (const ParticleBlock& b : results) {
        const ParticleBlock& first = results[0];
        EXPECT_TRUE(same(b.x, first.x) && same(b.px, first.px) && same(b.y, first.y) &&
                    same(b.py, first.py) && same(b.delta, first.delta) && same(b.l, first.l));
    }
}

// Octupoles in the linear DBA ring (sextupoles off): the tune shifts tracked at three small amplitudes in
// each plane are octupoleDetuning's first-order ones within 2 %.
TEST(ElementKindsTracking, OctupoleDetuningIsTheFirstOrderShift)
{
    // two drifts of the cell become octupoles: one in the straight, one in the arc
    State cell = test::dbaState(0);
    for (const int i : {1, 13}) {
        cell.line.at(i).code = code::kOctupole;
        cell.line.at(i).k3 = 400;
    }
    test::FakeMessages messages;
    State optics = cell;
    const std::optional<OctupoleDetuning> d = octupoleDetuning(optics, messages);
    ASSERT_TRUE(d.has_value());
    ASSERT_GT(std::fabs(d->xx), 1);
    const RunSettings& run = optics.run;
    const SymplecticLattice lattice = test::latticeOf(cell);
    const double tiny = 1e-6;
    const TrackedTunes zero = test::tunesOf(lattice, {tiny, 0, tiny, 0, 0, 0}, 4096);
    for (const bool vertical : {false, true})
        for (const double shift : {4e-4, 8e-4, 1.2e-3}) {
            // J = x^2 / (2 beta) at px = -alpha x / beta, where x reaches the largest value at the start
            const double rate = vertical ? d->yy : d->xx;
            const double j = shift / std::fabs(rate);
            const double beta = vertical ? run.betaY0 : run.betaX0;
            const double alpha = vertical ? run.alphaY0 : run.alphaX0;
            const double a = std::sqrt(2 * j * beta);
            PhaseVector p{tiny, 0, tiny, 0, 0, 0};
            (vertical ? p.y : p.x) = a;
            (vertical ? p.py : p.px) = -alpha * a / beta;
            const TrackedTunes t = test::tunesOf(lattice, p, 4096);
            // a large vertical amplitude modulates the small horizontal one: the cross term from the
            // horizontal rows (dQy/dJx), the vertical rows give dQy/dJy
            const double dqy = std::remainder(t.y - zero.y, 1.0);
            const double expectedY = (vertical ? d->yy : d->xy) * j;
            EXPECT_NEAR(dqy, expectedY, 0.02 * std::fabs(expectedY)) << vertical << shift;
            if (!vertical) {
                EXPECT_NEAR(std::remainder(t.x - zero.x, 1.0), d->xx * j, 0.02 * shift) << shift;
            }
        }
}

// The drifts at the two ends of the straight as cavities of 0.6 and 1.4 MV, and the first as one of 2 MV:
// the same synchrotron tune; the rf window's cavity is not added. (Where there is dispersion the energy
// kick also starts a betatron oscillation whose path length feeds back on the phase: there the tune
// depends on the place.)
TEST(ElementKindsTracking, TwoCavitiesOscillateAsOneOfTheirSum)
{
    const State ring = test::dbaState();
    const auto cavities = [&](std::vector<std::pair<int, double>> voltages) {
        State out = ring;
        for (const auto& [i, voltage] : voltages) {
            LatticeElement& c = out.line.at(i);
            c.code = code::kRfCavity;
            c.voltage = voltage;
            c.lag = 0.45;
            c.harmonic = ring.ringParams.harmonicNumber;
        }
        return out;
    };
    const State one = cavities({{1, 2e6}});
    const State two = cavities({{1, 0.6e6}, {ring.line.count, 1.4e6}});
    const auto qs = [](const State& state) {
        const SymplecticLattice lattice = test::latticeOf(state);
        EXPECT_TRUE(lattice.cavityElements);
        EXPECT_FALSE(lattice.rf.on);
        SymplecticRun run(lattice, {0, 0, 0, 0, 1e-4, 0}, 2048, Aperture{});
        std::vector<PhaseVector> points;
        run.advance(2048, points);
        EXPECT_FALSE(run.lost());
        return trackedTunes(points, true).synchrotron;
    };
    const double q1 = qs(one), q2 = qs(two);
    ASSERT_GT(q1, 1e-4);
    EXPECT_NEAR(q2, q1, 0.01 * q1);
}

// A particle crosses an element's own aperture exactly when it is outside it, at the entrance or at the
// exit of the element (the one-metre aperture drift between two drifts).
TEST(ElementKindsTracking, AParticleIsLostExactlyOutsideTheElementsAperture)
{
    const double e = 1e-9;
    const struct
    {
        ApertureType type;
        std::array<double, 4> a;
        double x, px, y;
        bool lost;
    } rows[] = {
        {ApertureType::Circle, {0.01}, 0.012 - e, 0, 0.001, false}, // the offsets: dx = 2 mm, dy = 1 mm
        {ApertureType::Circle, {0.01}, 0.012 + e, 0, 0.001, true},
        {ApertureType::Circle, {0.01}, 0.002, 0, 0.011 + e, true},
        {ApertureType::Rectangle, {0.02, 0.01}, 0.022 - e, 0, 0.011 - e, false},
        {ApertureType::Rectangle, {0.02, 0.01}, 0.022 - e, 0, 0.011 + e, true},
        {ApertureType::Ellipse, {0.02, 0.01}, 0.002 + 0.02 * 0.6, 0, 0.001 + 0.01 * 0.8 - e, false},
        {ApertureType::Ellipse, {0.02, 0.01}, 0.002 + 0.02 * 0.6, 0, 0.001 + 0.01 * 0.8 + e, true},
        {ApertureType::RectEllipse, {0.02, 0.01, 0.021, 0.02}, 0.022 - e, 0, 0.001, false},
        {ApertureType::RectEllipse, {0.02, 0.01, 0.021, 0.02}, 0.022 - 1e-4, 0, 0.008, true}, // ellipse cut
        {ApertureType::Rectangle, {0.02, 0.01}, 0.022 - e - 1e-3, 1e-3 + 2 * e, 0, true},     // out at exit
        {ApertureType::Rectangle, {0.02, 0.01}, 0.022 + e, -1e-3, 0, true}, // out at entrance
    };
    for (const auto& row : rows) {
        LatticeElement a = element(code::kMonitor, 1);
        a.aperture.type = row.type;
        std::copy(row.a.begin(), row.a.end(), a.aperture.a);
        a.aperture.dx = 0.002;
        a.aperture.dy = 0.001;
        const State line = lineOf({element(code::kDrift, 0.5), a, element(code::kDrift, 0.5)});
        // the start half a metre before the aperture: x at its entrance is row.x
        const PhaseVector start{row.x - 0.5 * row.px, row.px, row.y, 0, 0, 0};
        TrackingOptions options;
        const TrackingOutcome out = trackParticles(test::latticeOf(line), {start}, options);
        EXPECT_EQ(out.particles[0].lost, row.lost) << static_cast<int>(row.type) << " " << row.x;
        if (row.lost) {
            EXPECT_EQ(out.particles[0].element, 2);
        }
    }
}

// One marker of circular aperture r in the linear DBA ring: the dynamic aperture at the start is r
// mapped back, r sqrt(beta_start / beta_there) in each plane (alpha = 0 at the start).
TEST(ElementKindsTracking, DynamicApertureOfOneTightApertureIsItMappedBack)
{
    State state = test::dbaState(0);
    const int after = 5;
    const std::vector<OpticsRow> rows = test::opticsRows(state);
    LatticeElement marker = element(code::kMarker, 0);
    marker.aperture.type = ApertureType::Circle;
    marker.aperture.a[0] = 1e-3;
    state = withElement(state, after, marker);
    test::FakeMessages messages;
    const std::optional<ApertureRing> ring = apertureRing(state, messages);
    ASSERT_TRUE(ring.has_value());
    DynamicApertureSettings settings;
    settings.angles = 3;
    settings.turns = 500;
    settings.resolution = 1e-7;
    const DynamicAperture da = dynamicAperture(*ring, settings, {});
    // from slope 0 at the start 2 J = gamma_0 x^2, the amplitude there sqrt(2 J beta): x = r / sqrt(gamma_0
    // beta), r sqrt(beta_0 / beta) where alpha_0 = 0
    const LatticeFunctions& start = rows[0].lf;
    const LatticeFunctions& there = rows[after].lf;
    EXPECT_NEAR(da.radius[0], 1e-3 / std::sqrt(start.gammaX * there.betaX), 0.005 * da.radius[0]);
    EXPECT_NEAR(da.radius[1], 1e-3 / std::sqrt(start.gammaY * there.betaY), 0.005 * da.radius[1]);
}

TEST(ElementKindsTracking, TheLinearMapsRefuseWhatTheyCannotModel)
{
    LatticeElement o = element(code::kOctupole, 0.2);
    o.name = "O1";
    o.k3 = 10;
    LatticeElement m = element(code::kThinMultipole, 0);
    m.name = "M1";
    m.knl = {0, 0.1, 2, 0.5};
    LatticeElement s = element(code::kThinMultipole, 0);
    s.name = "S1";
    s.ksl = {0, 0, 1};
    const struct
    {
        LatticeElement e;
        const char* text;
    } rows[] = {
        {o, "the linear maps cannot track element 'O1' (2), an octupole: choose the symplectic model"},
        {m, "the linear maps cannot track element 'M1' (2), a multipole of order 3: choose the symplectic "
            "model"},
        {s,
         "the linear maps cannot track element 'S1' (2), a skew multipole of order 2: choose the symplectic "
         "model"},
    };
    for (const auto& row : rows) {
        State state = lineOf({element(code::kDrift, 1), row.e});
        TrackingRequest request;
        test::FakeMessages linear, symplectic;
        EXPECT_FALSE(checkTracking(state, request, linear));
        EXPECT_EQ(linear.errors, std::vector<std::string>{row.text});
        request.model = TrackingModel::Symplectic;
        EXPECT_TRUE(checkTracking(state, request, symplectic));
    }
    // a thin quadrupole and sextupole are tracked: the linear maps' kick is the symplectic one's
    m.knl = {0, 0.1, 2};
    const State state = lineOf({m});
    PhasePoint p{2, 0.1, -1, 0};
    ASSERT_EQ(trackTurn(buildTrackingMaps(state.line, 0), LossLimits{}, p), 0);
    ParticleBlock b;
    b.add({2e-3, 1e-4, -1e-3, 0, 0, 0}, 0);
    pushElement(test::latticeOf(state).cell[0], b);
    EXPECT_NEAR(p.xp, b.px[0] * 1000, 1e-12);
    EXPECT_NEAR(p.yp, b.py[0] * 1000, 1e-12);
}

} // namespace
} // namespace kestrune
