#include "core/Drawing.h"
#include "core/Kinematics.h"
#include "core/io/LatticeFile.h"
#include "core/orbit/CorrectorRing.h"
#include "core/ring/RingGeometry.h"
#include "gui/QtMessages.h"
#include "gui/aperture/ApertureCharts.h"
#include "gui/aperture/ApertureWindow.h"
#include "support/FakeMessages.h"

#include <QDir>
#include <QLineEdit>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTest>
#include <cstdlib>
#include <gtest/gtest.h>

namespace kestrune {
namespace {

/// The aperture window on the example ring, for the documentation; run only when
/// KESTRUNE_SCREENSHOT_DIR names the folder to write it to.
TEST(ApertureScreenshot, DynamicApertureAndMomentumAcceptance)
{
    const char* dir = std::getenv("KESTRUNE_SCREENSHOT_DIR");
    if (!dir)
        GTEST_SKIP() << "KESTRUNE_SCREENSHOT_DIR not set";
    State state;
    Windows windows;
    test::FakeMessages fake;
    QtMessages messages(windows);
    messages.redirectTo(&fake);
    windows.messages = &messages;
    startParticle(state);
    ASSERT_TRUE(readLatticeFile(state, fake, std::string(KESTRUNE_EXAMPLES) + "/dba-cell.lat"));
    drawFromFileBoxes(state);
    ASSERT_TRUE(ringGeometry(state, fake, {"12", "499.654"}));

    ApertureWindow window(state, windows);
    window.resize(1150, 800);
    window.show();
    const auto run = [&](void (ApertureWindow::*click)()) {
        QSignalSpy spy(&window, &ApertureWindow::scanFinished);
        (window.*click)();
        ASSERT_TRUE(spy.wait(120000));
    };
    run(&ApertureWindow::bbDynamicClick);
    run(&ApertureWindow::bbAcceptanceClick);
    EXPECT_TRUE(fake.errors.empty());
    QTest::qWait(200);
    ASSERT_TRUE(window.grab().save(QDir(dir).filePath("aperture-window.png")));
    // the grid of start amplitudes over the chamber
    window.findChild<QRadioButton*>("rbGrid")->setChecked(true);
    run(&ApertureWindow::bbDynamicClick);
    QTest::qWait(200);
    ASSERT_TRUE(window.dynamicChart()->grab().save(QDir(dir).filePath("aperture-grid.png")));
}

// A ring whose correctors kick, scanned about its closed orbit.
TEST(ApertureScreenshot, KickedRingAboutItsClosedOrbit)
{
    const char* dir = std::getenv("KESTRUNE_SCREENSHOT_DIR");
    if (!dir)
        GTEST_SKIP() << "KESTRUNE_SCREENSHOT_DIR not set";
    State state = test::correctorRing(false);
    Windows windows;
    test::FakeMessages fake;
    QtMessages messages(windows);
    messages.redirectTo(&fake);
    windows.messages = &messages;
    drawFromFileBoxes(state);
    ASSERT_TRUE(ringGeometry(state, fake, {"1", "500"}));
    state.line.at(1).hkick = 1e-3;
    state.line.at(7).vkick = -5e-4;
    ApertureWindow window(state, windows);
    window.resize(1150, 800);
    window.show();
    QSignalSpy spy(&window, &ApertureWindow::scanFinished);
    window.bbDynamicClick();
    ASSERT_TRUE(spy.wait(120000));
    EXPECT_TRUE(fake.errors.empty()) << fake.errors.front();
    QTest::qWait(200);
    ASSERT_TRUE(window.grab().save(QDir(dir).filePath("aperture-kicked.png")));
}

} // namespace
} // namespace kestrune
