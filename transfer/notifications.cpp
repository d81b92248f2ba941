#include "transfer/notifications.h"

#include <mutex>
#include <utility>

namespace tarnlink {

namespace {

std::mutex g_targetMutex;
std::shared_ptr<NotificationTarget> g_target;

// A copy taken under the lock: the call itself runs outside it, so a target that waits
// for its own thread (the dialog applying a status) never holds up a registration, and
// a target cleared meanwhile stays alive until the call in progress has returned.
std::shared_ptr<NotificationTarget> currentTarget() {
    std::lock_guard lock(g_targetMutex);
    return g_target;
}

}  // namespace

void setNotificationTarget(std::shared_ptr<NotificationTarget> target) {
    std::shared_ptr<NotificationTarget> previous;
    {
        std::lock_guard lock(g_targetMutex);
        previous = std::exchange(g_target, std::move(target));
    }
    // `previous` may be the last reference: destroy it outside the lock.
}

void clearNotificationTarget() {
    setNotificationTarget(nullptr);
}

void showStatus(const char* text) {
    if (text == nullptr) {
        return;
    }
    if (auto target = currentTarget()) {
        target->showStatus(text);
    }
}

void setProgress(unsigned position) {
    if (auto target = currentTarget()) {
        target->setProgress(static_cast<uint8_t>(position & 0xFF));
    }
}

void notifyResult(uint8_t result) {
    if (auto target = currentTarget()) {
        target->postTransferDone(result);
    }
}

}  // namespace tarnlink
