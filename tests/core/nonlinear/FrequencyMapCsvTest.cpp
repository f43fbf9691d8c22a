// The CSV of a frequency map read back: every number to the last bit, the fields a point lacks empty.
#include "core/nonlinear/FrequencyMapCsv.h"

#include <gtest/gtest.h>
#include <sstream>

namespace kestrune {
namespace {

std::vector<std::vector<std::string>> rows(const std::string& csv)
{
    std::vector<std::vector<std::string>> out;
    std::istringstream lines(csv);
    for (std::string line; std::getline(lines, line);) {
        std::vector<std::string> fields(1);
        for (const char c : line) {
            if (c == ',')
                fields.emplace_back();
            else
                fields.back().push_back(c);
        }
        out.push_back(fields);
    }
    return out;
}

TEST(FrequencyMapCsv, ReadBackGivesThePointsAndLeavesWhatTheyLackEmpty)
{
    FrequencyMap map;
    FrequencyMapPoint regular;
    regular.x = 1.0 / 3 * 1e-3;
    regular.y = -0.0123;
    regular.computed = regular.tunesFound = true;
    regular.qx1 = 0.1 + 1e-13;
    regular.qy1 = 2.0 / 7;
    regular.qx2 = 0.1;
    regular.qy2 = 0.3;
    regular.diffusion = -7.25;
    FrequencyMapPoint lost = regular;
    lost.lost = true;
    lost.lostTurn = 17;
    FrequencyMapPoint other; // of another part
    map.points = {regular, lost, other};

    const auto xy = rows(frequencyMapCsv(map, FrequencyMapPlane::XY));
    ASSERT_EQ(xy.size(), 4u);
    EXPECT_EQ(xy[0][1], "y_mm");
    for (const auto& row : xy)
        EXPECT_EQ(row.size(), 9u);
    EXPECT_EQ(std::stod(xy[1][0]), regular.x * 1000);
    EXPECT_EQ(std::stod(xy[1][1]), regular.y * 1000);
    EXPECT_EQ(xy[1][2], "0");
    EXPECT_EQ(xy[1][3], "");
    const double tunes[] = {regular.qx1, regular.qy1, regular.qx2, regular.qy2, regular.diffusion};
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(std::stod(xy[1][static_cast<std::size_t>(4 + i)]), tunes[i]);
    EXPECT_EQ(xy[2][2], "1");
    EXPECT_EQ(xy[2][3], "17");
    for (std::size_t i = 4; i < 9; ++i)
        EXPECT_EQ(xy[2][i], "") << i;
    for (std::size_t i = 2; i < 9; ++i)
        EXPECT_EQ(xy[3][i], "") << i;

    const auto xDelta = rows(frequencyMapCsv(map, FrequencyMapPlane::XDelta));
    EXPECT_EQ(xDelta[0][1], "delta");
    EXPECT_EQ(std::stod(xDelta[1][1]), regular.y);
}

} // namespace
} // namespace kestrune
