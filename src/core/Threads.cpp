#include "core/Threads.h"

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

namespace kestrune {

int hardwareThreads()
{
    return static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
}

void runInTwoParts(const std::function<void()>& here, const std::function<void()>& there)
{
    std::exception_ptr thereFailed;
    const auto guarded = [&] {
        try {
            there();
        } catch (...) {
            thereFailed = std::current_exception();
        }
    };
    std::thread worker;
    try {
        worker = std::thread(guarded);
    } catch (const std::system_error&) {
        // no thread: both halves here, one after the other
    } catch (const std::bad_alloc&) {
        // no thread: both halves here, one after the other
    }
    std::exception_ptr hereFailed;
    try {
        here();
    } catch (...) {
        hereFailed = std::current_exception();
    }
    if (worker.joinable())
        worker.join();
    else
        guarded();
    if (hereFailed)
        std::rethrow_exception(hereFailed);
    if (thereFailed)
        std::rethrow_exception(thereFailed);
}

int runOnThreads(int threads, const std::function<void()>& work, const std::function<void()>& report,
                 std::chrono::milliseconds interval)
{
    const int wanted = std::max(1, threads);
    std::mutex mutex;
    std::condition_variable done;
    int finished = 0;
    std::exception_ptr failure; // the first exception a worker ended with, thrown again here
    std::vector<std::thread> workers;
    // a thread the system cannot start (no memory for its stack, a process limit) leaves its share to the
    // others: work() takes its items from what is left, so that the results stay the same
    try {
        workers.reserve(static_cast<std::size_t>(wanted));
        for (int t = 0; t < wanted; ++t)
            workers.emplace_back([&] {
                std::exception_ptr thrown;
                try {
                    work();
                } catch (...) {
                    thrown = std::current_exception();
                }
                const std::lock_guard<std::mutex> lock(mutex);
                if (thrown && !failure)
                    failure = thrown;
                ++finished;
                done.notify_one();
            });
    } catch (const std::system_error&) {
        // the threads started so far do the work
    } catch (const std::bad_alloc&) {
        // the threads started so far do the work
    }
    const int started = static_cast<int>(workers.size());
    if (started == 0) {
        work();
        return 1;
    }
    {
        std::unique_lock<std::mutex> lock(mutex);
        while (!done.wait_for(lock, interval, [&] { return finished == started; })) {
            lock.unlock();
            if (report)
                report();
            lock.lock();
        }
    }
    for (std::thread& worker : workers)
        worker.join();
    if (failure)
        std::rethrow_exception(failure);
    return started;
}

} // namespace kestrune
