// The close's give-up on a reader stuck in its callback, with the wait cut to 1.5 s by
// tests/support/short_link_close_wait.cpp (the programs wait 20 s).
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

void waitFor(const std::atomic<bool>& flag) {
    while (!flag.load()) {
        std::this_thread::sleep_for(Ms(2));
    }
}

// A callback that blocks until the test lets it go, and the close's end handler, which
// records where it ran and whether the port was free again by then.
struct Stuck {
    std::string path;
    std::atomic<bool> entered{false};
    std::atomic<bool> release{false};
    std::atomic<bool> inCallback{false};
    std::atomic<int> handlerCalls{0};
    std::atomic<bool> handlerSawCallbackRunning{false};
    std::atomic<bool> handlerOnReaderThread{false};
    std::atomic<bool> portFreeInHandler{false};
    std::thread::id readerThread;

    static int32_t feed(const uint8_t*, int32_t, void* context) {
        auto* self = static_cast<Stuck*>(context);
        self->readerThread = std::this_thread::get_id();
        self->inCallback = true;
        self->entered = true;
        waitFor(self->release);
        self->inCallback = false;
        return 1;
    }
    static void onReaderEnd(void* context) {
        auto* self = static_cast<Stuck*>(context);
        self->handlerSawCallbackRunning = self->inCallback.load();
        self->handlerOnReaderThread = std::this_thread::get_id() == self->readerThread;
        SerialLink* again = serialLinkOpen(self->path.c_str(), &ignoreBytes, nullptr);
        self->portFreeInHandler = again != nullptr;
        serialLinkClose(again);
        ++self->handlerCalls;  // last: the test may end once it sees this
    }
};

TEST(SerialLinkGiveUp, CloseGivesUpOnAStuckCallbackAndTheReaderReleasesEverythingAfterIt) {
    const auto fdsBefore = test::openFileDescriptors();
    const int threadsBefore = test::baselineThreadCount();
    {
        PtyPair pty;
        Stuck stuck;
        stuck.path = pty.slavePath();
        SerialLink* link = serialLinkOpen(stuck.path.c_str(), &Stuck::feed, &stuck);
        ASSERT_NE(link, nullptr) << serialLinkLastError();
        pty.write({0x01});
        waitFor(stuck.entered);

        const auto start = Clock::now();
        EXPECT_FALSE(serialLinkClose(link, &Stuck::onReaderEnd, &stuck));
        EXPECT_GE(elapsedMs(start), 1400);
        EXPECT_LT(elapsedMs(start), 8000);
        // The reader holds the port until it ends, and the handler waits for that.
        EXPECT_EQ(serialLinkOpen(stuck.path.c_str(), &ignoreBytes, nullptr), nullptr);
        EXPECT_EQ(serialLinkLastFailure(), PortOpenFailure::IN_USE);
        std::this_thread::sleep_for(Ms(200));
        EXPECT_EQ(stuck.handlerCalls.load(), 0);

        stuck.release = true;
        const auto deadline = Clock::now() + std::chrono::seconds(10);
        while (stuck.handlerCalls.load() == 0 && Clock::now() < deadline) {
            std::this_thread::sleep_for(Ms(5));
        }
        EXPECT_EQ(stuck.handlerCalls.load(), 1);
        EXPECT_FALSE(stuck.handlerSawCallbackRunning.load());
        EXPECT_TRUE(stuck.handlerOnReaderThread.load());
        EXPECT_TRUE(stuck.portFreeInHandler.load());
        EXPECT_EQ(test::waitForThreadCount(threadsBefore), threadsBefore);
    }
    EXPECT_EQ(test::openFileDescriptors(), fdsBefore);
}

TEST(SerialLinkGiveUp, CloseFromTheCallbackGivesUpAtOnceAndTheHandlerRunsAfterIt) {
    struct SelfClosing : Stuck {
        std::atomic<SerialLink*> link{nullptr};
        std::atomic<bool> closeResult{true};
        std::atomic<long> closeMs{-1};
        static int32_t feed(const uint8_t*, int32_t, void* context) {
            auto* self = static_cast<SelfClosing*>(context);
            self->readerThread = std::this_thread::get_id();
            self->inCallback = true;
            SerialLink* link = nullptr;
            while ((link = self->link.load()) == nullptr) {
                std::this_thread::sleep_for(Ms(1));
            }
            const auto start = Clock::now();
            self->closeResult = serialLinkClose(link, &Stuck::onReaderEnd, self);
            self->closeMs = elapsedMs(start);
            self->inCallback = false;
            return 1;
        }
    } closing;
    const int threadsBefore = test::baselineThreadCount();
    PtyPair pty;
    closing.path = pty.slavePath();
    SerialLink* link = serialLinkOpen(closing.path.c_str(), &SelfClosing::feed, &closing);
    ASSERT_NE(link, nullptr) << serialLinkLastError();
    closing.link = link;
    pty.write({0x01, 0x02});

    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (closing.handlerCalls.load() == 0 && Clock::now() < deadline) {
        std::this_thread::sleep_for(Ms(5));
    }
    EXPECT_FALSE(closing.closeResult.load());
    EXPECT_GE(closing.closeMs.load(), 0);
    EXPECT_LT(closing.closeMs.load(), 500);  // no wait for itself
    EXPECT_EQ(closing.handlerCalls.load(), 1);
    EXPECT_FALSE(closing.handlerSawCallbackRunning.load());
    EXPECT_TRUE(closing.handlerOnReaderThread.load());
    EXPECT_TRUE(closing.portFreeInHandler.load());
    EXPECT_EQ(test::waitForThreadCount(threadsBefore), threadsBefore);
}

TEST(SerialLinkGiveUp, CloseThatSeesTheReaderEndNeverCallsTheHandler) {
    PtyPair pty;
    Stuck stuck;
    stuck.path = pty.slavePath();
    stuck.release = true;  // the callback returns at once
    SerialLink* link = serialLinkOpen(stuck.path.c_str(), &Stuck::feed, &stuck);
    ASSERT_NE(link, nullptr) << serialLinkLastError();
    pty.write({0x01});
    waitFor(stuck.entered);
    EXPECT_TRUE(serialLinkClose(link, &Stuck::onReaderEnd, &stuck));
    std::this_thread::sleep_for(Ms(300));
    EXPECT_EQ(stuck.handlerCalls.load(), 0);
    EXPECT_TRUE(serialLinkClose(nullptr, &Stuck::onReaderEnd, &stuck));
    EXPECT_EQ(stuck.handlerCalls.load(), 0);
}

}  // namespace
}  // namespace tarnlink
