#include "MagStructFixture.h"
#include "core/Drawing.h"
#include "core/NumberInput.h"
#include "core/editor/ChartSettings.h"
#include "core/orbit/ClosedOrbit.h"
#include "core/orbit/CorrectorRing.h"
#include "gui/editor/InitialConditionsPanel.h"

#include <QAction>
#include <QFrame>
#include <QGroupBox>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <algorithm>
#include <cmath>

namespace kestrune::test {
namespace {

const QString kDbaCell = QString(KESTRUNE_EXAMPLES) + "/dba-cell.lat";

class MagStructChart : public MagStructFixture
{
protected:
    void openDba()
    {
        openAnswer = kDbaCell;
        window->openClick();
        ASSERT_GT(state.line.count, 10)
            << (fake.errors.empty() ? std::string("no message") : fake.errors.back());
    }
    LatticeChart& chart() { return *window->chart(); }
};

TEST_F(MagStructChart, OpenPlotThenSwitchToTrajectories)
{
    showWindow();
    openDba();
    EXPECT_EQ(dialogTitles.value(0), "select data file");

    window->mnPerSolClick();
    ASSERT_TRUE(chart().seriesCreated());
    EXPECT_EQ(chart().seriesTitle(1), "beta");
    EXPECT_EQ(chart().titleLines(), QStringList{"Betatron Functions"});
    EXPECT_EQ(chart().footLines(), QStringList{"beta_x (red); beta_y (green); dispersion*10 (blue)"});
    EXPECT_EQ(chart().leftAxisTitle(), "beta_x,y (m), eta*10 (m)");
    const int betaPoints = chart().pointCount(1);
    EXPECT_GT(betaPoints, state.line.count);
    EXPECT_GT(*chart().seriesMin(1), 0.0); // betatron functions are positive
    EXPECT_NEAR(chart().bottomUpper(), state.line.length + 0.75, 1e-9);

    window->snglPartPathClick();
    EXPECT_EQ(chart().seriesTitle(2), "path");
    EXPECT_EQ(chart().pointCount(1), 0); // the old points are gone
    EXPECT_TRUE(window->initialPanel()->singleParticleFrame()->isVisible());

    auto* use = window->initialPanel()->singleParticleFrame()->findChild<QPushButton*>("bbUseSngl");
    ASSERT_NE(use, nullptr);
    QTest::mouseClick(use, Qt::LeftButton);
    EXPECT_EQ(chart().seriesTitle(3), "traj");
    EXPECT_EQ(chart().titleLines(), QStringList{"Particle Trajectories"});
    EXPECT_EQ(chart().footLines(), QStringList{"RED: x(s); GREEN: y(s); BLUE: dispersion*10"});
    EXPECT_EQ(chart().leftAxisTitle(), "x(mm), y(mm), 10*disp(m)");
    EXPECT_GT(chart().pointCount(1), state.line.count);
    EXPECT_NEAR(*chart().seriesMax(1), std::max(1.0, *chart().seriesMax(1)), 1e-12); // starts at x0 = 1 mm
}

// "errors: optics about the closed orbit" draws the optics of the orbit module, a point at the start and
// after each element, with its line in the title; a machine without a closed orbit is refused by name and
// the choice taken back.
TEST_F(MagStructChart, OpticsAboutTheClosedOrbitOrItsRefusal)
{
    state.line = correctorRing(false).line;
    const int error = 12; // the thin multipole of the first cell
    ASSERT_EQ(state.line.at(error).code, code::kThinMultipole);
    state.line.at(error).errors.dkn = {2e-4};
    showWindow();
    window->mnPerSolClick();
    auto* aboutOrbit = window->findChild<QAction*>("mnAboutOrbit");
    aboutOrbit->trigger();
    ASSERT_TRUE(fake.errors.empty()) << fake.errors.front();
    EXPECT_EQ(chart().pointCount(1), state.line.count + 1);
    EXPECT_TRUE(chart().titleLines().last().startsWith("about the closed orbit: Q1 = "));
    // the orbit itself in mm: x of the horizontal error, y nowhere
    const ClosedOrbit orbit = closedOrbit(state);
    double largestX = 0;
    for (const PhaseVector& p : orbit.orbit)
        largestX = std::max(largestX, std::fabs(p.x) * 1000);
    EXPECT_EQ(chart().orbitPointCount(1), state.line.count + 1);
    EXPECT_NEAR(chart().orbitMax(1).value_or(-1), largestX, 1e-12 * largestX);
    EXPECT_GT(largestX, 1e-3);
    EXPECT_EQ(chart().orbitMax(2).value_or(-1), 0.0);
    aboutOrbit->trigger();
    EXPECT_FALSE(chart().orbitShown());
    state.line.at(error).errors.dkn = {0.5};
    aboutOrbit->trigger();
    ASSERT_EQ(fake.errors.size(), 1u);
    EXPECT_EQ(fake.errors[0].rfind("no closed orbit: ", 0), 0u) << fake.errors[0];
    EXPECT_FALSE(aboutOrbit->isChecked());
    EXPECT_GT(chart().pointCount(1), state.line.count); // the design's pass drawn instead
}

TEST_F(MagStructChart, UpdateRescalesShapesAndLeftAxis)
{
    showWindow();
    openDba();
    window->mnPerSolClick();
    double ymax = 0;
    for (int n = 1; n <= 3; ++n)
        ymax = std::max(ymax, *chart().seriesMax(n));
    EXPECT_NEAR(chart().leftUpper(), 1.05 * ymax, 1e-9);
    EXPECT_NEAR(chart().leftLower(), (state.drawBaseline - 20) * state.drawScale, 1e-9);
    // every quadrupole stands on the baseline at the new scale, 8 units high
    int quads = 0;
    for (int i = 1; i <= state.line.count; ++i) {
        if (familyOf(state.line.at(i).code) != 2)
            continue;
        ++quads;
        const ElementShape& s = state.line.shape(i);
        EXPECT_NEAR(s.y0, state.drawBaseline * state.drawScale, 1e-9) << i;
        EXPECT_NEAR(std::abs(s.y1 - s.y0), 8 * state.drawScale, 1e-9) << i;
        EXPECT_EQ(s.colour, state.line.at(i).k > 0 ? colour::kRed : colour::kGreen) << i;
    }
    EXPECT_GT(quads, 0);
}

TEST_F(MagStructChart, DispersionToggleKeepsThePoints)
{
    appendKinds({0, 2, 0, 1, 0});
    state.run.showBetaFunctions = true;
    window->beamDynamics();
    showWindow();
    auto* button2 = window->findChild<QPushButton*>("btDispersion");
    ASSERT_NE(button2, nullptr);
    EXPECT_EQ(button2->text(), "do not show dispersion");
    const int points = chart().pointCount(3);
    QTest::mouseClick(button2, Qt::LeftButton);
    EXPECT_FALSE(chart().dispersionShown());
    EXPECT_EQ(button2->text(), "show dispersion");
    EXPECT_EQ(chart().pointCount(3), points);
    QTest::mouseClick(button2, Qt::LeftButton);
    EXPECT_TRUE(chart().dispersionShown());
    EXPECT_EQ(button2->text(), "do not show dispersion");
    // the button sits at the lower left, clear of the plot area
    const QRect plotArea = chart().plotArea();
    EXPECT_LT(button2->geometry().left(), plotArea.left());
    EXPECT_GT(button2->geometry().bottom(), plotArea.bottom());
}

TEST_F(MagStructChart, TitlesGoThroughTheTextEntry)
{
    window->setChartTitle("Periodic Lattice");
    enterAnswer = "my cell";
    window->titles(1);
    window->titles(2);
    window->titles(3);
    EXPECT_EQ(enterCaptions,
              (QStringList{"edit Graph Title", "edit Left Axis Caption", "edit Bottom Axis Caption"}));
    EXPECT_EQ(enterPresets, (QStringList{"Periodic Lattice", "beta_x, y  (m);  eta*10  (m)", "z-axis (m)"}));
    EXPECT_EQ(chart().titleLines(), QStringList{"my cell"});
    EXPECT_EQ(chart().leftAxisTitle(), "my cell");
    EXPECT_EQ(chart().bottomAxisTitle(), "my cell");
    EXPECT_TRUE(state.enteredText.empty());

    enterAnswer.reset(); // cancelled: nothing changes
    window->titles(3);
    EXPECT_EQ(chart().bottomAxisTitle(), "my cell");

    // an update rewrites title and left axis, the bottom caption stays
    appendKinds({0, 2});
    state.run.showBetaFunctions = true;
    window->beamDynamics();
    EXPECT_EQ(chart().titleLines(), QStringList{"Betatron Functions"});
    EXPECT_EQ(chart().bottomAxisTitle(), "my cell");
}

TEST_F(MagStructChart, StepGroupStoresOnlyOnYes)
{
    showWindow();
    auto* group = window->findChild<QGroupBox*>("gbZstep");
    auto* endEl = window->findChild<QRadioButton*>("rbEndEl");
    auto* shortSteps = window->findChild<QRadioButton*>("rbShort");
    auto* edStep = window->findChild<QLineEdit*>("edStep");
    auto* edMax = window->findChild<QLineEdit*>("edMaxSteps");
    auto* yes = window->findChild<QPushButton*>("bbStepClose");
    ASSERT_TRUE(group && endEl && shortSteps && edStep && edMax && yes);
    EXPECT_EQ(group->title(), "z-step size");
    EXPECT_TRUE(endEl->isChecked());

    window->mnZStepClick();
    EXPECT_TRUE(group->isVisible());
    EXPECT_EQ(edStep->text(), "  10.000");
    EXPECT_FALSE(window->findChild<QFrame*>("pnSStep")->isVisible());

    QTest::mouseClick(shortSteps, Qt::LeftButton, {}, QPoint(6, shortSteps->height() / 2));
    EXPECT_TRUE(edStep->isVisible());
    edStep->clear();
    QTest::keyClicks(edStep, "5");
    edMax->clear();
    QTest::keyClicks(edMax, "40");
    QTest::mouseClick(yes, Qt::LeftButton);
    EXPECT_FALSE(group->isVisible());
    EXPECT_NEAR(state.run.maxStep, 0.05, 1e-12);
    EXPECT_EQ(state.run.maxSteps, 40);
    EXPECT_FALSE(state.run.stepAtElementEnds);

    window->mnZStepClick();
    endEl->setChecked(true);
    QTest::mouseClick(yes, Qt::LeftButton);
    EXPECT_TRUE(state.run.stepAtElementEnds);
    EXPECT_EQ(state.run.maxSteps, 1);

    window->mnZStepClick();
    QTest::mouseClick(shortSteps, Qt::LeftButton, {}, QPoint(6, shortSteps->height() / 2));
    edStep->clear();
    QTest::keyClicks(edStep, "abc");
    QTest::mouseClick(yes, Qt::LeftButton);
    ASSERT_FALSE(fake.errors.empty());
    EXPECT_EQ(fake.errors.back(), "'abc' is not a valid floating point value");
    EXPECT_TRUE(group->isVisible());
    EXPECT_TRUE(state.run.stepAtElementEnds);
}

TEST_F(MagStructChart, MenuBarOrderAndCaptions)
{
    QStringList top;
    for (QAction* action : window->menuBar()->actions())
        top << action->text();
    ASSERT_GE(top.size(), 7);
    EXPECT_EQ(top[6], "ring design");
    EXPECT_EQ(window->menuBar()->actions()[6]->objectName(), "mnRing");
    for (const char* entry :
         {"new lattice", "File", "Edit", "edit Graph", "z-step", "optics", "lists", "Particle", "Help"})
        EXPECT_TRUE(top.contains(entry)) << entry;
    EXPECT_EQ(window->windowTitle(), "Magnet Lattice and Beam Dynamics Functions");

    window->setRingDesignVisible(false);
    EXPECT_FALSE(window->menuBar()->actions()[6]->isVisible());
}

TEST_F(MagStructChart, KeyFAsksThenOpensOrSaysNothingChanged)
{
    fake.answers = {false};
    QTest::keyClick(window.get(), Qt::Key_F);
    ASSERT_EQ(fake.questions.size(), 1u);
    EXPECT_EQ(fake.questions[0],
              "Did you load first a valid GTL lattice\nbefore using this update of quadrupole strengths?");
    EXPECT_EQ(dialogTitles, QStringList{"select data file"});

    fake.answers = {true};
    openAnswer = kDbaCell;
    QTest::keyClick(window.get(), Qt::Key_F);
    EXPECT_EQ(dialogTitles.last(), "select GTL lattice file");
    EXPECT_EQ(state.line.count, 0); // no lattice read
    ASSERT_FALSE(fake.errors.empty());
    EXPECT_NE(fake.errors.back().find("no quadrupole strengths were changed"), std::string::npos);

    QTest::keyClick(window.get(), Qt::Key_G);
    EXPECT_EQ(fake.questions.size(), 2u);
}

TEST(PlotTexts, ModeFlagsGiveKindAndTexts)
{
    RunSettings run;
    EXPECT_EQ(plotKind(run), "");
    EXPECT_TRUE(plotTexts(run).title.empty());
    run.showBetaFunctions = true;
    run.showTrajectory = true;
    EXPECT_EQ(plotKind(run), "beta");
    const PlotTexts both = plotTexts(run);
    EXPECT_EQ(both.title, (std::vector<std::string>{"Betatron Functions", "Particle Trajectories"}));
    EXPECT_EQ(both.leftAxis, "x(mm), y(mm), 10*disp(m)");
    run.showBeamSize = true;
    EXPECT_EQ(plotKind(run), "beam");
    EXPECT_EQ(plotTexts(run).foot, std::vector<std::string>{"RED: sig_x; GREEN: sig_y; BLUE: dispersion*10"});
}

TEST(StepSettings, EndOfElementsForcesOneStepAndBadCountKeepsStep)
{
    RunSettings run;
    applyStepSettings(run, " 2.5", "30", true);
    EXPECT_NEAR(run.maxStep, 0.025, 1e-15);
    EXPECT_EQ(run.maxSteps, 1);
    EXPECT_EQ(run.maxStepsBox, 30);
    EXPECT_TRUE(run.stepAtElementEnds);
    EXPECT_THROW(applyStepSettings(run, "7", "x", false), ConversionError);
    EXPECT_NEAR(run.maxStep, 0.07, 1e-15);
    EXPECT_TRUE(run.stepAtElementEnds);
    run.maxStep = 0;
    ensurePositiveStep(run);
    EXPECT_EQ(stepBoxText(run), "  10.000");
}

} // namespace
} // namespace kestrune::test
