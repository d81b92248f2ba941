#pragma once
// What the Windows link's tests under Wine share: the COM port that tests/link/com_peer.cpp
// maps in as TARNLINK_TEST_COM_PORT, the files through which that peer reports and is
// steered, and the process's threads and CPU time, to show that a reader neither leaks nor
// spins.

#include <chrono>
#include <string>
#include <thread>

namespace tarnlink::test {

using Clock = std::chrono::steady_clock;
using Ms = std::chrono::milliseconds;

inline long elapsedMs(Clock::time_point since) {
    return static_cast<long>(std::chrono::duration_cast<Ms>(Clock::now() - since).count());
}

/// True under Wine rather than on Windows.
bool underWine();

/// "\\.\COM<n>" of the peer's port, or "" when the test runs without one.
std::string testPort();

/// A file in the peer's folder, by its Linux path through Wine's drive Z:.
std::string peerFile(const char* name);

/// Makes the file `name` in the peer's folder (the peer's "hold" and "hangup"), or removes it.
void setPeerFile(const char* name, bool present);

/// This process's threads.
int threadCount();

/// Waits up to 10 s for the thread count to drop to `expected`; the last count seen.
int waitForThreadCount(int expected);

/// CPU time this process has used, kernel and user, in milliseconds.
double processCpuMs();

/// Waits until `done` holds or `timeoutMs` has passed; the last look decides.
template <typename Condition>
bool waitUntil(Condition done, int timeoutMs) {
    const auto deadline = Clock::now() + Ms(timeoutMs);
    while (!done() && Clock::now() < deadline) {
        std::this_thread::sleep_for(Ms(10));
    }
    return done();
}

}  // namespace tarnlink::test

#define REQUIRE_TEST_PORT()                                                                     \
    if (::tarnlink::test::testPort().empty()) {                                                 \
        GTEST_SKIP() << "TARNLINK_TEST_COM_PORT is not set (run it through tarnlink_com_peer)"; \
    }
