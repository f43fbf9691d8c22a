// The frequency map window: a map on the worker thread drawn and handed to the resonance diagram,
// saved as CSV, cancelled, refused, and dropped when the design changes.
#include "gui/nonlinear/FrequencyMapWindow.h"

#include "core/Kinematics.h"
#include "core/io/LatticeFile.h"
#include "core/optics/BetaFunctions.h"
#include "core/ring/RingGeometry.h"
#include "gui/QtMessages.h"
#include "gui/nonlinear/FrequencyMapChart.h"
#include "gui/resonance/ResonanceWindow.h"
#include "support/FakeMessages.h"

#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <cmath>
#include <gtest/gtest.h>
#include <qcustomplot.h>

namespace kestrune {
namespace {

class FrequencyMapWindowTest : public ::testing::Test
{
protected:
    FrequencyMapWindowTest() : messages(windows)
    {
        messages.redirectTo(&fake);
        windows.messages = &messages;
        startParticle(state);
        test::FakeMessages setup;
        EXPECT_TRUE(readLatticeFile(state, setup, std::string(KESTRUNE_EXAMPLES) + "/dba-cell.lat"));
        EXPECT_TRUE(ringGeometry(state, setup, {"12", "499.654"}));
        EXPECT_TRUE(betaFunctions(state, setup, nullptr));
        window = std::make_unique<FrequencyMapWindow>(state, windows);
        resonance = std::make_unique<ResonanceWindow>(state, windows);
        QObject::connect(window.get(), &FrequencyMapWindow::footprintChanged, resonance.get(),
                         &ResonanceWindow::showFootprint);
        window->show();
    }

    void type(const char* name, const QString& text) { window->findChild<QLineEdit*>(name)->setText(text); }
    void run()
    {
        QSignalSpy spy(window.get(), &FrequencyMapWindow::scanFinished);
        QTest::mouseClick(window->findChild<QPushButton*>("bbFrequencyMap"), Qt::LeftButton);
        ASSERT_TRUE(!window->running() || spy.wait(60000));
    }

    State state;
    Windows windows;
    test::FakeMessages fake;
    QtMessages messages;
    std::unique_ptr<FrequencyMapWindow> window;
    std::unique_ptr<ResonanceWindow> resonance;
};

// Out to the physical aperture in x: the outer points are lost, the inner ones drawn twice (map and
// footprint), their tunes on the resonance diagram beside the working point, the points in the CSV; a change
// of the design takes them off everywhere.
TEST_F(FrequencyMapWindowTest, AMapIsDrawnHandedToTheDiagramSavedAndDroppedWithTheDesign)
{
    type("edNx", "6");
    type("edNy", "2");
    type("edXMax", "30");
    type("edYMax", "2");
    type("edTurns", "64");
    resonance->show();
    run();
    ASSERT_TRUE(window->result());
    EXPECT_TRUE(fake.errors.empty());
    const FrequencyMap& map = *window->result();
    int tunes = 0, lost = 0;
    for (const FrequencyMapPoint& p : map.points) {
        ASSERT_TRUE(p.computed);
        tunes += !p.lost && p.tunesFound;
        lost += p.lost;
    }
    EXPECT_GT(lost, 0);
    EXPECT_GT(tunes, 0);
    FrequencyMapChart* chart = window->chart();
    EXPECT_EQ(chart->mapPoints(), tunes);
    EXPECT_EQ(chart->footprintPoints(), tunes);
    EXPECT_EQ(chart->lostPoints(), lost);
    ASSERT_EQ(resonance->footprintPoints(), tunes);
    const QCPRange qx = resonance->chart()->xAxis->range();
    EXPECT_LT(qx.lower, state.lf.tuneX);
    EXPECT_GT(qx.upper, state.lf.tuneX);

    QTemporaryDir dir;
    const QString file = dir.filePath("map.csv");
    window->chooseCsvFile = [&] { return file; };
    window->saveCsvClick();
    QFile csv(file);
    ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
    EXPECT_EQ(csv.readAll().count('\n'), 6 * 2 + 1);

    state.line.at(3).k *= 1.01; // a quadrupole changed: the map is of another design
    window->designChanged();
    resonance->designChanged();
    EXPECT_FALSE(window->result());
    EXPECT_EQ(chart->mapPoints(), 0);
    EXPECT_EQ(resonance->footprintPoints(), 0);
    fake.errors.clear();
    window->saveCsvClick();
    EXPECT_EQ(fake.errors.size(), 1u);
}

TEST_F(FrequencyMapWindowTest, CancelStopsALongMapAndShowsItsPoints)
{
    type("edNx", "40");
    type("edNy", "40");
    type("edTurns", "100000");
    QSignalSpy spy(window.get(), &FrequencyMapWindow::scanFinished);
    window->bbRunClick();
    ASSERT_TRUE(window->running());
    window->bbCancelClick();
    ASSERT_TRUE(spy.wait(60000));
    ASSERT_TRUE(window->result());
    EXPECT_TRUE(window->result()->cancelled);
    EXPECT_TRUE(window->findChild<QPushButton*>("bbFrequencyMap")->isEnabled());
}

TEST_F(FrequencyMapWindowTest, BadBoxesAreRefusedNamingThemAndNothingRuns)
{
    struct Case
    {
        const char* plane;
        const char* box;
        const char* text;
        std::string message;
    };
    const Case cases[] = {
        {"rbXY", "edNx", "0", "'grid points in x' must be a whole number between 1 and 1000"},
        {"rbXY", "edYMax", "y", "largest y, mm: 'y' is not a valid floating point value"},
        {"rbXY", "edTurns", "8", "'turns of each half' must be a whole number between 16 and 100000"},
        {"rbXDelta", "edDeltaMax", "30", "'largest |delta|, %' must be between 0.0001 and 20"},
        {"rbXDelta", "edYMax", "y", ""}, // the x-y plane's box is not read for x-delta
    };
    for (const Case& c : cases) {
        window->findChild<QRadioButton*>(c.plane)->setChecked(true);
        const QString before = window->findChild<QLineEdit*>(c.box)->text();
        type(c.box, c.text);
        type("edTurns", c.box == std::string("edTurns") ? c.text : "16");
        type("edNx", c.box == std::string("edNx") ? c.text : "1");
        type("edNy", "1");
        fake.errors.clear();
        run();
        if (c.message.empty())
            EXPECT_TRUE(fake.errors.empty() && window->result()) << c.box;
        else {
            EXPECT_EQ(fake.errors, std::vector<std::string>{c.message});
            EXPECT_FALSE(window->result());
        }
        type(c.box, before);
    }
    state.ringClosed = false;
    fake.errors.clear();
    window->bbRunClick();
    EXPECT_FALSE(window->running());
    EXPECT_EQ(fake.errors, std::vector<std::string>{kApertureNeedsRing});
}

} // namespace
} // namespace kestrune
