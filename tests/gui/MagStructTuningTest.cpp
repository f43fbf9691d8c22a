// The tuning bar near the stability limit of a cell, the chart saying when the curves are no periodic
// solution, the redraw of a tuning step and the list text while tuning.
#include "MagStructFixture.h"
#include "core/Drawing.h"
#include "core/Format.h"
#include "core/coupling/CoupledOptics.h"
#include "core/io/Listing.h"
#include "core/optics/BetaFunctions.h"
#include "gui/editor/MagShapePlottable.h"
#include "gui/editor/TuningPanel.h"

#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTest>
#include <algorithm>
#include <qcustomplot.h>

namespace kestrune::test {
namespace {

const char* const kUnstable = "no periodic solution for at least one beta-function!";

/// A FODO cell (QF, drift, QD, drift) whose QF sits just inside the stability limit: one coarse
/// step of the tuning bar (1 % more k) makes the cell unstable.
class MagStructTuning : public MagStructFixture
{
protected:
    void SetUp() override
    {
        appendKinds({2, 0, 2, 0});
        BeamLine& line = state.line;
        for (int i : {1, 3})
            line.at(i).length = 0.2;
        for (int i : {2, 4})
            line.at(i).length = 1.0;
        line.at(3).k = -1.2;
        line.chainPositions();
        for (int i = 1; i <= line.count; ++i)
            placeShape(line, i);
        line.length = line.endPosition();
        window->chart()->setBottomMax(bottomAxisMaximum(line));
        // the stability limit of QF, by bisection between a stable and an unstable strength
        double stable = 1.2;
        double unstable = 30;
        while (unstable - stable > 1e-9) {
            const double k = (stable + unstable) / 2;
            (isStable(k) ? stable : unstable) = k;
        }
        startK = stable / 1.004;
        ASSERT_TRUE(isStable(startK));
        ASSERT_FALSE(isStable(startK * 1.01));
        line.at(1).k = startK;
        showWindow();
        window->mnPerSolClick();
        ASSERT_TRUE(window->chart()->seriesCreated());
        ASSERT_TRUE(fake.errors.empty());
        window->tuningPanel()->startTuning(1);
        bar = window->tuningPanel()->findChild<QScrollBar*>("sbTuning");
        ASSERT_NE(bar, nullptr);
    }

    bool isStable(double k)
    {
        State trial = state;
        trial.line.at(1).k = k;
        FakeMessages quiet;
        periodicSolution(trial, quiet);
        return trial.run.periodicStable;
    }

    int unstableMessages() const
    {
        return static_cast<int>(std::count(fake.errors.begin(), fake.errors.end(), kUnstable));
    }

    /// The right arrow of the bar, pressed and held as a user holds it while a message box takes the
    /// release.
    void pressRightArrow()
    {
        QTest::mousePress(bar, Qt::LeftButton, {}, QPoint(bar->width() - 4, bar->height() / 2));
    }

    double startK = 0;
    QScrollBar* bar = nullptr; // a TuningScrollBar
};

TEST_F(MagStructTuning, OneArrowClickIsOneStepAndOneMessage)
{
    pressRightArrow();
    EXPECT_EQ(bar->value(), 1);
    EXPECT_NEAR(state.line.at(1).k, startK * 1.01, 1e-12);
    EXPECT_EQ(unstableMessages(), 1);
    // the bar would repeat after 500 ms and then every 50 ms while the arrow counts as pressed: the
    // message box took the release, so the repeat is stopped
    QCoreApplication::processEvents();
    EXPECT_EQ(static_cast<TuningScrollBar*>(bar)->repeating(), QAbstractSlider::SliderNoAction);
    EXPECT_EQ(bar->value(), 1);
    EXPECT_NEAR(state.line.at(1).k, startK * 1.01, 1e-12);
    EXPECT_EQ(unstableMessages(), 1);

    // restore stays restored
    QTest::mouseClick(window->tuningPanel()->findChild<QPushButton*>("btRestVal"), Qt::LeftButton);
    EXPECT_EQ(state.line.at(1).k, startK);
    QCoreApplication::processEvents();
    EXPECT_EQ(static_cast<TuningScrollBar*>(bar)->repeating(), QAbstractSlider::SliderNoAction);
    EXPECT_EQ(state.line.at(1).k, startK);
    EXPECT_EQ(bar->value(), 0);
    EXPECT_EQ(unstableMessages(), 1);
    QTest::mouseRelease(bar, Qt::LeftButton, {}, QPoint(bar->width() - 4, bar->height() / 2));

    // holding the arrow where no message comes still repeats the step
    window->tuningPanel()->findChild<QRadioButton*>("rbFine")->setChecked(true);
    bar->setValue(-20);
    const int before = bar->value();
    pressRightArrow();
    QCoreApplication::processEvents();
    EXPECT_EQ(bar->value(), before + 1);
    EXPECT_EQ(static_cast<TuningScrollBar*>(bar)->repeating(),
              QAbstractSlider::SliderSingleStepAdd); // Qt's timer repeats it
    QTest::mouseRelease(bar, Qt::LeftButton, {}, QPoint(bar->width() - 4, bar->height() / 2));
}

TEST_F(MagStructTuning, ChartSaysWhenTheCurvesAreNoPeriodicSolution)
{
    LatticeChart& chart = *window->chart();
    EXPECT_EQ(chart.titleLines(), QStringList{"Betatron Functions"});
    const double betaBefore = *chart.seriesMax(1);

    bar->setValue(1); // unstable: the curves start from the previous periodic values
    ASSERT_EQ(chart.titleLines().size(), 2);
    EXPECT_EQ(chart.titleLines()[0], "Betatron Functions");
    EXPECT_EQ(chart.titleLines()[1], "not periodic: unstable cell, curves from previous values");
    EXPECT_GT(chart.pointCount(1), 0);
    EXPECT_NE(*chart.seriesMax(1), betaBefore);

    bar->setValue(0); // stable again
    EXPECT_EQ(chart.titleLines(), QStringList{"Betatron Functions"});
    EXPECT_NEAR(*chart.seriesMax(1), betaBefore, 1e-9 * betaBefore);
}

TEST_F(MagStructTuning, TuningStepsRepaintTheCurvesButNotTheDrawing)
{
    MagShapePlottable* shapes = window->chart()->shapes();
    window->chart()->refresh();
    const int painted = shapes->paintCount();
    int replots = 0;
    QObject::connect(window->chart()->plot(), &QCustomPlot::afterReplot, [&replots] { ++replots; });
    window->tuningPanel()->findChild<QRadioButton*>("rbFine")->setChecked(true);
    for (int position : {-1, -2, -3, -4, -5}) {
        const int before = window->chart()->pointCount(1);
        bar->setValue(position);
        EXPECT_EQ(window->chart()->pointCount(1), before);
    }
    // the drawing keeps its place while the curves rescale: it comes from its picture
    EXPECT_EQ(shapes->paintCount(), painted);
    EXPECT_LE(replots, 5);
    // an edit of the drawing paints it again
    state.line.at(3).k = 1.0;
    applyQuadrupoleSign(state.line.shape(3), 1.0, state.drawBaseline, state.drawScale);
    window->beamDynamics();
    EXPECT_EQ(shapes->paintCount(), painted + 1);
}

TEST_F(MagStructTuning, ListTextStaysBoundedWhileTuning)
{
    window->tuningPanel()->findChild<QRadioButton*>("rbFine")->setChecked(true);
    bar->setValue(-1);
    const std::vector<std::string> afterOne = listLines(state);
    const std::size_t startRows = newestListLine(state); // the periodic solution's start row block
    ASSERT_GT(startRows, 0u);
    for (int position = -2; position >= -40; --position)
        bar->setValue(position);
    const std::vector<std::string> afterMany = listLines(state);
    // the start row of "look for periodic solution", then the list of the last plot update only
    EXPECT_EQ(afterMany.size(), afterOne.size());
    EXPECT_NE(afterMany, afterOne);
    EXPECT_EQ(afterMany.back().substr(0, 8), rightJustify(state.line.at(4).name, 7) + " ");

    // a list the user asks for stays when the next plot update comes
    window->betaFunctionsClick();
    const std::size_t withAsked = listLines(state).size();
    bar->setValue(-41);
    bar->setValue(-42);
    EXPECT_EQ(listLines(state).size(), withAsked);
    // the plot update's list went behind the asked-for list: it is the newest
    EXPECT_EQ(newestListLine(state), withAsked - (afterOne.size() - startRows));
}

class MagStructCurveRedraw : public MagStructFixture
{
};

TEST_F(MagStructCurveRedraw, StepThatKeepsTheAxesRedrawsTheCurveLayerAlone)
{
    // a converging beam: the largest beta is the start value, so tuning the quadrupole behind it moves
    // the curves but not the axes
    appendKinds({0, 2, 0});
    state.line.at(1).length = 1.0;
    state.line.at(2).k = 0.2;
    state.line.chainPositions();
    for (int i = 1; i <= 3; ++i)
        placeShape(state.line, i);
    state.line.length = state.line.endPosition();
    window->chart()->setBottomMax(bottomAxisMaximum(state.line));
    state.run.showBetaFunctions = true;
    state.run.betaX0 = state.run.betaY0 = 100;
    state.run.alphaX0 = state.run.alphaY0 = 10;
    state.run.gammaX0 = state.run.gammaY0 = 1.01;
    showWindow();
    window->beamDynamics();
    window->tuningPanel()->startTuning(2);
    auto* bar = window->tuningPanel()->findChild<QScrollBar*>("sbTuning");
    ASSERT_NE(bar, nullptr);
    int replots = 0;
    QObject::connect(window->chart()->plot(), &QCustomPlot::afterReplot, [&replots] { ++replots; });
    const double lower = window->chart()->leftLower();
    const double upper = window->chart()->leftUpper();
    for (int position : {10, 20, 30}) {
        const double endBefore = state.lf.betaX;
        bar->setValue(position);
        EXPECT_NE(state.lf.betaX, endBefore);
    }
    EXPECT_EQ(window->chart()->leftLower(), lower);
    EXPECT_EQ(window->chart()->leftUpper(), upper);
    EXPECT_EQ(replots, 0); // no full redraw: the curve layer alone was painted again
}

// A coupled ring: the window's periodic solution and its curves are those of the coupled optics, and a
// tuning step passes the coupled line again.
class MagStructCoupled : public MagStructFixture
{
};

TEST_F(MagStructCoupled, PeriodicCurvesAreTheModesAndFollowTheTuningBar)
{
    showWindow();
    openAnswer = QString(KESTRUNE_VALIDATION) + "/coupled-double-bend.lat";
    window->openClick();
    ASSERT_GT(state.line.count, 0);
    window->mnPerSolClick();
    ASSERT_TRUE(fake.errors.empty()) << fake.errors.front();
    const auto largestBeta = [this] {
        const CoupledRing ring = coupledRing(state);
        EXPECT_TRUE(ring.computed) << ring.refusal;
        double largest = 0;
        for (const CoupledFunctions& f : ring.functions)
            largest = std::max(largest, f.et.betaX);
        return largest;
    };
    LatticeChart& chart = *window->chart();
    EXPECT_NEAR(*chart.seriesMax(1), largestBeta(), 1e-6);
    int quad = 0;
    for (int i = 1; i <= state.line.count && quad == 0; ++i)
        if (familyOf(state.line.at(i).code) == static_cast<int>(Family::Quadrupole))
            quad = i;
    ASSERT_GT(quad, 0);
    window->tuningPanel()->startTuning(quad);
    auto* bar = window->tuningPanel()->findChild<QScrollBar*>("sbTuning");
    ASSERT_NE(bar, nullptr);
    bar->setValue(2);
    ASSERT_TRUE(fake.errors.empty()) << fake.errors.front();
    EXPECT_NEAR(*chart.seriesMax(1), largestBeta(), 1e-6);
}

} // namespace
} // namespace kestrune::test
