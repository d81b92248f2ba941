#pragma once
// An auto-reset event: one signal releases exactly one wait, and a signal given while
// nobody waits stays pending (at most one) and releases the next wait at once.

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace tarnlink {

class AutoResetEvent {
public:
    enum class WaitResult { SIGNALLED, TIMEOUT };

    /// Sets the event. Any thread.
    void signal();

    /// Waits at most `timeoutMs` milliseconds for the event and consumes it.
    /// TIMEOUT when it was not signalled in that time. Any thread.
    WaitResult wait(uint32_t timeoutMs);

private:
    std::mutex m_mutex;
    std::condition_variable m_cond;
    bool m_signalled = false;
};

}  // namespace tarnlink
