#pragma once
// Tarnlink's udev rule (60-tarnlink.rules): the USB serial bridges it covers, where udev
// looks for it, and the commands that install it and apply it to a plugged-in adapter.

#include <string>
#include <vector>

#include "cli/doctor/system_root.h"

namespace tarnlink::doctor {

inline constexpr const char* UDEV_RULE_NAME = "60-tarnlink.rules";

struct UsbSerialBridge {
    std::string vendorId;   ///< "0403", lower-case hex
    std::string productId;  ///< "6001"
    std::string family;     ///< "FTDI", "CP210x", "CH340", "PL2303"
    bool hasLatencyTimer = false;
};

/// Every bridge the rule covers.
const std::vector<UsbSerialBridge>& knownUsbSerialBridges();
/// The bridge with this "vvvv:pppp" id, or null.
const UsbSerialBridge* findUsbSerialBridge(const std::string& usbId);

/// The rule file's text, as the package installs it.
const char* udevRuleText();

enum class RuleState { MISSING, INSTALLED, MASKED };

struct RuleInstallation {
    RuleState state = RuleState::MISSING;
    std::string path;  ///< the file udev uses (or the one that masks it)
};

/// Which copy of the rule udev would read: a file of the same name in /etc/udev/rules.d
/// wins over /run/udev/rules.d, which wins over /usr/lib and /lib; a link to /dev/null masks it.
RuleInstallation findUdevRule(const SystemRoot& root);

/// Installs the rule from this program and applies it to the ports plugged in now.
std::string udevRuleInstallCommand();
/// Applies the installed rules to the ports plugged in now.
std::string udevRuleApplyCommand();

}  // namespace tarnlink::doctor
