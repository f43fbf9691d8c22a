#pragma once

#include <chrono>
#include <functional>

namespace kestrune {

/// Runs work() on `threads` threads at once (at least one) while the calling thread calls report() every
/// `interval` until all of them have returned; report may be empty. What work() does with its share is
/// its own business (a shared counter of tasks, blocks of particles).
void runOnThreads(int threads, const std::function<void()>& work, const std::function<void()>& report,
                  std::chrono::milliseconds interval);

/// The threads of the machine, at least one.
int hardwareThreads();

} // namespace kestrune
