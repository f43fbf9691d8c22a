#include "core/tracking/ParticleTracker.h"

#include "core/Threads.h"
#include "core/tracking/ElementKernels.h"

#include <algorithm>
#include <chrono>
#include <cmath>

namespace kestrune {

namespace {

// Shortest time between two calls of the progress callback.
constexpr std::chrono::milliseconds kProgressInterval(50);

// Written so that a coordinate that is no number counts as lost too.
bool outside(const ParticleBlock& b, int j, const Aperture& a)
{
    return !(std::fabs(b.x[j]) <= a.x && std::fabs(b.y[j]) <= a.y);
}

bool anyOutside(const ParticleBlock& b, const Aperture& a)
{
    bool out = false;
    for (int j = 0; j < b.count; ++j)
        out |= outside(b, j, a);
    return out;
}

// An element's own aperture (MAD-X's APERTYPE with APER_OFFSET), written so that a coordinate that is no
// number counts as outside; the tracker's loss limit holds there too.
bool outsideOwn(const ParticleBlock& b, int j, const ElementAperture& a)
{
    const double x = b.x[j];
    const double y = b.y[j];
    if (!(std::fabs(x) <= kTrackingLossLimit && std::fabs(y) <= kTrackingLossLimit))
        return true;
    const double u = x - a.dx;
    const double v = y - a.dy;
    const auto inEllipse = [u, v](double ha, double hb) {
        return (u / ha) * (u / ha) + (v / hb) * (v / hb) <= 1;
    };
    const bool inRectangle = std::fabs(u) <= a.a[0] && std::fabs(v) <= a.a[1];
    switch (a.type) {
    case ApertureType::Circle:
        return !(u * u + v * v <= a.a[0] * a.a[0]);
    case ApertureType::Rectangle:
        return !inRectangle;
    case ApertureType::Ellipse:
        return !inEllipse(a.a[0], a.a[1]);
    case ApertureType::RectEllipse:
        return !(inRectangle && inEllipse(a.a[2], a.a[3]));
    case ApertureType::None:
        break;
    }
    return false;
}

// Takes the particles for which outside(j) holds out of the block, the last one filling each gap, with
// their fates.
template <typename Outside>
void removeWhere(ParticleBlock& b, Outside outside, int turn, int position, ParticleFate* fates)
{
    for (int j = b.count - 1; j >= 0; --j) {
        if (!outside(j))
            continue;
        fates[b.id[j]] = {true, turn, position, b.at(j)};
        const int last = --b.count;
        b.x[j] = b.x[last];
        b.px[j] = b.px[last];
        b.y[j] = b.y[last];
        b.py[j] = b.py[last];
        b.delta[j] = b.delta[last];
        b.l[j] = b.l[last];
        b.rp[j] = b.rp[last];
        b.id[j] = b.id[last];
    }
}

void removeLost(ParticleBlock& b, const Aperture& a, int turn, int position, ParticleFate* fates)
{
    removeWhere(
        b, [&b, &a](int j) { return outside(b, j, a); }, turn, position, fates);
}

// An element with an aperture of its own tests it at its entrance and its exit instead of the window's.
void pushThroughOwnAperture(const ElementMap& e, ParticleBlock& b, int turn, int position,
                            ParticleFate* fates)
{
    const auto outsideHere = [&b, &e](int j) { return outsideOwn(b, j, e.aperture); };
    removeWhere(b, outsideHere, turn, position, fates);
    pushElement(e, b);
    removeWhere(b, outsideHere, turn, position, fates);
}

// One turn of the block from ring position start (0-based) round to it, the turn's end (lag and rf)
// where the ring closes; a particle lost there counts as lost after the last element.
void trackTurn(const SymplecticLattice& lattice, ParticleBlock& b, int start, const Aperture& a, int turn,
               ParticleFate* fates)
{
    const int n = static_cast<int>(lattice.cell.size());
    const int ring = lattice.ringElements();
    const auto pass = [&](int from, int to) {
        int element = from % n;
        for (int position = from; position < to && b.count > 0; ++position) {
            const ElementMap& e = lattice.cell[static_cast<std::size_t>(element)];
            if (e.aperture.type != ApertureType::None) {
                pushThroughOwnAperture(e, b, turn, position + 1, fates);
            } else {
                pushElement(e, b);
                if (anyOutside(b, a))
                    removeLost(b, a, turn, position + 1, fates);
            }
            if (++element == n) {
                element = 0;
                if (lattice.cavityElements)
                    pushCellEnd(lattice, b);
            }
        }
    };
    pass(start, ring);
    if (b.count > 0) {
        pushTurnEnd(lattice, b);
        if (anyOutside(b, a))
            removeLost(b, a, turn, ring, fates);
    }
    pass(0, start);
}

class BlockRunner
{
public:
    BlockRunner(const SymplecticLattice& lattice, const std::vector<PhaseVector>& start,
                const TrackingOptions& options, TrackingOutcome& outcome)
        : m_lattice(lattice), m_start(start), m_options(options), m_outcome(outcome),
          m_blocks((static_cast<int>(start.size()) + ParticleBlock::kCapacity - 1) /
                   ParticleBlock::kCapacity),
          m_startPosition(std::clamp(options.startElement, 1, std::max(1, lattice.ringElements())) - 1)
    {
    }

    int blocks() const { return m_blocks; }
    double fractionDone() const
    {
        const double total = static_cast<double>(m_blocks) * m_options.turns;
        return total > 0 ? static_cast<double>(m_turnsDone.load()) / total : 1;
    }
    bool cancelled() const { return m_cancelled.load(); }

    /// Tracks blocks until none is left; report runs after every turn.
    template <typename Report> void work(Report report)
    {
        for (int index = m_next++; index < m_blocks; index = m_next++)
            runBlock(index, report);
    }

private:
    template <typename Report> void runBlock(int index, Report report)
    {
        ParticleBlock b;
        const int first = index * ParticleBlock::kCapacity;
        const int last = std::min(first + ParticleBlock::kCapacity, static_cast<int>(m_start.size()));
        for (int i = first; i < last; ++i)
            b.add(m_start[static_cast<std::size_t>(i)], i);
        ParticleFate* fates = m_outcome.particles.data();
        int turn = 0;
        while (turn < m_options.turns && b.count > 0) {
            if (m_options.cancel && m_options.cancel->load()) {
                m_cancelled = true;
                break;
            }
            trackTurn(m_lattice, b, m_startPosition, m_options.aperture, ++turn, fates);
            if (m_options.turnRecorder)
                for (int j = 0; j < b.count; ++j)
                    m_options.turnRecorder(b.id[j], turn, b.at(j));
            ++m_turnsDone;
            report();
        }
        for (int j = 0; j < b.count; ++j)
            fates[b.id[j]] = {false, turn, 0, b.at(j)};
        m_turnsDone += m_options.turns - turn;
    }

    const SymplecticLattice& m_lattice;
    const std::vector<PhaseVector>& m_start;
    const TrackingOptions& m_options;
    TrackingOutcome& m_outcome;
    const int m_blocks;
    const int m_startPosition;
    std::atomic<int> m_next{0};
    std::atomic<long long> m_turnsDone{0};
    std::atomic<bool> m_cancelled{false};
};

} // namespace

TrackingOutcome trackParticles(const SymplecticLattice& lattice, const std::vector<PhaseVector>& start,
                               const TrackingOptions& options)
{
    TrackingOutcome outcome;
    outcome.particles.resize(start.size());
    if (start.empty() || options.turns < 1 || lattice.cell.empty())
        return outcome;
    BlockRunner runner(lattice, start, options, outcome);
    const int threads = std::min(options.threads > 0 ? options.threads : hardwareThreads(), runner.blocks());
    auto last = std::chrono::steady_clock::now();
    const auto report = [&] {
        if (!options.progress)
            return;
        const auto now = std::chrono::steady_clock::now();
        if (now - last < kProgressInterval)
            return;
        last = now;
        options.progress(runner.fractionDone());
    };
    if (threads <= 1) {
        runner.work(report);
    } else {
        // the workers track; the calling thread reports the progress until they are done
        runOnThreads(
            threads, [&] { runner.work([] {}); },
            [&] {
                if (options.progress)
                    options.progress(runner.fractionDone());
            },
            kProgressInterval);
    }
    if (options.progress)
        options.progress(1);
    outcome.cancelled = runner.cancelled();
    return outcome;
}

SymplecticRun::SymplecticRun(SymplecticLattice lattice, const PhaseVector& start, int turns,
                             const Aperture& aperture)
    : m_lattice(std::move(lattice)), m_aperture(aperture), m_turns(turns)
{
    m_fate.final = start;
}

int SymplecticRun::advance(int turns, std::vector<PhaseVector>& points)
{
    int added = 0;
    ParticleBlock b;
    b.add(m_fate.final, 0);
    while (added < turns && !finished()) {
        const int turn = m_fate.turn + 1;
        trackTurn(m_lattice, b, 0, m_aperture, turn, &m_fate);
        if (b.count == 0)
            break;
        m_fate.turn = turn;
        m_fate.final = b.at(0);
        points.push_back(m_fate.final);
        ++added;
    }
    return added;
}

} // namespace kestrune
