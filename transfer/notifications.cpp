#include "transfer/notifications.h"

#include <mutex>
#include <new>
#include <utility>

namespace tarnlink {

namespace {

struct Registry {
    std::mutex mutex;
    std::shared_ptr<NotificationTarget> target;
};

// Never destroyed: the process may end while a worker still runs and notifies, and the
// registry must outlive it rather than be torn down under it by the static destructors.
Registry& registry() {
    alignas(Registry) static unsigned char storage[sizeof(Registry)];
    static Registry* const instance = new (storage) Registry;
    return *instance;
}

// A copy taken under the lock: the call itself runs outside it, so a target that waits
// for its own thread (the dialog applying a status) never holds up a registration, and
// a target cleared meanwhile stays alive until the call in progress has returned.
std::shared_ptr<NotificationTarget> currentTarget() {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    return r.target;
}

}  // namespace

void setNotificationTarget(std::shared_ptr<NotificationTarget> target) {
    Registry& r = registry();
    std::shared_ptr<NotificationTarget> previous;
    {
        std::lock_guard lock(r.mutex);
        previous = std::exchange(r.target, std::move(target));
    }
    // `previous` may be the last reference: destroy it outside the lock.
}

void clearNotificationTarget() {
    setNotificationTarget(nullptr);
}

bool clearNotificationTarget(const NotificationTarget* target) {
    Registry& r = registry();
    std::shared_ptr<NotificationTarget> previous;
    {
        std::lock_guard lock(r.mutex);
        if (target == nullptr || r.target.get() != target) {
            return false;
        }
        previous = std::exchange(r.target, nullptr);
    }
    return true;  // `previous` may be the last reference: destroyed outside the lock
}

std::shared_ptr<NotificationTarget> notificationTarget() {
    return currentTarget();
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
