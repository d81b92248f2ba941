#pragma once
// What the test process holds right now, to show that a transfer leaves nothing behind.

#include <string>
#include <vector>

namespace tarnlink::test {

/// The targets of every open file descriptor of this process (from /proc/self/fd).
std::vector<std::string> openFileDescriptors();

/// The number of threads of this process (from /proc/self/task).
int threadCount();

/// The thread count to compare against after a test. The first thread a process starts
/// may bring a helper of the runtime along (ThreadSanitizer's background thread), so one
/// thread is started and joined before counting.
int baselineThreadCount();

/// Waits up to `timeoutMs` for the thread count to drop to `expected`; returns the last
/// count seen. Threads end a little after they have said they are done, and on a loaded
/// machine that little can be seconds; a leaked thread never ends, so a long wait is safe.
int waitForThreadCount(int expected, int timeoutMs = 10000);

}  // namespace tarnlink::test
