#pragma once
// An auto-reset event: one signal releases exactly one wait, and a signal given while
// nobody waits stays pending (at most one) and releases the next wait at once. The system's
// own event on Windows, a condition variable elsewhere.

#include <cstdint>
#if !defined(_WIN32)
#include <condition_variable>
#include <mutex>
#endif

namespace tarnlink {

class AutoResetEvent {
public:
    enum class WaitResult { SIGNALLED, TIMEOUT };

    AutoResetEvent();
    ~AutoResetEvent();
    AutoResetEvent(const AutoResetEvent&) = delete;
    AutoResetEvent& operator=(const AutoResetEvent&) = delete;

    /// False when the system could not create the event (Windows only); such an event
    /// must not be used. Any thread.
    bool valid() const;

    /// Sets the event. Any thread.
    void signal();

    /// Waits at most `timeoutMs` milliseconds for the event and consumes it.
    /// TIMEOUT when it was not signalled in that time. Any thread.
    WaitResult wait(uint32_t timeoutMs);

private:
#if defined(_WIN32)
    void* m_handle = nullptr;  // the system's auto-reset event
#else
    std::mutex m_mutex;
    std::condition_variable m_cond;
    bool m_signalled = false;
#endif
};

}  // namespace tarnlink
