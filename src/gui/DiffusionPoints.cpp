#include "gui/DiffusionPoints.h"

#include <algorithm>
#include <cmath>

namespace kestrune {

namespace {

// The range of coordinates from lower to upper edges of the points (half a cell beyond the centres).
QCPRange extent(const QVector<double>& v, double half, bool& found, QCP::SignDomain domain)
{
    QCPRange range;
    found = false;
    for (const double c : v) {
        const double lo = c - half, hi = c + half;
        if ((domain == QCP::sdPositive && lo <= 0) || (domain == QCP::sdNegative && hi >= 0))
            continue;
        range = found ? QCPRange(std::min(range.lower, lo), std::max(range.upper, hi)) : QCPRange(lo, hi);
        found = true;
    }
    return range;
}

} // namespace

QCPColorGradient diffusionGradient()
{
    QCPColorGradient gradient(QCPColorGradient::gpJet);
    gradient.setLevelCount(256);
    return gradient;
}

QCPRange diffusionRange(const QVector<double>& diffusion)
{
    if (diffusion.isEmpty())
        return {-10, 0};
    const auto [lo, hi] = std::minmax_element(diffusion.begin(), diffusion.end());
    QCPRange range(std::floor(*lo), std::ceil(*hi));
    if (range.upper - range.lower < 1)
        range.upper = range.lower + 1;
    return range;
}

DiffusionPoints::DiffusionPoints(QCPAxis* keyAxis, QCPAxis* valueAxis)
    : QCPAbstractPlottable(keyAxis, valueAxis), m_gradient(diffusionGradient())
{
    setSelectable(QCP::stNone);
    setPen(Qt::NoPen);
}

void DiffusionPoints::setPoints(const QVector<double>& keys, const QVector<double>& values,
                                const QVector<double>& diffusion)
{
    const int n = std::min({keys.size(), values.size(), diffusion.size()});
    m_keys = keys.mid(0, n);
    m_values = values.mid(0, n);
    m_diffusion = diffusion.mid(0, n);
}

void DiffusionPoints::setColours(const QCPColorGradient& gradient, const QCPRange& range)
{
    m_gradient = gradient;
    m_range = range;
}

void DiffusionPoints::setCell(double width, double height)
{
    m_cellWidth = width;
    m_cellHeight = height;
}

QColor DiffusionPoints::colour(int k) const
{
    return QColor::fromRgb(m_gradient.color(m_diffusion.at(k), m_range));
}

double DiffusionPoints::selectTest(const QPointF&, bool, QVariant*) const
{
    return -1;
}

QCPRange DiffusionPoints::getKeyRange(bool& foundRange, QCP::SignDomain inSignDomain) const
{
    return extent(m_keys, m_cellWidth / 2, foundRange, inSignDomain);
}

QCPRange DiffusionPoints::getValueRange(bool& foundRange, QCP::SignDomain inSignDomain, const QCPRange&) const
{
    return extent(m_values, m_cellHeight / 2, foundRange, inSignDomain);
}

void DiffusionPoints::draw(QCPPainter* painter)
{
    painter->setPen(Qt::NoPen);
    const bool cells = m_cellWidth > 0 && m_cellHeight > 0;
    for (int k = 0; k < m_keys.size(); ++k) {
        painter->setBrush(colour(k));
        if (cells) {
            const QPointF a = coordsToPixels(m_keys[k] - m_cellWidth / 2, m_values[k] - m_cellHeight / 2);
            const QPointF b = coordsToPixels(m_keys[k] + m_cellWidth / 2, m_values[k] + m_cellHeight / 2);
            // a pixel more each way, so that neighbouring cells leave no seam
            painter->drawRect(QRectF(a, b).normalized().adjusted(-0.5, -0.5, 0.5, 0.5));
        } else {
            painter->drawEllipse(coordsToPixels(m_keys[k], m_values[k]), m_discSize / 2, m_discSize / 2);
        }
    }
}

void DiffusionPoints::drawLegendIcon(QCPPainter* painter, const QRectF& rect) const
{
    painter->setPen(Qt::NoPen);
    painter->setBrush(QColor::fromRgb(m_gradient.color(m_range.center(), m_range)));
    painter->drawEllipse(rect.center(), rect.height() / 3, rect.height() / 3);
}

} // namespace kestrune
