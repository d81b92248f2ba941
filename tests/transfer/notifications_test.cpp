#include "transfer/notifications.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <future>
#include <memory>
#include <mutex>
#include <thread>

#include "tests/support/notification_recorder.h"
#include "transfer/transfer_context.h"

namespace tarnlink {
namespace {

using test::NotificationRecorder;

class NotificationsTest : public ::testing::Test {
  protected:
    void TearDown() override { clearNotificationTarget(); }
};

TEST_F(NotificationsTest, WithoutATargetAllThreeDoNothing) {
    auto recorder = std::make_shared<NotificationRecorder>();
    setNotificationTarget(recorder);
    clearNotificationTarget();
    std::thread worker([] {
        showStatus("Connecting to target...");
        setProgress(50);
        notifyResult(SUCCESS);
    });
    worker.join();
    EXPECT_TRUE(recorder->statuses().empty());
    EXPECT_TRUE(recorder->progress().empty());
    EXPECT_TRUE(recorder->results().empty());
    EXPECT_EQ(recorder.use_count(), 1) << "a cleared target must not be kept";
}

TEST_F(NotificationsTest, CallsReachTheRegisteredTargetUnchanged) {
    auto recorder = std::make_shared<NotificationRecorder>();
    setNotificationTarget(recorder);
    std::thread worker([] {
        // One buffer, reused at once after each call, as the workers do.
        char text[32];
        for (int packet = 0; packet < 3; ++packet) {
            std::snprintf(text, sizeof text, "Sending Data Packet %d", packet);
            showStatus(text);
            std::snprintf(text, sizeof text, "garbage");
        }
        showStatus(nullptr);
        for (unsigned result : {0u, 7u, 11u, 200u}) {
            notifyResult(static_cast<uint8_t>(result));
        }
    });
    worker.join();
    EXPECT_EQ(recorder->statuses(),
              (std::vector<std::string>{"Sending Data Packet 0", "Sending Data Packet 1",
                                        "Sending Data Packet 2"}));
    EXPECT_EQ(recorder->results(), (std::vector<uint8_t>{0, 7, 11, 200}));
}

TEST_F(NotificationsTest, ProgressKeepsTheLowEightBits) {
    auto recorder = std::make_shared<NotificationRecorder>();
    setNotificationTarget(recorder);
    const struct {
        unsigned given;
        int shown;
    } rows[] = {{0, 0}, {49, 49}, {100, 100}, {255, 255}, {256, 0}, {300, 44}, {0x1234, 0x34}};
    for (const auto& row : rows) {
        setProgress(row.given);
        ASSERT_FALSE(recorder->progress().empty());
        EXPECT_EQ(recorder->progress().back(), row.shown) << "setProgress(" << row.given << ")";
    }
}

// A target that holds the caller inside showStatus until it is released.
class BlockingTarget : public NotificationTarget {
  public:
    void showStatus(const char*) override {
        std::unique_lock lock(m_mutex);
        m_inside = true;
        m_cond.notify_all();
        m_cond.wait(lock, [this] { return m_released; });
    }
    void setProgress(uint8_t) override {}
    void postTransferDone(uint8_t) override {}
    void waitUntilInside() {
        std::unique_lock lock(m_mutex);
        m_cond.wait(lock, [this] { return m_inside; });
    }
    void release() {
        std::lock_guard lock(m_mutex);
        m_released = true;
        m_cond.notify_all();
    }

  private:
    std::mutex m_mutex;
    std::condition_variable m_cond;
    bool m_inside = false;
    bool m_released = false;
};

TEST_F(NotificationsTest, TargetClearedDuringACallLivesUntilTheCallReturns) {
    auto blocking = std::make_shared<BlockingTarget>();
    std::weak_ptr<BlockingTarget> watch = blocking;
    setNotificationTarget(blocking);
    std::thread worker([] { showStatus("Verifying Data Packet 3"); });
    blocking->waitUntilInside();

    // The window goes away while the worker is inside the call: clearing must not wait
    // for the call, and must not destroy the target under it.
    auto cleared = std::async(std::launch::async, [] { clearNotificationTarget(); });
    ASSERT_EQ(cleared.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    auto* raw = blocking.get();
    blocking.reset();
    EXPECT_FALSE(watch.expired());

    auto recorder = std::make_shared<NotificationRecorder>();
    setNotificationTarget(recorder);
    notifyResult(TARGET_TIMEOUT);
    EXPECT_EQ(recorder->results(), (std::vector<uint8_t>{TARGET_TIMEOUT}));

    raw->release();
    worker.join();
    EXPECT_TRUE(watch.expired()) << "the old target is released once its last call is done";
    EXPECT_TRUE(recorder->statuses().empty()) << "the call in progress stayed on the old target";
}

}  // namespace
}  // namespace tarnlink
