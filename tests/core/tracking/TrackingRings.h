#pragma once

#include "core/Format.h"
#include "core/Kinematics.h"
#include "core/io/LatticeFile.h"
#include "core/optics/BetaFunctions.h"
#include "core/rf/RfUpdate.h"
#include "core/ring/Parameter.h"
#include "core/ring/RingGeometry.h"
#include "core/tracking/ElementKernels.h"
#include "core/tracking/ParticleTracker.h"
#include "core/tracking/TuneAnalysis.h"
#include "support/FakeMessages.h"

#include <array>
#include <cmath>
#include <fstream>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <string>

namespace kestrune::test {

/// The rings of the validation set.
inline const char* const kValidationRings[] = {"fodo-gradient", "rect-wedge-gap", "double-bend-sextupoles"};

/// A ring of the validation set as its lattice file holds it.
inline State validationRing(const std::string& name)
{
    State state;
    startParticle(state);
    FakeMessages messages;
    EXPECT_TRUE(readLatticeFile(state, messages, std::string(KESTRUNE_VALIDATION) + "/" + name + ".lat"));
    return state;
}

/// A number of the validation set's reference.json.
inline double reference(const std::string& ring, const std::string& key)
{
    std::ifstream in(std::string(KESTRUNE_VALIDATION) + "/reference.json");
    return nlohmann::json::parse(in).at(ring).at(key).get<double>();
}

/// A chromaticity of the validation set's extra-reference.json by the code named there ("MAD-X TWISS,
/// second-order map" or "MAD-X PTC_TWISS").
inline double extraReference(const std::string& ring, const std::string& key, const std::string& code)
{
    std::ifstream in(std::string(KESTRUNE_VALIDATION) + "/extra-reference.json");
    return nlohmann::json::parse(in).at("values").at(ring).at(key).at(code).get<double>();
}

/// The ring as the ring and rf windows compute it: geometry with the file's rf frequency, integrals,
/// equilibrium and the rf parameters of the file's voltage.
inline void computeRf(State& state)
{
    FakeMessages messages;
    const GeometryInput input{std::to_string(state.line.superPeriods),
                              fmt("%10.5f", state.rf.frequency / 1e6)};
    ASSERT_TRUE(ringGeometry(state, messages, input));
    radiationIntegrals(state, messages);
    equilibriumParameters(state);
    ASSERT_TRUE(updateRfParameters(state, messages));
}

/// The periodic solution of the cell (start values in state.run).
inline State periodic(const State& state)
{
    State optics = state;
    FakeMessages messages;
    EXPECT_TRUE(betaFunctions(optics, messages, nullptr));
    return optics;
}

inline SymplecticLattice latticeOf(const State& state, const RfCavity& rf = {})
{
    FakeMessages messages;
    return buildSymplecticLattice(state, messages, rf);
}

/// The tunes of one particle tracked over turns turns from start.
inline TrackedTunes tunesOf(const SymplecticLattice& lattice, const PhaseVector& start, int turns = 2048)
{
    SymplecticRun run(lattice, start, turns, Aperture{});
    std::vector<PhaseVector> points;
    run.advance(turns, points);
    EXPECT_FALSE(run.lost());
    return trackedTunes(points, lattice.rf.on);
}

/// One pass of a particle through the full ring (no turn end).
inline PhaseVector oneTurn(const SymplecticLattice& lattice, const PhaseVector& p)
{
    ParticleBlock block;
    block.add(p, 0);
    for (int s = 0; s < lattice.superPeriods; ++s)
        for (const ElementMap& e : lattice.cell)
            pushElement(e, block);
    return block.at(0);
}

/// dQ/d(delta) of the ring from tracked particles at +-d on the dispersion orbit of the optics, with a
/// small betatron amplitude in both planes.
inline std::array<double, 2> trackedChromaticity(const State& state, double d = 1e-4)
{
    const State optics = periodic(state);
    const SymplecticLattice lattice = latticeOf(state);
    const auto at = [&](double delta) {
        return tunesOf(lattice,
                       {optics.run.etaX0 * delta + 1e-6, optics.run.etaPX0 * delta, 1e-6, 0, delta, 0});
    };
    const TrackedTunes plus = at(d), minus = at(-d);
    // fractional tunes: a difference across an integer is taken modulo 1
    const auto change = [](double a, double b) { return std::remainder(a - b, 1.0); };
    return {change(plus.x, minus.x) / (2 * d), change(plus.y, minus.y) / (2 * d)};
}

} // namespace kestrune::test
