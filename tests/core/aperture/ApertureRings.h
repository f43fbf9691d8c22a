#pragma once

#include "core/Format.h"
#include "core/Kinematics.h"
#include "core/aperture/ApertureRing.h"
#include "core/io/LatticeFile.h"
#include "core/optics/BetaFunctions.h"
#include "core/ring/RingGeometry.h"
#include "support/FakeMessages.h"

#include <gtest/gtest.h>
#include <string>

namespace kestrune::test {

/// The example DBA ring (2 GeV, 12 cells) closed with its rf frequency, its sextupole families scaled
/// by sextupoles and, when voltage > 0, that rf voltage (V).
inline State dbaState(double sextupoles = 1, double voltage = 0)
{
    State state;
    startParticle(state);
    FakeMessages messages;
    EXPECT_TRUE(readLatticeFile(state, messages, std::string(KESTRUNE_EXAMPLES) + "/dba-cell.lat"));
    const GeometryInput input{std::to_string(state.line.superPeriods),
                              fmt("%10.5f", state.rf.frequency / 1e6)};
    EXPECT_TRUE(ringGeometry(state, messages, input));
    for (int i = 1; i <= state.line.count; ++i)
        state.line.at(i).m *= sextupoles;
    if (voltage > 0)
        state.rf.voltage = voltage;
    return state;
}

inline ApertureRing dbaRing(double sextupoles = 1, double voltage = 0)
{
    FakeMessages messages;
    const std::optional<ApertureRing> ring = apertureRing(dbaState(sextupoles, voltage), messages);
    EXPECT_TRUE(ring.has_value());
    return ring.value_or(ApertureRing{});
}

/// The periodic lattice functions at the start (index 0) and after every element of the cell.
inline std::vector<OpticsRow> opticsRows(const State& state)
{
    State pass = state;
    FakeMessages messages;
    EXPECT_TRUE(periodicSolution(pass, messages));
    pass.run.showBetaFunctions = true;
    RowCollector rows;
    linePass(pass, messages, nullptr, &rows);
    return rows.rows;
}

} // namespace kestrune::test
