#include "core/Drawing.h"
#include "core/orbit/CorrectorRing.h"
#include "gui/QtMessages.h"
#include "gui/orbit/ErrorsOrbitWindow.h"
#include "support/FakeMessages.h"

#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTest>
#include <cstdlib>
#include <gtest/gtest.h>

namespace kestrune {
namespace {

/// The errors and orbit window on a FODO ring of kickers and monitors with misaligned quadrupoles: a study
/// of seeds corrected with 16 singular values, each with its dynamic aperture, the orbit before and after an
/// SVD correction with 16 singular values, its kicks and singular values, for the documentation; run only
/// when KESTRUNE_SCREENSHOT_DIR names the folder to write them to.
TEST(ErrorsOrbitScreenshot, OrbitCorrectionAndSeeds)
{
    const char* dir = std::getenv("KESTRUNE_SCREENSHOT_DIR");
    if (!dir)
        GTEST_SKIP() << "KESTRUNE_SCREENSHOT_DIR not set";
    State state = test::correctorRing(false);
    for (int i = 1; i <= state.line.count; ++i) {
        const int kind = kindOf(state.line.at(i).code);
        ElementShape& shape = state.line.shape(i);
        placeShape(state.line, i);
        applyKindStyle(shape, kind);
        applyKindExtent(shape, kind, state.drawBaseline, state.drawScale);
        if (state.line.at(i).code / 10 == 2)
            applyQuadrupoleSign(shape, state.line.at(i).k, state.drawBaseline, state.drawScale);
    }
    state.history.reset(state);
    Windows windows;
    test::FakeMessages fake;
    QtMessages messages(windows);
    messages.redirectTo(&fake);
    windows.messages = &messages;

    ErrorsOrbitWindow window(state, windows);
    window.show();
    auto* tabs = window.findChild<QTabWidget*>("pcResults");
    window.findChild<QLineEdit*>("edSeeds")->setText("40");
    window.findChild<QLineEdit*>("edSingularValues")->setText("16");
    window.findChild<QCheckBox*>("cbSeedsDa")->setChecked(true);
    window.findChild<QLineEdit*>("edSeedTurns")->setText("256");
    QSignalSpy done(&window, &ErrorsOrbitWindow::seedsFinished);
    window.bbSeedsClick();
    ASSERT_TRUE(done.wait(300000));
    ASSERT_TRUE(fake.errors.empty()) << fake.errors.front();
    tabs->setCurrentIndex(2);
    QTest::qWait(200);
    ASSERT_TRUE(window.grab().save(QDir(dir).filePath("errors-orbit-seeds.png")));

    window.bbApplyClick();
    window.bbCorrectClick();
    ASSERT_TRUE(fake.errors.empty()) << fake.errors.front();
    tabs->setCurrentIndex(0);
    QTest::qWait(200);
    ASSERT_TRUE(window.grab().save(QDir(dir).filePath("errors-orbit-window.png")));
    tabs->setCurrentIndex(1);
    QTest::qWait(200);
    ASSERT_TRUE(window.grab().save(QDir(dir).filePath("errors-orbit-correction.png")));
}

} // namespace
} // namespace kestrune
