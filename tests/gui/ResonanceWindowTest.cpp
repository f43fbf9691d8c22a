#include "gui/resonance/ResonanceWindow.h"

#include "core/Kinematics.h"
#include "core/io/LatticeFile.h"
#include "gui/ExternalTool.h"
#include "gui/GraphExport.h"
#include "gui/QtMessages.h"
#include "gui/chromaticity/ChromaticWindow.h"
#include "gui/ring/RingWindow.h"
#include "support/FakeMessages.h"

#include <QApplication>
#include <QFileInfo>
#include <QPrinter>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>
#include <qcustomplot.h>

namespace kestrune {
namespace {

using test::runTool;

class ResonanceWindowTest : public ::testing::Test
{
protected:
    ResonanceWindowTest() : messages(windows)
    {
        messages.redirectTo(&fake);
        windows.messages = &messages;
        state.lf.tuneX = 6.21;
        state.lf.tuneY = 3.37;
        window = std::make_unique<ResonanceWindow>(state, windows);
        windows.enter(WindowId::Resonance, windows.resonance, window.get());
    }
    void TearDown() override { setSaveGraphDialogHook({}); }

    int points(int series) const { return window->series(series)->dataCount(); }

    State state;
    Windows windows;
    test::FakeMessages fake;
    QtMessages messages;
    std::unique_ptr<ResonanceWindow> window;
};

TEST_F(ResonanceWindowTest, ShowingDrawsTheLinesAroundTheWorkingPoint)
{
    window->show();
    EXPECT_EQ(points(1), 400);
    EXPECT_EQ(points(2), 400);
    EXPECT_GT(points(3), 400);
    EXPECT_LT(points(3), 1200);
    ASSERT_EQ(points(4), 1);
    EXPECT_DOUBLE_EQ(window->series(4)->data()->at(0)->key, 6.21);
    EXPECT_DOUBLE_EQ(window->series(4)->data()->at(0)->value, 3.37);
    QCustomPlot* chart = window->chart();
    EXPECT_LT(chart->xAxis->range().lower, 5.912);
    EXPECT_GT(chart->xAxis->range().upper, 7.1);
    EXPECT_EQ(chart->xAxis->label(), "horizontal tune, Q_x");
    EXPECT_EQ(chart->yAxis->label(), "vertical tune, Q_y");
    EXPECT_TRUE(chart->legend->visible());
    EXPECT_EQ(window->series(4)->scatterStyle().brush().color(), QColor(255, 0, 0));
    // every resonance point blue, each series with its own shape
    EXPECT_EQ(window->series(1)->scatterStyle().brush().color(), QColor(0, 0, 255));
    EXPECT_EQ(window->series(3)->scatterStyle().shape(), QCPScatterStyle::ssDiamond);
    EXPECT_EQ(window->series(4)->scatterStyle().shape(), QCPScatterStyle::ssCircle);
}

TEST_F(ResonanceWindowTest, EveryActivationRedrawsFromTheCurrentTunes)
{
    window->show();
    state.lf.tuneX = 0.31;
    state.lf.tuneY = 0.78;
    QEvent activate(QEvent::WindowActivate);
    QApplication::sendEvent(window.get(), &activate);
    EXPECT_EQ(points(1), 400) << "the old lines are gone";
    EXPECT_EQ(points(4), 1);
    EXPECT_DOUBLE_EQ(window->series(4)->data()->at(0)->key, 0.31);
    EXPECT_LT(window->chart()->xAxis->range().lower, -0.088);
}

TEST_F(ResonanceWindowTest, AxesTickEveryQuarterInTheLabelMask)
{
    window->show();
    window->chart()->replot();
    const QVector<QString> labels = window->chart()->xAxis->tickVectorLabels();
    EXPECT_TRUE(labels.contains("6.25"));
    EXPECT_TRUE(labels.contains("6.5"));
    EXPECT_TRUE(labels.contains("7"));
    const QVector<double> ticks = window->chart()->xAxis->tickVector();
    ASSERT_GE(ticks.size(), 2);
    EXPECT_NEAR(ticks[1] - ticks[0], 0.25, 1e-12);
}

TEST_F(ResonanceWindowTest, PrintsPortraitWithoutADialogAndSavesAMetafile)
{
    QTemporaryDir dir;
    window->show();
    const QString pdf = dir.filePath("resonance.pdf");
    window->setPrinterSetup([&](QPrinter& printer) {
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(pdf);
    });
    window->printGraphClick();
    EXPECT_TRUE(fake.errors.empty());
    const QString info = runTool("pdfinfo", {pdf});
    const QRegularExpressionMatch size =
        QRegularExpression("Page size:\\s+([0-9.]+) x ([0-9.]+)").match(info);
    ASSERT_TRUE(size.hasMatch()) << info.toStdString();
    EXPECT_LT(size.captured(1).toDouble(), size.captured(2).toDouble()) << "portrait";
    EXPECT_TRUE(runTool("pdftotext", {pdf, "-"}).contains("Resonance Diagram"));

    const QString wmf = dir.filePath("resonance.wmf");
    setSaveGraphDialogHook([&](QWidget*) { return wmf; });
    window->saveGraphWmfClick();
    EXPECT_TRUE(fake.errors.empty());
    EXPECT_GT(QFileInfo(wmf).size(), 1000);
}

TEST_F(ResonanceWindowTest, RingWindowOpensItWithTheTunesOfItsRingPass)
{
    startParticle(state);
    ChromaticWindow chromatic(state, windows);
    windows.enter(WindowId::Chromatic, windows.chromatic, &chromatic);
    RingWindow ring(state, windows);
    windows.enter(WindowId::Ring, windows.ring, &ring);
    // the file after the windows' creation, which sets the start values (one superperiod)
    ASSERT_TRUE(readLatticeFile(state, fake, std::string(KESTRUNE_EXAMPLES) + "/dba-cell.lat"));
    ring.resonanceClick();
    EXPECT_TRUE(window->isVisible());
    ASSERT_EQ(points(4), 1);
    EXPECT_NEAR(window->series(4)->data()->at(0)->key, 9.470, 1e-3);
    EXPECT_NEAR(window->series(4)->data()->at(0)->value, 4.463, 1e-3);
    ring.tbChromaticityClick();
    EXPECT_TRUE(chromatic.isVisible());
    windows = Windows{};
}

} // namespace
} // namespace kestrune
