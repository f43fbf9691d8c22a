#include "gui/shell/HelpWindow.h"

#include "gui/QtMessages.h"
#include "support/FakeMessages.h"

#include <QDir>
#include <QFile>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPrinter>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace kestrune {
namespace {

QString readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly | QIODevice::Text) ? QString::fromUtf8(file.readAll()) : QString();
}

class HelpWindowTest : public ::testing::Test
{
protected:
    HelpWindowTest() : messages(windows)
    {
        messages.redirectTo(&fake);
        windows.messages = &messages;
    }
    QString userDirectory() const { return directory.filePath("user"); }
    std::unique_ptr<HelpWindow> open(const QString& dataDirectory)
    {
        return std::make_unique<HelpWindow>(state, windows, nullptr, dataDirectory);
    }
    static QPlainTextEdit* memo(HelpWindow& window) { return window.findChild<QPlainTextEdit*>("mHelp"); }

    QTemporaryDir directory;
    State state;
    Windows windows;
    test::FakeMessages fake;
    QtMessages messages;
};

TEST_F(HelpWindowTest, TheUsersCopyIsMadeFromTheOriginal)
{
    auto window = open(userDirectory());
    const QString original = readAll(originalHelpPath(userDirectory()));
    ASSERT_TRUE(original.contains("THE PARTICLE WINDOW"));
    EXPECT_EQ(readAll(window->helpFilePath()), original);
    EXPECT_EQ(memo(*window)->toPlainText() + "\n", original);
    EXPECT_EQ(window->pos(), QPoint(50, 20));
    EXPECT_EQ(window->size(), QSize(680, 500));
    EXPECT_TRUE(fake.errors.empty());
}

TEST_F(HelpWindowTest, FileMenuOffersTheEntriesInOrder)
{
    auto window = open(userDirectory());
    const QList<QAction*> menus = window->menuBar()->actions();
    ASSERT_EQ(menus.size(), 1);
    EXPECT_EQ(menus[0]->text(), "&File");
    QStringList entries;
    for (const QAction* action : menus[0]->menu()->actions())
        if (!action->isSeparator())
            entries << action->text();
    EXPECT_EQ(entries,
              QStringList({"&Get orig. Help File", "&Save", "&Print...", "P&rint Setup...", "E&xit"}));

    // "P&rint Setup..." has no action: the text stays as it is and nothing is reported
    const QString before = memo(*window)->toPlainText();
    window->findChild<QAction*>("mnPrintSetup")->trigger();
    EXPECT_EQ(memo(*window)->toPlainText(), before);
    EXPECT_TRUE(fake.errors.empty());
}

TEST_F(HelpWindowTest, SavedTextComesBackUntilTheOriginalIsFetched)
{
    auto window = open(userDirectory());
    const QString original = memo(*window)->toPlainText();
    memo(*window)->setPlainText("my notes on the FODO cell\nsecond line");
    window->saveHelpFileClick();
    EXPECT_EQ(readAll(window->helpFilePath()), "my notes on the FODO cell\nsecond line\n");

    auto reopened = open(userDirectory());
    EXPECT_EQ(memo(*reopened)->toPlainText(), "my notes on the FODO cell\nsecond line");

    reopened->getOrigHelpFileClick();
    EXPECT_EQ(memo(*reopened)->toPlainText(), original);
    EXPECT_EQ(readAll(reopened->helpFilePath()), "my notes on the FODO cell\nsecond line\n");
    reopened->saveHelpFileClick();
    EXPECT_EQ(readAll(reopened->helpFilePath()), original + "\n");
    EXPECT_TRUE(fake.errors.empty());
    EXPECT_EQ(QDir(userDirectory()).entryList(QDir::Files), QStringList{"Help.doc"}); // no temporary left
}

TEST_F(HelpWindowTest, AFileThatCannotBeReadOrWrittenGivesAMessage)
{
    QFile blocker(directory.filePath("blocker"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    auto window = open(directory.filePath("blocker/user"));
    ASSERT_EQ(fake.errors.size(), 1u);
    EXPECT_TRUE(QString::fromStdString(fake.errors[0]).startsWith("Cannot open file \"")) << fake.errors[0];
    EXPECT_TRUE(memo(*window)->toPlainText().contains("THE START WINDOW")); // the original instead

    window->saveHelpFileClick();
    ASSERT_EQ(fake.errors.size(), 2u);
    EXPECT_TRUE(QString::fromStdString(fake.errors[1]).startsWith("cannot write file ")) << fake.errors[1];
}

TEST_F(HelpWindowTest, PrintsTheTextIndentedOnTheChosenPrinter)
{
    auto window = open(userDirectory());
    window->setPrinterChoice([](QPrinter&) { return false; });
    window->printClick(); // cancelled: nothing happens

    const QString pdf = directory.filePath("help.pdf");
    window->setPrinterChoice([&](QPrinter& printer) {
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(pdf);
        return true;
    });
    memo(*window)->setPlainText("first line of help\nsecond line of help");
    window->printClick();
    ASSERT_TRUE(QFile::exists(pdf));
    const QString pdftotext = QStandardPaths::findExecutable("pdftotext");
    if (pdftotext.isEmpty())
        GTEST_SKIP() << "pdftotext is not installed";
    QProcess process;
    process.start(pdftotext, {"-layout", pdf, "-"});
    ASSERT_TRUE(process.waitForFinished(20000));
    const QString text = QString::fromUtf8(process.readAllStandardOutput());
    EXPECT_TRUE(text.contains("first line of help")) << text.toStdString();
    EXPECT_TRUE(text.contains("second line of help"));
}

} // namespace
} // namespace kestrune
