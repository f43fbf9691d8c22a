#pragma once

#include "core/State.h"

#include <vector>

namespace kestrune {

/// Receives the samples of a pass: the running lattice functions (or trajectory) at path length s (m).
/// What a sample is shown as (curves, units) is the sink's choice.
class PlotSink
{
public:
    virtual ~PlotSink() = default;
    virtual void point(double s, const LatticeFunctions& lf) = 0;
};

/// The passes that hand rows to a list.
enum class PassKind { Line, Ring };

/// Receives the rows of a pass: begin, then index 0 (the start row) and index i (the row after element
/// i, or after each slice of it in the ring pass); the ring pass ends with its tunes.
class ListSink
{
public:
    virtual ~ListSink() = default;
    virtual void begin(PassKind) {}
    virtual void row(int index, double s, const LatticeFunctions& lf) = 0;
    virtual void ringTunes(double, double) {}
};

/// One row of a pass: the lattice functions after element index (0: the start) at path length s (m).
struct OpticsRow
{
    int index = 0;
    double s = 0;
    LatticeFunctions lf;
};

/// A list sink that keeps every row, for passes whose rows are read back.
class RowCollector : public ListSink
{
public:
    void row(int index, double s, const LatticeFunctions& lf) override { rows.push_back({index, s, lf}); }
    std::vector<OpticsRow> rows;
};

} // namespace kestrune
