#include "core/orbit/OrbitResponse.h"

#include "core/orbit/CorrectorRing.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>

namespace kestrune {
namespace {

using test::correctorRing;

double largest(const OrbitResponse& r)
{
    double m = 0;
    for (const auto& row : r.matrix)
        for (double v : row)
            m = std::max(m, std::fabs(v));
    return m;
}

// The tracked response against the closed form on the linear ring (thick and thin kickers, the momentum
// held or the rf frequency), and on the same cells as a transport line; the fixed frequency's response
// differs from the fixed momentum's by its dispersion term, which the comparison therefore holds.
TEST(OrbitResponseTest, TrackedResponseIsTheClosedForm)
{
    const struct
    {
        OrbitKind kind;
        ResponseMomentum momentum;
        double kickerLength; // m
    } cases[] = {{OrbitKind::Closed, ResponseMomentum::Fixed, 0.1},
                 {OrbitKind::Closed, ResponseMomentum::FixedFrequency, 0.1},
                 {OrbitKind::Closed, ResponseMomentum::FixedFrequency, 0},
                 {OrbitKind::Trajectory, ResponseMomentum::Fixed, 0.5}};
    for (const auto& c : cases) {
        const State state = correctorRing(false, c.kickerLength);
        std::string refusal;
        const std::optional<OrbitResponse> tracked = trackedOrbitResponse(state, refusal, c.kind, c.momentum);
        ASSERT_TRUE(tracked.has_value()) << refusal;
        const std::optional<OrbitResponse> closedForm =
            closedFormOrbitResponse(state, c.momentum, refusal, c.kind);
        ASSERT_TRUE(closedForm.has_value()) << refusal;
        const double size = largest(*closedForm);
        ASSERT_GT(size, 1);
        for (std::size_t i = 0; i < tracked->matrix.size(); ++i)
            for (std::size_t j = 0; j < tracked->matrix[i].size(); ++j)
                ASSERT_NEAR(tracked->matrix[i][j], closedForm->matrix[i][j], 1e-6 * size)
                    << c.kickerLength << " " << i << " " << j;
        if (c.momentum == ResponseMomentum::FixedFrequency) {
            const std::optional<OrbitResponse> fixed =
                closedFormOrbitResponse(state, ResponseMomentum::Fixed, refusal, c.kind);
            ASSERT_TRUE(fixed.has_value());
            EXPECT_GT(std::fabs(fixed->matrix[0][0] - closedForm->matrix[0][0]), 1e-3 * size);
        }
    }
}

TEST(OrbitResponseTest, ClosedFormRefusesACoupledRingTheTrackedOneTakesIt)
{
    State state = correctorRing(false);
    state.line.at(2).k1s = 0.05;
    std::string refusal;
    EXPECT_FALSE(closedFormOrbitResponse(state, ResponseMomentum::Fixed, refusal).has_value());
    EXPECT_NE(refusal.find("'E2' (2)"), std::string::npos) << refusal;
    const std::optional<OrbitResponse> tracked = trackedOrbitResponse(state, refusal);
    ASSERT_TRUE(tracked.has_value()) << refusal;
    // a horizontal kick moves the vertical orbit
    EXPECT_GT(std::fabs(tracked->matrix[20][0]), 1e-3);
}

} // namespace
} // namespace kestrune
