// The system's auto-reset event: its waits run on the system's tick, immune to clock steps.
#include <windows.h>

#include "link/auto_reset_event.h"

namespace tarnlink {

AutoResetEvent::AutoResetEvent() : m_handle(CreateEventA(nullptr, FALSE, FALSE, nullptr)) {}

AutoResetEvent::~AutoResetEvent() {
    if (m_handle != nullptr) {
        CloseHandle(m_handle);
    }
}

bool AutoResetEvent::valid() const {
    return m_handle != nullptr;
}

void AutoResetEvent::signal() {
    SetEvent(m_handle);
}

AutoResetEvent::WaitResult AutoResetEvent::wait(uint32_t timeoutMs) {
    // INFINITE is 0xFFFFFFFF: the longest protocol wait is far below it.
    const DWORD wait = timeoutMs == INFINITE ? INFINITE - 1 : timeoutMs;
    return WaitForSingleObject(m_handle, wait) == WAIT_OBJECT_0 ? WaitResult::SIGNALLED
                                                                : WaitResult::TIMEOUT;
}

}  // namespace tarnlink
