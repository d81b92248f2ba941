// The platforms without a doctor (its checks read Linux's sysfs, /proc and udev database).
// The subcommand is still recognised, hidden from the help, so that someone who follows a
// Linux how-to hears why it does nothing here instead of a bare usage error.
#include "cli/doctor/doctor_command.h"

#include <CLI/CLI.hpp>
#include <cstdio>

namespace tarnlink {

CLI::App* addDoctorCommand(CLI::App& app, DoctorOptions&) {
    // An empty group keeps it out of --help; its options, whatever they are, are ignored.
    CLI::App* doctor = app.add_subcommand("doctor", "check this machine's serial set-up");
    doctor->group("");
    doctor->allow_extras();
    return doctor;
}

int runDoctorCommand(const DoctorOptions&) {
    std::fputs(
        "tarnlink-cli: doctor checks a Linux machine's serial set-up and is not "
        "available here; 'tarnlink-cli ports' lists the COM ports, and Device Manager "
        "shows a port's driver and settings\n",
        stderr);
    return 64;
}

std::string slowLineAdvice(const std::string&) {
    return "a USB serial adapter that holds answers back: set its latency timer to 1 ms in "
           "the port's advanced driver settings";
}

}  // namespace tarnlink
