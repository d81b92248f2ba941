#include "cli/program/transfer_runner.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>

#include "cli/ports/serial_ports.h"
#include "cli/process/child_process.h"
#include "cli/process/stop_requests.h"
#include "cli/program/console_target.h"
#include "cli/program/frame_trace_file.h"
#include "cli/program/slow_line_watch.h"
#include "cli/report/file_problem.h"
#include "cli/report/record_file.h"
#include "cli/report/transfer_events.h"
#include "cli/system/terminal.h"
#include "link/serial_link.h"
#include "protocol/exchange_timing.h"
#include "transfer/crypt_worker.h"
#include "transfer/download_worker.h"
#include "transfer/transfer_context.h"

namespace tarnlink {

namespace {

using Clock = std::chrono::steady_clock;

// What reaches the main thread from other threads while it waits: the engine's result,
// and cancel requests from the stop watcher.
class Mailbox {
  public:
    struct Mail {
        std::optional<uint8_t> result;
        int userCancels = 0;   ///< Ctrl-C / SIGTERM
        int inputCancels = 0;  ///< "cancel" or the end of stdin
    };

    // Notified under the lock: once the main thread has its mail it may return and destroy
    // the mailbox, and a notify still on its way would touch a condition variable that is
    // gone.
    void postResult(uint8_t result) {
        std::lock_guard lock(m_mutex);
        m_mail.result = result;
        m_wake.notify_one();
    }
    void postCancel(bool fromUser) {
        std::lock_guard lock(m_mutex);
        ++(fromUser ? m_mail.userCancels : m_mail.inputCancels);
        m_wake.notify_one();
    }
    /// Waits for mail, at most `timeout` when given, and takes all of it.
    Mail wait(std::optional<std::chrono::milliseconds> timeout) {
        std::unique_lock lock(m_mutex);
        auto ready = [this] {
            return m_mail.result || m_mail.userCancels > 0 || m_mail.inputCancels > 0;
        };
        if (timeout) {
            m_wake.wait_for(lock, *timeout, ready);
        } else {
            m_wake.wait(lock, ready);
        }
        return std::exchange(m_mail, Mail{});
    }

  private:
    std::mutex m_mutex;
    std::condition_variable m_wake;
    Mail m_mail;
};

OutputMode outputMode(const CliOptions& options) {
    if (options.quiet || options.stationChild) {
        return OutputMode::QUIET;
    }
    return isInteractiveTerminal(stderr) ? OutputMode::LIVE : OutputMode::PLAIN;
}

// With --quiet and --json (or --events) the JSON is the whole output; a station's child
// says everything through its events.
bool printsResultLines(const CliOptions& options) {
    return !options.stationChild && !(options.quiet && (options.json || options.events));
}

// An existing OUTPUT (a dangling symlink too) is kept unless --force says otherwise.
bool outputMayBeWritten(const CliOptions& options) {
    std::error_code error;
    return options.force ||
           !std::filesystem::exists(std::filesystem::symlink_status(options.file, error));
}

TransferReport reportBase(const CliOptions& options) {
    TransferReport report;
    report.kind = transferKindOf(options);
    report.port = options.port;
    report.file = options.file;
    return report;
}

int finishReport(const CliOptions& options, TransferReport report, const TransferOutcome& outcome) {
    const std::vector<std::string> lines = resultLines(outcome);
    report.result = outcome.result;
    report.blocks = outcome.blocks;
    report.seconds = outcome.seconds;
    report.detail = lines.size() > 1 ? lines[1] : std::string();
    report.line = outcome.line;
    report.time = isoTimeNow();
    report.cpuSeconds = ownCpuSeconds();
    if (printsResultLines(options)) {
        for (const std::string& line : lines) {
            std::fprintf(stderr, "%s\n", line.c_str());
        }
        std::fflush(stderr);
    }
    const int status = exitStatusFor(report.kind, report.result);
    const bool recorded = publishReport(options, transferReportJson(report));
    // A board that was flashed but not recorded is not a finished board on a production line.
    return status == 0 && !recorded ? int{GENERAL_FAILURE} : status;
}

// Waits for the port to appear. Empty when it did; otherwise the result and its detail.
std::optional<TransferOutcome> waitForPort(const CliOptions& options, const std::string& devicePath,
                                           Mailbox& mailbox) {
    if (options.waitSeconds < 0 || !portPresence(devicePath).empty()) {
        return std::nullopt;
    }
    if (outputMode(options) != OutputMode::QUIET) {
        std::fprintf(stderr, "Waiting for %s...\n", options.port.c_str());
        std::fflush(stderr);
    }
    const auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                             std::chrono::duration<double>(options.waitSeconds));
    for (;;) {
        const Mailbox::Mail mail = mailbox.wait(std::chrono::milliseconds(100));
        if (mail.userCancels > 0 || mail.inputCancels > 0) {
            TransferOutcome canceled;
            canceled.result = DOWNLOAD_CANCELED;
            canceled.detail = "canceled while waiting for the port";
            return canceled;
        }
        if (!portPresence(devicePath).empty()) {
            return std::nullopt;
        }
        if (Clock::now() >= deadline) {
            TransferOutcome absent;
            absent.result = SERIALPORT_ERROR;
            char waited[32];
            std::snprintf(waited, sizeof waited, "%g", options.waitSeconds);
            absent.detail = devicePath + ": did not appear within " + waited + " s";
            absent.seconds = options.waitSeconds;
            return absent;
        }
    }
}

// What a verify found: "Block 17 (target address 0x0110) differs; 3 of 40 blocks differ",
// or "All 40 blocks match the image" (the result's message speaks of a download). Empty
// when it failed without a differing block (the target refused a read).
std::string verifyFindingText(uint8_t result, const ImageInput& image) {
    const VerifyTally& tally = g_transfer.verifyTally;
    const uint32_t differing = tally.differing.load();
    const size_t blocks = (image.loaded.flat.bytes.size() + BLOCK_BYTES - 1) / BLOCK_BYTES;
    if (result == SUCCESS) {
        return "All " + std::to_string(blocks) +
               (blocks == 1 ? " block matches" : " blocks match") + " the image";
    }
    if (result != VERIFY_FAILED || differing == 0 || tally.firstDiffering.load() == NO_BLOCK) {
        return {};
    }
    char text[128];
    std::snprintf(text, sizeof text,
                  "Block %u (target address 0x%04X) differs; %u of %zu blocks differ",
                  static_cast<unsigned>(tally.firstDiffering.load()),
                  static_cast<unsigned>(tally.firstDifferingAddress.load()),
                  static_cast<unsigned>(differing), blocks);
    return text;
}

// Starts the engine's transfer of `kind`: a load or a verify of the flat image in memory,
// or a crypt into the output file.
void startTransfer(TransferKind kind, const CliOptions& options, const ImageInput* image) {
    const uint8_t skipResetVector = options.noResetVerify ? 1 : 0;
    switch (kind) {
        case TransferKind::LOAD:
            startDownloadImage(image->loaded.flat.bytes.data(), image->loaded.flat.bytes.size(),
                               options.portPath.c_str(), skipResetVector);
            return;
        case TransferKind::VERIFY:
            startVerify(image->loaded.flat.bytes.data(), image->loaded.flat.bytes.size(),
                        options.portPath.c_str(), skipResetVector);
            return;
        case TransferKind::CRYPT:
            startCryptReadBack(options.file.c_str(), options.portPath.c_str());
            return;
    }
}

TransferOutcome transfer(const CliOptions& options, Mailbox& mailbox, const ImageInput* image) {
    const TransferKind kind = transferKindOf(options);
    ConsoleSettings settings;
    settings.kind = kind;
    settings.mode = outputMode(options);
    settings.verbose = options.verbose;
    settings.text = stderr;
    settings.events = options.events || options.stationChild ? stdout : nullptr;
    settings.everyEvent = options.events;
    settings.port = options.port;
    auto target = std::make_shared<ConsoleTarget>(
        settings, [&mailbox](uint8_t result) { mailbox.postResult(result); });
    if (image != nullptr) {
        target->setImageBytes(image->loaded.flat.bytes.size());
    }
    setNotificationTarget(target);

    resetExchangeTiming();
    SlowLineWatch slowLine(serialPortDevicePath(options.portPath));
    // A station shows its children's stderr under their port; on its own, the line goes
    // above the progress.
    auto warn = [&](const std::string& warning) {
        if (warning.empty()) {
            return;
        }
        if (options.stationChild) {
            std::fprintf(stderr, "%s\n", warning.c_str());
            std::fflush(stderr);
        } else {
            target->note(warning);
        }
    };
    startTransfer(kind, options, image);
    // The start ran on this thread, so the link's failure is the one of this open.
    const PortOpenFailure portFailure = serialLinkLastFailure();
    const int portError = serialLinkLastError();

    const bool live = settings.mode == OutputMode::LIVE;
    std::optional<uint8_t> result;
    while (!result) {
        // A quarter of a second: the live line's rate and time left, and the slow-line watch.
        const Mailbox::Mail mail = mailbox.wait(std::chrono::milliseconds(250));
        warn(slowLine.poll(false));
        if (mail.userCancels > 0 || mail.inputCancels > 0) {
            // Again here: a request that came between the wait for the port and the start
            // found nothing to cancel then.
            cancelTransfer();
            if (mail.userCancels > 0) {
                target->note("Canceling (Ctrl-C again quits at once)...");
            }
        }
        result = mail.result;
        if (!result && live) {
            target->refresh();
        }
    }
    clearNotificationTarget();
    target->finish(*result);
    warn(slowLine.poll(true));

    TransferOutcome outcome;
    outcome.result = *result;
    outcome.seconds = target->elapsed();
    outcome.line = lineFigures(exchangeFigures(), outcome.seconds);
    outcome.blocks = target->blocksDone();
    outcome.devicePath = serialPortDevicePath(options.portPath);
    outcome.portFailure = portFailure;
    outcome.portError = portError;
    outcome.packetIndex = g_transfer.packetIndex.load();
    outcome.address = g_transfer.address.load();
    if (kind == TransferKind::CRYPT) {
        outcome.detail = fileProblemText(kind, outcome.result, options.file);
    } else if (kind == TransferKind::VERIFY) {
        outcome.detail = verifyFindingText(outcome.result, *image);
    }
    if (outcome.result == SERIALPORT_ERROR && g_transfer.portLost.load()) {
        outcome.detail = portLostText(options.port);
    }
    return outcome;
}

}  // namespace

TransferKind transferKindOf(const CliOptions& options) {
    switch (options.command) {
        case CliCommand::LOAD:
            return TransferKind::LOAD;
        case CliCommand::VERIFY:
            return TransferKind::VERIFY;
        default:
            return TransferKind::CRYPT;
    }
}

bool publishReport(const CliOptions& options, const nlohmann::ordered_json& report) {
    if (options.events || options.stationChild) {
        std::fputs(eventLine(resultEvent(report)).c_str(), stdout);
    } else if (options.json) {
        std::fputs(eventLine(report).c_str(), stdout);
    }
    std::fflush(stdout);
    if (options.recordPath.empty()) {
        return true;
    }
    std::string error;
    if (appendRecord(options.recordPath, report, &error)) {
        return true;
    }
    std::fprintf(stderr, "tarnlink-cli: cannot append to the record %s: %s\n",
                 options.recordPath.c_str(), error.c_str());
    std::fflush(stderr);
    return false;
}

int reportWithoutBoard(const CliOptions& options, uint8_t result, const std::string& detail,
                       const ImageInput* image) {
    TransferReport report;
    report.kind = transferKindOf(options);
    report.port = options.ports.empty() ? options.port : options.ports.front();
    report.file = options.file;
    if (image != nullptr) {
        describeImage(*image, report);
    }
    TransferOutcome outcome;
    outcome.result = result;
    outcome.detail = detail;
    return finishReport(options, report, outcome);
}

int runOneBoard(const CliOptions& options, const ImageInput* image) {
    const TransferKind kind = transferKindOf(options);
    TransferReport report = reportBase(options);
    if (kind == TransferKind::CRYPT && !outputMayBeWritten(options)) {
        TransferOutcome refused;
        refused.result = IMAGE_FILE_ERROR;
        refused.detail = options.file + " already exists; --force overwrites it";
        return finishReport(options, report, refused);
    }
    if (image != nullptr) {
        describeImage(*image, report);
    }

    Mailbox mailbox;
    std::atomic<int> interrupts{0};
    StopWatcher watcher(
        [&](StopRequest request) {
            if (request == StopRequest::INPUT) {
                cancelTransfer();
                mailbox.postCancel(false);
                return;
            }
            if (interrupts.fetch_add(1) >= 1) {
                // Straight out, past the console's lock: a worker may hold it while it
                // waits on a full stderr pipe.
                quitAtOnce(request,
                           "\nInterrupted again: quitting without waiting for the transfer\n");
            }
            cancelTransfer();
            mailbox.postCancel(true);
        },
        options.stationChild);

    if (!options.tracePath.empty()) {
        const std::string title = std::string("tarnlink-cli ") + transferKindName(kind) + " " +
                                  options.file + " --port " + options.port;
        if (!startFrameTrace(options.tracePath, title)) {
            std::fprintf(stderr, "tarnlink-cli: cannot create trace file %s: %s\n",
                         options.tracePath.c_str(), std::strerror(errno));
            return EXIT_USAGE;
        }
    }
    struct TraceStop {
        ~TraceStop() { stopFrameTrace(); }
    } traceStop;

    const std::string devicePath = serialPortDevicePath(options.portPath);
    if (std::optional<TransferOutcome> early = waitForPort(options, devicePath, mailbox)) {
        return finishReport(options, report, *early);
    }
    // Looked up only now: with --wait the adapter may just have been plugged in.
    if (const std::optional<SerialPortInfo> info = findSerialPort(devicePath)) {
        report.usbSerial = info->serialNumber;
    }
    const TransferOutcome outcome = transfer(options, mailbox, image);
    report.retries = g_transfer.repeats.load();
    if (kind == TransferKind::CRYPT && outcome.result != IMAGE_FILE_ERROR) {
        report.digest = digestFile(options.file);
    }
    return finishReport(options, report, outcome);
}

}  // namespace tarnlink
