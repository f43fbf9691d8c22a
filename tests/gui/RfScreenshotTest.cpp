#include "core/Kinematics.h"
#include "core/ring/Parameter.h"
#include "gui/QtMessages.h"
#include "gui/Windows.h"
#include "gui/rf/RfChartPanel.h"
#include "gui/rf/RfWindow.h"
#include "support/FakeMessages.h"
#include "support/RfTestRing.h"

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QRadioButton>
#include <QTest>
#include <cstdlib>
#include <gtest/gtest.h>
#include <memory>

namespace kestrune::test {
namespace {

/// Pictures of the rf window for the documentation; run only when KESTRUNE_SCREENSHOT_DIR names the
/// folder to write them to.
class RfScreenshot : public ::testing::Test
{
protected:
    void SetUp() override
    {
        dir = std::getenv("KESTRUNE_SCREENSHOT_DIR");
        if (!dir)
            GTEST_SKIP() << "KESTRUNE_SCREENSHOT_DIR not set";
        qtMessages = std::make_unique<QtMessages>(windows);
        qtMessages->redirectTo(&fake);
        windows.messages = qtMessages.get();
    }
    void openWindow()
    {
        window = std::make_unique<RfWindow>(state, windows);
        window->resize(1240, 720);
        window->show();
        QApplication::processEvents();
        window->formActivate();
    }
    void type(const char* name, const QString& text)
    {
        auto* box = window->findChild<QLineEdit*>(name);
        ASSERT_NE(box, nullptr) << name;
        box->setText(text);
    }
    void save(const char* name)
    {
        QTest::qWait(200);
        ASSERT_TRUE(window->grab().save(QDir(dir).filePath(name)));
    }

    const char* dir = nullptr;
    State state;
    Windows windows;
    FakeMessages fake;
    std::unique_ptr<QtMessages> qtMessages;
    std::unique_ptr<RfWindow> window;
};

TEST_F(RfScreenshot, ElectronRingAboveTransition)
{
    ASSERT_TRUE(dbaRing(state, fake));
    openWindow();
    window->bbUpdateClick();
    save("rf-parameters.png");

    window->rfSystemClick();
    type("edNumCav", "4");
    window->bbRfUpdateClick();
    save("rf-power-budget.png");

    window->phaseSpaceClick();
    save("rf-phase-space-above-transition.png");

    window->rfPotentialClick();
    save("rf-potential.png");

    window->mnEscanClick();
    type("edEmin", "0.5");
    window->mnGraphsClick();
    window->graphEscanClick(5);
    window->findChild<QRadioButton*>("rgYaxisLogarithmic")->click();
    save("rf-energy-scan-lifetime-log.png");
    EXPECT_TRUE(fake.errors.empty()) << fake.errors.front();
}

TEST_F(RfScreenshot, ProtonRingBelowTransition)
{
    // the DBA ring for 1 GeV/c protons: far below transition; 300 keV of additional loss per turn give a
    // synchronous phase of some 15 degrees
    ASSERT_TRUE(dbaRing(state, fake));
    selectProton(state.beam, state.electron);
    updateKinematics(state.beam, EnergyKind::Momentum, 1e9);
    state.ringParams.additionalLoss = 3e5;
    const GeometryInput input{std::to_string(state.line.superPeriods), "0"};
    ASSERT_TRUE(ringGeometry(state, fake, input));
    radiationIntegrals(state, fake);
    equilibriumParameters(state);
    openWindow();
    type("edAddlLoss", "300");
    window->bbUpdateClick();
    window->phaseSpaceClick();
    save("rf-phase-space-below-transition.png");
    EXPECT_GT(state.ringParams.slipFactor, 0);
}

} // namespace
} // namespace kestrune::test
