#pragma once

#include <array>

namespace kestrune {

/// Receives the plot points of a pass: one point per sample, the three curve values of the mode
/// (beta: betaX, betaY, 10 eta; beam size: sigma_x mm, -sigma_y mm, 10 eta; trajectory: x, y, 10 D).
class PlotSink
{
public:
    virtual ~PlotSink() = default;
    virtual void point(double s, double v1, double v2, double v3) = 0;
};

/// Nine values of one list row, in the column order of the list header in use.
using ListRow = std::array<double, 9>;

/// Receives the list rows of a pass: index 0 is the start row, i the row after element i.
class ListSink
{
public:
    virtual ~ListSink() = default;
    virtual void row(int index, const ListRow& values) = 0;
};

} // namespace kestrune
