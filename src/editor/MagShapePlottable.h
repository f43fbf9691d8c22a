#pragma once

#include "core/BeamLine.h"

#include <qcustomplot.h>

namespace kestrune {

/// The lattice drawing: one filled shape per element of the beam line, painted straight from the
/// shapes in the state. A click finds the shape itself; its data index is the element index.
class MagShapePlottable : public QCPAbstractPlottable
{
    Q_OBJECT
public:
    /// Narrow elements (a 3 cm pump) are clickable over at least this width, in pixels.
    static constexpr double kMinClickWidth = 4.0;

    MagShapePlottable(const BeamLine& line, QCPAxis* keyAxis, QCPAxis* valueAxis);

    /// Index of the topmost element whose outline holds the pixel position, 0 for none.
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

    const BeamLine& m_line;
};

/// The outline of a shape style inside a pixel box (rectangle, diamond, triangle, inverted triangle).
QPolygonF shapeOutline(ShapeStyle style, const QRectF& box);

} // namespace kestrune
