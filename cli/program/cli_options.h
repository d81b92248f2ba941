#pragma once
// The command line of tarnlink-cli: load, verify, crypt, ports and doctor, parsed with CLI11.

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "cli/doctor/doctor_command.h"
#include "cli/serial/serial_options.h"
#include "image/image_file.h"

namespace tarnlink {

enum class CliCommand { LOAD, VERIFY, CRYPT, PORTS, DOCTOR };

struct CliOptions {
    CliCommand command = CliCommand::PORTS;
    std::string file;  ///< load, verify: the image; crypt: the output file
    /// load, verify: how IMAGE is read (--format) and where its first byte lies (--base).
    ImageRequest image;
    /// load, verify: each board's own value written into its image (--serial-*).
    SerialRequest serial;
    /// load, verify --dry-run: how many boards to show; 0: a real run.
    size_t dryRunBoards = 0;
    std::vector<std::string> ports;  ///< every --port as given, in order
    std::string port;                ///< the port of a one-board run, as given
    std::string portPath;            ///< what the engine opens ("\\.\COM3" or a device path)
    bool noResetVerify = false;
    bool force = false;
    bool quiet = false;
    bool verbose = false;
    bool json = false;
    bool events = false;
    bool loop = false;
    double waitSeconds = -1;  ///< --wait; negative: not given
    std::string tracePath;
    std::string recordPath;
    /// Run as one board of a station: events on stdout, nothing on stderr but trouble,
    /// "cancel" or the end of stdin cancels. Not for people; hidden from --help.
    bool stationChild = false;
    DoctorOptions doctor;  ///< the doctor's own options
};

/// Returned by parseCommandLine when the command is to run.
inline constexpr int PARSE_RUN = -1;

/// The OUTPUT of a crypt that writes it to standard output.
inline constexpr const char* STANDARD_OUTPUT_NAME = "-";

/// Parses `args` (args[0] is the program name) into `options`. Returns PARSE_RUN, or the
/// exit status when parsing already finished the program: 0 after --help or --version
/// (written to `out`), 64 after a usage error (one line with a hint written to `err`).
/// With exactly one --port that names one port, `port` and `portPath` are set; which
/// ports a run uses otherwise (none given, "all", "auto", several) is for choosePorts.
int parseCommandLine(const std::vector<std::string>& args, CliOptions& options, std::ostream& out,
                     std::ostream& err);

/// Writes a usage error the way parseCommandLine does: one line with a hint. Returns 64.
int usageError(std::ostream& err, const std::string& text);

}  // namespace tarnlink
