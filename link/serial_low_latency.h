#pragma once
// Asks a serial driver to hand received bytes on at once instead of batching them.

namespace tarnlink {

/// Sets the driver's low-latency flag on `fd` where the driver offers it; does nothing
/// (and reports nothing) where it does not, as on a pseudo-terminal.
void requestLowLatency(int fd);

}  // namespace tarnlink
