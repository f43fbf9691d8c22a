#include "core/io/WmfWriter.h"

#include "support/WmfRecords.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <vector>

namespace kestrune {

namespace {

using test::parse;
using test::Parsed;
using test::Record;
using test::withFunction;

constexpr std::uint16_t kPolyline = 0x0325;
constexpr std::uint16_t kDeleteObject = 0x01F0;
constexpr std::uint16_t kSelectObject = 0x012D;
constexpr std::uint16_t kCreatePen = 0x02FA;

} // namespace

TEST(WmfWriter, HeadersDescribeTheFile)
{
    WmfWriter writer(2400, 1600, 384);
    const int pen = writer.createPen(WmfPen{WmfPenStyle::Solid, 4, WmfColor{255, 0, 0}});
    writer.selectObject(pen);
    writer.rectangle(10, 20, 110, 220);
    writer.textOut(50, 60, "beta_x");
    const Parsed p = parse(writer.finish());

    EXPECT_EQ(p.placeable[0], 0xCDD7);
    EXPECT_EQ(p.placeable[1], 0x9AC6);
    EXPECT_EQ(p.placeable[5], 2400); // right
    EXPECT_EQ(p.placeable[6], 1600); // bottom
    EXPECT_EQ(p.placeable[7], 384);  // units per inch
    std::uint16_t checksum = 0;
    for (int i = 0; i < 10; ++i)
        checksum ^= p.placeable[i];
    EXPECT_EQ(p.placeable[10], checksum);

    EXPECT_EQ(p.header[1], 9);      // header size in words
    EXPECT_EQ(p.header[2], 0x0300); // version
    EXPECT_EQ(p.header[3] | p.header[4] << 16, p.words);
    EXPECT_EQ(p.header[5], 1); // one object

    ASSERT_FALSE(p.records.empty());
    EXPECT_EQ(p.records.back().function, 0); // end record
    std::uint32_t largest = 0;
    for (const Record& r : p.records)
        largest = std::max<std::uint32_t>(largest, static_cast<std::uint32_t>(3 + r.params.size()));
    EXPECT_EQ(p.header[6] | p.header[7] << 16, largest);

    const auto rects = withFunction(p, 0x041B);
    ASSERT_EQ(rects.size(), 1u);
    EXPECT_EQ(rects[0].params, (std::vector<std::uint16_t>{220, 110, 20, 10})); // bottom, right, top, left

    const auto texts = withFunction(p, 0x0521);
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0].params[0], 6);              // length
    EXPECT_EQ(texts[0].params[1], 'b' | 'e' << 8); // text packed two bytes to a word
    EXPECT_EQ(texts[0].params[4], 60);             // y after the text
    EXPECT_EQ(texts[0].params[5], 50);             // then x

    const auto pens = withFunction(p, kCreatePen);
    ASSERT_EQ(pens.size(), 1u);
    EXPECT_EQ(pens[0].params, (std::vector<std::uint16_t>{0, 4, 0, 0x00FF, 0})); // COLORREF 0x000000FF
}

TEST(WmfWriter, LongPolylinesAreSplitWithSharedEnds)
{
    const int count = 2 * WmfWriter::kMaxPoints + 10;
    std::vector<WmfPoint> points;
    for (int i = 0; i < count; ++i)
        points.push_back(WmfPoint{i % 30000, i / 30000});
    WmfWriter writer(100, 100, 96);
    writer.polyline(points);
    const auto lines = withFunction(parse(writer.finish()), kPolyline);

    ASSERT_EQ(lines.size(), 3u);
    std::size_t total = 0;
    for (const Record& r : lines) {
        EXPECT_LE(r.params[0], WmfWriter::kMaxPoints);
        EXPECT_EQ(r.params.size(), 1u + 2u * r.params[0]);
        total += r.params[0];
    }
    EXPECT_EQ(total, static_cast<std::size_t>(count) + 2); // two joints drawn twice
    for (std::size_t k = 0; k + 1 < lines.size(); ++k) {
        const auto& a = lines[k].params;
        const auto& b = lines[k + 1].params;
        EXPECT_EQ(a[a.size() - 2], b[1]);
        EXPECT_EQ(a[a.size() - 1], b[2]);
    }
    // the last point of the last piece is the last point given
    EXPECT_EQ(lines.back().params[lines.back().params.size() - 2], (count - 1) % 30000);
}

TEST(WmfWriter, CoordinatesOutsideSixteenBitsAreClamped)
{
    WmfWriter writer(100, 100, 96);
    writer.polyline({WmfPoint{-100000, 5}, WmfPoint{100000, 6}});
    const auto lines = withFunction(parse(writer.finish()), kPolyline);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(static_cast<std::int16_t>(lines[0].params[1]), -32768);
    EXPECT_EQ(static_cast<std::int16_t>(lines[0].params[3]), 32767);
}

TEST(WmfWriter, ReleasedObjectsGoOnlyWhenNoContextHoldsThem)
{
    WmfWriter writer(100, 100, 96);
    const int red = writer.createPen(WmfPen{WmfPenStyle::Solid, 1, WmfColor{255, 0, 0}});
    writer.selectObject(red);
    writer.release(red); // still selected: stays
    writer.saveDc();
    const int blue = writer.createPen(WmfPen{WmfPenStyle::Solid, 1, WmfColor{0, 0, 255}});
    EXPECT_EQ(blue, 1);
    writer.selectObject(blue);
    writer.release(blue);
    EXPECT_EQ(writer.selected(WmfWriter::Kind::Pen), blue);
    writer.restoreDc(); // red comes back, blue is unused now
    EXPECT_EQ(writer.selected(WmfWriter::Kind::Pen), red);
    // the freed index is taken again by the next object, as a player would assign it
    const int green = writer.createPen(WmfPen{WmfPenStyle::Solid, 1, WmfColor{0, 255, 0}});
    EXPECT_EQ(green, 1);
    writer.selectObject(green); // red is released and deselected: deleted
    const Parsed p = parse(writer.finish());

    // red survives the saved context; blue goes after the restore, red after green is selected
    std::vector<std::uint16_t> order;
    for (const Record& r : p.records)
        if (r.function == kDeleteObject || r.function == kSelectObject || r.function == 0x0127)
            order.push_back(r.function == kDeleteObject ? static_cast<std::uint16_t>(100 + r.params[0])
                                                        : r.function);
    EXPECT_EQ(order,
              (std::vector<std::uint16_t>{kSelectObject, kSelectObject, 0x0127, 101, kSelectObject, 100}));
    EXPECT_EQ(p.header[5], 2); // never more than two objects at once
}

TEST(WmfWriter, StateRecordsAreWrittenOnlyOnChange)
{
    WmfWriter writer(100, 100, 96);
    writer.setTextColor(WmfColor{0, 0, 0}); // black already
    writer.setTextColor(WmfColor{0, 0, 128});
    writer.setTextColor(WmfColor{0, 0, 128});
    writer.saveDc();
    writer.setTextColor(WmfColor{255, 0, 0});
    writer.restoreDc();
    writer.setTextColor(WmfColor{0, 0, 128}); // restored: nothing to write
    const auto colours = withFunction(parse(writer.finish()), 0x0209);
    ASSERT_EQ(colours.size(), 3u); // the initial black, navy, red
    EXPECT_EQ(colours[1].params[1], 128);
}

TEST(WmfWriter, PicturesAreBottomUpBgrRowsPaddedToFourBytes)
{
    // 2 x 2 pixels: red, green / blue, white
    const std::vector<std::uint8_t> rgb{255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255};
    WmfWriter writer(100, 100, 96);
    writer.stretchDib(10, 20, 40, 30, 2, 2, rgb);
    const auto dibs = withFunction(parse(writer.finish()), 0x0F43);
    ASSERT_EQ(dibs.size(), 1u);
    const auto& w = dibs[0].params;
    EXPECT_EQ(w[7], 30); // destination height, width, y, x
    EXPECT_EQ(w[8], 40);
    EXPECT_EQ(w[9], 20);
    EXPECT_EQ(w[10], 10);
    std::vector<std::uint8_t> dib;
    for (std::size_t i = 11; i < w.size(); ++i) {
        dib.push_back(static_cast<std::uint8_t>(w[i] & 0xFF));
        dib.push_back(static_cast<std::uint8_t>(w[i] >> 8));
    }
    ASSERT_EQ(dib.size(), 40u + 2 * 8);
    EXPECT_EQ(dib[0], 40);
    EXPECT_EQ(dib[14], 24); // bits per pixel
    // first stored row is the bottom one: blue, white, then two bytes of padding
    EXPECT_EQ(std::vector<std::uint8_t>(dib.begin() + 40, dib.begin() + 48),
              (std::vector<std::uint8_t>{255, 0, 0, 255, 255, 255, 0, 0}));
    EXPECT_EQ(std::vector<std::uint8_t>(dib.begin() + 48, dib.begin() + 54),
              (std::vector<std::uint8_t>{0, 0, 255, 0, 255, 0}));
}

} // namespace kestrune
