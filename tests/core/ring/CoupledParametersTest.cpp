#include "core/ring/CoupledParameters.h"

#include "core/coupling/ModeEmittances.h"
#include "core/lifetime/LocalTouschek.h"
#include "core/optics/BetaFunctions.h"
#include "core/ring/Parameter.h"
#include "core/ring/RingGeometry.h"
#include "support/ExampleLattice.h"
#include "support/FakeMessages.h"

#include <cmath>
#include <gtest/gtest.h>

namespace kestrune {
namespace {

// The example DBA ring (its sextupoles, 12 cells) as the ring window computes it, no typed coupling,
// each element rolled by tilt (0: the uncoupled ring pass).
State dbaRing(double tilt, bool quadrupolesOnly = false)
{
    State state = test::exampleState("dba-cell.lat");
    test::FakeMessages messages;
    EXPECT_TRUE(ringGeometry(state, messages, {std::to_string(state.line.superPeriods), "499.654"}));
    for (int i = 1; i <= state.line.count; ++i)
        if (!quadrupolesOnly || familyOf(state.line.at(i).code) == static_cast<int>(Family::Quadrupole))
            state.line.at(i).tilt = tilt;
    if (tilt == 0) {
        EXPECT_TRUE(betaFunctions(state, messages, nullptr));
    }
    EXPECT_TRUE(updateBeamParameters(state, messages, {"2000", "200", "0"})) << messages.errors.front();
    return state;
}

using Field = double RingParameters::*;
struct Pair
{
    const char* name;
    Field coupled, plain; // the coupled ring's field and the uncoupled one it equals
    double tolerance;     // relative
};

void expectPairs(const RingParameters& coupled, const RingParameters& plain, const std::vector<Pair>& pairs)
{
    for (const Pair& p : pairs) {
        const double want = plain.*p.plain;
        ASSERT_TRUE(std::isfinite(coupled.*p.coupled)) << p.name;
        EXPECT_NEAR(coupled.*p.coupled, want, p.tolerance * std::fabs(want)) << p.name;
    }
}

TEST(CoupledParameters, RingRolledByAQuarterTurnHasTheSwappedUncoupledResults)
{
    // every element rolled by pi/2: the bends bend vertically, mode 1 (mostly x) is the unrolled ring's
    // vertical motion. The integrals come from the modes' eigenvectors and the coupled dispersion, the
    // plain ones from the uncoupled pass's closed forms; the partitions of the modes see the rf (1e-9),
    // and mode 3's energy spread the exact synchrotron motion where the plain one is smooth (2e-6).
    const State plain = dbaRing(0);
    const State rolled = dbaRing(kPi / 2);
    const RingParameters& r = rolled.ringParams;
    ASSERT_TRUE(r.modes.coupled);
    using R = RingParameters;
    expectPairs(r, plain.ringParams,
                {{"U0", &R::energyLoss, &R::energyLoss, 1e-14},
                 {"I1", &R::i1, &R::i1, 1e-9},
                 {"I2", &R::i2, &R::i2, 1e-14},
                 {"I3", &R::i3, &R::i3, 1e-14},
                 {"I4", &R::i4, &R::i4, 1e-7},
                 {"alpha_c", &R::momentumCompaction, &R::momentumCompaction, 1e-9},
                 {"tau_1", &R::dampingTimeX, &R::dampingTimeY, 1e-8},
                 {"tau_2", &R::dampingTimeY, &R::dampingTimeX, 1e-8},
                 {"tau_3", &R::dampingTimeS, &R::dampingTimeS, 1e-8},
                 {"eps_2", &R::emittanceY, &R::emittanceX, 1e-6},
                 {"sigma_delta", &R::energySpread, &R::energySpread, 1e-5},
                 {"Q_1", &R::tuneX, &R::tuneY, 1e-9},
                 {"Q_2", &R::tuneY, &R::tuneX, 1e-9},
                 {"<beta_11>", &R::averageBetaX, &R::averageBetaY, 1e-9},
                 {"<beta_22>", &R::averageBetaY, &R::averageBetaX, 1e-9},
                 {"xi_1", &R::chromaticityX, &R::chromaticityY, 1e-7},
                 {"xi_2", &R::chromaticityY, &R::chromaticityX, 1e-7},
                 {"xi_1 sext", &R::correctedChromaticityX, &R::correctedChromaticityY, 1e-7},
                 {"xi_2 sext", &R::correctedChromaticityY, &R::correctedChromaticityX, 1e-7}});
    EXPECT_NEAR(r.emittanceX, 0, 1e-12 * plain.ringParams.emittanceX);
    EXPECT_TRUE(std::isnan(r.i5));
    const BeamParameterView v = beamParameterView(rolled);
    EXPECT_NE(v.i5.find("n/a"), std::string::npos);
}

TEST(CoupledParameters, WeaklyCoupledRingTendsToTheUncoupledOne)
{
    // quadrupoles rolled by 1e-5 rad: the modes differ from the planes by the coupling squared, 1e-10
    const State plain = dbaRing(0);
    const State weak = dbaRing(1e-5, true);
    ASSERT_TRUE(weak.ringParams.modes.coupled);
    using R = RingParameters;
    expectPairs(weak.ringParams, plain.ringParams,
                {{"tau_x", &R::dampingTimeX, &R::dampingTimeX, 1e-8},
                 {"tau_y", &R::dampingTimeY, &R::dampingTimeY, 1e-8},
                 {"tau_s", &R::dampingTimeS, &R::dampingTimeS, 1e-8},
                 {"eps_x", &R::emittanceX, &R::emittanceX, 1e-6},
                 {"xi_x", &R::chromaticityX, &R::chromaticityX, 1e-7},
                 {"xi_y", &R::chromaticityY, &R::chromaticityY, 1e-7},
                 {"<beta_x>", &R::averageBetaX, &R::averageBetaX, 1e-9}});
    EXPECT_LT(weak.ringParams.emittanceY, 1e-6 * plain.ringParams.emittanceX);
    const PlaneEmittances planes = planeEmittances(weak.ringParams);
    EXPECT_NEAR(planes.x, plain.ringParams.emittanceX, 1e-6 * plain.ringParams.emittanceX);
}

TEST(CoupledParameters, LocalTouschekPlacesOfAWeaklyCoupledRingAreTheUncoupledOnes)
{
    // the divergence from the coupled betatron distribution, Sigma_pp - Sigma_xp^2 / Sigma_xx, against
    // sqrt(eps_x / beta_x) of the uncoupled pass at the element starts
    State plain = dbaRing(0);
    State weak = dbaRing(1e-5, true);
    for (State* s : {&plain, &weak}) {
        s->localAcceptance.elements = {1, 3, 5};
        s->localAcceptance.s = {0, 1, 2};
        s->localAcceptance.deltaPlus = {0.01, 0.01, 0.01};
        s->localAcceptance.deltaMinus = {-0.01, -0.01, -0.01};
    }
    test::FakeMessages messages;
    const auto a = localTouschekRing(plain, plain.ringParams.emittanceX, 0, messages);
    const auto b = localTouschekRing(weak, weak.ringParams.emittanceX, 0, messages);
    ASSERT_TRUE(a && b);
    for (std::size_t j = 0; j < a->size(); ++j) {
        EXPECT_NEAR((*b)[j].sigmaX, (*a)[j].sigmaX, 1e-6 * (*a)[j].sigmaX) << j;
        EXPECT_NEAR((*b)[j].divergenceX, (*a)[j].divergenceX, 1e-6 * (*a)[j].divergenceX) << j;
    }
}

} // namespace
} // namespace kestrune
