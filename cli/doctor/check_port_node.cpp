#include <cerrno>
#include <cstring>

#include "cli/doctor/checks.h"

namespace tarnlink::doctor {

namespace {

std::string numbers(const PortFacts& port) {
    return std::to_string(port.major) + ":" + std::to_string(port.minor);
}

std::string description(const PortFacts& port) {
    std::string text = "a terminal device (" + numbers(port);
    if (!port.sysfs || port.sysfs->driver != port.ttyDriver->name) {
        text += ", " + port.ttyDriver->name;
    }
    text += ")";
    if (port.sysfs) {
        // Everything `ports` knows of it, without the device path said again.
        const std::string listed = formatSerialPort(*port.sysfs);
        const size_t space = listed.find(' ');
        if (space != std::string::npos) {
            text += ": " + listed.substr(space + 1);
        }
    }
    return text;
}

}  // namespace

Finding checkPortNode(const PortFacts& port) {
    Finding finding{port.devicePath, "port", Status::FAIL, {}, {}};
    if (!port.exists) {
        finding.found = port.statError == ENOENT || port.statError == ENOTDIR
                            ? "does not exist: is the adapter plugged in? (tarnlink-cli ports "
                              "lists the ports there are)"
                            : std::string("cannot be looked at: ") + std::strerror(port.statError);
        return finding;
    }
    if (!port.isCharDevice) {
        finding.found = "is no device node but a file or folder";
        return finding;
    }
    if (!port.ttyDriver) {
        finding.found = "is a character device (" + numbers(port) + ") but no terminal";
        return finding;
    }
    // A legacy ttyS number the kernel keeps without a UART behind it: it opens, but
    // nothing is ever sent or received.
    if (port.ttyDriver->name == "serial" && !port.sysfs) {
        finding.status = Status::WARN;
        finding.found = "a terminal device, " + numbers(port) +
                        ", but no UART answers at this address (a placeholder port)";
        return finding;
    }
    finding.status = Status::OK;
    finding.found = description(port);
    return finding;
}

}  // namespace tarnlink::doctor
