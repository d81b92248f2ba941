#include "protocol/frame_trace.h"

#include <atomic>

namespace tarnlink {

namespace {
// Read on the worker and the reader thread, set from the user-interface thread.
std::atomic<FrameObserver> g_observer{nullptr};
}  // namespace

void setFrameObserver(FrameObserver observer) {
    g_observer.store(observer);
}

FrameObserver frameObserver() {
    return g_observer.load();
}

}  // namespace tarnlink
