// The batch tool's aperture scans: parts joined, refusals naming the option, the local Touschek lifetime.
#include "cli/ApertureBatch.h"

#include "cli/StderrMessages.h"
#include "support/ExampleLattice.h"

#include <functional>
#include <gtest/gtest.h>
#include <stdexcept>

namespace kestrune {
namespace {

ApertureRequest smallScans()
{
    ApertureRequest r;
    r.dynamicAperture = true;
    r.momentumAcceptance = true;
    r.grid = {"5", "3", "20", "8"};
    r.angles = "7";
    r.turns = "100";
    r.deltaPercent = "0.5";
    r.maTurns = "64";
    r.every = "4";
    r.frequencyMap = {"3", "2", "10", "4"};
    r.fmTurns = "32";
    return r;
}

Json scanned(ApertureRequest request, const std::string& part, State* kept = nullptr, double focusing = 1)
{
    request.part = part;
    State state = test::exampleState("dba-cell.lat");
    for (int i = 1; i <= state.line.count; ++i)
        state.line.at(i).k *= focusing;
    StderrMessages messages;
    const ApertureScans scans = apertureScans(request);
    Json sections = Json::object();
    std::string fingerprint;
    EXPECT_TRUE(runApertureScans(state, messages, BatchInputs{}, scans, request, sections, fingerprint));
    if (kept)
        *kept = state;
    // through the text of a file, as the parts travel
    return part.empty() ? sections : Json::parse(partDocument(scans, sections, fingerprint).dump());
}

TEST(ApertureBatch, PartsJoinedAreTheRunInOnePiece)
{
    const ApertureRequest request = smallScans();
    const Json whole = scanned(request, "");
    // a part's items of the others are null, and so is what it cannot derive
    const Json second = scanned(request, "2/3");
    EXPECT_TRUE(second.at("dynamic_aperture").at("radius_mm").at(0).is_null());
    EXPECT_TRUE(second.at("dynamic_aperture").at("area_mm2").is_null());
    const std::vector<std::string> names = {"c.json", "a.json", "b.json"};
    const Json merged = mergeParts({scanned(request, "3/3"), scanned(request, "1/3"), second}, names);
    EXPECT_EQ(merged.dump(), whole.dump());
    EXPECT_TRUE(whole.at("dynamic_aperture").at("area_mm2").is_number());
}

TEST(ApertureBatch, PartsThatDoNotBelongTogetherAreRefused)
{
    ApertureRequest request = smallScans();
    request.momentumAcceptance = false;
    request.grid.clear();
    const Json one = scanned(request, "1/2"), two = scanned(request, "2/2");
    request.turns = "101";
    const Json other = scanned(request, "2/2");
    struct Case
    {
        std::vector<Json> parts;
        std::string message;
    };
    const auto changed = [&two](const std::function<void(Json&)>& change) {
        Json part = two;
        change(part);
        return part;
    };
    const std::string notAPart = "y.json: not a part written by --part (";
    const Case cases[] = {
        {{one}, "piece 2 of 2 is missing"},
        {{one, one}, "y.json: piece 1 is there twice"},
        {{one, other}, "y.json: a part of scans of another lattice or with other settings"},
        {{one, scanned(request, "2/2", nullptr, 1.001)},
         "y.json: a part of scans of another lattice or with other settings"},
        {{one, Json{{"turns", 3}}}, notAPart + "\"parts\" is not a whole number from 1 to 100000)"},
        {{one, changed([](Json& p) { p["parts"] = 0; })},
         notAPart + "\"parts\" is not a whole number from 1 to 100000)"},
        {{one, changed([](Json& p) { p["parts"] = 4294967297ULL; })},
         notAPart + "\"parts\" is not a whole number from 1 to 100000)"},
        {{one, changed([](Json& p) { p["part"] = 4294967298LL; })},
         notAPart + "\"part\" is not a whole number from 1 to 2)"},
        {{one, changed([](Json& p) { p.erase("fingerprint"); })}, notAPart + "it has no \"fingerprint\")"},
        {{one, changed([](Json& p) { p["dynamic_aperture"].erase("angles_rad"); })},
         notAPart + "\"angles_rad\" is not a list)"},
        {{one, changed([](Json& p) { p["dynamic_aperture"]["radius_mm"].erase(0); })},
         notAPart + "\"radius_mm\" is not a list of 7 numbers)"},
        {{one, changed([](Json& p) { p["dynamic_aperture"].erase("sigma_x_mm"); })},
         notAPart + "\"sigma_x_mm\" is not a number)"},
        {{one, changed([](Json& p) { p["dynamic_aperture"] = nullptr; })},
         notAPart + "\"dynamic_aperture\" holds no scan)"},
        {{one, changed([](Json& p) { p["extra"] = 1; })}, notAPart + "it holds \"extra\")"},
        {{one, changed([](Json& p) { p["dynamic_aperture"]["turns"] = 101; })},
         "y.json: its dynamic_aperture is not a part of the same scan"},
        {{one, changed([](Json& p) { p["frequency_map"]["qx2"][1] = "0.3"; })},
         notAPart + "\"qx2\" is not a list of 6 numbers)"},
        {{one, changed([](Json& p) { p["frequency_map"]["lost_turn"][0] = 65; })},
         notAPart + "\"lost_turn\" holds 65)"},
    };
    for (const Case& c : cases) {
        try {
            mergeParts(c.parts, {"x.json", "y.json"});
            ADD_FAILURE() << c.message;
        } catch (const std::runtime_error& e) {
            EXPECT_EQ(e.what(), c.message);
        }
    }
}

TEST(ApertureBatch, ValuesOutsideTheirRangeNameTheOption)
{
    struct Case
    {
        std::string ApertureRequest::*field;
        const char* text;
        const char* message;
    };
    const Case cases[] = {
        {&ApertureRequest::angles, "0", "'--da-angles' must be a whole number between 1 and 1000"},
        {&ApertureRequest::turns, "1e9", "--da-turns: '1e9' is not a valid integer value"},
        {&ApertureRequest::deltaPercent, "25", "'--da-delta' must be between -20 and 20"},
        {&ApertureRequest::resolutionMm, "0", "'--da-resolution' must be between 0.0001 and 10"},
        {&ApertureRequest::maResolutionPercent, "x",
         "--ma-resolution: 'x' is not a valid floating point value"},
        {&ApertureRequest::every, "-1", "'--ma-every' must be a whole number between 1 and 5000"},
        {&ApertureRequest::part, "3/2", "'--part' must be a whole number between 1 and 2"},
        {&ApertureRequest::part, "2", "--part: '2' is not K/N"},
    };
    for (const Case& c : cases) {
        ApertureRequest request = smallScans();
        request.*c.field = c.text;
        try {
            apertureScans(request);
            ADD_FAILURE() << c.message;
        } catch (const BatchUsageError& e) {
            EXPECT_STREQ(e.what(), c.message);
        }
    }
}

TEST(ApertureBatch, ScansLongerThanARunGoInParts)
{
    ApertureRequest request = smallScans();
    request.grid = {"1000", "1000", "20", "8"};
    request.turns = "10000000";
    try {
        apertureScans(request);
        ADD_FAILURE() << "taken";
    } catch (const BatchUsageError& e) {
        EXPECT_STREQ(e.what(),
                     "--da-grid with --da-turns: 1e+13 particle turns, more than the 1e+10 of one run "
                     "(a few hours); split the study with --part K/N");
    }
    request.part = "1/1000";
    EXPECT_EQ(apertureScans(request).part.count, 1000);
}

TEST(ApertureBatch, LocalAcceptanceGivesTheLocalTouschekLifetime)
{
    ApertureRequest request = smallScans();
    request.dynamicAperture = false;
    request.grid.clear();
    State state;
    scanned(request, "", &state);
    ASSERT_FALSE(state.localAcceptance.empty());
    StderrMessages messages;
    Json report = {{"lifetime", {{"touschek_local_acceptance_s", nullptr}}}};
    addLocalTouschek(report, state, BatchInputs{}, messages);
    EXPECT_GT(report.at("lifetime").at("touschek_local_acceptance_s").get<double>(), 3600);
    EXPECT_TRUE(messages.shown().empty());
}

} // namespace
} // namespace kestrune
