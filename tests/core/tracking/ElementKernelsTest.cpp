// The element kernels on every instruction set this processor has: the scans and the tracked tunes of the
// example ring are the same to the last bit on every vector width and thread count.
#include "core/tracking/ElementKernels.h"

#include "core/aperture/ApertureRings.h"
#include "core/aperture/DynamicAperture.h"
#include "core/aperture/MomentumAcceptance.h"
#include "core/tracking/TrackingRings.h"

#include <cstring>

namespace kestrune {
namespace {

struct ScanNumbers
{
    std::vector<double> radius, deltaPlus, deltaMinus, tunes;

    bool operator==(const ScanNumbers& o) const
    {
        const auto same = [](const std::vector<double>& a, const std::vector<double>& b) {
            return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
        };
        return same(radius, o.radius) && same(deltaPlus, o.deltaPlus) && same(deltaMinus, o.deltaMinus) &&
               same(tunes, o.tunes);
    }
};

// 17 rays and both signs of 32 deviations: full vectors and a rest on every width; off momentum, so
// that every term of the magnets' maps is at work
ScanNumbers scans(const ApertureRing& ring, int threads)
{
    ScanControl control;
    control.threads = threads;
    DynamicApertureSettings da;
    da.angles = 17;
    da.turns = 100;
    da.delta = 0.005;
    MomentumAcceptanceSettings ma;
    ma.turns = 64;
    ma.every = 4;
    ma.aperture = {0.01, 0.005};
    ScanNumbers n;
    n.radius = dynamicAperture(ring, da, control).radius;
    const MomentumAcceptance acceptance = momentumAcceptance(ring, ma, control);
    n.deltaPlus = acceptance.deltaPlus;
    n.deltaMinus = acceptance.deltaMinus;
    const TrackedTunes t = test::tunesOf(ring.lattice, {1e-3, 0, 5e-4, 0, 2e-3, 0}, 512);
    n.tunes = {t.x, t.y, t.synchrotron};
    return n;
}

TEST(ElementKernels, ScansAndTunesAreTheSameOnEveryWidthAndThreadCount)
{
    const ApertureRing ring = test::dbaRing(2);
    const std::string widest = kernelInstructionSet();
    const std::vector<std::string> sets = kernelInstructionSets();
    ASSERT_EQ(sets.front(), "sse2");
    EXPECT_EQ(widest, sets.back());
    ASSERT_TRUE(useKernelInstructionSet("sse2"));
    const ScanNumbers first = scans(ring, 1);
    for (const std::string& set : sets) {
        ASSERT_TRUE(useKernelInstructionSet(set));
        for (int threads : {1, 2})
            EXPECT_TRUE(scans(ring, threads) == first) << set << " on " << threads << " threads";
    }
    EXPECT_FALSE(useKernelInstructionSet("avx1024"));
    useKernelInstructionSet(widest);
    EXPECT_EQ(kernelInstructionSet(), widest);
}

// Errors of every kind on the magnets of the example ring (misalignments in all six degrees and field
// errors up to the octupole): the tracked tunes are the same to the last bit on every width.
TEST(ElementKernels, ErrorsTrackTheSameOnEveryWidth)
{
    State state = test::dbaState(2);
    int n = 0;
    for (int i = 1; i <= state.line.count; ++i) {
        LatticeElement& e = state.line.at(i);
        const int family = familyOf(e.code);
        if (family != static_cast<int>(Family::Bend) && family != static_cast<int>(Family::Quadrupole) &&
            family != static_cast<int>(Family::Sextupole))
            continue;
        const double a = 1e-5 * (1 + n++ % 5);
        e.errors = ElementErrors{a, -a, 2 * a, a / 3, -a / 2, 3 * a, {1e-6, -a, 0.1 * a, 2.0}, {-1e-6, a}};
    }
    ASSERT_GT(n, 4);
    const SymplecticLattice lattice = test::latticeOf(state);
    // 13 particles: full vectors and a rest on every width, off momentum
    const auto track = [&lattice] {
        ParticleBlock block;
        for (int j = 0; j < 13; ++j)
            block.add({1e-4 * j, -2e-6 * j, 5e-5 * (13 - j), 1e-6, 1e-4 * (j - 6), 0}, j);
        for (int turn = 0; turn < 50; ++turn)
            for (const ElementMap& e : lattice.cell)
                pushElement(e, block);
        return block;
    };
    const std::string widest = kernelInstructionSet();
    ASSERT_TRUE(useKernelInstructionSet("sse2"));
    const ParticleBlock first = track();
    for (const std::string& set : kernelInstructionSets()) {
        ASSERT_TRUE(useKernelInstructionSet(set));
        const ParticleBlock b = track();
        for (const auto& [a, c] : {std::pair{first.x, b.x},
                                   {first.px, b.px},
                                   {first.y, b.y},
                                   {first.py, b.py},
                                   {first.delta, b.delta},
                                   {first.l, b.l}})
            EXPECT_EQ(std::memcmp(a, c, 13 * sizeof(double)), 0) << set;
    }
    useKernelInstructionSet(widest);
    EXPECT_TRUE(std::isfinite(first.x[12]) && std::isfinite(first.y[12]));
}

} // namespace
} // namespace kestrune
