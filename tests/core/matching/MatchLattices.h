#pragma once

#include "core/Kinematics.h"
#include "core/State.h"
#include "core/io/LatticeFile.h"
#include "core/matching/MatchProblem.h"
#include "core/ring/RingLattices.h"
#include "support/FakeMessages.h"

#include <gtest/gtest.h>
#include <string>

namespace kestrune::test {

inline LatticeElement& addNamed(State& state, const char* name, int elementCode, double length, double k = 0)
{
    LatticeElement& e = appendElement(state, elementCode, length, 0, k);
    e.name = name;
    return e;
}

/// A FODO cell of thin lenses L apart, from the middle of QF: QF/2, drift, QD, drift, QF/2, the lenses of
/// length lens (m) with focal strengths 1/f = a (QF) and b (QD, focusing vertically).
inline State thinLensFodoCell(double spacing, double lens, double a, double b)
{
    State state;
    electronAt(state, 1e9);
    addNamed(state, "QF", code::kQuadrupole, lens / 2, a / lens);
    addNamed(state, "D", code::kDrift, spacing - lens);
    addNamed(state, "QD", code::kQuadrupole, lens, -b / lens);
    addNamed(state, "D", code::kDrift, spacing - lens);
    addNamed(state, "QF", code::kQuadrupole, lens / 2, a / lens);
    return state;
}

/// The ring of fodoCell (RingLattices.h) with its quadrupoles named QF and QD and its bends B.
inline State namedFodoRing(int cells)
{
    State state;
    electronAt(state, 1e9);
    fodoCell(state, cells);
    for (int i = 1; i <= state.line.count; ++i) {
        LatticeElement& e = state.line.at(i);
        e.name = familyOf(e.code) == static_cast<int>(Family::Bend) ? "B"
                 : e.k > 0                                          ? "QF"
                 : e.k < 0                                          ? "QD"
                                                                    : "D";
    }
    return state;
}

/// The example lattice of that name.
inline State exampleLattice(const char* name)
{
    State state;
    startParticle(state);
    FakeMessages messages;
    EXPECT_TRUE(readLatticeFile(state, messages, std::string(KESTRUNE_EXAMPLES) + "/" + name));
    return state;
}

inline MatchVariable variable(const char* element, MatchField field = MatchField::K)
{
    MatchVariable v;
    v.element = elementRef(element);
    v.field = field;
    return v;
}

inline MatchConstraint constraint(MatchQuantity quantity, double value, const char* at = "end",
                                  MatchRelation relation = MatchRelation::Equal)
{
    MatchConstraint c;
    c.quantity = quantity;
    c.value = value;
    c.at = elementRef(at);
    c.relation = relation;
    return c;
}

} // namespace kestrune::test
