#include "cli/doctor/udev_rule.h"

#include <filesystem>

namespace tarnlink::doctor {

namespace fs = std::filesystem;

const std::vector<UsbSerialBridge>& knownUsbSerialBridges() {
    static const std::vector<UsbSerialBridge> bridges = {
        {"0403", "6001", "FTDI", true},    {"0403", "6010", "FTDI", true},
        {"0403", "6011", "FTDI", true},    {"0403", "6014", "FTDI", true},
        {"0403", "6015", "FTDI", true},    {"10c4", "ea60", "CP210x", false},
        {"10c4", "ea70", "CP210x", false}, {"10c4", "ea71", "CP210x", false},
        {"1a86", "7523", "CH340", false},  {"1a86", "7522", "CH340", false},
        {"1a86", "5523", "CH340", false},  {"1a86", "55d4", "CH340", false},
        {"067b", "2303", "PL2303", false}, {"067b", "23a3", "PL2303", false},
        {"067b", "23c3", "PL2303", false}, {"067b", "23d3", "PL2303", false},
    };
    return bridges;
}

const UsbSerialBridge* findUsbSerialBridge(const std::string& usbId) {
    for (const UsbSerialBridge& bridge : knownUsbSerialBridges()) {
        if (bridge.vendorId + ":" + bridge.productId == usbId) {
            return &bridge;
        }
    }
    return nullptr;
}

RuleInstallation findUdevRule(const SystemRoot& root) {
    for (const char* dir : {"/etc/udev/rules.d/", "/run/udev/rules.d/", "/usr/lib/udev/rules.d/",
                            "/lib/udev/rules.d/"}) {
        const std::string path = std::string(dir) + UDEV_RULE_NAME;
        std::error_code error;
        const fs::file_status status = fs::symlink_status(root.at(path), error);
        if (error || !fs::exists(status)) {
            continue;
        }
        if (fs::is_symlink(status) && fs::read_symlink(root.at(path), error) == "/dev/null") {
            return {RuleState::MASKED, path};
        }
        return {RuleState::INSTALLED, path};
    }
    return {RuleState::MISSING, {}};
}

std::string udevRuleInstallCommand() {
    return std::string("tarnlink-cli doctor --udev-rule | sudo tee /etc/udev/rules.d/") +
           UDEV_RULE_NAME + " >/dev/null && " + udevRuleApplyCommand();
}

std::string udevRuleApplyCommand() {
    return "sudo udevadm control --reload-rules && sudo udevadm trigger --action=add "
           "--subsystem-match=tty";
}

}  // namespace tarnlink::doctor
