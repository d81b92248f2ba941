// The POSIX reader when the system fails its poll, which a pseudo-terminal cannot make
// happen: the poll is replaced through the test build's table (link/reader_calls_posix.h).
// The close gives up after 1.5 s here (tests/support/short_link_close_wait.cpp).
#include <gtest/gtest.h>
#include <poll.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <ctime>
#include <thread>

#include "link/reader_calls_posix.h"
#include "link/serial_link.h"
#include "tests/support/process_resources.h"
#include "tests/support/pty_pair.h"

namespace tarnlink {
namespace {

using Clock = std::chrono::steady_clock;
using Ms = std::chrono::milliseconds;

long elapsedMs(Clock::time_point since) {
    return static_cast<long>(std::chrono::duration_cast<Ms>(Clock::now() - since).count());
}

double processCpuMs() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1000.0 + static_cast<double>(now.tv_nsec) / 1e6;
}

int32_t ignoreBytes(const uint8_t*, int32_t, void*) {
    return 1;
}

std::atomic<int> s_polls{0};

int failingPoll(pollfd*, nfds_t, int) {
    ++s_polls;
    errno = ENOMEM;
    return -1;
}

void countLostPort(void* context) {
    ++*static_cast<std::atomic<int>*>(context);
}

struct RealPollAfterwards {
    ~RealPollAfterwards() { readerCalls().poll = &::poll; }
};

TEST(SerialLinkFailingPoll, ReaderNeitherSpinsNorHoldsTheCloseAndThePortOpensAgain) {
    const auto fdsBefore = test::openFileDescriptors();
    const int threadsBefore = test::baselineThreadCount();
    std::atomic<int> lostCalls{0};
    {
        test::PtyPair pty;
        RealPollAfterwards restore;
        readerCalls().poll = &failingPoll;
        SerialLink* link = serialLinkOpen(pty.slavePath().c_str(), &ignoreBytes, nullptr,
                                          &countLostPort, &lostCalls);
        ASSERT_NE(link, nullptr) << serialLinkLastError();

        const double cpuBefore = processCpuMs();
        const auto start = Clock::now();
        std::this_thread::sleep_for(Ms(1500));
        const double cpu = processCpuMs() - cpuBefore;
        const long wall = elapsedMs(start);
        // A pause between failed polls, not a loop round them.
        EXPECT_GE(s_polls.load(), 1);
        EXPECT_LE(s_polls.load(), 4);
        EXPECT_LT(cpu, wall * 0.25) << cpu << " ms of CPU in " << wall << " ms";

        // The stop ends the pause: the close neither waits out a pause nor gives up.
        const auto closing = Clock::now();
        EXPECT_TRUE(serialLinkClose(link));
        EXPECT_LT(elapsedMs(closing), 500);

        readerCalls().poll = &::poll;
        SerialLink* again = serialLinkOpen(pty.slavePath().c_str(), &ignoreBytes, nullptr);
        EXPECT_NE(again, nullptr) << "the port was not released";
        serialLinkClose(again);
    }
    EXPECT_EQ(lostCalls.load(), 0) << "a failing poll is no lost port";
    EXPECT_EQ(test::waitForThreadCount(threadsBefore), threadsBefore);
    EXPECT_EQ(test::openFileDescriptors(), fdsBefore);
}

}  // namespace
}  // namespace tarnlink
