#pragma once

#include "core/BeamLine.h"
#include "core/DrawingColumns.h"

#include <qcustomplot.h>

namespace kestrune {

/// The lattice drawing: one filled shape per element of the beam line, painted straight from the
/// shapes in the state; shapes narrower than a pixel are merged into one bar per pixel column and colour.
/// A click finds the shape itself; its data index is the element index.
class MagShapePlottable : public QCPAbstractPlottable
{
    Q_OBJECT
public:
    /// Narrow elements (a 3 cm pump) are clickable over at least this width, in pixels.
    static constexpr double kMinClickWidth = 4.0;
    /// Least width (pixels) a shape of codes 60..99 is painted with, so that one of no length shows.
    static constexpr double kThinMarkWidth = 2.0;

    MagShapePlottable(const BeamLine& line, QCPAxis* keyAxis, QCPAxis* valueAxis);

    /// The drawing is shown this far (value-axis units) below the shapes' own extents, so that it stays
    /// below the lowest curve; 0 by default.
    void setOffset(double offset) { m_offset = offset; }
    double offset() const { return m_offset; }
    /// How often the shapes were painted one by one (not taken from the picture of the last paint).
    int paintCount() const { return m_paintCount; }

    /// Index of the element under the pixel position, 0 for none: a narrow mark of codes 60..99 (an element
    /// of no length) first, then the topmost shape painted there (of a merged bar the last element of the
    /// bar's colour and height in that pixel column), then the topmost shape whose box widened to
    /// kMinClickWidth holds it.
    int elementAt(const QPointF& pixel) const;
    /// Pixel position of the centre of the shape of element i.
    QPointF shapeCentre(int i) const;

    double selectTest(const QPointF& pos, bool onlySelectable, QVariant* details = nullptr) const override;
    QCPRange getKeyRange(bool& foundRange, QCP::SignDomain inSignDomain = QCP::sdBoth) const override;
    QCPRange getValueRange(bool& foundRange, QCP::SignDomain inSignDomain = QCP::sdBoth,
                           const QCPRange& inKeyRange = QCPRange()) const override;

protected:
    void draw(QCPPainter* painter) override;
    void drawLegendIcon(QCPPainter* painter, const QRectF& rect) const override;

private:
    /// Pixel rectangle of shape i, widened to kMinClickWidth when asked.
    QRectF pixelBox(const ElementShape& shape, bool widen) const;
    /// The linear map of the axes to pixels, the drawing's offset included.
    PixelMap pixelMap() const;
    /// What is painted of the shapes in view, the merged bars of narrow shapes included.
    std::vector<DrawnShape> drawnInView() const;
    /// Paints what drawnInView gave.
    void paintShapes(QCPPainter* painter, const std::vector<DrawnShape>& drawn) const;
    /// A fingerprint of the plot area and what is painted; area gets the part of the plot area covered.
    quint64 pictureKey(const std::vector<DrawnShape>& drawn, QRect& area) const;
    /// The topmost of elements first..last meeting s in [lower, upper] whose painted shape or bar holds the
    /// pixel, 0 for none: elementAt's second rule.
    int paintedAt(const QPointF& pixel, int first, int last, double lower, double upper) const;

    const BeamLine& m_line;
    mutable ShapeIndex m_index; // taken again from the line before each paint and each hit test
    double m_offset = 0;
    QImage m_picture; // the shapes as painted last, over the part of the plot area they cover
    QRect m_pictureArea;
    quint64 m_pictureKey = 0;
    int m_paintCount = 0;
};

/// The outline of a shape style inside a pixel box (rectangle, diamond, triangle, inverted triangle).
QPolygonF shapeOutline(ShapeStyle style, const QRectF& box);

} // namespace kestrune
