#include "gui/vacuum/VacuumWindow.h"

#include "core/Format.h"
#include "core/Kinematics.h"
#include "core/io/LatticeFile.h"
#include "core/io/Listing.h"
#include "gui/BusyCursor.h"
#include "gui/GraphExport.h"
#include "gui/QtMessages.h"
#include "gui/vacuum/VacuumChart.h"
#include "support/FakeMessages.h"

#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPrinter>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

namespace kestrune {
namespace {

/// Records whether the busy cursor was up when a message box came.
class CursorRecordingMessages : public test::FakeMessages
{
public:
    void error(const std::string& text) override
    {
        busyAtMessage.push_back(QApplication::overrideCursor() != nullptr);
        FakeMessages::error(text);
    }
    std::vector<bool> busyAtMessage;
};

class VacuumWindowTest : public ::testing::Test
{
protected:
    VacuumWindowTest() : messages(windows)
    {
        messages.redirectTo(&fake);
        windows.messages = &messages;
        startParticle(state);
        test::FakeMessages readMessages;
        EXPECT_TRUE(readLatticeFile(state, readMessages, std::string(KESTRUNE_EXAMPLES) + "/dba-cell.lat"));
        window = std::make_unique<VacuumWindow>(state, windows);
        windows.enter(WindowId::Vacuum, windows.vacuum, window.get());
        window->show();
    }
    ~VacuumWindowTest() override { setSaveGraphDialogHook({}); }

    QLineEdit* box(const char* name)
    {
        auto* found = window->findChild<QLineEdit*>(name);
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    void type(const char* name, const QString& text)
    {
        box(name)->clear();
        QTest::keyClicks(box(name), text);
    }
    QPlainTextEdit* memo() { return window->findChild<QPlainTextEdit*>("mVacuum"); }

    State state;
    Windows windows;
    CursorRecordingMessages fake;
    QtMessages messages;
    std::unique_ptr<VacuumWindow> window;
};

TEST_F(VacuumWindowTest, StartsWithTheDefaultBoxesAndMenus)
{
    EXPECT_EQ(box("edM")->text(), "2000");
    EXPECT_EQ(box("edMrep")->text(), "100");
    EXPECT_EQ(box("edW")->text(), "3.0");
    EXPECT_EQ(box("edThD")->text(), "1.0E-12");
    EXPECT_EQ(box("edEta")->text(), "1.0E-6");
    EXPECT_EQ(box("edAvgPr")->text(), "");
    EXPECT_TRUE(memo()->isHidden());
    QStringList menus;
    for (QAction* action : window->menuBar()->actions())
        menus << action->text();
    EXPECT_EQ(menus, QStringList({"ca&lculate", "lists", "&print", "&close"}));
}

TEST_F(VacuumWindowTest, CalculatePlotsTheProfileAndShowsTheAverage)
{
    window->presCalcClick();
    EXPECT_TRUE(fake.errors.empty());
    ASSERT_TRUE(window->result());
    VacuumChart* chart = window->chart();
    EXPECT_EQ(chart->seriesCount(), 1);
    EXPECT_EQ(chart->pointCount(), 2000);
    EXPECT_EQ(chart->title(), "vacuum pressure distribution");
    EXPECT_EQ(chart->leftAxisTitle(), "vacuum pressure distribution (nTorr)");
    EXPECT_EQ(chart->bottomAxisTitle(), "z (m)");
    EXPECT_EQ(chart->footText(), "");
    // label masks "##0.0###" and "##0.0"
    EXPECT_EQ(chart->leftTickLabel(1.25), "1.25");
    EXPECT_EQ(chart->leftTickLabel(2.0), "2.0");
    EXPECT_EQ(chart->leftTickLabel(0.12345), "0.1235");
    EXPECT_EQ(chart->leftTickLabel(-0.00001), "0.0");
    EXPECT_EQ(chart->bottomTickLabel(7.0), "7.0");
    EXPECT_EQ(chart->bottomTickLabel(12.34), "12.3");
    EXPECT_GT(state.averagePressure, 0);
    EXPECT_EQ(box("edAvgPr")->text().toStdString(), fmt("%8.4g", state.averagePressure * 1e9));
    EXPECT_NEAR(*chart->seriesMin(), window->result()->stations.front().pressure * 1e9,
                0.5 * *chart->seriesMin());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    // a second calculation replaces the series
    window->presCalcClick();
    EXPECT_EQ(chart->seriesCount(), 1);
}

TEST_F(VacuumWindowTest, AProfileOfAnotherDesignIsRemoved)
{
    window->presCalcClick();
    ASSERT_TRUE(window->result());
    window->designChanged(); // the same design: the profile stays
    EXPECT_EQ(window->chart()->seriesCount(), 1);
    // another lattice: its pumps moved
    state.line.at(2).s += 0.5;
    window->designChanged();
    EXPECT_FALSE(window->result());
    EXPECT_EQ(window->chart()->seriesCount(), 0);
    EXPECT_EQ(box("edAvgPr")->text(), "n/a");
}

TEST_F(VacuumWindowTest, EmptyAndLargeStepCountsAreShownAsTaken)
{
    type("edM", "");
    window->presCalcClick();
    EXPECT_EQ(box("edM")->text(), "2000");
    type("edM", "12000");
    window->presCalcClick();
    EXPECT_EQ(box("edM")->text(), "10000");
    EXPECT_EQ(window->chart()->pointCount(), 10000);
}

TEST_F(VacuumWindowTest, BadTextStopsTheCalculationAndKeepsThePlot)
{
    window->presCalcClick();
    const double average = state.averagePressure;
    type("edW", "3 cm");
    window->presCalcClick();
    ASSERT_EQ(fake.errors.size(), 1u);
    EXPECT_EQ(fake.errors[0], "chamber radius, cm: '3 cm' is not a valid floating point value");
    EXPECT_DOUBLE_EQ(state.averagePressure, average);
    EXPECT_EQ(window->chart()->pointCount(), 2000);

    type("edW", "0");
    window->presCalcClick();
    ASSERT_EQ(fake.errors.size(), 2u);
    EXPECT_EQ(fake.errors[1], "the chamber radius must be larger than 0 cm!");
    EXPECT_DOUBLE_EQ(state.averagePressure, average);
}

TEST_F(VacuumWindowTest, LineWithoutPumpsKeepsThePreviousResultAndShowsTheBoxWithTheNormalCursor)
{
    window->presCalcClick();
    const double average = state.averagePressure;
    for (int i = 1; i <= state.line.count; ++i) {
        if (state.line.at(i).code == code::kPump)
            state.line.at(i).code = code::kDrift;
    }
    window->presCalcClick();
    ASSERT_EQ(fake.errors.size(), 1u);
    EXPECT_EQ(fake.errors[0], "there are no pumps in your lattice!");
    ASSERT_EQ(fake.busyAtMessage.size(), 1u);
    EXPECT_FALSE(fake.busyAtMessage[0]);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_DOUBLE_EQ(state.averagePressure, average);
    EXPECT_EQ(window->chart()->pointCount(), 2000);
}

TEST_F(VacuumWindowTest, PumpListOnAFreshWindowCalculatesFirst)
{
    ASSERT_DOUBLE_EQ(state.averagePressure, 0);
    window->pumpPressuresClick();
    ASSERT_TRUE(window->result());
    EXPECT_FALSE(memo()->isHidden());
    const QStringList shown = memo()->toPlainText().split('\n');
    const std::vector<std::string> lines = pumpListLines(*window->result());
    ASSERT_EQ(shown.size(), static_cast<int>(lines.size()));
    EXPECT_EQ(shown[2], "Vacuum pressure at pumps ");
    EXPECT_EQ(shown[7].left(21), "    1     200.000    ");
    EXPECT_EQ(listLines(state), lines);
    // every use appends a block
    window->pumpPressuresClick();
    EXPECT_EQ(memo()->toPlainText().split('\n').size(), 2 * static_cast<int>(lines.size()));
    // a double click hides the memo
    QTest::mouseDClick(memo()->viewport(), Qt::LeftButton);
    EXPECT_TRUE(memo()->isHidden());
}

TEST_F(VacuumWindowTest, ChartExportsAndPrint)
{
    window->presCalcClick();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString wmf = dir.filePath("vacuum.wmf");
    setSaveGraphDialogHook([&](QWidget*) { return wmf; });
    window->printwmfClick();
    ASSERT_TRUE(QFile::exists(wmf));
    EXPECT_GT(QFile(wmf).size(), 1000);
    const QString svg = dir.filePath("vacuum.svg");
    setSaveGraphDialogHook([&](QWidget*) { return svg; });
    window->printwmfClick();
    QFile svgFile(svg);
    ASSERT_TRUE(svgFile.open(QIODevice::ReadOnly));
    EXPECT_TRUE(svgFile.readAll().contains("vacuum pressure distribution"));

    const QString pdf = dir.filePath("print.pdf");
    window->choosePrinter = [&](QPrinter& printer) {
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(pdf);
        return true;
    };
    window->printClick();
    QProcess process;
    process.start("pdftotext", {pdf, "-"});
    ASSERT_TRUE(process.waitForFinished(30000));
    EXPECT_TRUE(QString::fromUtf8(process.readAllStandardOutput()).contains("vacuum pressure distribution"));
    EXPECT_TRUE(fake.errors.empty());

    window->choosePrinter = [](QPrinter&) { return false; };
    window->printClick();
    EXPECT_TRUE(fake.errors.empty());
}

TEST_F(VacuumWindowTest, CloseRemovesThePlot)
{
    window->presCalcClick();
    window->closeClick();
    EXPECT_EQ(window->chart()->seriesCount(), 0);
    EXPECT_FALSE(window->isVisible());
}

TEST(BusyCursor, ShowsTheWaitCursorWhileItLivesAlsoOnAnException)
{
    ASSERT_EQ(QApplication::overrideCursor(), nullptr);
    {
        BusyCursor busy;
        ASSERT_NE(QApplication::overrideCursor(), nullptr);
        EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    }
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    try {
        BusyCursor busy;
        throw std::runtime_error("stop");
    } catch (const std::runtime_error&) {
    }
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

} // namespace
} // namespace kestrune
