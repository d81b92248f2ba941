#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>

#include "cli/ports/serial_ports.h"
#include "cli/ports/sysfs_ports.h"

namespace tarnlink {

const PortNameExamples& portNameExamples() {
    static const PortNameExamples examples{"/dev/ttyUSB0", "/dev/ttyUSB1", "ttyUSB0",
                                           "a device path (/dev/ttyUSB0), a COM number (3) or COM3",
                                           "/dev/ttyUSB0, 3, COM3"};
    return examples;
}

std::vector<SerialPortInfo> availableSerialPorts() {
    // The sysfs root can be moved for a test against a fake tree.
    const char* root = std::getenv("TARNLINK_SYSFS_ROOT");
    return listSerialPorts(root != nullptr ? root : "/sys");
}

std::string portDeviceKey(const std::string& devicePath) {
    std::error_code error;
    const std::filesystem::path resolved = std::filesystem::canonical(devicePath, error);
    return error ? devicePath : resolved.string();
}

std::optional<SerialPortInfo> findSerialPort(const std::string& devicePath) {
    const char* root = std::getenv("TARNLINK_SYSFS_ROOT");
    const std::string key = portDeviceKey(devicePath);
    // A real device's own name (ttyUSB0) picks its one sysfs entry; a path that names nothing
    // on this machine can still be a device of a moved sysfs root by its plain name.
    for (const std::string& name : {std::filesystem::path(key).filename().string(),
                                    std::filesystem::path(devicePath).filename().string()}) {
        for (SerialPortInfo& port : listSerialPorts(root != nullptr ? root : "/sys", name)) {
            if (port.devicePath == devicePath || portDeviceKey(port.devicePath) == key) {
                return std::move(port);
            }
        }
    }
    return std::nullopt;
}

std::string portPresence(const std::string& devicePath) {
    // The name's own inode and the device's: a device node made again by udev, or a
    // symlink made again (by-id names, a simulator's --link), gets a new inode even when
    // the number of the device behind it is the same as before.
    struct stat name {};
    struct stat device {};
    if (::lstat(devicePath.c_str(), &name) != 0 || ::stat(devicePath.c_str(), &device) != 0) {
        return {};
    }
    return std::to_string(name.st_dev) + ":" + std::to_string(name.st_ino) + "/" +
           std::to_string(device.st_dev) + ":" + std::to_string(device.st_ino) + ":" +
           std::to_string(device.st_rdev);
}

}  // namespace tarnlink
