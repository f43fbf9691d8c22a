#include "core/Kinematics.h"

#include "core/Format.h"

#include <cmath>
#include <gtest/gtest.h>

namespace kestrune {

TEST(Kinematics, ElectronAtOneGeVMomentum)
{
    State state;
    selectElectron(state.beam, state.electron);
    updateKinematics(state.beam, EnergyKind::Momentum, 1000e6);
    const BeamParameters& b = state.beam;
    EXPECT_NEAR(b.totalEnergy, 1000000130.56, 0.01);
    EXPECT_NEAR(b.gamma, 1956.934, 5e-4);
    EXPECT_EQ(fmt("%12.9f", b.beta), " 0.999999869");
    EXPECT_NEAR(b.kineticEnergy, b.totalEnergy - 511003.4, 1e-6);
    EXPECT_NEAR(b.energyGeV, 1.00000013056, 1e-10);
}

TEST(Kinematics, EachKindGivesTheSameParticle)
{
    BeamParameters b;
    b.restEnergy = 938272088.0;
    updateKinematics(b, EnergyKind::Kinetic, 250e6);
    const double cp = b.momentum;
    const double e = b.totalEnergy;
    updateKinematics(b, EnergyKind::Momentum, cp);
    EXPECT_NEAR(b.kineticEnergy, 250e6, 1e-4);
    updateKinematics(b, EnergyKind::Total, e);
    EXPECT_NEAR(b.momentum, cp, 1e-4);
    EXPECT_NEAR(b.beta * b.totalEnergy, cp, 1e-4);
}

TEST(Kinematics, PartEUpdatesBetaButNotGamma)
{
    BeamParameters b;
    updateKinematics(b, EnergyKind::Momentum, 1e6);
    const double gammaBefore = b.gamma;
    b.kineticEnergy += 1e6;
    partE(b, EnergyKind::Kinetic);
    EXPECT_EQ(b.gamma, gammaBefore);
    EXPECT_NEAR(b.beta, b.momentum / b.totalEnergy, 1e-15);
    EXPECT_GT(b.momentum, 1e6);
}

TEST(Kinematics, RadiationConstantsScaleWithMass)
{
    State state;
    // C_gamma = 8.85e-5 m/GeV^3 and C_q = 3.83e-13 m for electrons
    EXPECT_NEAR(state.electron.cGamma, 8.846e-5, 1e-8);
    EXPECT_NEAR(state.electron.cQuantum, 3.832e-13, 1e-16);
    selectProton(state.beam, state.electron);
    const double d = 1.00794 * kAtomicMassUnit / kElectronRestEnergy;
    EXPECT_NEAR(state.beam.cGammaParticle, state.electron.cGamma / std::pow(d, 4), 1e-25);
    EXPECT_NEAR(state.beam.cQuantumParticle, state.electron.cQuantum / d, 1e-25);
}

TEST(Kinematics, IonTableRows)
{
    State state;
    selectIonKind(state.beam, state.electron);
    EXPECT_TRUE(state.beam.isIon);
    EXPECT_EQ(state.beam.massNumber, 1.0);
    EXPECT_EQ(state.beam.name, "electron"); // unchanged until a row is picked

    selectIonRow(state.beam, state.electron, 8);
    EXPECT_EQ(state.beam.name, "Carbon");
    EXPECT_EQ(state.beam.restEnergy, 12.0 * 931501630.0);
    EXPECT_EQ(fmt("%8.5f", state.beam.massNumber), "12.00000");

    EXPECT_STREQ(ionTable()[13].listText, "K");
    selectIonRow(state.beam, state.electron, 13);
    EXPECT_EQ(state.beam.name, "Sodium");
    EXPECT_EQ(state.beam.massNumber, 22.98977);
    EXPECT_STREQ(ionTable()[17].name, "Phosophorus");
    EXPECT_STREQ(ionTable()[20].listText, "A");
    EXPECT_EQ(ionTable()[20].massNumber, 39.948);

    state.beam.charge = 6;
    selectIonRow(state.beam, state.electron, 21); // an empty row changes nothing
    EXPECT_EQ(state.beam.name, "Sodium");
    EXPECT_EQ(state.beam.charge, 6);
}

TEST(Kinematics, PaddedElectronNameRestoresItsMass)
{
    BeamParameters b;
    b.name = paddedElectronName();
    b.massNumber = 0.001; // what "%8.3f" leaves of it in a file
    particleParameter(b, electronRadiationConstants());
    EXPECT_EQ(b.massNumber, kElectronRestEnergy / kAtomicMassUnit);
    EXPECT_NEAR(b.restEnergy, kElectronRestEnergy, 1e-6);
}

TEST(BeamLine, CapacityAndNames)
{
    BeamLine line;
    const BeamLine& unmade = line;
    EXPECT_EQ(unmade.at(kMaxLineElements).code, 0); // a slot never written reads fresh
    EXPECT_THROW(line.at(kMaxLineElements + 1), std::out_of_range);
    LatticeElement& first = line.at(1);
    first.code = code::kDrift;
    line.at(100000).code = code::kQuadrupole; // growing the table moves no record
    EXPECT_EQ(&first, &line.at(1));
    EXPECT_EQ(line.at(1).code, code::kDrift);
    EXPECT_GE(line.slotCount(), 100000);
    line.makeFreshTable();
    EXPECT_EQ(unmade.at(100000).code, 0);
    EXPECT_THROW(line.at(0), std::out_of_range);
    EXPECT_EQ(elementName("  QFocus.Arc_12 "), "QFocus.Arc_12");
    EXPECT_EQ(elementName("   "), "");
    EXPECT_FALSE(nameRefusal("Q\xc3\xa9"));
    EXPECT_EQ(nameRefusal("Q\tF"), "the element name 'Q\\x09F' holds a control character");
    line.count = 2;
    line.at(1).name = "QF";
    EXPECT_EQ(nameColumnWidth(line), 5u);
    line.at(2).name = "Q\xc3\xa9_ARC_1";
    EXPECT_EQ(nameColumnWidth(line), 8u);
    line.at(1).name = std::string(100000, 'Q');
    EXPECT_EQ(nameColumnWidth(line), 48u);
    EXPECT_EQ(editorWords(21, -1), " defoc. quadrupole ");
    EXPECT_EQ(editorWords(22, 0), " foc. quadrupole ");
    EXPECT_EQ(kindCode(5), 53);
    EXPECT_STREQ(kindName(8), "el.stat Accelerator");
}

TEST(BeamLine, ChainPositions)
{
    BeamLine line;
    line.count = 3;
    line.at(1).length = 1.0;
    line.at(2).length = 0.5;
    line.at(3).length = 2.0;
    line.chainPositions();
    EXPECT_EQ(line.at(2).s, 1.0);
    EXPECT_EQ(line.at(3).s, 1.5);
    EXPECT_EQ(line.length, 3.5);
}

} // namespace kestrune
