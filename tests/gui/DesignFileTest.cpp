// The design and its file in the beam-dynamics window: "Save changes to NAME?" before the design is
// replaced, File › Save, the backup of the line operations, and the particle a file brings along.
#include "MagStructFixture.h"
#include "core/io/LatticeFile.h"
#include "gui/UserData.h"
#include "gui/io/RecentFilesSettings.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <filesystem>
#include <functional>

namespace kestrune::test {
namespace {

const QString kExamples = QString(KESTRUNE_EXAMPLES);

class DesignFile : public MagStructFixture
{
protected:
    DesignFile()
    {
        window->dialogs().saveChanges = [this](const QString& question) {
            questions << question;
            return choice;
        };
        dba = folder.filePath("dba-cell.lat");
        QFile::copy(kExamples + "/dba-cell.lat", dba);
    }

    void open(const QString& fileName)
    {
        openAnswer = fileName;
        window->openClick();
    }
    /// One undoable change of the line.
    void change() { window->symmetrizeClick(); }
    QAction* action(const char* name) { return window->findChild<QAction*>(name); }

    QTemporaryDir folder;
    QString dba;
    QStringList questions;
    SaveChoice choice = SaveChoice::Cancel;
};

TEST_F(DesignFile, ReplacingTheDesignAsksExactlyWhenItDiffersFromItsFile)
{
    const std::vector<std::pair<const char*, std::function<void()>>> replacements = {
        {"open", [&] { open(kExamples + "/fodo-cell.lat"); }},
        {"import",
         [&] {
             openAnswer = kExamples + "/ls-ring.madx";
             window->importMadxClick();
         }},
        {"recent file", [&] { window->openRecentClick(kExamples + "/fodo-cell.lat"); }},
        {"clear", [&] { window->clearBLClick(); }},
    };
    for (const auto& [name, replace] : replacements) {
        SCOPED_TRACE(name);
        choice = SaveChoice::Discard;
        open(dba);
        questions.clear();
        ASSERT_FALSE(window->windowTitle().endsWith('*'));
        const int cell = state.line.count;

        change();
        ASSERT_TRUE(window->windowTitle().endsWith('*'));
        const int changed = state.line.count;
        choice = SaveChoice::Cancel;
        replace();
        EXPECT_EQ(questions, QStringList{"Save changes to dba-cell.lat?"});
        EXPECT_EQ(state.line.count, changed) << "cancelled: the design stays";

        window->undoClick(); // back at the file's design: nothing to save, nothing asked
        ASSERT_EQ(state.line.count, cell);
        questions.clear();
        replace();
        EXPECT_TRUE(questions.isEmpty());
        EXPECT_NE(state.line.count, cell) << "replaced";
    }
}

TEST_F(DesignFile, SaveWritesTheChangesBeforeTheDesignIsReplaced)
{
    open(dba);
    change();
    const int changed = state.line.count;
    choice = SaveChoice::Save;
    open(kExamples + "/fodo-cell.lat");
    ASSERT_EQ(questions.size(), 1);
    EXPECT_EQ(state.documentFile, (kExamples + "/fodo-cell.lat").toStdString());
    EXPECT_TRUE(saveTitles.isEmpty()) << "the design's own file, no dialog";
    State saved;
    ASSERT_TRUE(readLatticeFile(saved, fake, dba.toStdString()));
    EXPECT_EQ(saved.line.count, changed);
}

TEST_F(DesignFile, SaveKeyWritesTheDesignsFileOrAsksForOne)
{
    QAction* save = action("mnSave");
    ASSERT_NE(save, nullptr);
    EXPECT_TRUE(save->shortcuts().contains(QKeySequence("Ctrl+S")));
    for (int kind : {0, 2, 0}) {
        window->addMagnetClick();
        window->magListClick(kind);
    }
    ASSERT_TRUE(window->windowTitle().endsWith('*'));

    // a new design has no file: save asks for one
    saveAnswer = folder.filePath("new.lat");
    save->trigger();
    ASSERT_EQ(saveTitles.size(), 1);
    EXPECT_TRUE(QFile::exists(saveAnswer));
    EXPECT_FALSE(window->windowTitle().endsWith('*'));
    EXPECT_TRUE(window->windowTitle().endsWith("new.lat"));

    // from then on it goes to that file without a dialog
    change();
    ASSERT_TRUE(window->windowTitle().endsWith('*'));
    save->trigger();
    EXPECT_EQ(saveTitles.size(), 1);
    EXPECT_FALSE(window->windowTitle().endsWith('*'));
    State saved;
    ASSERT_TRUE(readLatticeFile(saved, fake, saveAnswer.toStdString()));
    EXPECT_EQ(saved.line.count, state.line.count);

    // a MAD-X import is no lattice file yet: save asks again, and the import joins the recent files
    choice = SaveChoice::Discard;
    openAnswer = kExamples + "/ls-ring.madx";
    window->importMadxClick();
    ASSERT_GT(state.line.count, 0);
    EXPECT_EQ(window->recentFiles().paths.front(), normalisedPath(openAnswer.toStdString()));
    EXPECT_TRUE(window->windowTitle().endsWith('*'));
    saveAnswer.clear();
    save->trigger();
    EXPECT_EQ(saveTitles.size(), 2);
}

TEST_F(DesignFile, OpeningAFileOfAnotherParticleSaysSo)
{
    QFile file(dba);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    QString text = QString::fromLatin1(file.readAll());
    file.close();
    ASSERT_TRUE(text.contains("electron"));
    const QString positron = folder.filePath("positron.lat");
    QFile out(positron);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(text.replace("electron", "positron").toLatin1());
    out.close();

    open(dba);
    window->statusBar()->clearMessage();
    open(dba);
    EXPECT_TRUE(window->statusBar()->currentMessage().isEmpty()) << "the same particle";
    open(positron);
    EXPECT_TRUE(window->statusBar()->currentMessage().contains("positron"))
        << window->statusBar()->currentMessage().toStdString();
}

TEST_F(DesignFile, DeleteKeepsItsBackupInTheUserDataFolderAndEscapeCancelsIt)
{
    const std::filesystem::path before = std::filesystem::current_path();
    std::filesystem::current_path(folder.path().toStdString());
    appendKinds({0, 2, 0, 2});
    showWindow();
    window->bbDelElClick();
    EXPECT_FALSE(QFile::exists(folder.filePath("temp.lat")));
    const QString backup = QString::fromStdString(state.backupFile);
    EXPECT_TRUE(backup.startsWith(userDataDirectory())) << backup.toStdString();
    EXPECT_TRUE(QFile::exists(backup));
    auto* cancel = window->findChild<QPushButton*>("bbCancelCutPaste");
    ASSERT_NE(cancel, nullptr);
    EXPECT_TRUE(cancel->isVisible());

    const Rgb colour = state.line.shape(2).colour;
    window->chLatticeClickSeries("2");
    ASSERT_NE(state.line.shape(2).colour, colour) << "marked as the left limit";
    QTest::keyClick(window.get(), Qt::Key_Escape);
    EXPECT_EQ(window->editor().editOperation, EditOperation::None);
    EXPECT_EQ(state.line.count, 4);
    EXPECT_EQ(state.line.shape(2).colour, colour);
    std::filesystem::current_path(before);

    window.reset();
    EXPECT_FALSE(QFile::exists(backup)) << "the backup goes with the run";
}

TEST_F(DesignFile, EmittancesTakenByTheBeamSizePanelAreAStep)
{
    open(dba);
    showWindow();
    window->beamSizesClick();
    window->showHistory();
    const QString title = window->windowTitle();
    const double before = state.run.epsYIn;
    auto* epsY = window->findChild<QLineEdit*>("edEpsy");
    ASSERT_NE(epsY, nullptr);
    epsY->setText("2");
    auto* use = window->findChild<QPushButton*>("bbUseBeam");
    ASSERT_NE(use, nullptr);
    use->click();
    ASSERT_TRUE(fake.errors.empty()) << fake.errors.front();
    ASSERT_NE(state.run.epsYIn, before);
    EXPECT_EQ(state.history.undoLabel(), "start values");
    EXPECT_TRUE(window->windowTitle().endsWith('*'));
    window->undoClick();
    EXPECT_EQ(state.run.epsYIn, before);
    EXPECT_EQ(window->windowTitle(), title);
}

} // namespace
} // namespace kestrune::test
