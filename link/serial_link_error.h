#pragma once
// Where a backend leaves the reason of a failed open for serialLinkLastError().

namespace tarnlink {

/// Records `error` (a system error number, 0 for none) as this thread's last open failure.
void setSerialLinkLastError(int error);

}  // namespace tarnlink
