#include "core/Format.h"
#include "core/Kinematics.h"
#include "core/io/LatticeFile.h"
#include "core/optics/BetaFunctions.h"
#include "core/ring/Parameter.h"
#include "core/ring/RingGeometry.h"
#include "gui/QtMessages.h"
#include "gui/chromaticity/ChromaticWindow.h"
#include "gui/resonance/ResonanceWindow.h"
#include "support/FakeMessages.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <cstdlib>
#include <gtest/gtest.h>

namespace kestrune {
namespace {

/// Pictures of the tracking and resonance windows with the example DBA ring, for the documentation; run
/// only when KESTRUNE_SCREENSHOT_DIR names the folder to write them to.
class ChromaticScreenshot : public ::testing::Test
{
protected:
    ChromaticScreenshot() : messages(windows)
    {
        messages.redirectTo(&fake);
        windows.messages = &messages;
        startParticle(state);
        EXPECT_TRUE(readLatticeFile(state, fake, std::string(KESTRUNE_EXAMPLES) + "/dba-cell.lat"));
    }

    void type(QWidget* window, const char* name, const QString& text)
    {
        auto* edit = window->findChild<QLineEdit*>(name);
        ASSERT_NE(edit, nullptr) << name;
        edit->setText(text);
    }

    void click(QWidget* window, const char* name)
    {
        auto* button = window->findChild<QAbstractButton*>(name);
        ASSERT_NE(button, nullptr) << name;
        button->click();
    }

    State state;
    Windows windows;
    test::FakeMessages fake;
    QtMessages messages;
};

TEST_F(ChromaticScreenshot, DbaRingPhaseSpaceAndResonanceDiagram)
{
    const char* dir = std::getenv("KESTRUNE_SCREENSHOT_DIR");
    if (!dir)
        GTEST_SKIP() << "KESTRUNE_SCREENSHOT_DIR not set";
    ChromaticWindow chromatic(state, windows);
    chromatic.resize(1180, 860);
    chromatic.show();
    type(&chromatic, "edxiwx", "1.0");
    type(&chromatic, "edxiwy", "1.0");
    chromatic.bbUpdateClick();
    type(&chromatic, "edNumTurns", "1000");
    for (const char* amplitude : {"10", "20", "30", "40", "50", "55", "60", "65", "70"}) {
        type(&chromatic, "edXo", amplitude);
        chromatic.bbTrackClick();
    }
    QTest::qWait(200);
    ASSERT_TRUE(chromatic.grab().save(QDir(dir).filePath("tracking-dba-phase-space.png")));

    // the longitudinal phase space with the rf cavity: synchrotron oscillations inside the bucket, and a
    // particle beyond the rf acceptance that leaves it
    ASSERT_TRUE(ringGeometry(
        state, fake, {std::to_string(state.line.superPeriods), fmt("%10.5f", state.rf.frequency / 1e6)}));
    radiationIntegrals(state, fake);
    equilibriumParameters(state);
    click(&chromatic, "rbReplace");
    click(&chromatic, "rbZDelta");
    click(&chromatic, "cbOffMom");
    type(&chromatic, "edXo", "1");
    type(&chromatic, "edYo", "0.5");
    type(&chromatic, "edNumTurns", "600");
    for (const char* percent : {"0.3", "0.7", "1.1", "1.5", "1.75", "1.9"}) {
        type(&chromatic, "edOffMom", percent);
        chromatic.bbTrackClick();
        click(&chromatic, "rbAdd");
    }
    // the bucket of one rf wavelength, 0.6 m
    type(&chromatic, "edWidthMin", "-450");
    type(&chromatic, "edWidthMax", "450");
    type(&chromatic, "edHeightMin", "-30");
    type(&chromatic, "edHeightMax", "30");
    chromatic.bbUseClick();
    QTest::qWait(200);
    ASSERT_TRUE(chromatic.grab().save(QDir(dir).filePath("tracking-dba-longitudinal.png")));

    ASSERT_TRUE(betaFunctions(state, fake, nullptr));
    ResonanceWindow resonance(state, windows);
    resonance.resize(640, 640);
    resonance.show();
    QTest::qWait(200);
    ASSERT_TRUE(resonance.grab().save(QDir(dir).filePath("resonance-dba.png")));
}

} // namespace
} // namespace kestrune
