#include "core/Threads.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace kestrune {

int hardwareThreads()
{
    return static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
}

void runOnThreads(int threads, const std::function<void()>& work, const std::function<void()>& report,
                  std::chrono::milliseconds interval)
{
    const int n = std::max(1, threads);
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
        while (!done.wait_for(lock, interval, [&] { return finished == n; })) {
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
