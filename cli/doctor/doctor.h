#pragma once
// The doctor: gathers what the machine says about its serial ports once, runs every check
// on each port, and writes the findings as lines or as one JSON object.

#include <optional>
#include <string>
#include <vector>

#include "cli/doctor/checks.h"

namespace tarnlink::doctor {

/// Processes, accounts and the rule's installation under `root`; `user` defaults to the
/// user who runs this process.
SystemFacts gatherSystemFacts(const SystemRoot& root,
                              const std::optional<UserIdentity>& user = std::nullopt);

/// Every check of one port, in a fixed order; the checks that need the device node are
/// left out when there is none.
std::vector<Finding> examinePort(const std::string& devicePath, const SystemFacts& system);

/// Every port in `devicePaths`; with none, the checks that concern the machine as a whole
/// and a warning that no port was found.
std::vector<Finding> examine(const std::vector<std::string>& devicePaths,
                             const SystemFacts& system);

/// One line per finding ("warn  /dev/ttyUSB0  latency: ...; fix: ..."), then a summary.
std::string reportText(const std::vector<Finding>& findings);
/// {"checks": [{"port", "check", "status", "found", "fix"}], "ok": n, "warn": n, "fail": n}
std::string reportJson(const std::vector<Finding>& findings);
/// 0 when nothing failed, 1 otherwise.
int exitStatus(const std::vector<Finding>& findings);

}  // namespace tarnlink::doctor
