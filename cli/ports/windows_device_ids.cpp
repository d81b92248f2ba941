#include "cli/ports/windows_device_ids.h"

#include <algorithm>
#include <cctype>

namespace tarnlink {

namespace {

std::string upper(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return text;
}

// The four hex digits after `key` ("VID_") where it starts a part of the id.
std::string hexAfter(const std::string& id, const std::string& key) {
    const std::string text = upper(id);
    for (size_t at = text.find(key); at != std::string::npos; at = text.find(key, at + 1)) {
        const bool startsPart =
            at == 0 || text[at - 1] == '\\' || text[at - 1] == '&' || text[at - 1] == '+';
        if (!startsPart || at + key.size() + 4 > text.size()) {
            continue;
        }
        std::string digits = id.substr(at + key.size(), 4);
        bool hex = true;
        for (char& c : digits) {
            hex = hex && std::isxdigit(static_cast<unsigned char>(c));
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
        if (hex) {
            return digits;
        }
    }
    return {};
}

}  // namespace

UsbIds usbIdsFromHardwareIds(const std::vector<std::string>& hardwareIds) {
    for (const std::string& id : hardwareIds) {
        UsbIds ids{hexAfter(id, "VID_"), hexAfter(id, "PID_")};
        if (!ids.vendorId.empty() && !ids.productId.empty()) {
            return ids;
        }
    }
    return {};
}

std::string usbSerialFromInstanceId(const std::string& instanceId) {
    if (upper(instanceId.substr(0, 4)) != "USB\\") {
        return {};
    }
    const size_t last = instanceId.rfind('\\');
    const std::string serial = instanceId.substr(last + 1);
    // The middle part must be the device's ids alone, not an interface of it (MI_00).
    const std::string ids = upper(instanceId.substr(4, last - std::min(last, size_t{4})));
    if (last <= 4 || serial.empty() || serial.find('&') != std::string::npos ||
        ids.find("MI_") != std::string::npos) {
        return {};
    }
    return serial;
}

}  // namespace tarnlink
