#include "gui/particle/PartTypeWindow.h"

#include "core/Kinematics.h"
#include "core/NumberInput.h"
#include "gui/QtMessages.h"
#include "support/FakeMessages.h"

#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <gtest/gtest.h>

namespace kestrune {
namespace {

class PartTypeWindowTest : public ::testing::Test
{
protected:
    PartTypeWindowTest() : messages(windows)
    {
        messages.redirectTo(&fake);
        windows.messages = &messages;
        startParticle(state);
        window = std::make_unique<PartTypeWindow>(state, windows);
        windows.enter(WindowId::PartType, windows.partType, window.get());
        window->show(); // runs formActivate
    }

    template <typename T> T* control(const char* name)
    {
        T* found = window->findChild<T*>(name);
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    QLineEdit* box(const char* name) { return control<QLineEdit>(name); }
    QString labelText(const char* name) { return control<QLabel>(name)->text(); }
    void type(const char* name, const QString& text)
    {
        box(name)->clear();
        QTest::keyClicks(box(name), text);
    }
    void clickAccept() { QTest::mouseClick(control<QPushButton>("bbPartTypeAccept"), Qt::LeftButton); }

    State state;
    Windows windows;
    test::FakeMessages fake;
    QtMessages messages;
    std::unique_ptr<PartTypeWindow> window;
};

TEST_F(PartTypeWindowTest, ShowsTheCurrentParticleWhenItComesUp)
{
    EXPECT_EQ(box("edSelPart")->text(), "selected particle type is:  electron");
    EXPECT_EQ(box("edMom")->text(), "1000.000");
    EXPECT_EQ(box("edZ")->text(), "1");
    EXPECT_FALSE(control<QFrame>("pnPartType")->isHidden());
    EXPECT_TRUE(control<QComboBox>("cbIon")->isHidden());

    window->hide();
    updateKinematics(state.beam, EnergyKind::Momentum, 0.0);
    window->show();
    EXPECT_EQ(box("edMom")->text(), "1000.00");
}

TEST_F(PartTypeWindowTest, AcceptingAMomentumSetsTheEnergyAndTheReferenceMomentum)
{
    type("edMom", "1000");
    clickAccept();

    const BeamParameters& beam = state.beam;
    EXPECT_NEAR(beam.totalEnergy, 1000000130.56, 0.01);
    EXPECT_NEAR(beam.gamma, 1956.934, 0.001);
    EXPECT_DOUBLE_EQ(beam.referenceMomentum, 1e9);
    EXPECT_EQ(beam.charge, 1);
    EXPECT_EQ(labelText("lIonMomentum"), "momentum = 1000.000 MeV/c");
    EXPECT_EQ(labelText("lIonVelocity"), "velocity = 2.998e+08 m/sec");
    EXPECT_TRUE(labelText("lIonBeta").endsWith("0.999999869")) << labelText("lIonBeta").toStdString();
    EXPECT_EQ(box("edEkin")->text(), " 999.489");
    EXPECT_TRUE(fake.errors.empty());
    EXPECT_TRUE(window->isVisible()); // the window stays open after accept
}

TEST_F(PartTypeWindowTest, SwitchingTheEntryKindConvertsTheBoxes)
{
    window->protonClick();
    type("edMom", "1000");

    QTest::mouseClick(control<QRadioButton>("rbEkin"), Qt::LeftButton);
    EXPECT_TRUE(box("edMom")->isHidden());
    EXPECT_FALSE(box("edEkin")->isHidden());
    // proton, mc^2 = 1.00794 amu = 938.898 MeV: E_kin = sqrt(1000^2 + 938.898^2) - 938.898 MeV
    EXPECT_EQ(box("edEkin")->text(), " 432.791");
    EXPECT_NEAR(state.beam.kineticEnergy, 432.7906e6, 1e2);

    QTest::mouseClick(control<QRadioButton>("rbMom"), Qt::LeftButton);
    EXPECT_FALSE(box("edMom")->isHidden());
    EXPECT_TRUE(box("edEkin")->isHidden());
    // back from the kinetic energy as the box shows it, to 3 decimals of MeV
    EXPECT_NEAR(box("edMom")->text().toDouble(), 1000.0, 0.002);
    EXPECT_NEAR(state.beam.momentum, 1e9, 2e3);
}

TEST_F(PartTypeWindowTest, EmptyEnergyBoxesAreRefusedButChargeAndDisplayFollow)
{
    const double totalEnergy = state.beam.totalEnergy;
    type("edMom", "");
    type("edZ", "3");
    clickAccept();
    ASSERT_EQ(fake.errors.size(), 1u);
    EXPECT_EQ(fake.errors[0], "select initial particle momentum!");
    EXPECT_DOUBLE_EQ(state.beam.totalEnergy, totalEnergy);
    EXPECT_EQ(state.beam.charge, 3);
    EXPECT_EQ(labelText("lIonMomentum"), "momentum = 1000.000 MeV/c");

    type("edMom", "500");
    QTest::mouseClick(control<QRadioButton>("rbEkin"), Qt::LeftButton);
    type("edEkin", "");
    type("edZ", "");
    clickAccept();
    ASSERT_EQ(fake.errors.size(), 2u);
    EXPECT_EQ(fake.errors[1], "select initial particle kinetic energy!");
    EXPECT_NEAR(state.beam.momentum, 500e6, 1.0); // from the switch of entry kind
    EXPECT_EQ(box("edZ")->text(), "1");
    EXPECT_EQ(state.beam.charge, 1);
}

TEST_F(PartTypeWindowTest, TextThatIsNoNumberStopsTheHandlerKeepingWhatWasStored)
{
    const BeamParameters before = state.beam;
    type("edMom", "12a");
    try {
        window->bbPartTypeAcceptClick();
        FAIL() << "no conversion error";
    } catch (const ConversionError& e) {
        EXPECT_STREQ(e.what(), "'12a' is not a valid floating point value");
    }
    EXPECT_DOUBLE_EQ(state.beam.momentum, before.momentum);
    EXPECT_DOUBLE_EQ(state.beam.referenceMomentum, before.referenceMomentum);

    // the momentum is stored before the charge box is read
    type("edMom", "500");
    type("edZ", "two");
    state.beam.charge = 4;
    EXPECT_THROW(window->bbPartTypeAcceptClick(), ConversionError);
    EXPECT_NEAR(state.beam.momentum, 500e6, 1e-3);
    EXPECT_NEAR(state.beam.referenceMomentum, 500e6, 1e-3);
    EXPECT_EQ(state.beam.charge, 4);
    EXPECT_TRUE(fake.errors.empty());

    type("edMom", "");
    EXPECT_THROW(window->rbEkinClick(), ConversionError);
    EXPECT_NEAR(state.beam.momentum, 500e6, 1e-3);

    // a charge or a momentum no lattice file takes back is refused with the box's words
    type("edMom", "500");
    type("edZ", "0");
    window->bbPartTypeAcceptClick();
    EXPECT_EQ(state.beam.charge, 4);
    type("edZ", "1");
    type("edMom", "1e10");
    window->bbPartTypeAcceptClick();
    EXPECT_NEAR(state.beam.momentum, 500e6, 1e-3);
    EXPECT_EQ(fake.errors, (std::vector<std::string>{"the charge must be at least 1!",
                                                     "the momentum must be at most 1000000000 MeV!"}));
}

TEST_F(PartTypeWindowTest, IonsArePickedFromTheList)
{
    auto* list = control<QComboBox>("cbIon");
    ASSERT_EQ(list->count(), 23);
    EXPECT_EQ(list->itemText(13), "K");
    EXPECT_TRUE(list->itemText(21).isEmpty());
    EXPECT_TRUE(list->itemText(22).isEmpty());

    window->ionClick();
    EXPECT_TRUE(state.beam.isIon);
    EXPECT_DOUBLE_EQ(state.beam.massNumber, 1.0);
    EXPECT_EQ(state.beam.name, "electron"); // until a row is picked
    EXPECT_TRUE(control<QFrame>("pnPartType")->isHidden());
    EXPECT_FALSE(list->isHidden());

    window->ionListClick(8);
    EXPECT_EQ(state.beam.name, "Carbon");
    EXPECT_DOUBLE_EQ(state.beam.massNumber, 12.0);
    EXPECT_DOUBLE_EQ(state.beam.restEnergy, 12.0 * kAtomicMassUnit);
    EXPECT_EQ(box("edAMU")->text(), "atomic mass units: A = 12.00000");
    EXPECT_EQ(box("edSelPart")->text(), "selected particle is a Carbon");
    EXPECT_FALSE(control<QFrame>("pnPartType")->isHidden());
    EXPECT_TRUE(list->isHidden());

    window->ionListClick(13);
    EXPECT_EQ(state.beam.name, "Sodium");
    EXPECT_DOUBLE_EQ(state.beam.massNumber, 22.98977);

    window->ionListClick(21); // an empty row: only the display
    EXPECT_EQ(state.beam.name, "Sodium");

    window->electronClick();
    EXPECT_FALSE(state.beam.isIon);
    EXPECT_EQ(box("edRestMass")->text(), "rest mass: mc^2 =  0.51100 MeV");
}

TEST_F(PartTypeWindowTest, CloseEndsTheModalShowAndKeepsTheParticle)
{
    window->ionClick();
    window->closeClick();
    EXPECT_EQ(window->result(), QDialog::Accepted);
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(control<QComboBox>("cbIon")->isHidden());
    EXPECT_TRUE(state.beam.isIon);
    EXPECT_DOUBLE_EQ(state.beam.massNumber, 1.0);
}

TEST_F(PartTypeWindowTest, EnergiesThatAreNotPositiveAreRefused)
{
    const BeamParameters before = state.beam;
    control<QRadioButton>("rbEkin")->click();
    type("edEkin", "-5");
    clickAccept();
    ASSERT_FALSE(fake.errors.empty());
    EXPECT_EQ(fake.errors.back(), "kinetic energy must be positive!");
    EXPECT_EQ(state.beam.momentum, before.momentum);
    EXPECT_EQ(state.beam.referenceMomentum, before.referenceMomentum);
    EXPECT_EQ(state.beam.beta, before.beta);

    // switching back to the momentum box does not take the negative energy either
    control<QRadioButton>("rbMom")->click();
    EXPECT_EQ(fake.errors.back(), "kinetic energy must be positive!");
    EXPECT_EQ(state.beam.momentum, before.momentum);
    EXPECT_EQ(box("edMom")->text(), "1000.000");

    type("edMom", "0");
    clickAccept();
    EXPECT_EQ(fake.errors.back(), "momentum must be positive!");
    EXPECT_EQ(state.beam.momentum, before.momentum);
    EXPECT_EQ(state.beam.referenceMomentum, before.referenceMomentum);
}

} // namespace
} // namespace kestrune
