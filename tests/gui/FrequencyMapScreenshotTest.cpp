#include "core/Drawing.h"
#include "core/Kinematics.h"
#include "core/io/LatticeFile.h"
#include "core/optics/BetaFunctions.h"
#include "core/ring/RingGeometry.h"
#include "gui/QtMessages.h"
#include "gui/nonlinear/FrequencyMapWindow.h"
#include "gui/resonance/ResonanceWindow.h"
#include "support/FakeMessages.h"

#include <QDir>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>
#include <cstdlib>
#include <gtest/gtest.h>

namespace kestrune {
namespace {

/// The frequency map window on the example ring and its tunes on the resonance diagram, for the
/// documentation; run only when KESTRUNE_SCREENSHOT_DIR names the folder to write them to.
TEST(FrequencyMapScreenshot, MapFootprintAndResonanceDiagram)
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

    FrequencyMapWindow window(state, windows);
    ResonanceWindow resonance(state, windows);
    QObject::connect(&window, &FrequencyMapWindow::footprintChanged, &resonance,
                     &ResonanceWindow::showFootprint);
    window.show();
    for (const auto& [box, text] :
         {std::pair{"edNx", "30"}, {"edNy", "15"}, {"edXMax", "24"}, {"edYMax", "9"}})
        window.findChild<QLineEdit*>(box)->setText(text);
    QSignalSpy spy(&window, &FrequencyMapWindow::scanFinished);
    window.bbRunClick();
    ASSERT_TRUE(spy.wait(300000));
    EXPECT_TRUE(fake.errors.empty());
    QTest::qWait(200);
    ASSERT_TRUE(window.grab().save(QDir(dir).filePath("frequency-map-window.png")));
    resonance.show();
    QTest::qWait(200);
    ASSERT_TRUE(resonance.grab().save(QDir(dir).filePath("resonance-frequency-map.png")));
}

} // namespace
} // namespace kestrune
