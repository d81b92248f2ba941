#include <algorithm>

#include "cli/doctor/checks.h"

namespace tarnlink::doctor {

namespace {

// ModemManager would only be started again by its service; the others end with a signal.
std::string stopCommand(const ProcessInfo& holder, const UserIdentity& user) {
    if (holder.name == "ModemManager") {
        return "sudo systemctl stop ModemManager";
    }
    const bool ours = user.uid == 0 || holder.uid == user.uid;
    return std::string(ours ? "" : "sudo ") + "kill " + std::to_string(holder.pid);
}

constexpr uint32_t PTY_SLAVE_MAJOR = 136;

// A pseudo-terminal's master is its far end (a simulator, a terminal emulator): the
// process there is the line, not a rival for it.
bool holdsFarEnd(const ProcessInfo& process, const PortFacts& port) {
    return port.major == PTY_SLAVE_MAJOR &&
           std::find(process.ptyMasters.begin(), process.ptyMasters.end(), port.minor) !=
               process.ptyMasters.end();
}

}  // namespace

Finding checkHolders(const PortFacts& port, const SystemFacts& system) {
    Finding finding{port.devicePath, "holder", Status::OK, {}, {}};
    const DeviceNumber device{port.major, port.minor};
    std::vector<const ProcessInfo*> holders;
    const ProcessInfo* farEnd = nullptr;
    int hidden = 0;
    for (const ProcessInfo& process : system.processes) {
        if (!process.filesVisible) {
            ++hidden;
        } else if (holdsFarEnd(process, port)) {
            farEnd = &process;
        } else if (std::find(process.devices.begin(), process.devices.end(), device) !=
                   process.devices.end()) {
            holders.push_back(&process);
        }
    }
    if (holders.empty()) {
        finding.found = "no process has it open";
        if (farEnd != nullptr) {
            finding.found +=
                "; its other end is " + farEnd->name + " (pid " + std::to_string(farEnd->pid) + ")";
        }
        if (hidden > 0) {
            finding.found += " (the open files of " + std::to_string(hidden) +
                             " processes of other users are hidden from you; sudo "
                             "tarnlink-cli doctor sees them)";
        }
        return finding;
    }
    finding.status = Status::FAIL;
    finding.found = "held open by ";
    for (size_t i = 0; i < holders.size(); ++i) {
        finding.found += (i > 0 ? ", " : "") + holders[i]->name + " (pid " +
                         std::to_string(holders[i]->pid) + ")";
        const std::string command = stopCommand(*holders[i], system.user);
        if (finding.fix.find(command) == std::string::npos) {
            finding.fix += (finding.fix.empty() ? "" : "; ") + command;
        }
    }
    finding.found += ": a transfer needs the port to itself";
    return finding;
}

}  // namespace tarnlink::doctor
