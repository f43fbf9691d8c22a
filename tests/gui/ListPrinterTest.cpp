#include "gui/ListPrinter.h"

#include "core/State.h"
#include "core/io/Listing.h"
#include "gui/io/ListingWindow.h"
#include "support/FakeMessages.h"

#include <QAction>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPrinter>
#include <QProcess>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

namespace kestrune {

namespace {

QString pdfText(const QStringList& arguments)
{
    QProcess process;
    process.start("pdftotext", arguments);
    EXPECT_TRUE(process.waitForFinished(30000));
    return QString::fromUtf8(process.readAllStandardOutput());
}

int pdfPages(const QString& fileName)
{
    QProcess process;
    process.start("pdfinfo", {fileName});
    EXPECT_TRUE(process.waitForFinished(30000));
    const QRegularExpressionMatch m =
        QRegularExpression("Pages:\\s+(\\d+)").match(QString::fromUtf8(process.readAllStandardOutput()));
    return m.hasMatch() ? m.captured(1).toInt() : -1;
}

// Left edge (points) of the first word on the page that equals word.
double wordLeft(const QString& bbox, const QString& word)
{
    const QRegularExpression re("xMin=\"([0-9.]+)\"[^>]*>" + QRegularExpression::escape(word) + "</word>");
    const QRegularExpressionMatch m = re.match(bbox);
    return m.hasMatch() ? m.captured(1).toDouble() : -1;
}

class ListPrinting : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(dir.filePath("list.pdf"));
        printer.setPageMargins(QMarginsF(20, 20, 20, 20), QPageLayout::Millimeter);
    }
    void TearDown() override { setPrintDialogHook({}); }

    QTemporaryDir dir;
    QPrinter printer{QPrinter::ScreenResolution};
    QFont courier{"Courier New", 10};
};

} // namespace

TEST_F(ListPrinting, EveryLineIsPrintedAfterFiveBlanksInTheGivenFont)
{
    const QStringList lines{"Magnet Lattice", "    # Name code    l(m)", "    1 QF      21   0.200",
                            "0123456789"};
    ASSERT_TRUE(printList(printer, lines, courier));

    const QString layout = pdfText({"-layout", printer.outputFileName(), "-"});
    EXPECT_TRUE(layout.contains("Magnet Lattice"));
    EXPECT_TRUE(layout.contains("# Name code    l(m)"));
    EXPECT_TRUE(layout.contains("1 QF      21   0.200"));
    EXPECT_LT(layout.indexOf("Magnet Lattice"), layout.indexOf("# Name")); // one printer line each

    // a fixed-pitch font: the text starts five characters after the margin (20 mm = 56.7 pt), and
    // "Name" another six further in
    const QString bbox = pdfText({"-bbox", printer.outputFileName(), "-"});
    const QRegularExpressionMatch digits =
        QRegularExpression("xMin=\"([0-9.]+)\"[^>]*xMax=\"([0-9.]+)\"[^>]*>0123456789<").match(bbox);
    ASSERT_TRUE(digits.hasMatch());
    const double pitch = (digits.captured(2).toDouble() - digits.captured(1).toDouble()) / 10;
    EXPECT_NEAR(pitch, 6, 0.3); // 10 pt Courier New
    EXPECT_NEAR(wordLeft(bbox, "Magnet"), 56.7 + 5 * pitch, 0.5);
    EXPECT_NEAR(wordLeft(bbox, "Name") - wordLeft(bbox, "Magnet"), 6 * pitch, 0.5);
}

TEST_F(ListPrinting, AFullPageContinuesOnTheNext)
{
    QStringList lines;
    for (int i = 1; i <= 150; ++i)
        lines << QString("line %1").arg(i);
    ASSERT_TRUE(printList(printer, lines, courier));
    // about 60 lines of 10 pt fit on an A4 page within 20 mm margins
    EXPECT_EQ(pdfPages(printer.outputFileName()), 3);
    const QString text = pdfText({printer.outputFileName(), "-"});
    EXPECT_TRUE(text.contains("line 1\n"));
    EXPECT_TRUE(text.contains("line 150"));
    EXPECT_EQ(text.count(QRegularExpression("line \\d+")), 150);
}

TEST_F(ListPrinting, TheDialogDecidesWhetherAnythingIsPrinted)
{
    const QString target = dir.filePath("dialog.pdf");
    setPrintDialogHook([&](QPrinter& p, QWidget*) {
        p.setOutputFormat(QPrinter::PdfFormat);
        p.setOutputFileName(target);
        return false;
    });
    EXPECT_FALSE(printListDialog(nullptr, {"nothing"}, courier));
    EXPECT_FALSE(QFile::exists(target));

    int resolution = 0;
    setPrintDialogHook([&](QPrinter& p, QWidget*) {
        resolution = p.resolution();
        p.setOutputFormat(QPrinter::PdfFormat);
        p.setOutputFileName(target);
        return true;
    });
    EXPECT_TRUE(printListDialog(nullptr, {"something\twith a tab"}, courier));
    EXPECT_EQ(resolution, 96); // screen resolution: point sizes print at their size
    // the tab becomes blanks up to the next multiple of eight characters: "with" starts in column 16
    const QString bbox = pdfText({"-bbox", target, "-"});
    EXPECT_NEAR((wordLeft(bbox, "with") - wordLeft(bbox, "something")) / 16, 6, 0.3);
}

class ListingWindowTest : public ::testing::Test
{
protected:
    State state;
    Windows windows;
    ListingWindow window{state, windows};
    QPlainTextEdit* memo() const { return window.findChild<QPlainTextEdit*>("mList"); }
};

TEST_F(ListingWindowTest, LooksAsTheListWindow)
{
    EXPECT_EQ(window.windowTitle(), "List of Parameters");
    EXPECT_EQ(window.size(), QSize(937, 500));
    ASSERT_NE(memo(), nullptr);
    EXPECT_TRUE(memo()->isReadOnly());
    EXPECT_EQ(memo()->lineWrapMode(), QPlainTextEdit::NoWrap);
    EXPECT_EQ(memo()->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_TRUE(QFontInfo(memo()->font()).fixedPitch());
    EXPECT_EQ(memo()->palette().color(QPalette::Base), QColor(192, 192, 192));
    const QList<QAction*> entries = window.menuBar()->actions();
    ASSERT_EQ(entries.size(), 1);
    EXPECT_EQ(entries[0]->text(), "Close");
    EXPECT_EQ(window.listFont(), memo()->font());
}

TEST_F(ListingWindowTest, ShowsTheStateTextAndHidesOnDoubleClickOrClose)
{
    addList(state, {"", "Magnet Lattice", std::string(90, '-')});
    window.showList();
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(memo()->toPlainText(), "\nMagnet Lattice\n" + QString(90, '-'));

    QTest::mouseDClick(memo()->viewport(), Qt::LeftButton, {}, QPoint(20, 20));
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(listLines(state).size(), 3u); // hiding keeps the text

    window.showList();
    ASSERT_TRUE(window.isVisible());
    window.menuBar()->actions().first()->trigger();
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(memo()->blockCount(), 3);
}

TEST_F(ListingWindowTest, AnAddedListIsScrolledIntoView)
{
    std::vector<std::string> first;
    for (int i = 0; i < 100; ++i)
        first.push_back("first list " + std::to_string(i));
    addList(state, first);
    window.showList();
    EXPECT_EQ(memo()->verticalScrollBar()->value(), 0);

    addList(state, {"second list"});
    window.showList();
    EXPECT_EQ(memo()->verticalScrollBar()->value(), memo()->verticalScrollBar()->maximum());
    EXPECT_GT(memo()->verticalScrollBar()->value(), 50);

    clearList(state); // a replaced list starts at the top
    addList(state, {"replaced"});
    window.showList();
    EXPECT_EQ(memo()->verticalScrollBar()->value(), 0);
    EXPECT_EQ(memo()->toPlainText(), "replaced");
}

TEST_F(ListingWindowTest, PrintsTheListTextInItsFont)
{
    QTemporaryDir dir;
    const QString target = dir.filePath("listing.pdf");
    addList(state, {"Storage Ring Parameters"});
    setPrintDialogHook([&](QPrinter& p, QWidget*) {
        p.setOutputFormat(QPrinter::PdfFormat);
        p.setOutputFileName(target);
        return true;
    });
    EXPECT_TRUE(window.printListing(&window));
    setPrintDialogHook({});
    EXPECT_TRUE(pdfText({target, "-"}).contains("Storage Ring Parameters"));
}

} // namespace kestrune
