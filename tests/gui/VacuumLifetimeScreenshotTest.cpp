#include "core/Kinematics.h"
#include "core/io/LatticeFile.h"
#include "core/ring/Parameter.h"
#include "core/ring/RingGeometry.h"
#include "gui/QtMessages.h"
#include "gui/lifetime/LifeTimeWindow.h"
#include "gui/vacuum/VacuumWindow.h"
#include "support/FakeMessages.h"

#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <cstdlib>
#include <gtest/gtest.h>

namespace kestrune {
namespace {

/// Pictures of the vacuum and lifetime windows on the example ring, for the documentation; run only
/// when KESTRUNE_SCREENSHOT_DIR names the folder to write them to.
class VacuumLifetimeScreenshot : public ::testing::Test
{
protected:
    VacuumLifetimeScreenshot() : messages(windows)
    {
        messages.redirectTo(&fake);
        windows.messages = &messages;
        startParticle(state);
    }

    void openRing(const char* name)
    {
        ASSERT_TRUE(readLatticeFile(state, fake, std::string(KESTRUNE_EXAMPLES) + "/" + name));
        ASSERT_TRUE(ringGeometry(state, fake, {std::to_string(state.line.superPeriods), "499.654"}));
    }

    State state;
    Windows windows;
    test::FakeMessages fake;
    QtMessages messages;
};

TEST_F(VacuumLifetimeScreenshot, ProfilePumpListAndLifetimes)
{
    const char* dir = std::getenv("KESTRUNE_SCREENSHOT_DIR");
    if (!dir)
        GTEST_SKIP() << "KESTRUNE_SCREENSHOT_DIR not set";
    const char* ring = std::getenv("KESTRUNE_SCREENSHOT_RING");
    openRing(ring ? ring : "dba-cell.lat");

    VacuumWindow vacuum(state, windows);
    vacuum.resize(900, 620);
    vacuum.show();
    vacuum.presCalcClick();
    QTest::qWait(200);
    ASSERT_TRUE(vacuum.grab().save(QDir(dir).filePath("vacuum-profile.png")));
    vacuum.pumpPressuresClick();
    QTest::qWait(200);
    ASSERT_TRUE(vacuum.grab().save(QDir(dir).filePath("vacuum-pump-list.png")));

    // the ring window's beam-parameter update: 1 % coupling
    state.ringParams.coupling = 0.01;
    radiationIntegrals(state, fake);
    equilibriumParameters(state);
    LifeTimeWindow lifetime(state, windows);
    lifetime.show();
    lifetime.formActivate();
    lifetime.elasticClick();
    lifetime.bremsstrahlungClick();
    lifetime.quantumLifetimeClick();
    lifetime.touschekClick();
    // the RF results as the user types them
    for (const char* box : {"edEnAcc", "edEnAcc1", "edEnAcc2"})
        lifetime.findChild<QLineEdit*>(box)->setText("1.2");
    lifetime.findChild<QLineEdit*>("edBunLen")->setText("5.0");
    for (const char* button : {"bbUpdElast", "bbBremsLife", "bbUpQuantum", "bbTouschek"})
        QTest::mouseClick(lifetime.findChild<QPushButton*>(button), Qt::LeftButton);
    QTest::qWait(200);
    ASSERT_TRUE(lifetime.grab().save(QDir(dir).filePath("lifetime-window.png")));
}

} // namespace
} // namespace kestrune
