#include "core/io/WmfWriter.h"

#include <algorithm>
#include <stdexcept>

namespace kestrune {

namespace {

// record functions of the 16-bit metafile (MS-WMF 2.1.1.1)
constexpr std::uint16_t kEof = 0x0000;
constexpr std::uint16_t kSaveDc = 0x001E;
constexpr std::uint16_t kSetBkMode = 0x0102;
constexpr std::uint16_t kSetPolyFillMode = 0x0106;
constexpr std::uint16_t kRestoreDc = 0x0127;
constexpr std::uint16_t kSelectObject = 0x012D;
constexpr std::uint16_t kSetTextAlign = 0x012E;
constexpr std::uint16_t kDeleteObject = 0x01F0;
constexpr std::uint16_t kSetTextColor = 0x0209;
constexpr std::uint16_t kSetWindowOrg = 0x020B;
constexpr std::uint16_t kSetWindowExt = 0x020C;
constexpr std::uint16_t kCreatePenIndirect = 0x02FA;
constexpr std::uint16_t kCreateFontIndirect = 0x02FB;
constexpr std::uint16_t kCreateBrushIndirect = 0x02FC;
constexpr std::uint16_t kPolygon = 0x0324;
constexpr std::uint16_t kPolyline = 0x0325;
constexpr std::uint16_t kIntersectClipRect = 0x0416;
constexpr std::uint16_t kEllipse = 0x0418;
constexpr std::uint16_t kRectangle = 0x041B;
constexpr std::uint16_t kTextOut = 0x0521;
constexpr std::uint16_t kStretchDib = 0x0F43;

constexpr std::uint16_t kTransparent = 1;
constexpr std::uint16_t kAlternate = 1;
constexpr std::uint16_t kWinding = 2;
constexpr std::uint16_t kTaTop = 0; // TA_TOP | TA_LEFT | TA_NOUPDATECP
constexpr std::uint32_t kSrcCopy = 0x00CC0020;

std::uint16_t word(int value)
{
    return static_cast<std::uint16_t>(static_cast<std::int16_t>(std::clamp(value, -32768, 32767)));
}

std::uint16_t lowWord(std::uint32_t value)
{
    return static_cast<std::uint16_t>(value & 0xFFFFu);
}

std::uint16_t highWord(std::uint32_t value)
{
    return static_cast<std::uint16_t>(value >> 16);
}

std::uint32_t colorRef(WmfColor c)
{
    return static_cast<std::uint32_t>(c.r) | static_cast<std::uint32_t>(c.g) << 8 |
           static_cast<std::uint32_t>(c.b) << 16;
}

// Bytes packed two to a 16-bit word, little-endian, the last one padded with a zero.
void appendBytes(std::vector<std::uint16_t>& words, const std::vector<std::uint8_t>& bytes)
{
    for (std::size_t i = 0; i < bytes.size(); i += 2) {
        const std::uint8_t high = i + 1 < bytes.size() ? bytes[i + 1] : 0;
        words.push_back(static_cast<std::uint16_t>(bytes[i] | high << 8));
    }
}

void appendU32(std::vector<std::uint8_t>& bytes, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

void appendU16(std::vector<std::uint8_t>& bytes, std::uint16_t value)
{
    bytes.push_back(static_cast<std::uint8_t>(value & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(value >> 8));
}

} // namespace

WmfWriter::WmfWriter(int width, int height, int unitsPerInch)
    : m_width(width), m_height(height), m_unitsPerInch(unitsPerInch)
{
    record(kSetWindowOrg, {0, 0});
    record(kSetWindowExt, {word(height), word(width)});
    record(kSetBkMode, {kTransparent, 0});
    record(kSetTextAlign, {kTaTop, 0});
    record(kSetPolyFillMode, {kAlternate, 0});
    m_polyFill = kAlternate;
    record(kSetTextColor, {0, 0});
}

void WmfWriter::record(std::uint16_t function, const std::vector<std::uint16_t>& params)
{
    const auto size = static_cast<std::uint32_t>(3 + params.size());
    m_records.push_back(lowWord(size));
    m_records.push_back(highWord(size));
    m_records.push_back(function);
    m_records.insert(m_records.end(), params.begin(), params.end());
    m_maxRecord = std::max(m_maxRecord, size);
}

int WmfWriter::allocate(Kind kind)
{
    // a new object takes the lowest free index of the table, as the player assigns them
    std::size_t index = 0;
    while (index < m_slots.size() && m_slots[index].used)
        ++index;
    if (index == m_slots.size()) {
        m_slots.emplace_back();
        m_kinds.push_back(kind);
    }
    m_slots[index] = Slot{true, false};
    m_kinds[index] = kind;
    m_maxObjects = std::max(m_maxObjects, m_slots.size());
    return static_cast<int>(index);
}

int WmfWriter::createPen(const WmfPen& pen)
{
    const std::uint32_t color = colorRef(pen.color);
    record(kCreatePenIndirect,
           {static_cast<std::uint16_t>(pen.style), word(pen.width), 0, lowWord(color), highWord(color)});
    return allocate(Kind::Pen);
}

int WmfWriter::createBrush(const WmfBrush& brush)
{
    const std::uint32_t color = colorRef(brush.color);
    const std::uint16_t style = brush.null ? 1 : 0; // BS_NULL, BS_SOLID
    record(kCreateBrushIndirect, {style, lowWord(color), highWord(color), 0});
    return allocate(Kind::Brush);
}

int WmfWriter::createFont(const WmfFont& font)
{
    std::vector<std::uint16_t> params{word(font.height), 0, word(font.escapement), word(font.escapement),
                                      word(font.weight)};
    std::vector<std::uint8_t> bytes{static_cast<std::uint8_t>(font.italic ? 1 : 0),
                                    static_cast<std::uint8_t>(font.underline ? 1 : 0),
                                    0,  // strike out
                                    0,  // ANSI_CHARSET
                                    4,  // OUT_TT_PRECIS
                                    0,  // CLIP_DEFAULT_PRECIS
                                    2,  // PROOF_QUALITY
                                    0}; // DEFAULT_PITCH | FF_DONTCARE
    std::string face = font.faceName.substr(0, 31);
    bytes.insert(bytes.end(), face.begin(), face.end());
    bytes.resize(8 + 32, 0);
    appendBytes(params, bytes);
    record(kCreateFontIndirect, params);
    return allocate(Kind::Font);
}

void WmfWriter::selectObject(int handle)
{
    if (handle < 0 || handle >= static_cast<int>(m_slots.size()) || !m_slots[handle].used)
        throw std::logic_error("WmfWriter: selecting an object that does not exist");
    const int kind = static_cast<int>(m_kinds[handle]);
    const int previous = m_selection[kind];
    if (previous == handle)
        return;
    record(kSelectObject, {static_cast<std::uint16_t>(handle)});
    m_selection[kind] = handle;
    if (previous >= 0)
        deleteIfUnused(previous);
}

void WmfWriter::release(int handle)
{
    if (handle < 0 || handle >= static_cast<int>(m_slots.size()) || !m_slots[handle].used)
        return;
    m_slots[handle].released = true;
    deleteIfUnused(handle);
}

bool WmfWriter::isSelected(int handle) const
{
    const auto has = [handle](const std::array<int, 3>& selection) {
        return std::find(selection.begin(), selection.end(), handle) != selection.end();
    };
    return has(m_selection) ||
           std::any_of(m_saved.begin(), m_saved.end(), [&](const DcState& dc) { return has(dc.selection); });
}

void WmfWriter::deleteIfUnused(int handle)
{
    Slot& slot = m_slots[handle];
    if (!slot.used || !slot.released || isSelected(handle))
        return;
    record(kDeleteObject, {static_cast<std::uint16_t>(handle)});
    slot = Slot{};
}

void WmfWriter::setTextColor(WmfColor color)
{
    if (color == m_textColor)
        return;
    const std::uint32_t c = colorRef(color);
    record(kSetTextColor, {lowWord(c), highWord(c)});
    m_textColor = color;
}

void WmfWriter::setPolyFillAlternate(bool alternate)
{
    const int mode = alternate ? kAlternate : kWinding;
    if (mode == m_polyFill)
        return;
    record(kSetPolyFillMode, {static_cast<std::uint16_t>(mode), 0});
    m_polyFill = mode;
}

void WmfWriter::pointsRecord(std::uint16_t function, const std::vector<WmfPoint>& points, std::size_t begin,
                             std::size_t end)
{
    std::vector<std::uint16_t> params;
    params.reserve(1 + 2 * (end - begin));
    params.push_back(static_cast<std::uint16_t>(end - begin));
    for (std::size_t i = begin; i < end; ++i) {
        params.push_back(word(points[i].x));
        params.push_back(word(points[i].y));
    }
    record(function, params);
}

void WmfWriter::polyline(const std::vector<WmfPoint>& points)
{
    if (points.size() < 2)
        return;
    // each piece starts where the last one ended, so the line stays unbroken
    for (std::size_t begin = 0; begin + 1 < points.size(); begin += kMaxPoints - 1) {
        const std::size_t end = std::min(points.size(), begin + kMaxPoints);
        pointsRecord(kPolyline, points, begin, end);
    }
}

void WmfWriter::polygon(const std::vector<WmfPoint>& points)
{
    if (points.size() < 2)
        return;
    if (points.size() <= static_cast<std::size_t>(kMaxPoints)) {
        pointsRecord(kPolygon, points, 0, points.size());
        return;
    }
    const std::size_t step = (points.size() + kMaxPoints - 1) / kMaxPoints;
    std::vector<WmfPoint> thinned;
    for (std::size_t i = 0; i < points.size(); i += step)
        thinned.push_back(points[i]);
    pointsRecord(kPolygon, thinned, 0, thinned.size());
}

void WmfWriter::rectangle(int left, int top, int right, int bottom)
{
    record(kRectangle, {word(bottom), word(right), word(top), word(left)});
}

void WmfWriter::ellipse(int left, int top, int right, int bottom)
{
    record(kEllipse, {word(bottom), word(right), word(top), word(left)});
}

void WmfWriter::textOut(int x, int y, const std::string& text)
{
    if (text.empty())
        return;
    const std::string stored = text.substr(0, 32767);
    std::vector<std::uint16_t> params{static_cast<std::uint16_t>(stored.size())};
    appendBytes(params, std::vector<std::uint8_t>(stored.begin(), stored.end()));
    params.push_back(word(y));
    params.push_back(word(x));
    record(kTextOut, params);
}

void WmfWriter::stretchDib(int left, int top, int destWidth, int destHeight, int width, int height,
                           const std::vector<std::uint8_t>& rgb)
{
    if (width <= 0 || height <= 0 || rgb.size() < static_cast<std::size_t>(width) * height * 3)
        return;
    const std::size_t rowBytes = (static_cast<std::size_t>(width) * 3 + 3) / 4 * 4;
    std::vector<std::uint8_t> dib;
    dib.reserve(40 + rowBytes * height);
    appendU32(dib, 40); // BITMAPINFOHEADER
    appendU32(dib, static_cast<std::uint32_t>(width));
    appendU32(dib, static_cast<std::uint32_t>(height)); // positive: rows bottom-up
    appendU16(dib, 1);
    appendU16(dib, 24);
    appendU32(dib, 0); // BI_RGB
    appendU32(dib, static_cast<std::uint32_t>(rowBytes * height));
    for (int i = 0; i < 4; ++i)
        appendU32(dib, 0);
    for (int row = height - 1; row >= 0; --row) {
        const std::uint8_t* p = rgb.data() + static_cast<std::size_t>(row) * width * 3;
        for (int col = 0; col < width; ++col, p += 3) {
            dib.push_back(p[2]);
            dib.push_back(p[1]);
            dib.push_back(p[0]);
        }
        dib.resize(dib.size() + rowBytes - static_cast<std::size_t>(width) * 3, 0);
    }
    std::vector<std::uint16_t> params{lowWord(kSrcCopy), highWord(kSrcCopy), 0, // DIB_RGB_COLORS
                                      word(height),      word(width),        0,         0,
                                      word(destHeight),  word(destWidth),    word(top), word(left)};
    appendBytes(params, dib);
    record(kStretchDib, params);
}

void WmfWriter::saveDc()
{
    record(kSaveDc, {});
    m_saved.push_back(DcState{m_selection, m_textColor, m_polyFill});
}

void WmfWriter::restoreDc()
{
    if (m_saved.empty())
        throw std::logic_error("WmfWriter: restoring a device context that was not saved");
    record(kRestoreDc, {word(-1)});
    const DcState dc = m_saved.back();
    m_saved.pop_back();
    const std::array<int, 3> dropped = m_selection;
    m_selection = dc.selection;
    m_textColor = dc.textColor;
    m_polyFill = dc.polyFill;
    for (int handle : dropped)
        if (handle >= 0)
            deleteIfUnused(handle);
}

void WmfWriter::intersectClipRect(int left, int top, int right, int bottom)
{
    record(kIntersectClipRect, {word(bottom), word(right), word(top), word(left)});
}

std::vector<std::uint8_t> WmfWriter::finish()
{
    while (!m_saved.empty())
        restoreDc();
    std::vector<std::uint16_t> words = m_records;
    words.push_back(3);
    words.push_back(0);
    words.push_back(kEof);

    std::vector<std::uint8_t> bytes;
    // placeable header: key, handle, bounding box, units per inch, reserved, checksum
    std::vector<std::uint16_t> placeable{
        0xCDD7, 0x9AC6, 0, 0, 0, word(m_width), word(m_height), static_cast<std::uint16_t>(m_unitsPerInch),
        0,      0};
    std::uint16_t checksum = 0;
    for (std::uint16_t w : placeable)
        checksum ^= w;
    placeable.push_back(checksum);
    for (std::uint16_t w : placeable)
        appendU16(bytes, w);

    const auto total = static_cast<std::uint32_t>(9 + words.size());
    const std::vector<std::uint16_t> header{
        1,
        9,
        0x0300,
        lowWord(total),
        highWord(total),
        static_cast<std::uint16_t>(std::max<std::size_t>(m_maxObjects, 1)),
        lowWord(m_maxRecord),
        highWord(m_maxRecord),
        0};
    for (std::uint16_t w : header)
        appendU16(bytes, w);
    for (std::uint16_t w : words)
        appendU16(bytes, w);
    return bytes;
}

} // namespace kestrune
