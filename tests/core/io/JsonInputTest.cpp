// JSON inputs: texts that would crash the parser or keep it busy are refused before a value is built.
#include "core/io/JsonInput.h"

#include "support/FakeMessages.h"
#include "support/TestFolder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace kestrune {
namespace {

std::string members(std::size_t n)
{
    std::string text = "{";
    for (std::size_t i = 0; i < n; ++i)
        text += (i ? ",\"k" : "\"k") + std::to_string(i) + "\":0";
    return text + "}";
}

TEST(JsonInput, TextsOfEveryShapeGiveAValueOrTheReason)
{
    const std::string deep = "{\"x\": " + std::string(100000, '[') + std::string(100000, ']') + ", \"y\": 0}";
    const struct
    {
        std::string text;
        std::string problem; // empty: read
    } cases[] = {
        {deep, "it nests arrays and objects deeper than 100 levels"},
        {std::string(100, '[') + std::string(100, ']'), ""},
        {std::string(101, '[') + std::string(101, ']'), "it nests arrays and objects deeper than 100 levels"},
        // brackets inside strings, escaped quotes included, are text
        {"{\"a\": \"\\\"" + std::string(500, '[') + "\"}", ""},
        {members(kMaxJsonMembers), ""},
        {members(200000), "an object in it has more than 10000 members"},
        {"{\"a\": 1e999}", "number overflow"},
        {"{\"a\": ", "syntax error while parsing value"},
    };
    for (const auto& c : cases) {
        std::string problem;
        const std::optional<nlohmann::ordered_json> json = parseJsonText(c.text, problem);
        EXPECT_EQ(json.has_value(), c.problem.empty()) << c.text.substr(0, 40);
        EXPECT_NE(problem.find(c.problem), std::string::npos) << problem;
        EXPECT_EQ(problem.find("[json.exception"), std::string::npos) << problem;
    }
}

TEST(JsonInput, FilesAreReadAsEveryOtherInput)
{
    const test::ScopedTestFolder folder("json-input");
    const std::string fifo = (folder.path() / "pipe.json").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::string problem;
    EXPECT_FALSE(readJsonFile(fifo, problem));
    EXPECT_EQ(problem, "it is not a regular file (a device, a pipe or a socket)");
    const std::string big = (folder.path() / "big.json").string();
    test::FakeMessages messages;
    ASSERT_TRUE(writeTextFileSafely(big, "[" + std::string(2000, ' ') + "]", messages));
    EXPECT_FALSE(readJsonFile(big, problem, 1000));
    EXPECT_EQ(problem.rfind("it is larger than", 0), 0u) << problem;
    EXPECT_TRUE(readJsonFile(big, problem));
}

} // namespace
} // namespace kestrune
