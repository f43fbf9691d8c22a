#include "core/optics/TransferMatrix.h"

#include "core/Kinematics.h"
#include "support/FakeMessages.h"

#include <array>
#include <cmath>
#include <gtest/gtest.h>

namespace kestrune {

namespace {

using Matrix = std::array<std::array<double, 6>, 6>;

Matrix copyOf(const double (&a)[6][6])
{
    Matrix out{};
    for (int row = 0; row < 6; ++row)
        for (int col = 0; col < 6; ++col)
            out[row][col] = a[row][col];
    return out;
}

Matrix product(const Matrix& a, const Matrix& b)
{
    Matrix out{};
    for (int row = 0; row < 6; ++row)
        for (int col = 0; col < 6; ++col)
            for (int j = 0; j < 6; ++j)
                out[row][col] += a[row][j] * b[j][col];
    return out;
}

double horizontalDet(const Matrix& r)
{
    return r[kX][kX] * r[kXp][kXp] - r[kX][kXp] * r[kXp][kX];
}

double verticalDet(const Matrix& r)
{
    return r[kY][kY] * r[kYp][kYp] - r[kY][kYp] * r[kYp][kY];
}

void expectNear(const Matrix& a, const Matrix& b, double tolerance)
{
    for (int row = 0; row < 6; ++row)
        for (int col = 0; col < 6; ++col)
            EXPECT_NEAR(a[row][col], b[row][col], tolerance) << "entry " << row << "," << col;
}

struct Fixture
{
    State state;
    test::FakeMessages messages;

    Fixture() { startParticle(state); }

    LatticeElement& one(int elementCode, double length)
    {
        state.line.count = 1;
        LatticeElement& e = state.line.at(1);
        e = LatticeElement{};
        e.code = elementCode;
        e.length = length;
        return e;
    }

    Matrix slice(double length)
    {
        elementMatrix(state, messages, 1, length);
        return copyOf(state.matrix.r);
    }

    // the element taken in n equal slices, multiplied into M
    Matrix sliced(int n)
    {
        const double length = state.line.at(1).length;
        resetTotal(state.matrix);
        for (int j = 0; j < n; ++j) {
            elementMatrix(state, messages, 1, length / n);
            multiplyTotal(state.matrix);
        }
        return copyOf(state.matrix.m);
    }
};

Matrix drift(double length)
{
    TransferMatrix t;
    driftMatrix(t, length);
    return copyOf(t.r);
}

// Horizontal motion x'' = -K x + h delta and vertical y'' = k y over a length, integrated with RK4:
// an independent check of the closed-form bend matrices. Returns the columns (x0 = 1), (x0' = 1), (delta =
// 1).
std::array<std::array<double, 2>, 3> integrateBend(double h, double k, double length)
{
    const double kk = h * h + k;
    std::array<std::array<double, 2>, 3> result{};
    const double starts[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    const int steps = 4000;
    const double ds = length / steps;
    for (int c = 0; c < 3; ++c) {
        double x = starts[c][0];
        double xp = starts[c][1];
        const double delta = starts[c][2];
        auto f = [&](double px, double pxp, double& dx, double& dxp) {
            dx = pxp;
            dxp = -kk * px + h * delta;
        };
        for (int j = 0; j < steps; ++j) {
            double k1x, k1p, k2x, k2p, k3x, k3p, k4x, k4p;
            f(x, xp, k1x, k1p);
            f(x + ds / 2 * k1x, xp + ds / 2 * k1p, k2x, k2p);
            f(x + ds / 2 * k2x, xp + ds / 2 * k2p, k3x, k3p);
            f(x + ds * k3x, xp + ds * k3p, k4x, k4p);
            x += ds / 6 * (k1x + 2 * k2x + 2 * k3x + k4x);
            xp += ds / 6 * (k1p + 2 * k2p + 2 * k3p + k4p);
        }
        result[c] = {x, xp};
    }
    return result;
}

} // namespace

// ---------------------------------------------------------------- drift family and zero strengths

TEST(TransferMatrix, DriftMatrixIsIdentityWithLengthInPositionRows)
{
    const Matrix r = drift(2.5);
    for (int row = 0; row < 6; ++row)
        for (int col = 0; col < 6; ++col) {
            double expected = row == col ? 1.0 : 0.0;
            if ((row == kX && col == kXp) || (row == kY && col == kYp))
                expected = 2.5;
            EXPECT_EQ(r[row][col], expected);
        }
}

TEST(TransferMatrix, ZeroStrengthElementsAreExactlyTheDrift)
{
    // nothing is computed for these: the drift matrix is kept unchanged, so equality is exact
    const struct
    {
        int elementCode;
        double curvature, k, linacField;
    } cases[] = {{code::kDrift, 0, 0, 0},
                 {code::kQuadrupole, 0, 0, 0},
                 {code::kRectangularBend, 0, 0, 0},
                 {code::kSectorBend, 0, 0, 0},
                 {code::kWedgeBend, 0, 0, 0},
                 {code::kSextupoleF, 0, 0, 0},
                 {code::kSextupoleD, 0, 0, 0},
                 {code::kPump, 0, 0, 0},
                 {code::kLinac, 0, 0, 0},
                 {3, 0, 1.5, 0},
                 {99, 0.2, 1.5, 0},
                 {57, 0, 360, 0},
                 {code::kQuadrupoleOld1, 0, 0, 0}};
    for (const auto& c : cases) {
        Fixture f;
        LatticeElement& e = f.one(c.elementCode, 0.7);
        e.curvature = c.curvature;
        e.k = c.k;
        e.linacField = c.linacField;
        e.m = 12; // a sextupole strength has no linear effect
        EXPECT_EQ(f.slice(0.7), drift(0.7)) << "code " << c.elementCode;
    }
}

// ---------------------------------------------------------------- bending magnets

TEST(TransferMatrix, QuarterCircleSectorDipole)
{
    // rho = 2 m, phi = pi/2: x = rho sin, dispersion rho (1 - cos)
    Fixture f;
    LatticeElement& e = f.one(code::kSectorBend, kPi);
    e.curvature = 0.5;
    const Matrix r = f.slice(e.length);
    EXPECT_NEAR(r[kX][kX], 0, 1e-15);
    EXPECT_NEAR(r[kX][kXp], 2, 1e-15);
    EXPECT_NEAR(r[kXp][kX], -0.5, 1e-15);
    EXPECT_NEAR(r[kXp][kXp], 0, 1e-15);
    EXPECT_NEAR(r[kX][kDelta], 2, 1e-15);
    EXPECT_NEAR(r[kXp][kDelta], 1, 1e-15);
    // a pure dipole does not focus vertically
    EXPECT_EQ(r[kY][kY], 1.0);
    EXPECT_EQ(r[kY][kYp], kPi);
    EXPECT_EQ(r[kYp][kY], 0.0);
}

TEST(TransferMatrix, BendMatricesSolveTheEquationOfMotion)
{
    // pure dipole, combined function with K > 0, with K < 0 (k < -h^2), and of both signs of h
    const double cases[][2] = {{0.4, 0}, {0.4, 0.6}, {0.4, -0.1}, {0.4, -0.9}, {-0.3, 1.1}, {0.2, -2.5}};
    for (const auto& c : cases) {
        Fixture f;
        LatticeElement& e = f.one(code::kSectorBend, 1.3);
        e.curvature = c[0];
        e.k = c[1];
        const Matrix r = f.slice(e.length);
        const auto cols = integrateBend(c[0], c[1], e.length);
        // RK4 with 4000 steps: error far below 1e-10 for these strengths
        EXPECT_NEAR(r[kX][kX], cols[0][0], 1e-10) << c[0] << " " << c[1];
        EXPECT_NEAR(r[kXp][kX], cols[0][1], 1e-10);
        EXPECT_NEAR(r[kX][kXp], cols[1][0], 1e-10);
        EXPECT_NEAR(r[kXp][kXp], cols[1][1], 1e-10);
        EXPECT_NEAR(r[kX][kDelta], cols[2][0], 1e-10);
        EXPECT_NEAR(r[kXp][kDelta], cols[2][1], 1e-10);
        // vertical: y'' = k y, no h^2 term
        const auto vertical = integrateBend(0, -c[1], e.length);
        EXPECT_NEAR(r[kY][kY], vertical[0][0], 1e-10);
        EXPECT_NEAR(r[kYp][kY], vertical[0][1], 1e-10);
        EXPECT_NEAR(r[kY][kYp], vertical[1][0], 1e-10);
        EXPECT_NEAR(r[kYp][kYp], vertical[1][1], 1e-10);
    }
}

TEST(TransferMatrix, CombinedFunctionWithZeroTotalFocusing)
{
    // h^2 + k = 0: the drift block with only R26 = l h; R16 stays 0
    Fixture f;
    LatticeElement& e = f.one(code::kRectangularBend, 1.0);
    e.curvature = 0.5;
    e.k = -0.25;
    const Matrix r = f.slice(0.8);
    const Matrix d = drift(0.8);
    EXPECT_EQ(r[kX][kX], d[kX][kX]);
    EXPECT_EQ(r[kX][kXp], d[kX][kXp]);
    EXPECT_EQ(r[kXp][kX], d[kXp][kX]);
    EXPECT_EQ(r[kXp][kXp], d[kXp][kXp]);
    EXPECT_EQ(r[kX][kDelta], 0.0);
    EXPECT_NEAR(r[kXp][kDelta], 0.4, 1e-15);
    // the gradient still focuses vertically: k < 0
    EXPECT_NEAR(r[kY][kY], std::cos(0.5 * 0.8), 1e-15);
}

TEST(TransferMatrix, SlicedMagnetsMultiplyToTheWholeMagnet)
{
    const struct
    {
        int elementCode;
        double curvature, k;
    } cases[] = {{code::kSectorBend, 0.35, 0}, {code::kSectorBend, 0.35, 0.8}, {code::kWedgeBend, 0.35, -1.2},
                 {code::kQuadrupole, 0, 2.1},  {code::kQuadrupole, 0, -2.1},   {code::kDrift, 0, 0}};
    for (const auto& c : cases) {
        for (const int n : {2, 7, 50}) {
            Fixture f;
            LatticeElement& e = f.one(c.elementCode, 1.7);
            e.curvature = c.curvature;
            e.k = c.k;
            const Matrix whole = f.sliced(1);
            expectNear(f.sliced(n), whole, 1e-12);
        }
    }
}

TEST(TransferMatrix, EveryBlockHasUnitDeterminant)
{
    const struct
    {
        int elementCode;
        double curvature, k;
    } cases[] = {
        {code::kSectorBend, 0.35, 0},     {code::kSectorBend, 0.35, 0.8}, {code::kSectorBend, 0.35, -1.2},
        {code::kQuadrupole, 0, 3.3},      {code::kQuadrupole, 0, -3.3},   {code::kAlphaFirstHalf, 0, 360},
        {code::kAlphaSecondHalf, 0, 360}, {code::kAlphaFull, 0, 360},     {code::kQuadrupoleOld2, 0, 0.2}};
    for (const auto& c : cases) {
        Fixture f;
        LatticeElement& e = f.one(c.elementCode, 0.9);
        e.curvature = c.curvature;
        e.k = c.k;
        const Matrix r = f.slice(0.9);
        // the alpha-magnet constants carry ten digits
        EXPECT_NEAR(horizontalDet(r), 1, 1e-8) << "code " << c.elementCode << " k " << c.k;
        EXPECT_NEAR(verticalDet(r), 1, 1e-8) << "code " << c.elementCode << " k " << c.k;
    }
}

// ---------------------------------------------------------------- quadrupoles

TEST(TransferMatrix, OldQuadrupoleCodesActAsCode20)
{
    for (const double k : {1.7, -1.7}) {
        Fixture f;
        f.one(code::kQuadrupole, 0.4).k = k;
        const Matrix reference = f.slice(0.4);
        for (const int c : {code::kQuadrupoleOld1, code::kQuadrupoleOld2}) {
            f.one(c, 0.4).k = k;
            EXPECT_EQ(f.slice(0.4), reference) << "code " << c;
        }
    }
}

TEST(TransferMatrix, ShortQuadrupoleIsAThinLensFocusingOnePlane)
{
    // k l = 1/f held fixed while l -> 0: R21 -> -1/f, R43 -> +1/f
    Fixture f;
    const double focal = 2.0;
    const double length = 1e-4;
    f.one(code::kQuadrupole, length).k = 1 / (focal * length);
    Matrix r = f.slice(length);
    EXPECT_NEAR(r[kXp][kX], -1 / focal, 1e-5);
    EXPECT_NEAR(r[kYp][kY], 1 / focal, 1e-5);
    f.one(code::kQuadrupole, length).k = -1 / (focal * length);
    r = f.slice(length);
    EXPECT_NEAR(r[kXp][kX], 1 / focal, 1e-5);
    EXPECT_NEAR(r[kYp][kY], -1 / focal, 1e-5);
    EXPECT_EQ(r[kX][kDelta], 0.0);
    EXPECT_EQ(r[kXp][kDelta], 0.0);
}

// ---------------------------------------------------------------- alpha magnet

TEST(TransferMatrix, AlphaMagnetHalvesMakeTheFullMagnet)
{
    // second half after first half equals the full magnet, dispersion closed: checks the constants
    Fixture f;
    f.one(code::kAlphaFirstHalf, 0).k = 360;
    resetTotal(f.state.matrix);
    elementMatrix(f.state, f.messages, 1, 0);
    multiplyTotal(f.state.matrix);
    f.state.line.at(1).code = code::kAlphaSecondHalf;
    elementMatrix(f.state, f.messages, 1, 0);
    multiplyTotal(f.state.matrix);
    const Matrix halves = copyOf(f.state.matrix.m);
    f.state.line.at(1).code = code::kAlphaFull;
    const Matrix full = f.slice(0);
    expectNear(halves, full, 1e-7);
}

TEST(TransferMatrix, AlphaMagnetIgnoresSliceLengthAndScalesWithRootK)
{
    Fixture f;
    f.one(code::kAlphaFull, 0.3).k = 100;
    const Matrix a = f.slice(0.3);
    const Matrix b = f.slice(7.0);
    EXPECT_EQ(a, b);
    EXPECT_NEAR(a[kX][kXp], -0.23210497, 1e-12);
    EXPECT_NEAR(a[kYp][kY], -0.599436293, 1e-12);
    EXPECT_EQ(a[kX][kX], -1.0);
}

// ---------------------------------------------------------------- energy-changing elements

TEST(TransferMatrix, LinacSectionAcceleratesAndDamps)
{
    Fixture f;
    f.one(code::kLinac, 2.0).linacField = 20e6; // 20 MeV/m on a 1 GeV electron
    f.state.lf.epsX = 4e-8;
    f.state.lf.epsY = 2e-8;
    f.state.lf.delta = 1e-3;
    const double energy = f.state.beam.totalEnergy;
    const double ratio = 1 + 20e6 * 2.0 / (f.state.beam.beta * f.state.beam.momentum);
    const Matrix r = f.slice(2.0);
    // an ultrarelativistic particle gains Ea l; beta differs from 1 by 1.3e-7
    EXPECT_NEAR(f.state.beam.totalEnergy, energy + 40e6, 1.0);
    EXPECT_NEAR(f.state.beam.gamma, f.state.beam.totalEnergy / f.state.beam.restEnergy, 1e-9);
    // path integral of p0/p(z) = ln(1 + d l) / d
    EXPECT_NEAR(r[kX][kXp], std::log(ratio) / (ratio - 1) * 2.0, 1e-12);
    EXPECT_NEAR(r[kXp][kXp], 1 / ratio, 1e-15);
    EXPECT_NEAR(horizontalDet(r), 1 / ratio, 1e-15);
    EXPECT_NEAR(verticalDet(r), 1 / ratio, 1e-15);
    EXPECT_NEAR(f.state.lf.epsX, 4e-8 / ratio, 1e-22);
    EXPECT_NEAR(f.state.lf.epsY, 2e-8 / ratio, 1e-22);
    EXPECT_NEAR(f.state.lf.delta, 1e-3 / ratio, 1e-17);
    EXPECT_DOUBLE_EQ(f.state.beam.referenceMomentum, 1e9);
}

TEST(TransferMatrix, LinacWithoutFieldChangesNothing)
{
    Fixture f;
    f.one(code::kLinac, 1.0);
    f.state.lf.epsX = 4e-8;
    f.state.lf.delta = 1e-3;
    const BeamParameters before = f.state.beam;
    EXPECT_EQ(f.slice(1.0), drift(1.0));
    EXPECT_EQ(f.state.beam.momentum, before.momentum);
    EXPECT_EQ(f.state.lf.epsX, 4e-8);
    EXPECT_EQ(f.state.lf.delta, 1e-3);
}

namespace {

struct IonFixture : Fixture
{
    IonFixture()
    {
        selectProton(state.beam, state.electron);
        updateKinematics(state.beam, EnergyKind::Kinetic, 50e3); // 50 keV
        state.beam.referenceMomentum = state.beam.momentum;
    }
};

} // namespace

TEST(TransferMatrix, EinzelLensBlocksAreUnimodularAndKeepTheEnergy)
{
    for (const double voltage : {-30e3, 10e3, 50e3, 150e3, 400e3}) {
        IonFixture f;
        f.one(code::kEinzelLens, 0.25).k = voltage;
        const double energy = f.state.beam.kineticEnergy;
        const Matrix r = f.slice(0.25);
        EXPECT_NEAR(horizontalDet(r), 1, 1e-12) << voltage;
        EXPECT_NEAR(verticalDet(r), 1, 1e-12) << voltage;
        EXPECT_EQ(r[kX][kX], r[kY][kY]);
        EXPECT_EQ(r[kXp][kX], r[kYp][kY]);
        EXPECT_EQ(f.state.beam.kineticEnergy, energy);
    }
}

TEST(TransferMatrix, EinzelLensWithoutVoltageIsADrift)
{
    IonFixture f;
    f.one(code::kEinzelLens, 0.25);
    const Matrix r = f.slice(0.25);
    EXPECT_NEAR(r[kX][kX], 1, 1e-15);
    EXPECT_NEAR(r[kXp][kXp], 1, 1e-15);
    EXPECT_NEAR(r[kX][kXp], 0.25, 1e-15);
    EXPECT_NEAR(r[kXp][kX], 0, 1e-15);
}

TEST(TransferMatrix, EinzelLensRetardingBeyondTheEnergyKeepsTheDrift)
{
    IonFixture f;
    f.one(code::kEinzelLens, 0.25).k = -60e3;
    EXPECT_EQ(f.slice(0.25), drift(0.25));
    EXPECT_TRUE(f.messages.errors.empty());
}

TEST(TransferMatrix, ElectrostaticGapAcceleratesAndDamps)
{
    for (const double voltage : {20e3, 150e3, -30e3}) {
        IonFixture f;
        f.one(code::kElectrostatic, 0.1).k = voltage;
        f.state.lf.epsX = 1e-6;
        f.state.lf.epsY = 3e-6;
        f.state.lf.delta = 2e-3;
        const double energy = f.state.beam.kineticEnergy;
        const double g = std::sqrt(voltage / energy + 1);
        const Matrix r = f.slice(0.1);
        EXPECT_NEAR(f.state.beam.kineticEnergy, energy + voltage, 1e-6);
        EXPECT_NEAR(f.state.beam.totalEnergy, f.state.beam.kineticEnergy + f.state.beam.restEnergy, 1e-3);
        EXPECT_NEAR(horizontalDet(r), 1 / g, 1e-12) << voltage;
        EXPECT_NEAR(verticalDet(r), 1 / g, 1e-12) << voltage;
        EXPECT_NEAR(f.state.lf.epsX, 1e-6 / g, 1e-18);
        EXPECT_NEAR(f.state.lf.epsY, 3e-6 / g, 1e-18);
        EXPECT_NEAR(f.state.lf.delta, 2e-3 / g, 1e-15);
    }
}

TEST(TransferMatrix, ElectrostaticGapWithoutVoltageIsADrift)
{
    IonFixture f;
    f.one(code::kElectrostatic, 0.1);
    const double energy = f.state.beam.kineticEnergy;
    const Matrix r = f.slice(0.1);
    expectNear(r, drift(0.1), 1e-15);
    EXPECT_EQ(f.state.beam.kineticEnergy, energy);
}

TEST(TransferMatrix, ElectrostaticGapRefusesAVoltageBeyondTheEnergy)
{
    IonFixture f;
    f.one(code::kElectrostatic, 0.1).k = -50e3;
    f.state.lf.epsX = 1e-6;
    const BeamParameters before = f.state.beam;
    EXPECT_EQ(f.slice(0.1), drift(0.1));
    ASSERT_EQ(f.messages.errors.size(), 1u);
    EXPECT_EQ(f.messages.errors[0], "Voltage < than kinetic energy!");
    EXPECT_EQ(f.state.beam.kineticEnergy, before.kineticEnergy);
    EXPECT_EQ(f.state.lf.epsX, 1e-6);
}

TEST(TransferMatrix, ElectrostaticElementsAskForAnEnergy)
{
    for (const int c : {code::kEinzelLens, code::kElectrostatic}) {
        Fixture f;
        selectProton(f.state.beam, f.state.electron);
        updateKinematics(f.state.beam, EnergyKind::Kinetic, 0);
        f.one(c, 0.2).k = 1e3;
        EXPECT_EQ(f.slice(0.2), drift(0.2));
        ASSERT_EQ(f.messages.errors.size(), 1u);
        EXPECT_EQ(f.messages.errors[0], "Specify Ion energy!");
        EXPECT_EQ(f.messages.particleRequests, 1);
        EXPECT_EQ(f.state.beam.kineticEnergy, 0.0);
    }
}

// ---------------------------------------------------------------- edges and the total matrix

struct FaceCase
{
    double h, psi, gap; // 1/m, rad, m
    double r21, r43;    // MAD-X 5.09.03, DIPEDGE with E1 = psi, HGAP = gap / 2, FINT = 1/3 (RE21, RE43)
};

TEST(TransferMatrix, EdgeMatrixWithFringeFieldIsMadxDipedge)
{
    const FaceCase cases[] = {
        {0.5, 0.2, 0.04, 1.0135501775433625e-01, -9.7679580998270218e-02},
        // a face normal to the orbit: the fringe field defocuses vertically
        {0.5, 0.0, 0.04, 0.0, 3.3333827169273133e-03},
        {-0.8, -0.15, 0.07, 1.2090817444663607e-01, -1.0515927721167123e-01},
        {0.3, 0.4, 0.1, 1.2683796562144853e-01, -1.2243943072359353e-01},
    };
    for (const FaceCase& c : cases) {
        TransferMatrix t;
        edgeMatrix(t, c.h, c.psi, c.gap);
        EXPECT_NEAR(t.r[kXp][kX], c.r21, 1e-15) << c.psi;
        EXPECT_NEAR(t.r[kYp][kY], c.r43, 1e-15) << c.psi;
        EXPECT_EQ(horizontalDet(copyOf(t.r)), 1.0);
    }
    TransferMatrix t;
    edgeMatrix(t, 0, 0.2, 0.04);
    EXPECT_EQ(copyOf(t.r), drift(0));
}

// The Jacobian J of the second-order face map at a point z of size a: symplectic to first order,
// J^T S J - S = O(a^2), while a wrong coefficient leaves O(a).
TEST(TransferMatrix, SecondOrderEdgeMapIsSymplecticToFirstOrder)
{
    for (const Face face : {Face::Entrance, Face::Exit}) {
        const EdgeMap m = edgeMap(0.4, -0.7, 0.25, 0.05, face);
        const double a = 1e-4;
        const double z0[4] = {0.7 * a, -0.4 * a, 0.5 * a, 0.9 * a};
        double jac[4][4];
        for (int column = 0; column < 4; ++column) {
            double plus[4], minus[4];
            for (int j = 0; j < 4; ++j)
                plus[j] = minus[j] = z0[j];
            plus[column] += 1e-6;
            minus[column] -= 1e-6;
            applyEdgeMap(m, plus[0], plus[1], plus[2], plus[3]);
            applyEdgeMap(m, minus[0], minus[1], minus[2], minus[3]);
            for (int row = 0; row < 4; ++row)
                jac[row][column] = (plus[row] - minus[row]) / 2e-6;
        }
        // Poisson brackets {z_i, z_j} of the map's coordinates
        for (int i = 0; i < 4; ++i) {
            for (int j = i + 1; j < 4; ++j) {
                double bracket = 0;
                for (int q = 0; q < 4; q += 2)
                    bracket += jac[i][q] * jac[j][q + 1] - jac[i][q + 1] * jac[j][q];
                const double expected = (i == 0 && j == 1) || (i == 2 && j == 3) ? 1 : 0;
                EXPECT_NEAR(bracket, expected, 1e-7) << "{" << i << "," << j << "}";
            }
        }
    }
}

TEST(TransferMatrix, RectangularMagnetFromSectorAndFaces)
{
    // faces of half the bending angle make the horizontal plane a drift of rho sin(theta); the
    // dispersion slope becomes 2 tan(theta/2); vertically the faces focus
    const double rho = 4;
    const double theta = 0.6;
    Fixture f;
    f.one(code::kSectorBend, rho * theta).curvature = 1 / rho;
    TransferMatrix& t = f.state.matrix;
    resetTotal(t);
    edgeMatrix(t, 1 / rho, theta / 2, 0);
    addEdgeToTotal(t);
    elementMatrix(f.state, f.messages, 1, rho * theta);
    multiplyTotal(t);
    edgeMatrix(t, 1 / rho, theta / 2, 0);
    addEdgeToTotal(t);
    const Matrix m = copyOf(t.m);
    EXPECT_NEAR(m[kX][kX], 1, 1e-14);
    EXPECT_NEAR(m[kXp][kX], 0, 1e-14);
    EXPECT_NEAR(m[kX][kXp], rho * std::sin(theta), 1e-14);
    EXPECT_NEAR(m[kXp][kXp], 1, 1e-14);
    EXPECT_NEAR(m[kX][kDelta], rho * (1 - std::cos(theta)), 1e-14);
    EXPECT_NEAR(m[kXp][kDelta], 2 * std::tan(theta / 2), 1e-14);
    const double focus = std::tan(theta / 2) / rho;
    const double length = rho * theta;
    EXPECT_NEAR(m[kY][kY], 1 - focus * length, 1e-14);
    EXPECT_NEAR(m[kYp][kY], -2 * focus + focus * focus * length, 1e-14);
}

TEST(TransferMatrix, BlockProductEqualsTheFullProduct)
{
    Fixture f;
    f.one(code::kSectorBend, 1.1).curvature = 0.3;
    f.state.line.at(1).k = -0.7;
    TransferMatrix& t = f.state.matrix;
    resetTotal(t);
    elementMatrix(f.state, f.messages, 1, 1.1);
    const Matrix first = copyOf(t.r);
    multiplyTotal(t);
    f.one(code::kQuadrupole, 0.3).k = 2.2;
    elementMatrix(f.state, f.messages, 1, 0.3);
    const Matrix second = copyOf(t.r);
    multiplyTotal(t);
    edgeMatrix(t, 0.3, -0.15, 0.05);
    const Matrix edge = copyOf(t.r);
    addEdgeToTotal(t);
    expectNear(copyOf(t.m), product(edge, product(second, first)), 1e-14);
}

} // namespace kestrune
