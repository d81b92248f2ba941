// The station's loop: one thread that starts boards, reads what their children say from
// the mailbox, and ends when every board has its result.
#include "cli/station/station_impl.h"

#include "cli/ports/serial_ports.h"
#include "cli/report/transfer_events.h"
#include "transfer/transfer_context.h"

namespace tarnlink {

namespace {

std::string printable(const std::string& text, size_t limit) {
    std::string out = text.substr(0, limit);
    for (char& c : out) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            c = '?';
        }
    }
    return text.size() > limit ? out + "..." : out;
}

}  // namespace

int Station::Impl::run() {
    StationClock::time_point now = StationClock::now();
    for (size_t b = 0; b < boards.size(); ++b) {
        const std::string presence =
            settings.loop || settings.waitSeconds >= 0 ? presenceOf(b) : std::string("-");
        if (presence.empty()) {
            waitFor(b, false, now);
        } else {
            boards[b].presenceAtStart = presence;
            start(b, now);
        }
    }
    nextPortPoll = now + settings.portPoll;
    StationClock::time_point nextTick = now + settings.tick;
    for (;;) {
        now = StationClock::now();
        if (stopRequested.load()) {
            onStop(now);
        }
        watchPorts(now);
        watchChildren(now);
        if (finished()) {
            break;
        }
        mailbox.takeAll(batch, nextDeadline(now, nextTick));
        now = StationClock::now();
        while (!batch.empty()) {
            const StationMessage m = std::move(batch.front());
            batch.pop_front();
            if (m.kind == StationMessage::STOP) {
                onStop(now);
            } else if (m.kind == StationMessage::ERROR_LINE) {
                if (!m.text.empty()) {
                    listener.boardNote(m.board, m.text);
                }
            } else if (m.kind == StationMessage::OUTPUT_LINE) {
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

void Station::Impl::onStop(StationClock::time_point now) {
    if (stopping) {
        return;
    }
    stopping = true;
    bool running = false;
    for (size_t b = 0; b < boards.size(); ++b) {
        BoardSlot& slot = boards[b];
        if (slot.phase == BoardPhase::RUNNING && slot.run) {
            running = true;
            if (!slot.run->reported && !slot.run->cancelAt) {
                slot.run->cancel(now);
            }
        } else if (slot.phase == BoardPhase::WAIT_PORT && !settings.loop) {
            record(b, syntheticReport(b, slot.number + 1, DOWNLOAD_CANCELED, 0,
                                      "canceled while waiting for the port"));
            slot.phase = BoardPhase::DONE;
        } else if (slot.phase != BoardPhase::RUNNING) {
            slot.phase = BoardPhase::DONE;
        }
    }
    if (running) {
        listener.stationNote(settings.loop
                                 ? "Stopping: canceling the boards in progress "
                                   "(Ctrl-C again quits at once)..."
                                 : "Canceling every board (Ctrl-C again quits at once)...");
    }
}

ChildRun* Station::Impl::runById(uint64_t id) {
    for (BoardSlot& slot : boards) {
        if (slot.run && slot.run->id == id) {
            return slot.run.get();
        }
    }
    return nullptr;
}

void Station::Impl::noteGarbage(ChildRun& run, const std::string& line) {
    if (!run.garbageNoted) {
        run.garbageNoted = true;
        listener.boardNote(run.board,
                           "ignored output that is not an event: " + printable(line, 80));
    }
}

void Station::Impl::onOutputLine(ChildRun& run, const std::string& line,
                                 StationClock::time_point now) {
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
    if (event["event"] == "serial") {
        for (const char* key : {"serial", "image_sha256"}) {
            if (event.contains(key) && event[key].is_string()) {
                run.given[key] = event[key];
            }
        }
    }
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
    report["time"] = event.contains("time") ? event["time"] : nlohmann::ordered_json(isoTimeNow());
    run.reported = true;
    run.resultAt = now;
    record(run.board, report);
}

void Station::Impl::onEnded(const StationMessage& ended, StationClock::time_point now) {
    ChildRun* run = runById(ended.run);
    if (run == nullptr) {
        return;
    }
    const size_t board = run->board;
    run->joinReaders();
    // Lines the child wrote to stderr just before it ended come before its end, whether
    // they wait in this batch or are still in the mailbox (its reader has ended: no more).
    std::deque<StationMessage> earlier;
    takeErrorLines(batch, ended.run, earlier);
    mailbox.takeErrorLines(ended.run, earlier);
    for (const StationMessage& m : earlier) {
        listener.boardNote(board, m.text);
    }
    if (!run->reported) {
        const double elapsed = std::chrono::duration<double>(now - run->started).count();
        std::string why =
            "tarnlink-cli for this board ended without a result (" + ended.exit.describe() + ")";
        if (run->killed) {
            why = "tarnlink-cli for this board stopped responding and was killed";
        }
        listener.boardNote(board, why);
        nlohmann::ordered_json report =
            syntheticReport(board, run->number, GENERAL_FAILURE, elapsed, why);
        for (const auto& [key, value] : run->given.items()) {
            report[key] = value;  // a value taken is burned: the record names it
        }
        record(board, report);
    }
    std::unique_ptr<ChildRun> finished;
    {
        std::lock_guard lock(runsMutex);
        finished = std::move(boards[board].run);
    }
    finished.reset();  // the process was reaped; this closes its pipes
    afterEnd(board);
}

}  // namespace tarnlink
