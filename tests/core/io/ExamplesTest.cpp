#include "core/Kinematics.h"
#include "core/io/LatticeFile.h"
#include "core/optics/BetaFunctions.h"
#include "support/FakeMessages.h"
#include "support/PassRecorder.h"

#include <cmath>
#include <gtest/gtest.h>

namespace kestrune {
namespace {

State openExample(const char* name)
{
    State state;
    startParticle(state);
    test::FakeMessages messages;
    EXPECT_TRUE(readLatticeFile(state, messages, std::string(KESTRUNE_EXAMPLES) + "/" + name));
    EXPECT_TRUE(messages.errors.empty());
    return state;
}

/// Collects the dispersion at every list row of a pass.
using Rows = test::RecordingList;

TEST(Examples, DoubleBendAchromatIsStableAndDispersionFreeInTheStraights)
{
    State state = openExample("dba-cell.lat");
    EXPECT_TRUE(state.ringClosed);
    EXPECT_EQ(state.line.superPeriods, 12);
    EXPECT_NEAR(state.beam.momentum, 2e9, 1);
    test::FakeMessages messages;
    ASSERT_TRUE(periodicSolution(state, messages));
    EXPECT_TRUE(messages.errors.empty());
    const auto& m = state.matrix.m;
    EXPECT_LT(std::fabs(m[0][0] + m[1][1]) / 2, 0.9);
    EXPECT_LT(std::fabs(m[2][2] + m[3][3]) / 2, 0.9);
    // eta and eta' vanish at the cell ends, the middle of the straights
    EXPECT_NEAR(state.run.etaX0, 0, 1e-9);
    EXPECT_NEAR(state.run.etaPX0, 0, 1e-9);

    Rows rows;
    linePass(state, messages, nullptr, &rows);
    double etaMax = 0;
    for (const test::RecordedRow& row : rows.rows)
        etaMax = std::max(etaMax, row.values[3]);
    EXPECT_GT(etaMax, 0.5) << "the arc has dispersion";
    EXPECT_NEAR(rows.rows.back().values[3], 0, 1e-9);
    EXPECT_NEAR(rows.rows.back().values[4], 0, 1e-9);

    int sf = 0, sd = 0, pumps = 0;
    for (int i = 1; i <= state.line.count; ++i) {
        sf += state.line.at(i).code == code::kSextupoleF;
        sd += state.line.at(i).code == code::kSextupoleD;
        pumps += state.line.at(i).code == code::kPump;
    }
    EXPECT_GT(sf, 0);
    EXPECT_GT(sd, 0);
    EXPECT_GT(pumps, 0);
}

TEST(Examples, FodoCellHasAPeriodicSolution)
{
    State state = openExample("fodo-cell.lat");
    test::FakeMessages messages;
    ASSERT_TRUE(periodicSolution(state, messages));
    EXPECT_TRUE(messages.errors.empty());
    EXPECT_GT(state.run.etaX0, 0);
}

TEST(Examples, IonLineCarriesItsAcceleratingElements)
{
    State state = openExample("ion-line.lat");
    EXPECT_TRUE(state.beam.isIon);
    EXPECT_EQ(state.beam.name, "         Carbon");
    bool linac = false, einzel = false, electrostatic = false;
    for (int i = 1; i <= state.line.count; ++i) {
        linac = linac || state.line.at(i).code == code::kLinac;
        einzel = einzel || state.line.at(i).code == code::kEinzelLens;
        electrostatic = electrostatic || state.line.at(i).code == code::kElectrostatic;
    }
    EXPECT_TRUE(linac && einzel && electrostatic);
    test::FakeMessages messages;
    linePass(state, messages, nullptr, nullptr);
    EXPECT_TRUE(messages.errors.empty());
    EXPECT_GT(state.beam.momentum, 3 * state.beam.referenceMomentum) << "accelerated along the line";
}

} // namespace
} // namespace kestrune
