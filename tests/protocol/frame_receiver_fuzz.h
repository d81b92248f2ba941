#pragma once
// The body of the frame receiver's fuzzer, shared by the fuzzer and the corpus replay test.

#include <cstddef>
#include <cstdint>

namespace tarnlink::fuzz {

/// Runs one fuzz input; aborts on any broken invariant. Test thread only.
int feedOneInput(const uint8_t* data, size_t size);

/// Good frames the receiver has passed on so far, counted when the input asks for the trace.
extern size_t g_goodFrames;

}  // namespace tarnlink::fuzz
