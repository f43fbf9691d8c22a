#include "gui/editor/MagShapePlottable.h"

#include <algorithm>
#include <cmath>

namespace kestrune {

namespace {

QColor toQColor(const Rgb& c)
{
    return QColor(c.r, c.g, c.b);
}

} // namespace

QPolygonF shapeOutline(ShapeStyle style, const QRectF& box)
{
    const double cx = box.center().x();
    const double cy = box.center().y();
    QPolygonF outline;
    switch (style) {
    case ShapeStyle::Rectangle:
        outline << box.topLeft() << box.topRight() << box.bottomRight() << box.bottomLeft();
        break;
    case ShapeStyle::Diamond:
        outline << QPointF(cx, box.top()) << QPointF(box.right(), cy) << QPointF(cx, box.bottom())
                << QPointF(box.left(), cy);
        break;
    case ShapeStyle::Triangle: // apex up, screen y grows downwards
        outline << QPointF(cx, box.top()) << box.bottomRight() << box.bottomLeft();
        break;
    case ShapeStyle::InvertedTriangle:
        outline << box.topLeft() << box.topRight() << QPointF(cx, box.bottom());
        break;
    }
    return outline;
}

MagShapePlottable::MagShapePlottable(const BeamLine& line, QCPAxis* keyAxis, QCPAxis* valueAxis)
    : QCPAbstractPlottable(keyAxis, valueAxis), m_line(line)
{
    setSelectable(QCP::stSingleData);
    setName("lattice");
}

QRectF MagShapePlottable::pixelBox(const ElementShape& shape, bool widen) const
{
    const QPointF a = coordsToPixels(shape.x0, shape.y0 + m_offset);
    const QPointF b = coordsToPixels(shape.x1, shape.y1 + m_offset);
    QRectF box = QRectF(a, b).normalized();
    if (widen && box.width() < kMinClickWidth) {
        const double cx = box.center().x();
        box.setLeft(cx - kMinClickWidth / 2);
        box.setRight(cx + kMinClickWidth / 2);
    }
    if (widen && box.height() < kMinClickWidth) {
        const double cy = box.center().y();
        box.setTop(cy - kMinClickWidth / 2);
        box.setBottom(cy + kMinClickWidth / 2);
    }
    return box;
}

PixelMap MagShapePlottable::pixelMap() const
{
    // the axes are linear: two points give the map
    PixelMap map;
    const double k0 = mKeyAxis->coordToPixel(0);
    map.keyScale = mKeyAxis->coordToPixel(1) - k0;
    map.keyOffset = k0;
    const double v0 = mValueAxis->coordToPixel(m_offset);
    map.valueScale = mValueAxis->coordToPixel(m_offset + 1) - v0;
    map.valueOffset = v0;
    return map;
}

int MagShapePlottable::elementAt(const QPointF& pixel) const
{
    if (!mKeyAxis || !mValueAxis)
        return 0;
    m_index.rebuild(m_line);
    // the shapes within half the least clickable width of the pointer
    const double a = mKeyAxis->pixelToCoord(pixel.x() - kMinClickWidth);
    const double b = mKeyAxis->pixelToCoord(pixel.x() + kMinClickWidth);
    const double lower = std::min(a, b);
    const double upper = std::max(a, b);
    const auto [first, last] = m_index.candidates(lower, upper);
    const auto near = [&](int i) { return !(m_index.upper(i) < lower || m_index.lower(i) > upper); };
    // a thin multipole, marker, monitor or kicker of no length sits on the edge of its neighbour: its
    // mark is found before the shapes around it
    for (int i = last; i >= first; --i) {
        if (!near(i))
            continue;
        const ElementShape& shape = m_line.shape(i);
        if (isExtendedCode(m_line.at(i).code) && pixelBox(shape, false).width() < kMinClickWidth &&
            pixelBox(shape, true).contains(pixel))
            return i;
    }
    if (const int painted = paintedAt(pixel, first, last, lower, upper))
        return painted;
    // the last shape is painted last, so it is the one on top
    for (int i = last; i >= first; --i) {
        if (!near(i))
            continue;
        const ElementShape& shape = m_line.shape(i);
        const QRectF box = pixelBox(shape, true);
        if (!box.contains(pixel))
            continue;
        // a shape widened for clicking is hit anywhere in its box; a wide one only inside its outline
        const bool narrow = pixelBox(shape, false).width() < kMinClickWidth;
        if (narrow || shapeOutline(shape.style, box).containsPoint(pixel, Qt::OddEvenFill))
            return i;
    }
    return 0;
}

int MagShapePlottable::paintedAt(const QPointF& pixel, int first, int last, double lower, double upper) const
{
    const int column = static_cast<int>(std::floor(pixel.x()));
    const int row = static_cast<int>(std::floor(pixel.y()));
    for (int i = last; i >= first; --i) {
        if (m_index.upper(i) < lower || m_index.lower(i) > upper)
            continue;
        const ElementShape& shape = m_line.shape(i);
        const QRectF box = pixelBox(shape, false);
        if (box.width() < 1) {
            const ColumnBar bar = columnBar(box.left(), box.top(), box.right(), box.bottom());
            if (bar.column == column && row >= bar.top && row < bar.bottom)
                return i;
            continue;
        }
        if (!box.contains(pixel))
            continue;
        if (box.width() < kMinClickWidth ||
            shapeOutline(shape.style, box).containsPoint(pixel, Qt::OddEvenFill))
            return i;
    }
    return 0;
}

QPointF MagShapePlottable::shapeCentre(int i) const
{
    return pixelBox(m_line.shape(i), false).center();
}

double MagShapePlottable::selectTest(const QPointF& pos, bool onlySelectable, QVariant* details) const
{
    if (onlySelectable && !mSelectable)
        return -1;
    if (!mKeyAxis || !mValueAxis || !mKeyAxis->axisRect()->rect().contains(pos.toPoint()))
        return -1;
    const int i = elementAt(pos);
    if (i == 0)
        return -1;
    if (details)
        details->setValue(QCPDataSelection(QCPDataRange(i, i + 1)));
    return 0;
}

QCPRange MagShapePlottable::getKeyRange(bool& foundRange, QCP::SignDomain) const
{
    foundRange = m_line.count > 0;
    QCPRange range(0, 0);
    for (int i = 1; i <= m_line.count; ++i) {
        const ElementShape& shape = m_line.shape(i);
        range.lower = std::min({range.lower, shape.x0, shape.x1});
        range.upper = std::max({range.upper, shape.x0, shape.x1});
    }
    return range;
}

QCPRange MagShapePlottable::getValueRange(bool& foundRange, QCP::SignDomain, const QCPRange&) const
{
    foundRange = m_line.count > 0;
    QCPRange range(0, 0);
    for (int i = 1; i <= m_line.count; ++i) {
        const ElementShape& shape = m_line.shape(i);
        range.lower = std::min({range.lower, shape.y0 + m_offset, shape.y1 + m_offset});
        range.upper = std::max({range.upper, shape.y0 + m_offset, shape.y1 + m_offset});
    }
    return range;
}

std::vector<DrawnShape> MagShapePlottable::drawnInView() const
{
    m_index.rebuild(m_line);
    const QCPRange visible = mKeyAxis->range();
    return drawnShapes(m_line, m_index, pixelMap(), visible.lower, visible.upper, kThinMarkWidth);
}

void MagShapePlottable::draw(QCPPainter* painter)
{
    if (!mKeyAxis || !mValueAxis)
        return;
    const std::vector<DrawnShape> drawn = drawnInView();
    // exports and printing get every shape as a vector outline
    if (painter->modes().testFlag(QCPPainter::pmVectorized) ||
        painter->modes().testFlag(QCPPainter::pmNoCaching)) {
        paintShapes(painter, drawn);
        return;
    }
    // while the user tunes, the drawing stays where it is: its last picture is painted again
    QRect area;
    const quint64 key = pictureKey(drawn, area);
    if (area.isEmpty())
        return;
    const qreal ratio = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
    const QSize size = (QSizeF(area.size()) * ratio).toSize();
    if (m_picture.isNull() || key != m_pictureKey || m_picture.size() != size || area != m_pictureArea) {
        m_picture = QImage(size, QImage::Format_ARGB32_Premultiplied);
        m_picture.setDevicePixelRatio(ratio);
        m_picture.fill(Qt::transparent);
        QCPPainter picture(&m_picture);
        picture.setRenderHints(painter->renderHints());
        picture.translate(-area.topLeft());
        paintShapes(&picture, drawn);
        m_pictureKey = key;
        m_pictureArea = area;
    }
    // an antialiased painter is shifted by half a pixel: the picture's pixels go onto the plot's own
    const bool antialiased = painter->antialiasing();
    painter->setAntialiasing(false);
    painter->drawImage(area.topLeft(), m_picture);
    painter->setAntialiasing(antialiased);
}

void MagShapePlottable::paintShapes(QCPPainter* painter, const std::vector<DrawnShape>& drawn) const
{
    ++const_cast<MagShapePlottable*>(this)->m_paintCount;
    const QColor outline(0, 0, 0);
    const bool antialiased = painter->testRenderHint(QPainter::Antialiasing);
    for (const DrawnShape& d : drawn) {
        const QColor fill = toQColor(d.colour);
        const QRectF box(QPointF(d.left, d.top), QPointF(d.right, d.bottom));
        // a shape a few pixels wide shows neither its outline nor its style: one plain fill is as good
        // and many times faster on a long line
        if (d.kind != DrawnShape::Kind::Shape || box.width() < kMinClickWidth) {
            painter->setAntialiasing(false);
            painter->fillRect(box, fill);
            continue;
        }
        painter->setAntialiasing(antialiased && d.style != ShapeStyle::Rectangle);
        painter->setBrush(fill);
        painter->setPen(QPen(fill == outline ? fill : fill.darker(150), 0));
        if (d.style == ShapeStyle::Rectangle)
            painter->drawRect(box);
        else
            painter->drawPolygon(shapeOutline(d.style, box));
    }
    painter->setAntialiasing(antialiased);
}

quint64 MagShapePlottable::pictureKey(const std::vector<DrawnShape>& drawn, QRect& area) const
{
    // FNV-1a over the plot area and everything painted (pixels to 1/64)
    quint64 hash = 1469598103934665603ULL;
    const auto mix = [&hash](qint64 v) {
        hash ^= static_cast<quint64>(v);
        hash *= 1099511628211ULL;
    };
    const auto pixels = [](double v) { return static_cast<qint64>(std::llround(v * 64)); };
    const QRect plotArea = mKeyAxis->axisRect()->rect();
    for (int v : {plotArea.left(), plotArea.top(), plotArea.width(), plotArea.height()})
        mix(v);
    double left = HUGE_VAL, top = HUGE_VAL, right = -HUGE_VAL, bottom = -HUGE_VAL;
    for (const DrawnShape& d : drawn) {
        left = std::min(left, d.left);
        top = std::min(top, d.top);
        right = std::max(right, d.right);
        bottom = std::max(bottom, d.bottom);
        mix(static_cast<int>(d.kind));
        mix(pixels(d.left));
        mix(pixels(d.top));
        mix(pixels(d.right));
        mix(pixels(d.bottom));
        mix((d.colour.r << 16) | (d.colour.g << 8) | d.colour.b);
        mix(static_cast<int>(d.style));
    }
    if (drawn.empty()) {
        area = QRect();
        return hash;
    }
    // outlines and smoothed edges reach a pixel beyond a box
    area =
        QRectF(QPointF(left, top), QPointF(right, bottom)).toAlignedRect().adjusted(-2, -2, 2, 2) & plotArea;
    return hash;
}

void MagShapePlottable::drawLegendIcon(QCPPainter* painter, const QRectF& rect) const
{
    painter->setBrush(QColor(0, 0, 255));
    painter->setPen(Qt::NoPen);
    painter->drawRect(rect);
}

} // namespace kestrune
