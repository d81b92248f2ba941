#include "cli/doctor/checks.h"

namespace tarnlink::doctor {

namespace {

// The marks the rule leaves in a covered port's udev record.
bool ruleApplied(const UdevRecord& record) {
    const auto ignore = record.properties.find("ID_MM_DEVICE_IGNORE");
    return ignore != record.properties.end() && ignore->second == "1" &&
           record.tags.count("uaccess") != 0;
}

}  // namespace

Finding checkUdevRule(const PortFacts* port, const SystemFacts& system) {
    Finding finding{port != nullptr ? port->devicePath : "system", "udev-rule", Status::OK, {}, {}};
    const std::string usbId = port != nullptr ? port->usbId() : std::string();
    const bool covered = port == nullptr || findUsbSerialBridge(usbId) != nullptr;
    const RuleInstallation& rule = system.rule;
    if (rule.state == RuleState::MASKED) {
        finding.status = covered ? Status::WARN : Status::OK;
        finding.found =
            std::string(UDEV_RULE_NAME) + " is masked by " + rule.path + " (a link to /dev/null)";
        finding.fix = covered ? "sudo rm " + rule.path + " && " + udevRuleApplyCommand() : "";
        return finding;
    }
    if (rule.state == RuleState::MISSING) {
        if (!covered) {
            finding.found = std::string(UDEV_RULE_NAME) +
                            " is not installed; it covers only USB serial bridges, not " +
                            (usbId.empty() ? std::string("this port") : usbId);
            return finding;
        }
        finding.status = Status::WARN;
        finding.found = std::string(UDEV_RULE_NAME) +
                        " is not installed (it keeps ModemManager away, gives the user at the "
                        "seat access and sets an FTDI latency timer to 1 ms)";
        finding.fix = udevRuleInstallCommand();
        return finding;
    }
    const std::string installed = "installed as " + rule.path;
    if (port == nullptr) {
        finding.found = installed;
        return finding;
    }
    if (!covered) {
        finding.found =
            installed + "; it does not cover " + (usbId.empty() ? std::string("this port") : usbId);
        return finding;
    }
    const std::optional<UdevRecord> record = readUdevRecord(system.root, port->udevId());
    if (record && ruleApplied(*record)) {
        finding.found = installed + " and applied to this adapter";
        return finding;
    }
    finding.status = Status::WARN;
    finding.found = installed + ", but not applied to this adapter yet (it was plugged in before)";
    finding.fix = udevRuleApplyCommand();
    return finding;
}

}  // namespace tarnlink::doctor
