#include "tests/transfer/sim_transfer_fixture.h"

#include <algorithm>
#include <mutex>
#include <thread>

#include "protocol/frame_trace.h"
#include "tests/support/process_resources.h"
#include "transfer/download_worker.h"
#include "transfer/notifications.h"
#include "transfer/transfer_context.h"

namespace tarnlink::test {

namespace {

std::mutex s_sentMutex;
std::vector<SentFrame> s_sent;

void stampSent(FrameDirection direction, const uint8_t* frame, size_t size) {
    if (direction == FrameDirection::SENT) {
        const auto now = std::chrono::steady_clock::now();
        std::lock_guard lock(s_sentMutex);
        s_sent.push_back({now, std::vector<uint8_t>(frame, frame + size)});
    }
}

}  // namespace

std::vector<int64_t> gapsMs(const std::vector<SentFrame>& frames) {
    std::vector<int64_t> gaps;
    for (size_t i = 1; i < frames.size(); ++i) {
        gaps.push_back(std::chrono::duration_cast<std::chrono::milliseconds>(frames[i].time -
                                                                             frames[i - 1].time)
                           .count());
    }
    return gaps;
}

void SimTransferTest::stampSentFrames() {
    {
        std::lock_guard lock(s_sentMutex);
        s_sent.clear();
    }
    setFrameObserver(stampSent);
}

std::vector<SentFrame> SimTransferTest::sentFrames(uint8_t command) const {
    std::lock_guard lock(s_sentMutex);
    std::vector<SentFrame> picked;
    for (const SentFrame& frame : s_sent) {
        if (command == 0 || (frame.bytes.size() > 3 && frame.bytes[3] == command)) {
            picked.push_back(frame);
        }
    }
    return picked;
}

std::vector<sim::LoggedFrame> framesFrom(const std::vector<sim::LoggedFrame>& log, bool fromHost) {
    std::vector<sim::LoggedFrame> picked;
    std::copy_if(log.begin(), log.end(), std::back_inserter(picked),
                 [fromHost](const sim::LoggedFrame& frame) { return frame.fromHost == fromHost; });
    return picked;
}

uint8_t frameCommand(const sim::LoggedFrame& frame) {
    return frame.bytes.size() > 3 ? frame.bytes[3] : 0;
}

uint16_t frameAddress(const sim::LoggedFrame& frame) {
    if (frame.bytes.size() < 6) {
        return 0;
    }
    return static_cast<uint16_t>(frame.bytes[4] | frame.bytes[5] << 8);
}

std::vector<uint8_t> paddedImage(std::vector<uint8_t> image) {
    image.resize((image.size() + 63) / 64 * 64, 0xFF);
    return image;
}

std::vector<uint8_t> patternImage(size_t size, uint8_t seed) {
    std::vector<uint8_t> bytes(size);
    uint32_t x = seed * 2654435761u + 1;
    for (auto& byte : bytes) {
        x = x * 1103515245u + 12345u;
        byte = static_cast<uint8_t>(x >> 16);
    }
    return bytes;
}

void SimTransferTest::SetUp() {
    m_fdsBefore = openFileDescriptors();
    std::sort(m_fdsBefore.begin(), m_fdsBefore.end());
    m_threadsBefore = baselineThreadCount();
    m_recorder = std::make_shared<NotificationRecorder>();
    setNotificationTarget(m_recorder);
}

void SimTransferTest::TearDown() {
    // A case that failed half-way may leave its transfer running; end it before counting.
    cancelTransfer();
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (g_transfer.worker.load() && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_FALSE(g_transfer.worker.load()) << "a worker is still running";
    EXPECT_EQ(g_transfer.state.load(), STATE_IDLE);
    EXPECT_EQ(g_transfer.link.load(), nullptr);
    EXPECT_EQ(g_transfer.file.load(), nullptr);
    EXPECT_EQ(g_transfer.image.load(), nullptr);
    EXPECT_EQ(g_transfer.ackEvent.load(), nullptr);
    if (frameObserver() == stampSent) {
        setFrameObserver(nullptr);
    }
    clearNotificationTarget();
    if (m_sim) {
        m_sim->stop();
        m_sim.reset();
    }
    // Fewer than before is no leak (a runtime helper may come and go).
    EXPECT_LE(waitForThreadCount(m_threadsBefore), m_threadsBefore) << "a thread was left";
    auto fds = openFileDescriptors();
    std::sort(fds.begin(), fds.end());
    EXPECT_EQ(fds, m_fdsBefore) << "a descriptor was left open";
}

void SimTransferTest::startSim(sim::SimOptions options) {
    m_sim = std::make_unique<sim::SimTarget>(options);
    ASSERT_TRUE(m_sim->start()) << "the simulated target did not start";
}

}  // namespace tarnlink::test
