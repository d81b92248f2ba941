#pragma once
// End-to-end fixture: the simulated target on a pseudo-terminal, a notification recorder,
// and a check after every case that the transfer left no descriptor and no thread behind.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sim/sim_target.h"
#include "tests/support/notification_recorder.h"
#include "tests/support/temp_dir.h"

namespace tarnlink::test {

/// The host's frames of a log, or the target's, in order.
std::vector<sim::LoggedFrame> framesFrom(const std::vector<sim::LoggedFrame>& log, bool fromHost);
/// Command byte of a frame (position 3).
uint8_t frameCommand(const sim::LoggedFrame& frame);
/// Word address carried by a write or read request (positions 4 and 5, low byte first).
uint16_t frameAddress(const sim::LoggedFrame& frame);
/// The bytes of `image` padded with 0xFF to a whole number of 64-byte blocks.
std::vector<uint8_t> paddedImage(std::vector<uint8_t> image);
/// `size` bytes of a fixed pattern that differs from block to block.
std::vector<uint8_t> patternImage(size_t size, uint8_t seed = 1);

/// A frame the engine sent, stamped on the host's clock just before it was written.
struct SentFrame {
    std::chrono::steady_clock::time_point time;
    std::vector<uint8_t> bytes;
};

/// Milliseconds from each frame to the next.
std::vector<int64_t> gapsMs(const std::vector<SentFrame>& frames);

class SimTransferTest : public ::testing::Test {
  protected:
    using Clock = std::chrono::steady_clock;

    void SetUp() override;
    void TearDown() override;

    /// Starts the simulated target; fails the case when it cannot.
    void startSim(sim::SimOptions options = {});
    const std::string& port() const { return m_sim->portPath(); }
    /// Waits for the `count`-th result of the case.
    std::optional<uint8_t> awaitResult(int timeoutMs, size_t count = 1) const {
        return m_recorder->waitForResult(timeoutMs, count);
    }
    std::vector<sim::LoggedFrame> hostFrames() const { return framesFrom(m_sim->frames(), true); }
    std::vector<sim::LoggedFrame> targetFrames() const {
        return framesFrom(m_sim->frames(), false);
    }
    /// From now on, stamps every frame that the engine sends (through the frame observer).
    /// The host's own clock: unlike the target's log, it does not depend on when the
    /// target got round to reading a frame.
    void stampSentFrames();
    /// The stamped frames with command `command` (all of them for 0), in order.
    std::vector<SentFrame> sentFrames(uint8_t command = 0) const;

    TempDir m_dir;
    std::shared_ptr<NotificationRecorder> m_recorder;
    std::unique_ptr<sim::SimTarget> m_sim;

  private:
    std::vector<std::string> m_fdsBefore;
    int m_threadsBefore = 0;
};

}  // namespace tarnlink::test
