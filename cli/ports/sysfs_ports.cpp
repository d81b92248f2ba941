#include "cli/ports/sysfs_ports.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>

#include "cli/ports/port_order.h"

namespace tarnlink {

namespace fs = std::filesystem;

namespace {

// A sysfs attribute: its first line, without the trailing newline; empty when absent.
std::string readAttribute(const fs::path& path) {
    std::ifstream in(path);
    std::string line;
    if (in) {
        std::getline(in, line);
    }
    while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back()))) {
        line.pop_back();
    }
    return line;
}

std::string linkTargetName(const fs::path& link) {
    std::error_code error;
    const fs::path target = fs::read_symlink(link, error);
    return error ? std::string() : target.filename().string();
}

bool isInside(const fs::path& path, const fs::path& root) {
    auto [rootEnd, pathPos] = std::mismatch(root.begin(), root.end(), path.begin(), path.end());
    return rootEnd == root.end();
}

// Newer kernels put a serial-base "port" and "ctrl" device between the tty and the
// device that has the real driver; skip those layers.
fs::path driverDevice(fs::path device, const fs::path& root) {
    while (linkTargetName(device / "subsystem") == "serial-base" && device.has_parent_path() &&
           isInside(device.parent_path(), root) && device.parent_path() != root) {
        device = device.parent_path();
    }
    return device;
}

// The USB device (the one with idVendor) that the tty's device hangs below, if any.
fs::path usbDevice(fs::path device, const fs::path& root) {
    std::error_code error;
    while (isInside(device, root) && device != root) {
        if (fs::exists(device / "idVendor", error)) {
            return device;
        }
        device = device.parent_path();
    }
    return {};
}

bool isPlaceholderUart(const fs::path& ttyDir, const std::string& driver) {
    const std::string type = readAttribute(ttyDir / "type");
    if (!type.empty()) {
        return type == "0";
    }
    return driver == "serial8250";
}

std::string hexId(const std::string& value) {
    std::string id = value;
    std::transform(id.begin(), id.end(), id.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return id;
}

}  // namespace

std::vector<SerialPortInfo> listSerialPorts(const std::string& sysfsRoot, const std::string& only) {
    std::vector<SerialPortInfo> ports;
    std::error_code error;
    const fs::path root = fs::weakly_canonical(sysfsRoot, error);
    if (error) {
        return ports;
    }
    // Devices come and go while we look (an adapter pulled out mid-listing): every step
    // takes an error code instead of throwing, and an entry that went away is skipped.
    fs::directory_iterator entries(root / "class" / "tty", error);
    for (const fs::directory_iterator end; !error && entries != end; entries.increment(error)) {
        const fs::path ttyDir = entries->path();
        const std::string name = ttyDir.filename().string();
        if (!only.empty() && name != only) {
            continue;
        }
        std::error_code ignored;
        const fs::path device = fs::canonical(ttyDir / "device", ignored);
        if (ignored) {
            continue;  // virtual terminals, pseudo-terminals, the console
        }
        SerialPortInfo port;
        port.name = name;
        port.devicePath = "/dev/" + name;
        port.driver = linkTargetName(driverDevice(device, root) / "driver");
        if (name.rfind("ttyS", 0) == 0 && isPlaceholderUart(ttyDir, port.driver)) {
            continue;
        }
        const fs::path usb = usbDevice(device, root);
        if (!usb.empty()) {
            port.vendorId = hexId(readAttribute(usb / "idVendor"));
            port.productId = hexId(readAttribute(usb / "idProduct"));
            port.serialNumber = readAttribute(usb / "serial");
            port.product = readAttribute(usb / "product");
            port.manufacturer = readAttribute(usb / "manufacturer");
        }
        std::string latency = readAttribute(device / "latency_timer");
        if (latency.empty()) {
            latency =
                readAttribute(root / "bus" / "usb-serial" / "devices" / name / "latency_timer");
        }
        if (!latency.empty() && std::all_of(latency.begin(), latency.end(),
                                            [](unsigned char c) { return std::isdigit(c); })) {
            port.latencyTimerMs = std::stoi(latency.substr(0, 6));
        }
        ports.push_back(std::move(port));
    }
    std::sort(ports.begin(), ports.end(), [](const SerialPortInfo& a, const SerialPortInfo& b) {
        return naturalPortLess(a.name, b.name);
    });
    return ports;
}

}  // namespace tarnlink
