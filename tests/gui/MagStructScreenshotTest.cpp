#include "MagStructFixture.h"
#include "editor/InitialConditionsPanel.h"

#include <QDir>
#include <QFrame>
#include <QPixmap>
#include <QPushButton>
#include <QTest>
#include <cstdlib>

namespace kestrune::test {
namespace {

/// Pictures of the window with the example DBA cell, for the documentation; runs only when
/// KESTRUNE_SCREENSHOT_DIR names the folder to write them to.
class MagStructScreenshot : public MagStructFixture
{
};

TEST_F(MagStructScreenshot, DbaCellBetaAndBeamSize)
{
    const char* dir = std::getenv("KESTRUNE_SCREENSHOT_DIR");
    if (!dir)
        GTEST_SKIP() << "KESTRUNE_SCREENSHOT_DIR not set";
    showWindow();
    window->setChartTitle("Periodic Lattice");
    openAnswer = QString(KESTRUNE_EXAMPLES) + "/dba-cell.lat";
    window->openClick();
    ASSERT_GT(state.line.count, 0);

    window->mnPerSolClick();
    QTest::qWait(200);
    ASSERT_TRUE(window->grab().save(QDir(dir).filePath("magstruct-dba-beta.png")));

    window->calculateandshowbeam1Click();
    auto* use = window->initialPanel()->latticeFunctionFrame()->findChild<QPushButton*>("BitBtn1");
    ASSERT_NE(use, nullptr);
    QTest::mouseClick(use, Qt::LeftButton);
    QTest::qWait(200);
    ASSERT_TRUE(window->grab().save(QDir(dir).filePath("magstruct-dba-beam.png")));

    window->chLatticeClickSeries("3");
    window->addMagnetClick();
    QTest::qWait(200);
    ASSERT_TRUE(window->grab().save(QDir(dir).filePath("magstruct-dba-editing.png")));
}

} // namespace
} // namespace kestrune::test
