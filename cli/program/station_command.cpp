#include "cli/program/station_command.h"

#include <atomic>
#include <cstdio>
#include <filesystem>

#include "cli/ports/port_name.h"
#include "cli/ports/serial_ports.h"
#include "cli/process/child_process.h"
#include "cli/process/stop_requests.h"
#include "cli/program/transfer_runner.h"
#include "cli/station/station.h"
#include "cli/station/station_console.h"
#include "cli/station/station_plan.h"
#include "cli/system/terminal.h"
#include "link/serial_link.h"
#include "platform/utf8_path.h"
#include "transfer/transfer_context.h"

namespace tarnlink {

namespace {

constexpr std::chrono::milliseconds LIVE_REDRAW{200};

// The file a board's transfer `number` writes: OUTPUT (or the trace) with the port's name,
// and with --loop the board's number, the first one not taken unless --force allows it.
class BoardFiles {
  public:
    BoardFiles(const CliOptions& options, std::vector<std::string> tags)
        : m_options(options), m_tags(std::move(tags)), m_next(m_tags.size(), 1) {}

    std::string output(size_t board, unsigned number) {
        if (!m_options.loop) {
            return boardFilePath(m_options.file, m_tags[board], 0);
        }
        unsigned n = std::max(number, m_next[board]);
        std::error_code error;
        while (!m_options.force &&
               std::filesystem::exists(std::filesystem::symlink_status(
                   pathFromUtf8(boardFilePath(m_options.file, m_tags[board], n)), error))) {
            ++n;
        }
        m_next[board] = n + 1;
        return boardFilePath(m_options.file, m_tags[board], n);
    }

    std::string trace(size_t board, unsigned number) const {
        return boardFilePath(m_options.tracePath, m_tags[board], m_options.loop ? number : 0);
    }

  private:
    const CliOptions& m_options;
    std::vector<std::string> m_tags;
    std::vector<unsigned> m_next;
};

}  // namespace

int runStation(const CliOptions& options, const std::vector<std::string>& ports,
               const ImageInput* image) {
    const TransferKind kind = transferKindOf(options);
    const std::string program = currentExecutablePath();
    if (program.empty()) {
        std::fprintf(stderr, "tarnlink-cli: cannot find this program's own file to run a board\n");
        return GENERAL_FAILURE;
    }
    StationSettings settings;
    settings.kind = kind;
    settings.loop = options.loop;
    settings.waitSeconds = options.waitSeconds;
    std::vector<std::string> devicePaths;
    for (const std::string& port : ports) {
        devicePaths.push_back(serialPortDevicePath(portPathFromArgument(port)));
        settings.boards.push_back({port, devicePaths.back()});
    }
    const std::vector<std::string> tags = portFileTags(ports);
    BoardFiles files(options, tags);
    std::vector<std::string> lastFile(ports.size());
    settings.childCommand = [&](size_t board, unsigned number) {
        const std::string file =
            kind == TransferKind::CRYPT ? files.output(board, number) : options.file;
        lastFile[board] = file;
        std::vector<std::string> args{program,  transferKindName(kind), file,
                                      "--port", ports[board],           "--station-child"};
        if (kind != TransferKind::CRYPT) {
            args.push_back("--format");
            args.push_back(imageFormatName(options.image.format));
        }
        if (options.image.base) {
            args.push_back("--base");
            args.push_back(hexAddress(*options.image.base));
        }
        const std::vector<std::string> serial = serialChildArguments(options.serial);
        args.insert(args.end(), serial.begin(), serial.end());
        if (options.events || options.verbose) {
            args.push_back("--events");
        }
        if (options.noResetVerify) {
            args.push_back("--no-reset-verify");
        }
        if (options.force) {
            args.push_back("--force");
        }
        if (!options.tracePath.empty()) {
            args.push_back("--trace");
            args.push_back(files.trace(board, number));
        }
        return args;
    };
    settings.reportBase = [&](size_t board, unsigned) {
        TransferReport report;
        report.kind = kind;
        report.port = ports[board];
        report.file = kind != TransferKind::CRYPT ? options.file
                      : lastFile[board].empty()   ? boardFilePath(options.file, tags[board], 0)
                                                  : lastFile[board];
        if (image != nullptr) {
            describeImage(*image, report);
        }
        // Looked up now: with --wait or --loop the adapter may have come since the start.
        if (const std::optional<SerialPortInfo> info = findSerialPort(devicePaths[board])) {
            report.usbSerial = info->serialNumber;
        }
        return report;
    };

    StationConsoleSettings view;
    view.kind = kind;
    view.ports = ports;
    view.mode = options.quiet                   ? OutputMode::QUIET
                : isInteractiveTerminal(stderr) ? OutputMode::LIVE
                                                : OutputMode::PLAIN;
    view.verbose = options.verbose;
    view.json = options.json;
    view.events = options.events;
    view.loop = options.loop;
    view.quietJson = options.quiet && (options.json || options.events);
    view.recordPath = options.recordPath;
    if (view.mode == OutputMode::LIVE) {
        settings.tick = LIVE_REDRAW;
    }
    StationConsole console(view);
    Station station(std::move(settings), console);

    std::atomic<int> interrupts{0};
    StopWatcher watcher(
        [&](StopRequest request) {
            if (interrupts.fetch_add(1) >= 1) {
                station.killAll();
                quitAtOnce(request, "\nInterrupted again: killing every board and quitting\n");
            }
            station.requestStop();
        },
        false);
    const int status = station.run();
    console.finish();
    return status == 0 && console.recordFailed() ? int{GENERAL_FAILURE} : status;
}

}  // namespace tarnlink
