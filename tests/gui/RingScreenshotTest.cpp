#include "core/Kinematics.h"
#include "core/io/LatticeFile.h"
#include "core/ring/RingGeometry.h"
#include "gui/QtMessages.h"
#include "gui/lifetime/LifeTimeWindow.h"
#include "gui/resonance/ResonanceWindow.h"
#include "gui/rf/RfWindow.h"
#include "gui/ring/RingWindow.h"
#include "support/FakeMessages.h"

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <cstdlib>
#include <gtest/gtest.h>

namespace kestrune::test {
namespace {

/// Pictures of the ring window with the example DBA cell bent 0.5 % too far, for the documentation; runs
/// only when KESTRUNE_SCREENSHOT_DIR names the folder to write them to.
TEST(RingScreenshot, ClosingTheDbaCellAndItsBeamParameters)
{
    const char* dir = std::getenv("KESTRUNE_SCREENSHOT_DIR");
    if (!dir)
        GTEST_SKIP() << "KESTRUNE_SCREENSHOT_DIR not set";
    State state;
    Windows windows;
    FakeMessages fake;
    QtMessages messages(windows);
    messages.redirectTo(&fake);
    windows.messages = &messages;
    startParticle(state);
    RingWindow window(state, windows); // created at program start, before the file is opened
    ASSERT_TRUE(readLatticeFile(state, fake, std::string(KESTRUNE_EXAMPLES) + "/dba-cell.lat"));
    state.ringClosed = false;
    state.rf.frequency = 0;
    for (int i = 1; i <= state.line.count; ++i)
        state.line.at(i).curvature *= 1.005;
    window.show();
    window.formActivate();
    window.findChild<QLineEdit*>("edNumSup")->setText("12");
    fake.answers = {false, false, false};
    window.tbRingLatClick();
    QTest::qWait(100);
    ASSERT_TRUE(window.grab().save(QDir(dir).filePath("ring-open.png")));

    fake.answers = {true, true};
    window.tbRingLatClick();
    ASSERT_TRUE(state.ringClosed);
    QTest::qWait(100);
    ASSERT_TRUE(window.grab().save(QDir(dir).filePath("ring-closed.png")));

    window.beamParametersClick();
    QTest::qWait(100);
    ASSERT_TRUE(window.grab().save(QDir(dir).filePath("ring-beam-parameters.png")));
}

TEST(RingScreenshot, CoupledRingWithItsModes)
{
    const char* dir = std::getenv("KESTRUNE_SCREENSHOT_DIR");
    if (!dir)
        GTEST_SKIP() << "KESTRUNE_SCREENSHOT_DIR not set";
    State state;
    Windows windows;
    FakeMessages fake;
    QtMessages messages(windows);
    messages.redirectTo(&fake);
    windows.messages = &messages;
    startParticle(state);
    RingWindow window(state, windows);
    ASSERT_TRUE(readLatticeFile(state, fake, std::string(KESTRUNE_VALIDATION) + "/coupled-double-bend.lat"));
    ASSERT_TRUE(ringGeometry(state, fake, {std::to_string(state.line.superPeriods), "500"}));
    window.show();
    window.formActivate();
    window.beamParametersClick();
    for (QPushButton* button : window.findChildren<QPushButton*>())
        if (button->text() == "recalculate")
            button->click();
    QTest::qWait(100);
    ASSERT_TRUE(window.grab().save(QDir(dir).filePath("ring-coupled.png")));

    ResonanceWindow resonance(state, windows);
    resonance.resize(640, 640);
    resonance.show();
    QTest::qWait(200);
    ASSERT_TRUE(resonance.grab().save(QDir(dir).filePath("resonance-coupled.png")));

    // the rf and lifetime windows take the modes' results as the ring window left them
    RfWindow rf(state, windows);
    rf.resize(1240, 720);
    rf.show();
    QApplication::processEvents();
    rf.formActivate();
    rf.bbUpdateClick();
    QTest::qWait(200);
    ASSERT_TRUE(rf.grab().save(QDir(dir).filePath("rf-coupled.png")));

    LifeTimeWindow lifetime(state, windows);
    lifetime.show();
    lifetime.formActivate();
    lifetime.quantumLifetimeClick();
    lifetime.touschekClick();
    for (const char* button : {"bbUpdElast", "bbBremsLife", "bbUpQuantum", "bbTouschek"})
        QTest::mouseClick(lifetime.findChild<QPushButton*>(button), Qt::LeftButton);
    QTest::qWait(200);
    ASSERT_TRUE(lifetime.grab().save(QDir(dir).filePath("lifetime-coupled.png")));
}

// The DBA ring with two quadrupoles misaligned: its modes and eigentunes about the closed orbit.
TEST(RingScreenshot, DbaRingAboutTheClosedOrbit)
{
    const char* dir = std::getenv("KESTRUNE_SCREENSHOT_DIR");
    if (!dir)
        GTEST_SKIP() << "KESTRUNE_SCREENSHOT_DIR not set";
    State state;
    Windows windows;
    FakeMessages fake;
    QtMessages messages(windows);
    messages.redirectTo(&fake);
    windows.messages = &messages;
    startParticle(state);
    RingWindow window(state, windows);
    ASSERT_TRUE(readLatticeFile(state, fake, std::string(KESTRUNE_EXAMPLES) + "/dba-cell.lat"));
    ASSERT_TRUE(ringGeometry(state, fake, {"12", "499.654"}));
    state.rf.voltage = 1e6;
    int misaligned = 0;
    for (int i = 1; i <= state.line.count && misaligned < 2; ++i)
        if (state.line.at(i).code / 10 == 2)
            (misaligned++ == 0 ? state.line.at(i).errors.dx : state.line.at(i).errors.dy) = 1e-4;
    window.show();
    window.formActivate();
    window.beamParametersClick();
    EXPECT_TRUE(fake.errors.empty());
    QTest::qWait(100);
    ASSERT_TRUE(window.grab().save(QDir(dir).filePath("ring-about-orbit.png")));
}

} // namespace
} // namespace kestrune::test
