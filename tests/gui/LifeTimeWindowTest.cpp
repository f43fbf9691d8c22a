#include "gui/lifetime/LifeTimeWindow.h"

#include "core/Design.h"
#include "core/Format.h"
#include "core/Kinematics.h"
#include "core/io/LatticeFile.h"
#include "core/lifetime/LocalTouschek.h"
#include "core/ring/Parameter.h"
#include "core/ring/RingGeometry.h"
#include "gui/QtMessages.h"
#include "gui/ToolWindowMessages.h"
#include "support/FakeMessages.h"

#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

namespace kestrune {
namespace {

class LifeTimeWindowTest : public ::testing::Test
{
protected:
    LifeTimeWindowTest() : messages(windows)
    {
        messages.redirectTo(&fake);
        windows.messages = &messages;
        startParticle(state);
        // the example ring of twelve double-bend cells, closed, at 3 GeV
        test::FakeMessages setup;
        EXPECT_TRUE(readLatticeFile(state, setup, std::string(KESTRUNE_EXAMPLES) + "/dba-cell.lat"));
        EXPECT_TRUE(ringGeometry(state, setup, {"12", "499.654"}));
        EXPECT_TRUE(setup.errors.empty());
        updateKinematics(state.beam, EnergyKind::Total, 3e9);
        window = std::make_unique<LifeTimeWindow>(state, windows);
        windows.enter(WindowId::LifeTime, windows.lifeTime, window.get());
        window->show();
    }

    /// The results of the ring, RF and vacuum windows.
    void ringResults()
    {
        radiationIntegrals(state, fake);
        equilibriumParameters(state);
        state.rf.energyAcceptance = 0.012;
        state.rf.bunchLength = 0.006;
        state.averagePressure = 2.5e-9;
        // results of the design as it is
        state.pressureStamp = designStamp(state);
        state.rf.stamp = rfStamp(state);
        ASSERT_TRUE(fake.errors.empty());
    }

    template <typename T> T* control(const char* name)
    {
        T* found = window->findChild<T*>(name);
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    QLineEdit* box(const char* name) { return control<QLineEdit>(name); }
    QLabel* label(const char* name) { return control<QLabel>(name); }
    QGroupBox* group(const char* name) { return control<QGroupBox>(name); }
    void type(const char* name, const QString& text)
    {
        box(name)->clear();
        QTest::keyClicks(box(name), text);
    }
    void click(const char* name) { QTest::mouseClick(control<QPushButton>(name), Qt::LeftButton); }
    void updateAll()
    {
        window->elasticClick();
        window->bremsstrahlungClick();
        window->quantumLifetimeClick();
        window->touschekClick();
        click("bbUpdElast");
        click("bbBremsLife");
        click("bbUpQuantum");
        click("bbTouschek");
    }

    State state;
    Windows windows;
    test::FakeMessages fake;
    QtMessages messages;
    std::unique_ptr<LifeTimeWindow> window;
};

TEST_F(LifeTimeWindowTest, GroupsAppearThroughTheirMenuEntries)
{
    for (const char* name : {"gbElastic", "gbBrems", "gbQuantum", "gbTouschek", "gbtotLife"})
        EXPECT_TRUE(group(name)->isHidden()) << name;
    QStringList menus;
    for (QAction* action : window->menuBar()->actions())
        menus << action->text();
    EXPECT_EQ(menus, QStringList({"elastic", "inelastic ", "Touschek", "quantum lifetime", "|", "multiple"}));
    EXPECT_FALSE(window->menuBar()->actions().last()->isEnabled());
    EXPECT_EQ(window->menuBar()->actions()[0]->statusTip(),
              "elastic scattering in Coulomb field of rest gas atoms");

    window->elasticClick();
    EXPECT_FALSE(group("gbElastic")->isHidden());
    window->quantumLifetimeClick();
    EXPECT_FALSE(group("gbQuantum")->isHidden());
    EXPECT_FALSE(group("gbElastic")->isHidden()) << "groups once shown stay";
    EXPECT_TRUE(label("lCbLife")->isHidden());
    EXPECT_EQ(label("lqtot")->text(), "total quantum lifetime is");
    EXPECT_EQ(box("edGasP1")->text(), "1.0 ");
}

TEST_F(LifeTimeWindowTest, ActivationWithoutResultsSaysSoAndTakesTheDefaults)
{
    window->formActivate();
    ASSERT_EQ(fake.errors.size(), 3u);
    EXPECT_EQ(fake.errors[1], "enter vacuum pressure manually or run \"vacuum\"!");
    EXPECT_DOUBLE_EQ(state.averagePressure, 1e-9);
    EXPECT_DOUBLE_EQ(state.ringParams.averageBetaX, 10.0);
    EXPECT_EQ(box("edAvgBx")->text(), "10.0");
}

TEST_F(LifeTimeWindowTest, ActivationFillsTheBoxesFromTheResults)
{
    state.ringParams.averageBetaX = 8.5;
    state.ringParams.averageBetaY = 12.25;
    state.rf.energyAcceptance = 0.012;
    state.rf.bunchLength = 0.006;
    state.averagePressure = 2.5e-9;
    state.ringParams.stamp = latticeStamp(state);
    state.pressureStamp = designStamp(state);
    state.rf.stamp = rfStamp(state);
    window->formActivate();
    EXPECT_TRUE(fake.errors.empty());
    EXPECT_EQ(box("edAvgBy")->text(), "  12.2500");
    EXPECT_EQ(box("edGasP2")->text(), "     2.5");
    EXPECT_EQ(box("edEnAcc2")->text(), "   1.200");
    EXPECT_EQ(box("edBunLen")->text(), "   6.000");
}

TEST_F(LifeTimeWindowTest, ElasticUpdateShowsItsLifetimeAndTheEstimate)
{
    window->elasticClick();
    click("bbUpdElast");
    EXPECT_TRUE(fake.errors.empty());
    EXPECT_FALSE(label("lCbLife")->isHidden());
    EXPECT_EQ(label("lCbLife")->text(), "Coulomb scattering life time is    112.7 hours");
    EXPECT_FALSE(group("gbtotLife")->isHidden());
    EXPECT_EQ(label("lTot")->text(),
              "no combined lifetime: the bremsstrahlung, Touschek and quantum lifetimes are missing");
}

TEST_F(LifeTimeWindowTest, TypingHidesTheResultAndEnterUpdates)
{
    window->bremsstrahlungClick();
    click("bbBremsLife");
    EXPECT_FALSE(label("lBrems")->isHidden());
    EXPECT_EQ(window->defaultButton(), nullptr);
    type("edGasP2", "2");
    EXPECT_TRUE(label("lBrems")->isHidden());
    EXPECT_EQ(window->defaultButton(), control<QPushButton>("bbBremsLife"));
    EXPECT_TRUE(control<QPushButton>("bbBremsLife")->isDefault());
    QTest::keyClick(box("edGasP2"), Qt::Key_Return);
    EXPECT_FALSE(label("lBrems")->isHidden());
    EXPECT_NEAR(state.lifetimes.bremsstrahlung, 119683.0 / 2, 1);
    // typing in another group moves the default there
    window->elasticClick();
    type("edRatio", "0.5");
    EXPECT_EQ(window->defaultButton(), control<QPushButton>("bbUpdElast"));
    EXPECT_FALSE(control<QPushButton>("bbBremsLife")->isDefault());
}

TEST_F(LifeTimeWindowTest, AllFourUpdatesGiveTheCombinedLifetime)
{
    ringResults();
    window->formActivate();
    updateAll();
    EXPECT_TRUE(fake.errors.empty()) << fake.errors.front();
    ASSERT_TRUE(combinedLifetime(state.lifetimes));
    EXPECT_EQ(label("lTot")->text().toStdString(), combinedLifetimeText(state.lifetimes));
    EXPECT_EQ(label("lTot")->text().left(31), "tot. combined beam lifetime =  ");
    EXPECT_EQ(label("lqte")->text().left(8), "tau_e = ");
    // the quantum update found no coupling: 1 % from then on, which the Touschek update's
    // equilibrium takes up
    EXPECT_DOUBLE_EQ(state.ringParams.coupling, 0.01);
    EXPECT_EQ(label("lepsy")->text(), "eps_y =        0 mm*mr");
    EXPECT_NEAR(state.ringParams.emittanceY, 0.01 * state.ringParams.emittanceX,
                1e-6 * state.ringParams.emittanceX);
    EXPECT_FALSE(label("lTouschek")->isHidden());

    // the Touschek update computed the rf results the next activation takes: then an activation with the
    // inputs as they were keeps the four
    window->formActivate();
    updateAll();
    const Lifetimes before = state.lifetimes;
    window->formActivate();
    EXPECT_DOUBLE_EQ(state.lifetimes.touschek, before.touschek);
    EXPECT_DOUBLE_EQ(state.lifetimes.quantum, before.quantum);
    EXPECT_EQ(label("lTot")->text().toStdString(), combinedLifetimeText(before));
}

TEST_F(LifeTimeWindowTest, ResultLinesWhoseInputsChangedAreCleared)
{
    ringResults();
    window->formActivate();
    updateAll();
    ASSERT_TRUE(fake.errors.empty()) << fake.errors.front();
    const double elastic = state.lifetimes.elastic;
    // another rf voltage (the rf window closed with it): the Touschek line of the old one goes
    state.rf.voltage *= 0.25;
    window->formActivate();
    EXPECT_TRUE(label("lTouschek")->isHidden());
    EXPECT_EQ(state.lifetimes.touschek, 0);
    EXPECT_FALSE(label("lCbLife")->isHidden());
    EXPECT_DOUBLE_EQ(state.lifetimes.elastic, elastic);
    EXPECT_EQ(label("lTot")->text().toStdString(), combinedLifetimeText(state.lifetimes));
    // a change of the lattice clears the rest as it happens
    state.line.at(1).length += 0.1;
    window->designChanged();
    for (const char* line : {"lCbLife", "lBrems", "lqtot"})
        EXPECT_TRUE(label(line)->isHidden()) << line;
}

TEST_F(LifeTimeWindowTest, TouschekUpdateTakesTheRfParametersItComputes)
{
    // the ring and vacuum have their results, the rf window has not run
    radiationIntegrals(state, fake);
    equilibriumParameters(state);
    state.averagePressure = 2.5e-9;
    state.pressureStamp = designStamp(state);
    window->formActivate();
    ASSERT_EQ(fake.errors, std::vector<std::string>{"enter energy acceptance manually or run \"RF\"!"});
    fake.errors.clear();
    // the boxes start empty: no default stands in for the rf results
    window->touschekClick();
    click("bbTouschek");
    EXPECT_TRUE(fake.errors.empty()) << fake.errors.front();
    EXPECT_TRUE(state.rf.computed);
    EXPECT_EQ(box("edEnAcc2")->text().toStdString(), fmt("%8.5f", state.rf.energyAcceptance * 100));
    EXPECT_EQ(box("edBunLen")->text().toStdString(), fmt("%8.3f", state.rf.bunchLength * 1000));
    EXPECT_FALSE(label("lTouschek")->isHidden());
    EXPECT_EQ(label("lTouschek")->text().toStdString(),
              "Touschek lifetime = " + fmt("%8.3f", state.lifetimes.touschek / 3600) + " hr");
    // the next activation takes them for every energy acceptance and the bunch length
    window->formActivate();
    EXPECT_TRUE(fake.errors.empty()) << fake.errors.front();
    EXPECT_EQ(box("edEnAcc")->text().toStdString(), fmt("%8.3f", state.rf.energyAcceptance * 100));
}

// With the local momentum acceptance as the source, the update needs the aperture window's scan of this
// lattice and then takes the lifetime from it.
TEST_F(LifeTimeWindowTest, TouschekFromTheLocalAcceptance)
{
    ringResults();
    window->formActivate();
    window->touschekClick();
    control<QCheckBox>("cbLocalAcceptance")->setChecked(true);
    fake.errors.clear();
    click("bbTouschek");
    EXPECT_EQ(fake.errors, std::vector<std::string>{kNoLocalAcceptance});
    EXPECT_TRUE(label("lTouschek")->isHidden());
    LocalAcceptance& a = state.localAcceptance;
    for (int i = 1; i <= state.line.count; i += 3) {
        a.elements.push_back(i);
        a.s.push_back(state.line.at(i).s);
        a.deltaPlus.push_back(0.01);
        a.deltaMinus.push_back(-0.012);
    }
    a.lattice = trackingFingerprint(state);
    fake.errors.clear();
    click("bbTouschek");
    EXPECT_TRUE(fake.errors.empty()) << fake.errors.front();
    EXPECT_FALSE(label("lTouschek")->isHidden());
    EXPECT_GT(state.lifetimes.touschek, 0);
}

TEST_F(LifeTimeWindowTest, ErrorsKeepTheLifetimesAndTheirOwnBoxIsNoActivation)
{
    std::int64_t now = 0; // ms, stepped by hand
    ToolWindowMessages::setClock([&now] { return now; });
    ringResults();
    window->formActivate();
    updateAll();
    const Lifetimes before = state.lifetimes;
    type("edGasP2", "lots");
    click("bbBremsLife");
    ASSERT_EQ(fake.errors.size(), 1u);
    EXPECT_EQ(fake.errors[0], "'lots' is not a valid floating point value");
    // the activation the closed box hands back does not clear the lifetimes
    QEvent activate(QEvent::WindowActivate);
    QApplication::sendEvent(window.get(), &activate);
    EXPECT_DOUBLE_EQ(state.lifetimes.bremsstrahlung, before.bremsstrahlung);
    EXPECT_DOUBLE_EQ(state.lifetimes.touschek, before.touschek);
    // a real activation later gives the box the vacuum's pressure back: that line goes
    now += 1100;
    QApplication::sendEvent(window.get(), &activate);
    EXPECT_DOUBLE_EQ(state.lifetimes.bremsstrahlung, 0);
    ToolWindowMessages::setClock({});
}

TEST_F(LifeTimeWindowTest, TotalGroupIsDraggedAndHidden)
{
    window->bremsstrahlungClick();
    click("bbBremsLife");
    QGroupBox* total = group("gbtotLife");
    ASSERT_FALSE(total->isHidden());
    const QPoint start = total->pos();
    const QPoint grab(10, 10);
    const auto send = [&](QEvent::Type type, QPoint local, Qt::MouseButtons buttons) {
        QMouseEvent event(type, local, total->mapToGlobal(local), Qt::LeftButton, buttons, Qt::NoModifier);
        QApplication::sendEvent(total, &event);
    };
    send(QEvent::MouseButtonPress, grab, Qt::LeftButton);
    send(QEvent::MouseMove, grab + QPoint(40, -30), Qt::LeftButton);
    send(QEvent::MouseButtonRelease, grab + QPoint(40, -30), Qt::NoButton);
    EXPECT_EQ(total->pos(), start + QPoint(40, -30));
    QTest::mouseDClick(total, Qt::LeftButton, Qt::NoModifier, grab);
    EXPECT_TRUE(total->isHidden());
}

TEST_F(LifeTimeWindowTest, QuantumUpdateOnARingWithoutRadiationIsRefused)
{
    for (int i = 1; i <= state.line.count; ++i)
        state.line.at(i).curvature = 0;
    window->quantumLifetimeClick();
    click("bbUpQuantum");
    ASSERT_EQ(fake.errors.size(), 1u);
    EXPECT_EQ(fake.errors[0], "energy spread, emittances or damping times of the ring are not available!");
    EXPECT_TRUE(label("lqtot")->isHidden());
}

TEST_F(LifeTimeWindowTest, ResultsAppearWithoutMovingAnyControl)
{
    ringResults();
    window->resize(760, 620);
    window->elasticClick();
    window->bremsstrahlungClick();
    window->quantumLifetimeClick();
    window->touschekClick();
    QApplication::processEvents();
    const char* const buttons[] = {"bbUpdElast", "bbBremsLife", "bbUpQuantum", "bbTouschek"};
    std::vector<QPoint> before;
    for (const char* name : buttons)
        before.push_back(control<QPushButton>(name)->mapTo(window.get(), QPoint()));
    for (int round = 0; round < 2; ++round) {
        for (const char* name : buttons)
            click(name);
        QApplication::processEvents();
        for (std::size_t i = 0; i < before.size(); ++i)
            EXPECT_EQ(control<QPushButton>(buttons[i])->mapTo(window.get(), QPoint()), before[i])
                << buttons[i] << ", update " << round + 1;
    }
    EXPECT_TRUE(fake.errors.empty()) << fake.errors.front();
}

} // namespace
} // namespace kestrune
