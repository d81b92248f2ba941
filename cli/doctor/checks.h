#pragma once
// The doctor's checks, one concern each. Every check reads only what it is given; the
// gathering (sysfs, /proc, udev data, accounts) happens once, before.

#include <string>
#include <vector>

#include "cli/doctor/accounts.h"
#include "cli/doctor/finding.h"
#include "cli/doctor/port_facts.h"
#include "cli/doctor/process_table.h"
#include "cli/doctor/udev_database.h"
#include "cli/doctor/udev_rule.h"

namespace tarnlink::doctor {

/// Everything the checks look at besides the port itself.
struct SystemFacts {
    SystemRoot root;
    AccountDatabase accounts;
    UserIdentity user;
    std::vector<ProcessInfo> processes;
    RuleInstallation rule;
};

/// The node exists and is a terminal device.
Finding checkPortNode(const PortFacts& port);
/// The user may open it for reading and writing. Only for an existing terminal.
Finding checkAccess(const PortFacts& port, const SystemFacts& system);
/// No other process has it open. Only for an existing terminal.
Finding checkHolders(const PortFacts& port, const SystemFacts& system);
/// ModemManager, if it runs, leaves the port alone. Without a port: whether it runs at all.
Finding checkModemManager(const PortFacts* port, const SystemFacts& system);
/// brltty, if installed or running, does not claim the adapter (without a port: any bridge).
Finding checkBrltty(const PortFacts* port, const SystemFacts& system);
/// The adapter's latency timer and the driver's low-latency flag.
Finding checkLatency(const PortFacts& port);
/// Tarnlink's udev rule is installed and, for a bridge it covers, applied.
Finding checkUdevRule(const PortFacts* port, const SystemFacts& system);

/// The command that sets this port's latency timer to 1 ms until it is unplugged; empty
/// for a port without a latency timer.
std::string latencyTimerCommand(const PortFacts& port);

}  // namespace tarnlink::doctor
