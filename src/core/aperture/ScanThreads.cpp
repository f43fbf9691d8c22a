#include "core/aperture/ScanThreads.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace kestrune {

namespace {

constexpr std::chrono::milliseconds kReportInterval(50);

} // namespace

int scanThreads(int threads, int count)
{
    const int hardware = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    return std::max(1, std::min(threads > 0 ? threads : hardware, count));
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
    const int n = scanThreads(threads, count);
    std::mutex mutex;
    std::condition_variable done;
    int finished = 0;
    std::vector<std::thread> workers;
    workers.reserve(static_cast<std::size_t>(n));
    for (int t = 0; t < n; ++t)
        workers.emplace_back([&] {
            work();
            const std::lock_guard<std::mutex> lock(mutex);
            ++finished;
            done.notify_one();
        });
    {
        std::unique_lock<std::mutex> lock(mutex);
        while (!done.wait_for(lock, kReportInterval, [&] { return finished == n; })) {
            lock.unlock();
            if (report)
                report();
            lock.lock();
        }
    }
    for (std::thread& worker : workers)
        worker.join();
}

} // namespace kestrune
