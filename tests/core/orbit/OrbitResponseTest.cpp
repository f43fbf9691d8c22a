#include "core/orbit/OrbitResponse.h"

#include "core/orbit/CorrectorRing.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>

namespace kestrune {
namespace {

using test::correctorRing;

TEST(OrbitResponseTest, TrackedOrbitResponseIsTheClosedFormOnALinearRing)
{
    const State state = correctorRing(false);
    std::string refusal;
    const std::optional<OrbitResponse> tracked = trackedOrbitResponse(state, refusal);
    ASSERT_TRUE(tracked.has_value()) << refusal;
    const std::optional<OrbitResponse> closedForm = closedFormOrbitResponse(state, false, refusal);
    ASSERT_TRUE(closedForm.has_value()) << refusal;
    double largest = 0;
    for (const auto& row : closedForm->matrix)
        for (double v : row)
            largest = std::max(largest, std::fabs(v));
    ASSERT_GT(largest, 1);
    for (std::size_t i = 0; i < tracked->matrix.size(); ++i)
        for (std::size_t j = 0; j < tracked->matrix[i].size(); ++j)
            EXPECT_NEAR(tracked->matrix[i][j], closedForm->matrix[i][j], 1e-6 * largest) << i << " " << j;
}

} // namespace
} // namespace kestrune
