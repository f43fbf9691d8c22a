#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace kestrune {

/// A point in the logical units of a Windows metafile (16-bit signed on disk).
struct WmfPoint
{
    int x = 0;
    int y = 0;
};

/// A GDI colour: 8-bit red, green, blue.
struct WmfColor
{
    std::uint8_t r = 0, g = 0, b = 0;
    bool operator==(const WmfColor& o) const { return r == o.r && g == o.g && b == o.b; }
    bool operator!=(const WmfColor& o) const { return !(*this == o); }
};

enum class WmfPenStyle : std::uint16_t {
    Solid = 0,
    Dash = 1,
    Dot = 2,
    DashDot = 3,
    DashDotDot = 4,
    Null = 5
};

struct WmfPen
{
    WmfPenStyle style = WmfPenStyle::Solid;
    int width = 0; // logical units; 0 draws one device pixel
    WmfColor color;
    bool operator==(const WmfPen& o) const
    {
        return style == o.style && width == o.width && color == o.color;
    }
};

struct WmfBrush
{
    bool null = false; // BS_NULL: the inside stays unpainted
    WmfColor color;
    bool operator==(const WmfBrush& o) const { return null == o.null && (null || color == o.color); }
};

struct WmfFont
{
    int height = 0;     // logical units; negative: character height without internal leading
    int escapement = 0; // tenths of a degree, counterclockwise
    int weight = 400;   // 100..900, 700 bold
    bool italic = false;
    bool underline = false;
    std::string faceName = "Arial"; // at most 31 characters are stored
    bool operator==(const WmfFont& o) const
    {
        return height == o.height && escapement == o.escapement && weight == o.weight && italic == o.italic &&
               underline == o.underline && faceName == o.faceName;
    }
};

/// Writes a placeable (Aldus) Windows metafile, the non-enhanced 16-bit format, into memory.
/// Drawing uses the pen, brush and font selected last. Objects given to release() are deleted from
/// the file as soon as no current or saved device context still has them selected, so a caller may
/// release every object right after selecting it and leave the bookkeeping to the writer.
class WmfWriter
{
public:
    enum class Kind { Pen = 0, Brush = 1, Font = 2 };

    /// A picture of width x height logical units, unitsPerInch of them to the inch.
    WmfWriter(int width, int height, int unitsPerInch);

    /// Creates an object; returns its index in the metafile's object table.
    int createPen(const WmfPen& pen);
    int createBrush(const WmfBrush& brush);
    int createFont(const WmfFont& font);
    void selectObject(int handle);
    /// Deletes the object once it is no longer selected anywhere.
    void release(int handle);
    /// Index of the object of that kind selected now, -1 when none.
    int selected(Kind kind) const { return m_selection[static_cast<int>(kind)]; }

    void setTextColor(WmfColor color);
    /// ALTERNATE (even-odd) when true, WINDING otherwise.
    void setPolyFillAlternate(bool alternate);

    /// Open line through the points; lines of more than kMaxPoints points are split into pieces
    /// that share their end points.
    void polyline(const std::vector<WmfPoint>& points);
    /// Closed, filled outline; outlines longer than kMaxPoints keep every n-th point.
    void polygon(const std::vector<WmfPoint>& points);
    void rectangle(int left, int top, int right, int bottom);
    void ellipse(int left, int top, int right, int bottom);
    /// Text whose top left corner is at (x, y) (turned with the font's escapement); the text is
    /// taken as Windows-1252 bytes.
    void textOut(int x, int y, const std::string& text);
    /// A 24-bit picture of width x height pixels (rows top to bottom, each r, g, b) stretched over
    /// the given rectangle.
    void stretchDib(int left, int top, int destWidth, int destHeight, int width, int height,
                    const std::vector<std::uint8_t>& rgb);

    void saveDc();
    void restoreDc();
    /// Narrows the clip region of the current device context to the rectangle.
    void intersectClipRect(int left, int top, int right, int bottom);

    /// Header, records and the end record: the bytes of the file.
    std::vector<std::uint8_t> finish();

    static constexpr int kMaxPoints = 32767;

private:
    struct Slot
    {
        bool used = false;
        bool released = false;
    };
    struct DcState
    {
        std::array<int, 3> selection{-1, -1, -1};
        WmfColor textColor;
        int polyFill = 0;
    };

    void record(std::uint16_t function, const std::vector<std::uint16_t>& params);
    int allocate(Kind kind);
    void deleteIfUnused(int handle);
    bool isSelected(int handle) const;
    void pointsRecord(std::uint16_t function, const std::vector<WmfPoint>& points, std::size_t begin,
                      std::size_t end);

    int m_width;
    int m_height;
    int m_unitsPerInch;
    std::vector<std::uint16_t> m_records; // every record after the header, in 16-bit words
    std::uint32_t m_maxRecord = 3;
    std::vector<Slot> m_slots;
    std::vector<Kind> m_kinds;
    std::size_t m_maxObjects = 0;
    std::array<int, 3> m_selection{-1, -1, -1};
    WmfColor m_textColor;
    int m_polyFill = 0;
    std::vector<DcState> m_saved;
};

} // namespace kestrune
