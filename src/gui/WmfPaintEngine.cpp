#include "gui/WmfPaintEngine.h"

#include "core/io/WmfWriter.h"

#include <QFontInfo>
#include <QFontMetricsF>
#include <QImage>
#include <QPaintEngine>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QTextItem>
#include <algorithm>
#include <array>
#include <cmath>
#include <map>
#include <optional>

namespace kestrune {

namespace {

// Metafile coordinates are 16-bit: the finest grid that keeps the picture inside them.
int unitsPerPixelFor(QSize size)
{
    const int longest = std::max({size.width(), size.height(), 1});
    return std::clamp(32000 / longest, 1, 4);
}

// The metafile has no transparency: a translucent colour is drawn as it would look on white paper.
WmfColor opaque(const QColor& color)
{
    const QColor rgb = color.toRgb();
    const double a = rgb.alphaF();
    const auto mix = [a](int c) { return static_cast<std::uint8_t>(std::lround(a * c + (1 - a) * 255)); };
    return WmfColor{mix(rgb.red()), mix(rgb.green()), mix(rgb.blue())};
}

QColor brushColor(const QBrush& brush)
{
    if (const QGradient* gradient = brush.gradient(); gradient && !gradient->stops().isEmpty()) {
        const QGradientStops stops = gradient->stops();
        return stops.at(stops.size() / 2).second;
    }
    return brush.color();
}

bool isAxisAligned(const QTransform& t)
{
    return t.type() <= QTransform::TxScale;
}

WmfPoint toWmf(const QPointF& p)
{
    return WmfPoint{static_cast<int>(std::lround(p.x())), static_cast<int>(std::lround(p.y()))};
}

std::vector<WmfPoint> toWmf(const QPolygonF& polygon)
{
    std::vector<WmfPoint> points;
    points.reserve(static_cast<std::size_t>(polygon.size()));
    for (const QPointF& p : polygon)
        points.push_back(toWmf(p));
    return points;
}

} // namespace

class WmfPaintEngine : public QPaintEngine
{
public:
    WmfPaintEngine(QSize size, int unitsPerPixel)
        : QPaintEngine(QPaintEngine::AllFeatures),
          m_writer(size.width() * unitsPerPixel, size.height() * unitsPerPixel, 96 * unitsPerPixel),
          m_unitsPerPixel(unitsPerPixel)
    {
    }

    using QPaintEngine::drawEllipse;
    using QPaintEngine::drawLines;
    using QPaintEngine::drawPoints;
    using QPaintEngine::drawPolygon;
    using QPaintEngine::drawRects;

    bool begin(QPaintDevice*) override
    {
        m_clipDirty = true;
        return true;
    }

    bool end() override
    {
        if (m_clip)
            m_writer.restoreDc();
        m_clip.reset();
        return true;
    }

    Type type() const override { return QPaintEngine::User; }

    void updateState(const QPaintEngineState& changed) override
    {
        const DirtyFlags flags = changed.state();
        if (flags & (DirtyClipPath | DirtyClipRegion | DirtyClipEnabled | DirtyTransform))
            m_clipDirty = true;
        if (flags & DirtyPen)
            m_pen = changed.pen();
        if (flags & DirtyBrush)
            m_brush = changed.brush();
    }

    void drawPolygon(const QPointF* points, int pointCount, PolygonDrawMode mode) override
    {
        QPolygonF polygon;
        polygon.reserve(pointCount);
        for (int i = 0; i < pointCount; ++i)
            polygon.append(points[i]);
        polygon = deviceTransform().map(polygon);
        if (mode == PolylineMode) {
            if (!usePen(m_pen))
                return;
            useBrush(Qt::NoBrush);
            m_writer.polyline(toWmf(polygon));
            return;
        }
        usePen(m_pen);
        useBrush(m_brush);
        m_writer.setPolyFillAlternate(mode != WindingMode);
        m_writer.polygon(toWmf(polygon));
    }

    void drawLines(const QLineF* lines, int lineCount) override
    {
        if (!usePen(m_pen))
            return;
        const QTransform t = deviceTransform();
        for (int i = 0; i < lineCount; ++i) {
            const QLineF line = t.map(lines[i]);
            m_writer.polyline({toWmf(line.p1()), toWmf(line.p2())});
        }
    }

    void drawPoints(const QPointF* points, int pointCount) override
    {
        if (!usePen(m_pen))
            return;
        const QTransform t = deviceTransform();
        for (int i = 0; i < pointCount; ++i) {
            const WmfPoint p = toWmf(t.map(points[i]));
            m_writer.polyline({p, WmfPoint{p.x + 1, p.y}});
        }
    }

    void drawRects(const QRectF* rects, int rectCount) override
    {
        const QTransform t = deviceTransform();
        for (int i = 0; i < rectCount; ++i) {
            if (!isAxisAligned(t)) {
                const QPolygonF corners(rects[i]);
                drawPolygon(corners.constData(), 4, OddEvenMode);
                continue;
            }
            usePen(m_pen);
            useBrush(m_brush);
            const QRect r = t.mapRect(rects[i]).toRect();
            m_writer.rectangle(r.left(), r.top(), r.left() + r.width(), r.top() + r.height());
        }
    }

    void drawEllipse(const QRectF& rect) override
    {
        const QTransform t = deviceTransform();
        if (!isAxisAligned(t)) {
            QPainterPath path;
            path.addEllipse(rect);
            drawPath(path);
            return;
        }
        usePen(m_pen);
        useBrush(m_brush);
        const QRect r = t.mapRect(rect).toRect();
        m_writer.ellipse(r.left(), r.top(), r.left() + r.width(), r.top() + r.height());
    }

    void drawPath(const QPainterPath& path) override
    {
        const QTransform t = deviceTransform();
        if (m_brush.style() != Qt::NoBrush) {
            usePen(Qt::NoPen);
            useBrush(m_brush);
            m_writer.setPolyFillAlternate(path.fillRule() == Qt::OddEvenFill);
            for (const QPolygonF& polygon : path.toFillPolygons(t))
                m_writer.polygon(toWmf(polygon));
        }
        if (usePen(m_pen)) {
            useBrush(Qt::NoBrush);
            for (const QPolygonF& polygon : path.toSubpathPolygons(t))
                m_writer.polyline(toWmf(polygon));
        }
    }

    void drawTextItem(const QPointF& p, const QTextItem& textItem) override
    {
        const QByteArray text = textItem.text().toLatin1();
        if (text.isEmpty() || m_pen.style() == Qt::NoPen)
            return;
        const QTransform t = painterTransform();
        const QFont font = textItem.font();
        const double pixels = font.pixelSize() > 0 ? font.pixelSize() : font.pointSizeF() * 96.0 / 72.0;
        const double scale = std::sqrt(std::abs(t.determinant())) * m_unitsPerPixel;
        // Qt turns clockwise on a y-down device, the metafile counts tenths of a degree the other way
        const double degrees = std::atan2(t.m12(), t.m11()) * 180.0 / M_PI;

        WmfFont wmfFont;
        wmfFont.height = -static_cast<int>(std::lround(pixels * scale));
        wmfFont.escapement = static_cast<int>(std::lround(-degrees * 10));
        wmfFont.weight = std::clamp(static_cast<int>(font.weight()), 100, 900);
        wmfFont.italic = font.italic();
        wmfFont.underline = font.underline();
        wmfFont.faceName = QFontInfo(font).family().toLatin1().toStdString();
        useFont(wmfFont);
        m_writer.setTextColor(opaque(m_pen.color()));
        // the text is placed by its top left corner: readers agree on that more than on base lines
        const double ascent = QFontMetricsF(font, painter() ? painter()->device() : nullptr).ascent();
        const WmfPoint at = toWmf(deviceTransform().map(p - QPointF(0, ascent)));
        m_writer.textOut(at.x, at.y, text.toStdString());
    }

    void drawPixmap(const QRectF& rect, const QPixmap& pixmap, const QRectF& source) override
    {
        drawImage(rect, pixmap.toImage(), source, Qt::AutoColor);
    }

    void drawImage(const QRectF& rect, const QImage& image, const QRectF& source,
                   Qt::ImageConversionFlags) override
    {
        const QTransform t = deviceTransform();
        if (!isAxisAligned(t) || image.isNull())
            return;
        // flatten onto white: the metafile's pictures have no alpha channel
        QImage picture(source.toRect().size(), QImage::Format_RGB888);
        picture.fill(Qt::white);
        {
            QPainter painter(&picture);
            painter.drawImage(QPointF(0, 0), image, source);
        }
        const int width = picture.width();
        const int height = picture.height();
        std::vector<std::uint8_t> rgb;
        rgb.reserve(static_cast<std::size_t>(width) * height * 3);
        for (int row = 0; row < height; ++row) {
            const uchar* line = picture.constScanLine(row);
            rgb.insert(rgb.end(), line, line + static_cast<std::ptrdiff_t>(width) * 3);
        }
        const QRect r = t.mapRect(rect).toRect();
        applyClip();
        m_writer.stretchDib(r.left(), r.top(), r.width(), r.height(), width, height, rgb);
    }

    std::vector<std::uint8_t> finish() { return m_writer.finish(); }

private:
    QTransform painterTransform() const { return painter() ? painter()->combinedTransform() : QTransform(); }

    // painter coordinates to metafile units
    QTransform deviceTransform() const
    {
        return painterTransform() * QTransform::fromScale(m_unitsPerPixel, m_unitsPerPixel);
    }

    // Clips are kept as the bounding rectangle in a saved device context, so that a wider clip
    // later can return to the unclipped state with RestoreDC.
    void applyClip()
    {
        if (!m_clipDirty)
            return;
        m_clipDirty = false;
        std::optional<std::array<int, 4>> clip; // left, top, right, bottom; right and bottom outside
        if (painter() && painter()->hasClipping()) {
            const QRectF area = deviceTransform().mapRect(painter()->clipBoundingRect());
            clip = std::array<int, 4>{
                static_cast<int>(std::floor(area.left())), static_cast<int>(std::floor(area.top())),
                static_cast<int>(std::ceil(area.right())), static_cast<int>(std::ceil(area.bottom()))};
        }
        if (clip == m_clip)
            return;
        if (m_clip)
            m_writer.restoreDc();
        m_clip = clip;
        if (!clip)
            return;
        m_writer.saveDc();
        m_writer.intersectClipRect((*clip)[0], (*clip)[1], (*clip)[2], (*clip)[3]);
    }

    // Selects a pen like the painter's; false when the pen draws nothing.
    bool usePen(const QPen& pen)
    {
        applyClip();
        WmfPen wanted;
        wanted.color = opaque(pen.color());
        switch (pen.style()) {
        case Qt::NoPen:
            wanted.style = WmfPenStyle::Null;
            break;
        case Qt::DashLine:
        case Qt::CustomDashLine:
            wanted.style = WmfPenStyle::Dash;
            break;
        case Qt::DotLine:
            wanted.style = WmfPenStyle::Dot;
            break;
        case Qt::DashDotLine:
            wanted.style = WmfPenStyle::DashDot;
            break;
        case Qt::DashDotDotLine:
            wanted.style = WmfPenStyle::DashDotDot;
            break;
        default:
            wanted.style = WmfPenStyle::Solid;
        }
        // GDI draws dashes only with one-pixel pens
        if (wanted.style == WmfPenStyle::Solid) {
            const double scale =
                pen.isCosmetic() ? 1.0 : std::sqrt(std::abs(painterTransform().determinant()));
            wanted.width =
                static_cast<int>(std::lround(std::max(pen.widthF(), 1.0) * scale * m_unitsPerPixel));
        }
        if (wanted.style == WmfPenStyle::Null)
            wanted = WmfPen{WmfPenStyle::Null, 0, WmfColor{}};
        select(WmfWriter::Kind::Pen, m_pens, wanted,
               [this](const WmfPen& p) { return m_writer.createPen(p); });
        return wanted.style != WmfPenStyle::Null;
    }

    void useBrush(const QBrush& brush)
    {
        applyClip();
        WmfBrush wanted;
        wanted.null = brush.style() == Qt::NoBrush || brushColor(brush).alpha() == 0;
        if (!wanted.null)
            wanted.color = opaque(brushColor(brush));
        select(WmfWriter::Kind::Brush, m_brushes, wanted,
               [this](const WmfBrush& b) { return m_writer.createBrush(b); });
    }

    void useFont(const WmfFont& font)
    {
        applyClip();
        select(WmfWriter::Kind::Font, m_fonts, font,
               [this](const WmfFont& f) { return m_writer.createFont(f); });
    }

    // Every object is released right after it is selected: the writer deletes it once nothing
    // uses it, and the description per table index tells whether the selected one still fits.
    template <typename Desc, typename Create>
    void select(WmfWriter::Kind kind, std::map<int, Desc>& known, const Desc& wanted, Create create)
    {
        const int current = m_writer.selected(kind);
        if (current >= 0) {
            const auto it = known.find(current);
            if (it != known.end() && it->second == wanted)
                return;
        }
        const int handle = create(wanted);
        known[handle] = wanted;
        m_writer.selectObject(handle);
        m_writer.release(handle);
    }

    WmfWriter m_writer;
    int m_unitsPerPixel;
    QPen m_pen;
    QBrush m_brush;
    bool m_clipDirty = true;
    std::optional<std::array<int, 4>> m_clip; // the clip in the saved context, none when unclipped
    std::map<int, WmfPen> m_pens;
    std::map<int, WmfBrush> m_brushes;
    std::map<int, WmfFont> m_fonts;
};

WmfPaintDevice::WmfPaintDevice(QSize size)
    : m_size(size), m_unitsPerPixel(unitsPerPixelFor(size)),
      m_engine(std::make_unique<WmfPaintEngine>(size, m_unitsPerPixel))
{
}

WmfPaintDevice::~WmfPaintDevice() = default;

QPaintEngine* WmfPaintDevice::paintEngine() const
{
    return m_engine.get();
}

std::vector<std::uint8_t> WmfPaintDevice::finish()
{
    return m_engine->finish();
}

int WmfPaintDevice::metric(PaintDeviceMetric metric) const
{
    switch (metric) {
    case PdmWidth:
        return m_size.width();
    case PdmHeight:
        return m_size.height();
    case PdmWidthMM:
        return static_cast<int>(std::lround(m_size.width() * 25.4 / 96));
    case PdmHeightMM:
        return static_cast<int>(std::lround(m_size.height() * 25.4 / 96));
    case PdmDpiX:
    case PdmDpiY:
    case PdmPhysicalDpiX:
    case PdmPhysicalDpiY:
        return 96;
    case PdmDepth:
        return 24;
    case PdmNumColors:
        return 1 << 24;
    case PdmDevicePixelRatio:
        return 1;
    case PdmDevicePixelRatioScaled:
        return static_cast<int>(devicePixelRatioFScale());
    default:
        return QPaintDevice::metric(metric);
    }
}

} // namespace kestrune
