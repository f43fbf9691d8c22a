#include "gui/GraphExport.h"

#include "gui/ExternalTool.h"
#include "support/FakeMessages.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QPrinter>
#include <QProcess>
#include <QRegularExpression>
#include <QSvgRenderer>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <qcustomplot.h>

namespace kestrune {

namespace {

using test::runTool;

// A chart with a line graph of five points, a rectangle and two texts, at 600 x 400 pixels.
std::unique_ptr<QCustomPlot> makeChart()
{
    auto plot = std::make_unique<QCustomPlot>();
    plot->resize(600, 400);
    plot->plotLayout()->insertRow(0);
    plot->plotLayout()->addElement(0, 0, new QCPTextElement(plot.get(), "Periodic Magnet Lattice"));
    QCPGraph* graph = plot->addGraph();
    graph->setPen(QPen(Qt::red, 2));
    graph->setData({0, 1, 2, 3, 4}, {0, 1, 4, 9, 16});
    plot->xAxis->setLabel("s (m)");
    plot->yAxis->setLabel("betax (m)");
    plot->xAxis->setRange(-1, 5);
    plot->yAxis->setRange(-2, 18);
    auto* rect = new QCPItemRect(plot.get());
    rect->topLeft->setCoords(1, 12);
    rect->bottomRight->setCoords(3, 6);
    rect->setPen(QPen(Qt::blue));
    rect->setBrush(QBrush(Qt::yellow));
    auto* text = new QCPItemText(plot.get());
    text->position->setCoords(2, 14);
    text->setText("QF1 quadrupole");
    plot->replot();
    return plot;
}

QString readText(const QString& fileName)
{
    QFile file(fileName);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << fileName.toStdString();
    return QString::fromUtf8(file.readAll());
}

// Every element of an SVG file with its attributes, and the texts in it.
struct SvgContent
{
    QList<QXmlStreamAttributes> polylines;
    QList<QXmlStreamAttributes> rects;
    QStringList texts;
    bool valid = false;
};

SvgContent readSvg(const QString& svg)
{
    SvgContent content;
    QXmlStreamReader xml(svg);
    while (!xml.atEnd()) {
        xml.readNext();
        if (!xml.isStartElement())
            continue;
        if (xml.name() == QLatin1String("polyline"))
            content.polylines << xml.attributes();
        else if (xml.name() == QLatin1String("rect"))
            content.rects << xml.attributes();
        else if (xml.name() == QLatin1String("text") || xml.name() == QLatin1String("tspan"))
            content.texts << xml.readElementText(QXmlStreamReader::IncludeChildElements);
    }
    content.valid = !xml.hasError();
    return content;
}

QList<QPointF> points(const QXmlStreamAttributes& polyline)
{
    QList<QPointF> list;
    const QStringList numbers =
        polyline.value("points").toString().split(QRegularExpression("[\\s,]+"), Qt::SkipEmptyParts);
    for (qsizetype i = 0; i + 1 < numbers.size(); i += 2)
        list << QPointF(numbers[i].toDouble(), numbers[i + 1].toDouble());
    return list;
}

class GraphExport : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }
    void TearDown() override { setSaveGraphDialogHook({}); }
    QString path(const QString& name) const { return dir.filePath(name); }

    QTemporaryDir dir;
    test::FakeMessages messages;
};

} // namespace

TEST_F(GraphExport, MetafileReadBackShowsLinesRectangleAndTexts)
{
    const auto plot = makeChart();
    ASSERT_TRUE(saveChart(plot.get(), path("chart.wmf"), messages));
    EXPECT_TRUE(messages.errors.empty());

    runTool("wmf2svg", {"-o", path("chart.svg"), path("chart.wmf")});
    const SvgContent svg = readSvg(readText(path("chart.svg")));
    ASSERT_TRUE(svg.valid);

    const QString allText = svg.texts.join('|');
    EXPECT_TRUE(allText.contains("Periodic Magnet Lattice")) << allText.toStdString();
    EXPECT_TRUE(allText.contains("QF1 quadrupole"));
    EXPECT_TRUE(allText.contains("s (m)"));
    EXPECT_TRUE(allText.contains("betax (m)"));

    // the graph: the one polyline of five points whose heights rise by 1, 3, 5, 7 units
    QPointF unit; // pixels per axis unit in x and y, as the reader drew them
    int graphs = 0;
    for (const QXmlStreamAttributes& polyline : svg.polylines) {
        const QList<QPointF> p = points(polyline);
        if (p.size() != 5 || p[0].y() - p[1].y() <= 0)
            continue;
        ++graphs;
        unit = QPointF(p[1].x() - p[0].x(), p[0].y() - p[1].y());
        EXPECT_NEAR((p[1].y() - p[2].y()) / unit.y(), 3, 0.05);
        EXPECT_NEAR((p[3].y() - p[4].y()) / unit.y(), 7, 0.05);
        EXPECT_NEAR((p[4].x() - p[0].x()) / unit.x(), 4, 0.05);
    }
    ASSERT_EQ(graphs, 1);

    // the item rectangle, filled yellow: 2 axis units wide and 6 high, its top left at (1, 12)
    int rects = 0;
    for (const QXmlStreamAttributes& rect : svg.rects) {
        if (!rect.value("style").toString().contains("fill:yellow"))
            continue;
        ++rects;
        EXPECT_NEAR(rect.value("width").toDouble() / unit.x(), 2, 0.05);
        EXPECT_NEAR(rect.value("height").toDouble() / unit.y(), 6, 0.05);
    }
    EXPECT_EQ(rects, 1);
}

TEST_F(GraphExport, VectorAndPictureFormatsAreComplete)
{
    const auto plot = makeChart();
    for (const char* name : {"chart.svg", "chart.pdf", "chart.png"})
        ASSERT_TRUE(saveChart(plot.get(), path(name), messages)) << name;
    EXPECT_TRUE(messages.errors.empty());

    const QString svgText = readText(path("chart.svg"));
    EXPECT_TRUE(readSvg(svgText).valid);
    EXPECT_TRUE(QSvgRenderer(path("chart.svg")).isValid());
    EXPECT_TRUE(svgText.contains("QF1 quadrupole"));

    const QString pdfText = runTool("pdftotext", {path("chart.pdf"), "-"});
    EXPECT_TRUE(pdfText.contains("Periodic Magnet Lattice")) << pdfText.toStdString();

    const QImage png(path("chart.png"));
    ASSERT_FALSE(png.isNull());
    EXPECT_EQ(png.size(), QSize(600, 400));
    EXPECT_EQ(QColor(png.pixel(2, 2)), QColor(Qt::white));
}

TEST_F(GraphExport, EveryTypeTheDialogOffersIsWrittenInItsOwnFormat)
{
    const auto plot = makeChart();
    const std::map<QString, QByteArray> signatures = {
        {"wmf", QByteArray::fromHex("d7cdc69a")}, {"svg", "<?xml"}, {"pdf", "%PDF"}, {"png", "\x89PNG"}};
    const QStringList filters = graphFileFilters();
    ASSERT_EQ(filters.size(), 4);
    for (const QString& filter : filters) {
        const QString suffix = filter.section("*.", 1).chopped(1);
        ASSERT_EQ(signatures.count(suffix), 1u) << filter.toStdString();
        const QString file = path("offered." + suffix);
        ASSERT_TRUE(saveChart(plot.get(), file, messages)) << filter.toStdString();
        QFile written(file);
        ASSERT_TRUE(written.open(QIODevice::ReadOnly));
        EXPECT_TRUE(written.read(8).startsWith(signatures.at(suffix))) << filter.toStdString();
    }
}

TEST_F(GraphExport, ReplacesAnExistingFileAndLeavesNoTemporaryFile)
{
    {
        QFile old(path("old.wmf"));
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("not a metafile");
    }
    const auto plot = makeChart();
    ASSERT_TRUE(saveChart(plot.get(), path("old.wmf"), messages));
    QFile file(path("old.wmf"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.read(4), QByteArray("\xD7\xCD\xC6\x9A", 4)); // placeable metafile key
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"old.wmf"});
}

TEST_F(GraphExport, AReadOnlyFileIsReplacedOnlyWhenTheUserSaysYes)
{
    {
        QFile old(path("kept.png"));
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("mine");
    }
    QFile::setPermissions(path("kept.png"), QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);
    const auto plot = makeChart();
    messages.answers = {false};
    EXPECT_FALSE(saveChart(plot.get(), path("kept.png"), messages));
    ASSERT_EQ(messages.questions.size(), 1u);
    EXPECT_EQ(QFile(path("kept.png")).size(), 4);
    messages.answers = {true};
    EXPECT_TRUE(saveChart(plot.get(), path("kept.png"), messages));
    EXPECT_GT(QFile(path("kept.png")).size(), 100);
    EXPECT_EQ(QFile::permissions(path("kept.png")) & QFile::WriteOwner, 0) << "the file stays read-only";
    EXPECT_TRUE(messages.errors.empty());
}

TEST_F(GraphExport, AFileThatCannotBeCreatedIsReportedByName)
{
    const auto plot = makeChart();
    const QString target = path("missing/chart.wmf");
    EXPECT_FALSE(saveChart(plot.get(), target, messages));
    ASSERT_EQ(messages.errors.size(), 1u);
    EXPECT_NE(messages.errors[0].find(target.toStdString()), std::string::npos) << messages.errors[0];
    EXPECT_FALSE(QFile::exists(target));
}

TEST_F(GraphExport, DialogChoosesTheFileAndCancelWritesNothing)
{
    const auto plot = makeChart();
    QWidget owner;
    QWidget* askedBy = nullptr;
    setSaveGraphDialogHook([&](QWidget* o) {
        askedBy = o;
        return QString();
    });
    EXPECT_FALSE(exportChartDialog(&owner, plot.get(), messages));
    EXPECT_EQ(askedBy, &owner);
    EXPECT_TRUE(QDir(dir.path()).isEmpty());

    setSaveGraphDialogHook([&](QWidget*) { return path("lattice.wmf"); });
    EXPECT_TRUE(exportChartDialog(&owner, plot.get(), messages));
    EXPECT_GT(QFile(path("lattice.wmf")).size(), 1000);
    EXPECT_TRUE(messages.errors.empty());
}

TEST_F(GraphExport, PrintedChartKeepsItsTexts)
{
    const auto plot = makeChart();
    QPrinter printer(QPrinter::ScreenResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(path("print.pdf"));
    ASSERT_TRUE(printChart(plot.get(), printer, QMarginsF(10, 5, 10, 5)));
    const QString text = runTool("pdftotext", {path("print.pdf"), "-"});
    EXPECT_TRUE(text.contains("Periodic Magnet Lattice")) << text.toStdString();
    EXPECT_TRUE(text.contains("QF1 quadrupole"));
    // margins of 10 % of the width on the left
    const QString bbox = runTool("pdftotext", {"-bbox", path("print.pdf"), "-"});
    const QRegularExpressionMatch page = QRegularExpression("<page width=\"([0-9.]+)\"").match(bbox);
    ASSERT_TRUE(page.hasMatch());
    const double pageWidth = page.captured(1).toDouble();
    QRegularExpressionMatchIterator words = QRegularExpression("xMin=\"([0-9.]+)\"").globalMatch(bbox);
    double leftmost = pageWidth;
    while (words.hasNext())
        leftmost = std::min(leftmost, words.next().captured(1).toDouble());
    EXPECT_GT(leftmost, 0.1 * pageWidth);
}

} // namespace kestrune
