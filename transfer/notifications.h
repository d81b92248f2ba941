#pragma once
// What the transfer engine tells the user: the status line, the progress bar and the
// end of a transfer. The application registers one target before its window runs and
// clears it when the window goes; with no target the three calls do nothing.

#include <cstdint>
#include <memory>

namespace tarnlink {

/// Message number of "transfer done"; its first parameter carries the result (low 8 bits).
inline constexpr unsigned WM_TRANSFER_DONE = 0x401;

/// The application's side of the notifications. The calls come from worker threads and
/// from the user-interface thread.
class NotificationTarget {
  public:
    virtual ~NotificationTarget() = default;
    /// Replace the status text; copy `text` and return only once it is applied.
    virtual void showStatus(const char* text) = 0;
    /// Set the progress range to 0..100 and the position; return once applied.
    virtual void setProgress(uint8_t position) = 0;
    /// Queue WM_TRANSFER_DONE with `result`; return at once.
    virtual void postTransferDone(uint8_t result) = 0;
};

/// Registers `target` (null clears it). Calls already inside the old target finish on
/// it; it stays alive until they have. Any thread.
void setNotificationTarget(std::shared_ptr<NotificationTarget> target);

/// Clears the registration. Any thread.
void clearNotificationTarget();

/// Clears the registration only while `target` is the one registered, so that a window
/// going away cannot unregister another's target. True when it cleared. Any thread.
bool clearNotificationTarget(const NotificationTarget* target);

/// The target registered now, or null. Any thread.
std::shared_ptr<NotificationTarget> notificationTarget();

void showStatus(const char* text);    ///< copies the text before it returns
void setProgress(unsigned position);  ///< the low 8 bits count
void notifyResult(uint8_t result);    ///< queues WM_TRANSFER_DONE, never waits

}  // namespace tarnlink
