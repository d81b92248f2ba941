#pragma once
// The terminal settings the link puts on a POSIX port, and the check that they took.

#include <termios.h>

namespace tarnlink {

/// Sets `fd` to raw 115200 8N1 without flow control, reads the settings back, and returns 0
/// when they took; otherwise the errno of the failed call, or EINVAL when the port kept
/// something else (tcsetattr succeeds when any part of a change took).
int applyLineSettings(int fd);

/// True when `tio` is what the link needs: 115200 baud both ways, 8 data bits, no parity,
/// one stop bit, no CTS/RTS flow, receiver on, modem lines ignored, no input, output or
/// local processing of any byte, and a read that waits for one byte.
bool lineSettingsTook(const termios& tio);

}  // namespace tarnlink
