#pragma once

#include <chrono>
#include <functional>

namespace kestrune {

/// Runs work() on `threads` threads at once (at least one) while the calling thread calls report() every
/// `interval` until all of them have returned; report may be empty. What work() does with its share is
/// its own business, but it must take its items from a shared counter (of tasks, of blocks of particles):
/// threads the system cannot start are left out, and the others do their share. Returns the threads that
/// ran work() (when none could start, the calling thread runs it once and 1 is returned). An exception
/// that ends work() on a thread is thrown again here once every thread has returned.
int runOnThreads(int threads, const std::function<void()>& work, const std::function<void()>& report,
                 std::chrono::milliseconds interval);

/// The threads of the machine, at least one.
int hardwareThreads();

/// Runs here() on the calling thread and there() on a thread of its own at the same time, for two halves
/// of a short job; where the system cannot start a thread, there() runs here after here(). An exception
/// that ends either is thrown again once both have returned (here()'s first).
void runInTwoParts(const std::function<void()>& here, const std::function<void()>& there);

} // namespace kestrune
