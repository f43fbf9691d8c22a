#pragma once
// Sinks that record what a pass hands over, in the columns the tests compare.
#include "core/editor/ChartSettings.h"
#include "core/optics/Samples.h"

#include <array>
#include <vector>

namespace kestrune::test {

/// A row in the lattice-function list's columns: betaX, alphaX, phiX, eta, eta', betaY, alphaY, phiY, s.
using ListRow = std::array<double, 9>;

inline ListRow listRow(double s, const LatticeFunctions& lf)
{
    return {lf.betaX, lf.alphaX, lf.phiX, lf.eta, lf.etaP, lf.betaY, lf.alphaY, lf.phiY, s};
}

/// Lattice functions whose list row is values (the inverse of listRow).
inline LatticeFunctions functionsOfRow(const ListRow& values)
{
    LatticeFunctions lf;
    lf.betaX = values[0];
    lf.alphaX = values[1];
    lf.phiX = values[2];
    lf.eta = values[3];
    lf.etaP = values[4];
    lf.betaY = values[5];
    lf.alphaY = values[6];
    lf.phiY = values[7];
    return lf;
}

struct RecordedRow
{
    int index;
    ListRow values;
};

class RecordingList : public ListSink
{
public:
    void row(int index, double s, const LatticeFunctions& lf) override
    {
        rows.push_back({index, listRow(s, lf)});
    }
    void ringTunes(double tuneX, double tuneY) override { tunes = {tuneX, tuneY}; }
    std::vector<RecordedRow> rows;
    std::array<double, 2> tunes{-1, -1}; // none handed over
};

struct Point
{
    double s, v1, v2, v3;
};

/// Records the curve values the chart would plot in the graph mode of run.
class RecordingPlot : public PlotSink
{
public:
    explicit RecordingPlot(const RunSettings& run) : m_run(run) {}
    void point(double s, const LatticeFunctions& lf) override
    {
        const std::array<double, 3> v = curveValues(m_run, lf);
        points.push_back({s, v[0], v[1], v[2]});
    }
    std::vector<Point> points;

private:
    const RunSettings& m_run;
};

} // namespace kestrune::test
