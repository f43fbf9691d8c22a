// The tracker's off-momentum tunes against the chromaticity of the linear optics with sextupoles (the
// radiation-integral pass and the sextupole sums: another model of the same ring, another code path).
#include "core/nonlinear/ChromaticTunes.h"

#include "core/chromaticity/Chromaticity.h"
#include "core/ring/Parameter.h"
#include "core/tracking/TrackingRings.h"
#include "support/ExampleLattice.h"

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

} // namespace
} // namespace kestrune
