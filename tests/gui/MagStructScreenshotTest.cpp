#include "MagStructFixture.h"
#include "gui/editor/ElementPanel.h"
#include "gui/editor/InitialConditionsPanel.h"
#include "gui/editor/TuningPanel.h"

#include <QDir>
#include <QFrame>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QScrollBar>
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

    window->beamSizesClick();
    auto* use = window->initialPanel()->latticeFunctionFrame()->findChild<QPushButton*>("bbUseBeam");
    ASSERT_NE(use, nullptr);
    QTest::mouseClick(use, Qt::LeftButton);
    QTest::qWait(200);
    ASSERT_TRUE(window->grab().save(QDir(dir).filePath("magstruct-dba-beam.png")));

    window->chLatticeClickSeries("3");
    window->addMagnetClick();
    QTest::qWait(200);
    ASSERT_TRUE(window->grab().save(QDir(dir).filePath("magstruct-dba-editing.png")));
}

TEST_F(MagStructScreenshot, UnstableCellAndBeamSizesOverTheDrawing)
{
    const char* dir = std::getenv("KESTRUNE_SCREENSHOT_DIR");
    if (!dir)
        GTEST_SKIP() << "KESTRUNE_SCREENSHOT_DIR not set";
    showWindow();
    openAnswer = QString(KESTRUNE_EXAMPLES) + "/dba-cell.lat";
    window->openClick();
    ASSERT_GT(state.line.count, 0);
    window->mnPerSolClick();

    // the strongest focusing quadrupole, tuned up until the cell has no periodic solution
    int quad = 0;
    for (int i = 1; i <= state.line.count; ++i)
        if (familyOf(state.line.at(i).code) == 2 && (quad == 0 || state.line.at(i).k > state.line.at(quad).k))
            quad = i;
    ASSERT_GT(quad, 0);
    window->tuningPanel()->startTuning(quad);
    auto* bar = window->tuningPanel()->findChild<QScrollBar*>("sbTuning");
    ASSERT_NE(bar, nullptr);
    for (int position = 1; position <= 50 && window->chart()->titleLines().size() < 2; ++position)
        bar->setValue(position);
    ASSERT_EQ(window->chart()->titleLines().size(), 2);
    QTest::qWait(200);
    ASSERT_TRUE(window->grab().save(QDir(dir).filePath("magstruct-unstable-cell.png")));

    // beam sizes with a vertical emittance five times the horizontal one: the green curve runs deep
    // and the drawing goes below it
    window->tuningPanel()->findChild<QPushButton*>("btRestVal")->click();
    window->tuningPanel()->findChild<QPushButton*>("bbAbort")->click();
    window->elementPanel()->hide();
    window->beamSizesClick();
    QFrame* beam = window->initialPanel()->latticeFunctionFrame();
    beam->findChild<QLineEdit*>("edEpsx")->setText("1");
    beam->findChild<QLineEdit*>("edEpsy")->setText("5");
    QTest::mouseClick(beam->findChild<QPushButton*>("bbInitLatFun"), Qt::LeftButton);
    QTest::qWait(200);
    ASSERT_TRUE(window->grab().save(QDir(dir).filePath("magstruct-beam-sizes-drawing-below.png")));
}

} // namespace
} // namespace kestrune::test
