#include "cli/program/cli_options.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <ostream>

#include "cli/ports/port_name.h"
#include "cli/ports/serial_ports.h"
#include "cli/report/result_report.h"

namespace tarnlink {

namespace {

constexpr const char* PROGRAM = "tarnlink-cli";

// {PORT}, {PORT2}, {NAME}, {FORMS} and {SHORT_FORMS} stand for this platform's port names.
constexpr const char* EXAMPLES = R"(
Examples:
  tarnlink-cli load firmware.bin --port {PORT}
  tarnlink-cli load firmware.hex --port {PORT}
  tarnlink-cli load firmware.s19 --port {PORT} --base 0x08000000
  tarnlink-cli verify firmware.elf --port {PORT} --json
  tarnlink-cli load firmware.bin --port 3 --no-reset-verify --trace flash.trace
  tarnlink-cli crypt crypt.bin --port {PORT} --force --json
  tarnlink-cli load firmware.bin --port {PORT} --port {PORT2} --record line1.csv
  tarnlink-cli load firmware.bin --port all --loop --record line1.csv --events
  tarnlink-cli load fw.hex --port all --loop --serial-at 0x7F00 --serial-format ascii:6 --serial-counter next.txt
  tarnlink-cli ports --json

IMAGE is a raw binary, Intel HEX, S-record or ELF file, told by its extension (.hex .ihx
.ihex; .srec .s19 .s28 .s37 .mot; .elf .axf .out; any other: raw) and checked by its
content, or as --format says; "-" reads it from the standard input (one board only). The
flash gets one flat image: its first byte is at --base (default 0), gaps between records
are 0xFF, it ends at the highest address written. A record below the base or more than
262,140 bytes above it is refused, as is a file far from 0 without --base.
PORT is {FORMS}; "auto" takes the only USB
serial port, "all" every USB serial port. Without --port, $TARNLINK_PORT is used.
Several ports make a station: one tarnlink-cli per board, all at once; crypt then writes
OUTPUT with the port's name before its extension (crypt-{NAME}.bin).
Exit status: 0 when a load or verify ends with SUCCESS or a crypt with CRYPT_UPLOADED, 64
for a usage error, otherwise the result's number (3 BAD_IMAGE_FILE, 6 TARGET_TIMEOUT,
7 VERIFY_FAILED: a block differs, 8 DOWNLOAD_CANCELED, 10 SERIALPORT_ERROR, ...); a station
exits with that of the first failing board in --port order. Ctrl-C cancels (every board); a second Ctrl-C quits at once.
)";

std::string withPortNames(std::string text) {
    const PortNameExamples& examples = portNameExamples();
    for (const auto& [key, value] : {std::pair{"{PORT}", examples.first},
                                     {"{PORT2}", examples.second},
                                     {"{NAME}", examples.deviceName},
                                     {"{FORMS}", examples.forms},
                                     {"{SHORT_FORMS}", examples.shortForms}}) {
        for (size_t at = text.find(key); at != std::string::npos; at = text.find(key, at)) {
            text.replace(at, std::string(key).size(), value);
        }
    }
    return text;
}

void addTransferOptions(CLI::App& command, CliOptions& options) {
    command
        .add_option("--port,-p", options.ports,
                    withPortNames("serial port: {SHORT_FORMS}, auto or all; repeat it for a "
                                  "station (default: $TARNLINK_PORT)"))
        ->type_name("PORT")
        ->allow_extra_args(false);
    command.add_flag("--quiet,-q", options.quiet, "print only the result");
    command.add_flag("--verbose,-v", options.verbose, "print every status text");
    command.add_flag("--json", options.json,
                     "print the result as one JSON object per board on stdout");
    command.add_flag("--events", options.events,
                     "print every status, progress and result as JSON Lines on stdout");
    command
        .add_option("--record", options.recordPath,
                    "append one CSV line per board to FILE (time, port, USB serial, command, "
                    "file, SHA-256, result, seconds, retries, format, image SHA-256, base, serial)")
        ->type_name("FILE");
    command
        .add_option("--wait", options.waitSeconds,
                    "wait up to SECONDS for each port to appear before starting its board")
        ->type_name("SECONDS")
        ->check(CLI::NonNegativeNumber);
    command.add_flag("--loop", options.loop,
                     "after each board, wait for its port to go and come back, then flash the "
                     "next; Ctrl-C ends");
    command
        .add_option("--trace", options.tracePath,
                    "write every frame sent and received to FILE (timestamp, hex)")
        ->type_name("FILE");
    command.add_flag("--station-child", options.stationChild)->group("");
}

// What load and verify share: IMAGE, --format, --base, --no-reset-verify, each board's
// own value and the dry run.
struct ImageArguments {
    std::string format = "auto";
    std::string base;
    SerialArguments serial;
    std::string dryRun;
};

void addImageOptions(CLI::App& command, CliOptions& options, ImageArguments& arguments) {
    std::string& format = arguments.format;
    std::string& base = arguments.base;
    command.add_option("IMAGE", options.file, "firmware file, or - for the standard input")
        ->required();
    command
        .add_option("--format", format,
                    "how IMAGE is read: auto (by its extension and content), bin (raw, "
                    "nothing interpreted), ihex, srec or elf (default: auto)")
        ->type_name("FORMAT")
        ->check(CLI::IsMember({"auto", "bin", "ihex", "srec", "elf"}));
    command
        .add_option("--base", base,
                    "flash address of the image's first byte, hex (0x08000000) or decimal "
                    "(default: 0)")
        ->type_name("ADDR");
    addTransferOptions(command, options);
    command.add_flag("--no-reset-verify", options.noResetVerify,
                     "leave the first 3 bytes of block 0 out of the verify (8051 reset vector)");
    addSerialOptions(command, arguments.serial);
    command
        .add_option("--dry-run", arguments.dryRun,
                    "open no port: show the value and image SHA-256 each of the next N boards "
                    "would get, taking nothing (N: the number of ports, at least 1)")
        ->type_name("[N]")
        ->expected(0, 1);
}

// --dry-run's count: as given, or one for each port named.
std::optional<size_t> dryRunBoards(const CLI::App& command, const ImageArguments& arguments,
                                   const CliOptions& options) {
    if (command.count("--dry-run") == 0) {
        return 0;
    }
    if (arguments.dryRun.empty()) {
        return std::max<size_t>(options.ports.size(), 1);
    }
    const std::optional<uint64_t> count = parseAddress(arguments.dryRun);
    if (!count || *count == 0 || *count > 100000) {
        return std::nullopt;
    }
    return static_cast<size_t>(*count);
}

int checkDoctorPort(DoctorOptions& doctor, std::ostream& err) {
    if (doctor.port.empty()) {
        return PARSE_RUN;
    }
    doctor.portPath = portPathFromArgument(doctor.port);
    if (doctor.portPath.empty()) {
        err << PROGRAM << ": --port '" << doctor.port << "' names no port (see '" << PROGRAM
            << " --help')\n";
        return EXIT_USAGE;
    }
    return PARSE_RUN;
}

}  // namespace

int usageError(std::ostream& err, const std::string& text) {
    err << PROGRAM << ": " << text << " (see '" << PROGRAM << " --help')\n";
    return EXIT_USAGE;
}

int parseCommandLine(const std::vector<std::string>& args, CliOptions& options, std::ostream& out,
                     std::ostream& err) {
    CLI::App app{
        "Download an image to a target's boot loader over a serial port, or read "
        "its encrypted image back; one board or a station of many.",
        PROGRAM};
    app.set_help_flag();
    app.set_help_all_flag("--help,-h", "show every command and option, then exit");
    app.set_version_flag("--version,-V", std::string(PROGRAM) + " " + TARNLINK_VERSION,
                         "print the version and exit");
    app.require_subcommand(1);
    // On Windows CLI11 would read "/firmware/app.bin" as an option "/firmware"; a path may
    // begin with a slash there too (MSYS2, Git Bash). Set before the commands inherit it.
    app.allow_windows_style_options(false);
    app.footer(withPortNames(EXAMPLES));

    ImageArguments imageArguments;
    const std::string& format = imageArguments.format;
    const std::string& base = imageArguments.base;
    CLI::App* load = app.add_subcommand("load", "download IMAGE, verify it and enable it");
    addImageOptions(*load, options, imageArguments);
    CLI::App* verify = app.add_subcommand(
        "verify", "compare the target's flash with IMAGE, writing and enabling nothing");
    addImageOptions(*verify, options, imageArguments);

    CLI::App* crypt = app.add_subcommand("crypt", "read the target's encrypted image into OUTPUT");
    crypt
        ->add_option("OUTPUT", options.file,
                     "file to write the crypt to; - writes it to standard output")
        ->required();
    addTransferOptions(*crypt, options);
    crypt->add_flag("--force,-f", options.force, "overwrite OUTPUT when it exists");

    CLI::App* ports = app.add_subcommand("ports", "list the serial ports of this machine");
    ports->add_flag("--json", options.json, "print them as one JSON array");
    CLI::App* doctor = addDoctorCommand(app, options.doctor);

    std::vector<std::string> reversed(args.rbegin(), args.rend());
    if (!reversed.empty()) {
        reversed.pop_back();  // the program name
    }
    try {
        app.parse(reversed);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e, out, err);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e, out, err);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e, out, err);
    } catch (const CLI::ParseError& e) {
        return usageError(err, e.what());
    }

    if (load->parsed()) {
        options.command = CliCommand::LOAD;
    } else if (verify->parsed()) {
        options.command = CliCommand::VERIFY;
    } else if (crypt->parsed()) {
        options.command = CliCommand::CRYPT;
    } else if (doctor != nullptr && doctor->parsed()) {
        options.command = CliCommand::DOCTOR;
        return checkDoctorPort(options.doctor, err);
    } else {
        options.command = CliCommand::PORTS;
        return PARSE_RUN;
    }
    for (const std::string& port : options.ports) {
        const bool special = port == "all" || port == "auto";
        if (special && options.ports.size() > 1) {
            return usageError(err, "--port " + port +
                                       " stands alone; it cannot be combined "
                                       "with other ports");
        }
        if (!special && portPathFromArgument(port).empty()) {
            return usageError(err, "--port '" + port +
                                       "' names no port; give a device path, a COM number "
                                       "from 1, or COMn");
        }
    }
    if (options.ports.size() == 1 && options.ports[0] != "all" && options.ports[0] != "auto") {
        options.port = options.ports[0];
        options.portPath = portPathFromArgument(options.port);
    }
    if (options.file.empty()) {
        return usageError(err, "the file name is empty");
    }
    options.image.format = imageFormatFromName(format).value_or(ImageFormat::AUTO);
    if (!base.empty()) {
        options.image.base = parseAddress(base);
        if (!options.image.base) {
            return usageError(err, "--base '" + base +
                                       "' is no address; give hex digits after 0x "
                                       "(0x08000000) or a decimal number");
        }
    }
    if (options.command != CliCommand::CRYPT) {
        const CLI::App& command = options.command == CliCommand::LOAD ? *load : *verify;
        const std::string problem = serialRequestFrom(
            imageArguments.serial, options.command == CliCommand::VERIFY, options.serial);
        if (!problem.empty()) {
            return usageError(err, problem);
        }
        const std::optional<size_t> boards = dryRunBoards(command, imageArguments, options);
        if (!boards) {
            return usageError(err, "--dry-run '" + imageArguments.dryRun +
                                       "' is no number of boards from 1 to 100000");
        }
        options.dryRunBoards = *boards;
    }
    if (options.command == CliCommand::CRYPT && options.file == STANDARD_OUTPUT_NAME) {
        if (options.port.empty() || options.loop) {
            return usageError(err,
                              "crypt - writes one board's crypt to standard output; a "
                              "station or --loop needs an OUTPUT file name");
        }
        if (options.json || options.events) {
            return usageError(err,
                              "crypt - gives standard output to the crypt; --json and "
                              "--events need it too (--record writes the report to a file)");
        }
    }
    return PARSE_RUN;
}

}  // namespace tarnlink
