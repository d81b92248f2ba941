#include "cli/doctor/checks.h"

namespace tarnlink::doctor {

namespace {

constexpr const char* IGNORE_PROPERTY = "ID_MM_DEVICE_IGNORE";

// The rule sets the property for the bridges it knows; for any other adapter the only
// sure way is to stop ModemManager while flashing.
std::string ignoreFix(const PortFacts* port, const SystemFacts& system) {
    if (port != nullptr && findUsbSerialBridge(port->usbId()) == nullptr) {
        return "sudo systemctl stop ModemManager";
    }
    return system.rule.state == RuleState::INSTALLED ? udevRuleApplyCommand()
                                                     : udevRuleInstallCommand();
}

}  // namespace

Finding checkModemManager(const PortFacts* port, const SystemFacts& system) {
    Finding finding{
        port != nullptr ? port->devicePath : "system", "modem-manager", Status::OK, {}, {}};
    const ProcessInfo* manager = findProcess(system.processes, "ModemManager");
    if (manager == nullptr) {
        finding.found = "ModemManager is not running";
        return finding;
    }
    const std::string running =
        "ModemManager is running (pid " + std::to_string(manager->pid) + ")";
    if (port == nullptr) {
        if (system.rule.state == RuleState::INSTALLED) {
            finding.found = running + "; the udev rule keeps it away from the bridges it covers";
        } else {
            finding.status = Status::WARN;
            finding.found = running + " and may probe every new USB serial adapter";
            finding.fix = udevRuleInstallCommand();
        }
        return finding;
    }
    const std::optional<UdevRecord> record = readUdevRecord(system.root, port->udevId());
    if (!record) {
        finding.found = running + ", but udev has no record of this port, so it does not see it";
        return finding;
    }
    const auto ignore = record->properties.find(IGNORE_PROPERTY);
    if (ignore != record->properties.end() && ignore->second == "1") {
        finding.found = running + " and leaves this port alone (" + IGNORE_PROPERTY + "=1)";
        return finding;
    }
    finding.status = Status::WARN;
    finding.found = running +
                    " and may probe this port with AT commands when it appears, "
                    "spoiling the start of a transfer (no " +
                    std::string(IGNORE_PROPERTY) + "=1 in its udev record)";
    finding.fix = ignoreFix(port, system);
    return finding;
}

}  // namespace tarnlink::doctor
