#include "gui/editor/ElementPanel.h"

#include "core/NumberInput.h"
#include "gui/PanelTestSupport.h"
#include "support/FakeMessages.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTest>
#include <memory>

namespace kestrune {
namespace {

using test::appendElement;
using test::child;
using test::typeIntoCell;

class ElementPanelTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        startParticle(state);
        host = std::make_unique<QWidget>();
        host->resize(900, 700);
        panel = new ElementPanel(state, messages, host.get());
        host->show();
    }

    QTableWidget* grid() { return child<QTableWidget>(*panel, "MagPar"); }
    QString cell(int column, int row) { return grid()->item(row, column)->text(); }
    QRadioButton* typeButton(int i)
    {
        return child<QRadioButton>(*panel, qPrintable(QString("rbMType%1").arg(i)));
    }
    void click(const char* name) { QTest::mouseClick(child<QPushButton>(*panel, name), Qt::LeftButton); }

    State state;
    test::FakeMessages messages;
    std::unique_ptr<QWidget> host;
    ElementPanel* panel = nullptr;
};

TEST_F(ElementPanelTest, ControlsCarryTheirCaptionsAndHints)
{
    EXPECT_EQ(child<QLabel>(*panel, "lEditTitle")->text(), "edit beam line element:");
    EXPECT_EQ(child<QPushButton>(*panel, "bbAccept")->text(), "accept data       ");
    EXPECT_EQ(child<QPushButton>(*panel, "bbAccept")->toolTip(),
              "you must \"accept\" you parameter selection");
    EXPECT_EQ(child<QPushButton>(*panel, "btCancelEdit")->toolTip(), "cancel editing");
    EXPECT_EQ(child<QPushButton>(*panel, "btDelete")->toolTip(), "delete this element");
    EXPECT_EQ(child<QPushButton>(*panel, "btScroll")->toolTip(), "scroll quad strength");
    EXPECT_EQ(child<QPushButton>(*panel, "btPrev")->text(), "previous element");
    EXPECT_EQ(child<QPushButton>(*panel, "btNext")->text(), "next element");
    EXPECT_EQ(child<QPushButton>(*panel, "btInsertElement")->text(), "insert element");
    auto* units = child<QComboBox>(*panel, "cbUnits");
    ASSERT_EQ(units->count(), 2);
    EXPECT_EQ(units->itemText(0), "radian");
    EXPECT_EQ(units->itemText(1), "degrees");
    EXPECT_EQ(units->currentText(), "radian");
    EXPECT_EQ(grid()->columnCount(), 4);
    EXPECT_EQ(grid()->rowCount(), ParameterGrid::kRows);
    EXPECT_FALSE(panel->isVisible()) << "hidden until the first fill";
}

TEST_F(ElementPanelTest, ShowsTheRowsOfABendWithItsTypeButtonsAndUnitBox)
{
    LatticeElement& bend = appendElement(state, "B1", code::kSectorBend, 1.0);
    bend.curvature = 0.1;
    panel->showParameter(1);

    EXPECT_TRUE(panel->isVisible());
    EXPECT_EQ(cell(0, 1), " sector magnet ");
    EXPECT_EQ(cell(1, 1), "B1");
    EXPECT_EQ(cell(1, 3), "   1.00000");
    EXPECT_EQ(cell(0, 8), " deflection angle");
    EXPECT_EQ(cell(1, 8), "   5.72958");
    EXPECT_EQ(typeButton(1)->text(), " rect.Magnet");
    EXPECT_EQ(typeButton(2)->text(), " sector Magnet");
    EXPECT_EQ(typeButton(3)->text(), " wedge Magnet");
    EXPECT_TRUE(typeButton(2)->isChecked());
    EXPECT_TRUE(child<QComboBox>(*panel, "cbUnits")->isVisible());
    EXPECT_FALSE(child<QPushButton>(*panel, "btScroll")->isVisible());
    // the grid has room for all ten rows and three columns without scrolling
    const QRect lastValue = grid()->visualItemRect(grid()->item(9, 2));
    EXPECT_LE(lastValue.bottom(), grid()->viewport()->height());
    EXPECT_LE(lastValue.right(), grid()->viewport()->width());
}

TEST_F(ElementPanelTest, QuadrupoleShowsTheScrollButtonAndTwoTypes)
{
    appendElement(state, "QD", code::kQuadrupole, 0.2).k = -1.5;
    panel->showParameter(1);
    EXPECT_EQ(cell(0, 1), " defoc. quadrupole ");
    EXPECT_TRUE(typeButton(2)->isChecked());
    EXPECT_FALSE(typeButton(3)->isVisible());
    EXPECT_TRUE(child<QPushButton>(*panel, "btScroll")->isVisible());
    EXPECT_FALSE(child<QComboBox>(*panel, "cbUnits")->isVisible());
}

TEST_F(ElementPanelTest, ACopyUnderWayFillsWithoutShowing)
{
    appendElement(state, "D", code::kDrift, 1.0);
    panel->showParameter(1, true);
    EXPECT_FALSE(panel->isVisible());
    EXPECT_EQ(cell(1, 1), "D");
}

TEST_F(ElementPanelTest, ATypeButtonAppliesAtOnce)
{
    LatticeElement& bend = appendElement(state, "B1", code::kSectorBend, 1.0);
    bend.curvature = 0.1;
    panel->showParameter(1);
    QSignalSpy applied(panel, &ElementPanel::typeApplied);

    QTest::mouseClick(typeButton(1), Qt::LeftButton);

    EXPECT_EQ(bend.code, code::kRectangularBend);
    EXPECT_NEAR(bend.ain, 0.05, 1e-12);
    EXPECT_NEAR(bend.aout, 0.05, 1e-12);
    EXPECT_EQ(cell(0, 1), " rect. magnet ");
    EXPECT_EQ(cell(1, 6), "   0.05000");
    EXPECT_EQ(applied.count(), 1);
}

TEST_F(ElementPanelTest, DefocusingButtonFlipsAQuadrupoleAndItsShape)
{
    LatticeElement& quad = appendElement(state, "Q", code::kQuadrupole, 0.2);
    quad.k = 1.5;
    panel->showParameter(1);
    QTest::mouseClick(typeButton(2), Qt::LeftButton);
    EXPECT_NEAR(quad.k, -1.5, 1e-12);
    EXPECT_EQ(state.line.shape(1).colour, colour::kGreen);
    EXPECT_LT(state.line.shape(1).y1, state.line.shape(1).y0);
    EXPECT_EQ(cell(0, 1), " defoc. quadrupole ");
}

TEST_F(ElementPanelTest, DegreesBoxRewritesTheAngleCellsAndAcceptReadsDegrees)
{
    LatticeElement& bend = appendElement(state, "B1", code::kWedgeBend, 1.0);
    bend.curvature = 0.1;
    bend.ain = 0.05;
    bend.aout = 0.02;
    panel->showParameter(1);
    typeIntoCell(grid(), 1, 6, "0.3"); // typed but not accepted: the unit change replaces it

    auto* units = child<QComboBox>(*panel, "cbUnits");
    units->setCurrentIndex(units->findText("degrees"));

    EXPECT_EQ(cell(0, 6), " Pole Face Angles: Ain/Aout(deg)");
    EXPECT_EQ(cell(1, 6), "   2.86479");
    EXPECT_EQ(cell(2, 6), "   1.14592");
    EXPECT_FALSE(panel->settings().anglesInRadians);

    QTest::mouseClick(child<QPushButton>(*panel, "bbAccept"), Qt::LeftButton);
    EXPECT_NEAR(bend.ain, 0.05, 1e-6); // 2.86479 deg printed with 5 decimals
    EXPECT_NEAR(bend.aout, 0.02, 1e-6);

    units->setCurrentIndex(units->findText("radian"));
    EXPECT_EQ(cell(0, 6), " pole face angles: Ain/Aout(rad)");
    EXPECT_TRUE(panel->settings().anglesInRadians);

    panel->resetAngleUnit();
    EXPECT_TRUE(panel->settings().anglesInRadians);
    EXPECT_EQ(panel->settings().angleFactor, 1.0);
}

TEST_F(ElementPanelTest, TypedValuesAreStoredOnAccept)
{
    LatticeElement& quad = appendElement(state, "Q", code::kQuadrupole, 0.2);
    appendElement(state, "D", code::kDrift, 1.0);
    quad.k = 1.0;
    panel->showParameter(1);
    QSignalSpy accepted(panel, &ElementPanel::accepted);

    typeIntoCell(grid(), 1, 1, "QFOCUS");
    typeIntoCell(grid(), 1, 3, "0.5");
    typeIntoCell(grid(), 1, 4, "-2.5");
    QTest::mouseClick(child<QPushButton>(*panel, "bbAccept"), Qt::LeftButton);

    EXPECT_EQ(quad.name, "QFOCUS");
    EXPECT_NEAR(quad.length, 0.5, 1e-12);
    EXPECT_NEAR(state.line.at(2).s, 0.5, 1e-12) << "the element behind moves";
    EXPECT_NEAR(state.line.length, 1.5, 1e-12);
    EXPECT_NEAR(quad.k, 2.5, 1e-12) << "foc. quadrupole stores |k|";
    EXPECT_EQ(state.line.shape(1).colour, colour::kRed);
    EXPECT_GT(state.line.shape(1).y1, state.line.shape(1).y0);
    EXPECT_EQ(accepted.count(), 1);
}

TEST_F(ElementPanelTest, GetDataStoresWithoutAcceptSignal)
{
    LatticeElement& pump = appendElement(state, "P", code::kPump, 0.0);
    pump.pumpSpeed = 10;
    panel->showParameter(1);
    QSignalSpy accepted(panel, &ElementPanel::accepted);
    typeIntoCell(grid(), 1, 4, "250");
    panel->getData();
    EXPECT_NEAR(pump.pumpSpeed, 250.0, 1e-12);
    EXPECT_EQ(accepted.count(), 0);
}

TEST_F(ElementPanelTest, ANonNumberStopsAtItsCellAndKeepsWhatWasStoredBefore)
{
    LatticeElement& bend = appendElement(state, "B1", code::kSectorBend, 1.0);
    bend.curvature = 0.1;
    panel->showParameter(1);
    QSignalSpy accepted(panel, &ElementPanel::accepted);

    typeIntoCell(grid(), 1, 1, "B2");
    typeIntoCell(grid(), 1, 3, "2.0");
    typeIntoCell(grid(), 1, 4, "x1");
    typeIntoCell(grid(), 1, 7, "5");
    try {
        child<QPushButton>(*panel, "bbAccept")->click();
        ADD_FAILURE() << "no ConversionError";
    } catch (const ConversionError& error) {
        EXPECT_STREQ(error.what(), "'x1' is not a valid floating point value");
    }
    EXPECT_EQ(bend.name, "B2");
    EXPECT_NEAR(bend.length, 2.0, 1e-12);
    EXPECT_NEAR(bend.curvature, 0.1, 1e-12);
    EXPECT_NEAR(bend.gap, 0.0, 1e-12) << "the gap comes after the failing cell";
    EXPECT_EQ(accepted.count(), 0);
    EXPECT_TRUE(panel->isVisible()) << "the panel stays open so the entry can be corrected";
}

TEST_F(ElementPanelTest, CancelDropsTheTypedEntries)
{
    LatticeElement& quad = appendElement(state, "Q", code::kQuadrupole, 0.2);
    quad.k = 1.0;
    panel->showParameter(1);
    QSignalSpy cancelled(panel, &ElementPanel::cancelled);
    typeIntoCell(grid(), 1, 4, "7");
    click("btCancelEdit");
    EXPECT_FALSE(panel->isVisible());
    EXPECT_NEAR(quad.k, 1.0, 1e-12);
    EXPECT_EQ(cancelled.count(), 1);
}

TEST_F(ElementPanelTest, NavigationButtonsAskTheWindow)
{
    appendElement(state, "Q", code::kQuadrupole, 0.2).k = 1.0;
    panel->showParameter(1);
    QSignalSpy next(panel, &ElementPanel::nextRequested);
    QSignalSpy previous(panel, &ElementPanel::previousRequested);
    QSignalSpy remove(panel, &ElementPanel::deleteRequested);
    QSignalSpy insert(panel, &ElementPanel::insertRequested);
    QSignalSpy tune(panel, &ElementPanel::tuneRequested);
    click("btNext");
    click("btPrev");
    click("btDelete");
    click("btInsertElement");
    click("btScroll");
    EXPECT_EQ(next.count(), 1);
    EXPECT_EQ(previous.count(), 1);
    EXPECT_EQ(remove.count(), 1);
    EXPECT_EQ(insert.count(), 1);
    EXPECT_EQ(tune.count(), 1);
}

TEST_F(ElementPanelTest, AlphaMagnetShowsItsRowsAndTypes)
{
    updateKinematics(state.beam, EnergyKind::Momentum, 2.5e6);
    state.beam.referenceMomentum = 2.5e6;
    LatticeElement& alpha = appendElement(state, "A", code::kAlphaFull, 0.0);
    alpha.k = 300;
    panel->showParameter(1);
    EXPECT_EQ(cell(0, 1), " full alpha magnet ");
    EXPECT_EQ(cell(1, 4), " 250.000");
    EXPECT_EQ(typeButton(1)->text(), "1st half alpha-Magnet");
    EXPECT_TRUE(typeButton(3)->isChecked());
    QTest::mouseClick(typeButton(1), Qt::LeftButton);
    EXPECT_EQ(alpha.code, code::kAlphaFirstHalf);
    EXPECT_EQ(cell(0, 1), " 1st half of alpha magnet ");
}

TEST_F(ElementPanelTest, DraggingTheBackgroundMovesThePanelWithinItsParent)
{
    appendElement(state, "D", code::kDrift, 1.0);
    panel->showParameter(1);
    panel->move(100, 100);
    const QPoint grip(3, 3); // the frame's margin, outside every control
    QTest::mousePress(panel, Qt::LeftButton, Qt::NoModifier, grip);
    QMouseEvent move(QEvent::MouseMove, QPointF(grip + QPoint(50, 30)),
                     panel->mapToGlobal(QPointF(grip + QPoint(50, 30))), Qt::NoButton, Qt::LeftButton,
                     Qt::NoModifier);
    QCoreApplication::sendEvent(panel, &move);
    EXPECT_EQ(panel->pos(), QPoint(150, 130));

    QMouseEvent far(QEvent::MouseMove, QPointF(5000, 5000), panel->mapToGlobal(QPointF(5000, 5000)),
                    Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(panel, &far);
    EXPECT_EQ(panel->geometry().right(), host->width() - 1);
    EXPECT_EQ(panel->geometry().bottom(), host->height() - 1);
    QTest::mouseRelease(panel, Qt::LeftButton, Qt::NoModifier, grip);
}

} // namespace
} // namespace kestrune
