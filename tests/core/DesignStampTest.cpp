#include "core/Design.h"
#include "support/ExampleLattice.h"

#include <gtest/gtest.h>

namespace kestrune {
namespace {

TEST(DesignStampTest, ErrorsChangeTheStampOfTheLatticeAndTakingThemOutRestoresIt)
{
    // windows whose results depend on the closed orbit see an error set applied or removed
    State state = test::exampleState("dba-cell.lat");
    const std::uint64_t clean = latticeStamp(state);
    for (const auto& give : {+[](ElementErrors& r) { r.dx = 1e-5; }, +[](ElementErrors& r) { r.dpsi = 1e-4; },
                             +[](ElementErrors& r) {
                                 r.dkn = {0, 1e-4};
                             }}) {
        ElementErrors& errors = state.line.at(3).errors;
        give(errors);
        EXPECT_NE(latticeStamp(state), clean);
        errors = ElementErrors{};
        EXPECT_EQ(latticeStamp(state), clean);
    }
}

} // namespace
} // namespace kestrune
