#include "cli/doctor/checks.h"

namespace tarnlink::doctor {

namespace {

std::string lowLatencyText(const PortFacts& port) {
    if (!port.uartFlagsKnown) {
        return "low latency: the driver does not report it (tarnlink asks for it on open)";
    }
    return port.lowLatency ? "low latency: set"
                           : "low latency: not set (tarnlink asks for it on open)";
}

}  // namespace

std::string latencyTimerCommand(const PortFacts& port) {
    if (!port.sysfs || port.sysfs->latencyTimerMs < 0) {
        return {};
    }
    // The usb-serial bus names the port's device after the tty; the timer lives there.
    return "echo 1 | sudo tee /sys/bus/usb-serial/devices/" + port.sysfs->name + "/latency_timer";
}

Finding checkLatency(const PortFacts& port) {
    Finding finding{port.devicePath, "latency", Status::OK, {}, {}};
    const int timer = port.sysfs ? port.sysfs->latencyTimerMs : -1;
    if (timer < 0) {
        finding.found = "no latency timer; " + lowLatencyText(port);
        return finding;
    }
    const std::string timerText = "latency timer " + std::to_string(timer) + " ms";
    if (timer <= 1) {
        finding.found = timerText + "; " + lowLatencyText(port);
        return finding;
    }
    finding.status = Status::WARN;
    finding.found = timerText + ": the adapter holds every answer up to " + std::to_string(timer) +
                    " ms, which makes a transfer several times slower (the command lasts until "
                    "it is unplugged; the udev rule sets it for good); " +
                    lowLatencyText(port);
    finding.fix = latencyTimerCommand(port);
    return finding;
}

}  // namespace tarnlink::doctor
