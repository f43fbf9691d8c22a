// The sextupole-knob window: a drag of a knob is one undoable change of its family's strength in the
// cell and the full ring, the chromaticity it shows agrees with the tracked tunes' slope, families are
// made by pattern and by names, and bad input is refused with the box named.
#include "gui/nonlinear/SextupoleKnobWindow.h"

#include "core/Kinematics.h"
#include "core/chromaticity/Chromaticity.h"
#include "core/io/LatticeFile.h"
#include "core/optics/BetaFunctions.h"
#include "core/ring/RingGeometry.h"
#include "gui/QtMessages.h"
#include "gui/nonlinear/SextupoleKnobCharts.h"
#include "support/FakeMessages.h"

#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QTest>
#include <gtest/gtest.h>

namespace kestrune {
namespace {

class SextupoleKnobWindowTest : public ::testing::Test
{
protected:
    SextupoleKnobWindowTest() : messages(windows)
    {
        messages.redirectTo(&fake);
        windows.messages = &messages;
        startParticle(state);
        test::FakeMessages setup;
        EXPECT_TRUE(readLatticeFile(state, setup, std::string(KESTRUNE_EXAMPLES) + "/dba-cell.lat"));
        EXPECT_TRUE(ringGeometry(state, setup, {"12", "499.654"}));
        EXPECT_TRUE(betaFunctions(state, setup, nullptr));
        state.history.reset(state);
        window = std::make_unique<SextupoleKnobWindow>(state, windows);
        window->show();
        waitForTunes();
    }

    template <class T> T* in(const QString& name) { return window->findChild<T*>(name); }
    void waitForTunes()
    {
        QSignalSpy shown(window.get(), &SextupoleKnobWindow::tunesShown);
        ASSERT_TRUE(!window->scanning() || shown.wait(60000));
    }
    /// k2 of every SF of the cell and the ring's copies, when they all agree; NaN otherwise.
    double sfStrength() const
    {
        double m = std::nan("");
        for (int i = 1; i <= lastRingRecord(state); ++i) {
            const LatticeElement& e = state.line.at(i);
            if (e.name != "SF")
                continue;
            if (std::isnan(m))
                m = e.m;
            else if (e.m != m)
                return std::nan("");
        }
        return m;
    }

    State state;
    Windows windows;
    test::FakeMessages fake;
    QtMessages messages;
    std::unique_ptr<SextupoleKnobWindow> window;
};

// A drag over two positions sets SF everywhere, is one step, and its undo gives the design back; the
// chromaticity shown moves with it as the slope of the tracked tunes does.
TEST_F(SextupoleKnobWindowTest, ADragIsOneStepThatUndoTakesBack)
{
    ASSERT_EQ(window->families().size(), 2u);
    EXPECT_EQ(window->families()[1].name, "SF");
    EXPECT_EQ(window->families()[1].members.size(), 1u);
    ASSERT_EQ(sfStrength(), 25);
    ASSERT_TRUE(window->optics().chromaticityKnown && window->tunes());
    const double xi0 = window->optics().chromaticityX, slope0 = window->tunes()->qx[1];
    const double h0 = window->charts()->barValue(0);

    QSlider* slider = in<QSlider>("sbKnob1");
    const std::size_t steps = state.history.undoCount();
    slider->setSliderDown(true);
    slider->setValue(10);
    slider->setValue(20);
    slider->setSliderDown(false);
    EXPECT_DOUBLE_EQ(sfStrength(), 25 + 12.5 * 20 / 50);
    EXPECT_EQ(state.history.undoCount(), steps + 1);
    EXPECT_EQ(slider->value(), 0); // the centre follows the strength reached
    EXPECT_EQ(in<QLineEdit>("edKnob1")->text(), "30");
    waitForTunes();
    ASSERT_TRUE(window->optics().chromaticityKnown && window->tunes());
    const double dxi = window->optics().chromaticityX - xi0, dslope = window->tunes()->qx[1] - slope0;
    EXPECT_GT(dxi, 0.5); // a stronger SF where eta betaX is large raises xi_x
    // the sextupole sums against the tracked tunes: the change agrees to the cubic fit's accuracy
    EXPECT_NEAR(dxi, dslope, 0.02 * std::fabs(dxi));
    EXPECT_NE(window->charts()->barValue(0), h0);
    EXPECT_TRUE(fake.errors.empty());

    ASSERT_TRUE(state.history.undo(state));
    window->designChanged();
    EXPECT_EQ(sfStrength(), 25);
    EXPECT_EQ(in<QLineEdit>("edKnob1")->text(), "25");
    EXPECT_NEAR(window->optics().chromaticityX, xi0, 1e-9);
}

// Families by pattern and by names take exactly their sextupoles; a typed strength is one step.
TEST_F(SextupoleKnobWindowTest, FamiliesByPatternAndByNamesTakeTheirSextupoles)
{
    const struct
    {
        const char* pattern;
        std::size_t members;
    } cases[] = {{"^S", 3}, {"f$", 1}, {"S[D]", 2}};
    for (const auto& c : cases) {
        in<QLineEdit>("edPattern")->setText(c.pattern);
        in<QPushButton>("bbAddPattern")->click();
        ASSERT_TRUE(fake.errors.empty()) << c.pattern << ": " << fake.errors[0];
        EXPECT_EQ(window->families().back().members.size(), c.members) << c.pattern;
        for (int i : window->families().back().members)
            EXPECT_EQ(familyOf(state.line.at(i).code), static_cast<int>(Family::Sextupole));
    }
    in<QListWidget>("lwNames")->item(1)->setSelected(true);
    in<QPushButton>("bbAddNames")->click();
    EXPECT_EQ(window->families().back().name, "SF");
    ASSERT_EQ(window->families().size(), 6u);

    const std::size_t steps = state.history.undoCount();
    QLineEdit* value = in<QLineEdit>("edKnob2"); // "^S": every sextupole
    value->setText("12");
    QTest::keyClick(value, Qt::Key_Return);
    EXPECT_EQ(sfStrength(), 12);
    EXPECT_EQ(state.line.at(window->families()[0].members[0]).m, 12);
    EXPECT_EQ(state.history.undoCount(), steps + 1);

    in<QPushButton>("bbRemove5")->click();
    QApplication::processEvents();
    EXPECT_EQ(window->families().size(), 5u);
}

// Every refusal names its box and changes nothing.
TEST_F(SextupoleKnobWindowTest, BadInputIsRefusedWithItsBoxNamed)
{
    const auto refused = [&](const std::function<void()>& act, const std::string& words) {
        fake.errors.clear();
        act();
        ASSERT_EQ(fake.errors.size(), 1u) << words;
        EXPECT_NE(fake.errors[0].find(words), std::string::npos) << fake.errors[0];
    };
    const auto pattern = [&](const char* text) {
        return [&, text] {
            in<QLineEdit>("edPattern")->setText(text);
            in<QPushButton>("bbAddPattern")->click();
        };
    };
    const auto box = [&](const char* name, const char* text) {
        return [&, name, text] {
            in<QLineEdit>(name)->setText(text);
            QTest::keyClick(in<QLineEdit>(name), Qt::Key_Return);
        };
    };
    refused(pattern("[a"), "name pattern");
    refused(pattern("QF"), "matches no sextupole");
    refused(pattern(" "), "name pattern is empty");
    refused([&] { in<QPushButton>("bbAddNames")->click(); }, "choose the sextupole names");
    refused(box("edKnob1", "x"), "k2 of SF");
    refused(box("edKnob1", "1e13"), "sextupole strength");
    refused(box("edDeltaRange", "0"), "momentum range");
    in<QLineEdit>("edSpan1")->setText("-1");
    refused([&] { in<QSlider>("sbKnob1")->setValue(5); }, "the span of SF");
    EXPECT_EQ(in<QSlider>("sbKnob1")->value(), 0);
    EXPECT_EQ(sfStrength(), 25);
    EXPECT_EQ(window->families().size(), 2u);
    EXPECT_FALSE(state.history.canUndo());
}

} // namespace
} // namespace kestrune
