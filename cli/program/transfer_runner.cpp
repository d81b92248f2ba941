#include "cli/program/transfer_runner.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>

#include "cli/line/frame_trace_file.h"
#include "cli/line/slow_line_watch.h"
#include "cli/ports/serial_ports.h"
#include "cli/process/child_process.h"
#include "cli/process/stop_requests.h"
#include "cli/program/console_target.h"
#include "cli/report/file_problem.h"
#include "cli/report/record_file.h"
#include "cli/report/sha256.h"
#include "cli/report/transfer_events.h"
#include "cli/system/output_stream.h"
#include "cli/system/terminal.h"
#include "link/serial_link.h"
#include "platform/utf8_path.h"
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

bool toStandardOutput(const CliOptions& options) {
    return options.command == CliCommand::CRYPT && options.file == STANDARD_OUTPUT_NAME;
}

// An existing OUTPUT file (a dangling symlink too) is kept unless --force says otherwise; a
// device or a named pipe holds nothing to lose.
bool outputMayBeWritten(const CliOptions& options) {
    namespace fs = std::filesystem;
    std::error_code error;
    if (options.force || toStandardOutput(options)) {
        return true;
    }
    const fs::file_status target = fs::status(pathFromUtf8(options.file), error);
    if (fs::exists(target)) {
        return !fs::is_regular_file(target);
    }
    return !fs::exists(fs::symlink_status(pathFromUtf8(options.file), error));
}

// The crypt output's size and SHA-256, from the blocks as the engine writes them: the
// output may be a pipe or a device that cannot be read back. One per process, so that a
// reader the link's close gave up on can still reach it.
class WrittenOutput final : public CryptOutputObserver {
  public:
    static WrittenOutput& instance() {
        static WrittenOutput output;
        return output;
    }

    void begin() {
        std::lock_guard lock(m_mutex);
        m_sha = Sha256();
        m_bytes = 0;
        m_writeError = 0;
    }
    void blockWritten(const uint8_t* block, size_t size) override {
        std::lock_guard lock(m_mutex);
        m_sha.update(block, size);
        m_bytes += size;
    }
    void writeFailed(int error) override {
        std::lock_guard lock(m_mutex);
        m_writeError = error != 0 ? error : EIO;
    }
    FileDigest digest() {
        std::lock_guard lock(m_mutex);
        Sha256 copy = m_sha;
        return FileDigest{m_bytes, copy.finishHex()};
    }
    int writeError() {
        std::lock_guard lock(m_mutex);
        return m_writeError;
    }

  private:
    std::mutex m_mutex;
    Sha256 m_sha;
    uint64_t m_bytes = 0;
    int m_writeError = 0;
};

using OpenOutput = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

// The crypt output that this program opens itself, before the port: standard output, or a
// named pipe that has a reader now. Null for a file the engine opens; `problem` says what
// stands in the way (empty for nothing).
OpenOutput openOutputBeforeStart(const CliOptions& options, std::string& problem) {
    OpenOutput output(nullptr, std::fclose);
    if (!outputMayBeWritten(options)) {
        problem = options.file + " already exists; --force overwrites it";
    } else if (toStandardOutput(options)) {
        output.reset(openStandardOutputForBytes());
        if (!output) {
            problem = std::string("standard output: ") + std::strerror(errno);
        }
    } else {
        PipeOutput pipe = openNamedPipeOutput(options.file);
        output.reset(pipe.stream);
        if (!pipe.problem.empty()) {
            problem = options.file + ": " + pipe.problem;
        }
    }
    return output;
}

// The detail of a crypt whose output failed.
std::string outputFailureText(const CliOptions& options, uint8_t result) {
    const std::string name = toStandardOutput(options) ? "standard output" : options.file;
    if (result == GENERAL_FAILURE) {
        if (const int error = WrittenOutput::instance().writeError(); error != 0) {
            return name + ": writing failed: " + std::strerror(error);
        }
        return {};
    }
    return fileProblemText(TransferKind::CRYPT, result, options.file);
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
            writeText(stderr, line + "\n");
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
        writeText(stderr, "Waiting for " + options.port + "...\n");
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
// or a crypt into the output file (or into the stream opened for it).
void startTransfer(TransferKind kind, const CliOptions& options, const ImageInput* image,
                   OpenOutput openOutput) {
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
            WrittenOutput::instance().begin();
            g_transfer.cryptOutputObserver.store(&WrittenOutput::instance());
            if (openOutput) {
                startCryptReadBackInto(openOutput.release(), options.portPath.c_str());
            } else {
                startCryptReadBack(options.file.c_str(), options.portPath.c_str());
            }
            return;
    }
}

TransferOutcome transfer(const CliOptions& options, Mailbox& mailbox, const ImageInput* image,
                         OpenOutput openOutput) {
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
            writeText(stderr, warning + "\n");
            std::fflush(stderr);
        } else {
            target->note(warning);
        }
    };
    startTransfer(kind, options, image, std::move(openOutput));
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
        outcome.detail = outputFailureText(options, outcome.result);
    } else if (kind == TransferKind::VERIFY) {
        outcome.detail = verifyFindingText(outcome.result, *image);
    }
    if (outcome.result == SERIALPORT_ERROR && g_transfer.portLost.load()) {
        outcome.detail = portLostText(options.port);
    }
    return outcome;
}

// Takes the board's own value and writes it into `image` once its port is there (a board
// that is not there burns no value). Announces it at once, so that a station records the
// value even of a board whose child dies. Empty when the board goes on; otherwise how it
// ends before its port is opened.
std::optional<TransferOutcome> giveBoardItsValue(const CliOptions& options,
                                                 const std::string& devicePath, ImageInput& image,
                                                 TransferReport& report) {
    TransferOutcome stopped;
    if (portPresence(devicePath).empty()) {
        stopped.result = SERIALPORT_ERROR;
        stopped.detail = devicePath + ": no such port; no value was taken for it";
        return stopped;
    }
    stopped.result = GENERAL_FAILURE;
    stopped.detail = writeBoardSerial(options.serial, image, &report.serial);
    if (!stopped.detail.empty()) {
        return stopped;
    }
    report.imageSha256 = image.imageSha256;
    if (options.events || options.stationChild) {
        nlohmann::ordered_json event = newEvent("serial", options.port);
        event["serial"] = report.serial;
        event["image_sha256"] = report.imageSha256;
        writeText(stdout, eventLine(event));
        std::fflush(stdout);
    }
    if (outputMode(options) != OutputMode::QUIET) {
        writeText(stderr, "Serial " + report.serial + " for " + options.port + "\n");
        std::fflush(stderr);
    }
    return std::nullopt;
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
        writeText(stdout, eventLine(resultEvent(report)));
    } else if (options.json) {
        writeText(stdout, eventLine(report));
    }
    std::fflush(stdout);
    if (options.recordPath.empty()) {
        return true;
    }
    std::string error;
    if (appendRecord(options.recordPath, report, &error)) {
        return true;
    }
    writeText(stderr, "tarnlink-cli: cannot append to the record " + options.recordPath + ": " +
                          error + "\n");
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
    OpenOutput openOutput(nullptr, std::fclose);
    if (kind == TransferKind::CRYPT) {
        std::string problem;
        openOutput = openOutputBeforeStart(options, problem);
        if (!problem.empty()) {
            TransferOutcome refused;
            refused.result = IMAGE_FILE_ERROR;
            refused.detail = std::move(problem);
            return finishReport(options, report, refused);
        }
    }
    if (image != nullptr) {
        describeImage(*image, report);
    }

    Mailbox mailbox;
    std::atomic<int> interrupts{0};
    std::atomic<bool> transferOver{false};
    StopWatcher watcher(
        [&](StopRequest request) {
            if (request == StopRequest::INPUT) {
                cancelTransfer();
                mailbox.postCancel(false);
                return;
            }
            if (transferOver.load()) {
                // Nothing is left to cancel; what remains (the report into a pipe nobody
                // reads, a record another process has locked) must not hold the program.
                quitAtOnce(request, "\nInterrupted after the transfer: quitting\n");
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
            writeText(stderr, "tarnlink-cli: cannot create trace file " + options.tracePath + ": " +
                                  std::strerror(errno) + "\n");
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
    std::optional<ImageInput> boardImage;
    if (options.serial.at && image != nullptr) {
        boardImage = *image;
        if (std::optional<TransferOutcome> stopped =
                giveBoardItsValue(options, devicePath, *boardImage, report)) {
            return finishReport(options, report, *stopped);
        }
        image = &*boardImage;
    }
    const TransferOutcome outcome = transfer(options, mailbox, image, std::move(openOutput));
    transferOver.store(true);
    report.retries = g_transfer.repeats.load();
    if (kind == TransferKind::CRYPT && outcome.result != IMAGE_FILE_ERROR) {
        // What the file holds: every block written, also of a crypt that ended early.
        report.digest = WrittenOutput::instance().digest();
    }
    return finishReport(options, report, outcome);
}

}  // namespace tarnlink
