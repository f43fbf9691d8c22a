#include "gui/ring/RingWindow.h"

#include "core/Design.h"
#include "core/Format.h"
#include "core/Kinematics.h"
#include "core/chromaticity/Chromaticity.h"
#include "core/editor/LineEditing.h"
#include "core/io/LatticeFile.h"
#include "core/io/Listing.h"
#include "core/orbit/CorrectorRing.h"
#include "core/orbit/OrbitRing.h"
#include "core/rf/RfParameter.h"
#include "core/ring/Parameter.h"
#include "gui/QtMessages.h"
#include "gui/chromaticity/ChromaticWindow.h"
#include "gui/lifetime/LifeTimeWindow.h"
#include "gui/resonance/ResonanceWindow.h"
#include "gui/rf/RfWindow.h"
#include "gui/vacuum/VacuumWindow.h"
#include "support/FakeMessages.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>
#include <QToolButton>
#include <algorithm>
#include <gtest/gtest.h>
#include <memory>

namespace kestrune::test {
namespace {

constexpr double kDegree = kPi / 180;

class RingWindowTest : public ::testing::Test
{
protected:
    RingWindowTest() : messages(windows)
    {
        messages.redirectTo(&fake);
        windows.messages = &messages;
        startParticle(state);
        chromatic = std::make_unique<ChromaticWindow>(state, windows);
        rf = std::make_unique<RfWindow>(state, windows);
        lifeTime = std::make_unique<LifeTimeWindow>(state, windows);
        vacuum = std::make_unique<VacuumWindow>(state, windows);
        resonance = std::make_unique<ResonanceWindow>(state, windows);
        windows.enter(WindowId::Chromatic, windows.chromatic, chromatic.get());
        windows.enter(WindowId::Rf, windows.rf, rf.get());
        windows.enter(WindowId::LifeTime, windows.lifeTime, lifeTime.get());
        windows.enter(WindowId::Vacuum, windows.vacuum, vacuum.get());
        windows.enter(WindowId::Resonance, windows.resonance, resonance.get());
        window = std::make_unique<RingWindow>(state, windows);
        windows.enter(WindowId::Ring, windows.ring, window.get());
        window->dialogs().saveFile = [this](const QString& title, const QString&, const QString&,
                                            const QString& preset) {
            dialogTitles << title;
            dialogPresets << preset;
            return saveAnswer;
        };
        window->dialogs().choosePrinter = [](QPrinter&) { return false; };
    }
    ~RingWindowTest() override { windows = Windows{}; }

    template <typename T> T* control(const char* name)
    {
        T* found = window->findChild<T*>(name);
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    QString text(const char* label) { return control<QLabel>(label)->text(); }
    QLineEdit* box(const char* name) { return control<QLineEdit>(name); }
    void type(const char* name, const QString& value)
    {
        box(name)->clear();
        QTest::keyClicks(box(name), value);
    }
    bool toolShown(const char* name)
    {
        QToolButton* button = control<QToolButton>(name);
        return control<QToolBar>("toolBar")->widgetForAction(
                   control<QAction>((std::string(name) + "Action").c_str())) == button &&
               control<QAction>((std::string(name) + "Action").c_str())->isVisible();
    }
    QAction* menuItem(const char* name) { return control<QAction>(name); }

    // a cell of a 3 m drift and a 2 m sector bend of the given angle (deg)
    void cell(double angleDeg)
    {
        state.line.makeFreshTable();
        for (auto [elementCode, length, h] : {std::tuple{code::kDrift, 3.0, 0.0},
                                              std::tuple{code::kSectorBend, 2.0, angleDeg * kDegree / 2.0}}) {
            ++state.line.count;
            LatticeElement& e = state.line.at(state.line.count);
            e.code = elementCode;
            e.length = length;
            e.curvature = h;
        }
        state.line.chainPositions();
    }
    void openDba()
    {
        ASSERT_TRUE(readLatticeFile(state, fake, std::string(KESTRUNE_EXAMPLES) + "/dba-cell.lat"));
    }
    bool listHas(const std::string& line)
    {
        const std::vector<std::string> lines = listLines(state);
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }

    State state;
    Windows windows;
    FakeMessages fake;
    QtMessages messages;
    std::unique_ptr<ChromaticWindow> chromatic;
    std::unique_ptr<RfWindow> rf;
    std::unique_ptr<LifeTimeWindow> lifeTime;
    std::unique_ptr<VacuumWindow> vacuum;
    std::unique_ptr<ResonanceWindow> resonance;
    std::unique_ptr<RingWindow> window;
    QString saveAnswer;
    QStringList dialogTitles;
    QStringList dialogPresets;
};

TEST_F(RingWindowTest, CreationShowsTheStartValues)
{
    EXPECT_EQ(window->windowTitle(), "design a storage ring");
    EXPECT_EQ(box("edNumSup")->text(), "");
    EXPECT_EQ(box("edRFF")->text(), "500.0");
    EXPECT_EQ(box("edCoupling")->text(), "1.0");
    EXPECT_EQ(box("edEn")->text(), "1000");
    EXPECT_EQ(box("edCur")->text(), "100");
    EXPECT_EQ(box("edStep")->text(), "10");
    EXPECT_EQ(text("lTotDefl"), "");
    EXPECT_TRUE(control<QGroupBox>("gbBeamPar")->isHidden());
    EXPECT_TRUE(control<QGroupBox>("gbZstep")->isHidden());
    for (const char* tool :
         {"tbChromaticity", "tbRf", "tbLifeTime", "tbVacuum", "tbAperture", "tbFrequencyMap"})
        EXPECT_FALSE(toolShown(tool)) << tool;
    EXPECT_TRUE(toolShown("tbRingLat"));
}

TEST_F(RingWindowTest, MenusHoldEveryItem)
{
    const auto texts = [this](const char* menu) {
        QStringList items;
        for (QAction* a : control<QMenu>(menu)->actions())
            if (!a->isSeparator())
                items << a->text();
        return items;
    };
    EXPECT_EQ(texts("mnFile"), QStringList({"Save &As...", "E&xit"}));
    EXPECT_EQ(texts("mnOptics"),
              QStringList({"beta functions", "beam parameters", "resonance diagram", "update"}));
    EXPECT_EQ(texts("mnLists"),
              QStringList({"show", "add", "replace", "clear ", "parameter list", "magnet lists",
                           "beta functions", "rf-parameter", "save to file", "print "}));
    EXPECT_EQ(menuItem("mnExit")->text(), "Exit");
    EXPECT_EQ(control<QToolButton>("tbBeamDynamics")->menu(), control<QMenu>("mnOptics"));
    EXPECT_EQ(control<QToolButton>("tbList")->menu(), control<QMenu>("mnLists"));
}

TEST_F(RingWindowTest, GeometryClosesTheCellWhenTheUserAgrees)
{
    cell(36.18);
    type("edNumSup", "10");
    control<QToolButton>("tbRingLat")->click();
    ASSERT_GE(fake.questions.size(), 1u);
    EXPECT_EQ(fake.questions[0],
              "To close ring, you may change all dipole strengths by   -0.498 % [Yes] or ... [No].");
    EXPECT_TRUE(state.ringClosed);
    EXPECT_EQ(text("lTotDefl"), "now total defl.angle is  360.000 deg");
    EXPECT_EQ(text("lCircum"), "ring circumference =   50.000 m");
    EXPECT_EQ(text("lPerfectRing"), "perfect ring with integer harmonic number!");
    EXPECT_EQ(text("lFull"), "(full ring: 10 cells)");
    EXPECT_TRUE(text("lHarm").startsWith("harmonic number is "));
    for (const char* tool :
         {"tbChromaticity", "tbRf", "tbLifeTime", "tbVacuum", "tbAperture", "tbFrequencyMap"})
        EXPECT_TRUE(toolShown(tool)) << tool;
    EXPECT_EQ(state.ringElementCount, 20);
}

TEST_F(RingWindowTest, DecliningEveryQuestionLeavesAnOpenRing)
{
    cell(36.18);
    type("edNumSup", "10");
    fake.answers = {false, false, false};
    window->tbRingLatClick();
    EXPECT_FALSE(state.ringClosed);
    EXPECT_EQ(text("lTotDefl"), "this is not a closed ring!");
    EXPECT_EQ(text("lFrev"), "revolution frequency = N/A");
    for (const char* tool :
         {"tbChromaticity", "tbRf", "tbLifeTime", "tbVacuum", "tbAperture", "tbFrequencyMap"})
        EXPECT_FALSE(toolShown(tool)) << tool;
}

TEST_F(RingWindowTest, TypedTextThatIsNoNumberStopsTheGeometry)
{
    cell(36);
    type("edNumSup", "x1");
    window->tbRingLatClick();
    ASSERT_EQ(fake.errors.size(), 1u);
    EXPECT_EQ(fake.errors[0], "'x1' is not a valid integer value");
    EXPECT_FALSE(state.ringClosed);
    EXPECT_EQ(state.line.superPeriods, 1);
}

TEST_F(RingWindowTest, FullRingAndSuperperiodStudies)
{
    cell(36);
    type("edNumSup", "10");
    type("edRFF", "500.0");
    control<QPushButton>("bbRing")->click();
    EXPECT_TRUE(state.ringClosed);
    EXPECT_EQ(state.ringElementCount, 20);
    control<QPushButton>("bbSuperP")->click();
    EXPECT_FALSE(state.ringClosed);
    EXPECT_EQ(state.ringElementCount, 2);
    EXPECT_EQ(box("edNumSup")->text(), "1");
    EXPECT_EQ(text("lCircum"), "superperiod length=    5.000 m");
    EXPECT_EQ(text("lTotDefl"), "deflection/superperiod=   36.000 degrees");
    EXPECT_EQ(text("lPerfectRing"), "this is not a perfect ring!");
    EXPECT_EQ(text("lHarm"), "");
    EXPECT_FALSE(toolShown("tbRf"));
}

TEST_F(RingWindowTest, StoredRfFrequencyOutlivesItsRoundedBox)
{
    cell(36);
    state.rf.frequency = 499.654096666667e6;
    fake.answers = {false, false};
    type("edNumSup", "10");
    type("edRFF", QString::fromStdString(fmt("%10.5f", state.rf.frequency / 1e6)));
    control<QPushButton>("bbRing")->click();
    EXPECT_EQ(box("edRFF")->text(), " 499.65410");
    EXPECT_EQ(state.rf.frequency, 499.654096666667e6);
}

TEST_F(RingWindowTest, DecliningTheClosingOfAClosedRingLeavesItAndItsFileAsTheyWere)
{
    openDba();
    window->formActivate();
    const std::string file = designText(state);
    type("edNumSup", "11");
    fake.answers = {false, false, false};
    fake.questions.clear();
    window->tbRingLatClick();
    EXPECT_EQ(fake.questions.size(), 2u); // the two closings; no rf frequency of a ring that is not closed
    EXPECT_TRUE(state.ringClosed);
    EXPECT_EQ(state.line.superPeriods, 12);
    EXPECT_EQ(text("lFull"), "(full ring: 12 cells)");
    EXPECT_EQ(designText(state), file);
    EXPECT_EQ(box("edNumSup")->text(), "   12");
    // a ring opened on purpose keeps its beam current and rf system in its file
    window->bbSuperPClick();
    ASSERT_FALSE(state.ringClosed);
    State readBack;
    ASSERT_TRUE(readLatticeText(readBack, fake, designText(state), "open.lat"));
    // the file's 15 digits
    EXPECT_NEAR(readBack.beamCurrent, state.beamCurrent, 1e-14 * state.beamCurrent);
    EXPECT_NEAR(readBack.rf.frequency, state.rf.frequency, 1e-14 * state.rf.frequency);
    EXPECT_NEAR(readBack.rf.voltage, state.rf.voltage, 1e-14 * state.rf.voltage);
    EXPECT_EQ(readBack.rf.cavities, state.rf.cavities);
}

TEST_F(RingWindowTest, ActivationOfAClosedRingComputesEverything)
{
    openDba();
    state.history.reset(state);
    window->formActivate();
    EXPECT_FALSE(state.history.canUndo()) << state.history.undoLabel(); // a look changes nothing
    EXPECT_EQ(box("edNumSup")->text(), "   12");
    EXPECT_EQ(box("edEn")->text(), "2000.000");
    EXPECT_EQ(box("edCur")->text(), " 200.000");
    EXPECT_TRUE(control<QRadioButton>("rbShort")->isChecked());
    EXPECT_EQ(text("lPerfectRing"), "perfect ring with integer harmonic number!");
    EXPECT_TRUE(fake.errors.empty());
    EXPECT_GT(state.ringParams.i2, 0);
    EXPECT_GT(state.ringParams.emittanceX, 0);
    EXPECT_TRUE(text("lEloss").startsWith("energy loss/turn: "));
    EXPECT_TRUE(control<QGroupBox>("gbBeamPar")->isHidden());
    for (const char* tool :
         {"tbChromaticity", "tbRf", "tbLifeTime", "tbVacuum", "tbAperture", "tbFrequencyMap"})
        EXPECT_TRUE(toolShown(tool)) << tool;
}

TEST_F(RingWindowTest, BeamParametersShowTheGroupInsteadOfTheGeometryAndList)
{
    openDba();
    window->formActivate();
    menuItem("mnBeamParameters")->trigger();
    EXPECT_TRUE(control<QGroupBox>("gbGeometry")->isHidden());
    EXPECT_FALSE(control<QGroupBox>("gbBeamPar")->isHidden());
    const RingParameters& r = state.ringParams;
    EXPECT_EQ(text("lEloss").toStdString(), "energy loss/turn: " + siFormat(r.energyLoss, "eV"));
    EXPECT_EQ(text("leps_x").toStdString(), "emittance_x: " + siFormat(r.emittanceX, "m"));
    EXPECT_EQ(text("lI2").toStdString(), "I2 = " + fmt("%10.4g", r.i2) + " 1/m");
    EXPECT_TRUE(listHas("Storage Ring Parameters"));
    EXPECT_GE(fake.listShows, 1);
    // geometry brings the geometry back
    window->tbRingLatClick();
    EXPECT_FALSE(control<QGroupBox>("gbGeometry")->isHidden());
    EXPECT_TRUE(control<QGroupBox>("gbBeamPar")->isHidden());
}

TEST_F(RingWindowTest, ActivationKeepsTheBeamParametersShownSoTheMomentumGoesIntoItsBox)
{
    openDba();
    window->formActivate();
    window->beamParametersClick();
    // the list window took the focus; a click into the momentum box activates the ring window again
    window->formActivate();
    EXPECT_FALSE(control<QGroupBox>("gbBeamPar")->isHidden());
    EXPECT_TRUE(control<QGroupBox>("gbGeometry")->isHidden());
    type("edEn", "1500");
    control<QPushButton>("btUpdate")->click();
    EXPECT_DOUBLE_EQ(state.beam.momentum, 1.5e9);
    EXPECT_EQ(state.line.superPeriods, 12);
    EXPECT_TRUE(fake.errors.empty());
}

TEST_F(RingWindowTest, CorrectedChromaticityIsThatOfTheSextupolesOfTheLattice)
{
    openDba();
    window->formActivate();
    // sextupoles set by a correction on a copy: the ring window learns them from the lattice alone
    State corrected = state;
    radiationIntegrals(corrected, fake);
    ASSERT_TRUE(correctChromaticity(corrected, fake, 2, -1));
    for (int i = 1; i <= state.line.count; ++i)
        state.line.at(i).m = corrected.line.at(i).m;
    state.ringParams.correctedChromaticityX = 0; // what another ring's correction left
    window->beamParametersClick();
    EXPECT_EQ(text("lxix"), "corr.chromaticity_x:   2.000");
    EXPECT_EQ(text("lxiy"), "corr.chromaticity_y:  -1.000");
}

TEST_F(RingWindowTest, AnotherLatticeClearsTheResultsAndBringsItsSuperperiods)
{
    openDba();
    window->formActivate();
    window->beamParametersClick();
    window->tbRingLatClick();
    ASSERT_EQ(text("lPerfectRing"), "perfect ring with integer harmonic number!");
    EditorState editor;
    ASSERT_TRUE(openLatticeFile(state, editor, std::string(KESTRUNE_EXAMPLES) + "/fodo-cell.lat", fake));
    ASSERT_FALSE(state.ringClosed);
    window->designChanged(); // as the beam-dynamics window tells after opening
    EXPECT_EQ(box("edNumSup")->text(), QString::number(state.line.superPeriods));
    EXPECT_NE(text("lPerfectRing"), "perfect ring with integer harmonic number!");
    EXPECT_EQ(text("lCircum"), "ring circumference: n/a, press geometry");
    for (const char* label : {"lxix", "lEloss", "leps_x", "ltaux"})
        EXPECT_FALSE(text(label).contains(QRegularExpression("[0-9]"))) << label << text(label).toStdString();
}

TEST_F(RingWindowTest, BoxesOutsideTheirRangesAreRefusedByName)
{
    const struct
    {
        const char* box;
        const char* value;
        const char* message;
    } cases[] = {
        {"edEn", "1e300", "the momentum must be at most 1000000000 MeV!"},
        {"edCur", "-5", "the beam current must not be negative!"},
        {"edNumSup", "5000", "the number of superperiods must be at most 1000!"},
        {"edCoupling", "200", "the coupling must be at most 100 %!"},
    };
    openDba();
    window->formActivate();
    for (const auto& c : cases) {
        window->formActivate();
        const State before = state;
        fake.errors.clear();
        type(c.box, c.value);
        window->beamParametersClick();
        window->tbRingLatClick();
        ASSERT_FALSE(fake.errors.empty()) << c.box;
        EXPECT_EQ(fake.errors[0], c.message);
        EXPECT_EQ(designDifference(state, before), "") << c.box;
    }
}

TEST_F(RingWindowTest, ListsMenuTicksTheListModeInForce)
{
    QMenu* lists = control<QMenu>("mnLists");
    for (const bool replace : {true, false, true}) {
        state.listing.replaceList = replace; // as another window may have set it
        emit lists->aboutToShow();
        EXPECT_EQ(menuItem("mnListReplace")->isChecked(), replace);
        EXPECT_EQ(menuItem("mnListAdd")->isChecked(), !replace);
    }
    menuItem("mnListAdd")->trigger();
    EXPECT_FALSE(state.listing.replaceList);
    EXPECT_TRUE(menuItem("mnListAdd")->isChecked());
}

TEST_F(RingWindowTest, RecalculateTakesTheBeamBoxes)
{
    openDba();
    window->formActivate();
    window->beamParametersClick();
    type("edCoupling", "10");
    type("edCur", "50");
    control<QPushButton>("btUpdate")->click();
    EXPECT_DOUBLE_EQ(state.ringParams.coupling, 0.1);
    EXPECT_DOUBLE_EQ(state.beamCurrent, 0.05);
    EXPECT_NEAR(state.ringParams.emittanceY / state.ringParams.emittanceX, 0.1, 1e-12);
}

TEST_F(RingWindowTest, RecalculateShowsTheModeEmittancesAlsoOfACoupledLine)
{
    openDba();
    window->formActivate();
    window->beamParametersClick();
    control<QPushButton>("btUpdate")->click();
    EXPECT_TRUE(text("lEpsYSource").contains("typed coupling"));
    // rolled quadrupoles: the modes share the emittance, and the ring's results are those of its modes
    for (int i = 1; i <= state.line.count; ++i)
        if (state.line.at(i).name == "Q1")
            state.line.at(i).tilt = 0.01;
    fake.errors.clear();
    control<QPushButton>("btUpdate")->click();
    EXPECT_TRUE(fake.errors.empty());
    EXPECT_TRUE(text("lEpsYSource").contains("coupling sources"));
    EXPECT_FALSE(text("lEpsMode2").contains("n/a"));
    EXPECT_TRUE(text("lEigentunes").contains("Q1 = "));
    EXPECT_TRUE(text("ltaux").contains("mode 1")) << text("ltaux").toStdString();
    EXPECT_FALSE(text("ltaux").contains("n/a"));
    EXPECT_TRUE(text("lI5").contains("n/a"));
}

// A machine with errors or kicks shows its modes and eigentunes about its closed orbit, under the line
// that says so; without an orbit that line gives the reason over the design's values, which are those of
// its line without the kicks. A ring without errors shows what it showed before, with no such line.
TEST_F(RingWindowTest, MachineWithErrorsShowsItsRingAboutTheClosedOrbit)
{
    const struct
    {
        double dy, kick;
        const char* orbitLine; // how the line about the orbit starts; nullptr: no such line
        bool aboutOrbit;       // the modes shown are those about the orbit
    } cases[] = {{0, 0, nullptr, false},
                 {5e-4, 0, "about the closed orbit: ", true},
                 {0, 2e-4, "about the closed orbit: ", true},
                 {0, 0.5, "no closed orbit: ", false}};
    QString designLoss, designMode1;
    for (const auto& c : cases) {
        state = correctorRing(false);
        state.rf.voltage = 1e6;
        for (int i = 1; i <= state.line.count; ++i)
            state.line.at(i).errors.dy = c.dy;
        state.line.at(1).hkick = c.kick;
        fake.errors.clear();
        window->formActivate();
        ASSERT_TRUE(fake.errors.empty()) << fake.errors.front();
        auto* orbitLine = control<QLabel>("lOrbitRing");
        EXPECT_EQ(orbitLine->isHidden(), c.orbitLine == nullptr) << c.dy << " " << c.kick;
        if (c.orbitLine) {
            EXPECT_TRUE(orbitLine->text().startsWith(c.orbitLine)) << orbitLine->text().toStdString();
        } else {
            designLoss = text("lEloss");
            designMode1 = text("lEpsMode1");
            EXPECT_EQ(designMode1.toStdString(), modeEmittanceView(state, modeEmittances(state)).mode1);
        }
        // the design's values are those of the line without its kicks and errors
        EXPECT_EQ(text("lEloss"), designLoss);
        const std::string mode1 = text("lEpsMode1").toStdString();
        EXPECT_EQ(mode1, c.aboutOrbit ? orbitRingView(state, orbitRing(state)).modes.mode1
                                      : designMode1.toStdString());
    }
}

TEST_F(RingWindowTest, ListsMenuWritesTheRingLists)
{
    openDba();
    window->formActivate();
    menuItem("mnListBeta")->trigger();
    EXPECT_TRUE(listHas("   the ring tunes are: nuex = " + fmt("%8.3f", state.lf.tuneX) +
                        ";    nuey = " + fmt("%8.3f", state.lf.tuneY)));
    menuItem("mnListReplace")->trigger();
    menuItem("mnMagnetLists")->trigger();
    EXPECT_TRUE(listHas("Magnet Lattice"));
    EXPECT_FALSE(listHas("   the ring tunes are: nuex = " + fmt("%8.3f", state.lf.tuneX) +
                         ";    nuey = " + fmt("%8.3f", state.lf.tuneY)));
    menuItem("mnListClear")->trigger();
    EXPECT_TRUE(listLines(state).empty());
    menuItem("mnRfParameter")->trigger();
    EXPECT_TRUE(listHas("   Rf-parameter"));
}

TEST_F(RingWindowTest, RfParameterListComputesTheRfParametersFirst)
{
    // the rf window has not run: the list computes the rf parameters of the ring before it lists them
    openDba();
    window->formActivate();
    ASSERT_FALSE(state.rf.computed);
    menuItem("mnRfParameter")->trigger();
    EXPECT_TRUE(fake.errors.empty()) << fake.errors.front();
    EXPECT_TRUE(state.rf.computed);
    EXPECT_NEAR(state.rf.overVoltage, 1.2e6 / state.ringParams.energyLoss, 1e-9);
    EXPECT_GT(state.rf.energyAcceptance, 0.005);
    EXPECT_TRUE(listHas("   energy acceptance     dE/E_rf = .........." +
                        fmt("%10.5f", state.rf.energyAcceptance * 100) + " %"));
    EXPECT_TRUE(listHas("   slip factor,            eta_c = .........." +
                        fmt("%10.4g", state.ringParams.slipFactor)));

    // a voltage below the loss per turn is raised to 1.2 U0 and said so, then listed
    state.rf.voltage = 1000;
    menuItem("mnRfParameter")->trigger();
    ASSERT_EQ(fake.errors.size(), 1u);
    EXPECT_EQ(fake.errors[0], "rf-voltage is less than energy loss!");
    EXPECT_TRUE(listHas("   tot.cavity voltage,      V_rf = .........." +
                        fmt("%10.5f", 1.2 * state.ringParams.energyLoss / 1e6) + " MV"));
}

TEST_F(RingWindowTest, RfParameterListOfARingWithoutRfFrequencyIsRefused)
{
    openDba();
    window->formActivate();
    state.ringParams.harmonicNumber = 0;
    menuItem("mnRfParameter")->trigger();
    ASSERT_EQ(fake.errors.size(), 1u);
    EXPECT_EQ(fake.errors[0], kNoHarmonic);
    EXPECT_FALSE(listHas("   Rf-parameter"));
}

TEST_F(RingWindowTest, SaveAsAndSaveListWriteTheChosenFiles)
{
    QTemporaryDir dir;
    openDba();
    state.lastOpenedFile = std::string(KESTRUNE_EXAMPLES) + "/dba-cell.lat";
    window->formActivate();
    saveAnswer = QDir(dir.path()).filePath("ring.lat");
    menuItem("mnSaveAs")->trigger();
    EXPECT_TRUE(QFile::exists(saveAnswer));
    window->parameterListClick();
    saveAnswer = QDir(dir.path()).filePath("ring.txt");
    menuItem("mnSaveList")->trigger();
    EXPECT_TRUE(QFile::exists(saveAnswer));
    EXPECT_EQ(dialogTitles, QStringList({"save lattice data to file", "save parameter lists to file"}));
    // the lattice dialog offers the lattice opened; the list dialog never offers the lattice's own name
    ASSERT_EQ(dialogPresets.size(), 2);
    EXPECT_EQ(dialogPresets[0].toStdString(), std::string(KESTRUNE_EXAMPLES) + "/dba-cell.lat");
    EXPECT_EQ(QFileInfo(dialogPresets[1]).fileName(), "dba-cell.txt");
}

TEST_F(RingWindowTest, ListDialogOfALatticeSavedAsTextDoesNotOfferTheLatticeFile)
{
    // a lattice kept as ring.txt: accepting the list dialog's name must not overwrite it
    QTemporaryDir dir;
    openDba();
    window->formActivate();
    state.lastOpenedFile = QDir(dir.path()).filePath("ring.txt").toStdString();
    window->parameterListClick();
    menuItem("mnSaveList")->trigger();
    ASSERT_EQ(dialogPresets.size(), 1);
    EXPECT_EQ(QFileInfo(dialogPresets[0]).fileName(), "ring-list.txt");
}

TEST_F(RingWindowTest, ToolButtonsShowTheirWindows)
{
    openDba();
    window->formActivate();
    window->tbChromaticityClick();
    window->tbRfClick();
    window->tbLifeTimeClick();
    window->tbVacuumClick();
    window->resonanceClick();
    EXPECT_TRUE(chromatic->isVisible());
    EXPECT_TRUE(rf->isVisible());
    EXPECT_TRUE(lifeTime->isVisible());
    EXPECT_TRUE(vacuum->isVisible());
    EXPECT_TRUE(resonance->isVisible());
}

TEST_F(RingWindowTest, DoubleClickHidesAGroup)
{
    window->show();
    QGroupBox* geometry = control<QGroupBox>("gbGeometry");
    QTest::mouseDClick(geometry, Qt::LeftButton);
    EXPECT_TRUE(geometry->isHidden());
}

TEST_F(RingWindowTest, CellWithoutDeflectionAndAnEmptyCellAreHandled)
{
    cell(0);
    window->tbRingLatClick();
    EXPECT_EQ(text("lFull"), "");
    EXPECT_EQ(text("lTotDefl"), "this is not a closed ring!");
    EXPECT_TRUE(fake.errors.empty());
    state.line.makeFreshTable();
    window->tbRingLatClick();
    ASSERT_EQ(fake.errors.size(), 1u);
    EXPECT_EQ(fake.errors[0], "the ring has no circumference: define a beam line first!");
}

} // namespace
} // namespace kestrune::test
