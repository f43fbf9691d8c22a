#pragma once

#include <QSharedPointer>
#include <QString>

class QCPAxisTicker;

namespace kestrune {

/// Tickers whose labels follow a chart label mask ("##0.###", "0.0E+000", ...; core/LabelMask.h).
/// Automatic tick positions, at least smallestStep apart (0: as close as the axis wants them).
QSharedPointer<QCPAxisTicker> makeMaskTicker(const QString& mask, double smallestStep = 0);
/// Ticks at multiples of step; a step that would put more than 30 labels on the axis is multiplied until
/// they fit.
QSharedPointer<QCPAxisTicker> makeFixedMaskTicker(const QString& mask, double step);
/// Ticks at the powers of ten of a logarithmic axis.
QSharedPointer<QCPAxisTicker> makeLogMaskTicker(const QString& mask);

/// The label a mask ticker writes at value; an empty text for a ticker of another kind.
QString maskTickLabel(const QCPAxisTicker& ticker, double value);

} // namespace kestrune
