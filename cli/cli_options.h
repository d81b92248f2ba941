#pragma once
// The command line of tarnlink-cli: load, crypt, ports and doctor, parsed with CLI11.

#include <iosfwd>
#include <string>
#include <vector>

#include "cli/doctor_command.h"

namespace tarnlink {

enum class CliCommand { LOAD, CRYPT, PORTS, DOCTOR };

struct CliOptions {
    CliCommand command = CliCommand::PORTS;
    std::string file;      ///< load: the image; crypt: the output file
    std::string port;      ///< --port as given
    std::string portPath;  ///< what the engine opens ("\\.\COM3" or a device path)
    bool noResetVerify = false;
    bool force = false;
    bool quiet = false;
    bool json = false;
    std::string tracePath;
    DoctorOptions doctor;  ///< the doctor's own options
};

/// Returned by parseCommandLine when the command is to run.
inline constexpr int PARSE_RUN = -1;

/// Parses `args` (args[0] is the program name) into `options`. Returns PARSE_RUN, or the
/// exit status when parsing already finished the program: 0 after --help or --version
/// (written to `out`), 64 after a usage error (one line with a hint written to `err`).
int parseCommandLine(const std::vector<std::string>& args, CliOptions& options, std::ostream& out,
                     std::ostream& err);

}  // namespace tarnlink
