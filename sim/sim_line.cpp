#include "sim/sim_line.h"

#include <poll.h>
#include <sys/prctl.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace tarnlink::sim {

SimLine::SimLine(int fd, int stopFd, uint32_t baud, uint32_t latencyTimerMs)
    : m_fd(fd), m_stopFd(stopFd), m_latency(std::chrono::milliseconds(latencyTimerMs)) {
    if (baud != 0) {
        // Ten bits a byte: start bit, eight data bits, stop bit.
        m_byteTime = std::chrono::duration_cast<Clock::duration>(
            std::chrono::nanoseconds(10'000'000'000LL / baud));
        // The default 50 µs timer slack is over half a byte time at 115200 baud, and every
        // frame's last byte would be late by it: ask for wake-ups as exact as the kernel gives.
        (void)prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    }
}

bool SimLine::sleepUntil(Clock::time_point when) const {
    for (;;) {
        const auto left = when - Clock::now();
        if (left <= Clock::duration::zero()) {
            return true;
        }
        // ppoll, not poll: a byte at 115200 baud lasts 87 µs, far below poll's milliseconds.
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
        const timespec timeout{static_cast<time_t>(ns / 1'000'000'000),
                               static_cast<long>(ns % 1'000'000'000)};
        pollfd stop{m_stopFd, POLLIN, 0};
        if (ppoll(&stop, 1, &timeout, nullptr) > 0) {
            return false;
        }
    }
}

bool SimLine::receive(std::vector<uint8_t>& bytes) {
    for (;;) {
        if (!sendDueHeld()) {
            return false;
        }
        // While bytes are held, wake when their time is up (rounded up to whole ms).
        int timeoutMs = -1;
        if (!m_held.empty()) {
            const auto left = m_heldSince + m_latency - Clock::now();
            timeoutMs = static_cast<int>(
                std::max<int64_t>(0, std::chrono::ceil<std::chrono::milliseconds>(left).count()));
        }
        pollfd fds[2] = {{m_stopFd, POLLIN, 0}, {m_fd, POLLIN, 0}};
        if (poll(fds, 2, timeoutMs) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        if (fds[0].revents != 0) {
            return false;
        }
        if (fds[1].revents == 0) {
            continue;
        }
        uint8_t buffer[256];
        const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
        if (n > 0) {
            bytes.insert(bytes.end(), buffer, buffer + n);
            return true;
        }
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            continue;
        }
        // A hang-up with no slave open: wait a little instead of spinning on it.
        if (!sleepUntil(Clock::now() + std::chrono::milliseconds(10))) {
            return false;
        }
    }
}

bool SimLine::paceInput(Clock::time_point arrival) {
    if (m_byteTime == Clock::duration::zero()) {
        return true;
    }
    m_inDeadline = std::max(m_inDeadline, arrival) + m_byteTime;
    return sleepUntil(m_inDeadline);
}

bool SimLine::send(const std::vector<uint8_t>& bytes) {
    if (m_byteTime == Clock::duration::zero()) {
        if (m_latency == Clock::duration::zero()) {
            return writeAll(bytes.data(), bytes.size());
        }
        for (const uint8_t byte : bytes) {
            if (!hold(byte)) {
                return false;
            }
        }
        return true;
    }
    // Absolute deadlines: the frame starts now (or when the previous one has left), and a
    // late wake-up does not stretch the bytes after it; they catch up.
    m_outDeadline = std::max(m_outDeadline, Clock::now());
    for (const uint8_t byte : bytes) {
        m_outDeadline += m_byteTime;
        if (!sleepUntil(m_outDeadline)) {
            return false;
        }
        const bool sent = m_latency == Clock::duration::zero() ? writeAll(&byte, 1) : hold(byte);
        if (!sent) {
            return false;
        }
    }
    return true;
}

bool SimLine::hold(uint8_t byte) {
    // A slow line may let the time run out between two bytes of one answer.
    if (!sendDueHeld()) {
        return false;
    }
    if (m_held.empty()) {
        m_heldSince = Clock::now();
    }
    m_held.push_back(byte);
    if (m_held.size() < ADAPTER_PACKET_DATA) {
        return true;
    }
    const bool written = writeAll(m_held.data(), m_held.size());
    m_held.clear();
    return written;
}

bool SimLine::sendDueHeld() {
    if (m_held.empty() || Clock::now() < m_heldSince + m_latency) {
        return true;
    }
    const bool written = writeAll(m_held.data(), m_held.size());
    m_held.clear();
    return written;
}

bool SimLine::flushHeld() {
    if (m_held.empty()) {
        return true;
    }
    return sleepUntil(m_heldSince + m_latency) && sendDueHeld();
}

bool SimLine::writeAll(const uint8_t* data, size_t size) const {
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(m_fd, data + done, size - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            return false;
        }
        pollfd fds[2] = {{m_stopFd, POLLIN, 0}, {m_fd, POLLOUT, 0}};
        poll(fds, 2, -1);
        if (fds[0].revents != 0) {
            return false;
        }
    }
    return true;
}

}  // namespace tarnlink::sim
