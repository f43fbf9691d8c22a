#include "io/MaskTickerQt.h"

#include "core/LabelMask.h"

#include <cmath>
#include <qcustomplot.h>
#include <string>

namespace kestrune {

namespace {

/// The ticker Base with its labels written through the mask.
template <class Base> class MaskTicker : public Base
{
public:
    explicit MaskTicker(const QString& mask) : m_mask(mask.toStdString()) {}

protected:
    QString getTickLabel(double tick, const QLocale&, QChar, int) override
    {
        return QString::fromStdString(formatLabelMask(tick, m_mask));
    }

private:
    std::string m_mask;
};

/// Most labels a fixed increment may put on an axis; a denser increment is multiplied until they fit.
constexpr double kMostLabels = 30;

/// Ticks at multiples of the increment, thinned to whole multiples of it when they would crowd the axis.
class FixedMaskTicker : public MaskTicker<QCPAxisTickerFixed>
{
public:
    using MaskTicker<QCPAxisTickerFixed>::MaskTicker;

protected:
    double getTickStep(const QCPRange& range) override
    {
        const double ticks = range.size() / tickStep();
        return ticks > kMostLabels ? tickStep() * std::ceil(ticks / kMostLabels) : tickStep();
    }
};

} // namespace

QSharedPointer<QCPAxisTicker> makeMaskTicker(const QString& mask)
{
    return QSharedPointer<QCPAxisTicker>(new MaskTicker<QCPAxisTicker>(mask));
}

QSharedPointer<QCPAxisTicker> makeFixedMaskTicker(const QString& mask, double step)
{
    auto* ticker = new FixedMaskTicker(mask);
    ticker->setTickStep(step);
    return QSharedPointer<QCPAxisTicker>(ticker);
}

QSharedPointer<QCPAxisTicker> makeLogMaskTicker(const QString& mask)
{
    return QSharedPointer<QCPAxisTicker>(new MaskTicker<QCPAxisTickerLog>(mask));
}

} // namespace kestrune
