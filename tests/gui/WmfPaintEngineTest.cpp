#include "gui/WmfPaintEngine.h"

#include "support/WmfRecords.h"

#include <QFontMetricsF>
#include <QPainter>
#include <gtest/gtest.h>

namespace kestrune {

namespace {

using test::parse;
using test::Parsed;
using test::Record;

constexpr std::uint16_t kSaveDc = 0x001E;
constexpr std::uint16_t kRestoreDc = 0x0127;
constexpr std::uint16_t kIntersectClipRect = 0x0416;
constexpr std::uint16_t kPolyline = 0x0325;
constexpr std::uint16_t kTextOut = 0x0521;
constexpr std::uint16_t kCreateFont = 0x02FB;
constexpr std::uint16_t kCreatePen = 0x02FA;

std::vector<std::uint16_t> functions(const Parsed& p, std::initializer_list<std::uint16_t> wanted)
{
    std::vector<std::uint16_t> list;
    for (const Record& r : p.records)
        if (std::find(wanted.begin(), wanted.end(), r.function) != wanted.end())
            list.push_back(r.function);
    return list;
}

const Record& first(const Parsed& p, std::uint16_t function)
{
    for (const Record& r : p.records)
        if (r.function == function)
            return r;
    static const Record none;
    ADD_FAILURE() << "no record " << function;
    return none;
}

} // namespace

TEST(WmfPaintEngine, ClipsAreSavedContextsThatEndWithTheClip)
{
    WmfPaintDevice device(QSize(200, 100));
    const int u = device.unitsPerPixel();
    ASSERT_EQ(u, 4);
    {
        QPainter painter(&device);
        painter.setPen(QPen(Qt::red, 1));
        painter.setClipRect(QRect(10, 20, 50, 30));
        painter.drawLine(QPointF(0, 0), QPointF(100, 50));
        painter.setClipping(false);
        painter.drawLine(QPointF(0, 50), QPointF(100, 0));
    }
    const Parsed p = parse(device.finish());
    EXPECT_EQ(p.placeable[5], 200 * u);
    EXPECT_EQ(p.placeable[7], 96 * u);
    EXPECT_EQ(functions(p, {kSaveDc, kIntersectClipRect, kPolyline, kRestoreDc}),
              (std::vector<std::uint16_t>{kSaveDc, kIntersectClipRect, kPolyline, kRestoreDc, kPolyline}));
    // bottom, right, top, left in metafile units
    EXPECT_EQ(
        first(p, kIntersectClipRect).params,
        (std::vector<std::uint16_t>{static_cast<std::uint16_t>(50 * u), static_cast<std::uint16_t>(60 * u),
                                    static_cast<std::uint16_t>(20 * u), static_cast<std::uint16_t>(10 * u)}));
    const Record& line = first(p, kPolyline);
    EXPECT_EQ(line.params, (std::vector<std::uint16_t>{2, 0, 0, static_cast<std::uint16_t>(100 * u),
                                                       static_cast<std::uint16_t>(50 * u)}));
    // the pen chosen inside the clipped context goes with it and is made again for the second line
    const auto pens = functions(p, {kCreatePen});
    EXPECT_EQ(pens.size(), 2u);
}

TEST(WmfPaintEngine, TextKeepsItsStringTopCornerAndTurn)
{
    WmfPaintDevice device(QSize(300, 300));
    const int u = device.unitsPerPixel();
    QFont font("Liberation Sans");
    font.setPixelSize(20);
    double ascent = 0;
    {
        QPainter painter(&device);
        painter.setFont(font);
        ascent = QFontMetricsF(painter.font(), &device).ascent();
        painter.setPen(Qt::blue);
        painter.translate(100, 200);
        painter.rotate(-90); // reads upwards, as a left axis title
        painter.drawText(QPointF(0, 0), "betay");
    }
    const Parsed p = parse(device.finish());
    const Record& font0 = first(p, kCreateFont);
    EXPECT_EQ(static_cast<std::int16_t>(font0.params[0]), -20 * u); // character height
    EXPECT_EQ(font0.params[2], 900);                                // escapement: 90 degrees
    const Record& text = first(p, kTextOut);
    ASSERT_EQ(text.params[0], 5);
    const std::string s{static_cast<char>(text.params[1] & 0xFF), static_cast<char>(text.params[1] >> 8),
                        static_cast<char>(text.params[2] & 0xFF), static_cast<char>(text.params[2] >> 8),
                        static_cast<char>(text.params[3] & 0xFF)};
    EXPECT_EQ(s, "betay");
    // the top left corner of upward text lies ascent pixels to the left of the base line start
    EXPECT_NEAR(static_cast<std::int16_t>(text.params[4]), 200 * u, 1);
    EXPECT_NEAR(static_cast<std::int16_t>(text.params[5]), (100 - ascent) * u, 1);
}

} // namespace kestrune
