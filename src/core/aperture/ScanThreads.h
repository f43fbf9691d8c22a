#pragma once

#include <atomic>
#include <functional>

namespace kestrune {

/// How a scan of many independent searches runs.
struct ScanControl
{
    int threads = 0; // 0: as many as the machine has; the results do not depend on it
    const std::atomic<bool>* cancel = nullptr; // set by another thread: the scan stops within a turn
    std::function<void(double)> progress;      // fraction done, on the calling thread, ending with 1
};

/// Runs task(i) once for every i of 0..count-1 on up to control.threads threads, taking the next i as a
/// thread becomes free; the calling thread meanwhile calls report() every 50 ms. Returns when every task
/// has returned. The tasks must not depend on each other.
void runTasks(int count, int threads, const std::function<void(int)>& task,
              const std::function<void()>& report);

/// The threads a scan of count tasks uses: threads (0: the machine's), at most count, at least 1.
int scanThreads(int threads, int count);

} // namespace kestrune
