#include "gui/editor/InitialConditionsPanel.h"

#include "core/Format.h"
#include "core/NumberInput.h"
#include "core/coupling/CoupledStart.h"
#include "gui/PanelTestSupport.h"
#include "support/FakeMessages.h"
#include "support/PassRecorder.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <cstdlib>
#include <memory>
#include <vector>

namespace kestrune {
namespace {

using test::appendElement;
using test::child;
using test::typeInto;

using RowCollector = test::RecordingList;

class InitialConditionsPanelTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        startParticle(state);
        host = std::make_unique<QWidget>();
        host->resize(900, 700);
        panel = new InitialConditionsPanel(state, messages, host.get());
        host->show();
    }

    QLineEdit* box(const char* name) { return child<QLineEdit>(*host, name); }
    QFrame* frame(const char* name) { return child<QFrame>(*host, name); }
    QGroupBox* group(const char* name) { return child<QGroupBox>(*host, name); }
    void click(const char* name) { QTest::mouseClick(child<QPushButton>(*host, name), Qt::LeftButton); }
    void fodo(double kF, double kD)
    {
        appendElement(state, "QF", code::kQuadrupole, 0.2).k = kF;
        appendElement(state, "D", code::kDrift, 1.0);
        appendElement(state, "QD", code::kQuadrupole, 0.2).k = kD;
        appendElement(state, "D", code::kDrift, 1.0);
    }

    State state;
    test::FakeMessages messages;
    std::unique_ptr<QWidget> host;
    InitialConditionsPanel* panel = nullptr;
};

TEST_F(InitialConditionsPanelTest, BoxesStartWithTheirTextsAndThePanelsHidden)
{
    EXPECT_FALSE(frame("pnSinPart")->isVisible());
    EXPECT_FALSE(frame("pnInitLatFun")->isVisible());
    EXPECT_EQ(box("edXo")->text(), "1.0");
    EXPECT_EQ(box("edYo")->text(), "1.0");
    EXPECT_EQ(box("edDpp")->text(), "0.0");
    EXPECT_EQ(box("edBetax0")->text(), "10.0");
    EXPECT_EQ(box("edAlphay0")->text(), "0.0");
    EXPECT_EQ(box("edDelta")->text(), "0.0");
    EXPECT_EQ(box("edEpsx")->text(), "1");
    EXPECT_EQ(box("edSigy0")->text(), "1");
}

TEST_F(InitialConditionsPanelTest, LabelsShowTheGreekSymbolsAndUnits)
{
    QStringList texts;
    for (QLabel* l : frame("pnInitLatFun")->findChildren<QLabel*>())
        texts << l->text();
    for (const char* symbol :
         {" β₀:", " α₀:", " η₀:", " η′₀:", " δ:", " ε", " σ₀", "mm mr", "  x-plane        y-plane"})
        EXPECT_TRUE(texts.contains(QString::fromUtf8(symbol))) << symbol;
    QStringList particle;
    for (QLabel* l : frame("pnSinPart")->findChildren<QLabel*>())
        particle << l->text();
    for (const char* caption : {"initial particle coordinates:", "x_o   = ", "x'_o = ", " y_o   = ",
                                " y'_o = ", "D_o  = ", "D'_o =", " dpp = "})
        EXPECT_TRUE(particle.contains(caption)) << caption;
}

TEST_F(InitialConditionsPanelTest, ResetRewritesTheStartBoxesOnly)
{
    typeInto(box("edXo"), "3");
    typeInto(box("edBetay0"), "4");
    typeInto(box("edEpsx"), "7");
    typeInto(box("edDelta"), "0.5");
    panel->resetBoxes();
    EXPECT_EQ(box("edXo")->text(), "1.0");
    EXPECT_EQ(box("edBetay0")->text(), "10.0");
    EXPECT_EQ(box("edEpsx")->text(), "7");
    EXPECT_EQ(box("edDelta")->text(), "0.5");
}

TEST_F(InitialConditionsPanelTest, SingleParticleUseStoresTheStartAndAsksForAnUpdate)
{
    appendElement(state, "D", code::kDrift, 2.0);
    QSignalSpy retitle(panel, &InitialConditionsPanel::seriesRetitleRequested);
    panel->showSingleParticle();
    EXPECT_TRUE(frame("pnSinPart")->isVisible());
    EXPECT_FALSE(frame("pnInitLatFun")->isVisible());
    EXPECT_TRUE(state.run.showTrajectory);
    ASSERT_EQ(retitle.count(), 1);
    EXPECT_EQ(retitle.at(0).at(0).toString(), "path");

    typeInto(box("edXo"), "2.5");
    typeInto(box("edXpo"), "-1");
    typeInto(box("edYo"), "0.5");
    typeInto(box("edYpo"), "0.25");
    typeInto(box("edD0"), "0.1");
    typeInto(box("edDp0"), "0.01");
    typeInto(box("edDpp"), "0.1");
    QSignalSpy update(panel, &InitialConditionsPanel::updateRequested);
    click("bbUseSngl");

    EXPECT_NEAR(state.run.x0, 2.5, 1e-12);
    EXPECT_NEAR(state.run.xp0, -1.0, 1e-12);
    EXPECT_NEAR(state.run.y0, 0.5, 1e-12);
    EXPECT_NEAR(state.run.yp0, 0.25, 1e-12);
    EXPECT_NEAR(state.run.d0, 0.1, 1e-12);
    EXPECT_NEAR(state.run.dp0, 0.01, 1e-12);
    EXPECT_NEAR(state.run.delta, 1.0, 1e-12) << "0.1 % as units of 1e-3";
    EXPECT_EQ(update.count(), 1);
    EXPECT_FALSE(frame("pnSinPart")->isVisible());
    EXPECT_TRUE(messages.errors.empty());
}

TEST_F(InitialConditionsPanelTest, SingleParticleWithoutALineSaysSoAndStoresAllTheSame)
{
    panel->showSingleParticle();
    typeInto(box("edXo"), "4");
    QSignalSpy update(panel, &InitialConditionsPanel::updateRequested);
    click("bbUseSngl");
    EXPECT_NEAR(state.run.x0, 4.0, 1e-12);
    ASSERT_EQ(messages.errors.size(), 1u);
    EXPECT_EQ(messages.errors[0], "define beam line first");
    EXPECT_EQ(update.count(), 0);
}

TEST_F(InitialConditionsPanelTest, SingleParticleHidesItsPanelBeforeTheMessage)
{
    // records whether the panel was still open when the message came
    class VisibilityAtMessage : public Messages
    {
    public:
        explicit VisibilityAtMessage(const QWidget*& watched) : m_watched(watched) {}
        void error(const std::string&) override { shownAtMessage.push_back(m_watched->isVisible()); }
        bool confirm(const std::string&, std::optional<ScreenPoint>) override { return true; }
        void askParticle() override {}
        std::vector<bool> shownAtMessage;

    private:
        const QWidget*& m_watched;
    };
    const QWidget* watched = nullptr;
    VisibilityAtMessage recorder(watched);
    auto* own = new InitialConditionsPanel(state, recorder, host.get());
    own->showSingleParticle();
    watched = own->singleParticleFrame();
    ASSERT_TRUE(watched->isVisible());
    QTest::mouseClick(own->singleParticleFrame()->findChild<QPushButton*>("bbUseSngl"), Qt::LeftButton);
    EXPECT_EQ(recorder.shownAtMessage, std::vector<bool>{false});
    delete own;
}

TEST_F(InitialConditionsPanelTest, LatticeFunctionUseStoresBetaAlphaAndEta)
{
    panel->showLatticeFunctions();
    EXPECT_TRUE(frame("pnInitLatFun")->isVisible());
    EXPECT_FALSE(group("gbBeam")->isVisible());
    EXPECT_EQ(group("gbBeta")->title(), "specify initial lattice functions");

    typeInto(box("edBetax0"), "5");
    typeInto(box("edAlphax0"), "-1");
    typeInto(box("edBetay0"), "2");
    typeInto(box("edAlphay0"), "0.5");
    typeInto(box("edEtax0"), "0.25");
    QSignalSpy update(panel, &InitialConditionsPanel::updateRequested);
    click("bbInitLatFun");

    EXPECT_NEAR(state.run.betaX0, 5.0, 1e-12);
    EXPECT_NEAR(state.run.alphaX0, -1.0, 1e-12);
    EXPECT_NEAR(state.run.gammaX0, 0.4, 1e-12);
    EXPECT_NEAR(state.run.gammaY0, 0.625, 1e-12);
    EXPECT_NEAR(state.run.etaX0, 0.25, 1e-12);
    EXPECT_EQ(box("edEtax0")->text(), " 0.25000");
    EXPECT_EQ(update.count(), 1);
    EXPECT_FALSE(frame("pnInitLatFun")->isVisible());
    EXPECT_TRUE(messages.errors.empty());
}

TEST_F(InitialConditionsPanelTest, EachStartFormComesUpFilledFromTheOther)
{
    // form, a box of it changed by adding to its value, whether the changed form is refused (one
    // Mais-Ripken phase changed belongs to no betas and alphas)
    const struct
    {
        int form;
        const char* box;
        double change;
        bool refused;
    } cases[] = {{1, "edS11", 5, false}, {2, "edNu1", 0.3, true}};
    const std::pair<const char*, const char*> typed[] = {
        {"edBetax0", "3"}, {"edAlphax0", "-0.5"}, {"edBetay0", "7"}, {"edAlphay0", "1.2"}, {"edR11", "0.2"},
        {"edR12", "-0.8"}, {"edR21", "0.1"},      {"edR22", "0.3"},  {"edEpsx", "2"},      {"edEpsy", "0.5"}};
    panel->showLatticeFunctions();
    auto* form = child<QComboBox>(*host, "cbStartForm");
    for (const auto& c : cases) {
        for (const auto& [name, value] : typed)
            box(name)->setText(value);
        // to the form and back unchanged: every box as typed
        form->setCurrentIndex(c.form);
        EXPECT_TRUE(box("edBetax0")->isReadOnly());
        form->setCurrentIndex(0);
        for (const auto& [name, value] : typed)
            EXPECT_EQ(box(name)->text().toStdString(), value) << c.box << " " << name;
        form->setCurrentIndex(c.form);
        QLineEdit* changed = box(c.box);
        changed->setText(QString::number(parseDouble(changed->text().toStdString()) + c.change));
        messages.errors.clear();
        form->setCurrentIndex(0);
        EXPECT_EQ(messages.errors.size(), c.refused ? 1u : 0u) << c.box;
        EXPECT_EQ(box("edBetax0")->text() == "3", c.refused) << c.box;
    }
}

TEST_F(InitialConditionsPanelTest, ABeamMatrixIsStoredAsTheEdwardsTengValuesOfItsModes)
{
    EdwardsTeng et;
    et.betaX = 3;
    et.alphaX = -0.5;
    et.betaY = 7;
    et.alphaY = 1.2;
    et.r11 = 0.2;
    et.r12 = -0.8;
    et.r21 = 0.1;
    et.r22 = 0.3;
    const BeamMatrix sigma = beamMatrix(et, 2e-6, 0.5e-6); // 2 and 0.5 mm mrad
    panel->showLatticeFunctions();
    box("edEpsy")->setText("0.5");
    child<QComboBox>(*host, "cbStartForm")->setCurrentIndex(1);
    EXPECT_TRUE(box("edBetax0")->isReadOnly());
    for (int r = 0; r < 4; ++r)
        for (int c = r; c < 4; ++c)
            typeInto(
                box(("edS" + std::to_string(r + 1) + std::to_string(c + 1)).c_str()),
                shortestFloat(sigma[static_cast<std::size_t>(r)][static_cast<std::size_t>(c)] * 1e6).c_str());
    typeInto(box("edS33"), "-1"); // not positive definite: refused, nothing stored
    click("bbInitLatFun");
    ASSERT_EQ(messages.errors.size(), 1u);
    EXPECT_EQ(messages.errors[0],
              "the beam matrix is not positive definite: its leading 3 x 3 part (up to box "
              "S33) has no positive determinant");
    EXPECT_EQ(state.run.betaX0, 10.0);
    typeInto(box("edS33"), shortestFloat(sigma[2][2] * 1e6).c_str());
    click("bbInitLatFun");
    EXPECT_EQ(messages.errors.size(), 1u);
    const double stored[] = {state.run.betaX0, state.run.alphaX0, state.run.betaY0, state.run.alphaY0,
                             state.run.r11,    state.run.r12,     state.run.r21,    state.run.r22};
    const double typed[] = {3, -0.5, 7, 1.2, 0.2, -0.8, 0.1, 0.3};
    for (int k = 0; k < 8; ++k)
        EXPECT_NEAR(stored[k], typed[k], 1e-9) << k;
    EXPECT_NEAR(parseDouble(box("edEpsy")->text().toStdString()), 0.5, 1e-9);
}

TEST_F(InitialConditionsPanelTest, ANegativeBetaIsReportedAndTheUpdateStillRuns)
{
    panel->showLatticeFunctions();
    typeInto(box("edBetax0"), "-3");
    QSignalSpy update(panel, &InitialConditionsPanel::updateRequested);
    click("bbInitLatFun");
    ASSERT_EQ(messages.errors.size(), 1u);
    EXPECT_EQ(messages.errors[0], "select valid betatron functions!");
    EXPECT_EQ(update.count(), 1);
}

TEST_F(InitialConditionsPanelTest, BeamSizeUseGivesBetaFromSizeAndEmittance)
{
    panel->showBeamSizes();
    EXPECT_TRUE(frame("pnInitLatFun")->isVisible());
    EXPECT_TRUE(group("gbBeam")->isVisible());
    EXPECT_EQ(group("gbBeta")->title(), "specify lattice functions");
    EXPECT_TRUE(state.run.showBeamSize);

    typeInto(box("edEpsx"), "10");
    typeInto(box("edSigx0"), "1");
    typeInto(box("edEpsy"), "1");
    typeInto(box("edSigy0"), "2");
    QSignalSpy update(panel, &InitialConditionsPanel::updateRequested);
    click("bbUseBeam");

    EXPECT_NEAR(state.run.betaX0, 0.1, 1e-12);
    EXPECT_NEAR(state.run.betaY0, 4.0, 1e-12);
    EXPECT_NEAR(state.run.epsXIn, 10e-6, 1e-18);
    EXPECT_EQ(box("edBetax0")->text(), " 0.10000");
    EXPECT_EQ(box("edBetay0")->text(), " 4.00000");
    EXPECT_EQ(update.count(), 1);
    EXPECT_FALSE(frame("pnInitLatFun")->isVisible());
}

TEST_F(InitialConditionsPanelTest, AZeroEmittanceIsRefusedByItsNameAndNothingIsStored)
{
    panel->showBeamSizes();
    const RunSettings before = state.run;
    typeInto(box("edEpsy"), "0");
    QSignalSpy update(panel, &InitialConditionsPanel::updateRequested);
    click("bbUseBeam");
    ASSERT_EQ(messages.errors.size(), 1u);
    EXPECT_EQ(messages.errors[0], "the vertical emittance must be above 0 mm mrad!");
    EXPECT_EQ(state.run.betaY0, before.betaY0);
    EXPECT_EQ(state.run.epsYIn, before.epsYIn);
    EXPECT_EQ(update.count(), 0);
    EXPECT_TRUE(frame("pnInitLatFun")->isVisible()); // open to correct the box
}

TEST_F(InitialConditionsPanelTest, ANonNumberStopsTheUseAndKeepsWhatWasRead)
{
    panel->showLatticeFunctions();
    typeInto(box("edAlphax0"), "0.75");
    typeInto(box("edBetax0"), "beta");
    typeInto(box("edEtax0"), "3");
    QSignalSpy update(panel, &InitialConditionsPanel::updateRequested);
    try {
        child<QPushButton>(*host, "bbInitLatFun")->click();
        ADD_FAILURE() << "no ConversionError";
    } catch (const ConversionError& error) {
        EXPECT_STREQ(error.what(), "'beta' is not a valid floating point value");
    }
    EXPECT_NEAR(state.run.alphaX0, 0.75, 1e-12) << "read before the failing box";
    EXPECT_NEAR(state.run.betaX0, 10.0, 1e-12);
    EXPECT_NEAR(state.run.etaX0, 0.0, 1e-12) << "read after it";
    EXPECT_EQ(update.count(), 0);
    EXPECT_TRUE(frame("pnInitLatFun")->isVisible());
}

TEST_F(InitialConditionsPanelTest, PeriodicSolutionFillsTheBoxesAndTheStartRow)
{
    fodo(1.2, -1.2); // thin-lens f = 4.2 m > half the 2.4 m cell: stable
    panel->showSingleParticle();
    RowCollector list;
    QSignalSpy update(panel, &InitialConditionsPanel::updateRequested);
    ASSERT_TRUE(panel->lookForPeriodicSolution(&list));
    EXPECT_FALSE(frame("pnSinPart")->isVisible());
    EXPECT_TRUE(state.run.showBetaFunctions);
    EXPECT_TRUE(state.run.recomputePeriodic);
    EXPECT_EQ(box("edBetax0")->text().toStdString(), fmt("%8.5f", state.run.betaX0));
    EXPECT_EQ(box("edAlphay0")->text().toStdString(), fmt("%8.5f", state.run.alphaY0));
    EXPECT_NE(box("edBetax0")->text(), "10.0");
    ASSERT_EQ(list.rows.size(), 1u);
    EXPECT_EQ(list.rows[0].index, 0);
    EXPECT_NEAR(list.rows[0].values[0], state.run.betaX0, 1e-12);
    EXPECT_EQ(update.count(), 1);
}

TEST_F(InitialConditionsPanelTest, NoPeriodicSolutionLeavesTheBoxesAlone)
{
    // a drift gives M[x][x] = 1 exactly: no periodic dispersion, the solution fails
    appendElement(state, "D", code::kDrift, 2.0);
    RowCollector list;
    QSignalSpy update(panel, &InitialConditionsPanel::updateRequested);
    EXPECT_FALSE(panel->lookForPeriodicSolution(&list));
    EXPECT_FALSE(messages.errors.empty());
    EXPECT_EQ(box("edBetax0")->text(), "10.0");
    EXPECT_TRUE(list.rows.empty());
    EXPECT_EQ(update.count(), 0);
}

TEST_F(InitialConditionsPanelTest, FileOpenShowsTheStoredStart)
{
    state.run.showBeamSize = true;
    state.run.betaX0 = 4.0;
    state.run.epsXIn = 1e-6;
    state.lf.epsX = 1e-6;
    panel->fillFromState();
    EXPECT_EQ(box("edBetax0")->text(), "   4.000");
}

TEST_F(InitialConditionsPanelTest, AVerticalEmittanceOfAFileShowsItsDigitsAndIsTakenAsShown)
{
    state.run.showBeamSize = true;
    state.run.epsXIn = state.lf.epsX = 1e-8;
    state.run.epsYIn = state.lf.epsY = 1e-10;
    state.run.betaX0 = state.run.betaY0 = 4.0;
    panel->fillFromState();
    panel->showBeamSizes();
    EXPECT_EQ(box("edEpsy")->text(), "0.0001");
    click("bbUseBeam");
    EXPECT_TRUE(messages.errors.empty());
    EXPECT_DOUBLE_EQ(state.run.epsYIn, 1e-10);
    EXPECT_NEAR(state.run.betaY0, 4.0, 1e-9);
    if (const char* dir = std::getenv("KESTRUNE_SCREENSHOT_DIR")) {
        panel->showBeamSizes();
        QApplication::processEvents();
        EXPECT_TRUE(frame("pnInitLatFun")->grab().save(QDir(dir).filePath("initial-beam-sizes-panel.png")));
    }
}

TEST(InitialConditionsPanelOwnership, FramesWithoutAParentGoWithThePanel)
{
    State state;
    test::FakeMessages messages;
    QPointer<QFrame> frame;
    {
        InitialConditionsPanel panel(state, messages);
        frame = panel.singleParticleFrame();
        ASSERT_FALSE(frame.isNull());
        EXPECT_EQ(frame->parentWidget(), &panel);
    }
    EXPECT_TRUE(frame.isNull());
}

} // namespace
} // namespace kestrune
