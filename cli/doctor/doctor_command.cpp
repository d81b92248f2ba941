#include <cstdio>

#include "cli/doctor/doctor.h"
#include "cli/doctor/doctor_command.h"
#include "cli/ports/sysfs_ports.h"
#include "link/serial_link.h"

namespace tarnlink {

int runDoctorCommand(const DoctorOptions& options) {
    if (options.udevRule) {
        std::fputs(doctor::udevRuleText(), stdout);
        return 0;
    }
    const doctor::SystemRoot root = doctor::systemRootFromEnvironment();
    std::vector<std::string> devicePaths;
    if (!options.port.empty()) {
        devicePaths.push_back(serialPortDevicePath(options.portPath));
    } else {
        for (const SerialPortInfo& port : listSerialPorts(root.at("/sys"))) {
            devicePaths.push_back(port.devicePath);
        }
    }
    const doctor::SystemFacts system = doctor::gatherSystemFacts(root);
    const std::vector<doctor::Finding> findings = doctor::examine(devicePaths, system);
    if (options.json) {
        std::printf("%s\n", doctor::reportJson(findings).c_str());
    } else {
        std::fputs(doctor::reportText(findings).c_str(), stdout);
    }
    return doctor::exitStatus(findings);
}

std::string slowLineAdvice(const std::string& devicePath) {
    const doctor::SystemRoot root = doctor::systemRootFromEnvironment();
    const doctor::PortFacts port = doctor::gatherPortFacts(root, devicePath);
    const int timer = port.sysfs ? port.sysfs->latencyTimerMs : -1;
    if (timer > 1) {
        std::string advice = "the adapter's latency timer (" + std::to_string(timer) +
                             " ms); fix: " + doctor::latencyTimerCommand(port);
        const doctor::RuleInstallation rule = doctor::findUdevRule(root);
        if (rule.state != doctor::RuleState::INSTALLED) {
            advice += ", and for good: " + doctor::udevRuleInstallCommand();
        } else {
            advice += " (" + rule.path + " sets it when the adapter is plugged in again)";
        }
        return advice;
    }
    // No timer to blame (none, or already 1 ms): let the doctor look at the whole set-up.
    return "a USB serial adapter or driver that holds answers back; run: tarnlink-cli doctor "
           "--port " +
           devicePath;
}

}  // namespace tarnlink
