// The beam-dynamics window as a user meets it: a slow user's multi-click operations, the list save dialog,
// bad input, the drawing under the curves, the element panel's buttons, redraws per edit, the lists
// menu and the list window.
#include "MagStructFixture.h"
#include "PanelTestSupport.h"
#include "core/Drawing.h"
#include "core/io/Listing.h"
#include "gui/GraphExport.h"
#include "gui/editor/ElementPanel.h"
#include "gui/editor/InitialConditionsPanel.h"
#include "gui/editor/MagShapePlottable.h"
#include "gui/io/ListingWindow.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <cmath>
#include <qcustomplot.h>

namespace kestrune::test {
namespace {

const QString kDbaCell = QString(KESTRUNE_EXAMPLES) + "/dba-cell.lat";

class MagStructUse : public MagStructFixture
{
protected:
    void click(int element)
    {
        QTest::mouseClick(window->chart()->plot(), Qt::LeftButton, {}, window->chart()->shapeCentre(element));
    }
    QPushButton* button(const char* name) { return window->findChild<QPushButton*>(name); }
    /// The activation a closed message box hands back to the window: without a window manager it
    /// comes only with the user's next click, however long the user took (the window keeps no clock).
    void slowUserComesBack()
    {
        QEvent activation(QEvent::WindowActivate);
        QApplication::sendEvent(window.get(), &activation);
    }
    void openDba()
    {
        openAnswer = kDbaCell;
        window->openClick();
        ASSERT_GT(state.line.count, 10);
    }
    QAction* listsEntry(const char* text)
    {
        for (QAction* top : window->menuBar()->actions())
            if (top->menu() && top->menu()->objectName() == "mnLists")
                for (QAction* entry : top->menu()->actions())
                    if (entry->text() == text)
                        return entry;
        ADD_FAILURE() << text;
        return nullptr;
    }
};

TEST_F(MagStructUse, CopyAndRangeDeleteKeepTheirStateForASlowUser)
{
    appendKinds({0, 2, 0, 1, 0, 3});
    showWindow();
    QTest::mouseClick(button("bbCopy"), Qt::LeftButton);
    slowUserComesBack();
    click(2);
    EXPECT_EQ(fake.errors.back(), "select element after insertion point and click \"insert\" ");
    slowUserComesBack();
    click(5);
    EXPECT_TRUE(button("bbInsert")->isVisible());
    EXPECT_TRUE(window->editor().firstLimitSet);
    EXPECT_EQ(window->editor().copySource, 2);
    QTest::mouseClick(button("bbInsert"), Qt::LeftButton);
    ASSERT_EQ(state.line.count, 7);
    EXPECT_EQ(state.line.at(5).code, 20); // the copy of the quadrupole stands in front of element 5

    QTest::mouseClick(button("bbDelEl"), Qt::LeftButton);
    slowUserComesBack();
    click(3);
    EXPECT_EQ(fake.errors.back(), "now select right limit");
    slowUserComesBack();
    click(4);
    EXPECT_EQ(state.line.count, 5); // elements 3 and 4 are gone
    EXPECT_EQ(window->editor().editOperation, EditOperation::None);
    EXPECT_TRUE(button("bbCopy")->isVisible());
}

TEST_F(MagStructUse, ActivationAfterAnotherWindowOfTheProgramStillCounts)
{
    appendKinds({0, 2, 0});
    showWindow();
    QTest::mouseClick(button("bbCutPaste"), Qt::LeftButton);
    click(2);
    ASSERT_TRUE(window->editor().firstLimitSet);
    QWidget other;
    other.resize(200, 100);
    other.show();
    other.activateWindow();
    if (!QTest::qWaitForWindowActive(&other))
        GTEST_SKIP() << "this platform does not activate windows";
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    // back from another window: the operation picks its first limit again (FormActivate)
    EXPECT_FALSE(window->editor().firstLimitSet);
    EXPECT_EQ(window->editor().editOperation, EditOperation::CutPaste);
}

TEST_F(MagStructUse, ListAndChartDialogsNeverOfferTheLatticeFile)
{
    showWindow();
    openDba();
    window->saveListClick();
    ASSERT_EQ(savePresets.size(), 1);
    EXPECT_EQ(saveTitles.back(), "save parameter lists to file");
    EXPECT_EQ(saveSuffixes.back(), "txt");
    EXPECT_EQ(savePresets.back(), QDir::current().filePath("dba-cell.txt"));

    // a chart saved elsewhere makes that the folder of the next list
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    setSaveGraphDialogHook([&](QWidget*) { return dir.filePath("chart.wmf"); });
    window->saveChartWmfClick();
    setSaveGraphDialogHook({});
    EXPECT_TRUE(QFile::exists(dir.filePath("chart.wmf")));
    saveAnswer = dir.filePath("dba-cell.txt");
    window->saveListClick();
    EXPECT_EQ(savePresets.back(), dir.filePath("dba-cell.txt"));
    QFile saved(saveAnswer);
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    EXPECT_EQ(saved.readAll().toStdString(), listFileText(state.listing));
    QFile lattice(kDbaCell);
    ASSERT_TRUE(lattice.open(QIODevice::ReadOnly));
    EXPECT_TRUE(lattice.readAll().startsWith("1004")); // the example is still a lattice file
}

TEST_F(MagStructUse, NegativeEmittanceIsRefusedAndThePlotStays)
{
    showWindow();
    openDba();
    window->mnPerSolClick();
    window->beamSizesClick();
    QFrame* panel = window->initialPanel()->latticeFunctionFrame();
    ASSERT_TRUE(panel->isVisible());
    QTest::mouseClick(panel->findChild<QPushButton*>("bbUseBeam"), Qt::LeftButton);
    ASSERT_EQ(window->chart()->seriesTitle(1), "beam");
    const double shownMax = *window->chart()->seriesMax(1);
    const double leftLower = window->chart()->leftLower();
    const double epsX = state.run.epsXIn;
    const double betaX = state.run.betaX0;
    const std::size_t errors = fake.errors.size();

    window->beamSizesClick();
    typeInto(panel->findChild<QLineEdit*>("edEpsx"), "-2");
    QTest::mouseClick(panel->findChild<QPushButton*>("bbUseBeam"), Qt::LeftButton);
    ASSERT_EQ(fake.errors.size(), errors + 1);
    EXPECT_EQ(fake.errors.back(), "the horizontal emittance must not be negative!");
    EXPECT_TRUE(panel->isVisible()); // open to correct the box
    EXPECT_EQ(state.run.epsXIn, epsX);
    EXPECT_EQ(state.run.betaX0, betaX);
    EXPECT_EQ(*window->chart()->seriesMax(1), shownMax);
    EXPECT_EQ(window->chart()->leftLower(), leftLower);

    // the lattice-function "use" reads the emittances in this mode too
    QTest::mouseClick(panel->findChild<QPushButton*>("bbInitLatFun"), Qt::LeftButton);
    EXPECT_EQ(fake.errors.back(), "the horizontal emittance must not be negative!");
    EXPECT_EQ(state.run.epsXIn, epsX);
    EXPECT_TRUE(std::isfinite(*window->chart()->seriesMax(1)));
}

TEST_F(MagStructUse, NegativeElementLengthIsRefused)
{
    appendKinds({0, 2, 0});
    state.run.showBetaFunctions = true;
    window->beamDynamics();
    showWindow();
    click(2);
    ElementPanel* panel = window->elementPanel();
    ASSERT_TRUE(panel->isVisible());
    const double lineLength = state.line.length;
    const int points = window->chart()->pointCount(1);
    typeIntoCell(panel->findChild<QTableWidget*>("MagPar"), 1, 3, "-1");
    QTest::mouseClick(panel->findChild<QPushButton*>("bbAccept"), Qt::LeftButton);
    ASSERT_FALSE(fake.errors.empty());
    EXPECT_EQ(fake.errors.back(), "the path length must not be negative!");
    EXPECT_TRUE(panel->isVisible());
    EXPECT_NEAR(state.line.at(2).length, 0.25, 1e-12);
    EXPECT_EQ(state.line.length, lineLength);
    EXPECT_EQ(state.line.at(3).s, 0.5);
    EXPECT_EQ(window->chart()->pointCount(1), points);
}

TEST_F(MagStructUse, DrawingStaysBelowTheLowestCurveInEveryMode)
{
    showWindow();
    openDba();
    window->mnPerSolClick();
    const auto drawingBelowCurves = [this](const char* mode) {
        LatticeChart& chart = *window->chart();
        double lowest = 0;
        for (int n = 1; n <= 3; ++n)
            lowest = std::min(lowest, *chart.seriesMin(n));
        QCPAxis* y = chart.plot()->yAxis;
        const double curveBottom = y->coordToPixel(lowest); // pixels grow downwards
        double drawingTop = 1e9;
        for (int i = 1; i <= state.line.count; ++i) {
            const ElementShape& shape = state.line.shape(i);
            drawingTop =
                std::min(drawingTop, y->coordToPixel(std::max(shape.y0, shape.y1) + chart.drawingOffset()));
        }
        EXPECT_GT(drawingTop, curveBottom) << mode;
        EXPECT_GT(y->coordToPixel(y->range().lower), drawingTop) << mode; // and it is in view
    };
    drawingBelowCurves("beta");

    // beam sizes: the green curve (minus the vertical size) goes deeper than the red one goes up
    window->beamSizesClick();
    QFrame* beam = window->initialPanel()->latticeFunctionFrame();
    typeInto(beam->findChild<QLineEdit*>("edEpsx"), "0.01");
    typeInto(beam->findChild<QLineEdit*>("edEpsy"), "10");
    QTest::mouseClick(beam->findChild<QPushButton*>("bbInitLatFun"), Qt::LeftButton);
    ASSERT_EQ(window->chart()->seriesTitle(1), "beam");
    ASSERT_GT(-*window->chart()->seriesMin(2), *window->chart()->seriesMax(1));
    drawingBelowCurves("beam sizes");

    // trajectories: the red curve alone swings far below the axis
    window->snglPartPathClick();
    QFrame* particle = window->initialPanel()->singleParticleFrame();
    typeInto(particle->findChild<QLineEdit*>("edXo"), "-30");
    typeInto(particle->findChild<QLineEdit*>("edYo"), "0.1");
    QTest::mouseClick(particle->findChild<QPushButton*>("bbUseSngl"), Qt::LeftButton);
    ASSERT_EQ(window->chart()->seriesTitle(1), "traj");
    ASSERT_LT(*window->chart()->seriesMin(1), *window->chart()->seriesMin(2));
    drawingBelowCurves("trajectories");
}

TEST_F(MagStructUse, ElementPanelButtonsStayInPlaceForEveryKind)
{
    appendKinds({0, 1, 2, 3, 4, 5, 6, 7, 8});
    showWindow();
    ElementPanel* panel = window->elementPanel();
    const char* names[] = {"bbAccept", "btCancelEdit", "btPrev", "btNext", "btDelete", "btInsertElement"};
    std::vector<QRect> first;
    QRect panelGeometry;
    for (int e = 1; e <= state.line.count; ++e) {
        window->chLatticeClickSeries(QString::number(e));
        ASSERT_TRUE(panel->isVisible()) << e;
        if (e == 1)
            panelGeometry = panel->geometry();
        EXPECT_EQ(panel->geometry(), panelGeometry) << e;
        for (std::size_t b = 0; b < std::size(names); ++b) {
            const QRect r = panel->findChild<QPushButton*>(names[b])->geometry();
            if (e == 1)
                first.push_back(r);
            else
                EXPECT_EQ(r, first[b]) << names[b] << " of element " << e;
        }
    }
    // "next element" from a drift to a bend and on, clicked at one place
    window->chLatticeClickSeries("1");
    auto* next = panel->findChild<QPushButton*>("btNext");
    const QPoint at = next->rect().center();
    for (int e = 2; e <= 4; ++e) {
        QTest::mouseClick(next, Qt::LeftButton, {}, at);
        EXPECT_EQ(panel->element(), e);
    }
}

TEST_F(MagStructUse, EveryEditRedrawsTheChartOnce)
{
    appendKinds({0, 2, 0, 1, 0});
    state.run.showBetaFunctions = true;
    window->beamDynamics();
    showWindow();
    int replots = 0;
    QObject::connect(window->chart()->plot(), &QCustomPlot::afterReplot, [&replots] { ++replots; });
    const auto once = [&](const char* edit, const std::function<void()>& action) {
        replots = 0;
        action();
        EXPECT_EQ(replots, 1) << edit;
    };
    ElementPanel* panel = window->elementPanel();
    once("click", [&] { click(2); });
    once("accept", [&] { QTest::mouseClick(panel->findChild<QPushButton*>("bbAccept"), Qt::LeftButton); });
    once("next", [&] {
        window->chLatticeClickSeries("2");
        replots = 0;
        QTest::mouseClick(panel->findChild<QPushButton*>("btNext"), Qt::LeftButton);
    });
    once("delete", [&] { QTest::mouseClick(panel->findChild<QPushButton*>("btDelete"), Qt::LeftButton); });
    once("copy", [&] {
        QTest::mouseClick(button("bbCopy"), Qt::LeftButton);
        click(2);
        click(1);
        replots = 0;
        QTest::mouseClick(button("bbInsert"), Qt::LeftButton);
    });
    once("open", [&] {
        openAnswer = kDbaCell;
        window->openClick();
    });
}

TEST_F(MagStructUse, ListsMenuAndListWindowShowAddOrReplace)
{
    ListingWindow listing(state, windows);
    windows.enter(WindowId::Listing, windows.listing, &listing);
    QAction* add = listsEntry("add");
    QAction* replace = listsEntry("replace");
    ASSERT_TRUE(add && replace);
    EXPECT_TRUE(add->isCheckable());
    auto* mode = listing.findChild<QLabel*>("lMode");
    ASSERT_NE(mode, nullptr);
    EXPECT_EQ(mode->text(), "add: new lists are appended to the text");

    replace->trigger();
    EXPECT_TRUE(state.listing.replaceList);
    EXPECT_TRUE(replace->isChecked());
    EXPECT_FALSE(add->isChecked());
    EXPECT_EQ(mode->text(), "replace: each new list replaces the text");

    // another window switched back to "add": the menu shows it when it opens
    state.listing.replaceList = false;
    for (QAction* top : window->menuBar()->actions())
        if (top->menu() && top->menu()->objectName() == "mnLists")
            emit top->menu()->aboutToShow();
    EXPECT_TRUE(add->isChecked());

    // the list window scrolls to the newest list
    std::vector<std::string> many;
    for (int i = 0; i < 200; ++i)
        many.push_back("line " + std::to_string(i));
    addList(state, many);
    addList(state, {"newest list", "second line"});
    addList(state, many); // a long newest list: its first line goes to the top
    listing.showList();
    auto* memo = listing.findChild<QPlainTextEdit*>("mList");
    EXPECT_EQ(memo->verticalScrollBar()->value(), 202);
    windows.enter<ListingWindow>(WindowId::Listing, windows.listing, nullptr);
}

} // namespace
} // namespace kestrune::test
