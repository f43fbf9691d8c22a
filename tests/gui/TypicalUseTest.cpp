// The program's typical use from the start window to the equilibrium beam of a ring, walked through
// the real windows as a user would, checking what the user sees at every step. Each step is one method
// of the fixture, so that later steps (RF, vacuum, lifetime, chromaticity) can be added after these.
#include "app/PartTypeWindow.h"
#include "app/ProgramWindowsQt.h"
#include "app/QtMessages.h"
#include "app/StartWindow.h"
#include "core/Format.h"
#include "editor/MagStructWindow.h"
#include "io/Listing.h"
#include "ring/RingWindow.h"
#include "support/FakeMessages.h"

#include <QAction>
#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <memory>

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
        windows.ring->dialogs().saveFile = [](const QString&, const QString&, const QString&) {
            return QString();
        };
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
            partType->electron1Click();
            in<QRadioButton>(partType, "rbMom")->click();
            QLineEdit* momentum = in<QLineEdit>(partType, "edMom");
            momentum->clear();
            QTest::keyClicks(momentum, momentumMeV);
            in<QPushButton>(partType, "bbPartTypeAccept")->click();
            partType->close1Click();
        });
        QTimer::singleShot(10000, partType, [partType] { partType->reject(); }); // never hang the test
        in<QToolButton>(windows.start, "ToolButton1")->click();
    }

    /// "periodic lattice": the beam-dynamics window in mode "SR", with its ring design.
    void openPeriodicLattice()
    {
        in<QToolButton>(windows.start, "ToolButton3")->click();
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

    QTemporaryDir directory;
    State state;
    Windows windows;
    FakeMessages fake;
    QtMessages messages;
    std::unique_ptr<ProgramWindows> program;
    QString openAnswer;
};

TEST_F(TypicalUse, FromTheParticleToTheEquilibriumBeamOfTheDoubleBendAchromat)
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
    EXPECT_TRUE(listHasPrefix("   the ring tunes are: nuex = "));
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
}

} // namespace
} // namespace kestrune::test
