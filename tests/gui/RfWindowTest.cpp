#include "gui/rf/RfWindow.h"

#include "core/Design.h"
#include "core/Format.h"
#include "core/Kinematics.h"
#include "core/StartValues.h"
#include "core/lifetime/LifetimeUpdate.h"
#include "core/rf/EnergyScan.h"
#include "core/rf/RfParameter.h"
#include "gui/GraphExport.h"
#include "gui/ListPrinter.h"
#include "gui/QtMessages.h"
#include "gui/Windows.h"
#include "gui/rf/RfChartPanel.h"
#include "support/FakeMessages.h"
#include "support/RfTestRing.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPrinter>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <cmath>
#include <gtest/gtest.h>
#include <memory>
#include <qcustomplot.h>

namespace kestrune::test {
namespace {

/// An rf window on the example DBA ring, every message recorded by a fake.
class RfWindowTest : public ::testing::Test
{
protected:
    RfWindowTest()
    {
        qtMessages = std::make_unique<QtMessages>(windows);
        qtMessages->redirectTo(&fake);
        windows.messages = qtMessages.get();
        ringReady = dbaRing(state, fake);
        fake.errors.clear();
        window = std::make_unique<RfWindow>(state, windows);
    }
    ~RfWindowTest() override
    {
        setSaveGraphDialogHook({});
        setPrintDialogHook({});
    }

    void showWindow()
    {
        window->resize(1240, 720);
        window->show();
        QApplication::processEvents();
        window->formActivate();
    }
    template <class T> T* child(const char* name) const
    {
        T* w = window->findChild<T*>(name);
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    QLineEdit* box(const char* name) const { return child<QLineEdit>(name); }
    QString label(const char* name) const { return child<QLabel>(name)->text(); }
    void type(const char* name, const QString& text)
    {
        box(name)->clear();
        QTest::keyClicks(box(name), text);
    }
    QAction* menuAction(const char* name) const { return window->menuBar()->findChild<QAction*>(name); }
    QCustomPlot* plot() const { return window->chartPanel()->plot(); }

    State state;
    Windows windows;
    FakeMessages fake;
    std::unique_ptr<QtMessages> qtMessages;
    std::unique_ptr<RfWindow> window;
    bool ringReady = false;
};

TEST_F(RfWindowTest, StartsWithTheBoxDefaultsAndTheGraphMenusDisabled)
{
    ASSERT_TRUE(ringReady);
    EXPECT_EQ(box("edRFVolt")->text(), "1200.000"); // from the lattice file
    EXPECT_EQ(box("edRfPow")->text(), " 200.000");
    EXPECT_EQ(box("edEnergy")->text(), "1.0");
    EXPECT_EQ(box("edCurrent")->text(), "100.0");
    EXPECT_EQ(box("edAddlLoss")->text(), "0.0");
    EXPECT_EQ(box("edNumCav")->text(), "1");
    EXPECT_FALSE(window->findChild<QMenu*>("mnGraphs")->isEnabled());
    EXPECT_FALSE(window->findChild<QAction*>("mnPhaseSpace")->isEnabled());
    EXPECT_FALSE(window->findChild<QAction*>("mnRfPotential")->isEnabled());
    EXPECT_FALSE(child<QGroupBox>("gbCavity")->isVisibleTo(window.get()));
}

TEST_F(RfWindowTest, TheWindowShowsTheRfSystemOfTheStartValues)
{
    State start;
    setStartValues(start);
    RfWindow fresh(start, windows);
    EXPECT_EQ(fresh.findChild<QLineEdit*>("edRFVolt")->text(), "1000.000");
}

TEST_F(RfWindowTest, ActivationFillsTheBoxesAndAsksForWhatIsMissing)
{
    state.beamCurrent = 0;
    showWindow();
    EXPECT_EQ(box("edEnergy")->text(), "   2.000");
    EXPECT_EQ(box("edCurrent")->text(), "   0.000");
    EXPECT_EQ(box("edNumCav")->text(), "    2");
    EXPECT_EQ(box("edMiscLoss")->text(), "  10.000");
    EXPECT_EQ(fake.errors.back(), "choose beam current!");
    EXPECT_TRUE(window->chartPanel()->isVisible());
}

TEST_F(RfWindowTest, UpdateShowsTheParametersAndEnablesTheGraphs)
{
    showWindow();
    const double u0 = state.ringParams.energyLoss;
    type("edRFVolt", QString::fromStdString(fmt("%.6f", u0 / 1000)));
    ASSERT_TRUE(child<QPushButton>("bbUpdate")->isVisible());
    window->bbUpdateClick();
    // the typed voltage equals U0: ten times U0, the box shows it
    ASSERT_EQ(fake.errors.size(), 1u);
    EXPECT_EQ(fake.errors[0],
              "rf voltage was too low and was\n raised to" + fmt("%8.3f", 10 * u0 / 1000) + " kV");
    EXPECT_EQ(box("edRFVolt")->text().toStdString(), fmt("%8.3f", 10 * u0 / 1000));
    EXPECT_EQ(label("lOverVolt"), "over voltage factor        =       10");
    EXPECT_EQ(label("lELoss").toStdString(), "energy loss/turn = " + fmt("%8.3f", u0 / 1000) + " keV");
    EXPECT_TRUE(label("lPhase").endsWith(" deg"));
    EXPECT_FALSE(child<QPushButton>("bbUpdate")->isVisible());
    EXPECT_TRUE(window->findChild<QAction*>("mnPhaseSpace")->isEnabled());
    EXPECT_TRUE(window->findChild<QAction*>("mnRfPotential")->isEnabled());
    EXPECT_TRUE(state.rf.computed);
    // typing asks for the next update
    QTest::keyClicks(box("edCurrent"), "0");
    EXPECT_TRUE(child<QPushButton>("bbUpdate")->isVisible());
}

TEST_F(RfWindowTest, TextThatIsNoNumberStopsTheUpdate)
{
    showWindow();
    const double momentum = state.beam.momentum;
    type("edEnergy", "2,5");
    window->bbUpdateClick();
    EXPECT_EQ(fake.errors,
              std::vector<std::string>{"momentum cp , GeV: '2,5' is not a valid floating point value"});
    EXPECT_EQ(state.beam.momentum, momentum);
    EXPECT_FALSE(state.rf.computed);
}

TEST_F(RfWindowTest, PowerBudgetOfFourCellsInSeries)
{
    showWindow();
    window->rfSystemClick();
    EXPECT_FALSE(window->chartPanel()->isVisible());
    ASSERT_TRUE(child<QGroupBox>("gbCavity")->isVisible());
    EXPECT_EQ(label("lRff1"), label("lRFF"));
    EXPECT_TRUE(label("lRFF").startsWith("rf frequency = "));

    window->rbSelectImpedanceClick();
    EXPECT_FALSE(child<QGroupBox>("rgMaterial")->isVisible());
    EXPECT_TRUE(box("edShuntImpedance")->isVisible());
    type("edNumCav", "4");
    type("edShuntImpedance", "1.0");
    type("edRFVolt", "1000");
    type("edRfPow", "500");
    type("edMiscLoss", "0");
    window->bbRfUpdateClick();
    EXPECT_TRUE(fake.errors.empty()) << fake.errors.front();
    EXPECT_EQ(label("lCavLoss"), "total cavity losses =  250.000 kW");
    EXPECT_TRUE(label("lRemPow").startsWith("remaining rf power of  250.000 kW\nwill sustain"));
    EXPECT_TRUE(child<QLabel>("lRemPow")->styleSheet().contains("rgb(0, 0, 128)"));

    type("edRfPow", "250");
    window->bbRfUpdateClick();
    EXPECT_EQ(label("lRemPow"), "increase rf-power!");
    EXPECT_TRUE(child<QLabel>("lRemPow")->styleSheet().contains("rgb(255, 0, 0)"));

    type("edNumCav", "0");
    window->bbRfUpdateClick();
    EXPECT_EQ(fake.errors.back(), "the number of cavity cells must be at least 1!");
    EXPECT_EQ(state.rf.cavities, 4);

    window->rbScaleImpedanceClick();
    EXPECT_TRUE(child<QGroupBox>("rgMaterial")->isVisible());
    EXPECT_FALSE(box("edShuntImpedance")->isVisible());
    type("edNumCav", "2");
    child<QRadioButton>("rgMaterialAluminum")->click();
    window->bbRfUpdateClick();
    EXPECT_EQ(state.rf.cavityMaterial, "aluminum");
    EXPECT_TRUE(label("lImpperm").startsWith("impedance = "));
}

TEST_F(RfWindowTest, BoxesOutsideTheirRangesAreRefusedByNameAndNothingIsStored)
{
    const struct
    {
        const char* box;
        const char* value;
        bool cavityUpdate; // "update" of the rf system instead of "update calculation"
        const char* message;
    } cases[] = {
        {"edEnergy", "1e300", false, "the momentum must be at most 1000000 GeV!"},
        {"edRFVolt", "1e300", false, "the rf voltage must be at most 10000000 kV!"},
        {"edAddlLoss", "-100", false, "the additional loss must not be negative!"},
        {"edRfPow", "1e300", false, "the rf power must be at most 1000000 kW!"},
        {"edNumCav", "100000000", true, "the number of cavity cells must be at most 10000!"},
        {"edMiscLoss", "-10", true, "the miscellaneous loss must not be negative!"},
        {"edRFVolt", "1e300", true, "the rf voltage must be at most 10000000 kV!"},
    };
    showWindow();
    window->bbUpdateClick();
    window->rfSystemClick();
    for (const auto& c : cases) {
        window->formActivate();
        const State before = state;
        fake.errors.clear();
        type(c.box, c.value);
        if (c.cavityUpdate)
            window->bbRfUpdateClick();
        else
            window->bbUpdateClick();
        ASSERT_EQ(fake.errors.size(), 1u) << c.box;
        EXPECT_EQ(fake.errors[0], c.message);
        EXPECT_EQ(designDifference(state, before), "") << c.box;
        EXPECT_DOUBLE_EQ(state.ringParams.additionalLoss, before.ringParams.additionalLoss);
        type(c.box, "0");
    }
}

TEST_F(RfWindowTest, ResultsOfAnotherDesignAreClearedAndTheBoxesFollowIt)
{
    showWindow();
    window->bbUpdateClick();
    ASSERT_TRUE(label("lPhase").endsWith(" deg"));
    // another lattice at another energy
    updateKinematics(state.beam, EnergyKind::Momentum, 1.5e9);
    ++state.line.at(1).length;
    window->designChanged();
    EXPECT_EQ(box("edEnergy")->text(), "   1.500");
    for (const char* name : {"lPhase", "lELoss", "lEnAcc", "lBunLen"})
        EXPECT_FALSE(label(name).contains(QRegularExpression("[0-9]"))) << name;
    EXPECT_TRUE(child<QPushButton>("bbUpdate")->isVisible());
}

TEST_F(RfWindowTest, ResultsOfAnotherVoltageAreClearedAndNotTakenByTheLifetime)
{
    showWindow();
    window->bbUpdateClick();
    ASSERT_FALSE(label("lOverVolt").isEmpty());
    type("edRFVolt", "300");
    window->close();
    showWindow();
    EXPECT_EQ(box("edRFVolt")->text(), " 300.000");
    for (const char* name : {"lOverVolt", "lEnAcc", "lBunLen"})
        EXPECT_EQ(label(name), "") << name;
    EXPECT_EQ(label("lRFF"), "n/a: press update calculation");
    LifetimeBoxes boxes;
    activateLifetime(state, boxes, fake);
    EXPECT_EQ(fake.errors.back(), "enter energy acceptance manually or run \"RF\"!");
    EXPECT_EQ(boxes.energyAcceptance2, LifetimeBoxes{}.energyAcceptance2);
}

TEST_F(RfWindowTest, OneUndoTakesTheStepOfTheWindowBack)
{
    state.history.reset(state);
    const State before = state;
    showWindow();
    type("edEnergy", "1.5");
    type("edCurrent", "250");
    type("edRFVolt", "900");
    window->close();
    ASSERT_NEAR(state.beam.momentum, 1.5e9, 1e-3);
    EXPECT_EQ(state.history.undoLabel(), "rf settings");
    ASSERT_TRUE(state.history.undo(state));
    EXPECT_EQ(designDifference(state, before), "");
    EXPECT_FALSE(state.history.modified());
    EXPECT_FALSE(state.history.canUndo());
}

TEST_F(RfWindowTest, DoubleClickHidesAPanelUntilTheNextActivation)
{
    showWindow();
    for (const char* name : {"pnRF", "gbEnCur", "pnParam"}) {
        QWidget* panel = window->findChild<QWidget*>(name);
        ASSERT_NE(panel, nullptr) << name;
        QTest::mouseDClick(panel, Qt::LeftButton, Qt::NoModifier, QPoint(3, 3));
        EXPECT_FALSE(panel->isVisible()) << name;
    }
    window->formActivate();
    for (const char* name : {"pnRF", "gbEnCur", "pnParam"})
        EXPECT_TRUE(window->findChild<QWidget*>(name)->isVisible()) << name;

    window->rfSystemClick();
    auto* cavity = child<QGroupBox>("gbCavity");
    QTest::mouseDClick(cavity, Qt::LeftButton, Qt::NoModifier, QPoint(3, 3));
    EXPECT_FALSE(cavity->isVisible());
    window->formActivate();
    EXPECT_FALSE(cavity->isVisible()); // the group comes back through "Rf-system" only
}

TEST_F(RfWindowTest, EnergyScanOfTheLossOnALogarithmicAxis)
{
    showWindow();
    window->mnEscanClick();
    EXPECT_EQ(box("edEmin")->text(), "   1.000");
    const QString limit = QString::fromStdString(fmt("%8.3f", momentumLimitGeV(state)));
    EXPECT_EQ(box("edEmax")->text(), limit);
    EXPECT_TRUE(window->findChild<QMenu*>("mnGraphs")->isEnabled());

    window->mnGraphsClick();
    EXPECT_EQ(window->chartPanel()->title(), "energy scan of selected parameter");
    EXPECT_EQ(window->chartPanel()->seriesCount(), 0);
    window->graphEscanClick(9);
    ASSERT_EQ(window->chartPanel()->seriesCount(), 1);
    auto* curve = qobject_cast<QCPCurve*>(plot()->plottable(0));
    ASSERT_NE(curve, nullptr);
    EXPECT_EQ(curve->dataCount(), 101);
    EXPECT_EQ(window->chartPanel()->title(), "energy loss/turn vs particle momentum");
    EXPECT_EQ(plot()->yAxis->label(), "energy loss/turn, keV");
    EXPECT_EQ(plot()->xAxis->label(), "beam energy (GeV)");
    // the maximum lay at the limit: the box shows the limit, the scan stopped near 95 % of it
    EXPECT_EQ(box("edEmax")->text(), limit);
    EXPECT_EQ(box("edxmin")->text(), "       0");
    EXPECT_TRUE(fake.errors.empty());

    QTest::mouseClick(child<QRadioButton>("rgYaxisLogarithmic"), Qt::LeftButton);
    EXPECT_EQ(plot()->yAxis->scaleType(), QCPAxis::stLogarithmic);
    EXPECT_GT(plot()->yAxis->range().lower, 0);
    // the increment box shows the factor between the decades of the logarithmic axis
    const double factor = box("edDy")->text().toDouble();
    EXPECT_NEAR(std::log10(factor), std::round(std::log10(factor)), 1e-9);
    EXPECT_GE(factor, 10);
    plot()->replot();
    // the labels follow the mask "##0.###": no exponent, at most three decimals
    for (const QString& text : plot()->yAxis->tickVectorLabels()) {
        EXPECT_FALSE(text.contains('e')) << text.toStdString();
        EXPECT_LE(text.section('.', 1).size(), 3) << text.toStdString();
    }
    QTest::mouseClick(child<QRadioButton>("rgYaxisLinear"), Qt::LeftButton);
    EXPECT_EQ(plot()->yAxis->scaleType(), QCPAxis::stLinear);

    // the quantum lifetime uses its own mask
    window->graphEscanClick(5);
    plot()->replot();
    for (const QString& text : plot()->yAxis->tickVectorLabels())
        EXPECT_TRUE(text.contains("E+") || text.contains("E-")) << text.toStdString();
}

TEST_F(RfWindowTest, PhaseSpaceHasTwentyThreeOrderedCurves)
{
    showWindow();
    window->bbUpdateClick();
    window->phaseSpaceClick();
    EXPECT_EQ(window->graph(), RfWindow::Graph::PhaseSpace);
    ASSERT_EQ(window->chartPanel()->seriesCount(), 23);
    for (int i = 0; i < 23; ++i)
        EXPECT_NE(qobject_cast<QCPCurve*>(plot()->plottable(i)), nullptr) << i;
    EXPECT_EQ(plot()->plottable(0)->pen().color(), QColor(0, 128, 0));
    EXPECT_EQ(window->chartPanel()->title(), "longitudinal phase space");
    EXPECT_EQ(window->chartPanel()->foot(), "(green:separatrices; red:unstable; blue:stable trajectories)");
    EXPECT_EQ(plot()->xAxis->label(), "phase (degrees)");
    EXPECT_EQ(plot()->yAxis->label(), "dE/E (%)");
    plot()->replot();
    for (const QString& text : plot()->xAxis->tickVectorLabels())
        EXPECT_FALSE(text.contains('.')) << text.toStdString(); // "##0."
    for (const QString& text : plot()->yAxis->tickVectorLabels())
        EXPECT_EQ(text.section('.', 1).size(), 2) << text.toStdString(); // "##0.00"

    window->rfPotentialClick();
    ASSERT_EQ(window->chartPanel()->seriesCount(), 1);
    EXPECT_EQ(plot()->plottable(0)->interface1D()->dataCount(), 145);
    // the limit boxes show the potential's own range, 0 .. 720 degrees, not an earlier graph's
    EXPECT_EQ(box("edxmin")->text().trimmed(), "0");
    EXPECT_EQ(box("edxmax")->text().trimmed(), "720");
    EXPECT_EQ(window->chartPanel()->title(), "rf-potential");
    EXPECT_EQ(window->chartPanel()->foot(), "");
    EXPECT_EQ(plot()->yAxis->label(), "arb.units");
}

TEST_F(RfWindowTest, ManualLimits)
{
    showWindow();
    window->bbUpdateClick();
    window->rfPotentialClick();
    type("edxmin", "200");
    type("edxmax", "100");
    type("edDx", "20");
    type("edymin", "0");
    type("edymax", "0");
    type("edDy", "1");
    const QCPRange y = plot()->yAxis->range();
    window->chartPanel()->bbUpdteClick();
    EXPECT_TRUE(fake.errors.empty());
    EXPECT_NEAR(plot()->xAxis->range().lower, 200, 1e-9);
    EXPECT_NEAR(plot()->xAxis->range().upper, 220, 1e-9); // 1.1 x_min
    EXPECT_EQ(plot()->yAxis->range(), y);                 // y_max 0 leaves the axis

    type("edDx", "0");
    type("edxmin", "0");
    type("edxmax", "360");
    window->chartPanel()->bbUpdteClick();
    EXPECT_EQ(fake.errors.back(), "the increment must be above 0 and give at most 1000 ticks!");
    EXPECT_NEAR(plot()->xAxis->range().upper, 220, 1e-9);
}

TEST_F(RfWindowTest, ClosingTakesTheBoxesAndDropsTheScan)
{
    showWindow();
    window->mnEscanClick();
    window->graphEscanClick(0);
    ASSERT_EQ(window->chartPanel()->seriesCount(), 1);
    type("edEnergy", "abc");
    window->close();
    EXPECT_TRUE(window->isVisible()); // a box that is no number keeps the window open
    EXPECT_EQ(fake.errors.back(), "momentum cp , GeV: 'abc' is not a valid floating point value");

    type("edEnergy", "1.5");
    type("edCurrent", "250");
    type("edRFVolt", "900");
    type("edRfPow", "80");
    window->close();
    EXPECT_FALSE(window->isVisible());
    EXPECT_NEAR(state.beam.momentum, 1.5e9, 1e-3);
    EXPECT_NEAR(state.beamCurrent, 0.25, 1e-12);
    EXPECT_EQ(state.rf.voltage, 9e5);
    EXPECT_EQ(state.rf.power, 8e4);
    EXPECT_EQ(window->chartPanel()->seriesCount(), 0);
}

TEST_F(RfWindowTest, MetafileAndPrintOfTheGraph)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    showWindow();
    window->bbUpdateClick();
    window->phaseSpaceClick();

    setSaveGraphDialogHook([&](QWidget*) { return dir.filePath("phase.wmf"); });
    window->saveGraphWmfClick();
    EXPECT_TRUE(fake.errors.empty());
    EXPECT_GT(QFile(dir.filePath("phase.wmf")).size(), 1000);

    setSaveGraphDialogHook([&](QWidget*) { return QString(); });
    window->saveGraphWmfClick(); // cancelled: nothing written, no message
    EXPECT_TRUE(fake.errors.empty());

    setPrintDialogHook([&](QPrinter& printer, QWidget*) {
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(dir.filePath("print.pdf"));
        return true;
    });
    window->printGraphClick();
    QProcess pdftotext;
    pdftotext.start("pdftotext", {dir.filePath("print.pdf"), "-"});
    ASSERT_TRUE(pdftotext.waitForFinished(30000));
    EXPECT_TRUE(QString(pdftotext.readAllStandardOutput()).contains("longitudinal phase space"));
}

TEST_F(RfWindowTest, SaveAsWritesTheLatticeWithTheRfSettings)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    window->setSaveLatticeDialog([&] { return dir.filePath("ring.lat"); });
    window->saveAsClick();
    QFile file(dir.filePath("ring.lat"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(QString(file.readAll()).contains("\n103 "));
    EXPECT_EQ(state.lastSavedFile, dir.filePath("ring.lat").toStdString());
}

TEST_F(RfWindowTest, TheUpdateButtonComingAndGoingMovesNoBox)
{
    ASSERT_TRUE(ringReady);
    showWindow();
    const QPoint range = box("edEmin")->mapTo(window.get(), QPoint());
    window->bbUpdateClick();
    QApplication::processEvents();
    ASSERT_TRUE(child<QPushButton>("bbUpdate")->isHidden());
    EXPECT_EQ(box("edEmin")->mapTo(window.get(), QPoint()), range);
    type("edCurrent", "150");
    QApplication::processEvents();
    ASSERT_FALSE(child<QPushButton>("bbUpdate")->isHidden());
    EXPECT_EQ(box("edEmin")->mapTo(window.get(), QPoint()), range);
}

TEST_F(RfWindowTest, TheRfSystemGroupAndTheChartNeverShareTheWindow)
{
    ASSERT_TRUE(ringReady);
    showWindow();
    window->rfSystemClick();
    window->formActivate(); // the window activated again
    QApplication::processEvents();
    EXPECT_TRUE(child<QGroupBox>("gbCavity")->isVisible());
    EXPECT_FALSE(window->chartPanel()->isVisible());
    window->phaseSpaceClick();
    QApplication::processEvents();
    EXPECT_FALSE(child<QGroupBox>("gbCavity")->isVisible());
    EXPECT_TRUE(window->chartPanel()->isVisible());
}

} // namespace
} // namespace kestrune::test
