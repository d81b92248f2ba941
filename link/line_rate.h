#pragma once
// Whether a rate that a port reports back is the rate it was set to. Kept apart from the
// Windows code that uses it so that its table is tested on every platform.

#include <cstdint>

namespace tarnlink {

/// True when `reported` is within 2 % of `wanted`: virtual, Bluetooth and network ports
/// report the rate their hardware really runs, which may be a little off the one set,
/// and a UART tolerates that much. Any thread.
bool reportedRateAccepted(uint32_t reported, uint32_t wanted);

}  // namespace tarnlink
