#include "core/editor/InitialConditions.h"

#include "core/Kinematics.h"
#include "core/NumberInput.h"
#include "core/editor/LineEditing.h"
#include "support/FakeMessages.h"
#include "support/PassRecorder.h"

#include <cmath>
#include <gtest/gtest.h>
#include <vector>

using namespace kestrune;
using kestrune::test::FakeMessages;

namespace {

using CollectRows = test::RecordingList;

State driftLine(double length)
{
    State state;
    updateKinematics(state.beam, EnergyKind::Momentum, 1e9);
    state.beam.referenceMomentum = 1e9;
    state.line.count = 1;
    state.line.at(1).code = code::kDrift;
    state.line.at(1).length = length;
    state.line.chainPositions();
    return state;
}

} // namespace

TEST(InitialConditions, SingleParticleStoresDeltaInTenthsOfPerCent)
{
    State state = driftLine(2.0);
    FakeMessages messages;
    singleParticleCommand(state);
    EXPECT_TRUE(state.run.showTrajectory);
    EXPECT_FALSE(state.run.showBetaFunctions || state.run.showBeamSize);

    InitialBoxes boxes;
    boxes.edXo = "1.5";
    boxes.edXpo = "-0.2";
    boxes.edDpp = "0.1";
    boxes.edD0 = "0.3";
    updateKinematics(state.beam, EnergyKind::Momentum, 1.1e9);
    EXPECT_TRUE(useSingleParticle(state, boxes, messages));
    EXPECT_EQ(state.run.x0, 1.5);
    EXPECT_EQ(state.run.xp0, -0.2);
    EXPECT_EQ(state.run.y0, 1.0);
    EXPECT_DOUBLE_EQ(state.run.delta, 1.0);
    EXPECT_EQ(state.run.d0, 0.3);
    EXPECT_DOUBLE_EQ(state.beam.momentum, 1e9); // back at the reference momentum
    EXPECT_TRUE(messages.errors.empty());

    state.line.length = 0;
    boxes.edXo = "2";
    EXPECT_FALSE(useSingleParticle(state, boxes, messages));
    EXPECT_EQ(messages.errors, std::vector<std::string>{"define beam line first"});
    EXPECT_EQ(state.run.x0, 2.0); // stored all the same
}

TEST(InitialConditions, NonNumberKeepsValuesReadBefore)
{
    State state = driftLine(1.0);
    FakeMessages messages;
    InitialBoxes boxes;
    boxes.edXo = "3";
    boxes.edXpo = "4";
    boxes.edYo = "abc";
    boxes.edYpo = "5";
    EXPECT_THROW(useSingleParticle(state, boxes, messages), ConversionError);
    EXPECT_EQ(state.run.x0, 3.0);
    EXPECT_EQ(state.run.xp0, 4.0);
    EXPECT_EQ(state.run.y0, 0.0);
    EXPECT_EQ(state.run.yp0, 0.0);

    boxes.edAlphax0 = "0.5";
    boxes.edAlphay0 = "1,5";
    try {
        useLatticeFunctions(state, boxes, messages);
        FAIL() << "no conversion error";
    } catch (const ConversionError& error) {
        EXPECT_STREQ(error.what(), "'1,5' is not a valid floating point value");
    }
    EXPECT_EQ(state.run.alphaX0, 0.5);
    EXPECT_EQ(state.run.betaX0, 10.0);
}

TEST(InitialConditions, LatticeFunctionsFromTheBoxes)
{
    State state = driftLine(1.0);
    state.run.recomputePeriodic = true;
    FakeMessages messages;
    const StartPanels panels = initialLatticeCommand(state);
    EXPECT_TRUE(panels.latticeFunctions);
    EXPECT_FALSE(panels.beamSizes || panels.singleParticle);
    EXPECT_EQ(panels.betaTitle, "specify initial lattice functions");
    EXPECT_FALSE(state.run.recomputePeriodic);
    EXPECT_TRUE(state.run.showBetaFunctions);

    InitialBoxes boxes;
    boxes.edBetax0 = "2";
    boxes.edAlphax0 = "1";
    boxes.edBetay0 = "4";
    boxes.edEtax0 = "0.123456789";
    EXPECT_TRUE(useLatticeFunctions(state, boxes, messages));
    EXPECT_DOUBLE_EQ(state.run.gammaX0, 1.0);
    EXPECT_DOUBLE_EQ(state.run.gammaY0, 0.25);
    EXPECT_EQ(state.run.etaX0, 0.123456789);
    EXPECT_EQ(boxes.edEtax0, " 0.12346");
    EXPECT_TRUE(messages.errors.empty());

    boxes.edBetay0 = "-1";
    EXPECT_TRUE(useLatticeFunctions(state, boxes, messages)); // the update runs with the values as typed
    EXPECT_EQ(messages.errors, std::vector<std::string>{"select valid betatron functions!"});
    EXPECT_EQ(state.run.betaY0, -1.0);

    boxes.edBetay0 = "0";
    EXPECT_FALSE(useLatticeFunctions(state, boxes, messages)); // gamma undefined: no update
    EXPECT_DOUBLE_EQ(state.run.gammaY0, -1.0);
}

TEST(InitialConditions, LatticeFunctionsInBeamSizeModeSetSizes)
{
    State state = driftLine(1.0);
    FakeMessages messages;
    state.run.showBeamSize = true;
    InitialBoxes boxes;
    boxes.edBetax0 = "0.1";
    boxes.edBetay0 = "0.4";
    boxes.edEpsx = "10";
    boxes.edEpsy = "2.5";
    boxes.edDelta = "0.5";
    boxes.edBetay0 = "-0.4"; // not checked outside the lattice-function mode
    EXPECT_TRUE(useLatticeFunctions(state, boxes, messages));
    EXPECT_TRUE(messages.errors.empty());
    EXPECT_DOUBLE_EQ(state.run.epsXIn, 1e-5);
    EXPECT_DOUBLE_EQ(state.lf.epsY, 2.5e-6);
    EXPECT_EQ(boxes.edEpsx, "10");
    EXPECT_DOUBLE_EQ(state.run.initialSigmaX, 1e-3);
    EXPECT_EQ(boxes.edSigx0, " 1.00000");
    EXPECT_EQ(state.run.initialSigmaY, 0.0);
    EXPECT_DOUBLE_EQ(state.run.delta, 0.005);

    state.run.showBeamSize = false;
    state.run.showTrajectory = true;
    boxes.edDpp = "0.1";
    useLatticeFunctions(state, boxes, messages);
    EXPECT_DOUBLE_EQ(state.run.delta, 1.0); // the trajectory's units, as from the single-particle panel
}

TEST(InitialConditions, BeamSizesGiveBeta)
{
    State state = driftLine(1.0);
    state.run.alphaX0 = 0.5;
    state.run.betaX0 = 0.1;
    state.run.betaY0 = 0.4;
    state.run.recomputePeriodic = true;
    FakeMessages messages;
    InitialBoxes boxes;
    boxes.edEpsx = "10";
    boxes.edEpsy = "0";
    boxes.edDelta = "0.2";
    const StartPanels panels = showBeamSizesCommand(state, boxes);
    EXPECT_TRUE(panels.latticeFunctions && panels.beamSizes);
    EXPECT_EQ(panels.betaTitle, "specify lattice functions");
    EXPECT_TRUE(state.run.showBeamSize);
    EXPECT_FALSE(state.run.recomputePeriodic);
    EXPECT_EQ(boxes.edEpsx, "10");
    EXPECT_EQ(boxes.edEpsy, "0"); // zero: left as typed
    EXPECT_EQ(boxes.edSigx0, "1");
    EXPECT_EQ(boxes.edSigy0, "1");
    EXPECT_EQ(boxes.edEtax0, " 0.00000");
    EXPECT_DOUBLE_EQ(state.run.delta, 0.002);

    boxes.edSigx0 = "1";
    boxes.edSigy0 = "2";
    boxes.edEpsy = "10";
    boxes.edEtax0 = "0.25";
    state.run.betaX0 = 7;
    EXPECT_TRUE(useBeamSizes(state, boxes, messages));
    EXPECT_TRUE(messages.errors.empty());
    EXPECT_NEAR(state.run.betaX0, 0.1, 1e-15);
    EXPECT_NEAR(state.run.betaY0, 0.4, 1e-15);
    EXPECT_NEAR(state.run.gammaX0, 12.5, 1e-12); // alpha as stored
    EXPECT_EQ(boxes.edBetax0, " 0.10000");
    EXPECT_EQ(boxes.edAlphax0, " 0.50000");
    EXPECT_EQ(state.run.etaX0, 0.25); // typed eta survives the boxes' refresh
    EXPECT_EQ(boxes.edEtax0, " 0.25000");

    // a refused box names itself and nothing typed is stored
    const RunSettings accepted = state.run;
    const struct
    {
        const char* epsX;
        const char* epsY;
        const char* sigmaX;
        const char* message;
    } refused[] = {
        {"-10", "10", "1", "the horizontal emittance must be above 0 mm mrad!"},
        {"10", "0", "1", "the vertical emittance must be above 0 mm mrad!"},
        {"10", "1e300", "1", "the vertical emittance must be at most 1000000 mm mrad!"},
        {"10", "10", "-1", "the horizontal beam size must be above 0 mm!"},
    };
    for (const auto& r : refused) {
        messages.errors.clear();
        boxes.edEpsx = r.epsX;
        boxes.edEpsy = r.epsY;
        boxes.edSigx0 = r.sigmaX;
        boxes.edDelta = "1";
        EXPECT_FALSE(useBeamSizes(state, boxes, messages));
        EXPECT_EQ(messages.errors, std::vector<std::string>{r.message});
        EXPECT_DOUBLE_EQ(state.run.epsXIn, accepted.epsXIn);
        EXPECT_DOUBLE_EQ(state.run.epsYIn, accepted.epsYIn);
        EXPECT_DOUBLE_EQ(state.run.initialSigmaX, accepted.initialSigmaX);
        EXPECT_DOUBLE_EQ(state.run.delta, accepted.delta);
    }

    // a vertical emittance of 1e-10 m rad shows with its digits and is taken back as shown
    messages.errors.clear();
    boxes = InitialBoxes{};
    boxes.edEpsx = "0.01";
    boxes.edEpsy = "1e-4";
    showBeamSizesCommand(state, boxes);
    EXPECT_EQ(boxes.edEpsy, "0.0001");
    EXPECT_TRUE(useBeamSizes(state, boxes, messages));
    EXPECT_TRUE(messages.errors.empty());
    EXPECT_DOUBLE_EQ(state.run.epsYIn, 1e-10);

    EXPECT_EQ(boxes.edBetax0, " 0.10000");
}

TEST(InitialConditions, PeriodicSolutionSuccess)
{
    State state = driftLine(1.0);
    FakeMessages messages;
    CollectRows list;
    InitialBoxes boxes;
    state.run.showBeamSize = true;
    const PeriodicSolver solver = [](State& s, Messages&) {
        s.run.betaX0 = 3.25;
        s.run.alphaX0 = -0.5;
        s.run.betaY0 = 1.5;
        s.run.alphaY0 = 0.25;
        s.run.etaX0 = 0.125;
        s.run.etaPX0 = 0.0625;
        s.run.periodicStable = true;
        return true;
    };
    EXPECT_TRUE(lookForPeriodicSolution(state, boxes, messages, &list, solver));
    EXPECT_TRUE(state.run.recomputePeriodic);
    EXPECT_TRUE(state.run.showBetaFunctions);
    EXPECT_FALSE(state.run.showBeamSize);
    ASSERT_EQ(list.rows.size(), 1u);
    EXPECT_EQ(list.rows[0].index, 0);
    EXPECT_EQ(list.rows[0].values, (test::ListRow{3.25, -0.5, 0, 0.125, 0.0625, 1.5, 0.25, 0, 0}));
    EXPECT_EQ(boxes.edBetax0, " 3.25000");
    EXPECT_EQ(boxes.edAlphax0, "-0.50000");
    EXPECT_EQ(boxes.edBetay0, " 1.50000");
    EXPECT_EQ(boxes.edAlphay0, " 0.25000");
    EXPECT_EQ(boxes.edEtax0, " 0.12500");
    EXPECT_EQ(boxes.edEtapx0, " 0.06250");
}

TEST(InitialConditions, FailingPeriodicSolutionLeavesStartValues)
{
    // a drift has no periodic solution: the solver reports it and gives up
    State state = driftLine(1.0);
    state.run.betaX0 = 4;
    state.run.etaX0 = 0.3;
    state.run.etaPX0 = 0.01;
    FakeMessages messages;
    CollectRows list;
    InitialBoxes boxes;
    boxes.edEtax0 = "0.3";
    const InitialBoxes before = boxes;
    EXPECT_FALSE(lookForPeriodicSolution(state, boxes, messages, &list));
    EXPECT_FALSE(messages.errors.empty());
    EXPECT_EQ(state.run.betaX0, 4.0);
    EXPECT_EQ(state.run.etaX0, 0.3);
    EXPECT_EQ(state.run.etaPX0, 0.01);
    EXPECT_TRUE(list.rows.empty());
    EXPECT_EQ(boxes.edEtax0, before.edEtax0);
    EXPECT_EQ(boxes.edBetax0, before.edBetax0);
}

TEST(InitialConditions, UnstableCellLeavesStartValuesThoughItsDispersionSolves)
{
    // a single quadrupole focuses one plane and defocuses the other: no periodic beta functions,
    // but its dispersion equation is solvable (eta = 0)
    State state = driftLine(1.0);
    state.line.count = 2;
    state.line.at(2).code = code::kQuadrupole;
    state.line.at(2).length = 0.5;
    state.line.at(2).k = 1.0;
    state.line.chainPositions();
    state.run.betaX0 = 4;
    state.run.showBeamSize = true;
    FakeMessages messages;
    CollectRows list;
    InitialBoxes boxes;
    const InitialBoxes before = boxes;
    EXPECT_FALSE(lookForPeriodicSolution(state, boxes, messages, &list));
    ASSERT_EQ(messages.errors.size(), 1u);
    EXPECT_EQ(messages.errors[0], "no periodic solution for at least one beta-function!");
    EXPECT_EQ(state.run.betaX0, 4.0);
    EXPECT_TRUE(list.rows.empty());
    EXPECT_EQ(boxes.edBetax0, before.edBetax0);
}

TEST(InitialConditions, ResetAndBoxesAfterFileOpen)
{
    State state = driftLine(3.0);
    EditorState editor;
    state.drawScale = 3;
    state.run.recomputePeriodic = true;
    state.run.showBeamSize = true;
    InitialBoxes boxes;
    boxes.edXo = "7";
    boxes.edBetay0 = "3";
    boxes.edDelta = "0.4";
    PanelSettings settings;
    settings.anglesInRadians = false;
    settings.angleFactor = 57.0;
    initial(state, editor);
    resetBoxes(boxes, settings);
    EXPECT_EQ(boxes.edXo, "1.0");
    EXPECT_EQ(boxes.edBetay0, "10.0");
    EXPECT_EQ(boxes.edDelta, "0.4");
    EXPECT_TRUE(settings.anglesInRadians);
    EXPECT_EQ(settings.angleFactor, 1.0);
    EXPECT_EQ(state.line.count, 0);
    EXPECT_EQ(state.line.length, 0.0);
    EXPECT_EQ(state.drawScale, 1.0);
    EXPECT_FALSE(state.run.recomputePeriodic);
    EXPECT_TRUE(state.run.showBeamSize); // the graph mode stays

    state.run.betaX0 = 0.1;
    state.run.epsXIn = 1e-5;
    state.run.delta = 0.002;
    state.run.epsYIn = 1e-10;
    boxesAfterFileOpen(state, boxes);
    EXPECT_EQ(boxes.edBetax0, "   0.100");
    EXPECT_EQ(boxes.edEpsx, "10");
    EXPECT_EQ(boxes.edEpsy, "0.0001");
    EXPECT_EQ(boxes.edSigx0, "1");
    EXPECT_EQ(boxes.edDelta, "   0.200");
    EXPECT_EQ(boxes.edXo, "1.0");

    state.run.showBeamSize = false;
    state.run.showTrajectory = true;
    state.run.delta = 1.0;
    state.run.x0 = 2.5;
    boxesAfterFileOpen(state, boxes);
    EXPECT_EQ(boxes.edDpp, "   0.100");
    EXPECT_EQ(boxes.edXo, "   2.500");
}

TEST(InitialConditions, NegativeEmittancesAreRefusedBeforeTheyAreRead)
{
    FakeMessages messages;
    InitialBoxes boxes;
    boxes.edEpsx = "10";
    boxes.edEpsy = "0";
    EXPECT_TRUE(emittancesAccepted(boxes, messages));
    EXPECT_TRUE(messages.errors.empty());
    boxes.edEpsy = " -0.5";
    EXPECT_FALSE(emittancesAccepted(boxes, messages));
    ASSERT_EQ(messages.errors.size(), 1u);
    EXPECT_EQ(messages.errors[0], "the vertical emittance must not be negative!");
    // a box that is no number is left to the reading, which names it
    boxes.edEpsy = "x";
    EXPECT_TRUE(emittancesAccepted(boxes, messages));
    EXPECT_EQ(messages.errors.size(), 1u);
}

TEST(InitialConditions, BeamMatrixOfTheEdwardsTengBoxesGivesThemBack)
{
    // boxes: beta_1, alpha_1, beta_2, alpha_2, R11, R12, R21, R22, eps_1, eps_2 (mm mrad); refusal or none
    const struct
    {
        const char* boxes[10];
        const char* refusal;
    } cases[] = {
        {{"3.2", "-1.4", "17", "2.5", "0.3", "-1.2", "0.05", "-0.4", "5", "1"}, nullptr},
        {{"10", "0", "4", "0", "0", "0", "0", "0", "1", "0.02"}, nullptr},
        {{"0.8", "0.2", "1.5", "-0.7", "-0.9", "0.4", "0.6", "0.2", "0.1", "3"}, nullptr},
        {{"0", "0", "4", "0", "0", "0", "0", "0", "1", "0.5"},
         "a beam matrix needs positive betas beta_o of both modes"},
        {{"10", "0", "4", "0", "2", "0", "0", "-1", "1", "0.5"},
         "the start coupling R11 R22 - R12 R21 must be above -1!"},
        {{"10", "0", "4", "0", "0", "0", "0", "0", "1", "0"},
         "a beam matrix needs positive emittances of both modes (boxes epsilon)"},
        {{"10", "0", "4", "0", "0", "0", "0", "0", "1", "1"},
         "the emittances of modes 1 and 2 (boxes epsilon) are equal: their beam matrix would not tell the "
         "modes apart"},
    };
    for (const auto& c : cases) {
        InitialBoxes b;
        std::string* const typed[10] = {&b.edBetax0, &b.edAlphax0, &b.edBetay0, &b.edAlphay0, &b.edR11,
                                        &b.edR12,    &b.edR21,     &b.edR22,    &b.edEpsx,    &b.edEpsy};
        for (int k = 0; k < 10; ++k)
            *typed[k] = c.boxes[k];
        const InitialBoxes before = b;
        FakeMessages messages;
        ASSERT_EQ(boxesToBeamMatrix(b, messages), c.refusal == nullptr) << c.boxes[0];
        if (c.refusal) {
            ASSERT_EQ(messages.errors, std::vector<std::string>{c.refusal});
            EXPECT_EQ(b.edS11, before.edS11);
            continue;
        }
        // the matrix's own modes (the eigenvectors of Sigma S) are the typed start again, and so are the
        // modes of its Mais-Ripken values and phases
        ASSERT_TRUE(beamMatrixToBoxes(b, messages)) << messages.errors.front();
        InitialBoxes viaMaisRipken = before;
        ASSERT_TRUE(boxesToMaisRipken(viaMaisRipken, messages));
        viaMaisRipken.edBetax0 = viaMaisRipken.edR12 = "1";
        ASSERT_TRUE(maisRipkenToBoxes(viaMaisRipken, messages)) << messages.errors.front();
        const std::string* const back[8] = {&viaMaisRipken.edBetax0, &viaMaisRipken.edAlphax0,
                                            &viaMaisRipken.edBetay0, &viaMaisRipken.edAlphay0,
                                            &viaMaisRipken.edR11,    &viaMaisRipken.edR12,
                                            &viaMaisRipken.edR21,    &viaMaisRipken.edR22};
        for (int k = 0; k < 10; ++k) {
            const double want = parseDouble(c.boxes[k]);
            EXPECT_NEAR(parseDouble(*typed[k]), want, 1e-7 * (1 + std::fabs(want)))
                << c.boxes[0] << " box " << k;
            if (k < 8) {
                EXPECT_NEAR(parseDouble(*back[k]), want, 1e-7 * (1 + std::fabs(want)))
                    << c.boxes[0] << " " << k;
            }
        }
    }
}
