#include "link/port_name.h"

#include <cctype>
#include <charconv>

namespace tarnlink {

namespace {

constexpr std::string_view DEVICE_PREFIX = "\\\\.\\";

bool startsWithIgnoringCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) {
        return false;
    }
    for (size_t i = 0; i < prefix.size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(text[i])) !=
            std::toupper(static_cast<unsigned char>(prefix[i]))) {
            return false;
        }
    }
    return true;
}

// "COM..." or "\\.\COM...", valid or not: such a name is never taken for a file.
bool looksLikeComName(std::string_view name) {
    if (startsWithIgnoringCase(name, DEVICE_PREFIX)) {
        name.remove_prefix(DEVICE_PREFIX.size());
    }
    return startsWithIgnoringCase(name, "COM");
}

bool isDriveLetterPath(std::string_view name) {
    return name.size() >= 3 && std::isalpha(static_cast<unsigned char>(name[0])) &&
           name[1] == ':' && (name[2] == '\\' || name[2] == '/');
}

bool isAbsoluteDevicePath(PortNaming naming, std::string_view name) {
    if (naming == PortNaming::POSIX) {
        return !name.empty() && name.front() == '/';
    }
    return name.substr(0, 2) == "\\\\" || isDriveLetterPath(name);
}

}  // namespace

std::optional<int> comPortNumber(std::string_view name) {
    if (startsWithIgnoringCase(name, DEVICE_PREFIX)) {
        name.remove_prefix(DEVICE_PREFIX.size());
        if (!startsWithIgnoringCase(name, "COM")) {
            return std::nullopt;
        }
    }
    if (startsWithIgnoringCase(name, "COM")) {
        name.remove_prefix(3);
    }
    // from_chars takes no sign but '-', and no blanks: reject the '-' here.
    if (name.empty() || !std::isdigit(static_cast<unsigned char>(name.front()))) {
        return std::nullopt;
    }
    int number = 0;
    const auto [end, error] = std::from_chars(name.data(), name.data() + name.size(), number);
    if (error != std::errc() || end != name.data() + name.size() || number < 1) {
        return std::nullopt;
    }
    return number;
}

std::string portDevicePathFor(PortNaming naming, std::string_view name) {
    if (const std::optional<int> number = comPortNumber(name)) {
        if (naming == PortNaming::POSIX) {
            // COM1 is the first serial device, as POSIX layers on Windows number them.
            return "/dev/ttyS" + std::to_string(*number - 1);
        }
        return "\\\\.\\COM" + std::to_string(*number);
    }
    if (looksLikeComName(name)) {
        return {};
    }
    if (isAbsoluteDevicePath(naming, name)) {
        return std::string(name);
    }
    return {};
}

}  // namespace tarnlink
