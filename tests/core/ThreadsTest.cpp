// Work spread over threads: every item done once, and a failing item reported to the caller instead of
// ending the program.
#include "core/Threads.h"

#include <atomic>
#include <gtest/gtest.h>
#include <stdexcept>

namespace kestrune {
namespace {

TEST(Threads, AnExceptionOnAWorkerReachesTheCallerAfterTheOthersFinish)
{
    std::atomic<int> next{0}, done{0};
    const auto work = [&] {
        for (int i = next++; i < 200; i = next++) {
            if (i == 17)
                throw std::runtime_error("item 17");
            ++done;
        }
    };
    try {
        runOnThreads(8, work, nullptr, std::chrono::milliseconds(1));
        ADD_FAILURE() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "item 17");
    }
    // the thread that failed stops; the others take what is left
    EXPECT_EQ(done.load(), 199);
}

// Two halves at once: both done, and an exception of either thrown here once both have ended.
TEST(Threads, TwoPartsBothRunAndTheirExceptionsReachTheCaller)
{
    struct Case
    {
        bool hereThrows, thereThrows;
        const char* thrown; // nullptr: none
    };
    for (const Case& c :
         {Case{false, false, nullptr}, Case{false, true, "there"}, Case{true, true, "here"}}) {
        std::atomic<int> done{0};
        const auto part = [&](bool fails, const char* name) {
            return [&done, fails, name] {
                ++done;
                if (fails)
                    throw std::runtime_error(name);
            };
        };
        try {
            runInTwoParts(part(c.hereThrows, "here"), part(c.thereThrows, "there"));
            EXPECT_EQ(c.thrown, nullptr);
        } catch (const std::runtime_error& e) {
            ASSERT_NE(c.thrown, nullptr);
            EXPECT_STREQ(e.what(), c.thrown);
        }
        EXPECT_EQ(done.load(), 2);
    }
}

} // namespace
} // namespace kestrune
