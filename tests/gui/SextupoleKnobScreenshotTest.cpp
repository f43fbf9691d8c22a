#include "core/Drawing.h"
#include "core/Kinematics.h"
#include "core/io/LatticeFile.h"
#include "core/optics/BetaFunctions.h"
#include "core/ring/RingGeometry.h"
#include "gui/QtMessages.h"
#include "gui/nonlinear/SextupoleKnobWindow.h"
#include "support/FakeMessages.h"

#include <QComboBox>
#include <QDir>
#include <QSignalSpy>
#include <QSlider>
#include <QTest>
#include <cstdlib>
#include <gtest/gtest.h>

namespace kestrune {
namespace {

/// The sextupole-knob window on the example ring, SF raised by a drag, for the documentation; run only
/// when KESTRUNE_SCREENSHOT_DIR names the folder to write it to.
TEST(SextupoleKnobScreenshot, KnobsTermsBuildUpAndTunes)
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
    ASSERT_TRUE(betaFunctions(state, fake, nullptr));

    SextupoleKnobWindow window(state, windows);
    window.show();
    window.findChild<QComboBox*>("cbTerm")->setCurrentIndex(static_cast<int>(DrivingTerm::H30000));
    QSlider* slider = window.findChild<QSlider*>("sbKnob1");
    QSignalSpy shown(&window, &SextupoleKnobWindow::tunesShown);
    slider->setSliderDown(true);
    slider->setValue(12);
    slider->setSliderDown(false);
    while (window.scanning())
        ASSERT_TRUE(shown.wait(60000));
    EXPECT_TRUE(fake.errors.empty());
    QTest::qWait(200);
    ASSERT_TRUE(window.grab().save(QDir(dir).filePath("sextupole-knobs-window.png")));
}

} // namespace
} // namespace kestrune
