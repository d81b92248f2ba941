#pragma once
// An optional observer of every frame sent and every good frame received, for the
// command line's --trace. Unset, it costs one atomic load per frame.

#include <cstddef>
#include <cstdint>

namespace tarnlink {

enum class FrameDirection : uint8_t { SENT, RECEIVED };

/// Called with the whole frame, SOF to FCS. SENT runs on the worker thread, RECEIVED on
/// the reader thread; the bytes are valid only during the call.
using FrameObserver = void (*)(FrameDirection direction, const uint8_t* frame, size_t size);

/// Sets (or with null clears) the observer. Set it before a transfer starts.
void setFrameObserver(FrameObserver observer);

/// The observer now set, or null.
FrameObserver frameObserver();

}  // namespace tarnlink
