#include "cli/doctor/port_facts.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/xattr.h>

#include <cerrno>
#include <charconv>
#include <filesystem>
#include <sstream>

namespace tarnlink::doctor {

namespace fs = std::filesystem;

namespace {

constexpr uint32_t ASYNC_LOW_LATENCY_FLAG = 1u << 13;

bool parseNumber(const std::string& text, uint32_t& value, int base = 10) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    return error == std::errc() && end == text.data() + text.size() && !text.empty();
}

// "0-511" or "64": the minor numbers a driver line covers.
bool minorInRange(const std::string& range, uint32_t minor) {
    const size_t dash = range.find('-');
    uint32_t low = 0;
    uint32_t high = 0;
    if (dash == std::string::npos) {
        return parseNumber(range, low) && minor == low;
    }
    return parseNumber(range.substr(0, dash), low) && parseNumber(range.substr(dash + 1), high) &&
           minor >= low && minor <= high;
}

std::string readAcl(const std::string& path) {
    char buffer[1024];
    const ssize_t size = ::getxattr(path.c_str(), "system.posix_acl_access", buffer, sizeof buffer);
    return size > 0 ? std::string(buffer, static_cast<size_t>(size)) : std::string();
}

// The sysfs tty whose "dev" holds these numbers: how the kernel ties a node to its port.
std::string sysfsTtyName(const SystemRoot& root, uint32_t major, uint32_t minor) {
    const std::string wanted = std::to_string(major) + ":" + std::to_string(minor);
    std::error_code error;
    for (const fs::directory_entry& entry :
         fs::directory_iterator(root.at("/sys/class/tty"), error)) {
        const std::string name = entry.path().filename().string();
        if (root.firstLine("/sys/class/tty/" + name + "/dev") == wanted) {
            return name;
        }
    }
    return {};
}

void readUartFlags(const SystemRoot& root, const std::string& name, PortFacts& facts) {
    // Serial-core UARTs show their port flags in hex; USB adapters do not report them.
    const std::optional<std::string> flags = root.firstLine("/sys/class/tty/" + name + "/flags");
    uint32_t value = 0;
    if (flags && flags->rfind("0x", 0) == 0 && parseNumber(flags->substr(2), value, 16)) {
        facts.uartFlagsKnown = true;
        facts.lowLatency = (value & ASYNC_LOW_LATENCY_FLAG) != 0;
    }
}

}  // namespace

std::string PortFacts::udevId() const {
    return "c" + std::to_string(major) + ":" + std::to_string(minor);
}

std::string PortFacts::usbId() const {
    if (!sysfs || sysfs->vendorId.empty()) {
        return {};
    }
    return sysfs->vendorId + ":" + sysfs->productId;
}

std::optional<TtyDriver> ttyDriverFor(const SystemRoot& root, uint32_t major, uint32_t minor) {
    // "usbserial  /dev/ttyUSB  188 0-511 serial": name, node, major, minors, type.
    for (const std::string& line : root.lines("/proc/tty/drivers")) {
        std::istringstream in(line);
        std::string name, node, majorText, minors, type;
        if (!(in >> name >> node >> majorText >> minors >> type)) {
            continue;
        }
        uint32_t driverMajor = 0;
        if (parseNumber(majorText, driverMajor) && driverMajor == major &&
            minorInRange(minors, minor)) {
            return TtyDriver{name, type};
        }
    }
    return std::nullopt;
}

PortFacts gatherPortFacts(const SystemRoot& root, const std::string& devicePath) {
    PortFacts facts;
    facts.devicePath = devicePath;
    const std::string node = root.at(devicePath);
    struct stat info {};
    if (::stat(node.c_str(), &info) != 0) {
        facts.statError = errno;
        return facts;
    }
    facts.exists = true;
    facts.isCharDevice = S_ISCHR(info.st_mode);
    facts.ownership.mode = info.st_mode & 07777;
    facts.ownership.uid = info.st_uid;
    facts.ownership.gid = info.st_gid;
    facts.ownership.acl = parsePosixAcl(readAcl(node));
    if (!facts.isCharDevice) {
        return facts;
    }
    facts.major = ::major(info.st_rdev);
    facts.minor = ::minor(info.st_rdev);
    facts.ttyDriver = ttyDriverFor(root, facts.major, facts.minor);
    const std::string name = sysfsTtyName(root, facts.major, facts.minor);
    if (name.empty()) {
        return facts;
    }
    for (SerialPortInfo& port : listSerialPorts(root.at("/sys"))) {
        if (port.name == name) {
            facts.sysfs = std::move(port);
            break;
        }
    }
    readUartFlags(root, name, facts);
    return facts;
}

}  // namespace tarnlink::doctor
