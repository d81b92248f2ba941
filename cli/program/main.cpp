// tarnlink-cli: the transfer engine from a shell, for scripts, CI and production lines.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <sstream>
#include <thread>

#include "cli/ports/port_name.h"
#include "cli/ports/serial_ports.h"
#include "cli/program/cli_options.h"
#include "cli/program/dry_run.h"
#include "cli/program/image_input.h"
#include "cli/program/station_command.h"
#include "cli/program/transfer_runner.h"
#include "cli/report/record_file.h"
#include "cli/report/transfer_events.h"
#include "cli/serial/serial_plan.h"
#include "cli/station/station_plan.h"
#include "cli/system/locked_file.h"
#include "cli/system/program_arguments.h"
#include "cli/system/terminal.h"
#include "transfer/transfer_context.h"

namespace tarnlink {
namespace {

int listPorts(bool json) {
    std::vector<SerialPortInfo> ports;
    try {
        ports = availableSerialPorts();
    } catch (const std::exception& error) {
        writeText(stderr, std::string("tarnlink-cli: cannot list the serial ports: ") +
                              error.what() + "\n");
        return 1;
    }
    if (json) {
        nlohmann::ordered_json list = nlohmann::ordered_json::array();
        for (const SerialPortInfo& port : ports) {
            list.push_back(serialPortJson(port));
        }
        writeText(stdout, eventLine(list));
        return 0;
    }
    for (const SerialPortInfo& port : ports) {
        writeText(stdout, formatSerialPort(port) + "\n");
    }
    if (ports.empty()) {
        std::fprintf(stderr, "No serial ports found\n");
    }
    return 0;
}

// "all" and "auto" with --wait: the adapters may be plugged in after the start.
PortChoice choosePortsWaiting(const CliOptions& options, const std::string& environmentPort) {
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                              std::chrono::duration<double>(std::max(options.waitSeconds, 0.0)));
    const std::string first = options.ports.empty() ? environmentPort : options.ports[0];
    const bool special = first == "all" || first == "auto";
    for (;;) {
        // Only "all" and "auto" need the machine's list of ports.
        PortChoice choice = choosePorts(
            options.ports, environmentPort,
            special ? availableSerialPorts() : std::vector<SerialPortInfo>{}, options.loop);
        if (choice.error.empty() || choice.usageError || !special || options.waitSeconds < 0 ||
            std::chrono::steady_clock::now() >= deadline) {
            return choice;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
}

// The usage error's lines, written as every text of the program is (names in any script).
int reportUsageError(const std::string& text) {
    std::ostringstream err;
    const int status = usageError(err, text);
    writeText(stderr, err.str());
    return status;
}

// Before the first board: a counter is made (--serial-start) or checked, and a value is
// known to fit where it goes, so that no board burns a value that cannot be placed.
std::string prepareSerials(const CliOptions& options, const ImageInput& image) {
    if (!options.serial.at || options.stationChild) {
        return "";
    }
    if (std::string problem = prepareSerialSource(options.serial.source); !problem.empty()) {
        return problem;
    }
    const std::vector<SerialPlanRow> first =
        planSerials(options.serial.source, image.loaded.flat, *options.serial.at, 1);
    // A value that cannot be had (a list used up) stops each board on its own; one that
    // cannot be placed would stop every board.
    return first.front().value.empty() ? "" : first.front().error;
}

int runTransferCommand(CliOptions options) {
    if (options.dryRunBoards > 0) {
        const ImageInput image = readImageInput(options);
        if (!image.loaded.ok()) {
            return reportWithoutBoard(options, imageFailureResult(image.loaded),
                                      image.loaded.error, &image);
        }
        return showDryRun(options, image);
    }
    if (!options.recordPath.empty()) {
        // Found out before any board is touched: a record that cannot be written is a
        // production line that cannot account for its boards.
        std::string error;
        if (!appendWithHeader(options.recordPath, recordHeader(), "", &error)) {
            return reportUsageError("cannot open the record " + options.recordPath + ": " + error);
        }
    }
    // The image is read whole before any port is touched, so a file that is no image never
    // reaches a board. A one-time source (a pipe, standard input) is read only once it is
    // known to feed one board; a station refuses it.
    const bool sendsImage = options.command != CliCommand::CRYPT;
    const bool oneTimeSource = sendsImage && isOneTimeSource(options.file);
    std::optional<ImageInput> image;
    if (sendsImage && !oneTimeSource) {
        image = readImageInput(options);
        if (!image->loaded.ok()) {
            return reportWithoutBoard(options, imageFailureResult(image->loaded),
                                      image->loaded.error, &*image);
        }
    }
    const char* environmentPort = std::getenv("TARNLINK_PORT");
    const PortChoice choice =
        choosePortsWaiting(options, environmentPort != nullptr ? environmentPort : "");
    if (!choice.error.empty()) {
        if (choice.usageError) {
            return reportUsageError(choice.error);
        }
        return reportWithoutBoard(options, SERIALPORT_ERROR, choice.error,
                                  image ? &*image : nullptr);
    }
    const bool station = choice.station && !options.stationChild;
    if (station && oneTimeSource) {
        return reportUsageError(imageDisplayName(options.file) +
                                " can be read only once, and every board of a station reads "
                                "the image: give a regular file");
    }
    if (sendsImage && oneTimeSource) {
        image = readImageInput(options);
        if (!image->loaded.ok()) {
            return reportWithoutBoard(options, imageFailureResult(image->loaded),
                                      image->loaded.error, &*image);
        }
    }
    if (image) {
        if (const std::string problem = prepareSerials(options, *image); !problem.empty()) {
            return reportUsageError(problem);
        }
    }
    if (station) {
        return runStation(options, choice.ports, image ? &*image : nullptr);
    }
    options.port = choice.ports.front();
    options.portPath = portPathFromArgument(options.port);
    return runOneBoard(options, image ? &*image : nullptr);
}

}  // namespace
}  // namespace tarnlink

int main(int argc, char** argv) {
    using namespace tarnlink;
    CliOptions options;
    std::ostringstream out;
    std::ostringstream err;
    const int parsed = parseCommandLine(programArguments(argc, argv), options, out, err);
    writeText(stdout, out.str());
    writeText(stderr, err.str());
    if (parsed != PARSE_RUN) {
        return parsed;
    }
    if (options.command == CliCommand::PORTS) {
        return listPorts(options.json);
    }
    if (options.command == CliCommand::DOCTOR) {
        return runDoctorCommand(options.doctor);
    }
    return runTransferCommand(options);
}
