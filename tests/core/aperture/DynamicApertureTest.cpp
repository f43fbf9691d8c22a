// The dynamic aperture: the linear limit, the sextupoles' shrinking, threads and parts, cancel.
#include "core/aperture/DynamicAperture.h"

#include "ApertureRings.h"
#include "core/orbit/ClosedOrbit.h"
#include "core/orbit/CorrectorRing.h"
#include "core/tracking/ParticleTracker.h"
#include "core/tracking/TrackingRings.h"

#include <cmath>
#include <cstring>

namespace kestrune {
namespace {

bool sameNumbers(const std::vector<double>& a, const std::vector<double>& b)
{
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

// Without sextupoles the motion is linear: a start amplitude survives exactly when its betatron
// amplitude stays inside the aperture at the element end of largest beta, in either plane. The radii lie
// within the search resolution below that limit; the few 0.1 % are the small nonlinear terms of the
// bends' faces and the expanded kinematics at these amplitudes.
TEST(DynamicAperture, WithoutSextupolesIsThePhysicalApertureMappedToTheStart)
{
    const ApertureRing ring = test::dbaRing(0);
    for (const Aperture aperture : {Aperture{0.010, 0.005}, Aperture{0.004, 0.008}}) {
        DynamicApertureSettings settings;
        settings.angles = 9;
        settings.aperture = aperture;
        const DynamicAperture da = dynamicAperture(ring, settings);
        const ApertureBox box = linearAperture(ring, aperture.x, aperture.y);
        for (std::size_t i = 0; i < da.angles.size(); ++i) {
            const double c = std::fabs(std::cos(da.angles[i])), s = std::fabs(std::sin(da.angles[i]));
            const double limit = std::min(c > 1e-12 ? box.x / c : 1.0, s > 1e-12 ? box.y / s : 1.0);
            EXPECT_LE(da.radius[i], limit * 1.002) << i;
            EXPECT_GE(da.radius[i], limit * 0.998 - settings.resolution) << i;
        }
    }
}

// Ten FODO cells of 4 m without bends and one sextupole where beta_x is large, tuned 0.01 below the sum
// resonance Q_x + 2 Q_y = 6 (Q_x = 2.380, Q_y = 1.805): a particle on the midplane keeps y = 0 and meets
// only the sextupole's horizontal motion, which is stable out to the physical aperture, while the
// smallest vertical offset grows on the resonance once x is a few mm.
State sumResonanceRing()
{
    State state;
    startParticle(state);
    updateKinematics(state.beam, EnergyKind::Momentum, 1e9);
    const auto add = [&state](int elementCode, double length, double k = 0) -> LatticeElement& {
        LatticeElement& e = state.line.at(++state.line.count);
        e = LatticeElement{};
        e.code = elementCode;
        e.length = length;
        e.k = k;
        return e;
    };
    for (int cell = 0; cell < 10; ++cell) {
        add(code::kQuadrupole, 0.2, 3.4);
        if (cell == 0) {
            add(code::kDrift, 0.1);
            add(code::kSextupoleF, 0.1).m = 100;
            add(code::kDrift, 1.6);
        } else {
            add(code::kDrift, 1.8);
        }
        add(code::kQuadrupole, 0.2, -2.96);
        add(code::kDrift, 1.8);
    }
    state.line.chainPositions();
    return state;
}

// The ray at 0 finds the vertical limit: just beyond its radius the particle is lost in y, inside the
// horizontal aperture, at an amplitude that a particle with y = 0 exactly survives.
TEST(DynamicAperture, RayOnTheMidplaneSeesTheVerticalInstability)
{
    test::FakeMessages messages;
    ApertureRing ring;
    ring.lattice = buildSymplecticLattice(sumResonanceRing(), messages, {});
    DynamicApertureSettings settings;
    settings.angles = 3;
    settings.aperture = {0.03, 0.015};
    const DynamicAperture da = dynamicAperture(ring, settings);
    const double r = da.radius[0];
    TrackingOptions options;
    options.turns = settings.turns;
    options.aperture = settings.aperture;
    const double beyond = r + 2 * settings.resolution;
    const TrackingOutcome out = trackParticles(
        ring.lattice, {{beyond, 0, kRayOffsetY, 0, 0, 0}, {2 * beyond, 0, 0, 0, 0, 0}}, options);
    ASSERT_TRUE(out.particles[0].lost);
    EXPECT_GT(std::fabs(out.particles[0].final.y), settings.aperture.y);
    EXPECT_LT(std::fabs(out.particles[0].final.x), settings.aperture.x);
    EXPECT_FALSE(out.particles[1].lost) << "the horizontal motion alone is stable at " << 2 * beyond;
    EXPECT_LT(r, 0.006);
}

TEST(DynamicAperture, ShrinksWithTheSextupoleStrength)
{
    double area = 1;
    for (double scale : {0.0, 1.0, 2.0, 3.0}) {
        DynamicApertureSettings settings;
        settings.angles = 11;
        settings.turns = 300;
        const DynamicAperture da = dynamicAperture(test::dbaRing(scale), settings);
        const double now = apertureArea(da.angles, da.radius);
        EXPECT_LT(now, 0.95 * area) << scale;
        area = now;
    }
}

TEST(DynamicAperture, RadiiDoNotDependOnThreadsOrParts)
{
    const ApertureRing ring = test::dbaRing(2);
    DynamicApertureSettings settings;
    settings.angles = 7;
    settings.turns = 200;
    settings.delta = 0.01;
    ScanControl control;
    control.threads = 1;
    const DynamicAperture one = dynamicAperture(ring, settings, control);
    control.threads = 2;
    EXPECT_TRUE(sameNumbers(dynamicAperture(ring, settings, control).radius, one.radius));
    std::vector<double> merged(one.radius.size(), std::nan(""));
    for (int k = 1; k <= 3; ++k) {
        settings.part = {k, 3};
        const DynamicAperture part = dynamicAperture(ring, settings, control);
        for (std::size_t i = 0; i < merged.size(); ++i)
            if (settings.part.holds(static_cast<int>(i)))
                merged[i] = part.radius[i];
    }
    EXPECT_TRUE(sameNumbers(merged, one.radius));
}

// The tracked closed orbit off momentum is the dispersion orbit of the optics; what is left is the
// second-order dispersion, 1.5 m here (a quarter of it at half the deviation).
TEST(DynamicAperture, OffMomentumOrbitIsTheDispersionOrbit)
{
    // a FODO ring: dispersion at the start
    const State state = test::validationRing("fodo-gradient");
    test::FakeMessages messages;
    const std::vector<OpticsRow> rows = test::opticsRows(state);
    const SymplecticLattice lattice = buildSymplecticLattice(state, messages, {});
    for (double delta : {-1e-5, 2e-5}) {
        const PhaseVector orbit = closedOrbit(lattice, delta);
        EXPECT_NEAR(orbit.x, rows[0].lf.eta * delta, 2 * delta * delta);
        EXPECT_NEAR(orbit.px, rows[0].lf.etaP * delta, 2 * delta * delta);
        // and it closes: one turn returns to it
        TrackingOptions options;
        const PhaseVector back = trackParticles(lattice, {orbit}, options).particles[0].final;
        EXPECT_NEAR(back.x, orbit.x, 1e-13);
        EXPECT_NEAR(back.px, orbit.px, 1e-13);
    }
}

// A linear ring with dipole errors moves a particle about its closed orbit as the ring without them moves
// it about the axis, so a ray along x reaches the aperture a where the orbit leaves least room: its radius
// is min over the element ends of (a - |x_co|) / sqrt(gamma_0 beta), with the orbit the orbit module finds
// by its own Newton iteration. Tolerances as in the test without kicks above.
TEST(DynamicAperture, OfARingWithDipoleErrorsIsTakenAboutItsClosedOrbit)
{
    State state = test::correctorRing(false);
    // dipole field errors of the thin multipoles of cells 1, 4 and 7 (rad)
    for (int i = 1, cell = 0; i <= state.line.count; ++i)
        if (state.line.at(i).code == code::kThinMultipole && cell++ % 3 == 1) {
            state.line.at(i).errors.dkn = {3e-4 * (cell - 5)};
            state.line.at(i).errors.dks = {-2e-4};
        }
    test::FakeMessages messages;
    const std::optional<ApertureRing> ring = apertureRing(state, messages);
    ASSERT_TRUE(ring.has_value()) << messages.errors.at(0);
    const ClosedOrbit co = closedOrbit(state);
    ASSERT_TRUE(co.found) << co.refusal;
    const std::vector<OpticsRow> rows = test::opticsRows(state);
    ASSERT_EQ(rows.size(), co.orbit.size());
    DynamicApertureSettings settings;
    settings.angles = 3;
    settings.aperture = {0.01, 0.01};
    const DynamicAperture da = dynamicAperture(*ring, settings);
    EXPECT_NEAR(da.orbit.x, co.orbit[0].x, 1e-10);
    EXPECT_NEAR(da.orbit.py, co.orbit[0].py, 1e-10);
    const double gamma0 = (1 + rows[0].lf.alphaX * rows[0].lf.alphaX) / rows[0].lf.betaX;
    double limit = 1, design = 1;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const double size = std::sqrt(gamma0 * rows[i].lf.betaX);
        limit = std::min(limit, (settings.aperture.x - std::fabs(co.orbit[i].x)) / size);
        design = std::min(design, settings.aperture.x / size);
    }
    ASSERT_LT(limit, design - 5 * settings.resolution); // the orbit takes a good part of the room
    for (const std::size_t ray : {0, 2}) {
        EXPECT_LE(da.radius[ray], limit * 1.002) << ray;
        EXPECT_GE(da.radius[ray], limit * 0.998 - settings.resolution) << ray;
    }
}

TEST(DynamicAperture, CancelStopsTheScanAndProgressEndsAtOne)
{
    const ApertureRing ring = test::dbaRing(1);
    std::atomic<bool> cancel{false};
    std::vector<double> reported;
    ScanControl control;
    control.cancel = &cancel;
    // the first report stops a run far longer than the test
    control.progress = [&](double f) {
        reported.push_back(f);
        cancel = true;
    };
    DynamicApertureSettings settings;
    settings.turns = 10000000;
    const DynamicAperture da = dynamicAperture(ring, settings, control);
    EXPECT_TRUE(da.cancelled);
    EXPECT_TRUE(std::isnan(apertureArea(da.angles, da.radius)));
    ASSERT_FALSE(reported.empty());
    EXPECT_EQ(reported.back(), 1.0);
}

TEST(DynamicAperture, AreaOfRaysIsTheFullCircle)
{
    const std::vector<double> angles = rayAngles(181);
    EXPECT_NEAR(apertureArea(angles, std::vector<double>(181, 2.0)), 4 * M_PI, 1e-3);
    EXPECT_EQ(angles.back(), M_PI);
}

// The grid of the linear ring: a point survives when it lies inside the mapped aperture box.
TEST(ApertureGrid, SurvivorsAreInsideTheMappedAperture)
{
    const ApertureRing ring = test::dbaRing(0);
    ApertureGridSettings settings;
    settings.nx = 13;
    settings.ny = 6;
    settings.turns = 300;
    settings.aperture = {0.01, 0.005};
    const ApertureBox box = linearAperture(ring, 0.01, 0.005);
    settings.xMax = 1.5 * box.x;
    settings.yMax = 1.5 * box.y;
    const ApertureGrid grid = apertureGrid(ring, settings);
    int survivors = 0;
    for (std::size_t k = 0; k < grid.x.size(); ++k) {
        const double margin = std::max(std::fabs(grid.x[k]) / box.x, grid.y[k] / box.y);
        if (std::fabs(margin - 1) < 0.01)
            continue;
        EXPECT_EQ(grid.lost[k], margin > 1) << k;
        survivors += grid.lost[k] ? 0 : 1;
    }
    EXPECT_EQ(survivors, 7 * 3); // the points not within 1 % of the box
}

// Every magnet of the example DBA ring rolled by pi/2: a ring that couples the planes for the optics
// and the tracker, which is the same machine with x and y exchanged. Its rays at 0, pi/4, pi/2, 3 pi/4
// and pi are the original ring's at pi/2, pi/4, 0, pi/4 and pi/2 (the original is symmetric about the
// midplane), within the search resolution and the rays' 1 um start offset.
TEST(DynamicAperture, RolledByAQuarterTurnIsTheRingWithThePlanesExchanged)
{
    State state = test::dbaState();
    State rolled = state;
    for (int i = 1; i <= rolled.line.count; ++i) {
        const int family = familyOf(rolled.line.at(i).code);
        if (family == static_cast<int>(Family::Bend) || family == static_cast<int>(Family::Quadrupole) ||
            family == static_cast<int>(Family::Sextupole))
            rolled.line.at(i).tilt = kPi / 2;
    }
    test::FakeMessages messages;
    const std::optional<ApertureRing> plain = apertureRing(state, messages);
    const std::optional<ApertureRing> turned = apertureRing(rolled, messages);
    ASSERT_TRUE(plain && turned) << (messages.errors.empty() ? "" : messages.errors[0]);
    EXPECT_TRUE(turned->coupled);
    DynamicApertureSettings settings;
    settings.angles = 5;
    settings.turns = 200;
    settings.aperture = {0.02, 0.02};
    const DynamicAperture a = dynamicAperture(*plain, settings);
    const DynamicAperture b = dynamicAperture(*turned, settings);
    const std::size_t partner[] = {2, 1, 0, 1, 2};
    for (std::size_t i = 0; i < 5; ++i)
        EXPECT_NEAR(b.radius[i], a.radius[partner[i]], 3 * settings.resolution) << i;
    EXPECT_GT(a.radius[2], 0.002);
}

} // namespace
} // namespace kestrune
