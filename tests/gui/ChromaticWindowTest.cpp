#include "gui/chromaticity/ChromaticWindow.h"

#include "core/Design.h"
#include "core/Format.h"
#include "core/Kinematics.h"
#include "core/io/LatticeFile.h"
#include "core/ring/Parameter.h"
#include "core/ring/RingGeometry.h"
#include "gui/ExternalTool.h"
#include "gui/GraphExport.h"
#include "gui/ListPrinter.h"
#include "gui/QtMessages.h"
#include "gui/chromaticity/TrackingChart.h"
#include "support/FakeMessages.h"

#include <QApplication>
#include <QCheckBox>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPrinter>
#include <QProcess>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <cmath>
#include <gtest/gtest.h>
#include <memory>
#include <qcustomplot.h>

namespace kestrune {
namespace {

using test::runTool;

class ChromaticWindowTest : public ::testing::Test
{
protected:
    ChromaticWindowTest() : messages(windows)
    {
        messages.redirectTo(&fake);
        windows.messages = &messages;
        startParticle(state);
        EXPECT_TRUE(readLatticeFile(state, fake, std::string(KESTRUNE_EXAMPLES) + "/dba-cell.lat"));
        state.ringParams.chromaticityX = -25;
        state.ringParams.chromaticityY = -20;
        state.ringParams.computed = true;
        state.ringParams.stamp = latticeStamp(state);
        window = std::make_unique<ChromaticWindow>(state, windows);
        windows.enter(WindowId::Chromatic, windows.chromatic, window.get());
        window->show();
    }
    void TearDown() override
    {
        setSaveGraphDialogHook({});
        setPrintDialogHook({});
    }

    template <typename T> T* control(const char* name)
    {
        T* found = window->findChild<T*>(name);
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    QString labelText(const char* name) { return control<QLabel>(name)->text(); }
    void type(const char* name, const QString& text)
    {
        QLineEdit* edit = control<QLineEdit>(name);
        edit->clear();
        QTest::keyClicks(edit, text);
    }
    // at the left end, where radio buttons and check boxes have their mark
    void click(const char* name)
    {
        QAbstractButton* button = control<QAbstractButton>(name);
        QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(6, button->height() / 2));
    }
    int sf() const
    {
        for (int i = 1; i <= state.line.count; ++i)
            if (state.line.at(i).code == code::kSextupoleF)
                return i;
        return 0;
    }

    State state;
    Windows windows;
    test::FakeMessages fake;
    QtMessages messages;
    std::unique_ptr<ChromaticWindow> window;
};

TEST_F(ChromaticWindowTest, ComesUpWithTheFormsTextsAndDefaults)
{
    EXPECT_EQ(window->windowTitle(), "chromaticity correction and particle tracking");
    EXPECT_EQ(labelText("lHeading"),
              "chromaticities:   natural     wanted   spcl.sext.  SF,SD 's   actual       "
              "                              SF,SD (1/m^3)");
    EXPECT_EQ(control<QLineEdit>("edxiwx")->text(), "0.0");
    EXPECT_EQ(control<QLineEdit>("edxiwy")->text(), "0.0");
    EXPECT_EQ(labelText("lWantedX"), "wanted, x = ");
    EXPECT_EQ(control<QLineEdit>("edXo")->text(), "10.0");
    EXPECT_EQ(control<QLineEdit>("edNumTurns")->text(), "400");
    EXPECT_EQ(control<QLineEdit>("edWidthMin")->text(), "-5.0");
    EXPECT_EQ(control<QLineEdit>("edHeightMin")->text(), " -5.0");
    EXPECT_TRUE(control<QRadioButton>("rbAdd")->isChecked());
    EXPECT_TRUE(control<QRadioButton>("rbXXp")->isChecked());
    EXPECT_TRUE(control<QRadioButton>("rbMM")->isChecked());
    EXPECT_FALSE(control<QCheckBox>("cbOffMom")->isChecked());
    EXPECT_EQ(labelText("lxo"), "x_o, mm");
    EXPECT_EQ(control<QPushButton>("bbUpdate")->text(), "update");
    EXPECT_EQ(control<QPushButton>("bbTrack")->text(), "track");
    EXPECT_EQ(window->chart()->plot()->xAxis->label(), "oscillation amplitude, mm");
    EXPECT_EQ(window->chart()->plot()->yAxis->label(), "oscillation slope, mr");
    EXPECT_FALSE(window->chart()->plot()->legend->visible());
}

TEST_F(ChromaticWindowTest, UpdateWritesTheStrengthsAndShowsEveryContribution)
{
    type("edxiwx", "1");
    type("edxiwy", "");
    click("bbUpdate");
    EXPECT_TRUE(fake.errors.empty());
    EXPECT_EQ(labelText("lxixo"), QString::fromStdString(fmt("%8.3f", -25.0)));
    EXPECT_EQ(labelText("lxiyo"), QString::fromStdString(fmt("%8.3f", -20.0)));
    // "1" is one, not ten; the empty box is zero
    EXPECT_EQ(labelText("lxix"), "   1.000");
    EXPECT_EQ(labelText("lxiy"), "   0.000");
    EXPECT_EQ(labelText("lxisx"), "   0.000");
    EXPECT_EQ(labelText("ldxix"), "  26.000");
    EXPECT_EQ(labelText("ldxiy"), "  20.000");
    EXPECT_EQ(labelText("lSF"), QString::fromStdString(fmt("%8.3f", state.line.at(sf()).m)));
    EXPECT_NEAR(state.ringParams.correctedChromaticityX, 1, 1e-9);
}

TEST_F(ChromaticWindowTest, UndoneCorrectionIsNoLongerShown)
{
    const double before = state.line.at(sf()).m;
    type("edxiwx", "2");
    click("bbUpdate");
    ASSERT_NE(state.line.at(sf()).m, before);
    window->designChanged(); // the correction's own step: it stays
    EXPECT_EQ(labelText("lxix"), "   2.000");
    ASSERT_TRUE(state.history.undo(state));
    EXPECT_EQ(state.line.at(sf()).m, before);
    window->designChanged();
    for (const char* name : {"lSF", "lSD", "lxix", "lxiy"})
        EXPECT_EQ(labelText(name), "n/a") << name;
}

TEST_F(ChromaticWindowTest, WantedChromaticityOutsideItsRangeIsRefused)
{
    const double before = state.line.at(sf()).m;
    type("edxiwx", "1e300");
    click("bbUpdate");
    EXPECT_EQ(fake.errors, std::vector<std::string>{"the wanted chromaticity x must be at most 1000!"});
    EXPECT_EQ(state.line.at(sf()).m, before);
}

TEST_F(ChromaticWindowTest, NaturalChromaticitiesNotYetComputedAreComputedFirst)
{
    state.ringParams = RingParameters{};
    click("bbUpdate");
    EXPECT_TRUE(fake.errors.empty());
    EXPECT_LT(state.ringParams.chromaticityX, -10);
    EXPECT_EQ(labelText("lxixo"), QString::fromStdString(fmt("%8.3f", state.ringParams.chromaticityX)));
    EXPECT_NEAR(state.ringParams.correctedChromaticityX, 0, 1e-9);
    // a value at zero to rounding may show as "-0.000" or "0.000": the label holds it to its 3 decimals
    EXPECT_NEAR(labelText("lxix").toDouble(), state.ringParams.correctedChromaticityX, 5e-4);
}

TEST_F(ChromaticWindowTest, RefusedUpdateKeepsStrengthsAndLabels)
{
    for (int i = 1; i <= state.line.count; ++i)
        if (state.line.at(i).code == code::kSextupoleD)
            state.line.at(i).code = code::kSextupoleSpecial;
    const double before = state.line.at(sf()).m;
    click("bbUpdate");
    ASSERT_EQ(fake.errors.size(), 1u);
    EXPECT_EQ(
        fake.errors[0],
        "there are no \"SF\" and \"SD\" sextupoles.\r You must have at least one of each in your lattice.");
    EXPECT_EQ(state.line.at(sf()).m, before);
    EXPECT_EQ(labelText("lSF"), "");
    type("edxiwx", "x1");
    click("bbUpdate");
    EXPECT_EQ(fake.errors.back(), "'x1' is not a valid floating point value");
}

TEST_F(ChromaticWindowTest, TrackingAddsOnePointPerTurnInThePlaneShown)
{
    type("edXo", "1.0");
    type("edNumTurns", "1");
    click("bbTrack");
    EXPECT_TRUE(fake.errors.empty());
    EXPECT_EQ(window->chart()->pointCount(TrackingChart::Colour::Amber), 1);
    type("edNumTurns", "25");
    click("rbYYP");
    type("edYo", "0.5");
    click("bbTrack");
    EXPECT_EQ(window->chart()->pointCount(TrackingChart::Colour::Green), 25);
    EXPECT_EQ(window->chart()->pointCount(), 26);
    click("rbReplace");
    click("bbTrack");
    EXPECT_EQ(window->chart()->pointCount(), 25) << "a new graph starts empty";
    // the particle went on from where the last run left it
    EXPECT_NE(state.run.y0, 0.5);
}

TEST_F(ChromaticWindowTest, LinearMapsAreTheFastViewWithoutLongitudinalMotion)
{
    EXPECT_TRUE(control<QRadioButton>("rbSymplectic")->isChecked());
    click("rbZDelta");
    click("rbLinearMaps");
    for (const char* name : {"rbZDelta", "edLo", "cbRf"})
        EXPECT_FALSE(control<QWidget>(name)->isEnabled()) << name;
    EXPECT_TRUE(control<QRadioButton>("rbXXp")->isChecked());
    // the linear maps track as they always have
    type("edXo", "1.5");
    type("edNumTurns", "25");
    click("bbTrack");
    TrackingRequest request;
    request.start = {1.5, 0, 0, 0};
    request.turns = 25;
    TrackingRun run(state.line, request);
    std::vector<PhasePoint> points;
    run.advance(25, points);
    EXPECT_EQ(state.run.x0, run.particle().x);
    EXPECT_TRUE(labelText("lTunes").startsWith("tunes: Q_x = 0.47")) << labelText("lTunes").toStdString();
    click("rbSymplectic");
    EXPECT_TRUE(control<QWidget>("rbZDelta")->isEnabled());
}

TEST_F(ChromaticWindowTest, SymplecticRunShowsTheLongitudinalPlaneAndTheTunes)
{
    // the ring as the ring window leaves it, with the rf settings of the file
    ASSERT_TRUE(ringGeometry(
        state, fake, {std::to_string(state.line.superPeriods), fmt("%10.5f", state.rf.frequency / 1e6)}));
    radiationIntegrals(state, fake);
    equilibriumParameters(state);
    click("rbZDelta");
    click("cbOffMom");
    type("edOffMom", "0.05");
    type("edXo", "0.5");
    type("edYo", "0.2");
    type("edLo", "2");
    type("edNumTurns", "600");
    // the tunes line, long with Q_s, and the choice of the model move no control
    QApplication::processEvents();
    const auto controlsAt = [this] {
        return std::pair{control<QWidget>("gbScale")->mapTo(window.get(), QPoint()),
                         control<QWidget>("bbTrack")->mapTo(window.get(), QPoint())};
    };
    const auto before = controlsAt();
    click("bbTrack");
    QApplication::processEvents();
    EXPECT_EQ(controlsAt(), before);
    EXPECT_TRUE(fake.errors.empty());
    EXPECT_EQ(window->chart()->pointCount(TrackingChart::Colour::Teal), 600);
    EXPECT_EQ(window->chart()->plot()->xAxis->label(), "path-length difference l, mm");
    // the synchrotron tune of the rf window, 0.00927, and the fractional ring tunes 9.470, 4.463
    const QString tunes = labelText("lTunes");
    EXPECT_TRUE(tunes.contains(QRegularExpression("Q_x = 0\\.470.*Q_y = 0\\.463.*Q_s = 0\\.0092")))
        << tunes.toStdString();
    click("cbRf");
    click("rbXXp");
    click("bbTrack");
    EXPECT_FALSE(labelText("lTunes").contains("Q_s"));
    EXPECT_EQ(window->chart()->plot()->xAxis->label(), "oscillation amplitude, mm");
    click("rbLinearMaps");
    QApplication::processEvents();
    EXPECT_EQ(controlsAt(), before);
}

TEST_F(ChromaticWindowTest, LostParticleIsReportedWithItsTurn)
{
    type("edXo", "600");
    click("bbTrack");
    ASSERT_EQ(fake.errors.size(), 1u);
    EXPECT_EQ(fake.errors[0], "particle was lost during turn # 1 after element 1 (LS)");
    EXPECT_EQ(window->chart()->pointCount(), 0);
}

TEST_F(ChromaticWindowTest, RefusedRunLeavesTheGraph)
{
    type("edNumTurns", "3");
    click("bbTrack");
    ASSERT_EQ(window->chart()->pointCount(), 3);
    click("rbReplace");
    click("cbOffMom");
    type("edOffMom", "-100");
    click("bbTrack");
    EXPECT_EQ(fake.errors.back(), "the momentum deviation must be above -100 %!");
    EXPECT_EQ(window->chart()->pointCount(), 3);
    type("edNumTurns", "many");
    click("bbTrack");
    EXPECT_EQ(fake.errors.back(), "'many' is not a valid integer value");
    EXPECT_EQ(window->chart()->pointCount(), 3);
}

TEST_F(ChromaticWindowTest, SigmaModeRelabelsTheBoxesAndNeedsEmittances)
{
    click("rbSigma");
    EXPECT_EQ(labelText("lxo"), "n_x");
    EXPECT_EQ(labelText("lxpo"), "n_xp");
    EXPECT_EQ(labelText("lyo"), "n_y");
    EXPECT_EQ(labelText("lypo"), "n_yp");
    click("bbTrack");
    EXPECT_EQ(fake.errors.back(),
              "no equilibrium emittances yet: update the beam parameters in the ring window first!");
    state.ringParams.emittanceX = 1e-8;
    state.ringParams.emittanceY = 1e-10;
    type("edXo", "2");
    type("edNumTurns", "1");
    click("bbTrack");
    EXPECT_EQ(window->chart()->pointCount(), 1);
    click("rbMM");
    EXPECT_EQ(labelText("lxo"), "x_o, mm");
    EXPECT_EQ(labelText("lypo"), "yp_o, mr");
}

TEST_F(ChromaticWindowTest, LongRunEndsWithEveryPointAndTheNormalCursor)
{
    click("rbLinearMaps"); // the fast view
    type("edXo", "1.0");
    type("edNumTurns", "100000");
    click("bbTrack");
    EXPECT_TRUE(fake.errors.empty());
    EXPECT_EQ(window->chart()->pointCount(), 100000);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

// "stop" in the progress dialog ends a run of either model with what it drew so far, without a message,
// and the particle goes on from where it stopped.
TEST_F(ChromaticWindowTest, StopEndsALongRunWithWhatItDrew)
{
    for (const char* model : {"rbLinearMaps", "rbSymplectic"}) {
        SCOPED_TRACE(model);
        click(model);
        click("rbReplace");
        type("edXo", "1.0");
        type("edNumTurns", "1000000");
        window->setProgressDelay(0);
        QTimer stopper;
        QObject::connect(&stopper, &QTimer::timeout, [&] {
            auto* dialog = window->findChild<QProgressDialog*>("dlgTrackingProgress");
            if (dialog && dialog->isVisible())
                dialog->cancel();
        });
        stopper.start(0);
        click("bbTrack");
        EXPECT_TRUE(fake.errors.empty());
        EXPECT_GT(window->chart()->pointCount(), 0);
        EXPECT_LT(window->chart()->pointCount(), 1000000);
        EXPECT_NE(state.run.x0, 1.0);
        EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    }
}

// Every point colour stands out on the white of the axis rectangle: a contrast of at least 3:1 (relative
// luminance of sRGB), which yellow, lime and aqua do not reach.
TEST_F(ChromaticWindowTest, PointColoursStandOutOnTheBackground)
{
    const auto luminance = [](const QColor& c) {
        const auto linear = [](double v) {
            return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * linear(c.redF()) + 0.7152 * linear(c.greenF()) + 0.0722 * linear(c.blueF());
    };
    QCustomPlot* plot = window->chart()->plot();
    window->chart()->setVectorPoints(true);
    const double background = luminance(Qt::white);
    for (int i = 0; i < plot->graphCount(); ++i) {
        const double point = luminance(plot->graph(i)->scatterStyle().brush().color());
        EXPECT_GE((std::max(point, background) + 0.05) / (std::min(point, background) + 0.05), 3.0) << i;
    }
}

TEST_F(ChromaticWindowTest, UseFixesTheScaleWithFourCornerPointsAndAutomaticFollowsThePoints)
{
    type("edWidthMin", "-20");
    type("edWidthMax", "20");
    type("edHeightMin", "-2");
    type("edHeightMax", "3");
    click("bbUse");
    TrackingChart* chart = window->chart();
    EXPECT_FALSE(chart->automatic());
    EXPECT_EQ(chart->pointCount(TrackingChart::Colour::Maroon), 4);
    EXPECT_DOUBLE_EQ(chart->xLower(), -20);
    EXPECT_DOUBLE_EQ(chart->xUpper(), 20);
    EXPECT_DOUBLE_EQ(chart->yLower(), -2);
    EXPECT_DOUBLE_EQ(chart->yUpper(), 3);
    type("edXo", "1");
    type("edNumTurns", "50");
    click("bbTrack");
    EXPECT_DOUBLE_EQ(chart->xLower(), -20) << "a fixed scale stays";
    click("btAuto");
    EXPECT_TRUE(chart->automatic());
    // the corner points are points of the series too, so the automatic scale still takes them in
    EXPECT_LT(chart->xLower(), -20);
    click("rbReplace");
    click("bbTrack");
    EXPECT_GT(chart->xLower(), -5);
    EXPECT_LT(chart->xUpper(), 5);
}

TEST_F(ChromaticWindowTest, GraphIsSavedAsMetafileAndPrintedInLandscape)
{
    QTemporaryDir dir;
    type("edNumTurns", "20");
    click("bbTrack");
    const QString wmf = dir.filePath("tracking.wmf");
    setSaveGraphDialogHook([&](QWidget*) { return wmf; });
    window->saveGraphWmfClick();
    EXPECT_TRUE(fake.errors.empty());
    EXPECT_GT(QFileInfo(wmf).size(), 1000);

    const QString pdf = dir.filePath("tracking.pdf");
    setPrintDialogHook([&](QPrinter& printer, QWidget*) {
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(pdf);
        return true;
    });
    window->printGraphClick();
    EXPECT_TRUE(fake.errors.empty());
    const QString info = runTool("pdfinfo", {pdf});
    const QRegularExpressionMatch size =
        QRegularExpression("Page size:\\s+([0-9.]+) x ([0-9.]+)").match(info);
    ASSERT_TRUE(size.hasMatch()) << info.toStdString();
    EXPECT_GT(size.captured(1).toDouble(), size.captured(2).toDouble()) << "landscape";
    EXPECT_TRUE(runTool("pdftotext", {pdf, "-"}).contains("particle tracking"));
}

} // namespace
} // namespace kestrune
