#pragma once
// The serial line as the target sees it: reads and writes on the pseudo-terminal master,
// optionally paced at a baud rate and held back like a USB adapter with a latency timer,
// every wait cut short by the stop descriptor.

#include <chrono>
#include <cstdint>
#include <vector>

namespace tarnlink::sim {

class SimLine {
public:
    using Clock = std::chrono::steady_clock;

    /// A USB adapter sends what it holds once its 64-byte packet (2 status bytes) is full.
    static constexpr size_t ADAPTER_PACKET_DATA = 62;

    /// `fd` is the non-blocking master, `stopFd` becomes readable to stop; `baud` 0: unpaced;
    /// `latencyTimerMs` 0: every byte goes out at once, otherwise bytes are held until that
    /// long after the first of them or until ADAPTER_PACKET_DATA of them wait.
    SimLine(int fd, int stopFd, uint32_t baud, uint32_t latencyTimerMs = 0);

    /// Waits for input, sending held bytes when their time comes; appends what came.
    /// False once stopped.
    bool receive(std::vector<uint8_t>& bytes);
    /// Sends the held bytes when their time comes, then returns. False if stopped.
    bool flushHeld();
    /// Waits until the next received byte would have crossed the wire (a byte that came at
    /// `arrival` is done no sooner than one byte time after the previous one). False if stopped.
    bool paceInput(Clock::time_point arrival);
    /// Writes all bytes, each after its wire time when paced. False if stopped or on error.
    bool send(const std::vector<uint8_t>& bytes);
    /// Sleeps until `when`. False if stopped meanwhile.
    bool sleepUntil(Clock::time_point when) const;

private:
    bool writeAll(const uint8_t* data, size_t size) const;
    /// The adapter takes `byte` in; a full packet goes out at once.
    bool hold(uint8_t byte);
    /// Sends the held bytes if their latency time is up. False on error.
    bool sendDueHeld();

    int m_fd;
    int m_stopFd;
    Clock::duration m_byteTime{};
    Clock::time_point m_inDeadline{};
    Clock::time_point m_outDeadline{};
    Clock::duration m_latency{};
    std::vector<uint8_t> m_held;
    Clock::time_point m_heldSince{};
};

}  // namespace tarnlink::sim
