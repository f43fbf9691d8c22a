#pragma once

#include "core/Kinematics.h"
#include "core/State.h"
#include "core/io/LatticeFile.h"
#include "support/FakeMessages.h"

#include <gtest/gtest.h>
#include <string>

namespace kestrune::test {

/// The state after the program starts and opens the example lattice file name (from examples/).
inline State exampleState(const char* name)
{
    State state;
    startParticle(state);
    FakeMessages messages;
    EXPECT_TRUE(readLatticeFile(state, messages, std::string(KESTRUNE_EXAMPLES) + "/" + name)) << name;
    return state;
}

} // namespace kestrune::test
