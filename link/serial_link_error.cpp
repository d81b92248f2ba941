#include "link/serial_link_error.h"

namespace tarnlink {
namespace {

// Per thread: the dialog and a worker may both open links, and each explains its own failure.
thread_local PortOpenFailure lastFailure = PortOpenFailure::NONE;
thread_local int lastError = 0;

}  // namespace

void setSerialLinkLastFailure(PortOpenFailure failure, int error) {
    lastFailure = failure;
    lastError = error;
}

PortOpenFailure serialLinkLastFailure() {
    return lastFailure;
}

int serialLinkLastError() {
    return lastError;
}

}  // namespace tarnlink
