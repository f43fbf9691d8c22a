#include "core/Kinematics.h"
#include "core/tracking/ElementKernels.h"
#include "core/tracking/SymplecticLattice.h"
#include "support/FakeMessages.h"

#include <cmath>
#include <gtest/gtest.h>

namespace kestrune {
namespace {

// A field-free element moved as a rigid body leaves the particle's path as it was: into the misaligned
// frame and out of it again is the identity to first order in each misalignment (MAD-X's changes are
// linear in the errors), what is left of the second order, below 1e-6 * 1e-3 here; a sign wrong in either
// change leaves 1e-6 * (1 + coordinate), three orders more.
TEST(Misalignment, FieldFreeElementMovedRigidlyChangesNothing)
{
    constexpr double a = 1e-6;
    const ElementErrors cases[] = {{a, 0, 0, 0, 0, 0, {}, {}},          {0, a, 0, 0, 0, 0, {}, {}},
                                   {0, 0, a, 0, 0, 0, {}, {}},          {0, 0, 0, a, 0, 0, {}, {}},
                                   {0, 0, 0, 0, a, 0, {}, {}},          {0, 0, 0, 0, 0, a, {}, {}},
                                   {a, -a, 2 * a, -a, a, 3 * a, {}, {}}};
    const PhaseVector start{1e-3, 2e-4, -5e-4, -1e-4, 0, 0};
    for (const ElementErrors& errors : cases) {
        State state;
        startParticle(state);
        state.line.count = 1;
        LatticeElement& e = state.line.at(1);
        e = LatticeElement{};
        e.name = "M";
        e.code = code::kMonitor;
        e.length = 0.5;
        test::FakeMessages messages;
        const SymplecticLattice plain = buildSymplecticLattice(state, messages, {});
        e.errors = errors;
        const SymplecticLattice moved = buildSymplecticLattice(state, messages, {});
        ASSERT_TRUE(moved.cell.front().errors != nullptr);
        ParticleBlock a1, b1;
        a1.add(start, 0);
        b1.add(start, 0);
        pushElement(plain.cell.front(), a1);
        pushElement(moved.cell.front(), b1);
        const PhaseVector p = a1.at(0), q = b1.at(0);
        for (const auto& [u, v] : {std::pair{p.x, q.x}, {p.px, q.px}, {p.y, q.y}, {p.py, q.py}, {p.l, q.l}})
            EXPECT_NEAR(u, v, 1e-9) << errors.dx << " " << errors.dy << " " << errors.ds << " "
                                    << errors.dtheta << " " << errors.dphi << " " << errors.dpsi;
    }
}

} // namespace
} // namespace kestrune
