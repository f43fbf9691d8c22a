#include "core/orbit/ClosedOrbit.h"

#include "core/Kinematics.h"
#include "core/coupling/CoupledOptics.h"
#include "core/io/LatticeFile.h"
#include "support/FakeMessages.h"

#include <Eigen/Dense>
#include <cmath>
#include <gtest/gtest.h>

namespace kestrune {
namespace {

// The closed orbit of a kicked coupled ring (the validation ring, sextupoles off, its drift D1 a kicker of
// both planes) against the fixed point of the coupled optics' linear maps z -> A z + b, the kicker a kick
// between two half drifts: z = (I - A)^-1 b. What is left are the bends' second-order terms, h x ~ 1e-5 of it
// at an orbit of 5e-5 m.
TEST(ClosedOrbitTest, OrbitOfAKickedCoupledRingIsTheCoupledOpticsFixedPoint)
{
    const struct
    {
        double hkick, vkick;
    } cases[] = {{2e-5, 0}, {0, -3e-5}};
    for (const auto& c : cases) {
        State state;
        startParticle(state);
        test::FakeMessages messages;
        ASSERT_TRUE(
            readLatticeFile(state, messages, std::string(KESTRUNE_VALIDATION) + "/coupled-double-bend.lat"));
        Map5 a = identityMap();
        double b[4] = {0, 0, 0, 0};
        for (int i = 1; i <= state.line.count; ++i) {
            LatticeElement& e = state.line.at(i);
            e.m = 0;
            if (e.name == "D1") {
                e.code = code::kKicker;
                e.hkick = c.hkick;
                e.vkick = c.vkick;
            }
            const Map5 m = elementMap(e);
            double next[4];
            for (int r = 0; r < 4; ++r)
                next[r] = m[r][0] * b[0] + m[r][1] * b[1] + m[r][2] * b[2] + m[r][3] * b[3];
            if (e.code == code::kKicker) {
                next[0] += e.length / 2 * e.hkick;
                next[1] += e.hkick;
                next[2] += e.length / 2 * e.vkick;
                next[3] += e.vkick;
            }
            std::copy(next, next + 4, b);
            a = product(m, a);
        }
        Eigen::Matrix4d iMinusA;
        for (int r = 0; r < 4; ++r)
            for (int k = 0; k < 4; ++k)
                iMinusA(r, k) = (r == k ? 1 : 0) - a[r][k];
        const Eigen::Vector4d z = iMinusA.partialPivLu().solve(Eigen::Vector4d(b[0], b[1], b[2], b[3]));
        const ClosedOrbit orbit = closedOrbit(state);
        ASSERT_TRUE(orbit.found) << orbit.refusal;
        const PhaseVector& o = orbit.orbit[0];
        const double tracked[4] = {o.x, o.px, o.y, o.py};
        // both planes move, whichever was kicked
        EXPECT_GT(std::fabs(z(0)), 1e-7);
        EXPECT_GT(std::fabs(z(2)), 1e-7);
        const double size = z.cwiseAbs().maxCoeff();
        for (int k = 0; k < 4; ++k)
            EXPECT_NEAR(tracked[k], z(k), 2e-4 * size) << k;
    }
}

} // namespace
} // namespace kestrune
