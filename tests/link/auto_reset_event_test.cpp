#include "link/auto_reset_event.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace tarnlink {
namespace {

using Clock = std::chrono::steady_clock;
using Ms = std::chrono::milliseconds;

long elapsedMs(Clock::time_point since) {
    return static_cast<long>(std::chrono::duration_cast<Ms>(Clock::now() - since).count());
}

TEST(AutoResetEvent, WaitWithoutSignalTimesOutAfterRoughlyItsTime) {
    AutoResetEvent event;
    const auto start = Clock::now();
    EXPECT_EQ(event.wait(100), AutoResetEvent::WaitResult::TIMEOUT);
    EXPECT_GE(elapsedMs(start), 95);
    EXPECT_LT(elapsedMs(start), 2000);
}

TEST(AutoResetEvent, PendingSignalReleasesTheNextWaitAtOnceAndOnlyOnce) {
    AutoResetEvent event;
    event.signal();
    event.signal();  // a second signal before any wait is not counted twice
    const auto start = Clock::now();
    EXPECT_EQ(event.wait(5000), AutoResetEvent::WaitResult::SIGNALLED);
    EXPECT_LT(elapsedMs(start), 1000);
    EXPECT_EQ(event.wait(50), AutoResetEvent::WaitResult::TIMEOUT);
}

TEST(AutoResetEvent, SignalFromAnotherThreadReleasesAWaiter) {
    AutoResetEvent event;
    const auto start = Clock::now();
    std::thread signaller([&] {
        std::this_thread::sleep_for(Ms(50));
        event.signal();
    });
    EXPECT_EQ(event.wait(10000), AutoResetEvent::WaitResult::SIGNALLED);
    EXPECT_LT(elapsedMs(start), 5000);
    signaller.join();
    // The signal was consumed by the wait: the event is reset again.
    EXPECT_EQ(event.wait(0), AutoResetEvent::WaitResult::TIMEOUT);
}

TEST(AutoResetEvent, ZeroTimeoutOnlyPolls) {
    AutoResetEvent event;
    EXPECT_EQ(event.wait(0), AutoResetEvent::WaitResult::TIMEOUT);
    event.signal();
    EXPECT_EQ(event.wait(0), AutoResetEvent::WaitResult::SIGNALLED);
}

}  // namespace
}  // namespace tarnlink
