#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "link/serial_link.h"
#include "tests/support/process_resources.h"
#include "tests/support/pty_pair.h"

namespace tarnlink {
namespace {

using Clock = std::chrono::steady_clock;
using Ms = std::chrono::milliseconds;
using test::PtyPair;

long elapsedMs(Clock::time_point since) {
    return static_cast<long>(std::chrono::duration_cast<Ms>(Clock::now() - since).count());
}

int32_t ignoreBytes(const uint8_t*, int32_t, void*) {
    return 1;
}

using test::baselineThreadCount;

// The reader must not be freed under a callback that outlives the close's 20 s wait.
TEST(SerialLinkCloseTimeout, CloseGivesUpAfterTwentySecondsAndTheReaderCleansUpWhenItEnds) {
    struct Stuck {
        std::atomic<bool> entered{false};
        std::atomic<bool> release{false};
        std::atomic<bool> returned{false};
        static int32_t feed(const uint8_t*, int32_t, void* context) {
            auto* self = static_cast<Stuck*>(context);
            self->entered = true;
            while (!self->release.load()) {
                std::this_thread::sleep_for(Ms(5));
            }
            // Nobody joins the reader now: this is what orders its last look at us.
            self->returned = true;
            return 1;
        }
    } stuck;
    const auto fdsBefore = test::openFileDescriptors();
    const int threadsBefore = baselineThreadCount();
    PtyPair pty;
    SerialLink* link = serialLinkOpen(pty.slavePath().c_str(), &Stuck::feed, &stuck);
    ASSERT_NE(link, nullptr) << serialLinkLastError();
    pty.write({0x01});
    while (!stuck.entered.load()) {
        std::this_thread::sleep_for(Ms(5));
    }

    const auto start = Clock::now();
    EXPECT_FALSE(serialLinkClose(link));
    EXPECT_GE(elapsedMs(start), 19500);
    EXPECT_LT(elapsedMs(start), 30000);
    // Still held by the reader that owns it now.
    EXPECT_EQ(serialLinkOpen(pty.slavePath().c_str(), &ignoreBytes, nullptr), nullptr);

    stuck.release = true;
    while (!stuck.returned.load()) {
        std::this_thread::sleep_for(Ms(5));
    }
    EXPECT_EQ(test::waitForThreadCount(threadsBefore, 3000), threadsBefore);
    SerialLink* again = serialLinkOpen(pty.slavePath().c_str(), &ignoreBytes, nullptr);
    EXPECT_NE(again, nullptr) << serialLinkLastError();
    serialLinkClose(again);
    pty.closeMaster();
    EXPECT_EQ(test::openFileDescriptors(), fdsBefore);
}

}  // namespace
}  // namespace tarnlink
