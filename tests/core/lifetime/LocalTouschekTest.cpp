// The Touschek lifetime from a local momentum acceptance.
#include "core/lifetime/LocalTouschek.h"

#include "core/Constants.h"
#include "support/FakeMessages.h"
#include "support/RfTestRing.h"

#include <cmath>
#include <gtest/gtest.h>

namespace kestrune {
namespace {

// The window's formula takes one acceptance and the average betas; written with the sizes of each place
// (sqrt(eps beta), sqrt(kappa eps beta), sqrt(eps / beta)) of those averages and the same acceptance at
// every place, of whatever length, the local lifetime must be the window's.
TEST(LocalTouschek, RfAcceptanceAndAverageSizesGiveTheWindowsLifetime)
{
    struct Case
    {
        double acceptance, coupling, betaX, betaY, emittance;
    };
    for (const Case c : {Case{0.01, 0.01, 10, 10, 10e-9}, Case{0.025, 0.002, 4.5, 17, 2e-9},
                         Case{0.004, 0.1, 22, 3, 80e-9}}) {
        TouschekInput in;
        in.energyAcceptance = c.acceptance;
        in.coupling = c.coupling;
        in.bunchCurrentMa = 2.0;
        in.bunchLengthMm = 4.0;
        in.averageBetaX = c.betaX;
        in.averageBetaY = c.betaY;
        in.gamma = 3e9 / kElectronRestEnergy;
        in.emittanceX = c.emittance;
        in.revolutionFrequency = 1e6;
        const TouschekLifetime single = touschekLifetime(in);
        ASSERT_TRUE(single.lifetime);
        std::vector<TouschekSegment> ring;
        for (double length : {0.0, 1.5, 0.25, 7.0}) {
            TouschekSegment place;
            place.length = length;
            place.sigmaX = std::sqrt(c.emittance * c.betaX);
            place.sigmaY = std::sqrt(c.coupling * c.emittance * c.betaY);
            place.divergenceX = std::sqrt(c.emittance / c.betaX);
            place.deltaPlus = c.acceptance;
            place.deltaMinus = -c.acceptance;
            ring.push_back(place);
        }
        const std::optional<double> local =
            localTouschekLifetime(ring, {single.particles, in.bunchLengthMm / 1000, in.gamma});
        ASSERT_TRUE(local);
        EXPECT_NEAR(*local, *single.lifetime, 1e-12 * *single.lifetime);
    }
}

// The DBA ring with the rf acceptance at every element start: the local sizes (dispersion in the arcs,
// the betas of each place) give a lifetime of the order of the averages' one. A lattice edited after the
// scan, or no scan, is refused.
TEST(LocalTouschek, UpdateTakesTheStoredAcceptanceOfItsLattice)
{
    State state;
    test::FakeMessages messages;
    ASSERT_TRUE(test::dbaRing(state, messages));
    LifetimeBoxes boxes;
    touschekMenu(state, boxes);
    boxes.energyAcceptance2 = ""; // the rf acceptance
    EXPECT_FALSE(runLocalTouschekUpdate(state, boxes, messages));
    const auto single = runTouschekUpdate(state, boxes, messages);
    ASSERT_TRUE(single && single->lifetime.lifetime);
    LocalAcceptance& a = state.localAcceptance;
    for (int i = 1; i <= state.line.count; ++i) {
        a.elements.push_back(i);
        a.s.push_back(state.line.at(i).s);
        a.deltaPlus.push_back(state.rf.energyAcceptance);
        a.deltaMinus.push_back(-state.rf.energyAcceptance);
    }
    a.lattice = trackingFingerprint(state);
    const auto update = runLocalTouschekUpdate(state, boxes, messages);
    ASSERT_TRUE(update && update->lifetime);
    EXPECT_EQ(state.lifetimes.touschek, *update->lifetime);
    EXPECT_GT(*update->lifetime, 0.5 * *single->lifetime.lifetime);
    EXPECT_LT(*update->lifetime, 2 * *single->lifetime.lifetime);
    state.line.at(3).k *= 1.01;
    EXPECT_FALSE(runLocalTouschekUpdate(state, boxes, messages));
    EXPECT_EQ(messages.errors, (std::vector<std::string>{kNoLocalAcceptance, kStaleLocalAcceptance}));
}

} // namespace
} // namespace kestrune
