#pragma once

#include "core/tracking/PhaseVector.h"
#include "core/tracking/SymplecticLattice.h"

#include <atomic>
#include <functional>
#include <vector>

namespace kestrune {

/// How a multi-particle run goes.
struct TrackingOptions
{
    int turns = 1;
    Aperture aperture; // tested after every element without an aperture of its own
    int startElement =
        1;           // position in the full ring (1 .. ringElements) at whose entrance the particles start
    int threads = 1; // 0: as many as the machine has; the results do not depend on it
    const std::atomic<bool>* cancel = nullptr; // set by another thread: the run stops within a turn
    std::function<void(double)> progress;      // fraction done, on the calling thread, between turns
    // called after every turn for every particle still in the ring, with its index among the start
    // coordinates, the turn just completed (1, 2, ...) and its coordinates; on the thread that tracks it,
    // so that it may write only to what belongs to that particle
    std::function<void(int particle, int turn, const PhaseVector& at)> turnRecorder;
};

/// What became of one particle.
struct ParticleFate
{
    bool lost = false;
    int turn = 0;      // turns completed, or the turn in which the particle was lost
    int element = 0;   // position in the full ring of the element after which it was lost (or at whose own
                       // aperture, entrance or exit); 0 while it is not
    PhaseVector final; // the coordinates at the end, or after the element of the loss
};

/// The particles' fates in the order of the start coordinates.
struct TrackingOutcome
{
    std::vector<ParticleFate> particles;
    bool cancelled = false; // then the fates hold the turns completed before the stop
};

/// Tracks every particle from its start coordinates over options.turns turns, each turn starting and
/// ending at the entrance of options.startElement (the rf cavity sits at the start of the ring).
TrackingOutcome trackParticles(const SymplecticLattice& lattice, const std::vector<PhaseVector>& start,
                               const TrackingOptions& options);

/// One particle tracked turn by turn with the symplectic maps, in as many pieces as the caller likes.
class SymplecticRun
{
public:
    SymplecticRun(SymplecticLattice lattice, const PhaseVector& start, int turns, const Aperture& aperture);

    /// Tracks up to turns further turns (never past the requested number), appending the coordinates
    /// after every turn survived to points; stops at a loss. Returns the number of points appended.
    int advance(int turns, std::vector<PhaseVector>& points);

    bool finished() const { return m_fate.lost || m_fate.turn >= m_turns; }
    bool lost() const { return m_fate.lost; }
    /// Turns completed, or the turn in which the particle was lost.
    int turn() const { return m_fate.turn; }
    /// Position in the full ring of the element after which the particle was lost (0 while it is not).
    int lostElement() const { return m_fate.element; }
    /// The coordinates now (at the loss when lost).
    const PhaseVector& particle() const { return m_fate.final; }
    const SymplecticLattice& lattice() const { return m_lattice; }

private:
    SymplecticLattice m_lattice;
    Aperture m_aperture;
    int m_turns = 0;
    ParticleFate m_fate;
};

} // namespace kestrune
