#pragma once

#include <QVector>
#include <qcustomplot.h>

namespace kestrune {

/// The gradient of the diffusion index: blue for regular motion, red for the fastest tune change.
QCPColorGradient diffusionGradient();

/// The colour scale's range for diffusion indices: whole decades around the values given, at least one
/// decade wide; -10 .. 0 when there are none.
QCPRange diffusionRange(const QVector<double>& diffusion);

/// Points coloured by their diffusion index through a gradient: small discs, or cells of a grid filled
/// edge to edge (setCell). Not selectable. Include it in chart sources only (it brings QCustomPlot in).
class DiffusionPoints : public QCPAbstractPlottable
{
    Q_OBJECT
public:
    DiffusionPoints(QCPAxis* keyAxis, QCPAxis* valueAxis);

    void setPoints(const QVector<double>& keys, const QVector<double>& values,
                   const QVector<double>& diffusion);
    void clear() { setPoints({}, {}, {}); }
    void setColours(const QCPColorGradient& gradient, const QCPRange& range);
    /// Each point fills a cell width x height (plot coordinates) around it; 0 draws discs of size pixels.
    void setCell(double width, double height);
    void setDiscSize(double pixels) { m_discSize = pixels; }

    int pointCount() const { return m_keys.size(); }
    /// The colour point k is painted in.
    QColor colour(int k) const;

    double selectTest(const QPointF& pos, bool onlySelectable, QVariant* details = nullptr) const override;
    QCPRange getKeyRange(bool& foundRange, QCP::SignDomain inSignDomain = QCP::sdBoth) const override;
    QCPRange getValueRange(bool& foundRange, QCP::SignDomain inSignDomain = QCP::sdBoth,
                           const QCPRange& inKeyRange = QCPRange()) const override;

protected:
    void draw(QCPPainter* painter) override;
    void drawLegendIcon(QCPPainter* painter, const QRectF& rect) const override;

private:
    QVector<double> m_keys, m_values, m_diffusion;
    mutable QCPColorGradient m_gradient; // its colour lookup fills a cache
    QCPRange m_range{-10, 0};
    double m_cellWidth = 0, m_cellHeight = 0;
    double m_discSize = 5;
};

} // namespace kestrune
