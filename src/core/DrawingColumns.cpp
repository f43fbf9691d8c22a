#include "core/DrawingColumns.h"

#include "core/Threads.h"

#include <algorithm>
#include <cmath>

namespace kestrune {

void ShapeIndex::rebuild(const BeamLine& line)
{
    const std::size_t n = static_cast<std::size_t>(std::max(0, line.count)) + 1;
    m_lower.resize(n);
    m_upper.resize(n);
    m_reach.resize(n);
    // shapes from..to, their reach from that of the shapes before (-inf); false where one starts before
    // the one before it within the range (NaN extents leave the order unknown)
    const auto extents = [&](int from, int to) {
        bool ordered = true;
        double reach = -HUGE_VAL;
        for (int i = from; i <= to; ++i) {
            const ElementShape& shape = line.shape(i);
            const std::size_t k = static_cast<std::size_t>(i);
            m_lower[k] = std::min(shape.x0, shape.x1);
            m_upper[k] = std::max(shape.x0, shape.x1);
            reach = std::max(reach, m_upper[k]);
            m_reach[k] = reach;
            if (i > from && !(m_lower[k] >= m_lower[k - 1]))
                ordered = false;
        }
        return ordered;
    };
    const int count = line.count;
    if (count < kShapesDrawnInParts || hardwareThreads() < 2) {
        m_ordered = extents(1, count);
        return;
    }
    // a long line in two halves on two threads; the second's reach then takes in the first's (the
    // larger of two, the earlier where they are equal, as one sweep keeps it)
    const int half = count / 2;
    bool firstOrdered = true;
    bool secondOrdered = true;
    runInTwoParts([&] { firstOrdered = extents(1, half); },
                  [&] { secondOrdered = extents(half + 1, count); });
    const double reach = m_reach[static_cast<std::size_t>(half)];
    for (std::size_t k = static_cast<std::size_t>(half) + 1; k < n; ++k)
        m_reach[k] = std::max(reach, m_reach[k]);
    const std::size_t h = static_cast<std::size_t>(half);
    m_ordered = firstOrdered && secondOrdered && m_lower[h + 1] >= m_lower[h];
}

std::pair<int, int> ShapeIndex::candidates(double lower, double upper) const
{
    const int count = static_cast<int>(m_lower.size()) - 1;
    if (!m_ordered)
        return {1, count};
    // the first shape whose running reach gets to lower, the last that starts at or before upper
    const auto first = std::lower_bound(m_reach.begin() + 1, m_reach.end(), lower);
    const auto last = std::upper_bound(m_lower.begin() + 1, m_lower.end(), upper);
    return {static_cast<int>(first - m_reach.begin()), static_cast<int>(last - m_lower.begin()) - 1};
}

namespace {

/// The bars of one pixel column: one per colour and height, in the order of their last shape.
struct ColumnGroup
{
    struct Entry
    {
        Rgb colour;
        int top = 0;
        int bottom = 0;
        int element = 0;
        bool operator==(const Entry& o) const
        {
            return colour == o.colour && top == o.top && bottom == o.bottom;
        }
    };
    int column = 0;
    std::vector<Entry> entries;

    void add(const Entry& entry)
    {
        // most often the bar painted last: it takes the element and keeps its place
        if (!entries.empty() && entries.back() == entry) {
            entries.back().element = entry.element;
            return;
        }
        const auto same = std::find(entries.begin(), entries.end(), entry);
        if (same == entries.end()) {
            entries.push_back(entry);
            return;
        }
        std::rotate(same, same + 1, entries.end());
        entries.back() = entry;
    }
};

/// Paints the shapes of one drawing, merging narrow ones column by column.
class DrawingBuilder
{
public:
    explicit DrawingBuilder(std::vector<DrawnShape>& out) : m_out(out) {}

    void narrow(int element, const ColumnBar& bar, const Rgb& colour)
    {
        if (!m_group.entries.empty() && m_group.column != bar.column)
            flush();
        m_group.column = bar.column;
        m_group.add({colour, bar.top, bar.bottom, element});
    }

    void own(const DrawnShape& shape)
    {
        flush();
        m_previous.entries.clear(); // what follows a shape of its own starts new bars
        m_out.push_back(shape);
        m_painted = true;
    }

    /// The bars of the last column flushed are the last n shapes painted (n = lastBars()), or 0.
    std::size_t lastBars() const { return m_previousEnd == m_out.size() ? m_previous.entries.size() : 0; }
    int lastColumn() const { return m_previous.column; }
    /// The first thing painted was the bars of a column (n = firstBars(), the first n shapes), or 0.
    std::size_t firstBars() const { return m_firstBars; }
    int firstColumn() const { return m_firstColumn; }

    void flush()
    {
        if (m_group.entries.empty())
            return;
        const std::size_t n = m_group.entries.size();
        // the same bars as the column before, painted last: they grow by a column
        const bool continues = m_previous.column + 1 == m_group.column &&
                               m_previous.entries == m_group.entries && m_out.size() >= n &&
                               m_previousEnd == m_out.size();
        if (continues) {
            for (std::size_t j = 0; j < n; ++j) {
                DrawnShape& bar = m_out[m_out.size() - n + j];
                bar.right = m_group.column + 1;
                bar.element = m_group.entries[j].element;
            }
        } else {
            for (const ColumnGroup::Entry& e : m_group.entries) {
                DrawnShape bar;
                bar.kind = DrawnShape::Kind::Merged;
                bar.element = e.element;
                bar.left = m_group.column;
                bar.right = m_group.column + 1;
                bar.top = e.top;
                bar.bottom = e.bottom;
                bar.colour = e.colour;
                m_out.push_back(bar);
            }
        }
        if (!m_painted) {
            m_painted = true;
            m_firstBars = n;
            m_firstColumn = m_group.column;
        }
        m_previousEnd = m_out.size();
        std::swap(m_previous, m_group);
        m_group.entries.clear();
    }

private:
    std::vector<DrawnShape>& m_out;
    ColumnGroup m_group;
    ColumnGroup m_previous;
    std::size_t m_previousEnd = 0;
    bool m_painted = false; // anything painted yet
    std::size_t m_firstBars = 0;
    int m_firstColumn = 0;
};

/// Shape i of line where the map puts it, as drawnShapes paints it: a shape of its own, a mark (Kind::Mark,
/// its box about the centre) or, when narrow, a shape whose bar columnBar gives.
DrawnShape placedShape(const BeamLine& line, const PixelMap& map, int i, double thinMarkWidth, bool& narrow)
{
    const ElementShape& shape = line.shape(i);
    const double a = map.keyScale * shape.x0 + map.keyOffset;
    const double b = map.keyScale * shape.x1 + map.keyOffset;
    const double c = map.valueScale * shape.y0 + map.valueOffset;
    const double d = map.valueScale * shape.y1 + map.valueOffset;
    DrawnShape drawn{DrawnShape::Kind::Shape,
                     i,
                     std::min(a, b),
                     std::min(c, d),
                     std::max(a, b),
                     std::max(c, d),
                     shape.colour,
                     shape.style};
    const double width = drawn.right - drawn.left;
    narrow = false;
    if (width < thinMarkWidth && isExtendedCode(line.at(i).code)) {
        // a thin multipole, marker, monitor or kicker of no length stays a visible mark at any zoom
        const double cx = (drawn.left + drawn.right) / 2;
        drawn.kind = DrawnShape::Kind::Mark;
        drawn.left = cx - thinMarkWidth / 2;
        drawn.right = cx + thinMarkWidth / 2;
    } else {
        narrow = width < 1;
    }
    return drawn;
}

bool shown(const ShapeIndex& index, int i, double lower, double upper)
{
    return !(index.upper(i) < lower || index.lower(i) > upper);
}

/// Paints the shapes first..last that meet [lower, upper] into builder.
void paintShapes(const BeamLine& line, const ShapeIndex& index, const PixelMap& map, double lower,
                 double upper, double thinMarkWidth, int first, int last, DrawingBuilder& builder)
{
    for (int i = first; i <= last; ++i) {
        if (!shown(index, i, lower, upper))
            continue;
        bool narrow = false;
        const DrawnShape drawn = placedShape(line, map, i, thinMarkWidth, narrow);
        if (narrow)
            builder.narrow(i, columnBar(drawn.left, drawn.top, drawn.right, drawn.bottom), drawn.colour);
        else
            builder.own(drawn);
    }
    builder.flush();
}

/// The first shown shape after from (up to last) that starts a column of bars of its own: a shape
/// of its own or a mark, or a narrow one whose column differs from the shown shape before it; 0 when
/// none does within a few thousand shapes. A drawing cut there paints each part as the whole would.
int partBoundary(const BeamLine& line, const ShapeIndex& index, const PixelMap& map, double lower,
                 double upper, double thinMarkWidth, int from, int last)
{
    constexpr int kLooked = 4096;
    bool before = false; // a shown shape before: its column when narrow
    bool beforeNarrow = false;
    int beforeColumn = 0;
    for (int i = from; i <= last && i < from + kLooked; ++i) {
        if (!shown(index, i, lower, upper))
            continue;
        bool narrow = false;
        const DrawnShape drawn = placedShape(line, map, i, thinMarkWidth, narrow);
        const int column = narrow ? columnBar(drawn.left, drawn.top, drawn.right, drawn.bottom).column : 0;
        if (before && (!narrow || !beforeNarrow || column != beforeColumn))
            return i;
        before = true;
        beforeNarrow = narrow;
        beforeColumn = column;
    }
    return 0;
}

} // namespace

std::vector<DrawnShape> drawnShapes(const BeamLine& line, const ShapeIndex& index, const PixelMap& map,
                                    double lower, double upper, double thinMarkWidth)
{
    const auto [first, last] = index.candidates(lower, upper);
    const bool split = last - first >= kShapesDrawnInParts && hardwareThreads() > 1;
    return drawnShapes(line, index, map, lower, upper, thinMarkWidth, split ? 2 : 1);
}

std::vector<DrawnShape> drawnShapes(const BeamLine& line, const ShapeIndex& index, const PixelMap& map,
                                    double lower, double upper, double thinMarkWidth, int parts)
{
    std::vector<DrawnShape> out;
    DrawingBuilder builder(out);
    // named values, not a structured binding: the second part's thread takes them
    const std::pair<int, int> range = index.candidates(lower, upper);
    const int first = range.first;
    const int last = range.second;
    const int cut = parts > 1 && last > first ? partBoundary(line, index, map, lower, upper, thinMarkWidth,
                                                             first + (last - first) / 2, last)
                                              : 0;
    if (cut == 0) {
        paintShapes(line, index, map, lower, upper, thinMarkWidth, first, last, builder);
        return out;
    }
    // the second part on a thread of its own, painted from nothing; where its first column's bars are
    // those of the first part's last column, one column on, they are that column's bars grown, as one
    // sweep would have them
    std::vector<DrawnShape> second;
    DrawingBuilder secondBuilder(second);
    runInTwoParts(
        [&] { paintShapes(line, index, map, lower, upper, thinMarkWidth, first, cut - 1, builder); },
        [&] { paintShapes(line, index, map, lower, upper, thinMarkWidth, cut, last, secondBuilder); });
    const std::size_t n = builder.lastBars();
    std::size_t grown = 0;
    if (n > 0 && n == secondBuilder.firstBars() && secondBuilder.firstColumn() == builder.lastColumn() + 1) {
        const auto same = [](const DrawnShape& a, const DrawnShape& b) {
            return a.colour == b.colour && a.top == b.top && a.bottom == b.bottom;
        };
        if (std::equal(out.end() - static_cast<std::ptrdiff_t>(n), out.end(), second.begin(), same)) {
            for (std::size_t j = 0; j < n; ++j) {
                DrawnShape& bar = out[out.size() - n + j];
                bar.right = second[j].right;
                bar.element = second[j].element;
            }
            grown = n;
        }
    }
    out.insert(out.end(), second.begin() + static_cast<std::ptrdiff_t>(grown), second.end());
    return out;
}

namespace {

/// One curve's points of the pixel column under way: the first, the lowest, the highest and the last.
class CurveColumn
{
public:
    CurveColumn(const std::vector<double>& values, std::vector<std::size_t>& kept)
        : m_values(values), m_kept(kept)
    {
    }

    void take(std::size_t i, long column)
    {
        const double v = m_values[i];
        if (std::isnan(v)) {
            close();
            m_kept.push_back(i);
            return;
        }
        if (m_open && column != m_column)
            close();
        if (!m_open) {
            m_open = true;
            m_column = column;
            m_first = m_lowest = m_highest = i;
        }
        if (v < m_values[m_lowest])
            m_lowest = i;
        if (v > m_values[m_highest])
            m_highest = i;
        m_last = i;
    }

    void close()
    {
        if (!m_open)
            return;
        // the four in the order they come, each once
        const std::size_t four[4] = {m_first, std::min(m_lowest, m_highest), std::max(m_lowest, m_highest),
                                     m_last};
        for (const std::size_t k : four)
            if (m_kept.empty() || m_kept.back() != k)
                m_kept.push_back(k);
        m_open = false;
    }

private:
    const std::vector<double>& m_values;
    std::vector<std::size_t>& m_kept;
    std::size_t m_first = 0, m_lowest = 0, m_highest = 0, m_last = 0;
    bool m_open = false;
    long m_column = 0;
};

} // namespace

void columnPoints(const std::vector<double>& keys, const std::vector<double>& values, double lower,
                  double upper, int columns, std::vector<std::size_t>& kept)
{
    std::vector<std::vector<std::size_t>> one(1);
    std::swap(one[0], kept);
    columnPoints(keys, {&values}, lower, upper, columns, one);
    std::swap(one[0], kept);
}

void columnPoints(const std::vector<double>& keys, const std::vector<const std::vector<double>*>& curves,
                  double lower, double upper, int columns, std::vector<std::vector<std::size_t>>& kept)
{
    kept.resize(curves.size());
    for (std::vector<std::size_t>& k : kept)
        k.clear();
    // curves of different lengths are taken one by one, each over the keys it has values for
    std::size_t n = keys.size();
    bool sameLength = true;
    for (const std::vector<double>* values : curves) {
        sameLength = sameLength && values->size() == curves.front()->size();
        n = std::min(n, values->size());
    }
    if (!sameLength) {
        for (std::size_t c = 0; c < curves.size(); ++c)
            columnPoints(keys, *curves[c], lower, upper, columns, kept[c]);
        return;
    }
    if (n == 0 || curves.empty())
        return;
    // from the last point before the range to the first one after it, so that the curve leaves the
    // plot's edges as it runs
    const auto last = keys.begin() + static_cast<std::ptrdiff_t>(n);
    const std::size_t begin =
        static_cast<std::size_t>(std::lower_bound(keys.begin(), last, lower) - keys.begin());
    const std::size_t end =
        static_cast<std::size_t>(std::upper_bound(keys.begin(), last, upper) - keys.begin());
    std::vector<CurveColumn> columnOf;
    columnOf.reserve(curves.size());
    for (std::size_t c = 0; c < curves.size(); ++c) {
        if (begin > 0)
            kept[c].push_back(begin - 1);
        columnOf.emplace_back(*curves[c], kept[c]);
    }
    const double width = upper - lower;
    const double perMetre = width > 0 ? columns / width : 0;
    // the key's pixel column is found once for all the curves
    for (std::size_t i = begin; i < end; ++i) {
        const long column = static_cast<long>(std::floor((keys[i] - lower) * perMetre));
        for (CurveColumn& curve : columnOf)
            curve.take(i, column);
    }
    for (std::size_t c = 0; c < curves.size(); ++c) {
        columnOf[c].close();
        if (end < n)
            kept[c].push_back(end);
    }
}

} // namespace kestrune
