#include <CLI/CLI.hpp>

#include "cli/doctor/doctor_command.h"

namespace tarnlink {

CLI::App* addDoctorCommand(CLI::App& app, DoctorOptions& options) {
    CLI::App* doctor = app.add_subcommand(
        "doctor", "check the serial ports and this machine for what keeps a transfer from working");
    doctor->add_option("--port,-p", options.port, "check only this port: /dev/ttyUSB0, 3 or COM3")
        ->type_name("PORT");
    doctor->add_flag("--json", options.json, "print the findings as one JSON object on stdout");
    doctor->add_flag("--udev-rule", options.udevRule,
                     "print the udev rule for USB serial bridges and exit");
    const std::string about =
        "\ntarnlink-cli doctor checks every port (or --port PORT) and this machine: permissions,\n"
        "other programs holding the port, ModemManager, brltty, the adapter's latency timer and\n"
        "the udev rule. One line per check: ok, warn or fail, what it found, and the command\n"
        "that fixes it. Exit status 0 when no check fails, 1 otherwise.\n";
    app.footer(app.get_footer() + about);
    doctor->footer(about);
    return doctor;
}

}  // namespace tarnlink
