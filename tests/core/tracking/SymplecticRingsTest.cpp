// The symplectic tracker on the three rings of the validation set: its tunes are the optics', its
// chromaticity that of independent codes, its one-turn map symplectic, its rf motion the rf window's.
#include "TrackingRings.h"
#include "core/chromaticity/Chromaticity.h"

namespace kestrune {
namespace {

using test::kValidationRings;

using Matrix6 = std::array<std::array<double, 6>, 6>;

double& coordinate(PhaseVector& p, int i)
{
    double* const c[6] = {&p.x, &p.px, &p.y, &p.py, &p.delta, &p.l};
    return *c[i];
}

PhaseVector turnOf(const SymplecticLattice& lattice, const PhaseVector& p)
{
    SymplecticRun run(lattice, p, 1, Aperture{});
    std::vector<PhaseVector> points;
    EXPECT_EQ(run.advance(1, points), 1);
    return run.particle();
}

// The Jacobian of the one-turn map by the five-point stencil, whose error is of fourth order in the step.
Matrix6 jacobian(const SymplecticLattice& lattice, const PhaseVector& at)
{
    constexpr double step = 1e-6;
    Matrix6 m{};
    for (int j = 0; j < 6; ++j) {
        PhaseVector f[4];
        const double offsets[4] = {2 * step, step, -step, -2 * step};
        for (int k = 0; k < 4; ++k) {
            PhaseVector p = at;
            coordinate(p, j) += offsets[k];
            f[k] = turnOf(lattice, p);
        }
        for (int i = 0; i < 6; ++i)
            m[i][j] = (-coordinate(f[0], i) + 8 * coordinate(f[1], i) - 8 * coordinate(f[2], i) +
                       coordinate(f[3], i)) /
                      (12 * step);
    }
    return m;
}

// Largest entry of M^T J M - J, J of the pairs (x, px), (y, py), (delta, l).
double symplecticError(const Matrix6& m)
{
    const auto j = [](int a, int b) {
        return a % 2 == 0 && b == a + 1 ? 1.0 : (b % 2 == 0 && a == b + 1 ? -1.0 : 0.0);
    };
    double worst = 0;
    for (int a = 0; a < 6; ++a)
        for (int b = 0; b < 6; ++b) {
            double sum = 0;
            for (int p = 0; p < 6; ++p)
                for (int q = 0; q < 6; ++q)
                    sum += m[p][a] * j(p, q) * m[q][b];
            worst = std::max(worst, std::fabs(sum - j(a, b)));
        }
    return worst;
}

TEST(SymplecticRings, OnMomentumTunesAreTheOpticsRingTunes)
{
    for (const char* name : kValidationRings) {
        const State state = test::validationRing(name);
        const State optics = test::periodic(state);
        const TrackedTunes t = test::tunesOf(test::latticeOf(state), {1e-6, 0, 1e-6, 0, 0, 0});
        // the linear one-turn map is the optics' to rounding; the FFT with its refinement finds the tune
        // of 2048 turns to about 1e-10
        EXPECT_NEAR(t.x, optics.lf.tuneX - std::floor(optics.lf.tuneX), 1e-9) << name;
        EXPECT_NEAR(t.y, optics.lf.tuneY - std::floor(optics.lf.tuneY), 1e-9) << name;
    }
}

// MAD-X 5.09.03 TWISS from its second-order one-turn map (extra-reference.json): the same curved-frame
// Hamiltonian of the bends with B_y = h + k x and the same pole faces. They agree to about 1e-5 (the
// splitting of the magnets), except 6e-5 of the vertical chromaticity with a gap: TRANSPORT composes its
// second-order face terms with the fringe-corrected edge matrix, which is symplectic only up to terms
// h^2 tan^2(psi) phi.
TEST(SymplecticRings, NaturalChromaticityIsMadxs)
{
    const char* const code = "MAD-X TWISS, second-order map";
    for (const char* name : kValidationRings) {
        State state = test::validationRing(name);
        for (int i = 1; i <= state.line.count; ++i)
            state.line.at(i).m = 0;
        const auto xi = test::trackedChromaticity(state);
        const double x = test::extraReference(name, "natural_chromaticity_x", code);
        const double y = test::extraReference(name, "natural_chromaticity_y", code);
        EXPECT_NEAR(xi[0], x, 1e-4 * std::fabs(x)) << name;
        EXPECT_NEAR(xi[1], y, 1e-4 * std::fabs(y)) << name;
    }
}

TEST(SymplecticRings, ChromaticityWithSextupolesIsMadxs)
{
    const char* const name = "double-bend-sextupoles";
    const char* const code = "MAD-X TWISS, second-order map";
    const auto xi = test::trackedChromaticity(test::validationRing(name));
    EXPECT_NEAR(xi[0], test::extraReference(name, "chromaticity_with_sextupoles_x", code), 1e-4 * 7.5);
    EXPECT_NEAR(xi[1], test::extraReference(name, "chromaticity_with_sextupoles_y", code), 1e-4 * 12);
}

// MAD-X's PTC_TWISS (exact model) integrates the pole faces of rectangular and wedge bends as this tracker
// does: without a gap the chromaticities agree (MAD-X 5.09.03, rect-wedge-gap with HGAP = 0). With the
// gap PTC scales the fringe-field correction of the vertical focusing with the momentum, while TRANSPORT,
// MAD-X's TWISS and this tracker keep it at the reference momentum: 1 % of the vertical chromaticity.
TEST(SymplecticRings, PoleFaceChromaticityIsPtcsWithoutGap)
{
    State state = test::validationRing("rect-wedge-gap");
    auto xi = test::trackedChromaticity(state);
    EXPECT_NEAR(xi[1], test::extraReference("rect-wedge-gap", "natural_chromaticity_y", "MAD-X PTC_TWISS"),
                0.015 * 1.673);
    for (int i = 1; i <= state.line.count; ++i)
        state.line.at(i).gap = 0;
    xi = test::trackedChromaticity(state);
    // the splitting of the magnets leaves about 1e-5 of it
    EXPECT_NEAR(xi[0], -1.163304963, 2e-5);
    EXPECT_NEAR(xi[1], -1.657372908, 3e-5);
}

TEST(SymplecticRings, CorrectedChromaticityStaysCorrected)
{
    State state = test::validationRing("double-bend-sextupoles");
    test::FakeMessages messages;
    radiationIntegrals(state, messages);
    ASSERT_TRUE(correctChromaticity(state, messages, 0, 0));
    const auto xi = test::trackedChromaticity(state);
    EXPECT_NEAR(xi[0], 0, 0.05);
    EXPECT_NEAR(xi[1], 0, 0.05);
}

TEST(SymplecticRings, OneTurnMapIsSymplecticAtZeroAndLargeAmplitude)
{
    for (const char* name : kValidationRings) {
        State state = test::validationRing(name);
        test::computeRf(state);
        const SymplecticLattice lattice = test::latticeOf(state, rfCavity(state));
        ASSERT_TRUE(lattice.rf.on);
        EXPECT_LT(symplecticError(jacobian(lattice, {})), 1e-10) << name;
        const PhaseVector large{5e-3, 2e-4, 3e-3, -1e-4, 2e-3, 1e-3};
        EXPECT_LT(symplecticError(jacobian(lattice, large)), 1e-10) << name;
    }
}

TEST(SymplecticRings, SynchrotronTuneIsTheRfWindows)
{
    for (const char* name : kValidationRings) {
        State state = test::validationRing(name);
        test::computeRf(state);
        const State optics = test::periodic(state);
        const double d = 0.05 * state.rf.energyAcceptance; // small amplitude
        const TrackedTunes t = test::tunesOf(test::latticeOf(state, rfCavity(state)),
                                             {optics.run.etaX0 * d, optics.run.etaPX0 * d, 0, 0, d, 0});
        EXPECT_NEAR(t.synchrotron, state.rf.synchrotronTune, 0.01 * state.rf.synchrotronTune) << name;
    }
}

// 0.9 of the rf window's energy acceptance stays in the bucket for 1000 turns; 1.1 leaves it, loses
// energy turn by turn and reaches an aperture three times the dispersive size of the bucket.
TEST(SymplecticRings, RfAcceptanceDividesSurvivorsFromLost)
{
    for (const char* name : kValidationRings) {
        State state = test::validationRing(name);
        test::computeRf(state);
        const State optics = test::periodic(state);
        const double acceptance = state.rf.energyAcceptance;
        std::vector<PhaseVector> start;
        for (double f : {0.9, 1.1})
            start.push_back({optics.run.etaX0 * f * acceptance, 0, 0, 0, f * acceptance, 0});
        TrackingOptions options;
        options.turns = 1000;
        options.aperture.x = 3 * std::fabs(optics.run.etaX0) * acceptance;
        const TrackingOutcome outcome =
            trackParticles(test::latticeOf(state, rfCavity(state)), start, options);
        EXPECT_FALSE(outcome.particles[0].lost) << name;
        EXPECT_TRUE(outcome.particles[1].lost) << name;
    }
}

} // namespace
} // namespace kestrune
