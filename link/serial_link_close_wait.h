#pragma once
// How long serialLinkClose waits for the reader to end. A file of its own, so that a test
// target can link a shorter wait in its place; the programs always get the 20 s.

#include <cstdint>

namespace tarnlink {

/// Milliseconds serialLinkClose waits for the reader before it gives up on it: 20000.
uint32_t serialLinkCloseWaitMs();

}  // namespace tarnlink
