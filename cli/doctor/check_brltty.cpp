#include "cli/doctor/brltty_rules.h"
#include "cli/doctor/checks.h"

namespace tarnlink::doctor {

namespace {

std::vector<std::string> claimedIds(const BrlttyInstallation& brltty,
                                    const std::vector<UsbSerialBridge>& bridges) {
    std::vector<std::string> ids;
    for (const UsbSerialBridge& bridge : bridges) {
        for (const std::string& line : brltty.ruleLines) {
            if (ruleLineClaims(line, bridge.vendorId, bridge.productId)) {
                ids.push_back(bridge.vendorId + ":" + bridge.productId);
                break;
            }
        }
    }
    return ids;
}

}  // namespace

Finding checkBrltty(const PortFacts* port, const SystemFacts& system) {
    Finding finding{port != nullptr ? port->devicePath : "system", "brltty", Status::OK, {}, {}};
    const BrlttyInstallation brltty = findBrltty(system.root);
    const ProcessInfo* running = findProcess(system.processes, "brltty");
    if (!brltty.installed && running == nullptr) {
        finding.found = "brltty is not installed";
        return finding;
    }
    const std::string what =
        std::string("brltty is ") + (running != nullptr ? "running" : "installed");
    std::vector<std::string> ids;
    if (port == nullptr) {
        ids = claimedIds(brltty, knownUsbSerialBridges());
    } else if (!port->usbId().empty()) {
        const std::string vid = port->sysfs->vendorId;
        const std::string pid = port->sysfs->productId;
        ids = claimedIds(brltty, {{vid, pid, {}, false}});
    }
    if (ids.empty()) {
        finding.found = what + (port != nullptr && port->usbId().empty()
                                    ? "; this port is no USB adapter it could claim"
                                    : " but its rules claim no USB serial bridge here");
        return finding;
    }
    std::string list;
    for (const std::string& id : ids) {
        list += (list.empty() ? "" : " ") + id;
    }
    finding.status = Status::WARN;
    finding.found = what + " and its udev rules claim " + list +
                    ": it may take the adapter as it is plugged in, and the port vanishes "
                    "(remove it unless you use a braille display)";
    finding.fix = "sudo apt remove brltty";
    return finding;
}

}  // namespace tarnlink::doctor
