// The batch tool takes what the boxes take: every --set name, --scan and --track refuse values no box
// takes, with the box's words, and a tracking run writes its rows as it goes.
#include "cli/BatchRf.h"
#include "cli/BatchSettings.h"
#include "cli/ChromaticityBatch.h"
#include "core/tracking/LinearMapTracking.h"
#include "support/ExampleLattice.h"
#include "support/FakeMessages.h"

#include <gtest/gtest.h>
#include <sstream>

namespace kestrune {
namespace {

std::string refusal(const std::string& assignment)
{
    State state;
    BatchInputs inputs;
    try {
        applySetting(state, inputs, assignment);
    } catch (const BatchUsageError& e) {
        return e.what();
    }
    return {};
}

TEST(BatchRanges, EverySetNameRefusesValuesNoBoxTakes)
{
    for (const SettingName& known : settingNames()) {
        if (known.name == "rf.material")
            continue;
        SCOPED_TRACE(known.name);
        for (const char* value : {"1e308", "-1e308", "nan", "inf"}) {
            const std::string text = refusal(known.name + "=" + value);
            EXPECT_EQ(text.rfind("--set " + known.name + ": ", 0), 0u) << value << " was taken";
        }
        // a number too small for a normal double is a number: taken or refused by its range
        const std::string tiny = refusal(known.name + "=1e-320");
        EXPECT_EQ(tiny.find("floating point value"), std::string::npos) << tiny;
    }
    EXPECT_EQ(refusal("rf.voltage_kv=2147483648"),
              "--set rf.voltage_kv: the rf voltage must be at most 10000000 kV!");
    EXPECT_EQ(refusal("ring.rf_frequency_mhz=1.8e302"),
              "--set ring.rf_frequency_mhz: the rf frequency must be at most 100000 MHz!");
    // above 0, yet so small that a result would overflow
    EXPECT_EQ(refusal("ring.rf_frequency_mhz=1e-320"),
              "--set ring.rf_frequency_mhz: the rf frequency must be at least 0.001 MHz!");
    EXPECT_EQ(refusal("lifetime.elastic.pressure_ntorr=1e-320"),
              "--set lifetime.elastic.pressure_ntorr: \"gas pressure, nTorr\" must be at least 1e-06 nTorr!");
}

TEST(BatchRanges, ScanMomentaMustBePhysical)
{
    const auto scanRefusal = [](const std::string& low, const std::string& high) {
        try {
            parseScanRequest({"energy_acceptance", low, high});
        } catch (const BatchUsageError& e) {
            return std::string(e.what());
        }
        return std::string();
    };
    EXPECT_EQ(scanRefusal("1e308", "1e308"), "--scan: the scan momentum must be at most 1000000 GeV!");
    EXPECT_EQ(scanRefusal("-1", "2"), "--scan: the scan momentum must be above 0 GeV!");
    EXPECT_EQ(scanRefusal("3", "2"), "--scan: CPMAX must not be below CPMIN");
    EXPECT_EQ(scanRefusal("1", "2"), "");
}

TEST(BatchRanges, TrackingRowsAreThoseOfTheRunAndTheTurnsAreCapped)
{
    State state = test::exampleState("dba-cell.lat");
    ChromaticityRequest request;
    request.track = {"10000", "1", "0", "0.5", "0"};
    request.trackingModel = "linear";
    std::ostringstream csv;
    test::FakeMessages messages;
    State streamed = state;
    TrackingSummary summary;
    ASSERT_TRUE(runTrackingCsv(streamed, messages, request, BatchInputs{}, csv, summary));

    TrackingRequest r;
    r.turns = 10000;
    r.start = {1, 0, 0.5, 0};
    const std::optional<TrackingResult> whole = trackParticle(state, messages, r);
    ASSERT_TRUE(whole);
    std::istringstream rows(csv.str());
    std::string row;
    std::getline(rows, row);
    EXPECT_EQ(row, "turn,x_mm,xp_mrad,y_mm,yp_mrad");
    std::getline(rows, row); // turn 0, the start
    std::size_t n = 0;
    while (std::getline(rows, row) && row[0] != '#') {
        ASSERT_LT(n, whole->points.size());
        const PhasePoint& p = whole->points[n++];
        double x = 0;
        std::sscanf(row.c_str(), "%*d,%lf", &x);
        EXPECT_NEAR(x, p.x, 1e-11 * std::max(1.0, std::fabs(p.x))) << "turn " << n;
    }
    EXPECT_EQ(n, whole->points.size());
    EXPECT_EQ(summary.turnsTracked, static_cast<int>(whole->points.size()));

    request.track[0] = "1000001";
    EXPECT_THROW(checkChromaticityUsage(request), BatchUsageError);
    EXPECT_FALSE(checkTracking(state, TrackingRequest{{}, 1000001}, messages));
    EXPECT_EQ(messages.errors.back(), "the number of turns must be at most 1000000!");
}

} // namespace
} // namespace kestrune

namespace kestrune {
namespace {

TEST(BatchRanges, ElementFieldsByName)
{
    // a line of a cavity, an octupole, a thin multipole and a quadrupole; a refusal names the element
    // and leaves the line as it was
    State line;
    line.line.count = 4;
    line.line.at(1) = LatticeElement{"CAV1", code::kRfCavity, 0, 0.5};
    line.line.at(1).harmonic = 400;
    line.line.at(2) = LatticeElement{"O1", code::kOctupole, 0.5, 0.2};
    line.line.at(3) = LatticeElement{"MP", code::kThinMultipole, 0.7, 0};
    line.line.at(4) = LatticeElement{"Q1", code::kQuadrupole, 0.7, 0.3};
    const struct
    {
        const char* assignment;
        const char* refusal; // empty: taken
        double (*field)(const State&);
        double expected;
    } rows[] = {
        {"CAV1.voltage=1.5e6", "", [](const State& s) { return s.line.at(1).voltage; }, 1.5e6},
        {"O1.k3=-30", "", [](const State& s) { return s.line.at(2).k3; }, -30},
        {"MP.knl2=1.5", "", [](const State& s) { return s.line.at(3).knl.at(2); }, 1.5},
        {"CAV1.voltage=-1",
         "--set CAV1.voltage: element 'CAV1' (1): the cavity voltage must not be negative!", nullptr, 0},
        {"CAV1.harmonic=0",
         "--set CAV1.harmonic: element 'CAV1' (1): an rf cavity needs a harmonic number or a frequency",
         nullptr, 0},
        {"Q1.voltage=1", "--set Q1.voltage: element 'Q1' (4) is a quadrupole, which has no voltage", nullptr,
         0},
        {"MP.knl10=1", "--set MP.knl10: element 'MP' (3) has no field 'knl10' (", nullptr, 0},
        {"NONE.voltage=1", "--set: unknown name 'NONE.voltage' (--help lists the names)", nullptr, 0},
    };
    for (const auto& row : rows) {
        State state = line;
        BatchInputs inputs;
        std::string text;
        try {
            applySetting(state, inputs, row.assignment);
        } catch (const BatchUsageError& e) {
            text = e.what();
        }
        if (row.field) {
            EXPECT_EQ(text, "") << row.assignment;
            EXPECT_EQ(row.field(state), row.expected) << row.assignment;
            continue;
        }
        EXPECT_EQ(text.substr(0, std::string(row.refusal).size()), row.refusal);
        EXPECT_EQ(state.line.at(1).voltage, 0);
        EXPECT_EQ(state.line.at(1).harmonic, 400);
    }
    // before the file is read only the field and the number are checked
    BatchInputs check;
    check.usageCheck = true;
    State empty;
    EXPECT_NO_THROW(applySetting(empty, check, "ANY.voltage=1"));
    EXPECT_THROW(applySetting(empty, check, "ANY.voltage=x"), BatchUsageError);
}

} // namespace
} // namespace kestrune
