// File › "Import MAD-X...", "Export MAD-X..." and "Export TFS table..." of the beam-dynamics window.
#include "core/io/Listing.h"
#include "core/io/TfsTable.h"
#include "core/io/madx/MadxReader.h"
#include "gui/MagStructFixture.h"
#include "gui/ring/RingWindow.h"
#include "support/TestFolder.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QTest>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace kestrune::test {
namespace {

namespace fs = std::filesystem;

class MagStructMadx : public MagStructFixture
{
protected:
    MagStructMadx()
    {
        dir = freshTestFolder("kestrune-magstruct-madx");
        window->dialogs().saveFile = [this](const QString& title, const QString&, const QString& suffix,
                                            const QString& preset) {
            dialogTitles.push_back(title);
            presets.push_back(preset);
            saveSuffixes.push_back(suffix);
            return saveAnswer;
        };
    }
    ~MagStructMadx() override { fs::remove_all(dir); }

    void trigger(const char* objectName)
    {
        QAction* action = window->findChild<QAction*>(objectName);
        ASSERT_NE(action, nullptr) << objectName;
        action->trigger();
    }

    static std::string slurp(const fs::path& path)
    {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }

    fs::path dir;
    QString saveAnswer;
    QStringList saveSuffixes;
    QStringList presets;
};

TEST_F(MagStructMadx, ImportReadsTheRingAndDrawsItsPeriodicFunctions)
{
    showWindow();
    openAnswer = QString(KESTRUNE_EXAMPLES) + "/dba-cell.madx";
    trigger("mnImportMadx");
    EXPECT_EQ(dialogTitles, QStringList{"import MAD-X lattice"});
    EXPECT_TRUE(fake.errors.empty()) << fake.errors.front();
    EXPECT_EQ(state.line.count, 31); // per half 6 magnets, 8 drifts and a monitor, and SF
    EXPECT_NEAR(state.line.length, 15.3, 1e-12);
    EXPECT_TRUE(state.run.periodicAvailable);
    EXPECT_EQ(state.line.shape(1).title, "1");
    // the report goes to the list window, not shown: every element was kept as it was
    const std::vector<std::string> lines = listLines(state);
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[1], "   MAD-X import of " + openAnswer.toStdString());
    EXPECT_EQ(lines[2].rfind("   beam line ", 0), 0u) << lines[2];
    EXPECT_EQ(lines[3].find("left out"), std::string::npos) << lines[3];
    EXPECT_EQ(fake.listShows, 0);
}

// A ring whose corrector kicks has no optics on the design orbit: it is drawn about its closed orbit, as
// MAD-X's TWISS gives it, and the next line without kicks on the design orbit again.
TEST_F(MagStructMadx, AKickedRingIsDrawnAboutItsClosedOrbit)
{
    showWindow();
    std::ofstream(dir / "kicked.madx") << "qf: quadrupole, l=0.5, k1=0.6;\nqd: quadrupole, l=0.5, k1=-0.6;\n"
                                          "b: sbend, l=2, angle=0.2617993877991494;\nd: drift, l=1;\n"
                                          "hk: hkicker, kick=1e-4;\ncell: line=(qf, d, b, d, qd, d, b, d);\n"
                                          "ring: line=(hk, 12*cell);\nbeam, particle=electron, energy=1;\n"
                                          "use, period=ring;\n";
    openAnswer = QString::fromStdString((dir / "kicked.madx").string());
    trigger("mnImportMadx");
    EXPECT_TRUE(fake.errors.empty()) << fake.errors.front();
    EXPECT_TRUE(window->findChild<QAction*>("mnAboutOrbit")->isChecked());
    EXPECT_TRUE(window->chart()->orbitShown());
    EXPECT_GT(window->chart()->orbitMax(1).value_or(0), 0.01); // mm

    openAnswer = QString(KESTRUNE_EXAMPLES) + "/dba-cell.madx";
    trigger("mnImportMadx");
    EXPECT_TRUE(fake.errors.empty()) << fake.errors.front();
    EXPECT_FALSE(window->findChild<QAction*>("mnAboutOrbit")->isChecked());
    EXPECT_FALSE(window->chart()->orbitShown());
}

TEST_F(MagStructMadx, RefusedImportLeavesTheDesign)
{
    appendKinds({0, 2, 0});
    std::ofstream(dir / "bad.madx") << "q: quadrupole, l=1, k1=1;\ns: crabcavity, l=1;\nbl: line=(q, s);\n";
    openAnswer = QString::fromStdString((dir / "bad.madx").string());
    trigger("mnImportMadx");
    EXPECT_EQ(state.line.count, 3);
    EXPECT_EQ(state.line.at(2).code, code::kQuadrupole);
    ASSERT_EQ(fake.errors.size(), 1u);
    EXPECT_EQ(fake.errors[0], "cannot import MAD-X file " + (dir / "bad.madx").string() +
                                  ", line 2: the class crabcavity is not supported (s (crabcavity))");

    fake.errors.clear();
    openAnswer.clear(); // cancelled
    trigger("mnImportMadx");
    EXPECT_EQ(state.line.count, 3);
    EXPECT_TRUE(fake.errors.empty());
}

TEST_F(MagStructMadx, ExportWritesAFileThatReadsBackToTheSameLine)
{
    appendKinds({0, 1, 0, 2, 3, 4});
    saveAnswer = QString::fromStdString((dir / "line.madx").string());
    trigger("mnExportMadx");
    EXPECT_EQ(dialogTitles, QStringList{"export beam line as MAD-X file"});
    EXPECT_EQ(saveSuffixes, QStringList{"madx"});
    EXPECT_TRUE(fake.errors.empty());
    State back;
    ASSERT_TRUE(readMadxFile(back, fake, (dir / "line.madx").string()));
    ASSERT_EQ(back.line.count, state.line.count);
    for (int i = 1; i <= state.line.count; ++i)
        EXPECT_EQ(back.line.at(i).code, state.line.at(i).code) << i;
}

TEST_F(MagStructMadx, ExportDialogsNeverOfferTheLatticeFile)
{
    // accepting the offered name must not overwrite the lattice the line came from
    appendKinds({0, 2, 0});
    state.lastOpenedFile = (dir / "cell.lat").string();
    trigger("mnExportMadx");
    trigger("mnExportTfs");
    ASSERT_EQ(presets.size(), 2);
    EXPECT_EQ(QFileInfo(presets[0]).fileName(), "cell.madx");
    EXPECT_EQ(QFileInfo(presets[1]).fileName(), "cell.tfs");
}

TEST_F(MagStructMadx, ExportWithoutCounterpartIsRefusedBeforeAFileIsChosen)
{
    appendKinds({0, 7, 6});
    saveAnswer = QString::fromStdString((dir / "line.madx").string());
    trigger("mnExportMadx");
    EXPECT_TRUE(dialogTitles.isEmpty());
    ASSERT_EQ(fake.errors.size(), 1u);
    EXPECT_EQ(fake.errors[0], "cannot export to MAD-X: no MAD-X element for einzel lens (element 2), "
                              "linac section (element 3)");
    EXPECT_FALSE(fs::exists(dir / "line.madx"));
}

TEST_F(MagStructMadx, TfsTableHoldsARowPerElement)
{
    appendKinds({2, 0, 2, 0});
    state.line.at(3).k = -1.0;
    saveAnswer = QString::fromStdString((dir / "line.tfs").string());
    trigger("mnExportTfs");
    EXPECT_EQ(dialogTitles, QStringList{"export lattice functions as TFS table"});
    EXPECT_EQ(saveSuffixes, QStringList{"tfs"});
    EXPECT_TRUE(fake.errors.empty());
    const std::optional<TfsTable> table = parseTfs(slurp(dir / "line.tfs"));
    ASSERT_TRUE(table.has_value());
    EXPECT_EQ(table->rows.size(), 5u);
    EXPECT_EQ(table->rows[1][1], "QUADRUPOLE");

    state.line.count = 0;
    fake.errors.clear();
    dialogTitles.clear();
    trigger("mnExportTfs");
    EXPECT_TRUE(dialogTitles.isEmpty());
    EXPECT_EQ(fake.errors, std::vector<std::string>{"define a beam line first!"});
}

} // namespace
} // namespace kestrune::test

namespace kestrune::test {
namespace {

/// The imported light-source ring, for the documentation; runs only when KESTRUNE_SCREENSHOT_DIR names
/// the folder to write it to.
class MagStructMadxScreenshot : public MagStructFixture
{
};

TEST_F(MagStructMadxScreenshot, ImportedLightSourceRing)
{
    const char* dir = std::getenv("KESTRUNE_SCREENSHOT_DIR");
    if (!dir)
        GTEST_SKIP() << "KESTRUNE_SCREENSHOT_DIR not set";
    showWindow();
    window->setChartTitle("Periodic Lattice");
    openAnswer = QString(KESTRUNE_EXAMPLES) + "/ls-ring.madx";
    window->findChild<QAction*>("mnImportMadx")->trigger();
    ASSERT_EQ(state.line.count, 681);
    QTest::qWait(200);
    ASSERT_TRUE(window->grab().save(QDir(dir).filePath("magstruct-madx-ls-ring.png")));
}

} // namespace
} // namespace kestrune::test

namespace kestrune::test {
namespace {

/// The imported light-source ring closed in the ring window and its beam parameters, for the
/// documentation; runs only when KESTRUNE_SCREENSHOT_DIR names the folder to write them to.
TEST(RingMadxScreenshot, ImportedLightSourceRingClosedWithItsBeamParameters)
{
    const char* dir = std::getenv("KESTRUNE_SCREENSHOT_DIR");
    if (!dir)
        GTEST_SKIP() << "KESTRUNE_SCREENSHOT_DIR not set";
    State state;
    Windows windows;
    FakeMessages fake;
    QtMessages messages(windows);
    messages.redirectTo(&fake);
    windows.messages = &messages;
    startParticle(state);
    RingWindow window(state, windows);
    ASSERT_TRUE(readMadxFile(state, fake, std::string(KESTRUNE_EXAMPLES) + "/ls-ring.madx"));
    window.show();
    window.formActivate();
    window.findChild<QLineEdit*>("edNumSup")->setText("1"); // the file holds the whole ring
    fake.answers = {true, true, true};
    window.tbRingLatClick();
    EXPECT_TRUE(state.ringClosed);
    QTest::qWait(100);
    ASSERT_TRUE(window.grab().save(QDir(dir).filePath("ring-madx-ls-ring.png")));
    window.beamParametersClick();
    QTest::qWait(100);
    ASSERT_TRUE(window.grab().save(QDir(dir).filePath("ring-madx-ls-ring-parameters.png")));
}

} // namespace
} // namespace kestrune::test
