#include "gui/editor/TuningPanel.h"

#include "gui/PanelTestSupport.h"

#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <memory>

namespace kestrune {
namespace {

using test::appendElement;
using test::child;

class TuningPanelTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        startParticle(state);
        appendElement(state, "QF", code::kQuadrupole, 0.2).k = 2.0;
        appendElement(state, "D", code::kDrift, 1.0);
        appendElement(state, "QD", code::kQuadrupole, 0.2).k = -1.0;
        host = std::make_unique<QWidget>();
        host->resize(800, 600);
        panel = new TuningPanel(state, host.get());
        host->show();
    }

    QScrollBar* bar() { return child<QScrollBar>(*panel, "sbTuning"); }
    QString shownValue() { return child<QLineEdit>(*panel, "ScrollParam")->text(); }
    QString label() { return child<QLabel>(*panel, "lScrollVal")->text(); }
    void click(const char* name) { QTest::mouseClick(child<QPushButton>(*panel, name), Qt::LeftButton); }
    void arrowSteps(int steps)
    {
        for (int i = 0; i < steps; ++i)
            QTest::keyClick(bar(), Qt::Key_Right);
    }
    // what the focus leaving the bar does, without depending on the offscreen window activation
    void leaveBar()
    {
        QFocusEvent out(QEvent::FocusOut, Qt::MouseFocusReason);
        QCoreApplication::sendEvent(bar(), &out);
    }

    State state;
    std::unique_ptr<QWidget> host;
    TuningPanel* panel = nullptr;
};

TEST_F(TuningPanelTest, StartsHiddenWithItsControls)
{
    EXPECT_FALSE(panel->isVisible());
    EXPECT_EQ(label(), "scroll parameter");
    EXPECT_EQ(bar()->orientation(), Qt::Horizontal);
    EXPECT_EQ(bar()->minimum(), -50);
    EXPECT_EQ(bar()->maximum(), 50);
    EXPECT_EQ(bar()->singleStep(), 1);
    EXPECT_EQ(child<QRadioButton>(*panel, "rbQk")->text(), "Q-strength, k");
    EXPECT_TRUE(child<QRadioButton>(*panel, "rbCoarse")->isChecked());
    EXPECT_EQ(child<QRadioButton>(*panel, "rbFine")->text(), "fine");
    EXPECT_EQ(child<QPushButton>(*panel, "btResetScroll")->text(), "reset scroll bar");
    EXPECT_EQ(child<QPushButton>(*panel, "btRestVal")->text(), "restore original value?");
    auto* selectors = child<QGroupBox>(*panel, "pnlScrollSel");
    int hiddenSelectors = 0;
    for (QRadioButton* selector : selectors->findChildren<QRadioButton*>()) {
        if (selector->objectName() == "rbQk")
            continue;
        EXPECT_FALSE(selector->isEnabled());
        EXPECT_FALSE(selector->isVisibleTo(panel));
        ++hiddenSelectors;
    }
    EXPECT_EQ(hiddenSelectors, 3);
}

TEST_F(TuningPanelTest, StartShowsTheElementAndItsStrength)
{
    panel->startTuning(1);
    EXPECT_TRUE(panel->isVisible());
    EXPECT_EQ(label(), "scrolled strength for magnet QF is: ");
    EXPECT_EQ(shownValue(), "2");
    EXPECT_TRUE(child<QRadioButton>(*panel, "rbQk")->isChecked());
    EXPECT_EQ(bar()->value(), 0);
    EXPECT_EQ(panel->element(), 1);
}

TEST_F(TuningPanelTest, EveryBarStepSetsKAndAsksForAnUpdate)
{
    panel->startTuning(1);
    QSignalSpy changed(panel, &TuningPanel::kChanged);
    arrowSteps(10);
    EXPECT_EQ(bar()->value(), 10);
    EXPECT_EQ(changed.count(), 10) << "one update per arrow step";
    EXPECT_NEAR(state.line.at(1).k, 2.2, 1e-12);
    EXPECT_EQ(shownValue(), "2.200");
    EXPECT_NEAR(state.line.at(3).k, -1.0, 1e-12) << "only the tuned element changes";
}

TEST_F(TuningPanelTest, FineStepsAddToTheValueLeftOnTheBar)
{
    panel->startTuning(1);
    arrowSteps(10);
    leaveBar();
    QTest::mouseClick(child<QRadioButton>(*panel, "rbFine"), Qt::LeftButton);
    bar()->setValue(20);
    EXPECT_NEAR(state.line.at(1).k, 2.208, 1e-12);
    EXPECT_EQ(shownValue(), "2.208");

    QSignalSpy changed(panel, &TuningPanel::kChanged);
    click("btRestVal");
    EXPECT_NEAR(state.line.at(1).k, 2.0, 1e-12);
    EXPECT_EQ(bar()->value(), 0);
    EXPECT_EQ(shownValue(), "2.000");
    EXPECT_EQ(changed.count(), 1);
}

TEST_F(TuningPanelTest, FocusLeavingTheBarMakesTheValueTheBase)
{
    QApplication::setActiveWindow(host.get());
    if (!QTest::qWaitForWindowActive(host.get(), 2000))
        GTEST_SKIP() << "the platform does not activate windows";
    panel->startTuning(1);
    bar()->setFocus();
    arrowSteps(10);
    child<QPushButton>(*panel, "btResetScroll")->setFocus(); // the bar loses the focus
    EXPECT_NEAR(panel->tuning().tuneBase, 2.2, 1e-12);
}

TEST_F(TuningPanelTest, ResetScrollBarOnlyNearTheEnds)
{
    panel->startTuning(1);
    bar()->setValue(40);
    click("btResetScroll");
    EXPECT_EQ(bar()->value(), 40) << "within -40..40 nothing happens";

    bar()->setValue(45);
    QSignalSpy changed(panel, &TuningPanel::kChanged);
    click("btResetScroll");
    EXPECT_EQ(bar()->value(), 0);
    EXPECT_EQ(changed.count(), 0) << "the value stays";
    EXPECT_NEAR(state.line.at(1).k, 2.9, 1e-12);
    EXPECT_EQ(shownValue(), "2.900");
    arrowSteps(1);
    EXPECT_NEAR(state.line.at(1).k, 2.92, 1e-12);
}

TEST_F(TuningPanelTest, AbortHidesAndKeepsTheTunedValue)
{
    panel->startTuning(1);
    arrowSteps(5);
    QSignalSpy aborted(panel, &TuningPanel::aborted);
    click("bbAbort");
    EXPECT_FALSE(panel->isVisible());
    EXPECT_EQ(aborted.count(), 1);
    EXPECT_NEAR(state.line.at(1).k, 2.1, 1e-12);
}

TEST_F(TuningPanelTest, AClickedElementRestartsTheOpenTuning)
{
    panel->startTuning(1);
    arrowSteps(10);
    panel->elementClicked(3);
    EXPECT_EQ(panel->element(), 3);
    EXPECT_EQ(label(), "scrolled strength for magnet QD is: ");
    EXPECT_EQ(shownValue(), "-1");
    EXPECT_EQ(bar()->value(), 0);
    arrowSteps(10);
    EXPECT_NEAR(state.line.at(3).k, -1.1, 1e-12);
    EXPECT_NEAR(state.line.at(1).k, 2.2, 1e-12) << "the element tuned before keeps its value";
}

TEST_F(TuningPanelTest, AClickWhileClosedOnlyResetsTheBar)
{
    panel->startTuning(1);
    arrowSteps(10);
    click("bbAbort");
    panel->elementClicked(3);
    EXPECT_EQ(bar()->value(), 0);
    EXPECT_EQ(label(), "scrolled strength for magnet QF is: ");
    EXPECT_FALSE(panel->isVisible());
}

} // namespace
} // namespace kestrune
