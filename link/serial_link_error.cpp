#include "link/serial_link_error.h"

#include "link/serial_link.h"

namespace tarnlink {
namespace {

// Per thread: the dialog and a worker may both open links, and each explains its own failure.
thread_local int lastError = 0;

}  // namespace

void setSerialLinkLastError(int error) {
    lastError = error;
}

int serialLinkLastError() {
    return lastError;
}

}  // namespace tarnlink
