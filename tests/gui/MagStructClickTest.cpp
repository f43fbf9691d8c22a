#include "MagStructFixture.h"
#include "core/Drawing.h"
#include "gui/editor/ElementPanel.h"
#include "gui/editor/LatticeChart.h"
#include "gui/editor/MagShapePlottable.h"

#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <qcustomplot.h>

namespace kestrune::test {
namespace {

class MagStructClick : public MagStructFixture
{
protected:
    void click(QPoint pixel) { QTest::mouseClick(window->chart()->plot(), Qt::LeftButton, {}, pixel); }
    QPushButton* button(const char* name) { return window->findChild<QPushButton*>(name); }
};

TEST_F(MagStructClick, ClickOnShapeSelectsThatElementAndOpensItsPanel)
{
    appendKinds({0, 2, 0, 1, 0, 3, 0});
    state.run.showBetaFunctions = true;
    window->beamDynamics();
    showWindow();

    for (int e : {2, 4, 6}) {
        const QPoint centre = window->chart()->shapeCentre(e);
        ASSERT_TRUE(window->chart()->plot()->axisRect()->rect().contains(centre));
        click(centre);
        EXPECT_EQ(window->editor().selectedElement, e);
        EXPECT_TRUE(window->elementPanel()->isVisible());
        EXPECT_EQ(window->elementPanel()->element(), e);
    }
}

TEST_F(MagStructClick, NarrowPumpIsClickableOverMinimumWidthOnly)
{
    for (int i = 0; i < 80; ++i)
        ASSERT_TRUE(addElement(state, 0, fake));
    ASSERT_TRUE(addElement(state, 4, fake)); // a 5 cm pump on a 20 m line: under 3 px wide
    window->chart()->setBottomMax(bottomAxisMaximum(state.line));
    showWindow();
    QCPAxis* x = window->chart()->plot()->xAxis;
    const ElementShape& pump = state.line.shape(81);
    ASSERT_LT(x->coordToPixel(pump.x1) - x->coordToPixel(pump.x0), MagShapePlottable::kMinClickWidth);

    const QPoint centre = window->chart()->shapeCentre(81);
    click(centre + QPoint(1, 0));
    EXPECT_EQ(window->editor().selectedElement, 81);

    window->elementPanel()->hide();
    click(centre + QPoint(6, 0)); // beside the pump, below the drifts: nothing there
    EXPECT_EQ(window->editor().selectedElement, 81);
    EXPECT_FALSE(window->elementPanel()->isVisible());
}

TEST_F(MagStructClick, ShapeOutlineDecidesTheHitOfWideShapes)
{
    appendKinds({3}); // a diamond: its bounding-box corners are outside the outline
    state.line.at(1).length = 10;
    placeShape(state.line, 1);
    state.line.length = 10;
    showWindow();
    window->chart()->setBottomMax(10.75);
    window->chart()->refresh();
    const MagShapePlottable* shapes = window->chart()->shapes();
    QCPAxis* x = window->chart()->plot()->xAxis;
    QCPAxis* y = window->chart()->plot()->yAxis;
    const ElementShape& s = state.line.shape(1);
    const QPointF corner(x->coordToPixel(s.x0) + 3, y->coordToPixel(std::max(s.y0, s.y1)) + 1);
    EXPECT_EQ(shapes->elementAt(corner), 0);
    EXPECT_EQ(shapes->elementAt(shapes->shapeCentre(1)), 1);
}

// A line of 6000 drifts, quadrupoles and bends, a few elements to a pixel when shown whole: wherever the
// drawing shows a shape's colour, a click there picks an element of that colour within the least
// clickable width of the pixel; zoomed in, every shape's centre picks its own element.
TEST_F(MagStructClick, ClicksPickWhatIsPaintedAtEveryZoom)
{
    const int kinds[] = {0, 2, 0, 1};
    const double lengths[] = {0.5, 0.3, 0.5, 1.0};
    for (int i = 0; i < 6000; ++i)
        ASSERT_TRUE(addElement(state, kinds[i % 4], fake));
    for (int i = 1; i <= state.line.count; ++i)
        state.line.at(i).length = lengths[(i - 1) % 4];
    state.line.chainPositions();
    for (int i = 1; i <= state.line.count; ++i)
        placeShape(state.line, i);
    showWindow();
    LatticeChart& chart = *window->chart();
    chart.setBottomMax(bottomAxisMaximum(state.line));
    const MagShapePlottable& shapes = *chart.shapes();
    QCPAxis* x = chart.plot()->xAxis;
    for (double zoom : {1.0, 0.1, 0.01}) {
        SCOPED_TRACE(zoom);
        chart.showFullLine();
        chart.zoomAt(chart.fullRange().upper * 0.37, zoom);
        const QImage picture = chart.plot()->grab().toImage();
        const QRect area = chart.plotArea().adjusted(8, 8, -8, -8); // the ticks point into the plot
        int checked = 0;
        for (int px = area.left() + 1; px < area.right(); px += 3)
            for (int py = area.top(); py < area.bottom(); ++py) {
                const QColor painted = picture.pixelColor(px, py);
                if (painted != QColor(255, 0, 0) && painted != QColor(0, 0, 255) &&
                    painted != QColor(0, 0, 0))
                    continue;
                // an outline reaches a pixel beyond its shape's box: zoomed in, inner pixels only
                const bool inner =
                    picture.pixelColor(px - 1, py) == painted && picture.pixelColor(px + 1, py) == painted &&
                    picture.pixelColor(px, py - 1) == painted && picture.pixelColor(px, py + 1) == painted;
                if (zoom < 0.05 && !inner)
                    continue;
                const int e = shapes.elementAt(QPointF(px + 0.5, py + 0.5));
                ASSERT_GT(e, 0) << px << ", " << py;
                const ElementShape& shape = state.line.shape(e);
                EXPECT_EQ(QColor(shape.colour.r, shape.colour.g, shape.colour.b), painted)
                    << px << ", " << py;
                EXPECT_LE(x->coordToPixel(shape.x0), px + 1 + MagShapePlottable::kMinClickWidth);
                EXPECT_GE(x->coordToPixel(shape.x1), px - MagShapePlottable::kMinClickWidth);
                ++checked;
            }
        EXPECT_GT(checked, 300);
        if (zoom < 0.05) {
            const KeyRange shown = chart.shownRange();
            for (int e = 1; e <= state.line.count; ++e) {
                const ElementShape& shape = state.line.shape(e);
                if (shape.x0 > shown.lower && shape.x1 < shown.upper) {
                    EXPECT_EQ(shapes.elementAt(shapes.shapeCentre(e)), e);
                }
            }
        }
    }
}

TEST_F(MagStructClick, CurveClicksAreIgnored)
{
    appendKinds({0, 2});
    for (const char* title : {"beta", "beam", "traj", "path"})
        window->chLatticeClickSeries(title);
    EXPECT_EQ(window->editor().selectedElement, 0);
    EXPECT_FALSE(window->elementPanel()->isVisible());
    window->chLatticeClickSeries("2");
    EXPECT_EQ(window->editor().selectedElement, 2);
}

TEST_F(MagStructClick, CopyByClicksFollowsTheButtonSets)
{
    appendKinds({0, 2, 1});
    state.line.at(2).length = 0.5;
    state.line.chainPositions();
    showWindow();
    EXPECT_TRUE(button("bbCopy")->isVisible());
    EXPECT_FALSE(button("bbInsert")->isVisible());

    QTest::mouseClick(button("bbCopy"), Qt::LeftButton);
    ASSERT_FALSE(fake.errors.empty());
    EXPECT_EQ(fake.errors.back(), "select element to be copied");
    EXPECT_FALSE(button("bbCutPaste")->isVisible());
    EXPECT_FALSE(button("bbDelEl")->isVisible());

    click(window->chart()->shapeCentre(2));
    EXPECT_EQ(fake.errors.back(), "select element after insertion point and click \"insert\" ");
    EXPECT_EQ(state.line.shape(2).colour, colour::kGrey);
    EXPECT_TRUE(button("bbInsert")->isVisible());
    EXPECT_FALSE(window->elementPanel()->isVisible());

    click(window->chart()->shapeCentre(1));
    QTest::mouseClick(button("bbInsert"), Qt::LeftButton);
    ASSERT_EQ(state.line.count, 4);
    EXPECT_EQ(state.line.at(1).code, 20);
    EXPECT_NEAR(state.line.at(2).s, 0.5, 1e-12);         // the drift moved down by the copy's length
    EXPECT_EQ(state.line.shape(3).colour, colour::kRed); // the source has its colour back
    EXPECT_TRUE(button("bbCopy")->isVisible());
    EXPECT_FALSE(button("bbInsert")->isVisible());
    EXPECT_NEAR(window->chart()->bottomUpper(), state.line.length + 0.75, 1e-12);
}

TEST_F(MagStructClick, ElementListAppendsAndClosesOnDoubleClick)
{
    showWindow();
    window->addMagnetClick();
    auto* list = window->findChild<QListWidget*>("MagList");
    ASSERT_NE(list, nullptr);
    ASSERT_TRUE(list->isVisible());
    ASSERT_EQ(list->count(), kKindCount);
    EXPECT_EQ(list->item(8)->text(), "el.stat Accelerator");
    EXPECT_EQ(list->item(15)->text(), "rf cavity");
    EXPECT_EQ(list->toolTip(), "double click to close");

    for (int row : {2, 0}) {
        const QPoint p = list->visualItemRect(list->item(row)).center();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, p);
    }
    ASSERT_EQ(state.line.count, 2);
    EXPECT_EQ(state.line.at(1).code, 20);
    EXPECT_EQ(state.line.at(2).code, 1);
    EXPECT_NEAR(state.line.length, 0.5, 1e-12);
    EXPECT_TRUE(list->isVisible()); // stays open for the next pick

    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, QPoint(5, list->viewport()->height() - 2));
    EXPECT_FALSE(list->isVisible());
}

TEST_F(MagStructClick, ActivationHidesTheListAndShowsIdleButtons)
{
    appendKinds({0, 2});
    showWindow();
    window->addMagnetClick();
    QTest::mouseClick(button("bbDelEl"), Qt::LeftButton);
    EXPECT_FALSE(button("bbCopy")->isVisible());
    window->formActivate();
    EXPECT_FALSE(window->findChild<QWidget*>("pnMagList")->isVisible());
    EXPECT_TRUE(button("bbCopy")->isVisible());
    EXPECT_TRUE(button("bbDelEl")->isVisible());
    EXPECT_EQ(window->editor().editOperation, EditOperation::Delete); // picks its first limit again
    EXPECT_FALSE(window->editor().firstLimitSet);
}

TEST_F(MagStructClick, ElementListStaysAfterTheParticleWindowAskedForAMomentum)
{
    showWindow();
    state.beam.momentum = 0;
    fake.onAskParticle = [this] { updateKinematics(state.beam, EnergyKind::Momentum, 5e8); };
    window->addMagnetClick();
    EXPECT_EQ(fake.particleRequests, 1);
    // the modal particle window hands the activation back when it closes
    QEvent activation(QEvent::WindowActivate);
    QApplication::sendEvent(window.get(), &activation);
    EXPECT_TRUE(window->findChild<QWidget*>("pnMagList")->isVisible());
}

} // namespace
} // namespace kestrune::test
