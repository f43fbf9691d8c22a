#include "core/lifetime/LifetimeUpdate.h"

#include "core/Design.h"
#include "core/Format.h"
#include "core/Kinematics.h"
#include "core/NumberInput.h"
#include "core/rf/RfParameter.h"
#include "support/FakeMessages.h"
#include "support/RfTestRing.h"

#include <cmath>
#include <functional>
#include <gtest/gtest.h>

namespace kestrune {
namespace {

/// A 3 GeV electron ring with its equilibrium, RF and vacuum results.
State ringState()
{
    State state;
    startParticle(state);
    updateKinematics(state.beam, EnergyKind::Total, 3e9);
    RingParameters& ring = state.ringParams;
    ring.averageBetaX = 8.5;
    ring.averageBetaY = 12.25;
    ring.energySpread = 0.001;
    ring.emittanceX = 10e-9;
    ring.emittanceY = 0.1e-9;
    ring.coupling = 0.01;
    ring.dampingTimeX = ring.dampingTimeY = 0.008;
    ring.dampingTimeS = 0.004;
    ring.revolutionFrequency = 1.25e6;
    state.rf.energyAcceptance = 0.015;
    state.rf.bunchLength = 0.006;
    state.averagePressure = 2.5e-9;
    // the results belong to this design
    ring.stamp = latticeStamp(state);
    state.rf.stamp = rfStamp(state);
    state.pressureStamp = designStamp(state);
    return state;
}

TEST(LifetimeActivation, FillsTheBoxesFromTheSharedResults)
{
    State state = ringState();
    state.lifetimes = {1, 2, 3, 4, true};
    LifetimeBoxes boxes;
    test::FakeMessages messages;
    activateLifetime(state, boxes, messages);
    EXPECT_TRUE(messages.errors.empty());
    EXPECT_EQ(boxes.averageBetaY, "  12.2500");
    EXPECT_EQ(boxes.averageBetaY1, "  12.2500");
    EXPECT_EQ(boxes.averageBetaX, "   8.5000");
    EXPECT_EQ(boxes.gasPressure1, "     2.5");
    EXPECT_EQ(boxes.gasPressure2, "     2.5");
    EXPECT_EQ(boxes.bunchLength, "   6.000");
    EXPECT_EQ(boxes.energyAcceptance, "   1.500");
    EXPECT_EQ(boxes.energyAcceptance1, "   1.500");
    EXPECT_EQ(boxes.energyAcceptance2, "   1.500");
    EXPECT_DOUBLE_EQ(state.lifetimes.elastic, 0);
    EXPECT_DOUBLE_EQ(state.lifetimes.quantum, 0);
    EXPECT_FALSE(state.lifetimes.touschekUnavailable);
}

TEST(LifetimeActivation, ResultsOfAnotherDesignAreNotTaken)
{
    // a lattice opened since the results (another element), or another beam (momentum, current)
    const std::function<void(State&)> changes[] = {
        [](State& s) {
            s.line.count = 1;
            s.line.at(1).length = 1;
        },
        [](State& s) { updateKinematics(s.beam, EnergyKind::Total, 1.5e9); },
    };
    for (const auto& change : changes) {
        State state = ringState();
        LifetimeBoxes boxes;
        const LifetimeBoxes start = boxes;
        test::FakeMessages messages;
        activateLifetime(state, boxes, messages); // the boxes take this design's results
        ASSERT_EQ(boxes.gasPressure1, "     2.5");
        boxes.energyAcceptance2 = "2.5"; // typed by the user
        change(state);
        activateLifetime(state, boxes, messages);
        EXPECT_EQ(boxes.gasPressure1, start.gasPressure1);
        EXPECT_EQ(boxes.gasPressure2, start.gasPressure2);
        EXPECT_EQ(boxes.energyAcceptance, start.energyAcceptance);
        EXPECT_EQ(boxes.bunchLength, start.bunchLength);
        EXPECT_EQ(boxes.energyAcceptance2, "2.5");
        EXPECT_DOUBLE_EQ(state.averagePressure, 1e-9); // the default, not the other design's pressure
    }
}

TEST(LifetimeActivation, MissingResultsAreSaidAndGetTheirDefaults)
{
    State state;
    startParticle(state);
    state.ringParams.averageBetaX = std::nan(""); // a ring without bends
    LifetimeBoxes boxes;
    const LifetimeBoxes before = boxes;
    test::FakeMessages messages;
    activateLifetime(state, boxes, messages);
    ASSERT_EQ(messages.errors.size(), 3u);
    EXPECT_EQ(messages.errors[0], "enter avg. betatronfunctions manually or run \"betatronfunction\"!");
    EXPECT_EQ(messages.errors[1], "enter vacuum pressure manually or run \"vacuum\"!");
    EXPECT_EQ(messages.errors[2], "enter energy acceptance manually or run \"RF\"!");
    EXPECT_DOUBLE_EQ(state.ringParams.averageBetaX, 10.0);
    EXPECT_DOUBLE_EQ(state.ringParams.averageBetaY, 10.0);
    EXPECT_DOUBLE_EQ(state.averagePressure, 1e-9);
    EXPECT_DOUBLE_EQ(state.rf.energyAcceptance, 0.01);
    EXPECT_EQ(boxes.averageBetaX, before.averageBetaX);
    EXPECT_EQ(boxes.gasPressure1, before.gasPressure1);
    EXPECT_EQ(boxes.energyAcceptance, before.energyAcceptance);
}

TEST(LifetimeActivation, TouschekMenuTakesTheRingAverages)
{
    State state = ringState();
    state.ringParams.averageBetaY = 1e-6;
    LifetimeBoxes boxes;
    touschekMenu(state, boxes);
    EXPECT_EQ(boxes.averageBetaX, "   8.500");
    EXPECT_EQ(boxes.averageBetaY1, "10.0");
    EXPECT_DOUBLE_EQ(state.ringParams.averageBetaY, 10.0);
}

TEST(LifetimeUpdate, ElasticFillsEmptyBoxesAndKeepsTheLifetime)
{
    State state = ringState();
    LifetimeBoxes boxes;
    boxes.ratio = "";
    boxes.averageBetaY = "";
    test::FakeMessages messages;
    const auto label = updateElastic(state, boxes, messages);
    ASSERT_TRUE(label);
    EXPECT_EQ(boxes.ratio, "1.0");
    EXPECT_EQ(boxes.averageBetaY, "10.0");
    EXPECT_EQ(*label, "Coulomb scattering life time is    112.7 hours");
    EXPECT_NEAR(state.lifetimes.elastic, 405836, 1);
}

TEST(LifetimeUpdate, ElasticEmptyAcceptanceReadsZeroAndIsRefused)
{
    State state = ringState();
    state.lifetimes.elastic = 77;
    LifetimeBoxes boxes;
    boxes.acceptance = "";
    test::FakeMessages messages;
    EXPECT_FALSE(updateElastic(state, boxes, messages));
    EXPECT_EQ(boxes.acceptance, "0.0");
    ASSERT_EQ(messages.errors.size(), 1u);
    EXPECT_EQ(messages.errors[0], "\"vert.accept., mm*mr\" must be larger than 0!");
    EXPECT_DOUBLE_EQ(state.lifetimes.elastic, 77);
}

TEST(LifetimeUpdate, BremsstrahlungReadsTheNumberAsTyped)
{
    State state = ringState();
    LifetimeBoxes boxes;
    boxes.energyAcceptance = "1";
    test::FakeMessages messages;
    const auto label = updateBremsstrahlung(state, boxes, messages);
    ASSERT_TRUE(label);
    EXPECT_NEAR(state.lifetimes.bremsstrahlung, 119683, 1);
    EXPECT_EQ(*label, "Bremsstrahlungs lifetime is   33.245 hours");

    boxes.energyAcceptance = "";
    EXPECT_FALSE(updateBremsstrahlung(state, boxes, messages));
    ASSERT_EQ(messages.errors.size(), 1u);
    EXPECT_EQ(messages.errors[0], "\"energy acceptance, %\" must lie between 0 and 100 %!");
    EXPECT_NEAR(state.lifetimes.bremsstrahlung, 119683, 1);
}

TEST(LifetimeUpdate, OutOfDomainInputsAreRefusedNamingTheBox)
{
    const struct
    {
        std::string LifetimeBoxes::*box;
        const char* text;
        const char* message;
        int which; // 0 elastic, 1 bremsstrahlung, 2 quantum, 3 Touschek
    } cases[] = {
        {&LifetimeBoxes::ratio, "0", "\"ratio height/width\" must be larger than 0!", 0},
        {&LifetimeBoxes::gasPressure1, "-1", "\"gas pressure, nTorr\" must be larger than 0!", 0},
        {&LifetimeBoxes::averageBetaY, "0", "\"avg.beta_y, m\" must be larger than 0!", 0},
        {&LifetimeBoxes::energyAcceptance, "100", "\"energy acceptance, %\" must lie between 0 and 100 %!",
         1},
        {&LifetimeBoxes::gasPressure2, "0", "\"gas pressure, nTorr\" must be larger than 0!", 1},
        {&LifetimeBoxes::energyAcceptance1, "0", "\"energy acc,%\" must lie between 0 and 100 %!", 2},
        {&LifetimeBoxes::acceptanceX, "0", "\"horiz. accept., mm*mr\" must be larger than 0!", 2},
        {&LifetimeBoxes::acceptanceY, "-3", "\"vert.  accept., mm*mr\" must be larger than 0!", 2},
        {&LifetimeBoxes::energyAcceptance2, "150", "\"energy acceptance, %\" must lie between 0 and 100 %!",
         3},
        {&LifetimeBoxes::bunchCurrent, "0", "\"bunch current, mA\" must be larger than 0!", 3},
        {&LifetimeBoxes::averageBetaX, "0", "\"beta_x avg, m\" must be larger than 0!", 3},
        {&LifetimeBoxes::averageBetaY1, "0", "\"beta_y avg, m\" must be larger than 0!", 3},
        {&LifetimeBoxes::coupling, "0", "\"coupling, %\" must be larger than 0!", 3},
        {&LifetimeBoxes::bunchLength, "0", "\"bunch length, mm\" must be larger than 0!", 3},
    };
    for (const auto& c : cases) {
        State state = ringState();
        state.lifetimes = {11, 22, 33, 44, false};
        LifetimeBoxes boxes;
        boxes.*c.box = c.text;
        test::FakeMessages messages;
        const bool done = c.which == 0   ? updateElastic(state, boxes, messages).has_value()
                          : c.which == 1 ? updateBremsstrahlung(state, boxes, messages).has_value()
                          : c.which == 2 ? updateQuantum(state, boxes, messages).has_value()
                                         : updateTouschek(state, boxes, messages).has_value();
        EXPECT_FALSE(done) << c.message;
        ASSERT_EQ(messages.errors.size(), 1u) << c.message;
        EXPECT_EQ(messages.errors[0], c.message);
        EXPECT_DOUBLE_EQ(state.lifetimes.elastic, 11);
        EXPECT_DOUBLE_EQ(state.lifetimes.bremsstrahlung, 22);
        EXPECT_DOUBLE_EQ(state.lifetimes.touschek, 33);
        EXPECT_DOUBLE_EQ(state.lifetimes.quantum, 44);
    }
}

TEST(LifetimeUpdate, TextThatIsNoNumberRaisesTheConversionError)
{
    State state = ringState();
    LifetimeBoxes boxes;
    boxes.gasPressure2 = "1 nTorr";
    test::FakeMessages messages;
    EXPECT_THROW(updateBremsstrahlung(state, boxes, messages), ConversionError);
    EXPECT_DOUBLE_EQ(state.lifetimes.bremsstrahlung, 0);
}

TEST(LifetimeUpdate, QuantumLabelsAndTheFifteenSigmaBranch)
{
    State state = ringState();
    state.ringParams.energySpread = 0.0009765625; // 2^-10: 100 sigma is exact too
    LifetimeBoxes boxes;
    boxes.energyAcceptance1 = "1.46484375"; // exactly 15 sigma
    test::FakeMessages messages;
    const auto labels = updateQuantum(state, boxes, messages);
    ASSERT_TRUE(labels);
    EXPECT_EQ(labels->nE, "n_e =   15.000");
    EXPECT_EQ(labels->tauE.substr(0, 8), "tau_e > ");
    EXPECT_EQ(labels->energySpread, "sig_e/E =    0.098 %");
    EXPECT_EQ(labels->emittanceX, "eps_x =     0.01 mm*mr");

    boxes.energyAcceptance1 = "1.4648";
    const auto below = updateQuantum(state, boxes, messages);
    ASSERT_TRUE(below);
    EXPECT_EQ(below->tauE.substr(0, 8), "tau_e = ");
    EXPECT_GT(state.lifetimes.quantum, 0);
}

TEST(LifetimeUpdate, QuantumWithoutVerticalEmittanceTakesOnePercentCoupling)
{
    State state = ringState();
    state.ringParams.emittanceY = 0;
    state.ringParams.coupling = 0;
    LifetimeBoxes boxes;
    test::FakeMessages messages;
    const auto labels = updateQuantum(state, boxes, messages);
    ASSERT_TRUE(labels);
    EXPECT_EQ(labels->emittanceY, "eps_y =        0 mm*mr"); // the value found, before the rule
    EXPECT_DOUBLE_EQ(state.ringParams.coupling, 0.01);
    EXPECT_NEAR(state.ringParams.emittanceY, 0.1e-9, 1e-24);
}

TEST(LifetimeUpdate, QuantumNeedsTheRingResults)
{
    State state = ringState();
    state.ringParams.dampingTimeX = std::nan("");
    LifetimeBoxes boxes;
    test::FakeMessages messages;
    EXPECT_FALSE(updateQuantum(state, boxes, messages));
    ASSERT_EQ(messages.errors.size(), 1u);
    EXPECT_EQ(messages.errors[0],
              "energy spread, emittances or damping times of the ring are not available!");
}

TEST(LifetimeUpdate, TouschekFillsEmptyBoxesFromTheResults)
{
    State state = ringState();
    LifetimeBoxes boxes;
    boxes.energyAcceptance2 = "";
    boxes.coupling = "";
    test::FakeMessages messages;
    const auto label = updateTouschek(state, boxes, messages);
    ASSERT_TRUE(label);
    EXPECT_EQ(boxes.energyAcceptance2, " 1.50000");
    EXPECT_EQ(boxes.coupling, " 1.00000");
    EXPECT_GT(state.lifetimes.touschek, 0);
    EXPECT_EQ(label->label.substr(0, 20), "Touschek lifetime = ");
    EXPECT_DOUBLE_EQ(label->input.energyAcceptance, 0.015);
    EXPECT_DOUBLE_EQ(*label->lifetime.lifetime, state.lifetimes.touschek);
}

TEST(LifetimeUpdate, TouschekNotAvailableIsSaidInTheCombination)
{
    State state = ringState();
    updateKinematics(state.beam, EnergyKind::Total, 0.511e9);
    state.ringParams.emittanceX = 1e-12;
    LifetimeBoxes boxes;
    boxes.energyAcceptance2 = "5";
    boxes.bunchLength = "6";
    state.lifetimes = {1e5, 1e5, 0, 1e5, false};
    test::FakeMessages messages;
    const auto label = updateTouschek(state, boxes, messages);
    ASSERT_TRUE(label);
    EXPECT_EQ(label->label.substr(0, 35), "Touschek lifetime not available: C(");
    EXPECT_TRUE(state.lifetimes.touschekUnavailable);
    EXPECT_EQ(combinedLifetimeText(state.lifetimes),
              "no combined lifetime: the Touschek lifetime is not available");
}

TEST(LifetimeUpdate, TouschekButtonTakesAcceptanceAndBunchLengthFromTheRfComputation)
{
    // the rf window has not run: the activation takes its default, the update computes the rf parameters
    State state;
    test::FakeMessages messages;
    ASSERT_TRUE(test::dbaRing(state, messages));
    LifetimeBoxes boxes;
    activateLifetime(state, boxes, messages);
    ASSERT_EQ(messages.errors.back(), "enter energy acceptance manually or run \"RF\"!");
    EXPECT_FALSE(state.rf.computed);
    messages.errors.clear();
    boxes.energyAcceptance2 = "";
    boxes.bunchLength = "";
    const auto result = runTouschekUpdate(state, boxes, messages);
    ASSERT_TRUE(result);
    EXPECT_TRUE(messages.errors.empty()) << messages.errors.front();
    EXPECT_TRUE(state.rf.computed);
    // a 2 GeV ring at 1.2 MV: an acceptance of about a percent, bunches of a few mm
    EXPECT_GT(state.rf.energyAcceptance, 0.003);
    EXPECT_LT(state.rf.energyAcceptance, 0.05);
    EXPECT_EQ(boxes.energyAcceptance2, fmt("%8.5f", state.rf.energyAcceptance * 100));
    EXPECT_EQ(boxes.bunchLength, fmt("%8.3f", state.rf.bunchLength * 1000));
    EXPECT_NEAR(result->input.energyAcceptance, state.rf.energyAcceptance, 1e-7);
    EXPECT_NEAR(result->input.bunchLengthMm, state.rf.bunchLength * 1000, 5e-4);
    EXPECT_GT(state.lifetimes.touschek, 0);
}

TEST(LifetimeUpdate, TouschekButtonKeepsWhatTheUserTyped)
{
    State state;
    test::FakeMessages messages;
    ASSERT_TRUE(test::dbaRing(state, messages));
    LifetimeBoxes boxes;
    boxes.energyAcceptance2 = "0.8";
    boxes.bunchLength = "4.5";
    const auto result = runTouschekUpdate(state, boxes, messages);
    ASSERT_TRUE(result);
    EXPECT_TRUE(state.rf.computed);
    EXPECT_EQ(boxes.energyAcceptance2, "0.8");
    EXPECT_DOUBLE_EQ(result->input.energyAcceptance, 0.008);
    EXPECT_DOUBLE_EQ(result->input.bunchLengthMm, 4.5);
}

TEST(LifetimeUpdate, TouschekButtonSaysWhyTheRfIsMissingAndTakesNoDefault)
{
    State state;
    test::FakeMessages messages;
    ASSERT_TRUE(test::dbaRing(state, messages));
    state.ringParams.harmonicNumber = 0;
    LifetimeBoxes boxes;
    EXPECT_FALSE(runTouschekUpdate(state, boxes, messages));
    EXPECT_EQ(messages.errors,
              (std::vector<std::string>{kNoHarmonic, "enter \"energy acceptance, %\" or run \"RF\"!"}));
    EXPECT_EQ(state.lifetimes.touschek, 0);
}

TEST(LifetimeUpdate, TypedTextIsCheckedAsItsUpdateWouldTakeIt)
{
    EXPECT_FALSE(lifetimeBoxRefusal(&LifetimeBoxes::ratio, "0.5"));
    EXPECT_FALSE(lifetimeBoxRefusal(&LifetimeBoxes::ratio, ""));             // filled with 1.0
    EXPECT_FALSE(lifetimeBoxRefusal(&LifetimeBoxes::energyAcceptance2, "")); // filled from the RF
    EXPECT_FALSE(lifetimeBoxRefusal(&LifetimeBoxes::bunchLength, ""));       // filled from the RF
    EXPECT_EQ(lifetimeBoxRefusal(&LifetimeBoxes::acceptance, ""),
              "\"vert.accept., mm*mr\" must be larger than 0!");
    EXPECT_EQ(lifetimeBoxRefusal(&LifetimeBoxes::energyAcceptance, ""),
              "\"energy acceptance, %\" must lie between 0 and 100 %!");
    EXPECT_EQ(lifetimeBoxRefusal(&LifetimeBoxes::bunchLength, "-1"),
              "\"bunch length, mm\" must be larger than 0!");
    EXPECT_THROW(lifetimeBoxRefusal(&LifetimeBoxes::bunchCurrent, ""), ConversionError);
    EXPECT_THROW(lifetimeBoxRefusal(&LifetimeBoxes::bunchCurrent, "1 mA"), ConversionError);
}

TEST(LifetimeCombination, AllFourOrTheMissingOnesNamed)
{
    const struct
    {
        Lifetimes lifetimes;
        const char* text;
    } missing[] = {
        {{1, 1, 1, 0, false}, "no combined lifetime: the quantum lifetime is missing"},
        {{0, 1, 0, 1, false}, "no combined lifetime: the elastic and Touschek lifetimes are missing"},
        {{0, 0, 0, 0, false},
         "no combined lifetime: the elastic, bremsstrahlung, Touschek and quantum lifetimes are missing"},
    };
    for (const auto& m : missing)
        EXPECT_EQ(combinedLifetimeText(m.lifetimes), m.text);
    Lifetimes l{4 * 3600.0, 4 * 3600.0, 4 * 3600.0, 0, false};
    EXPECT_FALSE(combinedLifetime(l));
    l.quantum = 4 * 3600.0;
    ASSERT_TRUE(combinedLifetime(l));
    EXPECT_NEAR(*combinedLifetime(l), 3600, 1e-9);
    EXPECT_EQ(combinedLifetimeText(l), "tot. combined beam lifetime =     1.000 hr");
}

} // namespace
} // namespace kestrune
