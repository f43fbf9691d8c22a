#include "core/optics/BetaFunctions.h"

#include "core/Format.h"
#include "core/Kinematics.h"
#include "core/io/Listing.h"
#include "core/optics/TransferMatrix.h"
#include "support/FakeMessages.h"
#include "support/PassRecorder.h"

#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <vector>

namespace kestrune {

namespace {

using test::ListRow;
using test::RecordingList;
using test::RecordingPlot;

// Thin-lens FODO: lens spacing kSpacing, focal length kFocal, quadrupoles of length kQuadLength.
constexpr double kSpacing = 2.0;
constexpr double kFocal = 2.0;
constexpr double kQuadLength = 1e-3;
constexpr double kQuadK = 1 / (kFocal * kQuadLength);

struct Fixture
{
    State state;
    test::FakeMessages messages;
    RecordingPlot plot{state.run};
    RecordingList list;

    Fixture() { startParticle(state); }

    LatticeElement& add(int elementCode, double length, double curvature = 0, double k = 0)
    {
        ++state.line.count;
        LatticeElement& e = state.line.at(state.line.count);
        e = LatticeElement{};
        e.code = elementCode;
        e.length = length;
        e.curvature = curvature;
        e.k = k;
        state.line.chainPositions();
        return e;
    }

    void quad(double length, double k) { add(code::kQuadrupole, length, 0, k); }

    // rectangular bend of angle theta with faces theta/2, for the edge steps
    void rectangularBend(double length, double theta)
    {
        LatticeElement& e = add(code::kRectangularBend, length, theta / length);
        e.ain = theta / 2;
        e.aout = theta / 2;
        e.gap = 0.03;
    }

    // FODO cell from the centre of QF; with a bending angle theta per half cell in sector bends
    // that fill the space between the quadrupoles
    void fodoCell(double theta = 0)
    {
        const double gap = kSpacing - kQuadLength;
        quad(kQuadLength / 2, kQuadK);
        add(theta == 0 ? code::kDrift : code::kSectorBend, gap, theta / gap);
        quad(kQuadLength, -kQuadK);
        add(theta == 0 ? code::kDrift : code::kSectorBend, gap, theta / gap);
        quad(kQuadLength / 2, kQuadK);
    }

    void betaMode() { state.run.showBetaFunctions = true; }

    void shortSteps(double maxStep, int maxSteps)
    {
        state.run.stepAtElementEnds = false;
        state.run.maxStep = maxStep;
        state.run.maxSteps = maxSteps;
    }
};

// thin-lens FODO closed forms: sin(mu/2) = L/(2f), beta = 2L (1 +- sin(mu/2)) / sin(mu),
// eta = L theta (1 +- sin(mu/2)/2) / sin^2(mu/2) (theta per half cell)
double fodoMu()
{
    return 2 * std::asin(kSpacing / (2 * kFocal));
}

} // namespace

// ---------------------------------------------------------------- periodic solution

TEST(PeriodicSolution, ThinLensFodoMatchesTheClosedForms)
{
    const double theta = 0.01;
    Fixture f;
    f.fodoCell(theta);
    ASSERT_TRUE(periodicSolution(f.state, f.messages));
    EXPECT_TRUE(f.messages.errors.empty());
    const double mu = fodoMu();
    const double sinHalf = std::sin(mu / 2);
    const double betaMax = 2 * kSpacing * (1 + sinHalf) / std::sin(mu);
    const double betaMin = 2 * kSpacing * (1 - sinHalf) / std::sin(mu);
    const double etaMax = kSpacing * theta * (1 + sinHalf / 2) / (sinHalf * sinHalf);
    // thick-lens and finite-bend corrections are of order (l_q / f) and theta^2: well below 1e-3
    const RunSettings& run = f.state.run;
    EXPECT_NEAR(run.betaX0 / betaMax, 1, 1e-3);
    EXPECT_NEAR(run.betaY0 / betaMin, 1, 1e-3);
    EXPECT_NEAR(run.alphaX0, 0, 1e-9);
    EXPECT_NEAR(run.alphaY0, 0, 1e-9);
    EXPECT_NEAR(run.gammaX0 * run.betaX0, 1, 1e-12);
    EXPECT_NEAR(run.etaX0 / etaMax, 1, 1e-3);
    EXPECT_NEAR(run.etaPX0, 0, 1e-9);
    EXPECT_TRUE(run.showBetaFunctions);
    EXPECT_TRUE(run.periodicAvailable);

    // one pass over the cell: the phase advance is mu, beta and eta at the QD are the minima
    linePass(f.state, f.messages, nullptr, &f.list);
    EXPECT_NEAR(f.state.lf.phiX, mu / kTwoPi, 1e-3 * mu / kTwoPi);
    EXPECT_NEAR(f.state.lf.phiY, mu / kTwoPi, 1e-3 * mu / kTwoPi);
    const ListRow& atQd = f.list.rows[3].values;
    EXPECT_NEAR(atQd[0] / betaMin, 1, 2e-3);
    const double etaMin = kSpacing * theta * (1 - sinHalf / 2) / (sinHalf * sinHalf);
    EXPECT_NEAR(atQd[3] / etaMin, 1, 2e-3);
}

TEST(PeriodicSolution, CellStartedBetweenSymmetryPointsGivesThePropagatedValues)
{
    // reference cell from the QF centre: QF/2, bend, drift, drift, QD, bend, drift, drift, QF/2
    auto build = [](Fixture& f, const std::vector<int>& order) {
        for (const int part : order) {
            switch (part) {
            case 0:
                f.quad(kQuadLength / 2, 1.6 * kQuadK);
                break;
            case 1:
                f.rectangularBend(1.0, 0.05);
                break;
            case 2:
                f.add(code::kDrift, 0.4);
                break;
            case 3:
                f.add(code::kDrift, 0.6 - kQuadLength);
                break;
            case 4:
                f.quad(kQuadLength, -1.6 * kQuadK);
                break;
            }
        }
    };
    Fixture reference;
    build(reference, {0, 1, 2, 3, 4, 1, 2, 3, 0});
    ASSERT_TRUE(periodicSolution(reference.state, reference.messages));
    linePass(reference.state, reference.messages, nullptr, &reference.list);
    const ListRow& between = reference.list.rows[3].values; // after the first drift half
    const double tuneX = reference.state.lf.phiX;
    const double tuneY = reference.state.lf.phiY;

    Fixture shifted;
    build(shifted, {3, 4, 1, 2, 3, 0, 0, 1, 2});
    ASSERT_TRUE(periodicSolution(shifted.state, shifted.messages));
    // here the diagonal element alone would call this stable cell unstable
    const auto& m = shifted.state.matrix.m;
    EXPECT_GT(std::fabs(m[kY][kY]), 1);
    EXPECT_TRUE(shifted.messages.errors.empty());
    const RunSettings& run = shifted.state.run;
    EXPECT_NEAR(run.betaX0, between[0], 1e-9);
    EXPECT_NEAR(run.alphaX0, between[1], 1e-9);
    EXPECT_NEAR(run.etaX0, between[3], 1e-9);
    EXPECT_NEAR(run.etaPX0, between[4], 1e-9);
    EXPECT_NEAR(run.betaY0, between[5], 1e-9);
    EXPECT_NEAR(run.alphaY0, between[6], 1e-9);
    linePass(shifted.state, shifted.messages, nullptr, nullptr);
    EXPECT_NEAR(shifted.state.lf.phiX, tuneX, 1e-9);
    EXPECT_NEAR(shifted.state.lf.phiY, tuneY, 1e-9);
}

TEST(PeriodicSolution, UnstableCellWithSmallDiagonalIsRejected)
{
    // thin QF (f = 2 m), 1 m, thin QD (f = 1 m), 1 m: M[x][x] = 0.5 but half trace 1.25
    Fixture f;
    f.quad(kQuadLength, 1 / (2 * kQuadLength));
    f.add(code::kDrift, 1 - kQuadLength);
    f.quad(kQuadLength, -1 / (1 * kQuadLength));
    f.add(code::kDrift, 1 - kQuadLength);
    f.state.run.betaX0 = 7;
    f.state.run.betaY0 = 8;
    periodicSolution(f.state, f.messages);
    ASSERT_LT(std::fabs(f.state.matrix.m[kX][kX]), 1);
    ASSERT_FALSE(f.messages.errors.empty());
    EXPECT_EQ(f.messages.errors[0], "no periodic solution for at least one beta-function!");
    EXPECT_EQ(f.state.run.betaX0, 7);
    EXPECT_EQ(f.state.run.betaY0, 8);
}

TEST(PeriodicSolution, SingleDriftHasNoSolution)
{
    Fixture f;
    f.add(code::kDrift, 3);
    f.state.run.betaX0 = 7;
    f.state.run.etaX0 = 0.4;
    EXPECT_FALSE(periodicSolution(f.state, f.messages));
    ASSERT_EQ(f.messages.errors.size(), 2u);
    EXPECT_EQ(f.messages.errors[0], "no periodic solution for at least one beta-function!");
    EXPECT_EQ(f.messages.errors[1], "no solution for eta-function! ");
    EXPECT_EQ(f.state.run.betaX0, 7);
    EXPECT_EQ(f.state.run.etaX0, 0);
    EXPECT_FALSE(f.state.run.periodicAvailable);
}

TEST(PeriodicSolution, SlicingDoesNotChangeTheSolution)
{
    Fixture coarse;
    coarse.fodoCell(0.02);
    ASSERT_TRUE(periodicSolution(coarse.state, coarse.messages));
    Fixture fine;
    fine.fodoCell(0.02);
    fine.shortSteps(-0.9, 200); // trunc(L / 0.1) + 1 slices
    ASSERT_TRUE(periodicSolution(fine.state, fine.messages));
    EXPECT_NEAR(fine.state.run.betaX0, coarse.state.run.betaX0, 1e-10);
    EXPECT_NEAR(fine.state.run.etaX0, coarse.state.run.etaX0, 1e-12);
}

// ---------------------------------------------------------------- beam-line pass

TEST(LinePass, PassFromThePeriodicValuesClosesOnThem)
{
    Fixture f;
    f.quad(0.1, 2.0);
    f.add(code::kDrift, 0.3);
    f.rectangularBend(1.2, 0.1);
    f.add(code::kSextupoleF, 0.2).m = 30;
    f.add(code::kSectorBend, 0.8, 0.05, -0.1);
    f.quad(0.2, -2.0);
    f.add(code::kWedgeBend, 1.0, 0.08).ain = 0.03;
    f.add(code::kPump, 0);
    f.add(code::kDrift, 0.5);
    f.quad(0.1, 2.0);
    f.shortSteps(0.05, 20);
    ASSERT_TRUE(periodicSolution(f.state, f.messages));
    EXPECT_TRUE(f.messages.errors.empty());
    linePass(f.state, f.messages, &f.plot, nullptr);
    const RunSettings& run = f.state.run;
    const LatticeFunctions& lf = f.state.lf;
    EXPECT_NEAR(lf.betaX, run.betaX0, 1e-9);
    EXPECT_NEAR(lf.alphaX, run.alphaX0, 1e-9);
    EXPECT_NEAR(lf.betaY, run.betaY0, 1e-9);
    EXPECT_NEAR(lf.alphaY, run.alphaY0, 1e-9);
    EXPECT_NEAR(lf.eta, run.etaX0, 1e-12);
    EXPECT_NEAR(lf.etaP, run.etaPX0, 1e-12);
    EXPECT_NEAR(f.plot.points.back().s, f.state.line.endPosition(), 1e-12);
}

TEST(LinePass, DriftPhaseAdvanceFromAWaist)
{
    for (const double length : {0.5, 3.0, 400.0}) {
        Fixture f;
        f.betaMode();
        f.add(code::kDrift, length);
        f.state.run.betaX0 = 2;
        f.state.run.alphaX0 = 0;
        f.state.run.gammaX0 = 0.5;
        linePass(f.state, f.messages, nullptr, nullptr);
        EXPECT_NEAR(f.state.lf.phiX, std::atan(length / 2) / kTwoPi, 1e-14);
        EXPECT_LT(f.state.lf.phiX, 0.25);
        EXPECT_NEAR(f.state.lf.betaX, 2 + length * length / 2, 1e-9 * length * length);
    }
}

TEST(LinePass, PhaseBeyondAQuarterInOneStep)
{
    // beta = 1/sqrt(k), alpha = 0 is matched to a focusing quadrupole: the phase grows as sqrt(k) l
    for (const double psi : {1.0, 2.5, 4.0}) {
        Fixture f;
        f.betaMode();
        const double k = 4;
        f.quad(psi / 2, k);
        f.state.run.betaX0 = 0.5;
        f.state.run.alphaX0 = 0;
        f.state.run.gammaX0 = 2;
        linePass(f.state, f.messages, nullptr, nullptr);
        EXPECT_NEAR(f.state.lf.phiX, psi / kTwoPi, 1e-12) << psi;
        EXPECT_NEAR(f.state.lf.betaX, 0.5, 1e-12);
    }
}

TEST(LinePass, EmptyLineListsTheStartRowAndPlotsOnePoint)
{
    Fixture f;
    f.betaMode();
    f.state.run.betaX0 = 3;
    f.state.run.betaY0 = 4;
    f.state.run.etaX0 = 0.2;
    linePass(f.state, f.messages, &f.plot, &f.list);
    ASSERT_EQ(f.list.rows.size(), 1u);
    EXPECT_EQ(f.list.rows[0].index, 0);
    EXPECT_EQ(f.list.rows[0].values[0], 3);
    EXPECT_EQ(f.list.rows[0].values[8], 0);
    ASSERT_EQ(f.plot.points.size(), 1u);
    EXPECT_EQ(f.plot.points[0].s, 0);
    EXPECT_EQ(f.plot.points[0].v1, 3);
    EXPECT_EQ(f.plot.points[0].v2, 4);
    EXPECT_NEAR(f.plot.points[0].v3, 2, 1e-15);
}

TEST(LinePass, StepCounts)
{
    Fixture f;
    f.betaMode();
    f.shortSteps(0.01, 0);
    f.add(code::kDrift, 10);                       // 1000 steps wanted, at most 20
    f.add(code::kDrift, 0.035);                    // 3 steps
    f.add(code::kEinzelLens, 1);                   // always 1
    f.add(code::kElectrostatic, 1).electrodes = 5; // one step per gap
    f.rectangularBend(0.001, 0.001);               // at least 1 step, plus a point per face
    linePass(f.state, f.messages, &f.plot, &f.list);
    EXPECT_EQ(f.state.run.maxSteps, 20);
    EXPECT_EQ(f.plot.points.size(), 1u + 20 + 3 + 1 + 4 + 3);
    EXPECT_EQ(f.list.rows.size(), 6u);
    EXPECT_EQ(f.list.rows.back().index, 5);
    EXPECT_NEAR(f.list.rows.back().values[8], f.state.line.endPosition(), 1e-12);

    // with one step per element, the accelerator still takes one step per gap
    f.plot.points.clear();
    f.state.run.stepAtElementEnds = true;
    linePass(f.state, f.messages, &f.plot, nullptr);
    EXPECT_EQ(f.plot.points.size(), 1u + 1 + 1 + 1 + 4 + 3);
}

TEST(LinePass, SlicesAreCappedPerElementAndPerLine)
{
    Fixture f;
    f.betaMode();
    f.shortSteps(1e-6, 2000000000); // a file may ask for two billion steps of a micrometre
    f.add(code::kDrift, 1e5);
    linePass(f.state, f.messages, &f.plot, nullptr);
    EXPECT_EQ(f.plot.points.size(), 1u + kMaxElementSlices);
    EXPECT_EQ(periodicSteps(f.state.run, f.state.line.at(1), f.state.line.sliceCap()), kMaxElementSlices);

    // a full table shares the line's slices: a million elements take one each
    f.state.line.count = kMaxLineElements;
    EXPECT_EQ(f.state.line.sliceCap(), kMaxLineSlices / kMaxLineElements);
}

TEST(LinePass, TooManyElectrodesAreCutToTen)
{
    Fixture f;
    f.betaMode();
    f.add(code::kElectrostatic, 1).electrodes = 20000;
    linePass(f.state, f.messages, &f.plot, nullptr);
    ASSERT_EQ(f.messages.errors.size(), 1u);
    EXPECT_EQ(f.messages.errors[0], "20000.000 electrodes! reduce! Number of electrodes set to 10!");
    EXPECT_EQ(f.plot.points.size(), 1u + 9);
    EXPECT_NEAR(f.plot.points.back().s, 1, 1e-12);
}

TEST(LinePass, AcceleratorWithoutAGapIsADriftOverItsLength)
{
    // one electrode makes no gap; the length still counts, so the curves stay under the drawing
    Fixture f;
    f.betaMode();
    f.add(code::kElectrostatic, 0.25).electrodes = 1;
    f.state.run.betaX0 = 2;
    f.state.run.gammaX0 = 0.5;
    linePass(f.state, f.messages, &f.plot, nullptr);
    ASSERT_EQ(f.plot.points.size(), 2u);
    EXPECT_NEAR(f.plot.points.back().s, 0.25, 1e-15);
    EXPECT_NEAR(f.state.lf.betaX, 2 + 0.25 * 0.25 / 2, 1e-14);
    EXPECT_TRUE(f.messages.errors.empty());
}

TEST(LinePass, LinacDampsAndTheNextPassRestoresTheMomentum)
{
    Fixture f;
    f.state.run.showBeamSize = true;
    f.add(code::kLinac, 2).linacField = 50e6;
    f.add(code::kDrift, 1);
    f.state.run.epsXIn = 1e-7;
    f.state.run.epsYIn = 1e-8;
    f.state.run.delta = 1e-3;
    const double start = f.state.beam.momentum;
    const double ratio = 1 + 50e6 * 2 / (f.state.beam.beta * start);
    linePass(f.state, f.messages, &f.plot, &f.list);
    const double after = f.state.beam.momentum;
    EXPECT_NEAR(after, start * ratio, 1e-6);
    EXPECT_NEAR(f.state.lf.epsX, 1e-7 / ratio, 1e-20);
    EXPECT_NEAR(f.state.lf.epsY, 1e-8 / ratio, 1e-21);
    EXPECT_NEAR(f.state.lf.delta, 1e-3 / ratio, 1e-16);
    // the beam size curve shows the damped emittance: sqrt(eps beta) in mm
    EXPECT_NEAR(f.plot.points.back().v2, -std::sqrt(f.state.lf.epsY * f.state.lf.betaY) * 1000, 1e-12);

    linePass(f.state, f.messages, nullptr, nullptr);
    EXPECT_NEAR(f.state.beam.momentum, after, 1e-6);
    EXPECT_EQ(f.state.beam.referenceMomentum, start);
}

TEST(LinePass, CurveValuesOfTheThreeModes)
{
    Fixture f;
    f.state.run.betaX0 = 4;
    f.state.run.betaY0 = 9;
    f.state.run.etaX0 = 0.5;
    f.state.run.epsXIn = 1e-6;
    f.state.run.epsYIn = 4e-6;
    f.state.run.delta = 2e-3;
    f.state.run.x0 = 1;
    f.state.run.y0 = -2;
    f.state.run.d0 = 0.3;

    f.state.run.showBeamSize = true;
    linePass(f.state, f.messages, &f.plot, nullptr);
    // sigma_x = sqrt(4e-6) m = 2 mm plus eta delta = 1 mm; sigma_y = 6 mm drawn below the axis
    EXPECT_NEAR(f.plot.points[0].v1, 3, 1e-12);
    EXPECT_NEAR(f.plot.points[0].v2, -6, 1e-12);
    EXPECT_NEAR(f.plot.points[0].v3, 5, 1e-12);

    f.plot.points.clear();
    f.state.run.showBeamSize = false;
    f.state.run.showTrajectory = true;
    linePass(f.state, f.messages, &f.plot, nullptr);
    EXPECT_EQ(f.plot.points[0].v1, 1);
    EXPECT_EQ(f.plot.points[0].v2, -2);
    EXPECT_NEAR(f.plot.points[0].v3, 3, 1e-12);
}

TEST(LinePass, TrajectoryThroughDriftAndDipole)
{
    // x in mm and mrad: a drift moves x by l x'; a dipole adds R16 delta and the dispersion D
    Fixture f;
    f.state.run.showTrajectory = true;
    f.add(code::kDrift, 3);
    const double rho = 5;
    const double phi = 0.4;
    f.add(code::kSectorBend, rho * phi, 1 / rho);
    f.state.run.x0 = 1;
    f.state.run.xp0 = 2;
    f.state.run.y0 = 0.5;
    f.state.run.yp0 = -1;
    f.state.run.delta = 1;
    linePass(f.state, f.messages, nullptr, &f.list);
    const double x1 = 1 + 3 * 2;
    const double c = std::cos(phi);
    const double s = std::sin(phi);
    EXPECT_NEAR(f.state.lf.x, c * x1 + rho * s * 2 + rho * (1 - c) * 1, 1e-12);
    EXPECT_NEAR(f.state.lf.xp, -s / rho * x1 + c * 2 + s * 1, 1e-12);
    EXPECT_NEAR(f.state.lf.y, 0.5 - (3 + rho * phi), 1e-12);
    EXPECT_NEAR(f.state.lf.d, rho * (1 - c), 1e-12);
    EXPECT_NEAR(f.state.lf.dp, s, 1e-12);
    // the lattice functions are not carried in this mode
    EXPECT_EQ(f.list.rows.back().values[2], 0);
}

// ---------------------------------------------------------------- ring pass

TEST(RingPass, TunesOfARingOfFodoCells)
{
    Fixture f;
    f.fodoCell(0.02);
    f.fodoCell(0.02);
    f.state.line.superPeriods = 4;
    ASSERT_TRUE(betaFunctions(f.state, f.messages, &f.list));
    // thin-lens closed form; 8 cells in the ring
    const double tune = 8 * fodoMu() / kTwoPi;
    EXPECT_NEAR(f.state.lf.tuneX, tune, 1e-3 * tune);
    EXPECT_NEAR(f.state.lf.tuneY, tune, 1e-3 * tune);
    EXPECT_NEAR(f.state.lf.s, 2 * 2 * kSpacing, 1e-12);
    EXPECT_EQ(f.list.rows.size(), 1u + 10);
    EXPECT_EQ(f.list.tunes, (std::array<double, 2>{f.state.lf.tuneX, f.state.lf.tuneY}));
}

TEST(RingPass, NoPeriodicSolutionStopsThePass)
{
    Fixture f;
    f.add(code::kDrift, 2);
    EXPECT_FALSE(betaFunctions(f.state, f.messages, &f.list));
    ASSERT_FALSE(f.messages.errors.empty());
    EXPECT_EQ(f.messages.errors.back(),
              "define desired solution: \rsymmetric solution or trace with beta_o etc.");
    EXPECT_TRUE(f.list.rows.empty());
    EXPECT_TRUE(listLines(f.state).empty());
    EXPECT_EQ(f.messages.listShows, 0);
}

TEST(RingPass, TraceListsEverySlice)
{
    Fixture f;
    f.fodoCell();
    f.shortSteps(0.1, 200);
    ASSERT_TRUE(ringStart(f.state, f.messages, &f.list));
    ringTrace(f.state, f.messages, 2, &f.list); // 1.999 m: trunc(1.999 / 1.1) + 1 = 2 slices
    ASSERT_EQ(f.list.rows.size(), 3u);
    EXPECT_EQ(f.list.rows[0].index, 0);
    EXPECT_EQ(f.list.rows[1].index, 2);
    EXPECT_NEAR(f.list.rows[1].values[8], (kSpacing - kQuadLength) / 2, 1e-15);
    EXPECT_NEAR(f.list.rows[2].values[8], kSpacing - kQuadLength, 1e-15);
    // a drift from the symmetry point: beta grows as beta0 + s^2 / beta0
    const double beta0 = f.state.run.betaX0;
    const double s = kSpacing - kQuadLength;
    EXPECT_NEAR(f.list.rows[1].values[0], beta0 + s * s / 4 / beta0, 1e-12);
    EXPECT_NEAR(f.list.rows[2].values[0], beta0 + s * s / beta0, 1e-12);
    EXPECT_NEAR(f.list.rows[2].values[1], -s / beta0, 1e-12);
}

// The elements whose optics is a drift are carried without their matrix; the same line with each of
// them a quadrupole of no gradient (whose matrix is the drift's) gives the same rows, points and last
// matrix, bit for bit, in every graph mode, with the line ending on a drift or a magnet.
TEST(LinePass, DriftsWithoutTheirMatrixGiveTheSameBits)
{
    struct Case
    {
        bool beamSize, trajectory, endOnDrift;
        double alphaX, etaP;
    };
    for (const Case& c : {Case{false, false, true, 0.7, 0.0}, Case{false, false, false, -1.3, -0.02},
                          Case{true, false, true, 0.2, 0.01}, Case{false, true, true, 0.0, 0.0}}) {
        const auto build = [&c](Fixture& f, bool asQuadrupoles) {
            f.state.run.alphaX0 = c.alphaX;
            f.state.run.gammaX0 = (1 + c.alphaX * c.alphaX) / f.state.run.betaX0;
            f.state.run.etaPX0 = c.etaP;
            f.state.run.showBetaFunctions = !c.beamSize && !c.trajectory;
            f.state.run.showBeamSize = c.beamSize;
            f.state.run.showTrajectory = c.trajectory;
            f.state.run.epsXIn = 1e-7;
            f.state.run.x0 = 1;
            f.state.run.xp0 = -0.5;
            f.shortSteps(0.3, 20);
            for (const int drift : {code::kDrift, code::kMarker, code::kSextupoleF, code::kPump}) {
                f.add(asQuadrupoles ? code::kQuadrupole : drift, drift == code::kMarker ? 0 : 0.7);
                f.quad(0.4, 1.1);
                f.add(code::kSectorBend, 1.5, 0.2, -0.1);
            }
            if (c.endOnDrift)
                f.add(asQuadrupoles ? code::kQuadrupole : code::kDrift, 1.25);
        };
        Fixture drifts;
        Fixture quadrupoles;
        build(drifts, false);
        build(quadrupoles, true);
        linePass(drifts.state, drifts.messages, &drifts.plot, &drifts.list);
        linePass(quadrupoles.state, quadrupoles.messages, &quadrupoles.plot, &quadrupoles.list);
        ASSERT_EQ(drifts.list.rows.size(), quadrupoles.list.rows.size());
        for (std::size_t i = 0; i < drifts.list.rows.size(); ++i)
            EXPECT_EQ(
                std::memcmp(&drifts.list.rows[i].values, &quadrupoles.list.rows[i].values, sizeof(ListRow)),
                0)
                << "row " << i;
        ASSERT_EQ(drifts.plot.points.size(), quadrupoles.plot.points.size());
        EXPECT_EQ(std::memcmp(drifts.plot.points.data(), quadrupoles.plot.points.data(),
                              drifts.plot.points.size() * sizeof(test::Point)),
                  0);
        EXPECT_EQ(std::memcmp(&drifts.state.lf, &quadrupoles.state.lf, sizeof(LatticeFunctions)), 0);
        EXPECT_EQ(
            std::memcmp(drifts.state.matrix.r, quadrupoles.state.matrix.r, sizeof drifts.state.matrix.r), 0);
    }
}

} // namespace kestrune
