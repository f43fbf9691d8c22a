#include "MagStructFixture.h"
#include "core/Drawing.h"
#include "gui/editor/ElementPanel.h"
#include "gui/editor/InitialConditionsPanel.h"
#include "gui/editor/LatticeChart.h"
#include "gui/editor/TuningPanel.h"

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QFrame>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <cstdlib>
#include <qcustomplot.h>
#include <utility>
#include <vector>

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

TEST_F(MagStructScreenshot, CoupledRingWithItsModes)
{
    const char* dir = std::getenv("KESTRUNE_SCREENSHOT_DIR");
    if (!dir)
        GTEST_SKIP() << "KESTRUNE_SCREENSHOT_DIR not set";
    showWindow();
    openAnswer = QString(KESTRUNE_VALIDATION) + "/coupled-double-bend.lat";
    window->openClick();
    ASSERT_GT(state.line.count, 0);
    window->mnPerSolClick();
    QTest::qWait(200);
    ASSERT_TRUE(window->grab().save(QDir(dir).filePath("magstruct-coupled.png")));
    // the start values with their coupling, as the periodic solution left them
    window->mnInitLatClick();
    QTest::qWait(200);
    ASSERT_TRUE(window->grab().save(QDir(dir).filePath("magstruct-coupled-start.png")));
    // the start typed as a beam matrix, filled from the periodic start for mode emittances of 1 and 0.1
    // mm mrad: the Edwards-Teng boxes follow from it
    QFrame* start = window->initialPanel()->latticeFunctionFrame();
    start->findChild<QLineEdit*>("edEpsx")->setText("1");
    start->findChild<QLineEdit*>("edEpsy")->setText("0.1");
    start->findChild<QComboBox*>("cbStartForm")->setCurrentIndex(1);
    QTest::qWait(200);
    ASSERT_TRUE(window->grab().save(QDir(dir).filePath("magstruct-start-beam-matrix.png")));
    // and as Mais-Ripken values with their phases
    start->findChild<QComboBox*>("cbStartForm")->setCurrentIndex(2);
    QTest::qWait(200);
    ASSERT_TRUE(window->grab().save(QDir(dir).filePath("magstruct-start-mais-ripken.png")));
}

// The DBA cell with two quadrupoles misaligned: its betas about the closed orbit.
TEST_F(MagStructScreenshot, DbaCellAboutTheClosedOrbit)
{
    const char* dir = std::getenv("KESTRUNE_SCREENSHOT_DIR");
    if (!dir)
        GTEST_SKIP() << "KESTRUNE_SCREENSHOT_DIR not set";
    showWindow();
    openAnswer = QString(KESTRUNE_EXAMPLES) + "/dba-cell.lat";
    window->openClick();
    ASSERT_GT(state.line.count, 0);
    int misaligned = 0;
    for (int i = 1; i <= state.line.count && misaligned < 2; ++i)
        if (state.line.at(i).code / 10 == 2) {
            (misaligned++ == 0 ? state.line.at(i).errors.dx : state.line.at(i).errors.dy) = 1e-4;
        }
    window->mnPerSolClick();
    window->findChild<QAction*>("mnAboutOrbit")->trigger();
    ASSERT_TRUE(fake.errors.empty()) << fake.errors.front();
    QTest::qWait(200);
    ASSERT_TRUE(window->grab().save(QDir(dir).filePath("magstruct-about-orbit.png")));
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

// A line of 100 002 elements (FODO cells with bends) shown whole, then zoomed in twice.
TEST_F(MagStructScreenshot, LongLineZoomedOutAndIn)
{
    const char* dir = std::getenv("KESTRUNE_SCREENSHOT_DIR");
    if (!dir)
        GTEST_SKIP() << "KESTRUNE_SCREENSHOT_DIR not set";
    const int kinds[] = {0, 2, 0, 1, 0, 2};
    for (int i = 0; i < 100002; ++i)
        ASSERT_TRUE(addElement(state, kinds[i % 6], fake));
    for (int i = 1; i <= state.line.count; ++i) {
        LatticeElement& e = state.line.at(i);
        const int kind = kinds[(i - 1) % 6];
        e.length = kind == 1 ? 1.0 : kind == 2 ? 0.3 : 0.5;
        if (kind == 2) {
            e.k = (i - 1) % 6 == 1 ? 1.6 : -1.6;
            applyQuadrupoleSign(state.line.shape(i), e.k, state.drawBaseline, state.drawScale);
        }
    }
    state.line.chainPositions();
    for (int i = 1; i <= state.line.count; ++i)
        placeShape(state.line, i);
    showWindow();
    window->chart()->setBottomMax(bottomAxisMaximum(state.line));
    window->mnPerSolClick();
    state.run.showBetaFunctions = true;
    window->beamDynamics();
    QTest::qWait(200);
    ASSERT_TRUE(window->grab().save(QDir(dir).filePath("magstruct-100k-whole.png")));
    LatticeChart& chart = *window->chart();
    for (const auto& [factor, name] :
         {std::pair{0.02, "magstruct-100k-zoom50.png"}, std::pair{0.05, "magstruct-100k-zoom1000.png"}}) {
        chart.zoomAt(chart.fullRange().upper * 0.5, factor);
        QTest::qWait(200);
        ASSERT_TRUE(window->grab().save(QDir(dir).filePath(name)));
    }
}

TEST_F(MagStructScreenshot, NewKindsInTheDrawingAndTheirPanels)
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
    // through the editor as a user would: a click on the element, insert, the kind from the list
    const auto insertBefore = [this](int e, int kind) {
        QTest::mouseClick(window->chart()->plot(), Qt::LeftButton, {}, window->chart()->shapeCentre(e));
        window->bbInsertClick();
        window->magListClick(kind);
    };
    // in front of drifts spread over the cell, from its end so that the places stay where they are
    std::vector<int> drifts;
    for (int i = 1; i <= state.line.count; ++i)
        if (state.line.at(i).code == code::kDrift)
            drifts.push_back(i);
    ASSERT_GE(drifts.size(), 6u);
    const int kinds[] = {9, 12, 13, 14, 10, 15};
    for (int k = 5; k >= 0; --k)
        insertBefore(drifts[static_cast<std::size_t>(k) * drifts.size() / 6], kinds[k]);
    window->mnPerSolClick();
    window->elementPanel()->hide();
    QTest::qWait(200);
    ASSERT_TRUE(window->grab().save(QDir(dir).filePath("magstruct-new-kinds.png")));
    for (const auto& [kind, file] : {std::pair{9, "element-panel-thin-multipole.png"},
                                     {15, "element-panel-rf-cavity.png"},
                                     {12, "element-panel-kicker.png"}}) {
        int e = 1;
        while (e < state.line.count && kindOf(state.line.at(e).code) != kind)
            ++e;
        QTest::mouseClick(window->chart()->plot(), Qt::LeftButton, {}, window->chart()->shapeCentre(e));
        ASSERT_TRUE(window->elementPanel()->isVisible());
        ASSERT_EQ(window->elementPanel()->element(), e);
        QTest::qWait(100);
        ASSERT_TRUE(window->elementPanel()->grab().save(QDir(dir).filePath(file)));
    }
}

} // namespace
} // namespace kestrune::test
