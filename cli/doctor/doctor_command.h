#pragma once
// `tarnlink-cli doctor`: where the platform has it (Linux), the subcommand that checks the
// machine's serial set-up; elsewhere the subcommand does not exist.

#include <string>

namespace CLI {
class App;
}

namespace tarnlink {

struct DoctorOptions {
    std::string port;       ///< --port as given; empty: every port `ports` lists
    std::string portPath;   ///< what it names ("\\.\COM3" or a device path)
    bool json = false;      ///< --json
    bool udevRule = false;  ///< --udev-rule: print the udev rule and nothing else
};

/// Adds the doctor subcommand to `app`, or returns null where the platform has none.
CLI::App* addDoctorCommand(CLI::App& app, DoctorOptions& options);

/// Runs the doctor; returns the exit status (0 when no check failed). Main thread.
int runDoctorCommand(const DoctorOptions& options);

/// One sentence that names the fix for answers that start late on `devicePath`: its latency
/// timer command where it has one, and the udev rule. Any thread.
std::string slowLineAdvice(const std::string& devicePath);

}  // namespace tarnlink
