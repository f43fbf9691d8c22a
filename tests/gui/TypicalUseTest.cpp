// The program's typical use from the start window to the saved design of a ring, walked through the
// real windows as a user would, checking what the user sees at every step: particle, lattice file,
// periodic solution, a tune match, ring window and equilibrium beam, rf system and power budget, vacuum
// profile, lifetimes, sextupole correction and tracking, dynamic aperture and momentum acceptance with the
// Touschek lifetime they give, a small frequency map and its tunes on the resonance diagram, a
// sextupole knob moved and undone, the lists saved
// as text and the design saved as a lattice file, then a thin multipole and an rf cavity added through the
// editor and the rf window taking the cavities, and misaligned quadrupoles with their closed orbit and
// seeds, undone. Each step is one method of the fixture.
#include "app/ProgramWindows.h"
#include "core/Format.h"
#include "core/Kinematics.h"
#include "core/io/LatticeFile.h"
#include "core/io/Listing.h"
#include "core/lifetime/LifetimeUpdate.h"
#include "core/optics/BetaFunctions.h"
#include "gui/QtMessages.h"
#include "gui/aperture/ApertureCharts.h"
#include "gui/aperture/ApertureWindow.h"
#include "gui/chromaticity/ChromaticWindow.h"
#include "gui/chromaticity/TrackingChart.h"
#include "gui/editor/ElementPanel.h"
#include "gui/editor/LatticeChart.h"
#include "gui/editor/MagStructWindow.h"
#include "gui/lifetime/LifeTimeWindow.h"
#include "gui/matching/MatchTables.h"
#include "gui/matching/MatchWindow.h"
#include "gui/nonlinear/FrequencyMapChart.h"
#include "gui/nonlinear/FrequencyMapWindow.h"
#include "gui/nonlinear/SextupoleKnobWindow.h"
#include "gui/orbit/ErrorsOrbitWindow.h"
#include "gui/particle/PartTypeWindow.h"
#include "gui/resonance/ResonanceWindow.h"
#include "gui/rf/RfWindow.h"
#include "gui/ring/RingWindow.h"
#include "gui/shell/StartWindow.h"
#include "gui/vacuum/VacuumChart.h"
#include "gui/vacuum/VacuumWindow.h"
#include "support/FakeMessages.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSlider>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTextStream>
#include <QTimer>
#include <QToolButton>
#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <memory>
#include <qcustomplot.h>
#include <utility>
#include <vector>

namespace kestrune::test {
namespace {

class TypicalUse : public ::testing::Test
{
protected:
    TypicalUse() : messages(windows)
    {
        messages.redirectTo(&fake);
        windows.messages = &messages;
        program = std::make_unique<ProgramWindows>(state, windows, directory.path());
        windows.magStruct->dialogs().openFile = [this](const QString&, const QString&) { return openAnswer; };
        windows.ring->dialogs().saveFile = [this](const QString&, const QString&, const QString&,
                                                  const QString&) { return saveAnswer; };
        windows.start->show();
    }
    ~TypicalUse() override { program.reset(); }

    template <typename T> T* in(QWidget* window, const char* name)
    {
        T* found = window->findChild<T*>(name);
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    QString ringLabel(const char* name) { return in<QLabel>(windows.ring, name)->text(); }
    std::string label(QWidget* window, const char* name)
    {
        return in<QLabel>(window, name)->text().toStdString();
    }
    std::string box(QWidget* window, const char* name)
    {
        return in<QLineEdit>(window, name)->text().toStdString();
    }
    void type(QWidget* window, const char* name, const QString& text)
    {
        QLineEdit* edit = in<QLineEdit>(window, name);
        edit->clear();
        QTest::keyClicks(edit, text);
    }
    /// A tool button of the ring window, then the activation of the window it shows (as the user's
    /// first click into it runs it).
    template <typename W> void openTool(const char* button, W* window)
    {
        in<QToolButton>(windows.ring, button)->click();
        QApplication::processEvents();
        EXPECT_TRUE(window->isVisible()) << button;
        window->formActivate();
    }
    bool listHas(const std::string& line)
    {
        const std::vector<std::string> lines = listLines(state);
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }
    bool listHasPrefix(const std::string& prefix)
    {
        const std::vector<std::string> lines = listLines(state);
        return std::any_of(lines.begin(), lines.end(),
                           [&](const std::string& l) { return l.rfind(prefix, 0) == 0; });
    }

    /// "particle type": the electron at a momentum typed in MeV, accepted, window closed.
    void chooseElectron(const QString& momentumMeV)
    {
        PartTypeWindow* partType = windows.partType;
        QTimer::singleShot(0, partType, [this, partType, momentumMeV] {
            partType->electronClick();
            in<QRadioButton>(partType, "rbMom")->click();
            QLineEdit* momentum = in<QLineEdit>(partType, "edMom");
            momentum->clear();
            QTest::keyClicks(momentum, momentumMeV);
            in<QPushButton>(partType, "bbPartTypeAccept")->click();
            partType->closeClick();
        });
        QTimer::singleShot(10000, partType, [partType] { partType->reject(); }); // never hang the test
        in<QToolButton>(windows.start, "tbParticle")->click();
    }

    /// "periodic lattice": the beam-dynamics window in mode "SR", with its ring design.
    void openPeriodicLattice()
    {
        in<QToolButton>(windows.start, "tbPeriodic")->click();
        QApplication::processEvents();
    }

    /// File › Open of an example lattice (the window's file choice answers with it).
    void openExample(const char* name)
    {
        openAnswer = QString(KESTRUNE_EXAMPLES) + "/" + name;
        windows.magStruct->openClick();
        QApplication::processEvents();
    }

    /// optics › look for periodic solution.
    void periodicSolution()
    {
        windows.magStruct->mnPerSolClick();
        QApplication::processEvents();
    }

    /// optics › matching: the ring tunes to qx and qy with the quadrupole families in the straight,
    /// matched, then accepted.
    void matchTunes(const QString& qx, const QString& qy)
    {
        in<QAction>(windows.magStruct, "mnMatching")->trigger();
        QApplication::processEvents();
        MatchWindow* match = windows.match;
        EXPECT_TRUE(match->isVisible());
        for (const char* family : {"Q1", "Q2"}) {
            in<QPushButton>(match, "bbAddVariable")->click();
            VariableTable* v = match->variableTable();
            v->item(v->rowCount() - 1, VariableTable::Element)->setText(family);
        }
        for (const auto& [quantity, target] : {std::pair{"tune_x", qx}, std::pair{"tune_y", qy}}) {
            in<QPushButton>(match, "bbAddConstraint")->click();
            ConstraintTable* c = match->constraintTable();
            const int row = c->rowCount() - 1;
            qobject_cast<QComboBox*>(c->cellWidget(row, ConstraintTable::Quantity))->setCurrentText(quantity);
            c->item(row, ConstraintTable::Target)->setText(target);
        }
        in<QPushButton>(match, "bbMatch")->click();
        for (int turn = 0; turn < 1000 && match->running(); ++turn)
            QApplication::processEvents();
        in<QPushButton>(match, "bbAccept")->click();
    }

    /// "ring design": the ring window comes up and takes the ring from the state as it is activated.
    void ringDesign()
    {
        in<QAction>(windows.magStruct, "mnRing")->trigger();
        QApplication::processEvents();
        // the offscreen platform need not hand the activation over: the window's activation runs as a
        // user's click into it would run it
        windows.ring->formActivate();
    }

    /// "geometry" of the ring window's tool bar.
    void geometry() { in<QToolButton>(windows.ring, "tbRingLat")->click(); }

    /// lists › beta functions: the ring pass into the list window.
    void ringPass() { in<QAction>(windows.ring, "mnListBeta")->trigger(); }

    /// optics › beam parameters.
    void beamParameters() { in<QAction>(windows.ring, "mnBeamParameters")->trigger(); }

    /// "rf", then "&update calculation" with the voltage, power and beam the boxes hold.
    void rfUpdateCalculation()
    {
        windows.rf->resize(1240, 720);
        openTool("tbRf", windows.rf);
        in<QPushButton>(windows.rf, "bbUpdate")->click();
    }

    /// "Rf-system", then the power budget's "&update".
    void rfPowerBudget()
    {
        in<QAction>(windows.rf, "mnRfSystem")->trigger();
        in<QPushButton>(windows.rf, "bbRfUpdate")->click();
    }

    /// A click on element e of the drawing, "insert element" in its panel and kind `kind` of the element
    /// list; then a click on the new element, the panel rows of the given labels typed, "accept data".
    void insertThroughTheEditor(int e, int kind, const std::vector<std::pair<QString, QString>>& typed)
    {
        MagStructWindow* editor = windows.magStruct;
        QTest::mouseClick(editor->chart()->plot(), Qt::LeftButton, {}, editor->chart()->shapeCentre(e));
        in<QPushButton>(editor->elementPanel(), "btInsertElement")->click();
        editor->magListClick(kind);
        QApplication::processEvents();
        QTest::mouseClick(editor->chart()->plot(), Qt::LeftButton, {}, editor->chart()->shapeCentre(e));
        EXPECT_EQ(editor->elementPanel()->element(), e);
        auto* grid = in<QTableWidget>(editor->elementPanel(), "MagPar");
        for (const auto& [label, text] : typed)
            for (int row = 0; row < grid->rowCount(); ++row)
                if (grid->item(row, 0)->text() == label)
                    grid->item(row, 1)->setText(text);
        in<QPushButton>(editor->elementPanel(), "bbAccept")->click();
    }

    /// "vacuum", "ca&lculate" with the boxes' defaults, then lists › pump pressures.
    void vacuumProfile()
    {
        in<QToolButton>(windows.ring, "tbVacuum")->click();
        QApplication::processEvents();
        in<QAction>(windows.vacuum, "mnCalculate")->trigger();
        in<QAction>(windows.vacuum, "mnPumpPressures")->trigger();
    }

    /// "life time", then each process's menu entry and "update", in the order of the menu bar.
    void lifetimes()
    {
        openTool("tbLifeTime", windows.lifeTime);
        const std::pair<const char*, const char*> steps[] = {{"mnElastic", "bbUpdElast"},
                                                             {"mnInelastic", "bbBremsLife"},
                                                             {"mnTouschek", "bbTouschek"},
                                                             {"mnQuantum", "bbUpQuantum"}};
        for (const auto& [menu, update] : steps) {
            in<QAction>(windows.lifeTime, menu)->trigger();
            in<QPushButton>(windows.lifeTime, update)->click();
        }
    }

    /// "tracking": the chromaticities wanted typed and "update".
    void correctChromaticity(const QString& wantedX, const QString& wantedY)
    {
        in<QToolButton>(windows.ring, "tbChromaticity")->click();
        QApplication::processEvents();
        type(windows.chromatic, "edxiwx", wantedX);
        type(windows.chromatic, "edxiwy", wantedY);
        in<QPushButton>(windows.chromatic, "bbUpdate")->click();
    }

    /// "track" of a particle started at x (mm) for a number of turns.
    void track(const QString& xMm, const QString& turns)
    {
        type(windows.chromatic, "edXo", xMm);
        type(windows.chromatic, "edNumTurns", turns);
        in<QPushButton>(windows.chromatic, "bbTrack")->click();
    }

    /// "aperture": the dynamic aperture of a few rays and the momentum acceptance at every third element,
    /// each run to its end on the worker thread, and listed.
    void apertureScans()
    {
        in<QToolButton>(windows.ring, "tbAperture")->click();
        QApplication::processEvents();
        EXPECT_TRUE(windows.aperture->isVisible());
        type(windows.aperture, "edAngles", "9");
        type(windows.aperture, "edDaTurns", "200");
        type(windows.aperture, "edMaTurns", "128");
        type(windows.aperture, "edEvery", "3");
        for (const char* button : {"bbDynamic", "bbAcceptance"}) {
            QSignalSpy done(windows.aperture, &ApertureWindow::scanFinished);
            in<QPushButton>(windows.aperture, button)->click();
            EXPECT_TRUE(done.wait(60000)) << button;
        }
        in<QAction>(windows.aperture, "mnListDynamic")->trigger();
        in<QAction>(windows.aperture, "mnListAcceptance")->trigger();
    }

    /// "frequency map": a grid of 4 x 3 amplitudes over 2 x 32 turns, run to its end on the worker thread.
    void frequencyMap()
    {
        in<QToolButton>(windows.ring, "tbFrequencyMap")->click();
        QApplication::processEvents();
        EXPECT_TRUE(windows.frequencyMap->isVisible());
        type(windows.frequencyMap, "edNx", "4");
        type(windows.frequencyMap, "edNy", "3");
        type(windows.frequencyMap, "edTurns", "32");
        QSignalSpy done(windows.frequencyMap, &FrequencyMapWindow::scanFinished);
        in<QPushButton>(windows.frequencyMap, "bbFrequencyMap")->click();
        EXPECT_TRUE(done.wait(60000));
    }

    /// "errors and orbit": the quadrupoles misaligned by the window's example set, then three seeds of it
    /// without a correction (the ring has no kickers), run to their end on the worker thread.
    void errorsAndOrbit()
    {
        in<QToolButton>(windows.ring, "tbErrorsOrbit")->click();
        QApplication::processEvents();
        EXPECT_TRUE(windows.errorsOrbit->isVisible());
        in<QPushButton>(windows.errorsOrbit, "bbApply")->click();
        in<QCheckBox>(windows.errorsOrbit, "cbCorrectSeeds")->setChecked(false);
        type(windows.errorsOrbit, "edSeeds", "3");
        QSignalSpy done(windows.errorsOrbit, &ErrorsOrbitWindow::seedsFinished);
        in<QPushButton>(windows.errorsOrbit, "bbSeeds")->click();
        EXPECT_TRUE(done.wait(60000));
    }

    /// "sextupole knobs": SF raised by one drag of its knob, the change taken back by the Edit menu.
    void sextupoleKnob()
    {
        in<QToolButton>(windows.ring, "tbSextupoleKnobs")->click();
        QApplication::processEvents();
        EXPECT_TRUE(windows.sextupoleKnobs->isVisible());
        type(windows.sextupoleKnobs, "edSpan1", "5");
        QSlider* slider = in<QSlider>(windows.sextupoleKnobs, "sbKnob1");
        slider->setSliderDown(true);
        slider->setValue(20);
        slider->setSliderDown(false);
    }

    /// The lifetime window's Touschek update with the local momentum acceptance as its source.
    void localTouschek()
    {
        in<QToolButton>(windows.ring, "tbLifeTime")->click();
        QApplication::processEvents();
        in<QCheckBox>(windows.lifeTime, "cbLocalAcceptance")->setChecked(true);
        in<QPushButton>(windows.lifeTime, "bbTouschek")->click();
    }

    /// optics › resonance diagram.
    void resonanceDiagram()
    {
        in<QAction>(windows.ring, "mnResonance")->trigger();
        QApplication::processEvents();
    }

    /// lists › parameter list and lists › rf-parameter, appended to the list window.
    void parameterLists()
    {
        in<QAction>(windows.ring, "mnListAdd")->trigger();
        in<QAction>(windows.ring, "mnParameterList")->trigger();
        in<QAction>(windows.ring, "mnRfParameter")->trigger();
    }

    /// lists › save to file, the file chosen named.
    void saveLists(const QString& fileName)
    {
        saveAnswer = fileName;
        in<QAction>(windows.ring, "mnSaveList")->trigger();
    }

    /// File › Save As... of the ring window, the file chosen named.
    void saveDesign(const QString& fileName)
    {
        saveAnswer = fileName;
        in<QAction>(windows.ring, "mnSaveAs")->trigger();
    }

    QTemporaryDir directory;
    State state;
    Windows windows;
    FakeMessages fake;
    QtMessages messages;
    std::unique_ptr<ProgramWindows> program;
    QString openAnswer;
    QString saveAnswer;
};

std::vector<std::string> fileLines(const QString& fileName)
{
    QFile file(fileName);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly | QIODevice::Text)) << fileName.toStdString();
    std::vector<std::string> lines;
    QTextStream in(&file);
    while (!in.atEnd())
        lines.push_back(in.readLine().toStdString());
    return lines;
}

TEST_F(TypicalUse, FromTheParticleToTheSavedDesignOfTheDoubleBendAchromat)
{
    chooseElectron("1000");
    EXPECT_FALSE(windows.partType->isVisible());
    EXPECT_EQ(state.beam.name, "electron");
    EXPECT_NEAR(state.beam.momentum, 1e9, 1);
    EXPECT_NEAR(state.beam.referenceMomentum, 1e9, 1);

    openPeriodicLattice();
    EXPECT_TRUE(windows.magStruct->isVisible());
    EXPECT_TRUE(in<QAction>(windows.magStruct, "mnRing")->isVisible());

    openExample("dba-cell.lat");
    EXPECT_EQ(state.line.count, 30);
    EXPECT_EQ(state.line.superPeriods, 12);
    EXPECT_NEAR(state.beam.momentum, 2e9, 1); // the file carries its own beam

    periodicSolution();
    EXPECT_TRUE(state.run.periodicAvailable);
    EXPECT_TRUE(state.run.periodicStable);
    EXPECT_TRUE(listHas("Lattice Functions"));

    // the working point moved with the two families of the straights, as one step of the history
    const double q1 = state.line.at(3).k;
    matchTunes("9.45", "4.4");
    EXPECT_NE(state.line.at(3).k, q1);
    EXPECT_EQ(state.history.undoLabel(), "match");
    {
        State ring = state;
        ASSERT_TRUE(betaFunctions(ring, fake, nullptr));
        EXPECT_NEAR(ring.lf.tuneX, 9.45, 1e-9);
        EXPECT_NEAR(ring.lf.tuneY, 4.4, 1e-9);
    }

    ringDesign();
    EXPECT_TRUE(windows.ring->isVisible());
    EXPECT_EQ(windows.ring->windowTitle(), "design a storage ring");
    EXPECT_EQ(in<QLineEdit>(windows.ring, "edNumSup")->text(), "   12");

    geometry();
    EXPECT_EQ(ringLabel("lTotDefl"), "now total defl.angle is  360.000 deg");
    EXPECT_EQ(ringLabel("lCircum"), "ring circumference =  183.600 m");
    EXPECT_EQ(ringLabel("lPerfectRing"), "perfect ring with integer harmonic number!");
    EXPECT_EQ(ringLabel("lFull"), "(full ring: 12 cells)");
    EXPECT_TRUE(ringLabel("lHarm").startsWith("harmonic number is  306.000"));
    EXPECT_TRUE(in<QAction>(windows.ring, "tbRfAction")->isVisible());
    EXPECT_EQ(state.ringElementCount, 360);

    ringPass();
    EXPECT_TRUE(listHasPrefix("   the ring tunes are: nuex =    9.450;    nuey =    4.400"));
    EXPECT_GT(state.lf.tuneX, 1);
    EXPECT_GT(state.lf.tuneY, 1);

    beamParameters();
    EXPECT_TRUE(in<QGroupBox>(windows.ring, "gbGeometry")->isHidden());
    EXPECT_FALSE(in<QGroupBox>(windows.ring, "gbBeamPar")->isHidden());
    const RingParameters& r = state.ringParams;
    EXPECT_EQ(ringLabel("lEloss").toStdString(), "energy loss/turn: " + siFormat(r.energyLoss, "eV"));
    EXPECT_EQ(ringLabel("leps_x").toStdString(), "emittance_x: " + siFormat(r.emittanceX, "m"));
    // a 2 GeV ring of 24 bends of 15 deg and 2 m: U0 = C_gamma E^4 I2 / (2 pi) with I2 = 24 h^2 L
    EXPECT_NEAR(r.energyLoss, 8.846e-5 * 16 / kTwoPi * 24 * std::pow(kPi / 12 / 2, 2) * 2 * 1e9, 1e3);
    EXPECT_TRUE(listHas("Storage Ring Parameters"));
    EXPECT_TRUE(listHas("   betatron tunes,Q_x................... = " + fmt("%10.5f", r.tuneX)));
    EXPECT_TRUE(fake.errors.empty()) << (fake.errors.empty() ? "" : fake.errors[0]);

    // the rf window dimensions the rf system at the file's 1.2 MV
    rfUpdateCalculation();
    const RfParameters& rf = state.rf;
    EXPECT_EQ(box(windows.rf, "edRFVolt"), "1200.000");
    EXPECT_EQ(box(windows.rf, "edEnergy"), "   2.000");
    EXPECT_FALSE(in<QPushButton>(windows.rf, "bbUpdate")->isVisible());
    EXPECT_NEAR(rf.overVoltage, 1.2e6 / r.energyLoss, 1e-9);
    EXPECT_EQ(label(windows.rf, "lEnAcc"),
              "energy acceptance, %       = " + fmt("%8.3f", rf.energyAcceptance * 100));
    EXPECT_EQ(label(windows.rf, "lBunLen"),
              "rms bunch length, mm       = " + fmt("%8.3f", rf.bunchLength * 1000));
    EXPECT_EQ(label(windows.rf, "lHarm"), "harmonic number =  306.000");
    // a 2 GeV ring at 1.2 MV: an acceptance of a percent or so, bunches of a few mm
    EXPECT_GT(rf.energyAcceptance, 0.005);
    EXPECT_LT(rf.energyAcceptance, 0.03);
    EXPECT_GT(rf.bunchLength, 1e-3);
    EXPECT_LT(rf.bunchLength, 1e-2);
    EXPECT_TRUE(in<QAction>(windows.rf, "mnPhaseSpace")->isEnabled());

    // two copper cells of half a wavelength at 500 MHz: 0.6 m, 17.2 MOhm, 84 kW in the walls
    rfPowerBudget();
    EXPECT_TRUE(in<QGroupBox>(windows.rf, "gbCavity")->isVisible());
    EXPECT_NEAR(rf.cavityLength, kSpeedOfLight / rf.frequency, 1e-9);
    EXPECT_NEAR(rf.cavityLossPower, 1.44e12 / rf.shuntImpedance, 1e-6);
    EXPECT_NEAR(rf.cavityLossPower, 83.9e3, 0.5e3);
    EXPECT_EQ(label(windows.rf, "lCavLoss"),
              "total cavity losses = " + fmt("%8.3f", rf.cavityLossPower / 1000) + " kW");
    EXPECT_EQ(label(windows.rf, "lRemPow"), "remaining rf power of " + fmt("%8.3f", rf.beamPower / 1000) +
                                                " kW\nwill sustain a max. total beam current of " +
                                                fmt("%8.3f", rf.maxBeamCurrent * 1000) + " mA");
    EXPECT_NEAR(rf.beamPower, 2e5 - 2e4 - rf.cavityLossPower, 1e-6);

    // the vacuum window: the pressure along one cell from its three pumps and its bends
    vacuumProfile();
    ASSERT_TRUE(windows.vacuum->result());
    EXPECT_GT(state.averagePressure, 1e-11);
    EXPECT_LT(state.averagePressure, 1e-7);
    EXPECT_EQ(box(windows.vacuum, "edAvgPr"), fmt("%8.4g", state.averagePressure * 1e9));
    EXPECT_EQ(windows.vacuum->chart()->pointCount(), 2000);
    EXPECT_EQ(windows.vacuum->chart()->title(), "vacuum pressure distribution");
    EXPECT_TRUE(listHas("Vacuum pressure at pumps "));
    EXPECT_TRUE(listHas("avg.vacuum pressure: " + fmt("%8.3f", state.averagePressure * 1e9) + " nTorr"));

    // the lifetime window takes the ring, vacuum and rf results without asking, and combines all four
    lifetimes();
    EXPECT_EQ(box(windows.lifeTime, "edGasP1"), fmt("%8.4g", state.averagePressure * 1e9));
    EXPECT_EQ(box(windows.lifeTime, "edBunLen"), fmt("%8.3f", rf.bunchLength * 1000));
    EXPECT_EQ(box(windows.lifeTime, "edEnAcc1"), fmt("%8.3f", rf.energyAcceptance * 100));
    const Lifetimes& l = state.lifetimes;
    for (double tau : {l.elastic, l.bremsstrahlung, l.touschek, l.quantum})
        EXPECT_GT(tau, 0);
    const double total = 1 / (1 / l.elastic + 1 / l.bremsstrahlung + 1 / l.touschek + 1 / l.quantum);
    EXPECT_EQ(label(windows.lifeTime, "lTot"),
              "tot. combined beam lifetime =  " + fmt("%8.3f", total / 3600) + " hr");
    EXPECT_EQ(label(windows.lifeTime, "lTouschek"),
              "Touschek lifetime = " + fmt("%8.3f", l.touschek / 3600) + " hr");
    EXPECT_TRUE(in<QGroupBox>(windows.lifeTime, "gbtotLife")->isVisible());
    EXPECT_TRUE(fake.errors.empty()) << (fake.errors.empty() ? "" : fake.errors[0]);

    // 300 kV and 1.5 GeV typed and the rf window closed: its results are no longer shown, and the lifetime
    // window neither takes them nor keeps the Touschek line computed from them
    openTool("tbRf", windows.rf);
    type(windows.rf, "edRFVolt", "300");
    type(windows.rf, "edEnergy", "1.5");
    windows.rf->close();
    EXPECT_NEAR(state.rf.voltage, 3e5, 1e-6);
    EXPECT_NEAR(state.beam.momentum, 1.5e9, 1);
    EXPECT_EQ(state.history.undoLabel(), "rf settings");
    openTool("tbLifeTime", windows.lifeTime);
    EXPECT_TRUE(in<QLabel>(windows.lifeTime, "lTouschek")->isHidden());
    EXPECT_EQ(l.touschek, 0);
    EXPECT_TRUE(in<QLabel>(windows.lifeTime, "lCbLife")->isHidden()); // of the other momentum
    EXPECT_NE(box(windows.lifeTime, "edEnAcc1"), fmt("%8.3f", rf.energyAcceptance * 100));
    openTool("tbRf", windows.rf);
    EXPECT_EQ(label(windows.rf, "lEnAcc"), "");
    // one undo brings the voltage and the momentum back, and with them the results computed for them
    windows.rf->close();
    windows.magStruct->undoClick();
    EXPECT_NEAR(state.rf.voltage, 1.2e6, 1e-6);
    EXPECT_NEAR(state.beam.momentum, 2e9, 1);
    rfUpdateCalculation();
    lifetimes();
    EXPECT_EQ(box(windows.lifeTime, "edEnAcc1"), fmt("%8.3f", rf.energyAcceptance * 100));
    EXPECT_FALSE(in<QLabel>(windows.lifeTime, "lTouschek")->isHidden());
    fake.errors.clear();

    // the chromaticity window corrects both chromaticities to +1 and tracks a particle of 1 mm
    correctChromaticity("1", "1");
    EXPECT_EQ(label(windows.chromatic, "lxix"), "   1.000");
    EXPECT_EQ(label(windows.chromatic, "lxiy"), "   1.000");
    EXPECT_EQ(label(windows.chromatic, "lxixo"), fmt("%8.3f", r.chromaticityX));
    double mF = 0;
    for (int i = 1; i <= state.line.count; ++i) {
        if (state.line.at(i).code == code::kSextupoleF)
            mF = state.line.at(i).m;
    }
    EXPECT_EQ(label(windows.chromatic, "lSF"), fmt("%8.3f", mF));
    EXPECT_GT(mF, 0);
    track("1", "200");
    EXPECT_EQ(windows.chromatic->chart()->pointCount(), 200);
    EXPECT_TRUE(fake.errors.empty()) << (fake.errors.empty() ? "" : fake.errors[0]);
    // the last turn's coordinates become the single particle's start
    EXPECT_LE(std::fabs(state.run.x0), 1.5);
    // off momentum in the longitudinal phase space: the synchrotron tune is the rf window's
    in<QRadioButton>(windows.chromatic, "rbZDelta")->click();
    in<QCheckBox>(windows.chromatic, "cbOffMom")->click();
    type(windows.chromatic, "edOffMom", "0.2");
    track("1", "300");
    EXPECT_EQ(windows.chromatic->chart()->pointCount(TrackingChart::Colour::Teal), 300);
    const QRegularExpressionMatch qs =
        QRegularExpression("Q_s = ([0-9.]+)").match(in<QLabel>(windows.chromatic, "lTunes")->text());
    ASSERT_TRUE(qs.hasMatch());
    EXPECT_NEAR(qs.captured(1).toDouble(), rf.synchrotronTune, 0.02 * rf.synchrotronTune);
    EXPECT_TRUE(fake.errors.empty()) << (fake.errors.empty() ? "" : fake.errors[0]);

    // the aperture window: the dynamic aperture with the corrected sextupoles inside the physical one, the
    // momentum acceptance at most the rf bucket's, kept for the Touschek lifetime
    apertureScans();
    const std::optional<DynamicAperture>& da = windows.aperture->dynamicResult();
    ASSERT_TRUE(da);
    EXPECT_EQ(windows.aperture->dynamicChart()->boundaryPoints(), 9);
    for (double radius : da->radius) {
        EXPECT_GT(radius, 1e-3);
        EXPECT_LT(radius, 0.031);
    }
    const LocalAcceptance& local = state.localAcceptance;
    ASSERT_EQ(local.s.size(), 10u);
    EXPECT_EQ(local.lattice, trackingFingerprint(state));
    for (std::size_t k = 0; k < local.s.size(); ++k) {
        EXPECT_GT(local.deltaPlus[k], 0.5 * rf.energyAcceptance);
        EXPECT_LE(local.deltaPlus[k],
                  rf.energyAcceptance / (state.beam.beta * state.beam.beta) * (1 + 1e-12));
    }
    EXPECT_TRUE(listHasPrefix("   Dynamic aperture at the ring's start, 200 turns"));
    EXPECT_TRUE(listHasPrefix("   Local momentum acceptance, 128 turns"));
    const double touschekOfTheRf = l.touschek;
    localTouschek();
    EXPECT_NE(l.touschek, touschekOfTheRf);
    EXPECT_GT(l.touschek, 0.2 * touschekOfTheRf);
    EXPECT_TRUE(label(windows.lifeTime, "lTouschek").find("(local acceptance") != std::string::npos);
    EXPECT_TRUE(fake.errors.empty()) << (fake.errors.empty() ? "" : fake.errors[0]);

    // the frequency map: the small amplitudes of the corrected ring survive with clear tunes, which the
    // resonance diagram shows beside the working point
    frequencyMap();
    ASSERT_TRUE(windows.frequencyMap->result());
    EXPECT_EQ(windows.frequencyMap->chart()->mapPoints(), 12);
    EXPECT_TRUE(fake.errors.empty()) << (fake.errors.empty() ? "" : fake.errors[0]);

    // the resonance diagram around the ring tunes
    resonanceDiagram();
    EXPECT_EQ(windows.resonance->footprintPoints(), 12);
    EXPECT_TRUE(windows.resonance->isVisible());
    ASSERT_EQ(windows.resonance->series(4)->dataCount(), 1);
    EXPECT_NEAR(windows.resonance->series(4)->data()->at(0)->key, state.lf.tuneX, 1e-12);
    EXPECT_NEAR(windows.resonance->series(4)->data()->at(0)->value, state.lf.tuneY, 1e-12);
    const QCPRange qx = windows.resonance->chart()->xAxis->range();
    EXPECT_LT(qx.lower, std::floor(state.lf.tuneX) + 1e-9);
    EXPECT_GT(qx.upper, std::floor(state.lf.tuneX) + 1 - 1e-9);

    // a sextupole knob: the corrected chromaticity before, SF raised in the cell and the full ring by a drag
    // (one step; the slider's end is the span of 5 /m^3), and the Edit menu's undo giving the strength and
    // the chromaticity back
    int sfAt = 1;
    while (sfAt < state.line.count && state.line.at(sfAt).name != "SF")
        ++sfAt;
    const int sfCopy = sfAt + 11 * state.line.count; // in the last cell of the full ring
    const double sf = state.line.at(sfAt).m;
    sextupoleKnob();
    EXPECT_NEAR(state.line.at(sfAt).m, sf + 2, 1e-12 * std::fabs(sf));
    EXPECT_NEAR(state.line.at(sfCopy).m, sf + 2, 1e-12 * std::fabs(sf));
    EXPECT_GT(windows.sextupoleKnobs->optics().chromaticityX, 1.05);
    EXPECT_EQ(state.history.undoLabel(), "sextupole knob SF");
    in<QAction>(windows.magStruct, "mnUndo")->trigger();
    EXPECT_EQ(state.line.at(sfCopy).m, sf);
    EXPECT_NEAR(windows.sextupoleKnobs->optics().chromaticityX, 1.0, 1e-6);
    EXPECT_TRUE(fake.errors.empty()) << (fake.errors.empty() ? "" : fake.errors[0]);

    // the ring and rf parameter lists appended to the list window and saved as text
    parameterLists();
    const std::string acceptance =
        "   energy acceptance     dE/E_rf = .........." + fmt("%10.5f", rf.energyAcceptance * 100) + " %";
    EXPECT_TRUE(listHas("   Rf-parameter"));
    EXPECT_TRUE(listHas(acceptance));
    EXPECT_TRUE(listHas("   corrected chromaticity,xi_x ..........=    1.00000"));
    EXPECT_TRUE(listHas("Vacuum pressure at pumps ")); // added, not replaced
    const QString listFile = directory.filePath("dba-lists.txt");
    saveLists(listFile);
    EXPECT_EQ(fileLines(listFile), listLines(state));

    // the design saved as a lattice file and read back: the ring with its corrected sextupoles
    const QString latticeFile = directory.filePath("dba-ring.lat");
    windows.magStruct->showHistory(); // the ring study changed what the file holds: the title is marked
    EXPECT_TRUE(windows.magStruct->windowTitle().endsWith('*'));
    saveDesign(latticeFile);
    windows.magStruct->showHistory();
    EXPECT_TRUE(windows.magStruct->windowTitle().endsWith(" - dba-ring.lat"));
    State readBack;
    startParticle(readBack);
    ASSERT_TRUE(readLatticeFile(readBack, fake, latticeFile.toStdString()));
    EXPECT_EQ(readBack.line.count, 30);
    EXPECT_EQ(readBack.line.superPeriods, 12);
    EXPECT_TRUE(readBack.ringClosed);
    EXPECT_NEAR(readBack.rf.voltage, 1.2e6, 1e-6);
    EXPECT_NEAR(readBack.rf.frequency, rf.frequency, 1e-3);
    for (int i = 1; i <= 30; ++i)
        EXPECT_NEAR(readBack.line.at(i).m, state.line.at(i).m, 1e-9 * (1 + std::fabs(state.line.at(i).m)))
            << i;
    EXPECT_TRUE(fake.errors.empty()) << (fake.errors.empty() ? "" : fake.errors[0]);

    // a thin sextupole and an rf cavity of no length go into the cell through the editor: the ring keeps
    // its geometry, and the rf window takes its voltage and harmonic number from the cavities (the new
    // cavity joined the rf system with the voltage of one cell), sharing a new total among them
    insertThroughTheEditor(2, 9, {{" knl / ksl order 2 (1/m^2)", "0.5"}});
    EXPECT_EQ(state.line.at(2).code, code::kThinMultipole);
    EXPECT_EQ(state.line.at(2).knl, (std::vector<double>{0, 0, 0.5}));
    EXPECT_EQ(state.line.at(2).length, 0);
    insertThroughTheEditor(4, 15, {{" path length ", "0"}});
    EXPECT_EQ(state.line.count, 32);
    EXPECT_EQ(state.line.at(4).code, code::kRfCavity);
    EXPECT_NEAR(state.line.at(4).frequency, rf.frequency, 1e-3); // the ring's results went with the edit
    EXPECT_NEAR(state.line.at(4).voltage, 1e5, 1e-6);
    ringDesign();
    geometry();
    EXPECT_EQ(ringLabel("lCircum"), "ring circumference =  183.600 m");
    EXPECT_EQ(ringLabel("lPerfectRing"), "perfect ring with integer harmonic number!");
    rfUpdateCalculation();
    EXPECT_EQ(box(windows.rf, "edRFVolt"), "1200.000");
    EXPECT_EQ(label(windows.rf, "lHarm"), "harmonic number =  306.000");
    EXPECT_NEAR(rf.overVoltage, 1.2e6 / r.energyLoss, 1e-9);
    type(windows.rf, "edRFVolt", "1500");
    in<QPushButton>(windows.rf, "bbUpdate")->click();
    EXPECT_NEAR(state.line.at(4).voltage, 1.25e5, 1e-6);
    EXPECT_NEAR(rf.voltage, 1.5e6, 1e-6);
    EXPECT_TRUE(fake.errors.empty()) << (fake.errors.empty() ? "" : fake.errors[0]);
    type(windows.rf, "edRFVolt", "1800"); // typed and the window closed: the cavities take it too
    windows.rf->close();
    EXPECT_NEAR(state.line.at(4).voltage, 1.5e5, 1e-6);

    // errors and orbit: quadrupoles misaligned by 50 um rms give a closed orbit of that order, the seeds
    // run beside the program, and the Edit menu's undo takes the errors off and the results with them
    errorsAndOrbit();
    ASSERT_TRUE(windows.errorsOrbit->orbitBefore());
    ASSERT_TRUE(windows.errorsOrbit->orbitBefore()->found) << windows.errorsOrbit->orbitBefore()->refusal;
    const OrbitSpread spread = orbitSpread(state.line, *windows.errorsOrbit->orbitBefore());
    EXPECT_GT(spread.xRms, 1e-6);
    EXPECT_LT(spread.xRms, 1e-2);
    ASSERT_EQ(windows.errorsOrbit->seeds().size(), 3u);
    for (const SeedOutcome& seed : windows.errorsOrbit->seeds())
        EXPECT_TRUE(seed.computed) << seed.refusal;
    EXPECT_TRUE(fake.errors.empty()) << (fake.errors.empty() ? "" : fake.errors[0]);
    QAction* undo = in<QAction>(windows.magStruct, "mnUndo");
    windows.magStruct->showHistory();
    EXPECT_EQ(undo->text(), "Undo error set");
    undo->trigger();
    for (int i = 1; i <= state.line.count; ++i)
        EXPECT_FALSE(state.line.at(i).errors.any()) << i;
    EXPECT_FALSE(windows.errorsOrbit->orbitBefore());
    EXPECT_TRUE(windows.errorsOrbit->seeds().empty());

    // a second lattice: no window shows the results of the first one, and none feeds them onward
    const double dbaPressure = state.averagePressure;
    openExample("fodo-cell.lat");
    ASSERT_EQ(state.documentFile, (QString(KESTRUNE_EXAMPLES) + "/fodo-cell.lat").toStdString());
    const QRegularExpression digit("[0-9]");
    EXPECT_EQ(box(windows.ring, "edNumSup"), std::to_string(state.line.superPeriods));
    EXPECT_NE(ringLabel("lPerfectRing"), "perfect ring with integer harmonic number!");
    EXPECT_FALSE(ringLabel("lCircum").contains("183.600"));
    for (const char* name : {"lxix", "lEloss", "leps_x", "ltaux", "lTotDefl", "lHarm"})
        EXPECT_FALSE(ringLabel(name).contains(digit)) << name;
    EXPECT_EQ(box(windows.rf, "edEnergy"), fmt("%8.3f", state.beam.momentum / 1e9));
    for (const char* name : {"lEnAcc", "lBunLen", "lPhase", "lCavLoss", "lRemPow"})
        EXPECT_FALSE(QString::fromStdString(label(windows.rf, name)).contains(digit)) << name;
    EXPECT_FALSE(windows.vacuum->result());
    EXPECT_EQ(windows.vacuum->chart()->seriesCount(), 0);
    EXPECT_EQ(box(windows.vacuum, "edAvgPr"), "n/a");
    for (const char* name : {"lxix", "lxiy", "lSF", "lSD"})
        EXPECT_EQ(label(windows.chromatic, name), "n/a") << name;
    EXPECT_FALSE(windows.aperture->dynamicResult());
    EXPECT_EQ(windows.aperture->dynamicChart()->boundaryPoints(), 0);
    EXPECT_EQ(windows.aperture->acceptanceChart()->pointCount(), 0);
    EXPECT_FALSE(windows.frequencyMap->result());
    EXPECT_EQ(windows.resonance->footprintPoints(), 0);
    fake.errors.clear();
    windows.lifeTime->formActivate();
    EXPECT_NE(box(windows.lifeTime, "edGasP1"), fmt("%8.4g", dbaPressure * 1e9));
    EXPECT_NE(std::find(fake.errors.begin(), fake.errors.end(),
                        "enter vacuum pressure manually or run \"vacuum\"!"),
              fake.errors.end());
}

} // namespace
} // namespace kestrune::test
