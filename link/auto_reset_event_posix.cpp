#include "link/auto_reset_event.h"

#include <chrono>

namespace tarnlink {

AutoResetEvent::AutoResetEvent() = default;
AutoResetEvent::~AutoResetEvent() = default;

bool AutoResetEvent::valid() const {
    return true;
}

void AutoResetEvent::signal() {
    {
        std::lock_guard lock(m_mutex);
        m_signalled = true;
    }
    m_cond.notify_one();
}

AutoResetEvent::WaitResult AutoResetEvent::wait(uint32_t timeoutMs) {
    std::unique_lock lock(m_mutex);
    // steady_clock: a wall-clock step must not stretch or cut a protocol time-out.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    if (!m_cond.wait_until(lock, deadline, [this] { return m_signalled; })) {
        return WaitResult::TIMEOUT;
    }
    m_signalled = false;
    return WaitResult::SIGNALLED;
}

}  // namespace tarnlink
