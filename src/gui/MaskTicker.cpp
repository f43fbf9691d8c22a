#include "gui/MaskTicker.h"

#include "core/LabelMask.h"

#include <algorithm>
#include <cmath>
#include <qcustomplot.h>
#include <string>

namespace kestrune {

namespace {

/// What every mask ticker writes at a tick.
class MaskLabels
{
public:
    explicit MaskLabels(const QString& mask) : m_mask(mask.toStdString()) {}
    virtual ~MaskLabels() = default;

    QString label(double tick) const { return QString::fromStdString(formatLabelMask(tick, m_mask)); }

private:
    std::string m_mask;
};

/// The ticker Base with its labels written through the mask.
template <class Base> class MaskTicker : public Base, public MaskLabels
{
public:
    explicit MaskTicker(const QString& mask) : MaskLabels(mask) {}

protected:
    QString getTickLabel(double tick, const QLocale&, QChar, int) override { return label(tick); }
};

/// Automatic ticks, never closer than the smallest step.
class SteppedMaskTicker : public MaskTicker<QCPAxisTicker>
{
public:
    SteppedMaskTicker(const QString& mask, double smallestStep)
        : MaskTicker<QCPAxisTicker>(mask), m_smallestStep(smallestStep)
    {
    }

protected:
    double getTickStep(const QCPRange& range) override
    {
        return std::max(QCPAxisTicker::getTickStep(range), m_smallestStep);
    }

private:
    double m_smallestStep;
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

QSharedPointer<QCPAxisTicker> makeMaskTicker(const QString& mask, double smallestStep)
{
    if (smallestStep > 0)
        return QSharedPointer<QCPAxisTicker>(new SteppedMaskTicker(mask, smallestStep));
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

QString maskTickLabel(const QCPAxisTicker& ticker, double value)
{
    const auto* labels = dynamic_cast<const MaskLabels*>(&ticker);
    return labels ? labels->label(value) : QString();
}

} // namespace kestrune
