#include "core/orbit/OrbitOptics.h"

#include "CorrectorRing.h"
#include "core/Kinematics.h"
#include "core/coupling/CoupledOptics.h"
#include "core/nonlinear/ChromaticTunes.h"
#include "core/optics/BetaFunctions.h"
#include "core/orbit/OrbitResponse.h"
#include "support/FakeMessages.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <vector>

namespace kestrune {
namespace {

// Eight FODO cells with a bend in each half and a monitor after every quadrupole; in the first cell a
// thin quadrupole T (K1L = 0.02) with a corrector K of no length beside it, where the errors go; with
// cavity, an rf cavity of 1 MV at harmonic 20.
State errorRing(bool cavity = false)
{
    State state;
    startParticle(state);
    state.ringClosed = true;
    const auto add = [&](int elementCode, double length) -> LatticeElement& {
        return test::appendNumbered(state, elementCode, length);
    };
    constexpr int kCells = 8;
    const double h = kTwoPi / (2 * kCells) / 2.0;
    for (int c = 0; c < kCells; ++c) {
        add(code::kQuadrupole, 0.3).k = 0.9;
        add(code::kMonitor, 0);
        add(code::kDrift, 0.4);
        if (c == 0) {
            add(code::kKicker, 0).name = "K";
            LatticeElement& t = add(code::kThinMultipole, 0);
            t.name = "T";
            t.knl = {0, 0.02};
        }
        add(code::kSectorBend, 2.0).curvature = h;
        add(code::kDrift, 0.4);
        add(code::kQuadrupole, 0.3).k = -1.0;
        add(code::kMonitor, 0);
        add(code::kDrift, 0.4);
        add(code::kSectorBend, 2.0).curvature = h;
        add(code::kDrift, 0.4);
    }
    if (cavity) {
        LatticeElement& rf = add(code::kRfCavity, 0.2);
        rf.voltage = 1e6;
        rf.harmonic = 20;
        rf.lag = 0.5;
    }
    state.line.chainPositions();
    return state;
}

int indexOf(const BeamLine& line, const std::string& name)
{
    for (int i = 1; i <= line.count; ++i)
        if (line.at(i).name == name)
            return i;
    return 0;
}

// The offset of the thin quadrupole is a kick K1L dx (K1L dy the other way vertically) at its place: the
// orbit at the monitors is the closed form of the response to a corrector there (closedFormOrbitResponse:
// sqrt(beta_m beta_k) cos(|mu_m - mu_k| - pi Q) / (2 sin pi Q)), with the rf cavity on the orbit of the
// whole turn, whose momentum deviation follows the longer path (the response with the dispersion term).
// What is left is the tracker's nonlinear rest (h x of the bends, 1.5e-5 here), Newton's tolerance (1e-12 m
// of an orbit of 5e-5 m) and, with the rf, the slip 1 / gamma^2 = 2.6e-7 beside alpha_c.
TEST(OrbitOpticsTest, OffsetQuadrupoleGivesTheClosedFormOrbit)
{
    const struct
    {
        double dx, dy;
        bool rf;
    } cases[] = {{2e-5, 0, false}, {0, -3e-5, false}, {2e-5, 0, true}};
    for (const auto& c : cases) {
        State state = errorRing(c.rf);
        LatticeElement& t = state.line.at(indexOf(state.line, "T"));
        t.errors.dx = c.dx;
        t.errors.dy = c.dy;
        const ClosedOrbit orbit = c.rf ? closedOrbit6D(state) : closedOrbit(state);
        ASSERT_TRUE(orbit.found) << orbit.refusal;
        std::string refusal;
        const std::optional<OrbitResponse> response = closedFormOrbitResponse(
            state, c.rf ? ResponseMomentum::FixedFrequency : ResponseMomentum::Fixed, refusal);
        ASSERT_TRUE(response.has_value()) << refusal;
        const double kick[2] = {t.knl[1] * c.dx, -t.knl[1] * c.dy};
        const std::size_t n = response->monitors.size();
        std::vector<double> expected(2 * n);
        double largest = 0;
        for (std::size_t row = 0; row < 2 * n; ++row) {
            expected[row] = response->matrix[row][row / n] * kick[row / n];
            largest = std::max(largest, std::fabs(expected[row]));
        }
        ASSERT_GT(largest, 1e-6);
        for (std::size_t row = 0; row < 2 * n; ++row) {
            const PhaseVector& p = orbit.orbit[static_cast<std::size_t>(response->monitors[row % n])];
            EXPECT_NEAR(row < n ? p.x : p.y, expected[row], 3e-5 * largest)
                << "dx " << c.dx << " dy " << c.dy << " rf " << c.rf << " row " << row;
        }
    }
}

// A quadrupole rolled by dpsi is, to every order, a quadrupole of gradient k cos 2 dpsi with the skew
// gradient k1s = -k sin 2 dpsi: its eigentunes and betas about the orbit are those of the coupled optics
// of that skew quadrupole on the design orbit.
TEST(OrbitOpticsTest, RolledQuadrupoleCouplesAsTheSkewQuadrupole)
{
    for (const double roll : {0.02, -0.06}) {
        State rolled = errorRing();
        State skew = rolled;
        const int q = 1;
        rolled.line.at(q).errors.dpsi = roll;
        LatticeElement& s = skew.line.at(q);
        const double k = s.k;
        s.k = k * std::cos(2 * roll);
        s.k1s = -k * std::sin(2 * roll);
        const OrbitOptics optics = orbitOptics(rolled);
        ASSERT_TRUE(optics.computed) << optics.refusal;
        const CoupledRing ring = coupledRing(skew);
        ASSERT_TRUE(ring.computed) << ring.refusal;
        EXPECT_NEAR(optics.tune1, ring.tune1, 1e-9) << roll;
        EXPECT_NEAR(optics.tune2, ring.tune2, 1e-9) << roll;
        ASSERT_EQ(optics.betaX.size(), ring.functions.size());
        for (std::size_t i = 0; i < ring.functions.size(); ++i) {
            EXPECT_NEAR(optics.betaX[i], ring.functions[i].mr.beta11, 1e-8 * ring.functions[i].mr.beta11);
            EXPECT_NEAR(optics.betaY[i], ring.functions[i].mr.beta22, 1e-8 * ring.functions[i].mr.beta22);
        }
        EXPECT_GT(optics.dispersionYRms, 0);
        EXPECT_GT(optics.betaBeatXRms, 0);
        // the tracked scan of the machine with the roll decomposes its turn as the coupled optics do
        std::string refusal;
        const std::optional<ChromaticTunes> scan = chromaticTunes(rolled, {}, &refusal);
        ASSERT_TRUE(scan.has_value()) << refusal;
        EXPECT_NEAR(scan->tuneX[5], ring.tune1, 1e-8) << roll;
        EXPECT_NEAR(scan->tuneY[5], ring.tune2, 1e-8) << roll;
    }
}

// A gradient error dK1L moves the tunes by +-beta dK1L / (4 pi) to first order; the second order is
// (beta dK1L)^2 / (8 pi tan 2 pi Q) ~ 1e-4 of the shift for beta dK1L ~ 1e-4.
TEST(OrbitOpticsTest, GradientErrorShiftsTheTunesByThePerturbationFormula)
{
    const State design = errorRing();
    const OrbitOptics before = orbitOptics(design);
    ASSERT_TRUE(before.computed) << before.refusal;
    const int t = indexOf(design.line, "T");
    const double betaX = before.betaX[static_cast<std::size_t>(t)];
    const double betaY = before.betaY[static_cast<std::size_t>(t)];
    for (const double dk : {1e-5, -3e-5}) {
        State state = design;
        state.line.at(t).errors.dkn = {0, dk};
        const OrbitOptics after = orbitOptics(state);
        ASSERT_TRUE(after.computed) << after.refusal;
        const double dqx = betaX * dk / (2 * kTwoPi), dqy = -betaY * dk / (2 * kTwoPi);
        EXPECT_NEAR(after.tune1 - before.tune1, dqx, 2e-3 * std::fabs(dqx)) << dk;
        EXPECT_NEAR(after.tune2 - before.tune2, dqy, 2e-3 * std::fabs(dqy)) << dk;
        EXPECT_GT(after.betaBeatXMax, after.betaBeatXRms);
        EXPECT_EQ(after.dispersionYRms, 0);
    }
}

// The chromaticity about the closed orbit, from the element maps about the orbits at +-h and +-2 h, is
// the slope of the tunes of the whole turn's Jacobians fitted over +-1e-4 (a second method), for the
// design and for the ring whose corrector K kicks. The thin sextupole at T then sees the orbit x there:
// against the same ring without it the tunes move by its feed-down, beta k2l x / (4 pi) and
// -beta k2l x / (4 pi) (the bends' own feed-down, h x of their body, being in both).
TEST(OrbitOpticsTest, ChromaticityAboutTheOrbitIsTheSlopeOfTheTrackedTunes)
{
    State design = errorRing();
    const int t = indexOf(design.line, "T");
    const std::size_t at = static_cast<std::size_t>(t);
    for (const double kick : {0.0, 2e-4}) {
        State state = design;
        state.line.at(indexOf(state.line, "K")).hkick = kick;
        const OrbitOptics without = orbitOptics(state);
        state.line.at(t).knl = {0, 0.02, 2.0};
        const OrbitChromaticity c = orbitChromaticity(state);
        ASSERT_TRUE(c.computed) << c.refusal;
        ChromaticScan scan;
        scan.range = 1e-4;
        std::string why;
        const std::optional<ChromaticTunes> fit = chromaticTunes(state, scan, &why);
        ASSERT_TRUE(fit) << why;
        EXPECT_NEAR(c.chromaticity1, fit->qx[1], 1e-6) << kick;
        EXPECT_NEAR(c.chromaticity2, fit->qy[1], 1e-6) << kick;
        const OrbitOptics with = orbitOptics(state);
        ASSERT_TRUE(without.computed && with.computed) << with.refusal;
        const double k1l = 2.0 * with.orbit.orbit[at].x;
        const double dqx = without.betaX[at] * k1l / (2 * kTwoPi),
                     dqy = -without.betaY[at] * k1l / (2 * kTwoPi);
        EXPECT_NEAR(with.tune1 - without.tune1, dqx, 0.01 * std::fabs(dqx) + 1e-12) << kick;
        EXPECT_NEAR(with.tune2 - without.tune2, dqy, 0.01 * std::fabs(dqy) + 1e-12) << kick;
    }
}

// Refusals say why and hold no number: a ring without a cavity has no orbit with the rf on; a kick that
// throws the particle out has none at all.
TEST(OrbitOpticsTest, RefusalsNameTheirReason)
{
    const ClosedOrbit noRf = closedOrbit6D(errorRing());
    EXPECT_FALSE(noRf.found);
    EXPECT_EQ(noRf.refusal, "no closed orbit: the ring has no rf cavity");
    State lost = errorRing();
    lost.line.at(indexOf(lost.line, "K")).hkick = 0.5;
    const OrbitOptics optics = orbitOptics(lost);
    EXPECT_FALSE(optics.computed);
    EXPECT_EQ(optics.refusal.rfind("no closed orbit: ", 0), 0u) << optics.refusal;
}

struct CollectedPoints : PlotSink
{
    std::vector<std::pair<double, LatticeFunctions>> points;
    void point(double s, const LatticeFunctions& lf) override { points.emplace_back(s, lf); }
};

// The pass about the orbit in a ring without sextupoles: the orbit of an offset quadrupole leaves the
// betas those of the design's uncoupled periodic solution (the linear optics, a second method; the rest
// is the bends' h x, 1e-5), and the orbit is drawn off the axis. A kick that throws the particle out is
// refused through the messages with nothing drawn.
TEST(OrbitOpticsTest, PassDrawsTheDesignBetasAboutTheOrbitOrRefuses)
{
    State state = errorRing();
    state.line.at(indexOf(state.line, "T")).errors.dx = 2e-5;
    CollectedPoints plot;
    test::FakeMessages messages;
    ASSERT_TRUE(orbitOpticsPass(state, messages, &plot, nullptr));
    State design = state;
    ASSERT_TRUE(periodicSolution(design, messages));
    design.run.showBetaFunctions = true;
    RowCollector rows;
    linePass(design, messages, nullptr, &rows);
    ASSERT_EQ(rows.rows.size(), plot.points.size());
    double largest = 0;
    for (std::size_t i = 0; i < rows.rows.size(); ++i) {
        const LatticeFunctions& lf = plot.points[i].second;
        EXPECT_NEAR(plot.points[i].first, rows.rows[i].s, 1e-9) << i;
        EXPECT_NEAR(lf.betaX, rows.rows[i].lf.betaX, 1e-4 * lf.betaX) << i;
        EXPECT_NEAR(lf.betaY, rows.rows[i].lf.betaY, 1e-4 * lf.betaY) << i;
        largest = std::max(largest, std::fabs(lf.x));
    }
    EXPECT_GT(largest, 1e-3); // mm
    State lost = errorRing();
    lost.line.at(indexOf(lost.line, "K")).hkick = 0.5;
    CollectedPoints none;
    test::FakeMessages refused;
    EXPECT_FALSE(orbitOpticsPass(lost, refused, &none, nullptr));
    EXPECT_TRUE(none.points.empty());
    ASSERT_EQ(refused.errors.size(), 1u);
    EXPECT_EQ(refused.errors[0].rfind("no closed orbit: ", 0), 0u) << refused.errors[0];
}

} // namespace
} // namespace kestrune
