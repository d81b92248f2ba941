#pragma once
// The serial ports of a Linux machine, read from sysfs: /sys/class/tty/*/device gives the
// driver, and for a USB adapter its vendor:product, serial number, product name and the
// adapter's latency timer.

#include <string>
#include <vector>

#include "cli/ports/serial_ports.h"

namespace tarnlink {

/// Every tty under `sysfsRoot`/class/tty that has a device behind it, in natural order
/// (ttyS2 before ttyS10). Legacy ttyS entries with no UART behind them are left out:
/// their `type` reads 0 (unknown port), or, without a `type` file, their device is a
/// serial8250 placeholder. With `only`, just the tty of that name ("ttyUSB0"), if it is
/// one of them. Any thread.
std::vector<SerialPortInfo> listSerialPorts(const std::string& sysfsRoot = "/sys",
                                            const std::string& only = {});

}  // namespace tarnlink
