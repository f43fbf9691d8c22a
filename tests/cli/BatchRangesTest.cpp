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
