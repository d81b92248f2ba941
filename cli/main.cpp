// tarnlink-cli: the transfer engine from a shell, for scripts, CI and production lines.

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <iostream>

#include "cli/cli_options.h"
#include "cli/frame_trace_file.h"
#include "cli/json_output.h"
#include "cli/result_report.h"
#include "cli/sysfs_ports.h"
#include "cli/transfer_runner.h"
#include "transfer/transfer_context.h"

namespace tarnlink {
namespace {

int listPorts() {
    // The sysfs root can be moved for a test against a fake tree.
    const char* root = std::getenv("TARNLINK_SYSFS_ROOT");
    std::vector<SerialPortInfo> ports;
    try {
        ports = listSerialPorts(root != nullptr ? root : "/sys");
    } catch (const std::exception& error) {
        std::fprintf(stderr, "tarnlink-cli: cannot list the serial ports: %s\n", error.what());
        return 1;
    }
    for (const SerialPortInfo& port : ports) {
        std::printf("%s\n", formatSerialPort(port).c_str());
    }
    if (ports.empty()) {
        std::fprintf(stderr, "No serial ports found\n");
    }
    return 0;
}

OutputMode outputMode(const CliOptions& options) {
    if (options.quiet) {
        return OutputMode::QUIET;
    }
    const char* term = std::getenv("TERM");
    const bool dumb = term != nullptr && std::strcmp(term, "dumb") == 0;
    return ::isatty(STDERR_FILENO) && !dumb ? OutputMode::LIVE : OutputMode::PLAIN;
}

void report(const CliOptions& options, const TransferOutcome& outcome,
            const std::string& why = {}) {
    // With --quiet and --json the JSON object is the whole output.
    if (!(options.quiet && options.json)) {
        std::vector<std::string> lines = resultLines(outcome);
        if (!why.empty()) {
            lines.push_back(why);
        }
        for (const std::string& line : lines) {
            std::fprintf(stderr, "%s\n", line.c_str());
        }
    }
    if (options.json) {
        std::printf("%s\n", transferResultJson(outcome.result, outcome.blocks, outcome.seconds,
                                               outcome.line)
                                .c_str());
    }
    std::fflush(stdout);
    std::fflush(stderr);
}

// An existing OUTPUT (a dangling symlink too) is kept unless --force says otherwise.
bool outputMayBeWritten(const CliOptions& options) {
    struct stat info {};
    return options.force || ::lstat(options.file.c_str(), &info) != 0;
}

int runTransferCommand(const CliOptions& options) {
    const TransferKind kind =
        options.command == CliCommand::LOAD ? TransferKind::LOAD : TransferKind::CRYPT;
    if (kind == TransferKind::CRYPT && !outputMayBeWritten(options)) {
        TransferOutcome refused;
        refused.result = IMAGE_FILE_ERROR;
        report(options, refused, options.file + " already exists; --force overwrites it");
        return exitStatusFor(kind, refused.result);
    }
    if (!options.tracePath.empty()) {
        const std::string title = std::string("tarnlink-cli ") +
                                  (kind == TransferKind::LOAD ? "load " : "crypt ") + options.file +
                                  " --port " + options.port;
        if (!startFrameTrace(options.tracePath, title)) {
            std::fprintf(stderr, "tarnlink-cli: cannot create trace file %s: %s\n",
                         options.tracePath.c_str(), std::strerror(errno));
            return EXIT_USAGE;
        }
    }
    const TransferOutcome outcome = runTransfer(options, outputMode(options));
    stopFrameTrace();
    report(options, outcome);
    return exitStatusFor(kind, outcome.result);
}

}  // namespace
}  // namespace tarnlink

int main(int argc, char** argv) {
    using namespace tarnlink;
    CliOptions options;
    const int parsed = parseCommandLine(std::vector<std::string>(argv, argv + argc), options,
                                        std::cout, std::cerr);
    if (parsed != PARSE_RUN) {
        return parsed;
    }
    if (options.command == CliCommand::PORTS) {
        return listPorts();
    }
    if (options.command == CliCommand::DOCTOR) {
        return runDoctorCommand(options.doctor);
    }
    return runTransferCommand(options);
}
