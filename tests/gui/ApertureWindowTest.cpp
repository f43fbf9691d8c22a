// The aperture window: scans on the worker thread, cancel, the local acceptance for the lifetime,
// refusals, lists, export and print.
#include "gui/aperture/ApertureWindow.h"

#include "core/Kinematics.h"
#include "core/io/LatticeFile.h"
#include "core/io/Listing.h"
#include "core/ring/RingGeometry.h"
#include "gui/GraphExport.h"
#include "gui/QtMessages.h"
#include "gui/aperture/ApertureCharts.h"
#include "support/FakeMessages.h"

#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPrinter>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

namespace kestrune {
namespace {

class ApertureWindowTest : public ::testing::Test
{
protected:
    ApertureWindowTest() : messages(windows)
    {
        messages.redirectTo(&fake);
        windows.messages = &messages;
        startParticle(state);
        test::FakeMessages setup;
        EXPECT_TRUE(readLatticeFile(state, setup, std::string(KESTRUNE_EXAMPLES) + "/dba-cell.lat"));
        EXPECT_TRUE(ringGeometry(state, setup, {"12", "499.654"}));
        window = std::make_unique<ApertureWindow>(state, windows);
        window->show();
    }
    ~ApertureWindowTest() override { setSaveGraphDialogHook({}); }

    void type(const char* name, const QString& text)
    {
        auto* box = window->findChild<QLineEdit*>(name);
        ASSERT_NE(box, nullptr) << name;
        box->setText(text);
    }
    void click(const char* name) { QTest::mouseClick(window->findChild<QPushButton*>(name), Qt::LeftButton); }
    /// Waits for the worker's end, as the event loop does; false when it did not come.
    bool finished()
    {
        QSignalSpy spy(window.get(), &ApertureWindow::scanFinished);
        return !window->running() || spy.wait(60000);
    }

    State state;
    Windows windows;
    test::FakeMessages fake;
    QtMessages messages;
    std::unique_ptr<ApertureWindow> window;
};

TEST_F(ApertureWindowTest, DynamicApertureRunsOnTheWorkerAndIsShownAndListed)
{
    type("edAngles", "7");
    type("edDaTurns", "100");
    click("bbDynamic");
    EXPECT_TRUE(window->running());
    EXPECT_FALSE(window->findChild<QPushButton*>("bbDynamic")->isEnabled());
    EXPECT_TRUE(window->findChild<QPushButton*>("bbCancel")->isEnabled());
    ASSERT_TRUE(finished());
    ASSERT_TRUE(window->dynamicResult());
    EXPECT_FALSE(window->dynamicResult()->cancelled);
    EXPECT_EQ(window->dynamicChart()->boundaryPoints(), 7);
    // no coupling, no vertical emittance: the result line says so instead of a size of n/a sigmas
    const QString line = window->findChild<QLabel*>("lResult")->text();
    EXPECT_FALSE(line.contains("n/a")) << line.toStdString();
    window->findChild<QAction*>("mnListDynamic")->trigger();
    EXPECT_EQ(listLines(state).size() - newestListLine(state), 7u + 9u);
    EXPECT_EQ(fake.listShows, 1);
    // the grid mode
    window->findChild<QRadioButton*>("rbGrid")->setChecked(true);
    type("edGridX", "5");
    type("edGridY", "3");
    click("bbDynamic");
    ASSERT_TRUE(finished());
    ASSERT_TRUE(window->gridResult());
    EXPECT_EQ(window->gridResult()->x.size(), 15u);
    EXPECT_TRUE(fake.errors.empty());
}

TEST_F(ApertureWindowTest, CancelStopsALongRun)
{
    type("edDaTurns", "10000000");
    click("bbDynamic");
    click("bbCancel");
    ASSERT_TRUE(finished());
    ASSERT_TRUE(window->dynamicResult());
    EXPECT_TRUE(window->dynamicResult()->cancelled);
    EXPECT_TRUE(window->findChild<QPushButton*>("bbDynamic")->isEnabled());
}

TEST_F(ApertureWindowTest, ACancelledAcceptanceShowsOnlyItsComputedPointsAndSaysSo)
{
    type("edMaTurns", "64");
    type("edEvery", "6");
    click("bbAcceptance");
    ASSERT_TRUE(finished());
    ASSERT_EQ(window->acceptanceChart()->pointCount(), 5);
    type("edMaTurns", "10000000");
    click("bbAcceptance");
    // the old result is off the chart while the new one runs
    EXPECT_EQ(window->acceptanceChart()->pointCount(), 0);
    EXPECT_EQ(window->acceptanceChart()->title(), "local momentum acceptance: running ...");
    // the bar moves while the first points are tracked
    QSignalSpy moved(window->findChild<QProgressBar*>("pbRun"), &QProgressBar::valueChanged);
    EXPECT_TRUE(moved.wait(3000));
    click("bbCancel");
    ASSERT_TRUE(finished());
    ASSERT_TRUE(window->acceptanceResult());
    EXPECT_EQ(window->acceptanceChart()->title(),
              "local momentum acceptance, 10000000 turns: cancelled after 0 of 5 points");
    EXPECT_EQ(window->acceptanceChart()->pointCount(), 0);
    EXPECT_EQ(window->findChild<QProgressBar*>("pbRun")->value(), 0);
}

TEST_F(ApertureWindowTest, AZeroDynamicApertureSaysWhy)
{
    type("edAngles", "3");
    type("edDaTurns", "50");
    type("edDaDelta", "-5");
    click("bbDynamic");
    ASSERT_TRUE(finished());
    const QString result = window->findChild<QLabel*>("lResult")->text();
    EXPECT_TRUE(result.startsWith("no dynamic aperture: ")) << result.toStdString();
}

TEST_F(ApertureWindowTest, MomentumAcceptanceIsKeptForTheLifetime)
{
    type("edMaTurns", "64");
    type("edEvery", "6");
    click("bbAcceptance");
    ASSERT_TRUE(finished());
    EXPECT_TRUE(fake.errors.empty());
    EXPECT_EQ(window->acceptanceChart()->pointCount(), 5);
    ASSERT_EQ(state.localAcceptance.s.size(), 5u);
    EXPECT_EQ(state.localAcceptance.lattice, trackingFingerprint(state));
    window->findChild<QAction*>("mnListAcceptance")->trigger();
    EXPECT_EQ(listLines(state).size() - newestListLine(state), 5u + 8u);
}

TEST_F(ApertureWindowTest, BoxesOutsideTheirRangeAreRefusedNamingThem)
{
    struct Case
    {
        const char* box;
        const char* text;
        const char* button;
        std::string message;
    };
    const Case cases[] = {
        {"edDaTurns", "0", "bbDynamic",
         "'dynamic aperture: turns' must be a whole number between 1 and 10000000"},
        {"edApertureX", "600", "bbAcceptance", "'half aperture x, mm' must be between 0.001 and 500"},
        {"edEvery", "x", "bbAcceptance", "every k-th element: 'x' is not a valid integer value"},
    };
    for (const Case& c : cases) {
        fake.errors.clear();
        const QString before = window->findChild<QLineEdit*>(c.box)->text();
        type(c.box, c.text);
        click(c.button);
        EXPECT_FALSE(window->running());
        EXPECT_EQ(fake.errors, std::vector<std::string>{c.message});
        type(c.box, before);
    }
    state.ringClosed = false;
    fake.errors.clear();
    click("bbDynamic");
    EXPECT_EQ(fake.errors, std::vector<std::string>{kApertureNeedsRing});
}

TEST_F(ApertureWindowTest, ChartsAreSavedAndPrinted)
{
    const QTemporaryDir dir;
    const QString svg = dir.filePath("da.svg"), png = dir.filePath("ma.png"), pdf = dir.filePath("da.pdf");
    setSaveGraphDialogHook([&](QWidget*) { return svg; });
    window->saveDynamicClick();
    setSaveGraphDialogHook([&](QWidget*) { return png; });
    window->saveAcceptanceClick();
    window->choosePrinter = [&](QPrinter& printer) {
        printer.setOutputFileName(pdf);
        return true;
    };
    window->printDynamicClick();
    for (const QString& file : {svg, png, pdf})
        EXPECT_GT(QFileInfo(file).size(), 1000) << file.toStdString();
    EXPECT_TRUE(fake.errors.empty());
}

} // namespace
} // namespace kestrune
