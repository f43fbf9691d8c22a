#pragma once

#include "core/tracking/PhaseVector.h"
#include "core/tracking/SymplecticLattice.h"

#include <string>
#include <vector>

namespace kestrune {

/// Particles tracked together, as one array per coordinate; rp = 1 / (1 + delta) is kept with delta.
struct ParticleBlock
{
    static constexpr int kCapacity = 64;
    int count = 0;
    double x[kCapacity];
    double px[kCapacity];
    double y[kCapacity];
    double py[kCapacity];
    double delta[kCapacity];
    double l[kCapacity];
    double rp[kCapacity];
    int id[kCapacity]; // the caller's index of each particle

    /// Appends a particle; the block must have room.
    void add(const PhaseVector& p, int index);
    /// Particle j (0 <= j < count).
    PhaseVector at(int j) const;
};

/// The instruction sets the element kernels are built for that this processor has, narrowest first:
/// "sse2" always, "avx2", "avx512f".
std::vector<std::string> kernelInstructionSets();
/// The instruction set the kernels use: the widest of kernelInstructionSets() unless changed.
std::string kernelInstructionSet();
/// Makes the kernels use one of kernelInstructionSets() (false for another name, nothing changed); for
/// tests and benchmarks, since the results do not depend on it. Not while particles are being tracked.
bool useKernelInstructionSet(const std::string& name);

/// Moves every particle of the block through one element.
void pushElement(const ElementMap& e, ParticleBlock& block);

/// The end of a turn: the lag of a particle whose speed differs from the reference's over the
/// circumference, then the rf cavity's kick when it is on; nothing when the cell has cavities of its own.
void pushTurnEnd(const SymplecticLattice& lattice, ParticleBlock& block);

/// The end of a cell that has cavities of its own: the lag from the centre of its last cavity on.
void pushCellEnd(const SymplecticLattice& lattice, ParticleBlock& block);

} // namespace kestrune
