#include "core/aperture/ScanThreads.h"

#include "core/Threads.h"

#include <algorithm>
#include <chrono>

namespace kestrune {

namespace {

constexpr std::chrono::milliseconds kReportInterval(50);

} // namespace

int scanThreads(int threads, int count)
{
    return std::max(1, std::min(threads > 0 ? threads : hardwareThreads(), count));
}

void runTasks(int count, int threads, const std::function<void(int)>& task,
              const std::function<void()>& report)
{
    if (count <= 0)
        return;
    std::atomic<int> next{0};
    const auto work = [&] {
        for (int i = next++; i < count; i = next++)
            task(i);
    };
    runOnThreads(scanThreads(threads, count), work, report, kReportInterval);
}

} // namespace kestrune
