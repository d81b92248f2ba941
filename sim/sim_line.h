#pragma once
// The serial line as the target sees it: reads and writes on the pseudo-terminal master,
// optionally paced at a baud rate, every wait cut short by the stop descriptor.

#include <chrono>
#include <cstdint>
#include <vector>

namespace tarnlink::sim {

class SimLine {
public:
    using Clock = std::chrono::steady_clock;

    /// `fd` is the non-blocking master, `stopFd` becomes readable to stop; `baud` 0: unpaced.
    SimLine(int fd, int stopFd, uint32_t baud);

    /// Waits for input; appends what came. False once stopped.
    bool receive(std::vector<uint8_t>& bytes);
    /// Waits until the next received byte would have crossed the wire (a byte that came at
    /// `arrival` is done no sooner than one byte time after the previous one). False if stopped.
    bool paceInput(Clock::time_point arrival);
    /// Writes all bytes, each after its wire time when paced. False if stopped or on error.
    bool send(const std::vector<uint8_t>& bytes);
    /// Sleeps until `when`. False if stopped meanwhile.
    bool sleepUntil(Clock::time_point when) const;

private:
    bool writeAll(const uint8_t* data, size_t size) const;

    int m_fd;
    int m_stopFd;
    Clock::duration m_byteTime{};
    Clock::time_point m_inDeadline{};
    Clock::time_point m_outDeadline{};
};

}  // namespace tarnlink::sim
