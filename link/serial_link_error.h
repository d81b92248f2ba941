#pragma once
// Where a backend leaves the reason of a failed open for serialLinkLastFailure() and
// serialLinkLastError().

#include "link/serial_link.h"

namespace tarnlink {

/// Records why this thread's last open failed: the kind and the system's error number.
void setSerialLinkLastFailure(PortOpenFailure failure, int error);

}  // namespace tarnlink
