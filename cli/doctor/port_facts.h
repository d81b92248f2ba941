#pragma once
// What the doctor knows of one port before it judges anything: the device node (kind,
// numbers, owner, mode, access control list), the tty driver behind those numbers, and the
// port's sysfs entry (driver, USB ids, latency timer).

#include <cstdint>
#include <optional>
#include <string>

#include "cli/doctor/file_access.h"
#include "cli/doctor/system_root.h"
#include "cli/ports/sysfs_ports.h"

namespace tarnlink::doctor {

struct TtyDriver {
    std::string name;  ///< "usbserial", "pty_slave", "serial"
    std::string type;  ///< "serial", "pty:slave", "system:console"
};

struct PortFacts {
    std::string devicePath;  ///< as the user named it, "/dev/ttyUSB0"
    bool exists = false;
    int statError = 0;  ///< errno of a failed look at the node
    bool isCharDevice = false;
    uint32_t major = 0;
    uint32_t minor = 0;
    FileOwnership ownership;
    std::optional<TtyDriver> ttyDriver;   ///< the tty driver that owns these numbers
    std::optional<SerialPortInfo> sysfs;  ///< the port as `ports` lists it
    bool uartFlagsKnown = false;          ///< the driver reports its port flags in sysfs
    bool lowLatency = false;              ///< ASYNC_LOW_LATENCY among them

    /// "c188:0": how udev names the device in its database.
    std::string udevId() const;
    /// "0403:6001", or empty for a port that is no USB device.
    std::string usbId() const;
};

/// The tty driver that /proc/tty/drivers gives for these numbers, if any.
std::optional<TtyDriver> ttyDriverFor(const SystemRoot& root, uint32_t major, uint32_t minor);

/// Looks at `devicePath` under `root` (following links, as an open would) and at the sysfs
/// entry with the same device numbers. Opens nothing.
PortFacts gatherPortFacts(const SystemRoot& root, const std::string& devicePath);

}  // namespace tarnlink::doctor
