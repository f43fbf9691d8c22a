// The tracker's off-momentum tunes against the chromaticity of the linear optics with sextupoles (the
// radiation-integral pass and the sextupole sums: another model of the same ring, another code path).
#include "core/nonlinear/ChromaticTunes.h"

#include "core/chromaticity/Chromaticity.h"
#include "core/coupling/CoupledOptics.h"
#include "core/ring/Parameter.h"
#include "core/tracking/TrackingRings.h"
#include "support/ExampleLattice.h"

#include <cmath>
#include <gtest/gtest.h>
#include <string>

namespace kestrune {
namespace {

TEST(ChromaticTunes, FirstCoefficientIsTheChromaticityWithSextupoles)
{
    const struct
    {
        const char* name;
        State state;
    } rows[] = {{"dba-cell", test::exampleState("dba-cell.lat")},
                {"double-bend-sextupoles", test::validationRing("double-bend-sextupoles")}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        State state = row.state;
        test::FakeMessages messages;
        radiationIntegrals(state, messages);
        const std::optional<ChromaticityCorrection> c = latticeChromaticity(state, messages);
        ASSERT_TRUE(c.has_value());
        std::string refusal;
        ChromaticScan scan;
        scan.range = 0.001; // the terms beyond delta^3 stay below 1e-6 in the tunes
        const std::optional<ChromaticTunes> q = chromaticTunes(state, scan, &refusal);
        ASSERT_TRUE(q.has_value()) << refusal;
        EXPECT_NEAR(q->qx[0], state.ringParams.tuneX, 1e-6);
        EXPECT_NEAR(q->qy[0], state.ringParams.tuneY, 1e-6);
        EXPECT_NEAR(q->qx[1], c->correctedX, 1e-4);
        EXPECT_NEAR(q->qy[1], c->correctedY, 1e-4);
        EXPECT_LT(q->residual, 1e-6);
    }
}

TEST(ChromaticTunes, ARingRolledByAQuarterTurnHasItsPlanesCurvesExchanged)
{
    // rolled by pi/2 the ring couples nothing in its own frame: mode 1 is the unrolled vertical motion,
    // and the coupled ring's centre tunes are its eigentunes
    State plain = test::validationRing("double-bend-sextupoles");
    State rolled = plain;
    for (int i = 1; i <= rolled.line.count; ++i)
        rolled.line.at(i).tilt = kPi / 2;
    std::string refusal;
    const std::optional<ChromaticTunes> a = chromaticTunes(plain, {}, &refusal);
    ASSERT_TRUE(a.has_value()) << refusal;
    const std::optional<ChromaticTunes> b = chromaticTunes(rolled, {}, &refusal);
    ASSERT_TRUE(b.has_value()) << refusal;
    for (std::size_t k = 0; k < 4; ++k) {
        EXPECT_NEAR(b->qx[k], a->qy[k], 1e-6 * (1 + std::fabs(a->qy[k]))) << k;
        EXPECT_NEAR(b->qy[k], a->qx[k], 1e-6 * (1 + std::fabs(a->qx[k]))) << k;
    }
    const std::optional<ChromaticTunes> c =
        chromaticTunes(test::validationRing("coupled-double-bend"), {}, &refusal);
    ASSERT_TRUE(c.has_value()) << refusal;
    const CoupledRing ring = coupledRing(test::validationRing("coupled-double-bend"));
    // the middle of the eleven points is delta = 0
    EXPECT_NEAR(c->tuneX[5], ring.tune1, 1e-8);
    EXPECT_NEAR(c->tuneY[5], ring.tune2, 1e-8);
}

} // namespace
} // namespace kestrune
