#include "cli/station/station.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>

#include "cli/ports/serial_ports.h"
#include "cli/process/child_process.h"
#include "cli/report/transfer_events.h"
#include "transfer/transfer_context.h"

namespace tarnlink {

namespace {

using Clock = std::chrono::steady_clock;

// Longer than any event; a longer line is garbage and is cut into pieces of this size.
constexpr size_t MAX_LINE = 64 * 1024;

struct Message {
    enum Kind { OUTPUT_LINE, ERROR_LINE, ENDED, STOP } kind = STOP;
    uint64_t run = 0;
    size_t board = 0;
    std::string text;
    ChildExit exit;
};

struct ChildRun {
    uint64_t id = 0;
    size_t board = 0;
    unsigned number = 0;
    std::unique_ptr<ChildProcess> process;
    std::thread outputReader;
    std::thread errorReader;
    Clock::time_point started;
    Clock::time_point lastHeard;
    std::optional<Clock::time_point> cancelAt;
    std::optional<Clock::time_point> resultAt;
    bool killed = false;
    bool garbageNoted = false;
    bool reported = false;
};

enum class Phase { WAIT_PORT, RUNNING, WAIT_GONE, DONE };

struct BoardSlot {
    Phase phase = Phase::WAIT_PORT;
    unsigned number = 0;  // transfers started on this port
    PortTally tally;
    std::optional<uint8_t> firstFailure;
    std::string presenceAtStart;
    std::optional<Clock::time_point> deadline;
    std::unique_ptr<ChildRun> run;
};

std::string printable(const std::string& text, size_t limit) {
    std::string out = text.substr(0, limit);
    for (char& c : out) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            c = '?';
        }
    }
    return text.size() > limit ? out + "..." : out;
}

std::string seconds(std::chrono::milliseconds ms) {
    const long long whole = ms.count() / 1000;
    return std::to_string(whole) + " s";
}

}  // namespace

struct Station::Impl {
    StationSettings settings;
    StationListener& listener;
    std::vector<BoardSlot> boards;

    std::mutex queueMutex;
    std::condition_variable queueWake;
    std::deque<Message> queue;  // guarded by queueMutex
    std::deque<Message> batch;  // taken from the queue, being handled; main thread only

    std::mutex runsMutex;  // guards every BoardSlot::run against killAll
    std::atomic<bool> stopRequested{false};
    bool stopping = false;
    uint64_t nextRunId = 1;

    Impl(StationSettings s, StationListener& l) : settings(std::move(s)), listener(l) {
        boards.resize(settings.boards.size());
    }

    void post(Message message) {
        {
            std::lock_guard lock(queueMutex);
            queue.push_back(std::move(message));
        }
        queueWake.notify_one();
    }

    void readLines(ChildRun* run, bool errors) {
        ChildProcess& process = *run->process;
        const Message::Kind kind = errors ? Message::ERROR_LINE : Message::OUTPUT_LINE;
        std::string pending;
        char chunk[4096];
        for (;;) {
            const size_t got = errors ? process.readErrors(chunk, sizeof chunk)
                                      : process.readOutput(chunk, sizeof chunk);
            if (got == 0) {
                break;
            }
            pending.append(chunk, got);
            size_t start = 0;
            for (size_t end; (end = pending.find('\n', start)) != std::string::npos;
                 start = end + 1) {
                size_t length = end - start;
                if (length > 0 && pending[end - 1] == '\r') {
                    --length;
                }
                post({kind, run->id, run->board, pending.substr(start, length), {}});
            }
            pending.erase(0, start);
            if (pending.size() > MAX_LINE) {
                post({kind, run->id, run->board, pending, {}});
                pending.clear();
            }
        }
        if (!pending.empty()) {
            post({kind, run->id, run->board, pending, {}});
        }
        if (!errors) {
            // The output ends when the child does (or closes it); then wait for its end.
            post({Message::ENDED, run->id, run->board, {}, process.wait()});
        }
    }

    ChildRun* runById(uint64_t id) {
        for (BoardSlot& slot : boards) {
            if (slot.run && slot.run->id == id) {
                return slot.run.get();
            }
        }
        return nullptr;
    }

    nlohmann::ordered_json syntheticReport(size_t board, unsigned number, uint8_t result,
                                           double elapsed, const std::string& detail) {
        TransferReport report;
        if (settings.reportBase) {
            report = settings.reportBase(board, number);
        }
        report.kind = settings.kind;
        report.port = settings.boards[board].port;
        report.result = result;
        report.seconds = elapsed;
        report.detail = detail;
        report.time = isoTimeNow();
        return transferReportJson(report);
    }

    void record(size_t board, const nlohmann::ordered_json& report) {
        BoardSlot& slot = boards[board];
        const uint8_t result = jsonResult(report).value_or(GENERAL_FAILURE);
        if (exitStatusFor(settings.kind, result) == 0) {
            ++slot.tally.passed;
        } else {
            ++slot.tally.failed;
            if (!slot.firstFailure) {
                slot.firstFailure = result;
            }
        }
        listener.boardResult(board, report, slot.tally);
    }

    void waitFor(size_t board, bool nextBoard, Clock::time_point now) {
        BoardSlot& slot = boards[board];
        slot.phase = Phase::WAIT_PORT;
        slot.deadline.reset();
        if (!settings.loop && settings.waitSeconds >= 0) {
            slot.deadline = now + std::chrono::duration_cast<Clock::duration>(
                                      std::chrono::duration<double>(settings.waitSeconds));
        }
        listener.boardWaiting(board, nextBoard);
    }

    void start(size_t board, Clock::time_point now) {
        BoardSlot& slot = boards[board];
        const unsigned number = ++slot.number;
        auto run = std::make_unique<ChildRun>();
        run->id = nextRunId++;
        run->board = board;
        run->number = number;
        run->started = run->lastHeard = now;
        std::string error;
        run->process = ChildProcess::start(settings.childCommand(board, number), &error);
        if (!run->process) {
            record(board, syntheticReport(board, number, GENERAL_FAILURE, 0,
                                          "cannot start tarnlink-cli for this board: " + error));
            afterEnd(board);
            return;
        }
        ChildRun* raw = run.get();
        run->outputReader = std::thread([this, raw] { readLines(raw, false); });
        run->errorReader = std::thread([this, raw] { readLines(raw, true); });
        {
            std::lock_guard lock(runsMutex);
            slot.run = std::move(run);
        }
        slot.phase = Phase::RUNNING;
        listener.boardStarted(board, number);
    }

    // A board's transfer is over and its process gone: wait for the next board, or stop.
    void afterEnd(size_t board) {
        BoardSlot& slot = boards[board];
        if (settings.loop && !stopping) {
            slot.phase = Phase::WAIT_GONE;
            listener.boardWaiting(board, true);
        } else {
            slot.phase = Phase::DONE;
        }
    }

    void noteGarbage(ChildRun& run, const std::string& line) {
        if (!run.garbageNoted) {
            run.garbageNoted = true;
            listener.boardNote(run.board,
                               "ignored output that is not an event: " + printable(line, 80));
        }
    }

    void onOutputLine(ChildRun& run, const std::string& line, Clock::time_point now) {
        run.lastHeard = now;
        if (line.empty()) {
            return;
        }
        nlohmann::ordered_json event = nlohmann::ordered_json::parse(line, nullptr, false);
        if (event.is_discarded() || !event.is_object() || !event.contains("event") ||
            !event["event"].is_string()) {
            noteGarbage(run, line);
            return;
        }
        // The station's name for the board wins over whatever the child says.
        event["port"] = settings.boards[run.board].port;
        if (event["event"] != "result") {
            listener.boardEvent(run.board, event);
            return;
        }
        if (run.reported || !jsonResult(event)) {
            noteGarbage(run, line);  // a second result, or one without a valid number
            return;
        }
        // The report's own order: "port" first, "time" last, as --json prints it.
        nlohmann::ordered_json report;
        report["port"] = event["port"];
        for (const auto& [key, value] : event.items()) {
            if (key != "event" && key != "port" && key != "time") {
                report[key] = value;
            }
        }
        report["time"] =
            event.contains("time") ? event["time"] : nlohmann::ordered_json(isoTimeNow());
        run.reported = true;
        run.resultAt = now;
        record(run.board, report);
    }

    void onEnded(const Message& ended, Clock::time_point now) {
        ChildRun* run = runById(ended.run);
        if (run == nullptr) {
            return;
        }
        const size_t board = run->board;
        run->outputReader.join();
        run->errorReader.join();
        // Lines the child wrote to stderr just before it ended come before its end, whether
        // they wait in this batch or are still in the queue (its reader has ended: no more).
        std::deque<Message> earlier;
        auto takeErrorLines = [&](std::deque<Message>& from) {
            for (auto it = from.begin(); it != from.end();) {
                if (it->run == ended.run && it->kind == Message::ERROR_LINE) {
                    earlier.push_back(std::move(*it));
                    it = from.erase(it);
                } else {
                    ++it;
                }
            }
        };
        takeErrorLines(batch);
        {
            std::lock_guard lock(queueMutex);
            takeErrorLines(queue);
        }
        for (const Message& m : earlier) {
            listener.boardNote(board, m.text);
        }
        if (!run->reported) {
            const double elapsed = std::chrono::duration<double>(now - run->started).count();
            std::string why = "tarnlink-cli for this board ended without a result (" +
                              ended.exit.describe() + ")";
            if (run->killed) {
                why = "tarnlink-cli for this board stopped responding and was killed";
            }
            listener.boardNote(board, why);
            record(board, syntheticReport(board, run->number, GENERAL_FAILURE, elapsed, why));
        }
        std::unique_ptr<ChildRun> finished;
        {
            std::lock_guard lock(runsMutex);
            finished = std::move(boards[board].run);
        }
        finished.reset();  // the process was reaped; this closes its pipes
        afterEnd(board);
    }

    void onStop(Clock::time_point now) {
        if (stopping) {
            return;
        }
        stopping = true;
        bool running = false;
        for (size_t b = 0; b < boards.size(); ++b) {
            BoardSlot& slot = boards[b];
            if (slot.phase == Phase::RUNNING && slot.run) {
                running = true;
                if (!slot.run->reported && !slot.run->cancelAt) {
                    slot.run->process->writeInput("cancel\n");
                    slot.run->cancelAt = now;
                }
            } else if (slot.phase == Phase::WAIT_PORT && !settings.loop) {
                record(b, syntheticReport(b, slot.number + 1, DOWNLOAD_CANCELED, 0,
                                          "canceled while waiting for the port"));
                slot.phase = Phase::DONE;
            } else if (slot.phase != Phase::RUNNING) {
                slot.phase = Phase::DONE;
            }
        }
        if (running) {
            listener.stationNote(settings.loop
                                     ? "Stopping: canceling the boards in progress "
                                       "(Ctrl-C again quits at once)..."
                                     : "Canceling every board (Ctrl-C again quits at once)...");
        }
    }

    void watchPorts(Clock::time_point now) {
        if (stopping) {
            return;
        }
        for (size_t b = 0; b < boards.size(); ++b) {
            BoardSlot& slot = boards[b];
            if (slot.phase == Phase::WAIT_GONE) {
                const std::string presence = portPresence(settings.boards[b].devicePath);
                if (presence == slot.presenceAtStart) {
                    continue;
                }
                slot.phase = Phase::WAIT_PORT;  // gone, or already another board
                slot.deadline.reset();
            }
            if (slot.phase != Phase::WAIT_PORT) {
                continue;
            }
            const std::string presence = portPresence(settings.boards[b].devicePath);
            if (!presence.empty()) {
                slot.presenceAtStart = presence;
                start(b, now);
            } else if (slot.deadline && now >= *slot.deadline) {
                char waited[32];
                std::snprintf(waited, sizeof waited, "%g", settings.waitSeconds);
                record(b,
                       syntheticReport(b, slot.number + 1, SERIALPORT_ERROR, settings.waitSeconds,
                                       settings.boards[b].devicePath + ": did not appear within " +
                                           waited + " s"));
                slot.phase = Phase::DONE;
            }
        }
    }

    void watchChildren(Clock::time_point now) {
        for (BoardSlot& slot : boards) {
            ChildRun* run = slot.run.get();
            if (slot.phase != Phase::RUNNING || run == nullptr || run->killed) {
                continue;
            }
            if (!run->reported && !run->cancelAt && now - run->lastHeard >= settings.silenceLimit) {
                listener.boardNote(run->board, "no word from its tarnlink-cli for " +
                                                   seconds(settings.silenceLimit) +
                                                   "; asking it to cancel");
                run->process->writeInput("cancel\n");
                run->cancelAt = now;
            }
            const std::optional<Clock::time_point> since =
                run->resultAt ? run->resultAt : run->cancelAt;
            if (since && now - *since >= settings.endGrace) {
                run->killed = true;
                run->process->kill();
            }
        }
    }

    bool finished() const {
        for (const BoardSlot& slot : boards) {
            if (slot.phase == Phase::RUNNING || (!stopping && slot.phase != Phase::DONE)) {
                return false;
            }
        }
        return true;
    }

    std::optional<Clock::time_point> nextDeadline(Clock::time_point now,
                                                  Clock::time_point nextTick) const {
        std::optional<Clock::time_point> next;
        auto consider = [&next](Clock::time_point t) {
            if (!next || t < *next) {
                next = t;
            }
        };
        if (settings.tick.count() > 0) {
            consider(nextTick);
        }
        for (const BoardSlot& slot : boards) {
            if (!stopping && (slot.phase == Phase::WAIT_PORT || slot.phase == Phase::WAIT_GONE)) {
                consider(now + settings.portPoll);
            }
            const ChildRun* run = slot.run.get();
            if (run == nullptr || run->killed) {
                continue;
            }
            if (!run->reported && !run->cancelAt) {
                consider(run->lastHeard + settings.silenceLimit);
            }
            if (run->resultAt) {
                consider(*run->resultAt + settings.endGrace);
            } else if (run->cancelAt) {
                consider(*run->cancelAt + settings.endGrace);
            }
        }
        return next;
    }

    int exitStatus() const {
        for (const BoardSlot& slot : boards) {
            if (slot.firstFailure) {
                return exitStatusFor(settings.kind, *slot.firstFailure);
            }
        }
        return 0;
    }

    int run() {
        Clock::time_point now = Clock::now();
        for (size_t b = 0; b < boards.size(); ++b) {
            const std::string presence = settings.loop || settings.waitSeconds >= 0
                                             ? portPresence(settings.boards[b].devicePath)
                                             : std::string("-");
            if (presence.empty()) {
                waitFor(b, false, now);
            } else {
                boards[b].presenceAtStart = presence;
                start(b, now);
            }
        }
        Clock::time_point nextTick = now + settings.tick;
        for (;;) {
            now = Clock::now();
            if (stopRequested.load()) {
                onStop(now);
            }
            watchPorts(now);
            watchChildren(now);
            if (finished()) {
                break;
            }
            {
                std::unique_lock lock(queueMutex);
                const auto deadline = nextDeadline(now, nextTick);
                auto ready = [this] { return !queue.empty(); };
                if (deadline) {
                    queueWake.wait_until(lock, *deadline, ready);
                } else {
                    queueWake.wait(lock, ready);
                }
                batch.swap(queue);
            }
            now = Clock::now();
            while (!batch.empty()) {
                const Message m = std::move(batch.front());
                batch.pop_front();
                if (m.kind == Message::STOP) {
                    onStop(now);
                } else if (m.kind == Message::ERROR_LINE) {
                    if (!m.text.empty()) {
                        listener.boardNote(m.board, m.text);
                    }
                } else if (m.kind == Message::OUTPUT_LINE) {
                    if (ChildRun* run = runById(m.run)) {
                        onOutputLine(*run, m.text, now);
                    }
                } else {
                    onEnded(m, now);
                }
            }
            if (settings.tick.count() > 0 && now >= nextTick) {
                listener.tick();
                nextTick = now + settings.tick;
            }
        }
        return exitStatus();
    }

    void killAll() {
        std::lock_guard lock(runsMutex);
        for (BoardSlot& slot : boards) {
            if (slot.run && slot.run->process) {
                slot.run->process->kill();
            }
        }
    }

    ~Impl() {
        killAll();
        for (BoardSlot& slot : boards) {
            if (slot.run) {
                if (slot.run->outputReader.joinable()) {
                    slot.run->outputReader.join();
                }
                if (slot.run->errorReader.joinable()) {
                    slot.run->errorReader.join();
                }
            }
        }
    }
};

Station::Station(StationSettings settings, StationListener& listener)
    : m_impl(std::make_unique<Impl>(std::move(settings), listener)) {}

Station::~Station() = default;

int Station::run() {
    return m_impl->run();
}

void Station::requestStop() {
    m_impl->stopRequested.store(true);
    m_impl->post({Message::STOP, 0, 0, {}, {}});
}

void Station::killAll() {
    m_impl->killAll();
}

}  // namespace tarnlink
