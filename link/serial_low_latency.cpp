// Works around the Linux serial driver interface (TIOCGSERIAL/TIOCSSERIAL and struct
// serial_struct), which only <linux/serial.h> describes and many drivers do not implement.
#include "link/serial_low_latency.h"

#if defined(__linux__)
#include <linux/serial.h>
#include <sys/ioctl.h>
#endif

namespace tarnlink {

#if defined(__linux__)

void requestLowLatency(int fd) {
    // Without the flag some UART and USB drivers hold bytes for up to a timer tick, which
    // stretches every one-byte read of the boot protocol. Pseudo-terminals and many USB
    // adapters refuse both calls (ENOTTY, EINVAL); the link works without it.
    serial_struct serial{};
    if (ioctl(fd, TIOCGSERIAL, &serial) != 0) {
        return;
    }
    if ((serial.flags & ASYNC_LOW_LATENCY) != 0) {
        return;
    }
    serial.flags |= ASYNC_LOW_LATENCY;
    (void)ioctl(fd, TIOCSSERIAL, &serial);
}

#else

void requestLowLatency(int) {}

#endif

}  // namespace tarnlink
