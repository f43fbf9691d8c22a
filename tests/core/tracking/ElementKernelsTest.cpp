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

} // namespace
} // namespace kestrune
