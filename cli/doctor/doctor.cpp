#include "cli/doctor/doctor.h"

#include <nlohmann/json.hpp>

#include <algorithm>

namespace tarnlink::doctor {

SystemFacts gatherSystemFacts(const SystemRoot& root, const std::optional<UserIdentity>& user) {
    AccountDatabase accounts(root);
    UserIdentity who = user ? *user : currentUser(accounts);
    return SystemFacts{root, std::move(accounts), std::move(who), listProcesses(root),
                       findUdevRule(root)};
}

std::vector<Finding> examinePort(const std::string& devicePath, const SystemFacts& system) {
    const PortFacts port = gatherPortFacts(system.root, devicePath);
    std::vector<Finding> findings{checkPortNode(port)};
    const bool terminal = port.exists && port.isCharDevice && port.ttyDriver;
    if (port.exists && !terminal) {
        return findings;  // not a port at all: nothing else applies
    }
    if (terminal) {
        findings.push_back(checkAccess(port, system));
        findings.push_back(checkHolders(port, system));
        findings.push_back(checkModemManager(&port, system));
    }
    // Without a node there is no adapter to judge; brltty (and a missing rule) are then
    // what may have taken it away.
    const PortFacts* adapter = terminal ? &port : nullptr;
    Finding brltty = checkBrltty(adapter, system);
    Finding rule = checkUdevRule(adapter, system);
    brltty.subject = rule.subject = devicePath;
    findings.push_back(std::move(brltty));
    if (terminal) {
        findings.push_back(checkLatency(port));
    }
    findings.push_back(std::move(rule));
    return findings;
}

std::vector<Finding> examine(const std::vector<std::string>& devicePaths,
                             const SystemFacts& system) {
    std::vector<Finding> findings;
    if (devicePaths.empty()) {
        findings.push_back({"system",
                            "ports",
                            Status::WARN,
                            "no serial ports found: is the adapter plugged in?",
                            {}});
        findings.push_back(checkModemManager(nullptr, system));
        findings.push_back(checkBrltty(nullptr, system));
        findings.push_back(checkUdevRule(nullptr, system));
        return findings;
    }
    for (const std::string& path : devicePaths) {
        std::vector<Finding> port = examinePort(path, system);
        findings.insert(findings.end(), port.begin(), port.end());
    }
    return findings;
}

namespace {

size_t countOf(const std::vector<Finding>& findings, Status status) {
    return static_cast<size_t>(
        std::count_if(findings.begin(), findings.end(),
                      [status](const Finding& f) { return f.status == status; }));
}

}  // namespace

std::string reportText(const std::vector<Finding>& findings) {
    std::string text;
    for (const Finding& f : findings) {
        std::string status = statusText(f.status);
        status.resize(4, ' ');
        text += status + "  " + f.subject + "  " + f.check + ": " + f.found;
        if (!f.fix.empty()) {
            text += "; fix: " + f.fix;
        }
        text += "\n";
    }
    const size_t failed = countOf(findings, Status::FAIL);
    const size_t warned = countOf(findings, Status::WARN);
    if (failed == 0 && warned == 0) {
        text += "No problems found.\n";
    } else {
        text += std::to_string(failed) + " failed, " + std::to_string(warned) + " to look at.\n";
    }
    return text;
}

std::string reportJson(const std::vector<Finding>& findings) {
    nlohmann::ordered_json checks = nlohmann::ordered_json::array();
    for (const Finding& f : findings) {
        checks.push_back({{"port", f.subject},
                          {"check", f.check},
                          {"status", statusText(f.status)},
                          {"found", f.found},
                          {"fix", f.fix.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(f.fix)}});
    }
    const nlohmann::ordered_json report = {{"checks", checks},
                                   {"ok", countOf(findings, Status::OK)},
                                   {"warn", countOf(findings, Status::WARN)},
                                   {"fail", countOf(findings, Status::FAIL)}};
    // Invalid UTF-8 from a file name or a process name must not abort the report.
    return report.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

int exitStatus(const std::vector<Finding>& findings) {
    return countOf(findings, Status::FAIL) == 0 ? 0 : 1;
}

}  // namespace tarnlink::doctor
